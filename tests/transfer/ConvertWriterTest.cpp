#include "transfer/ConvertWriter.h"
#include "support/JobTest.h"
#include "support/ScratchVolume.h"
#include "transfer/ConversionPool.h"
#include "transfer/SourceTags.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Stands in for the encoder: a converted file is "converted:" and its
// source's bytes. Each conversion takes its source's delay (none unless set),
// in steps of 10 ms between which it reads cancel; a source whose name holds
// "endless" runs until canceled, one whose name holds "bad" fails.
class CFakeConverter
{
public:
    CConversion Convert(const std::string& source, const std::string& output, const std::atomic<bool>& cancel)
    {
        const std::string name = fs::path(source).filename().string();
        const int running = ++m_nRunning;
        for (int most = m_nMostAtOnce; running > most && !m_nMostAtOnce.compare_exchange_weak(most, running);) {
        }
        {
            const std::lock_guard lock(m_mutex);
            m_started.push_back(name);
        }
        const auto delay = m_delays.contains(name) ? m_delays.at(name) : 0ms;
        const auto end = std::chrono::steady_clock::now() + delay;
        while ((name.find("endless") != std::string::npos || std::chrono::steady_clock::now() < end) &&
               !cancel.load()) {
            std::this_thread::sleep_for(10ms);
        }
        CConversion result;
        if (cancel.load()) {
            result = {ECANCELED, "canceled", 0};
        } else if (name.find("bad") != std::string::npos) {
            result = {EIO, "5 (Input/output error): no audio stream", 0};
        } else {
            const std::string content = "converted:" + ReadFileText(source);
            std::ofstream(output, std::ios::binary) << content;
            result.m_nBytes = content.size();
        }
        --m_nRunning;
        ++m_nEnded;
        return result;
    }
    ConvertFunction Function()
    {
        return [this](const std::string& source, const CFormatProfile&, const std::string& output,
                      const std::atomic<bool>& cancel) { return Convert(source, output, cancel); };
    }
    std::vector<std::string> Started()
    {
        const std::lock_guard lock(m_mutex);
        return m_started;
    }

    std::map<std::string, std::chrono::milliseconds> m_delays;
    std::atomic<int> m_nRunning{0};
    std::atomic<int> m_nMostAtOnce{0};
    std::atomic<int> m_nEnded{0};

private:
    std::mutex m_mutex;
    std::vector<std::string> m_started;
};

// Jobs whose writer converts by the fake converter, with the temporary
// folders of their conversions below the fixture's tmp.
class ConvertWriterTest : public JobTest
{
protected:
    ConvertWriterTest()
    {
        if (const char* previous = std::getenv("TMPDIR")) {
            m_previousTmpdir = previous;
        }
        fs::create_directories(m_fixture / "tmp");
        setenv("TMPDIR", (m_fixture / "tmp").c_str(), 1);
    }
    ~ConvertWriterTest() override
    {
        m_previousTmpdir.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", m_previousTmpdir.c_str(), 1);
    }
    void ScanConverting(const std::string& description, std::string_view profile = "opus-128")
    {
        ScanLibrary(description);
        m_pJob = std::make_unique<CCopyJob>(
            m_root, m_record, m_log, std::make_unique<CConvertWriter>(*FindProfile(profile), m_convert.Function()));
        ASSERT_EQ(Job().OpenPlayer(), 0);
    }
    void CopyAll()
    {
        m_root.ApplySelection(SELECT_ALL);
        m_log.m_nAlbumsToCopy = m_root.CountAlbumsToCopy();
        Job().CopyPass();
    }
    std::string Converted(const std::string& relative) const
    {
        return "converted:" + ReadFileText(m_fixture / "computer" / relative);
    }
    bool TemporaryFilesGone() const { return fs::is_empty(m_fixture / "tmp"); }

    CFakeConverter m_convert;
    std::string m_previousTmpdir;
};

// The entries of a folder in the order the file system lists them: on a FAT
// or exFAT card, the order they were created in, which players play.
std::vector<std::string> ListedOrder(const fs::path& folder)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    for (const dirent* entry = dir ? readdir(dir) : nullptr; entry != nullptr; entry = readdir(dir)) {
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") {
            names.emplace_back(entry->d_name);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return names;
}

