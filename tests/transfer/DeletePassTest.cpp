#include "model/FolderNode.h"
#include "platform/FaultInjection.h"
#include "platform/FencedTree.h"
#include "support/JobTest.h"
#include "support/ScratchVolume.h"
#include "support/TreeDump.h"

#include <cerrno>
#include <chrono>
#include <fstream>

namespace fs = std::filesystem;

using DeletePassTest = JobTest;

TEST_F(DeletePassTest, DeletesTheAlbumAndPrunesEmptiedFoldersButNeverTheRoot)
{
    ScanLibrary("player/Artist/Old/01.mp3:3\nplayer/Artist/Old/02.mp3:4\ncomputer/Other/Kept/a:1\n");
    Node(u"Artist/Old").ApplySelection(SELECT_NONE);
    m_log.m_nAlbumsToDelete = m_root.CountAlbumsToDelete();
    Job().DeletePass();

    EXPECT_EQ(LogLines(), std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/Artist/Old\""});
    EXPECT_FALSE(fs::exists(m_fixture / "player/Artist"));
    EXPECT_TRUE(fs::is_directory(m_fixture / "player"));
    EXPECT_EQ(m_log.m_nAlbumsToDelete, 0);
    EXPECT_EQ(m_progress, 1);
    EXPECT_TRUE(fs::exists(m_fixture / "computer/Other/Kept/a"));
}

// A player once plugged into other systems holds their folders: deselecting
// the root deletes every album, and none of them, nor a folder that holds one.
TEST_F(DeletePassTest, FoldersOtherSystemsKeepAreNeverDeleted)
{
    const std::string kept = "player/.Trash-1000/files/Old/01.mp3:1\nplayer/System Volume Information/x:1\n"
                             "player/LOST.DIR/\nplayer/Art/.thumbnails/a.png:1\n";
    ScanLibrary(kept + "player/Art/Old/1:1\nplayer/Band/Live/1:1\n");
    m_root.ApplySelection(SELECT_NONE);
    EXPECT_EQ(m_root.CountAlbumsToDelete(), 2);
    const auto before = Snapshot("player");
    Job().DeletePass();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/Art/Old\"",
                                                    "INFO   : Deleting \"JUKEBIT/Band/Live\""}));
    auto expected = before;
    std::erase_if(expected, [](const auto& entry) {
        return entry.first.starts_with("Art/Old") || entry.first.starts_with("Band/");
    });
    EXPECT_EQ(Snapshot("player"), expected);
}

TEST_F(DeletePassTest, AnArtistFolderThatHoldsAnythingElseStays)
{
    ScanLibrary("player/A/Old/1:1\nplayer/A/Other/1:1\nplayer/B/Old/1:1\nplayer/B/cover.jpg:9\n"
                "computer/C/New/1:1\nplayer/D/E/Old/1:1\n");
    for (const char16_t* album : {u"A/Old", u"B/Old", u"D/E/Old"}) {
        Node(album).ApplySelection(SELECT_NONE);
    }
    Job().DeletePass();

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/A/Old\"", "INFO   : Deleting \"JUKEBIT/B/Old\"",
                                        "INFO   : Deleting \"JUKEBIT/D/E/Old\""}));
    EXPECT_EQ(Snapshot("player"), (std::map<std::string, std::string>{
                                      {"A/", ""},
                                      {"A/Other/", ""},
                                      {"A/Other/1", CFolderFixture::ContentFor("player/A/Other/1", 1)},
                                      {"B/", ""},
                                      {"B/cover.jpg", CFolderFixture::ContentFor("player/B/cover.jpg", 9)}}));
    EXPECT_EQ(m_progress, 3);
}

TEST_F(DeletePassTest, AlbumsStillWantedOrOnlyOnTheComputerAreLeftAlone)
{
    ScanLibrary("player/A/Keep/1:1\ncomputer/B/New/1:1\n");
    const auto before = Snapshot("player");
    Job().DeletePass();
    EXPECT_TRUE(m_log.m_entries.empty());
    EXPECT_EQ(Snapshot("player"), before);
    EXPECT_EQ(m_progress, 0);
}

