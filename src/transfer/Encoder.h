#pragma once

#include "transfer/FormatProfile.h"
#include "transfer/SourceTags.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

// An encoder linked into the program, fed the decoder's interleaved float
// samples at the rate and channel count it asked for.
class IPcmEncoder
{
public:
    virtual ~IPcmEncoder() = default;
    // 0 or the error; the message says what failed.
    virtual int Write(std::span<const float> samples) = 0;
    // Ends the stream and writes the tags; 0 or the error.
    virtual int Finish() = 0;
    virtual const std::string& Message() const = 0;
};

struct CPcmFormat
{
    int m_nSampleRate = 0;
    int m_nChannels = 0;
};

// Opus in Ogg, which plays at 48 kHz: libopusenc resamples samples of any
// other rate. Vorbis comments, the picture, RFC 7845's gain.
// Nothing and the message when it cannot start.
std::unique_ptr<IPcmEncoder> MakeOpusEncoder(const CFormatProfile& profile, const CSourceTags& tags,
                                             const CPcmFormat& format, const std::string& outputPath,
                                             std::string& message, int& nError);
// MP3 by LAME with its LAME tag, then an ID3v2.4 tag.
std::unique_ptr<IPcmEncoder> MakeMp3Encoder(const CFormatProfile& profile, const CSourceTags& tags,
                                            const CPcmFormat& format, const std::string& outputPath,
                                            std::string& message, int& nError);

// Writes the source's tags, cover and gain into a finished file: ID3v2.4 for
// .mp3, MP4 items for .m4a. 0 or EIO with the message.
int WriteMp3Tags(const std::string& path, const CSourceTags& tags, std::string& message);
int WriteMp4Tags(const std::string& path, const CSourceTags& tags, std::string& message);

// Checks a written file's stream against the number of sample frames decoded
// from the source (at the file's rate), within one codec frame: 0, or EIO and
// what is wrong.
int CheckOggOpus(const std::string& path, std::uint64_t nFrames, std::string& message);
int CheckMp3(const std::string& path, std::uint64_t nFrames, std::string& message);
int CheckM4a(const std::string& path, std::uint64_t nFrames, std::string& message);