// Runs a command that makes a file of the test, quietly.
void Make(const std::string& command)
{
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

// A .m4a of a second of tone in codec, "alac" or "aac", as iTunes writes it.
void MakeM4a(const fs::path& path, const std::string& codec)
{
    fs::create_directories(path.parent_path());
    Make("ffmpeg -nostdin -y -loglevel error -f lavfi -i sine=d=1 -c:a " + codec + " -f ipod " + path.string());
}

} // namespace

// Lossless files take the profile's extension and are converted, a .m4a where
// its stream is ALAC; every other file is copied as it is. The clash check
// sees the converted names.
TEST_F(ConvertWriterTest, ConvertsLosslessFilesUnderTheFormatsNames)
{
    MakeM4a(m_fixture / "computer/A/Mixed/05-alac.m4a", "alac");
    MakeM4a(m_fixture / "computer/A/Mixed/06-aac.M4A", "aac");
    ScanConverting("computer/A/Mixed/01.flac:100\ncomputer/A/Mixed/02 Live?.FLAC:200\ncomputer/A/Mixed/03.wav:50\n"
                   "computer/A/Mixed/04.mp3:70\ncomputer/A/Mixed/cover.jpg:10\n"
                   "computer/B/Clash/01.flac:10\ncomputer/B/Clash/01.mp3:10\n",
                   "mp3-v0");
    CopyAll();

    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "INFO   : Copying \"COMPUTER/A/Mixed\"", "INFO   : Copying \"COMPUTER/B/Clash\"",
                              "ERROR  : Opening \"JUKEBIT/B/Clash/01.mp3\" : Error 17 (File exists)"}));
    EXPECT_EQ(Snapshot("player"), (std::map<std::string, std::string>{
                                      {"A/", ""},
                                      {"A/Mixed/", ""},
                                      {"A/Mixed/01.mp3", Converted("A/Mixed/01.flac")},
                                      {"A/Mixed/02 Live_.mp3", Converted("A/Mixed/02 Live?.FLAC")},
                                      {"A/Mixed/03.mp3", Converted("A/Mixed/03.wav")},
                                      {"A/Mixed/04.mp3", ReadFileText(m_fixture / "computer/A/Mixed/04.mp3")},
                                      {"A/Mixed/05-alac.mp3", Converted("A/Mixed/05-alac.m4a")},
                                      {"A/Mixed/06-aac.M4A", ReadFileText(m_fixture / "computer/A/Mixed/06-aac.M4A")},
                                      {"A/Mixed/cover.jpg", ReadFileText(m_fixture / "computer/A/Mixed/cover.jpg")}}));
    EXPECT_TRUE(TemporaryFilesGone());
}

// What a .m4a's stream is, is read once for each size and time of the file:
// the window and the job see one name for it until it changes.
TEST_F(ConvertWriterTest, AM4aIsReadAgainOnlyOnceItChanged)
{
    MakeM4a(m_fixture / "computer/A/One/01.m4a", "alac");
    ScanLibrary("");
    const CConvertWriter writer(*FindProfile("opus-128"));
    const CFolderNode& album = Node(u"A/One");
    CFileEntry entry = album.m_files[SIDE_COMPUTER].at(0);
    EXPECT_EQ(writer.PlayerFileName(album, entry), u"01.opus");
    MakeM4a(m_fixture / "computer/A/One/01.m4a", "aac");
    EXPECT_EQ(writer.PlayerFileName(album, entry), u"01.opus");
    ++entry.m_modified;
    EXPECT_EQ(writer.PlayerFileName(album, entry), u"01.m4a");
}

