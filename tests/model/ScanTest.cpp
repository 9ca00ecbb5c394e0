#include "model/FolderNode.h"

#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "support/ScannedPairTest.h"
#include "support/TreeDump.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

using ScanTest = ScannedPairTest;

TEST_F(ScanTest, MergesFoldersByNameWithAsciiCaseFolded)
{
    m_fixture.Create(R"(
        computer/ABBA/Gold/01.mp3:10
        computer/ABBA/Arrival/01.mp3:20
        computer/Abba/Waterloo/
        player/abba/Gold/01.mp3:10
        player/abba/Gold/extra.mp3:5
        computer/Évora/Live/
        player/évora/Live/
        player/Zappa/Apostrophe/a.mp3:1
        player/Zappa/Hot Rats/b.mp3:1
        computer/Yes/Fragile/
        player/Yes/Close/
    )");
    ASSERT_TRUE(ScanPair());
    EXPECT_TRUE(m_messages.m_messages.empty());
    // Two folders of one side are never one node, even where only case tells them apart.
    EXPECT_EQ(DumpTree(m_root), R"(Root M sel=5 on=5 albums=9
  ABBA|abba C sel=1 on=1 albums=2
    Arrival| C sel=0 on=0 albums=1
    Gold|Gold C sel=1 on=1 albums=1
  Abba| C sel=0 on=0 albums=1
    Waterloo| C sel=0 on=0 albums=1
  Yes|Yes M sel=1 on=1 albums=2
    |Close P sel=1 on=1 albums=1
    Fragile| C sel=0 on=0 albums=1
  |Zappa P sel=2 on=2 albums=2
    |Apostrophe P sel=1 on=1 albums=1
    |Hot Rats P sel=1 on=1 albums=1
  Évora| C sel=0 on=0 albums=1
    Live| C sel=0 on=0 albums=1
  |évora P sel=1 on=1 albums=1
    |Live P sel=1 on=1 albums=1
)");
    // An album on both sides keeps each side's files, not compared.
    const CFolderNode& gold = Node(u"ABBA/Gold");
    EXPECT_EQ(gold.m_files[SIDE_COMPUTER].size(), 1u);
    EXPECT_EQ(gold.m_files[SIDE_PLAYER].size(), 2u);
    EXPECT_EQ(Node(u"ABBA").GetPath(SIDE_PLAYER, false), FromNativeName((m_fixture / "player/abba").native()));
    EXPECT_EQ(Node(u"ABBA").GetDisplayName(), "ABBA");
}

TEST_F(ScanTest, RecordsFilesWithSizesEverywhereButCountsOnlyAlbums)
{
    m_fixture.Create(R"(
        computer/readme.txt:3
        computer/Artist/cover.jpg:4
        computer/Artist/Album/02.mp3:2
        computer/Artist/Album/01.mp3:1
        computer/Artist/Empty/
        computer/.../x:1
        computer/Metallica/...And Justice for All/01.mp3:1
        computer/Slipknot/.5: The Gray Chapter/01.mp3:1
        computer/Artist/.thumbnails/a.png:1
        computer/$Recycle.Bin/S-1-5/x:1
        player/.Trash-1000/files/Old/01.mp3:1
        player/System Volume Information/IndexerVolumeGuid:1
        player/LOST.DIR/
        player/RECYCLER/
        player/lost+found/
    )");
    // A folder the scan could not read, were it to enter it.
    std::filesystem::create_directory_symlink("..", m_fixture / "player/lost+found/loop");
    m_fixture.CreateFile("computer/Big/Set/huge.flac", 3221225472u);
    m_fixture.CreateFile("computer/Big/Set/larger.flac", 5000000000u);
    ASSERT_TRUE(ScanPair());

    ASSERT_EQ(m_root.m_files[SIDE_COMPUTER].size(), 1u);
    EXPECT_EQ(m_root.m_files[SIDE_COMPUTER][0].m_name, u"readme.txt");
    EXPECT_EQ(Node(u"Artist").m_files[SIDE_COMPUTER].size(), 1u);
    EXPECT_TRUE(Node(u"Artist").m_files[SIDE_PLAYER].empty());
    const auto& tracks = Node(u"Artist/Album").m_files[SIDE_COMPUTER];
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].m_name, u"01.mp3");
    EXPECT_EQ(tracks[1].m_size, 2u);
    EXPECT_TRUE(Node(u"Artist/Empty").IsAlbum());
    EXPECT_TRUE(Node(u"Artist/Empty").m_files[SIDE_COMPUTER].empty());
    // Folders other systems keep on a drive are no part of the tree, and the
    // record lists them; albums whose names begin with dots are.
    std::vector<std::u16string> top;
    for (const auto& child : m_root.m_children) {
        top.push_back(child->GetKeyName());
    }
    EXPECT_EQ(top, (std::vector<std::u16string>{u"...", u"Artist", u"Big", u"Metallica", u"Slipknot"}));
    EXPECT_EQ(Node(u"Artist").m_children.size(), 2u);
    EXPECT_EQ(Node(u"Metallica/...And Justice for All").m_files[SIDE_COMPUTER].size(), 1u);
    EXPECT_TRUE(Node(u"Slipknot/.5: The Gray Chapter").IsAlbum());
    std::vector<std::string> leftOut;
    for (const CLeftOutFolder& folder : m_record.m_leftOut) {
        EXPECT_EQ(folder.m_reason, CLeftOutFolder::OTHER_SYSTEMS);
        leftOut.push_back(folder.m_display);
    }
    EXPECT_EQ(leftOut, (std::vector<std::string>{"COMPUTER/$Recycle.Bin", "JUKEBIT/.Trash-1000", "JUKEBIT/lost+found",
                                                 "JUKEBIT/LOST.DIR", "JUKEBIT/RECYCLER",
                                                 "JUKEBIT/System Volume Information", "COMPUTER/Artist/.thumbnails"}));

    const auto& big = Node(u"Big/Set").m_files[SIDE_COMPUTER];
    ASSERT_EQ(big.size(), 2u);
    EXPECT_EQ(big[0].m_size, 3221225472u);
    EXPECT_EQ(big[1].m_size, 5000000000u);
    EXPECT_EQ(m_root.m_albums, 6);
    EXPECT_EQ(m_root.m_onPlayer, 0);
    EXPECT_EQ(m_root.m_sizeDelta, 0);
}

