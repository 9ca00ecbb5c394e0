#include "transfer/Converter.h"

#include "platform/ChildProcess.h"
#include "support/FolderFixture.h"
#include "transfer/Encoder.h"

#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

void Shell(const std::string& command)
{
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// The audio of the sources, made once for the suite: seconds of noise (a
// tone compresses to nothing and hides cut-off frames less well).
class ConverterTest : public ::testing::Test
{
public:
    static void SetUpTestSuite()
    {
        s_pFolder = new CFolderFixture;
        const auto& root = s_pFolder->Root();
        const std::string transcode = "ffmpeg -nostdin -y -loglevel error ";
        const std::string ffmpeg = transcode + "-f lavfi ";
        fs::create_directories(root / "tagged");
        fs::create_directories(root / "wav");
        Shell(ffmpeg + "-i color=red:s=32x32 -frames:v 1 " + (root / "front.jpg").string());
        Shell(ffmpeg + "-i color=blue:s=32x32 -frames:v 1 " + (root / "wav/Folder.JPG").string());
        // The album folder's cover is the fallback: the tagged FLAC's own wins over it.
        fs::copy_file(root / "wav/Folder.JPG", root / "tagged/cover.jpg");
        Shell(ffmpeg + "-i anoisesrc=d=3:r=44100:a=0.3 -ac 2 " + (root / "tagged/01.flac").string());
        Shell("metaflac --set-tag=ARTIST=Alpha --set-tag=ARTIST=Beta --set-tag=TITLE=Noise --set-tag=TRACKNUMBER=3 "
              "--set-tag=DATE=2021-05-04 --set-tag=MUSICBRAINZ_TRACKID=0b3c6a1e-0000-4000-8000-000000000001 "
              "'--set-tag=REPLAYGAIN_TRACK_GAIN=-6.50 dB' '--set-tag=REPLAYGAIN_ALBUM_GAIN=-7.25 dB' "
              "--import-picture-from=" +
              (root / "front.jpg").string() + " " + (root / "tagged/01.flac").string());
        Shell(ffmpeg + "-i anoisesrc=d=2:r=44100:a=0.3 -ac 1 -c:a pcm_s16le " + (root / "wav/02.wav").string());
        Shell(ffmpeg + "-i anoisesrc=d=2:r=96000:a=0.3 -ac 2 -sample_fmt s32 " + (root / "hires.flac").string());
        Shell(ffmpeg + "-i anoisesrc=d=2:r=48000:a=0.3 -af aformat=channel_layouts=5.1 " +
              (root / "surround.flac").string());
        Shell(ffmpeg + "-i anoisesrc=d=90:r=44100:a=0.3 -ac 2 " + (root / "long.flac").string());
        std::ofstream(root / "broken.flac") << "fLaC but nothing a decoder takes";
        // Whole audio in other wrappers: Ogg FLAC and MP3 under FLAC's name, a
        // FLAC file with an ID3v1 tag after its last frame.
        const std::string flac = (root / "tagged/01.flac").string();
        Shell(transcode + "-i " + flac + " -map 0:a -c:a flac -f ogg " + (root / "ogg.flac").string());
        Shell(transcode + "-i " + flac + " -map 0:a -f mp3 " + (root / "mp3.flac").string());
        fs::copy_file(flac, root / "id3v1.flac");
        std::ofstream(root / "id3v1.flac", std::ios::app | std::ios::binary)
            << "TAG" << std::string(30, 'T') << std::string(30, 'A') << std::string(30, 'L') << "2021"
            << std::string(31, '\0');
    }

    static void TearDownTestSuite()
    {
        delete s_pFolder;
        s_pFolder = nullptr;
    }

protected:
    static std::string Source(const std::string& name) { return (s_pFolder->Root() / name).string(); }
    std::string Output(const std::string& name) const { return (m_output.Root() / name).string(); }

    static CFolderFixture* s_pFolder;
    CFolderFixture m_output;
};

CFolderFixture* ConverterTest::s_pFolder = nullptr;

struct CDecoded
{
    std::uint64_t m_nFrames = 0;
    int m_nRate = 0;
    int m_nChannels = 0;
};

// What ffmpeg decodes from a file, at its own rate and channels, trimmed as
// the container's gapless information says.
CDecoded Decode(const std::string& path)
{
    CDecoded decoded;
    CChildProcess probe;
    std::string text;
    if (probe.Start({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                     "stream=sample_rate,channels", "-of", "default=nw=1:nk=1", path}) == 0) {
        std::array<std::byte, 256> buffer{};
        std::size_t nRead = 0;
        while (probe.Read(buffer, nRead, 1000) != CChildProcess::ERead::End) {
            text.append(reinterpret_cast<const char*>(buffer.data()), nRead);
        }
        probe.Wait();
    }
    std::istringstream(text) >> decoded.m_nRate >> decoded.m_nChannels;
    CChildProcess decoder;
    if (decoder.Start({"/usr/bin/ffmpeg", "-v", "error", "-i", path, "-ac", "1", "-f", "s16le", "pipe:1"}) != 0) {
        return decoded;
    }
    std::vector<std::byte> buffer(1 << 16);
    std::size_t nRead = 0;
    std::uint64_t nBytes = 0;
    for (auto state = CChildProcess::ERead::Timeout; state != CChildProcess::ERead::End;
         state = decoder.Read(buffer, nRead, 1000)) {
        nBytes += nRead;
    }
    if (decoder.Wait() == 0) {
        decoded.m_nFrames = nBytes / 2;
    }
    return decoded;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ToString(const TagLib::ByteVector& bytes)
{
    return {bytes.data(), bytes.size()};
}

std::string Joined(const TagLib::StringList& values)
{
    std::string text;
    for (const auto& value : values) {
        text += (text.empty() ? "" : "|") + value.to8Bit(true);
    }
    return text;
}

// The first picture of a converted file, as its format stores it.
std::string CoverOf(const std::string& path, ECodec codec)
{
    if (codec == ECodec::Opus) {
        TagLib::Ogg::Opus::File file(path.c_str());
        const auto pictures = file.tag()->pictureList();
        return pictures.isEmpty() ? "" : pictures.front()->mimeType().to8Bit() + ToString(pictures.front()->data());
    }
    if (codec == ECodec::Mp3) {
        TagLib::MPEG::File file(path.c_str());
        const auto frames = file.ID3v2Tag()->frameList("APIC");
        const auto* picture =
            frames.isEmpty() ? nullptr : dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frames.front());
        return picture == nullptr ? "" : picture->mimeType().to8Bit() + ToString(picture->picture());
    }
    TagLib::MP4::File file(path.c_str());
    const auto covers = file.tag()->item("covr").toCoverArtList();
    return covers.isEmpty() || covers.front().format() != TagLib::MP4::CoverArt::JPEG
               ? ""
               : "image/jpeg" + ToString(covers.front().data());
}

// The gain as the format's players read it.
std::string GainOf(const std::string& path, ECodec codec)
{
    if (codec == ECodec::Opus) {
        const std::string bytes = ReadBytes(path);
        const auto head = bytes.find("OpusHead");
        const auto header = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[head + 16]) |
                                                      static_cast<unsigned char>(bytes[head + 17]) << 8);
        const auto properties = TagLib::FileRef(path.c_str()).file()->properties();
        return "header " + std::to_string(header) + " track " + Joined(properties["R128_TRACK_GAIN"]) + " album " +
               Joined(properties["R128_ALBUM_GAIN"]) + Joined(properties["REPLAYGAIN_TRACK_GAIN"]);
    }
    if (codec == ECodec::Mp3) {
        const auto properties = TagLib::FileRef(path.c_str()).file()->properties();
        return Joined(properties["REPLAYGAIN_TRACK_GAIN"]) + ", " + Joined(properties["REPLAYGAIN_ALBUM_GAIN"]);
    }
    TagLib::MP4::File file(path.c_str());
    return Joined(file.tag()->item("----:com.apple.iTunes:replaygain_track_gain").toStringList()) + ", " +
           Joined(file.tag()->item("----:com.apple.iTunes:replaygain_album_gain").toStringList());
}