// The conversions run on every core ahead of the writes, the next album's
// too, yet the files are created on the card in name order, through the
// staging folder: the first track, converted last, is still the first entry
// of the album's folder.
TEST_F(ConvertWriterTest, WritesInNameOrderWhileConvertingAhead)
{
    m_fixture.Create("player/\n");
    CScratchVolume volume;
    if (const std::string failure = volume.MountExfat(m_fixture / "player", 8 << 20); !failure.empty()) {
        GTEST_SKIP() << "cannot mount an exFAT image as the player here: " << failure;
    }
    ScanConverting("computer/A/One/01.flac:3000\ncomputer/A/One/02.flac:3000\ncomputer/A/One/03.flac:3000\n"
                   "computer/A/One/cover.jpg:10\ncomputer/B/Two/01.flac:3000\ncomputer/B/Two/02.flac:3000\n");
    m_convert.m_delays["01.flac"] = 300ms;
    std::vector<std::string> startedBeforeTwo;
    m_onLogLine = [&](const CCopyLogEntry& entry) {
        if (entry.m_text == "Copying \"COMPUTER/B/Two\"") {
            startedBeforeTwo = m_convert.Started();
        }
    };
    CopyAll();

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/One\"", "INFO   : Copying \"COMPUTER/B/Two\""}));
    // The driver lists what it created since it mounted newest first; read
    // afresh, a folder lists in the order of the card.
    Job().ClosePlayer();
    ASSERT_EQ(volume.PlugExfatAgain(), "");
    EXPECT_EQ(ListedOrder(m_fixture / "player/A/One"),
              (std::vector<std::string>{"01.opus", "02.opus", "03.opus", "cover.jpg", ".lyrafetch-album"}));
    EXPECT_EQ(ListedOrder(m_fixture / "player/B/Two"),
              (std::vector<std::string>{"01.opus", "02.opus", ".lyrafetch-album"}));
    EXPECT_EQ(ReadFileText(m_fixture / "player/B/Two/02.opus"), Converted("B/Two/02.flac"));
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(m_convert.m_nMostAtOnce, std::min(cores, 5));
    // While the first album was written, the second's files were converted.
    EXPECT_EQ(startedBeforeTwo.size(), 5u);
    EXPECT_TRUE(TemporaryFilesGone());
}

// A changed album's new version is converted ahead on every core too.
TEST_F(ConvertWriterTest, AChangedAlbumIsConvertedAheadAsANewOneIs)
{
    ScanConverting("computer/A/One/01.flac:30\ncomputer/A/One/02.flac:30\ncomputer/A/One/03.flac:30\n"
                   "player/A/One/01.mp3:5\n");
    for (const char* name : {"01.flac", "02.flac", "03.flac"}) {
        m_convert.m_delays[name] = 200ms;
    }
    Node(u"A/One").m_bChanged = true;
    CopyAll();

    EXPECT_EQ(LogLines(), std::vector<std::string>{"INFO   : Replacing \"COMPUTER/A/One\""});
    EXPECT_EQ(ReadFileText(m_fixture / "player/A/One/03.opus"), Converted("A/One/03.flac"));
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(m_convert.m_nMostAtOnce, std::min(cores, 3));
}

// A file that cannot be converted fails its album with the converter's line,
// as an unreadable one does; the files planned after it are dropped, and the
// next album is converted and copied.
TEST_F(ConvertWriterTest, AFileThatCannotBeConvertedFailsItsAlbum)
{
    ScanConverting("computer/A/Broken/01.flac:100\ncomputer/A/Broken/02 bad.flac:100\ncomputer/A/Broken/03.flac:100\n"
                   "computer/B/Next/01.flac:100\n");
    CopyAll();

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  "INFO   : Copying \"COMPUTER/A/Broken\"",
                  "ERROR  : Reading \"COMPUTER/A/Broken/02 bad.flac\" : Error 5 (Input/output error): no audio stream",
                  "INFO   : Deleting \"JUKEBIT/A/Broken\"", "INFO   : Copying \"COMPUTER/B/Next\""}));
    EXPECT_EQ(Snapshot("player"), (std::map<std::string, std::string>{
                                      {"B/", ""}, {"B/Next/", ""}, {"B/Next/01.opus", Converted("B/Next/01.flac")}}));
    EXPECT_TRUE(TemporaryFilesGone());
}