TEST_F(ScanTest, ChildrenComeInNameOrderWhateverTheListingOrder)
{
    // Many names created in reverse, so the file system's own order is not sorted.
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back((i % 2 ? "m" : "N") + std::to_string(i));
    }
    names.insert(names.end(), {"_Misc", "ABBA", "abc10", "abc2"});
    m_fixture.Create("computer/\n");
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        m_fixture.Create("player/" + *it + "/\nplayer/files/" + *it + ".mp3:1\n");
    }
    ASSERT_TRUE(ScanPair());
    for (std::size_t i = 1; i < m_root.m_children.size(); ++i) {
        EXPECT_LT(CompareNames(m_root.m_children[i - 1]->GetKeyName(), m_root.m_children[i]->GetKeyName()), 0);
    }
    EXPECT_EQ(m_root.m_children[0]->GetKeyName(), u"_Misc");
    EXPECT_EQ(m_root.m_children[1]->GetKeyName(), u"ABBA");
    EXPECT_EQ(m_root.m_children[2]->GetKeyName(), u"abc10");
    EXPECT_EQ(m_root.m_children[3]->GetKeyName(), u"abc2");
    const auto& files = Node(u"files").m_files[SIDE_PLAYER];
    for (std::size_t i = 1; i < files.size(); ++i) {
        EXPECT_LT(CompareNames(files[i - 1].m_name, files[i].m_name), 0);
    }
}

TEST_F(ScanTest, MissingRootShowsOneMessageAndFails)
{
    m_fixture.Create("player/Artist/Album/\n");
    EXPECT_FALSE(ScanPair("absent", "player"));
    const std::string path = (m_fixture / "absent").string();
    const std::vector<CRecordedMessage> expected = {
        {"Error : 2 (No such file or directory)\nWhile reading : " + path, MB_OK | MB_ICONEXCLAMATION}};
    EXPECT_EQ(m_messages.m_messages, expected);
    EXPECT_EQ(m_root.m_albums, 0);
    EXPECT_TRUE(m_root.m_children.empty()); // the player side was never read
}

TEST_F(ScanTest, EmptyRootNameLeavesThatSideUnread)
{
    m_fixture.Create("computer/Artist/Album/01.mp3:1\n");
    ASSERT_TRUE(ScanPair("computer", ""));
    EXPECT_TRUE(m_messages.m_messages.empty());
    EXPECT_EQ(DumpTree(m_root), "Root C sel=0 on=0 albums=1\n"
                                "  Artist| C sel=0 on=0 albums=1\n"
                                "    Album| C sel=0 on=0 albums=1\n");
}

TEST_F(ScanTest, RootsWithoutSubFoldersMakeTheRootAnAlbum)
{
    m_fixture.Create("computer/a.mp3:1\nplayer/b.mp3:1\n");
    ASSERT_TRUE(ScanPair());
    EXPECT_EQ(DumpTree(m_root), "Root C sel=1 on=1 albums=1\n");
}

TEST_F(ScanTest, NameThatIsNotUtf8RoundTripsToDisk)
{
    m_fixture.Create("computer/\xE9t\xE9/Album/01.mp3:4\nplayer/\n");
    ASSERT_TRUE(ScanPair());
    CFolderNode& artist = *m_root.m_children.at(0);
    EXPECT_EQ(artist.GetDisplayName(), "\\xE9t\\xE9");
    EXPECT_TRUE(fs::exists(ToNativePath(artist.GetPath(SIDE_COMPUTER, false))));
    const CFolderNode& album = *artist.m_children.at(0);
    EXPECT_EQ(album.GetDisplayName(), "Album");
    EXPECT_TRUE(fs::is_regular_file(ToNativePath(album.GetPath(SIDE_COMPUTER, false) + u"/01.mp3")));
}

TEST_F(ScanTest, LinksAreEnteredButALinkCycleFailsTheScan)
{
    m_fixture.Create("elsewhere/Album/01.mp3:5\nplayer/Artist/Album/01.mp3:1\n");
    fs::create_directory_symlink(m_fixture / "elsewhere", m_fixture / "player/Linked");
    ASSERT_TRUE(ScanPair("", "player"));
    EXPECT_EQ(Node(u"Linked/Album").m_files[SIDE_PLAYER].at(0).m_size, 5u);

    m_root.m_children.clear();
    fs::create_directory_symlink(m_fixture / "player", m_fixture / "player/Artist/Album/Loop");
    EXPECT_FALSE(ScanPair("", "player"));
    const std::string path = (m_fixture / "player/Artist/Album/Loop").string();
    const std::vector<CRecordedMessage> expected = {
        {"Error : 40 (Too many levels of symbolic links)\nWhile reading : " + path, MB_OK | MB_ICONEXCLAMATION}};
    EXPECT_EQ(m_messages.m_messages, expected);
}
