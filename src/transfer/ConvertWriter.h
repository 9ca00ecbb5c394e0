#pragma once

#include "transfer/ConversionPool.h"
#include "transfer/Converter.h"
#include "transfer/FileWriter.h"
#include "transfer/PlainCopy.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// The writer of a profile that converts: a lossless file (a .m4a where its
// stream is ALAC) becomes a file of the profile's format, under its player
// name with the format's extension; every other file is copied as it is.
// The conversions run ahead of the writes on every core (CConversionPool)
// from the start of the copy pass to its end; a write waits for its file's
// conversion, then copies it into the staging folder.
class CConvertWriter final : public IFileWriter
{
public:
    explicit CConvertWriter(const CFormatProfile& profile, ConvertFunction convert = ConvertFile);
    ~CConvertWriter() override;

    std::u16string PlayerFileName(const CFolderNode& album, const CFileEntry& source) const override;
    // For a file to convert, an upper bound of its converted size, from its
    // duration, its tags and its cover; read once for each path, size and
    // time. Safe to call on several threads at once.
    std::uint64_t ExpectedBytes(const CFolderNode& album, const CFileEntry& source) const override;
    std::string WriterId() const override { return std::string(m_profile.m_id); }
    int Open(const CFileToWrite& file) override;
    bool Write(const CFileToWrite& file, CFile& output, CJobContext& context, std::uint64_t& written) override;
    void BeginPass(const CFolderNode& root) override;
    void EndPass() override;

private:
    bool WriteConverted(const CFileToWrite& file, CFile& output, CJobContext& context, std::uint64_t& written);
    bool CopyConverted(const CFileToWrite& file, const std::string& converted, CFile& output, CJobContext& context,
                       std::uint64_t& written);
    std::uint64_t EstimateBytes(const CFolderNode& album, const CFileEntry& source, const std::string& path) const;
    // Whether the source at path converts: by its name, or for a .m4a by its
    // stream, read once for each path, size and time.
    bool Converts(const std::string& path, const CFileEntry& source) const;

    const CFormatProfile& m_profile;
    ConvertFunction m_convert;
    CPlainCopy m_plainCopy;
    std::unique_ptr<CConversionPool> m_pPool;
    // Whether the opened file is one to convert.
    bool m_bConverting = false;

    // What was read of a source file, as of its size and time. The window's
    // thread and the job's both ask.
    struct CSourceFacts
    {
        std::uint64_t m_nSize = 0;
        std::int64_t m_nModified = 0;
        std::optional<bool> m_bConverts;
        std::optional<std::uint64_t> m_nBytes;
    };
    // The facts of the source at path, none read where it changed since.
    // Called with m_factsMutex held.
    CSourceFacts& FactsLocked(const std::string& path, const CFileEntry& source) const;

    mutable std::mutex m_factsMutex;
    mutable std::map<std::string, CSourceFacts> m_facts;
};