TEST_F(DeletePassTest, ChangesSinceTheScan)
{
    ScanLibrary("player/A/Gone/1:1\nplayer/B/Grown/1:1\nplayer/B/Grown/2:1\nplayer/C/Added/1:1\n"
                "player/D/Rewritten/1:1\nplayer/E/Resized/1:1\n");
    m_root.ApplySelection(SELECT_NONE);
    fs::remove_all(m_fixture / "player/A/Gone");
    fs::create_directory(m_fixture / "player/B/Grown/Bonus");
    // A file the user did not see when choosing, or another player's album
    // of the same name: the folder is not the one chosen, and stays whole.
    m_fixture.Create("player/C/Added/2:1\n");
    // ... or a file of the same name and size rewritten since.
    const fs::path rewritten = m_fixture / "player/D/Rewritten/1";
    const auto written = fs::last_write_time(rewritten);
    std::ofstream(rewritten) << "x";
    fs::last_write_time(rewritten, written + std::chrono::seconds(1));
    // ... or one of another size with the same time.
    const fs::path resized = m_fixture / "player/E/Resized/1";
    const auto resizedTime = fs::last_write_time(resized);
    std::ofstream(resized) << "xy";
    fs::last_write_time(resized, resizedTime);
    m_log.m_nAlbumsToDelete = 5;
    Job().DeletePass();

    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "INFO   : Deleting \"JUKEBIT/A/Gone\"",
                              "ERROR  : Opening \"JUKEBIT/A/Gone\" : Error 2 (No such file or directory)",
                              "INFO   : Deleting \"JUKEBIT/B/Grown\"", "INFO   : Deleting \"JUKEBIT/C/Added\"",
                              "ERROR  : Deleting \"JUKEBIT/C/Added\" : Error 116 (Stale file handle)",
                              "INFO   : Deleting \"JUKEBIT/D/Rewritten\"",
                              "ERROR  : Deleting \"JUKEBIT/D/Rewritten\" : Error 116 (Stale file handle)",
                              "INFO   : Deleting \"JUKEBIT/E/Resized\"",
                              "ERROR  : Deleting \"JUKEBIT/E/Resized\" : Error 116 (Stale file handle)"}));
    // The album's files go; the folder with its new sub-folder and the artist stay.
    EXPECT_EQ(Snapshot("player"),
              (std::map<std::string, std::string>{{"A/", ""},
                                                  {"B/", ""},
                                                  {"B/Grown/", ""},
                                                  {"B/Grown/Bonus/", ""},
                                                  {"C/", ""},
                                                  {"C/Added/", ""},
                                                  {"C/Added/1", CFolderFixture::ContentFor("player/C/Added/1", 1)},
                                                  {"C/Added/2", CFolderFixture::ContentFor("player/C/Added/2", 1)},
                                                  {"D/", ""},
                                                  {"D/Rewritten/", ""},
                                                  {"D/Rewritten/1", "x"},
                                                  {"E/", ""},
                                                  {"E/Resized/", ""},
                                                  {"E/Resized/1", "xy"}}));
    EXPECT_EQ(m_log.m_nAlbumsToDelete, 0);
    EXPECT_EQ(m_progress, 5);
}

