#include "model/FolderNode.h"
#include "platform/FaultInjection.h"
#include "support/JobTest.h"
#include "support/ScratchVolume.h"
#include "support/TreeDump.h"
#include "transfer/JobContext.h"

#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>

#include <csignal>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class CopyPassTest : public JobTest
{
protected:
    // Selects every album and runs the copy pass with the counter set as the
    // Copy Files dialog sets it.
    void CopyAll()
    {
        m_root.ApplySelection(SELECT_ALL);
        m_log.m_nAlbumsToCopy = m_root.CountAlbumsToCopy() + m_root.CountAlbumsToRefresh();
        Job().CopyPass();
    }
    // Whether the player's copy of a computer file has the same bytes.
    bool SameOnPlayer(const std::string& relative) const
    {
        const fs::path copy = m_fixture / "player" / relative;
        return fs::is_regular_file(copy) && ReadFileText(copy) == ReadFileText(m_fixture / "computer" / relative);
    }
};

// A writer whose files differ from their sources in name and size, as a
// conversion's do: each keeps every other byte of its source, read in pieces
// of 256 KiB, and "x.flac" becomes "x.opus". It expects the source's size, an
// upper bound; the job counts those bytes as the album's.
class CHalvingWriter final : public IFileWriter
{
public:
    std::u16string PlayerFileName(const CFolderNode&, const CFileEntry& source) const override
    {
        const std::u16string name = PlayerName(source.m_name);
        return name.ends_with(u".flac") ? name.substr(0, name.size() - 5) + u".opus" : name;
    }
    std::uint64_t ExpectedBytes(const CFolderNode&, const CFileEntry& source) const override { return source.m_size; }
    std::string WriterId() const override { return "halving"; }
    int Open(const CFileToWrite& file) override { return m_input.OpenRead(file.m_sourcePath); }
    bool Write(const CFileToWrite&, CFile& output, CJobContext& context, std::uint64_t& written) override
    {
        std::vector<char> buffer(256 * 1024);
        written = 0;
        for (std::size_t count = 1; count != 0;) {
            if (m_input.Read(buffer.data(), buffer.size(), count) != 0) {
                return false;
            }
            std::string half;
            for (std::size_t index = 0; index < count; index += 2) {
                half += buffer[index];
            }
            if (output.Write(half.data(), half.size()) != 0) {
                return false;
            }
            written += half.size();
            context.m_log.m_nBytesCopied += count;
            if (CheckCancel(context.m_log)) {
                return false;
            }
        }
        m_input = CFile();
        return true;
    }

private:
    CFile m_input;
};

} // namespace

// The player's files are what the job's writer makes: their names and sizes
// are the writer's, before the copy (the clash check) and after it (the check
// of the published album, which must not take the sizes for lost entries and
// stop staging the albums after it).
TEST_F(CopyPassTest, TheWritersNamesAndSizesArePublished)
{
    ScanLibrary("computer/A/Flac/1.flac:1001\ncomputer/A/Flac/2.flac:300000\ncomputer/A/Flac/cover.jpg:10\n"
                "computer/B/Clash/1.flac:10\ncomputer/B/Clash/1.OPUS:10\ncomputer/C/Next/3.flac:20\n");
    m_pJob = std::make_unique<CCopyJob>(m_root, m_record, m_log, std::make_unique<CHalvingWriter>());
    ASSERT_EQ(Job().OpenPlayer(), 0);
    CopyAll();

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/Flac\"", "INFO   : Copying \"COMPUTER/B/Clash\"",
                                        "ERROR  : Opening \"JUKEBIT/B/Clash/1.OPUS\" : Error 17 (File exists)",
                                        "INFO   : Copying \"COMPUTER/C/Next\""}));
    const auto halfOf = [&](const std::string& relative) {
        std::string half;
        const std::string text = ReadFileText(m_fixture / "computer" / relative);
        for (std::size_t index = 0; index < text.size(); index += 2) {
            half += text[index];
        }
        return half;
    };
    EXPECT_EQ(Snapshot("player"), (std::map<std::string, std::string>{{"A/", ""},
                                                                      {"A/Flac/", ""},
                                                                      {"A/Flac/1.opus", halfOf("A/Flac/1.flac")},
                                                                      {"A/Flac/2.opus", halfOf("A/Flac/2.flac")},
                                                                      {"A/Flac/cover.jpg", halfOf("A/Flac/cover.jpg")},
                                                                      {"C/", ""},
                                                                      {"C/Next/", ""},
                                                                      {"C/Next/3.opus", halfOf("C/Next/3.flac")}}));
    EXPECT_EQ(m_log.m_nBytesCopied, 1001u + 300000u + 10u + 20u + 20u);
}

