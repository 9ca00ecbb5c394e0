#include "model/FolderNode.h"
#include "platform/FaultInjection.h"
#include "support/JobTest.h"

#include <cerrno>

namespace fs = std::filesystem;

using DeletePassTest = JobTest;

TEST_F(DeletePassTest, DeletesTheAlbumAndPrunesEmptiedFoldersButNeverTheRoot)
{
    ScanLibrary("player/Artist/Old/01.mp3:3\nplayer/Artist/Old/02.mp3:4\ncomputer/Other/Kept/a:1\n");
    Node(u"Artist/Old").ApplySelection(SELECT_NONE);
    m_log.m_nAlbumsToDelete = m_root.CountAlbumsToDelete();
    m_root.DeletePass(m_log);

    EXPECT_EQ(LogLines(), std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/Artist/Old\""});
    EXPECT_FALSE(fs::exists(m_fixture / "player/Artist"));
    EXPECT_TRUE(fs::is_directory(m_fixture / "player"));
    EXPECT_EQ(m_log.m_nAlbumsToDelete, 0);
    EXPECT_EQ(m_progress, 1);
    EXPECT_TRUE(fs::exists(m_fixture / "computer/Other/Kept/a"));
}

TEST_F(DeletePassTest, AnArtistFolderThatHoldsAnythingElseStays)
{
    ScanLibrary("player/A/Old/1:1\nplayer/A/Other/1:1\nplayer/B/Old/1:1\nplayer/B/cover.jpg:9\n"
                "computer/C/New/1:1\nplayer/D/E/Old/1:1\n");
    for (const char16_t* album : {u"A/Old", u"B/Old", u"D/E/Old"}) {
        Node(album).ApplySelection(SELECT_NONE);
    }
    m_root.DeletePass(m_log);

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
    m_root.DeletePass(m_log);
    EXPECT_TRUE(m_log.m_entries.empty());
    EXPECT_EQ(Snapshot("player"), before);
    EXPECT_EQ(m_progress, 0);
}

TEST_F(DeletePassTest, ChangesSinceTheScan)
{
    ScanLibrary("player/A/Gone/1:1\nplayer/B/Grown/1:1\nplayer/B/Grown/2:1\n");
    m_root.ApplySelection(SELECT_NONE);
    fs::remove_all(m_fixture / "player/A/Gone");
    fs::create_directory(m_fixture / "player/B/Grown/Bonus");
    m_log.m_nAlbumsToDelete = 2;
    m_root.DeletePass(m_log);

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/A/Gone\"",
                                        "ERROR  : Opening \"JUKEBIT/A/Gone\" : Error 2 (No such file or directory)",
                                        "INFO   : Deleting \"JUKEBIT/B/Grown\""}));
    // The album's files go; the folder with its new sub-folder and the artist stay.
    EXPECT_EQ(Snapshot("player"),
              (std::map<std::string, std::string>{{"A/", ""}, {"B/", ""}, {"B/Grown/", ""}, {"B/Grown/Bonus/", ""}}));
    EXPECT_EQ(m_log.m_nAlbumsToDelete, 0);
    EXPECT_EQ(m_progress, 2);
}

TEST_F(DeletePassTest, AFileThatCannotBeDeletedKeepsItsFolder)
{
    ScanLibrary("player/A/Old/1:1\nplayer/A/Old/2:1\nplayer/B/Next/1:1\n");
    m_root.ApplySelection(SELECT_NONE);
    ArmFault(EFaultPoint::RemoveFile, EACCES);
    m_root.DeletePass(m_log);

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/A/Old\"",
                                        "ERROR  : Deleting \"JUKEBIT/A/Old/1\" : Error 13 (Permission denied)",
                                        "ERROR  : Deleting \"JUKEBIT/A/Old\" : Error 39 (Directory not empty)",
                                        "INFO   : Deleting \"JUKEBIT/B/Next\""}));
    EXPECT_TRUE(fs::exists(m_fixture / "player/A/Old/1"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/A/Old/2"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/B"));
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
    m_root.DeletePass(m_log);
    m_root.CopyPass(m_log);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/A/One\"", "CANCEL : Canceled by user"}));
    EXPECT_FALSE(fs::exists(m_fixture / "player/A/One"));
    EXPECT_TRUE(fs::exists(m_fixture / "player/A/Two/1"));
    EXPECT_EQ(m_progress, 1);
}

TEST_F(DeletePassTest, AnAlbumFolderThatIsALinkIsNotEmptied)
{
    ScanLibrary("elsewhere/Album/1:1\nplayer/Artist/\n");
    fs::create_directory_symlink(m_fixture / "elsewhere/Album", m_fixture / "player/Artist/Linked");
    m_root.m_children.clear();
    ASSERT_TRUE(ScanPair());
    m_root.ApplySelection(SELECT_NONE);
    m_root.DeletePass(m_log);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/Artist/Linked\"",
                                        "ERROR  : Opening \"JUKEBIT/Artist/Linked\" : Error 20 (Not a directory)"}));
    EXPECT_TRUE(fs::exists(m_fixture / "elsewhere/Album/1"));
}