// A computer folder that is a folder of the player's tree, through a link or
// a bind mount, at the same place or elsewhere, would show the player's
// albums as the computer's: deleting one on the player would take the
// computer's too, and so would deleting a player file that a computer file
// is a link to. The scan leaves it out and says so, and nothing below it is
// deleted; the log says why.
TEST_F(DeletePassTest, AnAlbumThatIsTheComputersOwnFolderStays)
{
    for (const bool bMount : {false, true}) {
        SCOPED_TRACE(bMount ? "bind mounts" : "links");
        fs::remove_all(m_fixture / "computer");
        m_fixture.Create("computer/Jazz/Live/\ncomputer/Podcasts/\ncomputer/OnCard/\ncomputer/Rock/Old/1:1\n"
                         "computer/Pop/New/1:1\ncomputer/Blues/Slow/1:1\n");
        m_fixture.Create("player/\n");
        CScratchVolume card;
        CScratchVolume mounts[4];
        if (const std::string failure = card.Mount(m_fixture / "player", 1 << 20); !failure.empty()) {
            GTEST_SKIP() << "cannot mount a small volume as the player here: " << failure;
        }
        m_fixture.Create("player/Podcasts/Show/1:1\nplayer/Podcasts/Talk/1:1\nplayer/Jazz/Live/1:1\n"
                         "player/Jazz/X/1:1\nplayer/Rock/Old/1:1\nplayer/Blues/Slow/1:1\nplayer/Soul/Gone/1:1\n");
        // A track of another album on the computer is a link to this one's.
        fs::create_symlink(m_fixture / "player/Soul/Gone/1", m_fixture / "computer/Pop/New/2");
        const char* const links[][2] = {
            {"Podcasts", "Podcasts"}, {"Jazz/Live", "Jazz/Live"}, {"Jazz", "OnCard"}, {"Blues/Slow/1", "Blues/Slow/1"}};
        for (int i = 0; i < 4; ++i) {
            const fs::path target = m_fixture / "player" / links[i][0];
            const fs::path link = m_fixture / "computer" / links[i][1];
            if (bMount) {
                ASSERT_EQ(mounts[i].Bind(target, link), "");
            } else {
                fs::remove(link);
                fs::create_directory_symlink(target, link);
            }
        }
        m_root.m_children.clear();
        m_root.m_sizeDelta = 0; // of the selection of the case before
        ASSERT_TRUE(ScanPair());
        EXPECT_EQ(m_record.m_leftOut, (std::vector<CLeftOutFolder>{{"COMPUTER/Jazz/Live", CLeftOutFolder::ON_PLAYER},
                                                                   {"COMPUTER/OnCard", CLeftOutFolder::ON_PLAYER},
                                                                   {"COMPUTER/Podcasts", CLeftOutFolder::ON_PLAYER}}));
        EXPECT_EQ(DumpTree(m_root), "Root M sel=7 on=7 albums=8\n"
                                    "  Blues|Blues C sel=1 on=1 albums=1\n"
                                    "    Slow|Slow C sel=1 on=1 albums=1\n"
                                    "  Jazz|Jazz P sel=2 on=2 albums=2\n"
                                    "    |Live P sel=1 on=1 albums=1\n"
                                    "    |X P sel=1 on=1 albums=1\n"
                                    "  |Podcasts P sel=2 on=2 albums=2\n"
                                    "    |Show P sel=1 on=1 albums=1\n"
                                    "    |Talk P sel=1 on=1 albums=1\n"
                                    "  Pop| C sel=0 on=0 albums=1\n"
                                    "    New| C sel=0 on=0 albums=1\n"
                                    "  Rock|Rock C sel=1 on=1 albums=1\n"
                                    "    Old|Old C sel=1 on=1 albums=1\n"
                                    "  |Soul P sel=1 on=1 albums=1\n"
                                    "    |Gone P sel=1 on=1 albums=1\n");
        OpenPlayer();
        m_root.ApplySelection(SELECT_NONE);
        const auto kept = Snapshot("player/Podcasts");
        m_log.Clear();
        Job().DeletePass();
        Job().CopyPass();
        const std::string loop = " : Error 40 (Too many levels of symbolic links)";
        EXPECT_EQ(
            LogLines(),
            (std::vector<std::string>{
                "INFO   : Deleting \"JUKEBIT/Blues/Slow\"", "ERROR  : Deleting \"JUKEBIT/Blues/Slow\"" + loop,
                "INFO   : Deleting \"JUKEBIT/Jazz/Live\"", "ERROR  : Deleting \"JUKEBIT/Jazz/Live\"" + loop,
                "INFO   : Deleting \"JUKEBIT/Jazz/X\"", "ERROR  : Deleting \"JUKEBIT/Jazz/X\"" + loop,
                "INFO   : Deleting \"JUKEBIT/Podcasts/Show\"", "ERROR  : Deleting \"JUKEBIT/Podcasts/Show\"" + loop,
                "INFO   : Deleting \"JUKEBIT/Podcasts/Talk\"", "ERROR  : Deleting \"JUKEBIT/Podcasts/Talk\"" + loop,
                "INFO   : Deleting \"JUKEBIT/Rock/Old\"", "INFO   : Deleting \"JUKEBIT/Soul/Gone\"",
                "ERROR  : Deleting \"JUKEBIT/Soul/Gone\"" + loop}));
        EXPECT_EQ(Snapshot("player/Podcasts"), kept);
        EXPECT_TRUE(fs::exists(m_fixture / "player/Jazz/Live/1"));
        EXPECT_TRUE(fs::exists(m_fixture / "player/Jazz/X/1"));
        EXPECT_FALSE(fs::exists(m_fixture / "player/Rock"));
        EXPECT_TRUE(fs::exists(m_fixture / "computer/Rock/Old/1"));
        EXPECT_TRUE(fs::exists(m_fixture / "computer/Blues/Slow/1"));
        EXPECT_TRUE(fs::exists(m_fixture / "computer/Pop/New/2"));
    }
}

