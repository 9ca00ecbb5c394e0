#include "transfer/Converter.h"

#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "transfer/Encoder.h"
#include "transfer/FlacDecoder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

// Decoding runs in ffmpeg, a program of its own: the program links no GPL
// library, and Debian builds FFmpeg's libraries with GPL parts.
constexpr const char* FFMPEG = "/usr/bin/ffmpeg";
// How long a read waits before the loop looks at cancel again.
constexpr int POLL_MS = 50;
// About 170 ms of 48 kHz stereo: a few milliseconds of encoding between two
// looks at cancel.
constexpr std::size_t READ_BYTES = 64 * 1024;
// The rates MP3 and AAC take as they are; others are resampled to the
// nearest of the family.
constexpr std::array<int, 9> MPEG_RATES = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
// The rate Opus plays at, whatever it was fed.
constexpr int OPUS_RATE = 48000;

std::u16string LowerExtension(const std::u16string& name)
{
    const auto dot = name.rfind(u'.');
    std::u16string extension = dot == std::u16string::npos ? u"" : name.substr(dot);
    for (auto& c : extension) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return extension;
}

bool IsMpegRate(int nSampleRate)
{
    return std::find(MPEG_RATES.begin(), MPEG_RATES.end(), nSampleRate) != MPEG_RATES.end();
}

// FLAC, the common source, is decoded in the process by libFLAC, without a
// pipe or ffmpeg's start: when the file holds a FLAC stream (an Ogg FLAC or
// an MP3 may bear FLAC's name) with one or two channels and a rate the
// encoder takes as it is (Opus's encoder resamples any). Other sources, and
// FLAC to AAC, go through ffmpeg.
bool DecodesInProcess(ECodec codec, const CSourceTags& tags)
{
    if (codec == ECodec::Aac || !tags.m_bFlacStream || tags.m_nSampleRate <= 0 || tags.m_nChannels < 1 ||
        tags.m_nChannels > 2) {
        return false;
    }
    return codec == ECodec::Opus || IsMpegRate(tags.m_nSampleRate);
}

// The samples the encoder is fed.
CPcmFormat PcmFormat(ECodec codec, const CSourceTags& tags, bool bInProcess)
{
    CPcmFormat format;
    // More than two channels are mixed to stereo by ffmpeg's downmix: the
    // players this writes for have two ears to serve.
    format.m_nChannels = tags.m_nChannels == 1 ? 1 : 2;
    if (bInProcess) {
        format.m_nSampleRate = tags.m_nSampleRate;
    } else if (codec == ECodec::Opus) {
        format.m_nSampleRate = OPUS_RATE;
    } else if (IsMpegRate(tags.m_nSampleRate)) {
        format.m_nSampleRate = tags.m_nSampleRate;
    } else {
        format.m_nSampleRate = tags.m_nSampleRate % 11025 == 0 ? 44100 : 48000;
    }
    return format;
}

// A path as ffmpeg must be given it: whatever its first characters ("-",
// "pipe:", "concat:"), a file of that name, never an option or a protocol.
std::string FileUrl(const std::string& path)
{
    return "file:" + path;
}

// ffmpeg reading the source's first audio stream, quietly; the outputs
// follow.
std::vector<std::string> ReadSource(const std::string& sourcePath)
{
    return {FFMPEG, "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", FileUrl(sourcePath),
            "-map", "0:a:0",    "-vn",          "-sn",       "-dn"};
}

// The output of raw float samples on the pipe, at a rate and channel count.
void AddPcmOutput(std::vector<std::string>& arguments, int channels, int sampleRate)
{
    arguments.insert(arguments.end(), {"-ac", std::to_string(channels), "-ar", std::to_string(sampleRate), "-c:a",
                                       "pcm_f32le", "-f", "f32le", "pipe:1"});
}

std::vector<std::string> DecoderArguments(const std::string& sourcePath, const CPcmFormat& format)
{
    std::vector<std::string> arguments = ReadSource(sourcePath);
    AddPcmOutput(arguments, format.m_nChannels, format.m_nSampleRate);
    return arguments;
}

// AAC is ffmpeg's own encoder (no encoder Debian ships may be linked here):
// the first output is the file, without the source's metadata, which TagLib
// writes after; the second a mono tap at the same rate, whose samples the
// loop counts as the source's length.
std::vector<std::string> AacArguments(const std::string& sourcePath, const CFormatProfile& profile,
                                      const CPcmFormat& format, const std::string& outputPath)
{
    std::vector<std::string> arguments = ReadSource(sourcePath);
    arguments.insert(arguments.end(),
                     {"-map_metadata", "-1", "-ac", std::to_string(format.m_nChannels), "-ar",
                      std::to_string(format.m_nSampleRate), "-c:a", "aac", "-b:a",
                      std::to_string(profile.m_nKbps) + "k", "-f", "ipod", FileUrl(outputPath), "-map", "0:a:0"});
    AddPcmOutput(arguments, 1, format.m_nSampleRate);
    return arguments;
}