TEST_F(CopyPassTest, CopiesTheAlbumUnderThePlayersNamesWhereTheyExist)
{
    ScanLibrary("computer/Artist/New/01.mp3:1000\ncomputer/Artist/New/02.mp3:0\ncomputer/Artist/New/03.mp3:524288\n"
                "computer/Artist/Empty/\ncomputer/Band/Live/a:5\nplayer/band/Other/x:1\n");
    CopyAll();

    EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Copying \"COMPUTER/Artist/Empty\"",
                                                    "INFO   : Copying \"COMPUTER/Artist/New\"",
                                                    "INFO   : Copying \"COMPUTER/Band/Live\""}));
    for (const char* file : {"Artist/New/01.mp3", "Artist/New/02.mp3", "Artist/New/03.mp3"}) {
        EXPECT_TRUE(SameOnPlayer(file)) << file;
    }
    EXPECT_TRUE(fs::is_directory(m_fixture / "player/Artist/Empty"));
    // On a player that tells case, a second "Band" beside "band" would hide one
    // of them from the next scan.
    EXPECT_EQ(ReadFileText(m_fixture / "player/band/Live/a"), ReadFileText(m_fixture / "computer/Band/Live/a"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/Band"));
    EXPECT_EQ(m_log.m_nAlbumsToCopy, 0);
    EXPECT_EQ(m_progress, 3);

    CFolderNode rescanned;
    rescanned.SetName(SIDE_COMPUTER, m_root.m_names[SIDE_COMPUTER]);
    rescanned.SetName(SIDE_PLAYER, m_root.m_names[SIDE_PLAYER]);
    ASSERT_TRUE(rescanned.Scan());
    EXPECT_EQ(rescanned.m_onPlayer, 4);
    EXPECT_EQ(rescanned.m_albums, 4);
}

// The scan reads a tree of any depth; the job never writes a path deeper than
// the system takes whole, which a program reading full paths could not open.
TEST_F(CopyPassTest, APathBeyondTheSystemsLimitIsReadButNeverWritten)
{
    m_fixture.CreateDeep("computer/Deep", 22);
    ScanLibrary("computer/Next/One/1:10\n");
    EXPECT_EQ(m_root.m_albums, 2);
    CopyAll();
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with("INFO   : Copying \"COMPUTER/Deep/0xxx")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("ERROR  : Creating \"JUKEBIT/Deep/0xxx")) << lines[1];
    EXPECT_TRUE(lines[1].ends_with("/Album\" : Error 36 (File name too long)")) << lines[1];
    EXPECT_EQ(lines[2], "INFO   : Copying \"COMPUTER/Next/One\"");
    EXPECT_FALSE(fs::exists(m_fixture / "player/Deep"));
    EXPECT_TRUE(SameOnPlayer("Next/One/1"));
}

TEST_F(CopyPassTest, AVanishedSourceFileRemovesTheAlbumAndTheNextIsCopied)
{
    ScanLibrary("computer/A/One/1:10\ncomputer/A/One/2:10\ncomputer/A/One/3:10\ncomputer/B/Two/1:10\n");
    fs::remove(m_fixture / "computer/A/One/2");
    CopyAll();

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/One\"",
                                        "ERROR  : Opening \"COMPUTER/A/One/2\" : Error 2 (No such file or directory)",
                                        "INFO   : Deleting \"JUKEBIT/A/One\"", "INFO   : Copying \"COMPUTER/B/Two\""}));
    EXPECT_FALSE(fs::exists(m_fixture / "player/A"));
    EXPECT_TRUE(SameOnPlayer("B/Two/1"));
    EXPECT_EQ(m_log.m_nAlbumsToCopy, 0);
    EXPECT_EQ(m_progress, 2);
}

// A folder of the album's name made on the player after the scan is someone
// else's: the album is written beside it, and neither merges into it nor,
// cut off half way, leaves part of itself in it.
TEST_F(CopyPassTest, NeverTouchesAFileThatWasThereBefore)
{
    ScanLibrary("computer/A/New/1:10\ncomputer/A/New/2:10\ncomputer/A/New/3:10\n");
    for (const std::string theirs : {"player/A/New/2:4\n", "player/A/New/cover.jpg:4\n"}) {
        SCOPED_TRACE(theirs);
        fs::remove_all(m_fixture / "player/A");
        m_fixture.Create(theirs);
        const auto before = Snapshot("player");
        m_log.Clear();
        std::map<std::string, std::string> whileWriting;
        ArmFault(EFaultPoint::WriteFile, 0, 1, 1, [&] { whileWriting = Snapshot("player/A/New"); });
        CopyAll();
        EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/New\"",
                                                        "ERROR  : Creating \"JUKEBIT/A/New\" : Error 17 (File exists)",
                                                        "INFO   : Deleting \"JUKEBIT/A/New\""}));
        EXPECT_EQ(Snapshot("player"), before);
        EXPECT_EQ(whileWriting.size(), 1u);
        EXPECT_EQ(m_log.m_nAlbumsToCopy, 0);
    }
}