// What a job cut off left goes first in the next job, and so do the folders
// that this leaves empty. A folder of that name that holds a sub-folder is
// not one a job made: it keeps what it holds. One that a running job holds,
// or one gone since the scan, is no leftover.
TEST_F(DeletePassTest, LeftoversGoFirst)
{
    ScanLibrary("player/A/.lyrafetch-partial/1:1\nplayer/B/Keep/1:1\nplayer/B/.lyrafetch-partial/Sub/x:1\n"
                "player/B/.lyrafetch-partial/notes.txt:1\nplayer/C/Keep/1:1\nplayer/C/.lyrafetch-partial/1:1\n"
                "player/D/Keep/1:1\nplayer/D/.lyrafetch-partial/\n");
    EXPECT_EQ(DumpTree(m_root).find(".lyrafetch"), std::string::npos);
    CFolderHandle inUse; // as the job that writes into it holds it
    ASSERT_EQ(inUse.OpenRoot(FromNativeName((m_fixture / "player/C/.lyrafetch-partial").native())), 0);
    ASSERT_EQ(inUse.Lock(), 0);
    fs::remove(m_fixture / "player/D/.lyrafetch-partial");
    const auto before = Snapshot("player");
    // A held nothing but the leftover: an album of the tree, gone with it.
    Node(u"A").ApplySelection(SELECT_NONE);
    Job().RemoveLeftovers();
    Job().DeletePass();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "INFO   : Deleting \"JUKEBIT/A/.lyrafetch-partial\"",
                              "INFO   : Deleting \"JUKEBIT/B/.lyrafetch-partial\"",
                              "ERROR  : Deleting \"JUKEBIT/B/.lyrafetch-partial\" : Error 39 (Directory not empty)",
                              "INFO   : Deleting \"JUKEBIT/A\""}));
    auto expected = before;
    std::erase_if(expected, [](const auto& entry) { return entry.first.starts_with("A/"); });
    EXPECT_EQ(Snapshot("player"), expected);
}

TEST_F(DeletePassTest, AFileThatCannotBeDeletedKeepsItsFolder)
{
    ScanLibrary("player/A/Old/1:1\nplayer/A/Old/2:1\nplayer/B/Next/1:1\n");
    m_root.ApplySelection(SELECT_NONE);
    ArmFault(EFaultPoint::RemoveFile, EACCES);
    Job().DeletePass();

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/A/Old\"",
                                        "ERROR  : Deleting \"JUKEBIT/A/Old/1\" : Error 13 (Permission denied)",
                                        "ERROR  : Deleting \"JUKEBIT/A/Old\" : Error 39 (Directory not empty)",
                                        "INFO   : Deleting \"JUKEBIT/B/Next\""}));
    EXPECT_TRUE(fs::exists(m_fixture / "player/A/Old/1"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/A/Old/2"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/B"));
}

