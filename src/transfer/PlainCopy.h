#pragma once

#include "transfer/Checksum.h"
#include "transfer/FileWriter.h"

#include "platform/FileSystem.h"

#include <cstddef>
#include <memory>

// The first writer: the player's file is the computer's, byte for byte, under
// its player name. A source that changes while it is read fails its copy.
class CPlainCopy final : public IFileWriter
{
public:
    std::u16string PlayerFileName(const CFolderNode&, const CFileEntry& source) const override
    {
        return PlayerName(source.m_name);
    }
    std::uint64_t ExpectedBytes(const CFolderNode&, const CFileEntry& source) const override { return source.m_size; }
    std::string WriterId() const override { return PLAIN_COPY_ID; }
    // The writer's name in manifests.
    static constexpr char PLAIN_COPY_ID[] = "copy";
    int Open(const CFileToWrite& file) override;
    bool Write(const CFileToWrite& file, CFile& output, CJobContext& context, std::uint64_t& written) override;

private:
    // What the copy saw of its source: the stamp when it was opened, when the
    // copy began (nanoseconds since 1970), and the bytes read.
    struct CCopiedSource
    {
        CFileStamp m_before;
        std::int64_t m_nStart = 0;
        std::uint64_t m_nBytes = 0;
        CChecksum m_checksum;
    };
    bool CopyBytes(const CFileToWrite& file, CFile& output, CJobContext& context);
    int SourceHeld(const CFileToWrite& file);

    CFile m_input;
    CCopiedSource m_copied;
    // One read and one write move at most this many bytes.
    static constexpr std::size_t COPY_BUFFER_SIZE = 256 * 1024;
    std::unique_ptr<char[]> m_buffer = std::make_unique<char[]>(COPY_BUFFER_SIZE);
};