struct CCodecCase
{
    const char* m_profile;
    ECodec m_codec;
    // The gain of the tagged source (track -6.50 dB, album -7.25 dB) in the
    // target's form: for Opus the album's at -23 LUFS in the header (-12.25 dB
    // in Q7.8), the track's relative to it.
    const char* m_gain;
};

void PrintTo(const CCodecCase& codecCase, std::ostream* out)
{
    *out << codecCase.m_profile;
}

class ConverterCodecTest : public ConverterTest, public ::testing::WithParamInterface<CCodecCase>
{
protected:
    const CFormatProfile& Profile() const { return *FindProfile(GetParam().m_profile); }
};

TEST_P(ConverterCodecTest, CarriesTheAudioTagsCoverAndGain)
{
    const std::string output = Output("out");
    const std::atomic<bool> cancel = false;
    const auto result = ConvertFile(Source("tagged/01.flac"), Profile(), output, cancel);
    ASSERT_EQ(result.m_nError, 0) << result.m_message;
    EXPECT_EQ(result.m_nBytes, fs::file_size(output));

    const CDecoded decoded = Decode(output);
    const int rate = GetParam().m_codec == ECodec::Opus ? 48000 : 44100;
    EXPECT_EQ(decoded.m_nRate, rate);
    EXPECT_EQ(decoded.m_nChannels, 2);
    EXPECT_NEAR(static_cast<double>(decoded.m_nFrames), 3.0 * rate, GetParam().m_codec == ECodec::Opus ? 960 : 1152);

    const auto properties = TagLib::FileRef(output.c_str()).file()->properties();
    EXPECT_EQ(Joined(properties["ARTIST"]), "Alpha|Beta");
    EXPECT_EQ(Joined(properties["TITLE"]), "Noise");
    EXPECT_EQ(Joined(properties["TRACKNUMBER"]), "3");
    EXPECT_EQ(Joined(properties["DATE"]), "2021-05-04");
    EXPECT_EQ(Joined(properties["MUSICBRAINZ_TRACKID"]), "0b3c6a1e-0000-4000-8000-000000000001");
    EXPECT_EQ(CoverOf(output, GetParam().m_codec), "image/jpeg" + ReadBytes(s_pFolder->Root() / "front.jpg"));
    EXPECT_EQ(GainOf(output, GetParam().m_codec), GetParam().m_gain);
}