struct CRun
{
    CConversion m_result;
    std::uint64_t m_nFrames = 0;

    bool Failed(int nError, std::string message)
    {
        m_result.m_nError = nError;
        m_result.m_message = std::move(message);
        return false;
    }
};

// Reads the child's samples to its end, counting whole frames and handing
// them to the encoder when there is one. Kills the child on cancel or failure.
bool Pump(CChildProcess& child, int nChannels, IPcmEncoder* encoder, const std::atomic<bool>& cancel,
          const std::string& sourcePath, CRun& run)
{
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(nChannels);
    std::vector<std::byte> buffer(READ_BYTES);
    std::vector<float> samples(READ_BYTES / sizeof(float));
    std::size_t nHeld = 0;
    for (;;) {
        if (cancel.load()) {
            child.Kill();
            return run.Failed(ECANCELED, "Cancelled");
        }
        std::size_t nRead = 0;
        const auto state = child.Read(std::span(buffer).subspan(nHeld), nRead, POLL_MS);
        if (state == CChildProcess::ERead::Timeout) {
            continue;
        }
        if (state == CChildProcess::ERead::Error) {
            child.Kill();
            return run.Failed(child.LastError(), "Cannot read the decoded audio of " + sourcePath);
        }
        if (state == CChildProcess::ERead::End) {
            break;
        }
        nHeld += nRead;
        const std::size_t nWhole = nHeld / frameBytes * frameBytes;
        if (encoder != nullptr && nWhole != 0) {
            std::memcpy(samples.data(), buffer.data(), nWhole);
            if (const int nError = encoder->Write(std::span(samples).first(nWhole / sizeof(float)))) {
                child.Kill();
                return run.Failed(nError, encoder->Message());
            }
        }
        run.m_nFrames += nWhole / frameBytes;
        std::memmove(buffer.data(), buffer.data() + nWhole, nHeld - nWhole);
        nHeld -= nWhole;
    }
    const int status = child.Wait();
    if (status != 0) {
        const std::string reason = child.FirstErrorLine();
        return run.Failed(EIO, "Cannot decode " + sourcePath + ": " +
                                   (reason.empty() ? "ffmpeg ended with status " + std::to_string(status) : reason));
    }
    if (run.m_nFrames == 0) {
        return run.Failed(EIO, "Cannot decode " + sourcePath + ": it holds no audio");
    }
    return true;
}

bool Start(CChildProcess& child, const std::vector<std::string>& arguments, CRun& run)
{
    if (const int nError = child.Start(arguments)) {
        return run.Failed(nError, std::string("Cannot run ") + FFMPEG + ": " + std::strerror(nError));
    }
    return true;
}

// The length the written stream must have, in its own sample frames.
std::uint64_t OutputFrames(ECodec codec, const CPcmFormat& format, std::uint64_t nFrames)
{
    if (codec != ECodec::Opus || format.m_nSampleRate == OPUS_RATE) {
        return nFrames;
    }
    const auto rate = static_cast<std::uint64_t>(format.m_nSampleRate);
    return (nFrames * OPUS_RATE + rate / 2) / rate;
}

// Feeds the encoder from libFLAC, or else from ffmpeg.
bool Decode(CFile& source, const std::string& sourcePath, const CPcmFormat& format, bool bInProcess,
            IPcmEncoder& encoder, const std::atomic<bool>& cancel, CRun& run)
{
    if (bInProcess) {
        CFlacResult decoded = DecodeFlac(source, sourcePath, format, encoder, cancel);
        run.m_nFrames = decoded.m_nFrames;
        return decoded.m_nError == 0 || run.Failed(decoded.m_nError, std::move(decoded.m_message));
    }
    CChildProcess decoder;
    return Start(decoder, DecoderArguments(sourcePath, format), run) &&
           Pump(decoder, format.m_nChannels, &encoder, cancel, sourcePath, run);
}