// A folder that appears at the album's place while the album is written is
// never replaced by it, not even an empty one.
TEST_F(CopyPassTest, AFolderThatAppearsMeanwhileIsNeverReplaced)
{
    ScanLibrary("computer/A/New/1:10\n");
    ArmFault(EFaultPoint::SyncFolder, 0, 0, 1, [&] { fs::create_directories(m_fixture / "player/A/New"); });
    CopyAll();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/New\"",
                                                    "ERROR  : Creating \"JUKEBIT/A/New\" : Error 17 (File exists)",
                                                    "INFO   : Deleting \"JUKEBIT/A/New\""}));
    EXPECT_EQ(Snapshot("player"), (std::map<std::string, std::string>{{"A/", ""}, {"A/New/", ""}}));
}

// The removal of the album says nothing of the folder it never made.
TEST_F(CopyPassTest, FailedArtistFolderIsNamedOnce)
{
    ScanLibrary("computer/Artist/New/1:10\n");
    m_fixture.Create("player/Artist:3\n"); // a file where the folder should go
    CopyAll();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Copying \"COMPUTER/Artist/New\"",
                                                    "ERROR  : Creating \"JUKEBIT/Artist\" : Error 17 (File exists)",
                                                    "INFO   : Deleting \"JUKEBIT/Artist/New\""}));
    EXPECT_TRUE(fs::is_regular_file(m_fixture / "player/Artist"));
    EXPECT_EQ(m_log.m_nAlbumsToCopy, 0);
    EXPECT_EQ(m_progress, 1);
}

TEST_F(CopyPassTest, CancelBeforeTheFirstCheckDoesNothing)
{
    ScanLibrary("computer/A/New/1:10\n");
    g_cancelState = 1;
    CopyAll();
    EXPECT_EQ(LogLines(), std::vector<std::string>{"CANCEL : Canceled by user"});
    EXPECT_TRUE(Snapshot("player").empty());
    EXPECT_EQ(m_log.m_nAlbumsToCopy, 1);
}

TEST_F(CopyPassTest, CancelDuringAnAlbumRemovesItAndStops)
{
    ScanLibrary("computer/A/One/1:600000\ncomputer/A/One/2:10\ncomputer/B/Two/1:10\n");
    // Pressed before the first file, inside the big first file, or after the
    // last file: whatever was copied, the album is taken away again.
    int writes = 0;
    const std::function<void()> moments[] = {
        [&] {
            m_onLogLine = [](const CCopyLogEntry& entry) {
                if (entry.m_text == "Copying \"COMPUTER/A/One\"") {
                    g_cancelState = 1;
                }
            };
        },
        [&] { ArmFault(EFaultPoint::WriteFile, 0, 0, -1, [&] { g_cancelState = ++writes == 2 ? 1 : 0; }); },
        [&] { ArmFault(EFaultPoint::SyncFolder, 0, 0, 1, [] { g_cancelState = 1; }); },
    };
    for (const auto& cancelAt : moments) {
        m_log.Clear();
        m_onLogLine = {};
        g_cancelState = 0;
        cancelAt();
        CopyAll();
        DisarmFaults();
        EXPECT_EQ(LogLines(),
                  (std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/One\"", "CANCEL : Canceled by user",
                                            "INFO   : Deleting \"JUKEBIT/A/One\""}));
        EXPECT_TRUE(Snapshot("player").empty());
        EXPECT_EQ(m_log.m_nAlbumsToCopy, 2);
        EXPECT_EQ(m_progress, 0);
    }
    EXPECT_EQ(writes, 2); // the big file was left after its second buffer

    // Pressed while the album's new name is flushed: the album is whole on
    // the player, so it stays and counts.
    m_log.Clear();
    g_cancelState = 0;
    ArmFault(EFaultPoint::SyncFolder, 0, 1, 1, [] { g_cancelState = 1; });
    CopyAll();
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/One\"", "CANCEL : Canceled by user"}));
    EXPECT_TRUE(SameOnPlayer("A/One/1"));
    EXPECT_EQ(m_log.m_nAlbumsToCopy, 1);
    EXPECT_EQ(m_progress, 1);
}

// The computer's library in a folder, or on an external drive formatted exFAT
// or FAT32, read through its FUSE driver: exfat-fuse keeps times to the
// second, fusefat never moves them.
class SourceVolumeTest : public CopyPassTest, public ::testing::WithParamInterface<int>
{
};