// A source that became a pipe is never opened, to estimate or to convert:
// its album fails at once instead of waiting for a writer for ever. Should a
// reader wait all the same, a writer comes along after a few seconds.
TEST_F(ConvertWriterTest, ASourceThatIsAPipeFailsItsAlbumWithoutWaiting)
{
    ScanConverting("computer/A/Piped/01.flac:100\ncomputer/A/Piped/02.flac:100\n");
    const fs::path pipe = m_fixture / "computer/A/Piped/01.flac";
    fs::remove(pipe);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    m_pJob =
        std::make_unique<CCopyJob>(m_root, m_record, m_log, std::make_unique<CConvertWriter>(*FindProfile("opus-128")));
    ASSERT_EQ(Job().OpenPlayer(), 0);
    std::atomic<bool> done = false;
    std::thread writer([&] {
        for (auto start = std::chrono::steady_clock::now(); !done && std::chrono::steady_clock::now() - start < 60s;
             std::this_thread::sleep_for(10ms)) {
            if (std::chrono::steady_clock::now() - start > 3s) {
                if (const int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) {
                    close(fd);
                }
            }
        }
    });
    const auto start = std::chrono::steady_clock::now();
    CopyAll();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    done = true;
    writer.join();

    EXPECT_LT(elapsed, 2s);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/Piped\"",
                                                    "ERROR  : Opening \"COMPUTER/A/Piped/01.flac\" : Error 95 "
                                                    "(Operation not supported)",
                                                    "INFO   : Deleting \"JUKEBIT/A/Piped\""}));
    EXPECT_EQ(Snapshot("player"), (std::map<std::string, std::string>{}));
    EXPECT_TRUE(TemporaryFilesGone());
}

// A converted file larger than the room left fails its album as a full disk
// does, before a byte of it is written.
TEST_F(ConvertWriterTest, AConvertedFileThatDoesNotFitStopsTheJobAsAFullDisk)
{
    m_fixture.Create("player/\n");
    CScratchVolume volume;
    if (const std::string failure = volume.Mount(m_fixture / "player", 1 << 20); !failure.empty()) {
        GTEST_SKIP() << "cannot mount a small volume as the player here: " << failure;
    }
    ScanConverting("computer/A/Big/1.flac:2000000\ncomputer/B/Never/1.flac:10\n");
    CopyAll();

    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "INFO   : Copying \"COMPUTER/A/Big\"", "CANCEL : Canceled because disk is full",
                              "ERROR  : Writing \"JUKEBIT/A/Big/1.opus\" : Error 28 (No space left on device)",
                              "INFO   : Deleting \"JUKEBIT/A/Big\""}));
    EXPECT_EQ(m_log.m_nBytesCopied, 0u);
    EXPECT_TRUE(Snapshot("player").empty());
    EXPECT_TRUE(TemporaryFilesGone());
}

// A cancel during the conversions stops them all within half a second,
// leaves nothing on the player and takes the temporary files away.
TEST_F(ConvertWriterTest, ACancelStopsEveryConversionAtOnce)
{
    ScanConverting("computer/A/Long/01 endless.flac:100\ncomputer/A/Long/02 endless.flac:100\n"
                   "computer/A/Long/03 endless.flac:100\n");
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<std::int64_t> canceledAt{0};
    std::thread user([&] {
        while (m_convert.m_nRunning < std::min(cores, 3)) {
            std::this_thread::sleep_for(5ms);
        }
        canceledAt = std::chrono::steady_clock::now().time_since_epoch().count();
        g_cancelState = 1;
    });
    CopyAll();
    const auto stopped = std::chrono::steady_clock::now().time_since_epoch().count();
    user.join();

    EXPECT_LT(std::chrono::steady_clock::duration(stopped - canceledAt), 500ms);
    EXPECT_EQ(m_convert.m_nRunning, 0);
    // The workers convert ahead of the copier: the cancel may come before it
    // has reached the album, or while it waits for the first file.
    const std::vector<std::string> reached{"INFO   : Copying \"COMPUTER/A/Long\"", "CANCEL : Canceled by user",
                                           "INFO   : Deleting \"JUKEBIT/A/Long\""};
    const std::vector<std::string> lines = LogLines();
    EXPECT_TRUE(lines == reached || lines == std::vector<std::string>{"CANCEL : Canceled by user"}) << lines.size();
    EXPECT_TRUE(Snapshot("player").empty());
    EXPECT_TRUE(TemporaryFilesGone());
}

// The workers read the job's cancel state themselves: the conversions stop
// within half a second even while no write waits for them.
TEST_F(ConvertWriterTest, ThePoolStopsOnTheJobsCancelWithoutAWrite)
{
    m_fixture.Create("computer/x endless.flac:1\n");
    const std::string source = (m_fixture / "computer/x endless.flac").string();
    CConversionPool pool(*FindProfile("opus-96"), m_convert.Function(), {source, source + "2", source + "3"});
    while (m_convert.m_nRunning < static_cast<int>(std::min<std::size_t>(pool.Workers(), 3))) {
        std::this_thread::sleep_for(5ms);
    }
    const int started = static_cast<int>(m_convert.Started().size());
    g_cancelState = 1;
    const auto canceled = std::chrono::steady_clock::now();
    while (m_convert.m_nRunning > 0 && std::chrono::steady_clock::now() - canceled < 2s) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - canceled, 500ms);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_convert.Started().size(), static_cast<std::size_t>(started)); // nothing more starts
}

