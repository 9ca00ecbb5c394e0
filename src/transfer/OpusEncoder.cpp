#include "transfer/Encoder.h"

#include <opus/opusenc.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

namespace {

// As ffmpeg's libopus and opusenc: the best the encoder does.
constexpr int OPUS_COMPLEXITY = 10;
// ReplayGain's reference is 89 dB, about -18 LUFS; RFC 7845's is -23 LUFS.
constexpr double R128_OFFSET_DB = -5.0;

int Q78(double dB)
{
    return static_cast<int>(std::lround(std::clamp(dB * 256.0, -32768.0, 32767.0)));
}

// RFC 7845: the header gain takes the album's gain, else the track's; the
// R128 tags say what to add to it for each, in Q7.8 at -23 LUFS.
struct COpusGain
{
    int m_nHeader = 0;
    std::optional<int> m_track;
    std::optional<int> m_album;
};

COpusGain OpusGain(const CSourceTags& tags)
{
    COpusGain gain;
    const auto base = tags.m_albumGain ? tags.m_albumGain : tags.m_trackGain;
    if (base) {
        gain.m_nHeader = Q78(*base + R128_OFFSET_DB);
    }
    if (tags.m_trackGain) {
        gain.m_track = Q78(*tags.m_trackGain + R128_OFFSET_DB) - gain.m_nHeader;
    }
    if (tags.m_albumGain) {
        gain.m_album = Q78(*tags.m_albumGain + R128_OFFSET_DB) - gain.m_nHeader;
    }
    return gain;
}

class COpusEncoder final : public IPcmEncoder
{
public:
    COpusEncoder(OggOpusEnc* encoder, int nChannels) : m_pEncoder(encoder), m_nChannels(nChannels) {}
    COpusEncoder(const COpusEncoder&) = delete;
    COpusEncoder& operator=(const COpusEncoder&) = delete;
    ~COpusEncoder() override
    {
        if (m_pEncoder != nullptr) {
            ope_encoder_destroy(m_pEncoder);
        }
    }

    int Write(std::span<const float> samples) override
    {
        const int result =
            ope_encoder_write_float(m_pEncoder, samples.data(), static_cast<int>(samples.size() / m_nChannels));
        return Fail(result, "Cannot encode Opus");
    }

    int Finish() override
    {
        const int result = ope_encoder_drain(m_pEncoder);
        // Destroying closes the file, which flushes what stdio holds.
        ope_encoder_destroy(m_pEncoder);
        m_pEncoder = nullptr;
        return Fail(result, "Cannot write Opus");
    }

    const std::string& Message() const override { return m_message; }

private:
    int Fail(int result, const char* what)
    {
        if (result == OPE_OK) {
            return 0;
        }
        m_message = std::string(what) + ": " + ope_strerror(result);
        return EIO;
    }

    OggOpusEnc* m_pEncoder;
    int m_nChannels;
    std::string m_message;
};

// Every text tag, each value as a field of its own; ReplayGain is replaced
// by the R128 gain, and the source's encoder no longer applies.
int AddComments(OggOpusComments* comments, const CSourceTags& tags, const COpusGain& gain)
{
    for (const auto& [key, values] : tags.m_tags) {
        if (IsReplayGainKey(key) || key == "ENCODER" || key.starts_with("R128_") || key == "METADATA_BLOCK_PICTURE" ||
            key.find('=') != std::string::npos) {
            continue;
        }
        for (const auto& value : values) {
            if (const int result = ope_comments_add(comments, key.c_str(), value.c_str()); result != OPE_OK) {
                return result;
            }
        }
    }
    for (const auto& [key, value] : {std::pair{"R128_TRACK_GAIN", gain.m_track}, {"R128_ALBUM_GAIN", gain.m_album}}) {
        if (value) {
            if (const int result = ope_comments_add(comments, key, std::to_string(*value).c_str()); result != OPE_OK) {
                return result;
            }
        }
    }
    if (tags.m_cover.empty()) {
        return OPE_OK;
    }
    return ope_comments_add_picture_from_memory(comments, tags.m_cover.data(), tags.m_cover.size(), -1, nullptr);
}

struct CCommentsDeleter
{
    void operator()(OggOpusComments* comments) const { ope_comments_destroy(comments); }
};

} // namespace

std::unique_ptr<IPcmEncoder> MakeOpusEncoder(const CFormatProfile& profile, const CSourceTags& tags,
                                             const CPcmFormat& format, const std::string& outputPath,
                                             std::string& message, int& nError)
{
    const std::unique_ptr<OggOpusComments, CCommentsDeleter> comments(ope_comments_create());
    const COpusGain gain = OpusGain(tags);
    int result = comments ? AddComments(comments.get(), tags, gain) : OPE_ALLOC_FAIL;
    if (result == OPE_INVALID_PICTURE) {
        // A cover the format cannot carry is left out rather than the album.
        result = OPE_OK;
    }
    OggOpusEnc* encoder = nullptr;
    if (result == OPE_OK) {
        errno = 0;
        encoder = ope_encoder_create_file(outputPath.c_str(), comments.get(), format.m_nSampleRate, format.m_nChannels,
                                          0, &result);
    }
    if (encoder == nullptr) {
        nError = result == OPE_CANNOT_OPEN && errno != 0 ? errno : EIO;
        message = std::string("Cannot start the Opus encoder: ") + ope_strerror(result);
        return nullptr;
    }
    auto wrapper = std::make_unique<COpusEncoder>(encoder, format.m_nChannels);
    if (ope_encoder_ctl(encoder, OPUS_SET_BITRATE(profile.m_nKbps * 1000)) != OPE_OK ||
        ope_encoder_ctl(encoder, OPUS_SET_COMPLEXITY(OPUS_COMPLEXITY)) != OPE_OK ||
        ope_encoder_ctl(encoder, OPE_SET_HEADER_GAIN(gain.m_nHeader)) != OPE_OK) {
        nError = EINVAL;
        message = "The Opus encoder refuses its settings";
        return nullptr;
    }
    return wrapper;
}