// Without a cover of its own a file takes its folder's, whatever the case of
// its name; a mono WAV stays mono.
TEST_P(ConverterCodecTest, TakesTheFolderCoverOfAnUntaggedWav)
{
    const std::string output = Output("out");
    const std::atomic<bool> cancel = false;
    const auto result = ConvertFile(Source("wav/02.wav"), Profile(), output, cancel);
    ASSERT_EQ(result.m_nError, 0) << result.m_message;
    EXPECT_EQ(CoverOf(output, GetParam().m_codec), "image/jpeg" + ReadBytes(s_pFolder->Root() / "wav/Folder.JPG"));
    EXPECT_EQ(Decode(output).m_nChannels, 1);

    // A relative path that ffmpeg would take for a protocol is a file's name.
    const fs::path folder = s_pFolder->Root() / "wav";
    fs::copy_file(folder / "02.wav", folder / "pipe:0.wav", fs::copy_options::overwrite_existing);
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    const auto named = ConvertFile("pipe:0.wav", Profile(), Output("named"), cancel);
    fs::current_path(before);
    fs::remove(folder / "pipe:0.wav");
    EXPECT_EQ(named.m_nError, 0) << named.m_message;
}

// The container check: the written file passes with the length decoded, and
// not with another, cut short, or with a byte changed.
TEST_P(ConverterCodecTest, ChecksTheWrittenStream)
{
    const std::string output = Output("out");
    const std::atomic<bool> cancel = false;
    ASSERT_EQ(ConvertFile(Source("tagged/01.flac"), Profile(), output, cancel).m_nError, 0);
    const auto check = [&](const std::string& path, std::uint64_t nFrames) {
        std::string message;
        switch (GetParam().m_codec) {
        case ECodec::Opus:
            return CheckOggOpus(path, nFrames, message);
        case ECodec::Mp3:
            return CheckMp3(path, nFrames, message);
        default:
            return CheckM4a(path, nFrames, message);
        }
    };
    const std::uint64_t nFrames = GetParam().m_codec == ECodec::Opus ? 3 * 48000 : 3 * 44100;
    EXPECT_EQ(check(output, nFrames), 0);
    EXPECT_EQ(check(output, nFrames + 1500), EIO);
    const std::string bytes = ReadBytes(output);
    const std::string cut = Output("cut");
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() * 2 / 3);
    EXPECT_EQ(check(cut, nFrames), EIO);
    if (GetParam().m_codec == ECodec::Opus) {
        std::string changed = bytes;
        changed[bytes.size() / 2] ^= 0x10;
        std::ofstream(cut, std::ios::binary) << changed;
        EXPECT_EQ(check(cut, nFrames), EIO);
    }
}