// A player pulled out stops the job at once instead of failing every album.
TEST_F(DeletePassTest, APlayerThatIsGoneCancelsTheJob)
{
    ScanLibrary("player/A/Old/1:1\nplayer/A/Old/2:1\nplayer/B/Next/1:1\n");
    m_root.ApplySelection(SELECT_NONE);
    ArmFault(EFaultPoint::RemoveFile, ENODEV, 0, -1);
    Job().DeletePass();
    Job().CopyPass();

    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "INFO   : Deleting \"JUKEBIT/A/Old\"", "CANCEL : Canceled because disk is not available",
                              "ERROR  : Deleting \"JUKEBIT/A/Old/1\" : Error 19 (No such device)",
                              "ERROR  : Deleting \"JUKEBIT/A/Old/2\" : Error 19 (No such device)",
                              "ERROR  : Deleting \"JUKEBIT/A/Old\" : Error 39 (Directory not empty)"}));
    EXPECT_TRUE(fs::exists(m_fixture / "player/B/Next/1"));
    EXPECT_EQ(m_progress, 1);
}

TEST_F(DeletePassTest, CancelIsSeenAtTheNextNode)
{
    ScanLibrary("player/A/One/1:1\nplayer/A/Two/1:1\nplayer/B/Three/1:1\n");
    m_root.ApplySelection(SELECT_NONE);
    // Requested while the first album is being deleted: that album is finished.
    m_onLogLine = [](const CCopyLogEntry& entry) {
        if (entry.m_text == "Deleting \"JUKEBIT/A/One\"") {
            g_cancelState = 1;
        }
    };
    Job().DeletePass();
    Job().CopyPass();
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/A/One\"", "CANCEL : Canceled by user"}));
    EXPECT_FALSE(fs::exists(m_fixture / "player/A/One"));
    EXPECT_TRUE(fs::exists(m_fixture / "player/A/Two/1"));
    EXPECT_EQ(m_progress, 1);
}

