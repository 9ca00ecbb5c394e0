#include "transfer/Encoder.h"

#include <lame/lame.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct CLameDeleter
{
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

struct CFileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// LAME writes a placeholder first frame, and at the end the LAME tag (the
// stream's length, encoder delay and padding for gapless playback) that goes
// in its place; the file is the computer's, so it is written by seeking back.
class CMp3Encoder final : public IPcmEncoder
{
public:
    CMp3Encoder(lame_global_flags* flags, std::FILE* file, int nChannels, const CSourceTags& tags, std::string path)
        : m_pFlags(flags), m_pFile(file), m_nChannels(nChannels), m_tags(tags), m_path(std::move(path))
    {
    }

    int Write(std::span<const float> samples) override
    {
        const int nFrames = static_cast<int>(samples.size()) / m_nChannels;
        // LAME's worst case: 1.25 times the samples plus 7200 bytes.
        m_output.resize(static_cast<std::size_t>(nFrames) * 5 / 4 + 7200);
        const auto size = static_cast<int>(m_output.size());
        const int nBytes = m_nChannels == 2
                               ? lame_encode_buffer_interleaved_ieee_float(m_pFlags.get(), samples.data(), nFrames,
                                                                           m_output.data(), size)
                               : lame_encode_buffer_ieee_float(m_pFlags.get(), samples.data(), samples.data(), nFrames,
                                                               m_output.data(), size);
        return Put(nBytes);
    }

    int Finish() override
    {
        m_output.resize(7200);
        if (const int nError =
                Put(lame_encode_flush(m_pFlags.get(), m_output.data(), static_cast<int>(m_output.size())))) {
            return nError;
        }
        m_output.resize(lame_get_lametag_frame(m_pFlags.get(), nullptr, 0));
        const std::size_t nTag = lame_get_lametag_frame(m_pFlags.get(), m_output.data(), m_output.size());
        if (std::fseek(m_pFile.get(), 0, SEEK_SET) != 0 ||
            std::fwrite(m_output.data(), 1, nTag, m_pFile.get()) != nTag) {
            return Failed(errno);
        }
        const int result = std::fclose(m_pFile.release());
        if (result != 0) {
            return Failed(errno);
        }
        return WriteMp3Tags(m_path, m_tags, m_message);
    }

    const std::string& Message() const override { return m_message; }

private:
    int Put(int nBytes)
    {
        if (nBytes < 0) {
            m_message = "LAME cannot encode (" + std::to_string(nBytes) + ")";
            return EIO;
        }
        const auto size = static_cast<std::size_t>(nBytes);
        if (std::fwrite(m_output.data(), 1, size, m_pFile.get()) != size) {
            return Failed(errno);
        }
        return 0;
    }

    int Failed(int nError)
    {
        m_message = "Cannot write " + m_path + ": " + std::strerror(nError);
        return nError != 0 ? nError : EIO;
    }

    std::unique_ptr<lame_global_flags, CLameDeleter> m_pFlags;
    std::unique_ptr<std::FILE, CFileCloser> m_pFile;
    int m_nChannels;
    const CSourceTags& m_tags;
    std::string m_path;
    std::vector<unsigned char> m_output;
    std::string m_message;
};

} // namespace

std::unique_ptr<IPcmEncoder> MakeMp3Encoder(const CFormatProfile& profile, const CSourceTags& tags,
                                            const CPcmFormat& format, const std::string& outputPath,
                                            std::string& message, int& nError)
{
    std::unique_ptr<lame_global_flags, CLameDeleter> flags(lame_init());
    bool bSet = flags != nullptr;
    if (bSet) {
        lame_set_num_channels(flags.get(), format.m_nChannels);
        lame_set_in_samplerate(flags.get(), format.m_nSampleRate);
        lame_set_out_samplerate(flags.get(), format.m_nSampleRate);
        lame_set_write_id3tag_automatic(flags.get(), 0);
        lame_set_bWriteVbrTag(flags.get(), 1);
        if (profile.m_nLameQuality >= 0) {
            lame_set_VBR(flags.get(), vbr_default);
            lame_set_VBR_quality(flags.get(), static_cast<float>(profile.m_nLameQuality));
        } else {
            lame_set_VBR(flags.get(), vbr_off);
            lame_set_brate(flags.get(), profile.m_nKbps);
        }
        bSet = lame_init_params(flags.get()) >= 0;
    }
    if (!bSet) {
        nError = EINVAL;
        message = "LAME refuses its settings";
        return nullptr;
    }
    std::FILE* file = std::fopen(outputPath.c_str(), "wb");
    if (file == nullptr) {
        nError = errno;
        message = "Cannot create " + outputPath + ": " + std::strerror(nError);
        return nullptr;
    }
    return std::make_unique<CMp3Encoder>(flags.release(), file, format.m_nChannels, tags, outputPath);
}