// A full disk or a player that is gone cancels the job; any other error fails
// the album only. These are the failures a test machine cannot cause for real.
TEST_P(SourceVolumeTest, ErrorsOfTheCopy)
{
    const std::string full = "CANCEL : Canceled because disk is full";
    const std::string gone = "CANCEL : Canceled because disk is not available";
    struct CCase
    {
        EFaultPoint m_point; // Count: a change before the pass
        int m_error;
        int m_skip;
        std::string m_line;
        std::string m_cancel;
        std::function<void()> m_change = {}; // at the fault's call
        bool m_bOld = false;                 // the source last written an hour ago
    };
    // A source cut short or rewritten while it is read, or grown since the
    // scan: its copy would be torn or short.
    const fs::path source = m_fixture / "computer/A/One/1";
    const std::string changed = "ERROR  : Reading \"COMPUTER/A/One/1\" : Error 116 (Stale file handle)";
    // Rewritten in place, the same size, before and after where the copy has come.
    const auto rewrite = [&] {
        std::fstream file(source, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(10) << "new";
        file.seekp(290000) << "new";
    };
    // Replaced by another file of the same size under its name.
    const auto replace = [&] {
        m_fixture.CreateFile("computer/A/One/new", 300000);
        fs::rename(m_fixture / "computer/A/One/new", source);
    };
    const CCase cases[] = {
        {EFaultPoint::ReadFile, EIO, 1, "ERROR  : Reading \"COMPUTER/A/One/1\" : Error 5 (Input/output error)", ""},
        {EFaultPoint::WriteFile, EFBIG, 0, "ERROR  : Writing \"JUKEBIT/A/One/1\" : Error 27 (File too large)", ""},
        {EFaultPoint::CloseFile, ENOSPC, 1, "ERROR  : Writing \"JUKEBIT/A/One/2\" : Error 28 (No space left on device)",
         full},
        {EFaultPoint::SyncFolder, EDQUOT, 0, "ERROR  : Writing \"JUKEBIT/A/One\" : Error 122 (Disk quota exceeded)",
         full},
        {EFaultPoint::WriteFile, ENOTCONN, 0,
         "ERROR  : Writing \"JUKEBIT/A/One/1\" : Error 107 (Transport endpoint is not connected)", gone},
        {EFaultPoint::SyncFolder, EIO, 0, "ERROR  : Writing \"JUKEBIT/A/One\" : Error 5 (Input/output error)", gone},
        {EFaultPoint::ReadFile, 0, 1, changed, "", [&] { fs::resize_file(source, 5000); }},
        {EFaultPoint::ReadFile, 0, 1, changed, "",
         [&] { std::ofstream(source, std::ios::in | std::ios::out) << "new"; }},
        {EFaultPoint::Count, 0, 0, changed, "", [&] { std::ofstream(source, std::ios::app) << "longer"; }},
        {EFaultPoint::ReadFile, 0, 1, changed, "", rewrite},
        {EFaultPoint::ReadFile, 0, 1, changed, "", rewrite, true},
        {EFaultPoint::ReadFile, 0, 1, changed, "", replace, true},
    };
    m_fixture.Create("computer/\n");
    CScratchVolume volume;
    const std::string failure = GetParam() == 1   ? volume.MountExfat(m_fixture / "computer", 8 << 20)
                                : GetParam() == 2 ? volume.MountFat32(m_fixture / "computer", 64 << 20)
                                                  : "";
    if (!failure.empty()) {
        GTEST_SKIP() << "cannot mount a drive as the computer's library here: " << failure;
    }
    ScanLibrary("computer/A/One/1:300000\ncomputer/A/One/2:10\ncomputer/B/Two/1:10\n");
    m_root.ApplySelection(SELECT_ALL);
    for (const CCase& test : cases) {
        SCOPED_TRACE(test.m_line);
        m_log.Clear();
        m_log.m_nAlbumsToCopy = 2;
        g_cancelState = 0;
        fs::remove_all(m_fixture / "player/B");
        fs::remove(source); // fusefat opens no file to empty it
        m_fixture.CreateFile("computer/A/One/1", 300000);
        if (test.m_bOld) {
            fs::last_write_time(source, fs::file_time_type::clock::now() - std::chrono::hours(1));
        }
        if (test.m_point == EFaultPoint::Count) {
            test.m_change();
        } else {
            ArmFault(test.m_point, test.m_error, test.m_skip, 1, test.m_change);
        }
        Job().CopyPass();
        DisarmFaults();
        const bool canceled = !test.m_cancel.empty();
        const std::vector<std::string> expected =
            canceled ? std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/One\"", test.m_cancel, test.m_line,
                                                "INFO   : Deleting \"JUKEBIT/A/One\""}
                     : std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/One\"", test.m_line,
                                                "INFO   : Deleting \"JUKEBIT/A/One\"",
                                                "INFO   : Copying \"COMPUTER/B/Two\""};
        EXPECT_EQ(LogLines(), expected);
        EXPECT_FALSE(fs::exists(m_fixture / "player/A"));
        EXPECT_EQ(SameOnPlayer("B/Two/1"), !canceled);
        EXPECT_EQ(m_log.m_nAlbumsToCopy, canceled ? 2 : 0);
    }
}