// Rates the encoder does not take are resampled, more channels mixed down.
TEST_P(ConverterCodecTest, ResamplesAndMixesDown)
{
    const std::atomic<bool> cancel = false;
    for (const char* source : {"hires.flac", "surround.flac"}) {
        SCOPED_TRACE(source);
        const std::string output = Output("out");
        const auto result = ConvertFile(Source(source), Profile(), output, cancel);
        ASSERT_EQ(result.m_nError, 0) << result.m_message;
        const CDecoded decoded = Decode(output);
        EXPECT_EQ(decoded.m_nRate, 48000);
        EXPECT_EQ(decoded.m_nChannels, 2);
        EXPECT_NEAR(static_cast<double>(decoded.m_nFrames), 2.0 * 48000, 1152);
    }
}

TEST_P(ConverterCodecTest, ReportsAnUndecodableFileInOneLineAndLeavesNothing)
{
    const std::string output = Output("out");
    const std::atomic<bool> cancel = false;
    const auto result = ConvertFile(Source("broken.flac"), Profile(), output, cancel);
    EXPECT_NE(result.m_nError, 0);
    EXPECT_TRUE(result.m_message.starts_with("Cannot decode " + Source("broken.flac") + ": ")) << result.m_message;
    EXPECT_EQ(result.m_message.find('\n'), std::string::npos);
    EXPECT_FALSE(fs::exists(output));
}

// Where a FLAC file's first audio frame that begins at or after a byte
// begins: the frames of a fixed block size all start with the first's four
// bytes, which follow the metadata blocks.
std::size_t FlacFrameAfter(const std::string& flac, std::size_t from)
{
    std::size_t at = 4; // "fLaC"
    for (bool bLast = false; !bLast;) {
        bLast = (static_cast<unsigned char>(flac[at]) & 0x80) != 0;
        at += 4 + (static_cast<std::size_t>(static_cast<unsigned char>(flac[at + 1])) << 16 |
                   static_cast<std::size_t>(static_cast<unsigned char>(flac[at + 2])) << 8 |
                   static_cast<unsigned char>(flac[at + 3]));
    }
    return flac.find(flac.substr(at, 4), from);
}

// A FLAC file cut short, by a copy or a download that stopped, does not pass
// for a shorter track, whether cut within a frame or between two; nor does a
// damaged frame pass for silence.
TEST_F(ConverterTest, AFlacCutShortOrDamagedDoesNotConvert)
{
    const std::string whole = ReadBytes(Source("tagged/01.flac"));
    std::string damaged = whole;
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x55);
    // Bytes that are no frame between two, in a stream whose header does not
    // count its samples (STREAMINFO's total, from its 14th byte, is 0).
    std::string unsized = whole;
    unsized.insert(FlacFrameAfter(whole, whole.size() / 2), 200, 'x');
    unsized[8 + 13] = static_cast<char>(unsized[8 + 13] & 0xF0);
    unsized.replace(8 + 14, 4, 4, '\0');
    const std::atomic<bool> cancel = false;
    for (const auto& [name, bytes] :
         {std::pair{"cut.flac", whole.substr(0, whole.size() * 3 / 4)},
          std::pair{"cut-at-frame.flac", whole.substr(0, FlacFrameAfter(whole, whole.size() / 2))},
          std::pair{"damaged.flac", damaged}, std::pair{"unsized-with-garbage.flac", unsized}}) {
        const std::string source = Output(name);
        std::ofstream(source, std::ios::binary) << bytes;
        for (const char* profile : {"opus-128", "mp3-v2"}) {
            const std::string output = Output(std::string(name) + "." + profile);
            const auto result = ConvertFile(source, *FindProfile(profile), output, cancel);
            EXPECT_EQ(result.m_nError, EIO) << name << " " << profile;
            EXPECT_TRUE(result.m_message.starts_with("Cannot decode " + source + ": ")) << result.m_message;
            EXPECT_FALSE(fs::exists(output)) << output;
        }
    }
}

// What a file holds decides how it is decoded, not its name; a tag after the
// last frame is no damage to the audio before it.
TEST_F(ConverterTest, WholeAudioInAnotherWrapperConverts)
{
    const std::atomic<bool> cancel = false;
    for (const char* name : {"ogg.flac", "mp3.flac", "id3v1.flac"}) {
        for (const char* profile : {"opus-128", "mp3-v2"}) {
            const std::string output = Output(std::string(name) + "." + profile);
            const auto result = ConvertFile(Source(name), *FindProfile(profile), output, cancel);
            EXPECT_EQ(result.m_nError, 0) << name << " " << profile << ": " << result.m_message;
            if (result.m_nError == 0) {
                const CDecoded decoded = Decode(output);
                EXPECT_NEAR(static_cast<double>(decoded.m_nFrames) / decoded.m_nRate, 3.0, 0.06) << name;
            }
        }
    }
}