// With the real converter, for every format: an album of a tagged FLAC with
// its cover, a mono WAV beside the folder's cover, a 24-bit/96 kHz FLAC and
// an ALAC .m4a; an MP3 and an AAC .m4a copied as they are. Every converted
// file stays within its estimate, and a second job finds nothing to do.
TEST_F(ConvertWriterTest, EachFormatsFilesStayWithinTheirEstimates)
{
    const fs::path album = m_fixture / "computer/Artist/Album";
    fs::create_directories(album);
    const std::string ffmpeg = "ffmpeg -nostdin -y -loglevel error -f lavfi ";
    Make(ffmpeg + "-i color=red:s=300x300 -frames:v 1 " + (m_fixture / "front.jpg").string());
    Make(ffmpeg + "-i color=blue:s=200x200 -frames:v 1 " + (album / "cover.jpg").string());
    Make(ffmpeg + "-i anoisesrc=d=20:r=44100:a=0.5 -ac 2 " + (album / "01.flac").string());
    Make("metaflac --set-tag=ARTIST=Alpha --set-tag=ARTIST=Beta --set-tag=TITLE=Noise --import-picture-from=" +
         (m_fixture / "front.jpg").string() + " " + (album / "01.flac").string());
    Make(ffmpeg + "-i anoisesrc=d=2:r=44100:a=0.5 -ac 1 -c:a pcm_s16le " + (album / "02.wav").string());
    Make(ffmpeg + "-i anoisesrc=d=2:r=96000:a=0.5 -ac 2 -sample_fmt s32 " + (album / "03.flac").string());
    Make(ffmpeg + "-i sine=d=1 -c:a libmp3lame " + (album / "04.mp3").string());
    MakeM4a(album / "05.m4a", "alac");
    MakeM4a(album / "06.m4a", "aac");

    for (const CFormatProfile& profile : FormatProfiles().subspan(1)) {
        SCOPED_TRACE(std::string(profile.m_id));
        m_pJob.reset();
        fs::remove_all(m_fixture / "player");
        fs::create_directories(m_fixture / "player");
        m_log.Clear();
        m_root.m_children.clear();
        ASSERT_TRUE(ScanPair());
        CConvertWriter writer(profile);
        m_pJob = std::make_unique<CCopyJob>(m_root, m_record, m_log, std::make_unique<CConvertWriter>(profile));
        ASSERT_EQ(Job().OpenPlayer(), 0);
        CopyAll();
        ASSERT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Copying \"COMPUTER/Artist/Album\""}));
        const CFolderNode& node = Node(u"Artist/Album");
        const fs::path player = m_fixture / "player/Artist/Album";
        for (const CFileEntry& entry : node.m_files[SIDE_COMPUTER]) {
            const fs::path written = player / fs::path(writer.PlayerFileName(node, entry));
            ASSERT_TRUE(fs::is_regular_file(written)) << written;
            EXPECT_LE(fs::file_size(written), writer.ExpectedBytes(node, entry)) << written;
        }
        const fs::path alac = player / fs::path(u"05" + std::u16string(profile.m_extension));
        ASSERT_TRUE(fs::is_regular_file(alac));
        EXPECT_FALSE(IsAlac(alac.string()));
        EXPECT_EQ(ReadFileText(player / "06.m4a"), ReadFileText(album / "06.m4a"));
        EXPECT_TRUE(TemporaryFilesGone());

        m_log.Clear();
        m_root.m_children.clear();
        ASSERT_TRUE(ScanPair());
        m_pJob = std::make_unique<CCopyJob>(m_root, m_record, m_log, std::make_unique<CConvertWriter>(profile));
        ASSERT_EQ(Job().OpenPlayer(), 0);
        const auto before = Snapshot("player");
        CopyAll();
        EXPECT_TRUE(LogLines().empty());
        EXPECT_EQ(Snapshot("player"), before);
    }
}