TEST_F(CopyPassTest, OnlyRegularFilesAreCopied)
{
    // Where it can, a small player: a copy of /dev/zero then ends soon on a full disk.
    m_fixture.Create("player/\n");
    CScratchVolume volume;
    volume.Mount(m_fixture / "player", 16 << 20);
    ScanLibrary("computer/A/One/1:10\ncomputer/B/Two/1:10\ncomputer/C/Three/1:10\n");
    // Made after the scan, as the scan would have listed them.
    fs::remove(m_fixture / "computer/A/One/1");
    ASSERT_EQ(mkfifo((m_fixture / "computer/A/One/1").c_str(), 0666), 0);
    fs::remove(m_fixture / "computer/B/Two/1");
    fs::create_symlink("/dev/zero", m_fixture / "computer/B/Two/1");
    CopyAll();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "INFO   : Copying \"COMPUTER/A/One\"",
                              "ERROR  : Opening \"COMPUTER/A/One/1\" : Error 95 (Operation not supported)",
                              "INFO   : Deleting \"JUKEBIT/A/One\"", "INFO   : Copying \"COMPUTER/B/Two\"",
                              "ERROR  : Opening \"COMPUTER/B/Two/1\" : Error 95 (Operation not supported)",
                              "INFO   : Deleting \"JUKEBIT/B/Two\"", "INFO   : Copying \"COMPUTER/C/Three\""}));
    EXPECT_TRUE(SameOnPlayer("C/Three/1"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/A"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/B"));
}

// The same job against a full tmpfs and a full exFAT image.
class FullDiskTest : public CopyPassTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(FullDiskTest, CancelsTheJobAndLeavesNoPartialAlbum)
{
    const bool exfat = GetParam();
    m_fixture.Create("player/\n");
    CScratchVolume volume;
    const std::string failure = exfat ? volume.MountExfat(m_fixture / "player", 4 * 1024 * 1024)
                                      : volume.Mount(m_fixture / "player", 1024 * 1024);
    if (!failure.empty()) {
        GTEST_SKIP() << "cannot mount a small volume as the player here: " << failure;
    }
    const std::string big = exfat ? "1500000" : "400000";
    ScanLibrary("computer/A/Small/1:100000\ncomputer/B/Big/1:" + big + "\ncomputer/B/Big/2:" + big +
                "\ncomputer/B/Big/3:" + big + "\ncomputer/C/Never/1:10\n");
    CopyAll();

    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 5u) << m_log.GetText();
    EXPECT_EQ(lines[0], "INFO   : Copying \"COMPUTER/A/Small\"");
    EXPECT_EQ(lines[1], "INFO   : Copying \"COMPUTER/B/Big\"");
    EXPECT_EQ(lines[2], "CANCEL : Canceled because disk is full");
    EXPECT_EQ(lines[3].substr(0, 32), "ERROR  : Writing \"JUKEBIT/B/Big/");
    EXPECT_EQ(lines[3].substr(lines[3].size() - 36), ": Error 28 (No space left on device)");
    EXPECT_EQ(lines[4], "INFO   : Deleting \"JUKEBIT/B/Big\"");
    EXPECT_TRUE(SameOnPlayer("A/Small/1"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/B"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/C"));
    EXPECT_EQ(m_log.m_nAlbumsToCopy, 2);
}

// A player whose file system has no inode left fails the creation of a folder
// or of a file for real. Every folder the copy made goes again, the artist
// above a folder it could not make too.
TEST_F(CopyPassTest, FullDiskWhenAFolderOrAFileIsCreated)
{
    const struct
    {
        std::uint64_t m_inodes;
        std::string m_album;
        std::string m_line;
    } cases[] = {
        {2, "A/New", "ERROR  : Creating \"JUKEBIT/A/New\" : Error 28 (No space left on device)"},
        {3, "A/New", "ERROR  : Opening \"JUKEBIT/A/New/1\" : Error 28 (No space left on device)"},
        {2, "A/Live/New", "ERROR  : Creating \"JUKEBIT/A/Live\" : Error 28 (No space left on device)"},
    };
    for (const auto& [inodes, album, line] : cases) {
        m_fixture.Create("player/\n");
        CScratchVolume volume;
        if (const std::string failure = volume.Mount(m_fixture / "player", 1 << 20, inodes); !failure.empty()) {
            GTEST_SKIP() << "cannot mount a small volume as the player here: " << failure;
        }
        m_log.Clear();
        g_cancelState = 0;
        m_root.m_children.clear();
        fs::remove_all(m_fixture / "computer");
        ScanLibrary("computer/" + album + "/1:10\ncomputer/B/Next/1:10\n");
        CopyAll();
        EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Copying \"COMPUTER/" + album + "\"",
                                                        "CANCEL : Canceled because disk is full", line,
                                                        "INFO   : Deleting \"JUKEBIT/" + album + "\""}));
        EXPECT_TRUE(Snapshot("player").empty());
        EXPECT_EQ(m_log.m_nAlbumsToCopy, 2);
    }
}