// A link or a mount on the player may lead anywhere, into the computer's own
// folder too: the job never crosses one, whether the scan saw it or it was
// made since.
TEST_F(DeletePassTest, LinksAndMountsOnThePlayerAreNeverCrossed)
{
    struct CCase
    {
        std::string m_player; // the player's folders, before the link is made
        std::string m_link;   // a link on the player, made before or after the scan
        std::string m_target; // below the fixture
        bool m_bAfterScan;
        bool m_bMount; // the target mounted at m_link instead
        std::vector<std::pair<std::u16string, int>> m_toggles;
        std::vector<std::string> m_lines;
    };
    const std::string notADirectory = " : Error 20 (Not a directory)";
    const std::string exists = " : Error 17 (File exists)";
    const std::string crossDevice = " : Error 18 (Invalid cross-device link)";
    // clang-format off
    const CCase cases[] = {
        // A link to a file in an album: the link goes, never what it leads to.
        {"player/Art/Old/1:1", "Art/Old/2", "outside/Old/1", false, false, {{u"Art/Old", SELECT_NONE}},
         {"INFO   : Deleting \"JUKEBIT/Art/Old\""}},
        {"player/Art/x:1", "Art/Old", "outside/Old", false, false, {{u"Art/Old", SELECT_NONE}},
         {"INFO   : Deleting \"JUKEBIT/Art/Old\"", "ERROR  : Opening \"JUKEBIT/Art/Old\"" + notADirectory}},
        {"player/", "Art", "computer/Art", false, false, {{u"Art/Old", SELECT_NONE}},
         {"INFO   : Deleting \"JUKEBIT/Art/Old\"", "ERROR  : Opening \"JUKEBIT/Art/Old\"" + notADirectory}},
        {"player/Art/x:1", "Art/New", "outside/Old", true, false, {{u"Art/New", SELECT_ALL}},
         {"INFO   : Copying \"COMPUTER/Art/New\"", "ERROR  : Creating \"JUKEBIT/Art/New\"" + exists,
          "INFO   : Deleting \"JUKEBIT/Art/New\""}},
        {"player/", "Art", "computer/Art", true, false, {{u"Art/New", SELECT_ALL}},
         {"INFO   : Copying \"COMPUTER/Art/New\"", "ERROR  : Creating \"JUKEBIT/Art\"" + exists,
          "INFO   : Deleting \"JUKEBIT/Art/New\""}},
        {"player/", "Top", "outside/Top", false, false, {{u"Top/Art/Old", SELECT_NONE}},
         {"INFO   : Deleting \"JUKEBIT/Top/Art/Old\"", "ERROR  : Opening \"JUKEBIT/Top/Art/Old\"" + notADirectory}},
        {"player/Top/Art/Old/1:1", "Top", "outside/Top", true, false,
         {{u"Top/Art/Old", SELECT_NONE}, {u"Top/Art/New", SELECT_ALL}},
         {"INFO   : Deleting \"JUKEBIT/Top/Art/Old\"", "ERROR  : Opening \"JUKEBIT/Top/Art/Old\"" + notADirectory,
          "INFO   : Copying \"COMPUTER/Top/Art/New\"", "ERROR  : Creating \"JUKEBIT/Top\"" + exists,
          "INFO   : Deleting \"JUKEBIT/Top/Art/New\""}},
        {"player/Art/Old/", "Art/Old", "computer/Art/Old", false, true, {{u"Art/Old", SELECT_NONE}},
         {"INFO   : Deleting \"JUKEBIT/Art/Old\"", "ERROR  : Opening \"JUKEBIT/Art/Old\"" + crossDevice}},
        {"player/Backup/", "Backup", "computer/Art", false, true, {{u"Backup/Old", SELECT_NONE}},
         {"INFO   : Deleting \"JUKEBIT/Backup/Old\"", "ERROR  : Opening \"JUKEBIT/Backup/Old\"" + crossDevice}},
        {"player/Art/", "Art", "outside/Top", true, true, {{u"Art/New", SELECT_ALL}},
         {"INFO   : Copying \"COMPUTER/Art/New\"", "ERROR  : Creating \"JUKEBIT/Art/New\"" + crossDevice,
          "INFO   : Deleting \"JUKEBIT/Art/New\"", "ERROR  : Opening \"JUKEBIT/Art\"" + crossDevice}},
    };
    // clang-format on
    m_fixture.Create("computer/Art/New/1:1\ncomputer/Art/Old/1:1\ncomputer/Top/Art/New/1:1\n"
                     "outside/Old/1:1\noutside/Top/Art/Old/1:1\n");
    const auto computer = Snapshot("computer");
    const auto outside = Snapshot("outside");
    for (const CCase& test : cases) {
        SCOPED_TRACE(test.m_lines.front() + " with the link or mount " + test.m_link);
        fs::remove_all(m_fixture / "player");
        m_fixture.Create(test.m_player);
        CScratchVolume mount; // gone before the next case removes the player
        const auto makeLink = [&] {
            if (test.m_bMount) {
                if (const std::string failure =
                        mount.Bind(m_fixture / test.m_target, m_fixture / "player" / test.m_link);
                    !failure.empty()) {
                    GTEST_SKIP() << "cannot mount here: " << failure;
                }
                return;
            }
            fs::remove_all(m_fixture / "player" / test.m_link);
            fs::create_directory_symlink(m_fixture / test.m_target, m_fixture / "player" / test.m_link);
        };
        if (!test.m_bAfterScan) {
            makeLink();
        }
        m_root.m_children.clear();
        ASSERT_TRUE(ScanPair());
        // One that leads into the computer's folder is no reason to leave a computer folder out.
        EXPECT_TRUE(m_record.m_leftOut.empty());
        OpenPlayer();
        if (test.m_bAfterScan) {
            makeLink();
        }
        for (const auto& [album, mode] : test.m_toggles) {
            Node(album).ApplySelection(mode);
        }
        m_log.Clear();
        Job().DeletePass();
        Job().CopyPass();
        EXPECT_EQ(LogLines(), test.m_lines);
        EXPECT_EQ(Snapshot("computer"), computer);
        EXPECT_EQ(Snapshot("outside"), outside);
    }
}