TEST_P(ConverterCodecTest, StopsSoonAfterCancelAndLeavesNothing)
{
    const std::string output = Output("out");
    std::atomic<bool> cancel = false;
    std::chrono::steady_clock::time_point cancelled;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancelled = std::chrono::steady_clock::now();
        cancel = true;
    });
    const auto result = ConvertFile(Source("long.flac"), Profile(), output, cancel);
    const auto returned = std::chrono::steady_clock::now();
    canceller.join();
    EXPECT_EQ(result.m_nError, ECANCELED) << result.m_message;
    EXPECT_LT(returned - cancelled, std::chrono::milliseconds(500));
    EXPECT_FALSE(fs::exists(output));
}

const CCodecCase CODEC_CASES[] = {
    {"opus-128", ECodec::Opus, "header -3136 track 192 album 0"},
    {"mp3-v2", ECodec::Mp3, "-6.50 dB, -7.25 dB"},
    {"aac-192", ECodec::Aac, "-6.50 dB, -7.25 dB"},
};

INSTANTIATE_TEST_SUITE_P(Codecs, ConverterCodecTest, ::testing::ValuesIn(CODEC_CASES),
                         [](const auto& test) { return std::string(test.param.m_profile).substr(0, 3); });

// A source written while it is converted gives no converted file: its audio
// may be of two versions. The write here puts the same bytes back, so that
// the decoder itself sees nothing wrong.
TEST_F(ConverterTest, ASourceWrittenWhileConvertedLeavesNothing)
{
    const std::string source = Output("long.flac");
    fs::copy_file(Source("long.flac"), source);
    const std::string output = Output("out.opus");
    const std::atomic<bool> cancel = false;
    const std::string bytes = ReadBytes(source);
    // Once the encoder has made its file, the conversion is under way.
    std::thread rewriter([&] {
        for (int waited = 0; !fs::exists(output) && waited < 10000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::fstream file(source, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(bytes.size() / 2));
        file.write(bytes.data() + bytes.size() / 2, static_cast<std::streamsize>(bytes.size() - bytes.size() / 2));
    });
    const auto result = ConvertFile(source, *FindProfile("opus-128"), output, cancel);
    rewriter.join();
    EXPECT_EQ(result.m_nError, ESTALE) << result.m_message;
    EXPECT_EQ(result.m_message, source + " changed while it was converted");
    EXPECT_FALSE(fs::exists(output));
}

// Children run at lower priority and say why they failed.
TEST(ChildProcessTest, RunsNicerAndReportsItsFailure)
{
    CChildProcess nice;
    ASSERT_EQ(nice.Start({"/usr/bin/nice"}), 0);
    std::array<std::byte, 64> buffer{};
    std::size_t nRead = 0;
    std::string text;
    while (nice.Read(buffer, nRead, 1000) != CChildProcess::ERead::End) {
        text.append(reinterpret_cast<const char*>(buffer.data()), nRead);
    }
    EXPECT_EQ(nice.Wait(), 0);
    EXPECT_GE(std::stoi(text), 10);

    CChildProcess failing;
    ASSERT_EQ(failing.Start({"/bin/sh", "-c", "echo first >&2; echo second >&2; exit 3"}), 0);
    EXPECT_EQ(failing.Wait(), 3);
    EXPECT_EQ(failing.FirstErrorLine(), "first");

    CChildProcess missing;
    ASSERT_EQ(missing.Start({"/nonexistent/program"}), 0);
    EXPECT_EQ(missing.Wait(), 127);
    EXPECT_EQ(missing.FirstErrorLine(), "cannot run the program");
}

TEST(ConverterNamesTest, LosslessByNameAndAlacByContent)
{
    for (const char16_t* name : {u"a.flac", u"b.WAV", u"c.aiff", u"d.aif", u"e.wv"}) {
        EXPECT_TRUE(IsLosslessAudio(name));
    }
    for (const char16_t* name : {u"a.mp3", u"b.ogg", u"c.opus", u"d.m4a", u"cover.jpg", u"flac"}) {
        EXPECT_FALSE(IsLosslessAudio(name));
    }
}

} // namespace