// Debian's FAT32 driver fusefat loses what a folder holds when it renames the
// folder. A copy there fails plainly instead of leaving an empty album, and
// once a rename has lost a folder's entries the job renames no more. A file of
// 4 GiB, which FAT32 cannot hold, is refused before any byte is written.
TEST_F(CopyPassTest, OnAFat32CardThroughFusefatEveryCopyFailsPlainly)
{
    m_fixture.Create("player/\n");
    CScratchVolume volume;
    if (const std::string failure = volume.MountFat32(m_fixture / "player", 64 << 20); !failure.empty()) {
        GTEST_SKIP() << "cannot mount a FAT32 image as the player here: " << failure;
    }
    m_fixture.CreateFile("computer/Big/Set/1.flac", 10);
    m_fixture.CreateFile("computer/Big/Set/2.flac", std::uint64_t{4} << 30);
    ScanLibrary("computer/Small/One/1:10\ncomputer/Small/Two/1:10\n");
    CopyAll();
    const std::string noData = " : Error 61 (No data available)";
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  "INFO   : Copying \"COMPUTER/Big/Set\"",
                  "ERROR  : Writing \"JUKEBIT/Big/Set/2.flac\" : Error 27 (File too large)",
                  "INFO   : Copying \"COMPUTER/Small/One\"", "ERROR  : Writing \"JUKEBIT/Small/One\"" + noData,
                  "INFO   : Deleting \"JUKEBIT/Small/One\"", "INFO   : Copying \"COMPUTER/Small/Two\"",
                  "ERROR  : Creating \"JUKEBIT/Small/Two\"" + noData, "INFO   : Deleting \"JUKEBIT/Small/Two\""}));
    EXPECT_TRUE(Snapshot("player").empty());
    EXPECT_EQ(m_log.m_nAlbumsToCopy, 0);

    // An album to delete, hidden first by a rename that loses its files.
    m_log.Clear();
    m_fixture.Create("player/Old/Album/1:10\n");
    m_root.m_children.clear();
    ASSERT_TRUE(ScanPair());
    OpenPlayer();
    Node(u"Old/Album").ApplySelection(SELECT_NONE);
    Job().DeletePass();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/Old/Album\"",
                                                    "ERROR  : Deleting \"JUKEBIT/Old/Album\"" + noData}));
    EXPECT_TRUE(Snapshot("player").empty());

    // A changed album, whose staged version is renamed and checked before the
    // old one is ever renamed: the old one stays whole.
    m_log.Clear();
    m_fixture.Create("player/Old/Album/1:10\ncomputer/Old/Album/1:12\n");
    m_root.m_children.clear();
    ASSERT_TRUE(ScanPair());
    OpenPlayer();
    Node(u"Old/Album").ApplySelection(SELECT_ALL);
    Node(u"Old/Album").m_bChanged = true;
    const auto before = Snapshot("player");
    Job().CopyPass();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Replacing \"COMPUTER/Old/Album\"",
                                                    "ERROR  : Creating \"JUKEBIT/Old/Album\"" + noData,
                                                    "INFO   : Deleting \"JUKEBIT/Old/.lyrafetch-partial-new\""}));
    EXPECT_EQ(Snapshot("player"), before);
}

std::string SourceVolumeName(const ::testing::TestParamInfo<int>& kind)
{
    static const char* const NAMES[] = {"Folder", "Exfat", "Fat32"};
    return NAMES[kind.param];
}
INSTANTIATE_TEST_SUITE_P(Volumes, SourceVolumeTest, ::testing::Values(0, 1, 2), SourceVolumeName);
INSTANTIATE_TEST_SUITE_P(Volumes, FullDiskTest, ::testing::Values(false, true),
                         [](const auto& volumeKind) { return volumeKind.param ? "Exfat" : "Tmpfs"; });