bool EncodeLinked(CFile& source, const std::string& sourcePath, const CFormatProfile& profile, const CSourceTags& tags,
                  const std::string& outputPath, const std::atomic<bool>& cancel, CRun& run)
{
    const bool bInProcess = DecodesInProcess(profile.m_codec, tags);
    const CPcmFormat format = PcmFormat(profile.m_codec, tags, bInProcess);
    std::string message;
    int nError = 0;
    auto encoder = profile.m_codec == ECodec::Opus ? MakeOpusEncoder(profile, tags, format, outputPath, message, nError)
                                                   : MakeMp3Encoder(profile, tags, format, outputPath, message, nError);
    if (!encoder) {
        return run.Failed(nError, message);
    }
    if (!Decode(source, sourcePath, format, bInProcess, *encoder, cancel, run)) {
        return false;
    }
    if ((nError = encoder->Finish()) != 0) {
        return run.Failed(nError, encoder->Message());
    }
    const std::uint64_t nFrames = OutputFrames(profile.m_codec, format, run.m_nFrames);
    nError = profile.m_codec == ECodec::Opus ? CheckOggOpus(outputPath, nFrames, message)
                                             : CheckMp3(outputPath, nFrames, message);
    return nError == 0 || run.Failed(nError, message);
}

bool EncodeAac(const std::string& sourcePath, const CFormatProfile& profile, const CSourceTags& tags,
               const std::string& outputPath, const std::atomic<bool>& cancel, CRun& run)
{
    const CPcmFormat format = PcmFormat(profile.m_codec, tags, false);
    CChildProcess encoder;
    if (!Start(encoder, AacArguments(sourcePath, profile, format, outputPath), run) ||
        !Pump(encoder, 1, nullptr, cancel, sourcePath, run)) {
        return false;
    }
    std::string message;
    int nError = CheckM4a(outputPath, run.m_nFrames, message);
    if (nError == 0) {
        nError = WriteMp4Tags(outputPath, tags, message);
    }
    return nError == 0 || run.Failed(nError, message);
}

// The source, held open while it is converted: only a regular file (a pipe
// would keep the decoder waiting for a writer for ever), and the same file,
// unchanged, after the conversion as before it, by its descriptor and by its
// path; else the converted file may be made of two versions of the source.
class CHeldSource
{
public:
    explicit CHeldSource(const std::string& path) : m_path(FromNativeName(path))
    {
        m_nError = m_file.OpenRead(m_path);
        if (m_nError == 0) {
            m_nError = m_file.GetStamp(m_before);
        }
    }

    int Error() const { return m_nError; }
    // The open file, read from its first byte.
    CFile& File() { return m_file; }

    int CheckUnchanged() const
    {
        CFileStamp after;
        CFileStamp atPath;
        int error = m_file.GetStamp(after);
        if (error == 0) {
            error = GetFileStamp(m_path, atPath);
        }
        return error != 0 ? error : (after == m_before && atPath == m_before ? 0 : ESTALE);
    }

private:
    std::u16string m_path;
    CFile m_file;
    CFileStamp m_before;
    int m_nError = 0;
};

bool Convert(const std::string& sourcePath, const CFormatProfile& profile, const std::string& outputPath,
             const std::atomic<bool>& cancel, CRun& run)
{
    CHeldSource source(sourcePath);
    if (const int nError = source.Error()) {
        return run.Failed(nError, "Cannot read " + sourcePath + ": " + std::strerror(nError));
    }
    const CSourceTags tags = ReadSourceTags(sourcePath);
    const bool bDone = profile.m_codec == ECodec::Aac
                           ? EncodeAac(sourcePath, profile, tags, outputPath, cancel, run)
                           : EncodeLinked(source.File(), sourcePath, profile, tags, outputPath, cancel, run);
    if (!bDone) {
        return false;
    }
    if (const int nError = source.CheckUnchanged()) {
        return run.Failed(nError, sourcePath + " changed while it was converted");
    }
    return true;
}

} // namespace

bool IsLosslessAudio(const std::u16string& name)
{
    static constexpr std::array<std::u16string_view, 6> LOSSLESS = {u".flac", u".wav",  u".aif",
                                                                    u".aiff", u".aifc", u".wv"};
    const std::u16string extension = LowerExtension(name);
    return std::find(LOSSLESS.begin(), LOSSLESS.end(), extension) != LOSSLESS.end();
}

bool IsM4a(const std::u16string& name)
{
    return LowerExtension(name) == u".m4a";
}

bool IsLosslessAudioFile(const std::string& path, const std::u16string& name)
{
    if (IsLosslessAudio(name)) {
        return true;
    }
    return IsM4a(name) && IsAlac(path);
}

CConversion ConvertFile(const std::string& sourcePath, const CFormatProfile& profile, const std::string& outputPath,
                        const std::atomic<bool>& cancel)
{
    CRun run;
    if (!Convert(sourcePath, profile, outputPath, cancel, run)) {
        // Nothing half written stays behind.
        std::remove(outputPath.c_str());
        return run.m_result;
    }
    std::error_code error;
    run.m_result.m_nBytes = std::filesystem::file_size(outputPath, error);
    if (error) {
        std::remove(outputPath.c_str());
        run.Failed(error.value(), "Cannot read the converted file " + outputPath + ": " + error.message());
    }
    return run.m_result;
}