// On an exFAT card every name arrives under its player name, and the next scan
// knows it again; what the card cannot hold fails plainly, and what was there
// stays. Rows in the tree's order.
TEST_F(CopyPassTest, OnAnExfatPlayerEveryNameArrivesAndIsKnownAgain)
{
    m_fixture.Create("player/\n");
    CScratchVolume volume;
    const std::string failure = volume.MountExfat(m_fixture / "player", 16 * 1024 * 1024);
    if (!failure.empty()) {
        GTEST_SKIP() << "cannot mount an exFAT image as the player here: " << failure;
    }
    struct CRow
    {
        std::string m_album;                                      // below computer/
        std::vector<std::pair<std::string, std::string>> m_files; // the computer's name, the player's ("" none)
        std::vector<std::string> m_lines;                         // after "Copying"
    };
    const std::string exists = " : Error 17 (File exists)";
    // clang-format off
    const CRow rows[] = {
        {"AC-DC/Live: 1992", {{"01.mp3", "AC-DC/Live_ 1992/01.mp3"}}, {}},
        // Names that differ only in case are one name on the card: neither goes
        // into the other's folder.
        {"Band/Good", {{"01.mp3", ""}}, {"ERROR  : Creating \"JUKEBIT/Band/Good\"" + exists}},
        {"Band/good", {{"02.mp3", ""}}, {"ERROR  : Creating \"JUKEBIT/Band/good\"" + exists}},
        {"Band/Live ", {{"1.mp3", "Band/Live_/1.mp3"}}, {}},
        {"Band/Vol. 2.", {{"1.mp3", "Band/Vol. 2_/1.mp3"}}, {}},
        {"Bj\u00F6rk/D\u00E9but", {{"01.mp3", "Bj\u00F6rk/D\u00E9but/01.mp3"}}, {}},
        // Two tracks of one name on the card, beyond A to Z too: refused before
        // anything is written.
        {"Clash/Accents", {{"\u00C9.mp3", ""}, {"\u00E9.mp3", ""}},
         {"ERROR  : Opening \"JUKEBIT/Clash/Accents/\u00E9.mp3\"" + exists}},
        {"Clash/Album", {{"a?.mp3", ""}, {"A_.mp3", ""}},
         {"ERROR  : Opening \"JUKEBIT/Clash/Album/A_.mp3\"" + exists}},
        // A file of the album's manifest's name, in any case.
        {"Clash/Record", {{"1.mp3", ""}, {".LYRAFETCH-album", ""}},
         {"ERROR  : Opening \"JUKEBIT/Clash/Record/.LYRAFETCH-album\"" + exists}},
        // Two folders of one player name, or one that is a folder the card has:
        // neither goes into the other's folder.
        {"Hits/Best?", {{"1.mp3", ""}}, {"ERROR  : Creating \"JUKEBIT/Hits/Best_\"" + exists}},
        {"Hits/Best_", {{"2.mp3", ""}}, {"ERROR  : Creating \"JUKEBIT/Hits/Best_\"" + exists}},
        {"Latin/Album", {{"caf\xE9.mp3", "Latin/Album/caf_.mp3"}}, {}},
        {"Marvin Gaye/What's Going On?", {{"01.mp3", "Marvin Gaye/What's Going On_/01.mp3"}}, {}},
        {"Mix?/Album", {{"1.mp3", ""}}, {"ERROR  : Creating \"JUKEBIT/Mix_\"" + exists}},
        {"Mix_", {{"1.mp3", ""}}, {"ERROR  : Creating \"JUKEBIT/Mix_\"" + exists}},
        {"Queen/A Night at the Opera",
         {{"02 Love of My Life?.mp3", "Queen/A Night at the Opera/02 Love of My Life_.mp3"}}, {}},
        // Into the folder the card has, whichever way the accent is written.
        {"Sigur R\u00F3s/Valtari", {{"1.mp3", "Sigur Ro\u0301s/Valtari/1.mp3"}}, {}},
        {"Soul/Live?", {{"2.mp3", ""}}, {"ERROR  : Creating \"JUKEBIT/Soul/Live_\"" + exists}},
        // The card folds case beyond ASCII: nothing of this goes into its \u00E9vora,
        // and nothing is written.
        {"\u00C9vora/Live", {{"01.mp3", ""}, {"02.mp3", ""}}, {"ERROR  : Creating \"JUKEBIT/\u00C9vora\"" + exists}},
    };
    // clang-format on
    std::string library = "player/\u00E9vora/Live/02.mp3:7\ncomputer/Soul/What's Next?/1.mp3:3\n"
                          "player/Soul/What's Next_/1.mp3:3\ncomputer/Soul/Live_/1.mp3:3\nplayer/Soul/Live_/1.mp3:3\n"
                          "computer/Beyonce\u0301/Lemonade/1.mp3:3\nplayer/Beyonc\u00E9/Lemonade/1.mp3:3\n"
                          "computer/Sigur R\u00F3s/Takk/1.mp3:3\nplayer/Sigur Ro\u0301s/Takk/1.mp3:3\n";
    for (const CRow& row : rows) {
        for (const auto& file : row.m_files) {
            library += "computer/" + row.m_album + "/" + file.first + ":10\n";
        }
    }
    ScanLibrary(library);
    // Already on the card under its player name: one album, on both sides.
    EXPECT_EQ(Node(u"Soul/What's Next?").m_names[SIDE_PLAYER], u"What's Next_");
    // A name written decomposed on one side and composed on the other.
    EXPECT_EQ(Node(u"Beyonce\u0301").m_names[SIDE_PLAYER], u"Beyonc\u00E9");
    EXPECT_EQ(Node(u"Sigur R\u00F3s/Takk").m_names[SIDE_PLAYER], u"Takk");
    const auto before = Snapshot("player");
    CopyAll();

    std::vector<std::string> lines;
    auto expected = before;
    for (const CRow& row : rows) {
        lines.push_back("INFO   : Copying \"COMPUTER/" + row.m_album + "\"");
        lines.insert(lines.end(), row.m_lines.begin(), row.m_lines.end());
        for (const auto& [name, arrives] : row.m_files) {
            if (!arrives.empty()) {
                for (fs::path folder = fs::path(arrives).parent_path(); !folder.empty();
                     folder = folder.parent_path()) {
                    expected[folder.string() + "/"] = "";
                }
                expected[arrives] = ReadFileText(m_fixture / "computer" / row.m_album / name);
            }
        }
    }
    EXPECT_EQ(LogLines(), lines);
    EXPECT_EQ(Snapshot("player"), expected);

    // The next scan knows every album that arrived, and a job of all of them
    // has only the eleven that cannot arrive left to copy.
    m_root.m_children.clear();
    ASSERT_TRUE(ScanPair());
    m_root.ApplySelection(SELECT_ALL);
    EXPECT_EQ(m_root.CountAlbumsToCopy(), 11) << DumpTree(m_root);
    EXPECT_TRUE(Node(u"Marvin Gaye/What's Going On?").IsAlbumToCopy() == false);
}

// A job cut off while it copies one album or deletes another, by a kill of
// its process or by the end of the player's driver when the cable is pulled:
// what it left never looks like an album, and the next job finishes the work.
TEST_F(CopyPassTest, AJobCutOffLeavesNoPartOfAnAlbum)
{
    enum class ECut { KillJob, KillJobOnExfat, PullExfat };
    // At the second buffer of the big file to copy, or at the second file of
    // the album to delete.
    const std::pair<EFaultPoint, int> moments[] = {{EFaultPoint::WriteFile, 2}, {EFaultPoint::RemoveFile, 1}};
    const auto runJob = [&](bool deleteOld) {
        m_root.ApplySelection(SELECT_ALL);
        if (deleteOld) {
            Node(u"Gone/Old").ApplySelection(SELECT_NONE);
        }
        Job().RemoveLeftovers();
        Job().DeletePass();
        Job().CopyPass();
    };
    for (const ECut cut : {ECut::KillJob, ECut::KillJobOnExfat, ECut::PullExfat}) {
        for (const auto& [point, skip] : moments) {
            SCOPED_TRACE(std::to_string(static_cast<int>(cut)) + " at " + std::to_string(static_cast<int>(point)));
            fs::remove_all(m_fixture / "player");
            fs::create_directories(m_fixture / "player");
            CScratchVolume volume;
            if (cut != ECut::KillJob) {
                if (const std::string failure = volume.MountExfat(m_fixture / "player", 16 << 20); !failure.empty()) {
                    GTEST_SKIP() << "cannot mount an exFAT image as the player here: " << failure;
                }
            }
            m_root.m_children.clear();
            ScanLibrary("computer/A/One/1:10\ncomputer/A/One/2:2000000\ncomputer/A/One/3:10\n"
                        "player/Gone/Old/1:10\nplayer/Gone/Old/2:10\nplayer/Gone/Old/3:10\nplayer/Gone/Keep/1:10\n");
            ArmFault(point, 0, skip, 1,
                     [&] { cut == ECut::PullExfat ? volume.KillExfatDriver() : static_cast<void>(raise(SIGKILL)); });
            if (cut == ECut::PullExfat) {
                runJob(true);
                Job().ClosePlayer(); // as the end of the job does: the dead volume then goes
                ASSERT_EQ(volume.PlugExfatAgain(), "");
            } else if (const pid_t job = fork(); job == 0) {
                runJob(true);
                _exit(0);
            } else {
                int status = 0;
                ASSERT_EQ(waitpid(job, &status, 0), job);
                ASSERT_TRUE(WIFSIGNALED(status));
            }
            DisarmFaults();
            g_cancelState = 0;

            m_root.m_children.clear();
            ASSERT_TRUE(ScanPair()) << (m_messages.m_messages.empty() ? "" : m_messages.m_messages.back().m_text);
            OpenPlayer();
            EXPECT_EQ(DumpTree(m_root).find(".lyrafetch"), std::string::npos) << DumpTree(m_root);
            EXPECT_EQ(FindNode(m_root, u"Gone/Old"), nullptr) << DumpTree(m_root);
            EXPECT_EQ(m_root.m_onPlayer, 1) << DumpTree(m_root);
            m_log.Clear();
            runJob(false);
            std::vector<std::string> lines = LogLines();
            EXPECT_EQ(lines.back(), "INFO   : Copying \"COMPUTER/A/One\"");
            lines.pop_back();
            for (const std::string& line : lines) { // what the cut left, wherever it was
                EXPECT_EQ(line.substr(0, 19), "INFO   : Deleting \"") << line;
                EXPECT_NE(line.find(".lyrafetch-partial"), std::string::npos) << line;
            }
            EXPECT_EQ(Snapshot("player"), (std::map<std::string, std::string>{
                                              {"A/", ""},
                                              {"A/One/", ""},
                                              {"A/One/1", ReadFileText(m_fixture / "computer/A/One/1")},
                                              {"A/One/2", ReadFileText(m_fixture / "computer/A/One/2")},
                                              {"A/One/3", ReadFileText(m_fixture / "computer/A/One/3")},
                                              {"Gone/", ""},
                                              {"Gone/Keep/", ""},
                                              {"Gone/Keep/1", CFolderFixture::ContentFor("player/Gone/Keep/1", 10)}}));
        }
    }
}
