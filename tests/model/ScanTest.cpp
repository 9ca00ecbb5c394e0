#include "model/FolderNode.h"

#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "support/ScannedPairTest.h"
#include "support/ScratchVolume.h"
#include "support/TreeDump.h"
#include "text/Text.h"
#include "transfer/PlainCopy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

namespace {

void WriteManifest(const fs::path& album, const CAlbumManifest& manifest)
{
    std::ofstream(album / ToNativePath(MANIFEST_NAME), std::ios::binary) << SerializeManifest(manifest);
}

} // namespace

// The player's manifest is the album's record, read with the listing and
// never one of the album's files; the computer's is none of its files either.
TEST_F(ScanTest, ManifestsAreTheAlbumsRecordsNeverItsFiles)
{
    m_fixture.Create(R"(
        computer/A/Kept/01.mp3:3
        computer/A/Kept/.lyrafetch-album:9
        player/A/Kept/01.mp3:3
        player/A/Above/.lyrafetch-album:9
        player/A/Above/Below/01.mp3:1
        player/A/Garbled/01.mp3:1
        player/A/Cut/01.mp3:1
        player/A/Huge/01.mp3:1
        player/A/Link/01.mp3:1
        player/A/Pipe/01.mp3:1
    )");
    CFileStamp source;
    ASSERT_EQ(GetFileStamp(FromNativeName((m_fixture / "computer/A/Kept/01.mp3").native()), source), 0);
    const CAlbumManifest kept{"copy", {{u"01.mp3", u"01.mp3", 3, source.m_modified}}};
    WriteManifest(m_fixture / "player/A/Kept", kept);
    std::ofstream(m_fixture / "player/A/Garbled/.lyrafetch-album") << "not a manifest\n";
    const std::string whole = SerializeManifest(kept);
    std::ofstream(m_fixture / "player/A/Cut/.lyrafetch-album") << whole.substr(0, whole.size() - 3);
    // A whole manifest, and larger than any album's.
    CAlbumManifest huge{"copy", {}};
    for (int i = 0; i < 12000; ++i) {
        const std::u16string name = FromNativeName(std::to_string(i) + std::string(80, 'x') + ".mp3");
        huge.m_files.push_back({name, name, 1, 1});
    }
    WriteManifest(m_fixture / "player/A/Huge", huge);
    fs::create_symlink(m_fixture / "player/A/Kept/.lyrafetch-album", m_fixture / "player/A/Link/.lyrafetch-album");
    const std::string pipe = (m_fixture / "player/A/Pipe/.lyrafetch-album").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // A writer waits for the pipe's reader, which the scan never is.
    std::atomic<bool> bWriterOpened = false;
    std::thread writer([&] {
        const int fd = open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
        bWriterOpened = true;
        close(fd);
    });

    const bool bScanned = ScanPair();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(bWriterOpened);
    close(open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    writer.join();
    ASSERT_TRUE(bScanned);
    EXPECT_TRUE(m_messages.m_messages.empty());
    const CFolderNode& album = Node(u"A/Kept");
    ASSERT_NE(album.m_pManifest, nullptr);
    // Compared with the computer's files as they are read, and not kept.
    EXPECT_EQ(album.m_pManifest->m_writer, "copy");
    EXPECT_TRUE(album.m_bRecordsFiles);
    EXPECT_TRUE(album.m_pManifest->m_files.empty());
    EXPECT_EQ(album.m_files[SIDE_PLAYER].size(), 1u);
    EXPECT_EQ(album.m_files[SIDE_COMPUTER].size(), 1u);
    // A folder with sub-folders is no album and has no record.
    EXPECT_EQ(Node(u"A/Above").m_pManifest, nullptr);
    EXPECT_TRUE(Node(u"A/Above").m_files[SIDE_PLAYER].empty());
    for (const char16_t* unread : {u"A/Cut", u"A/Garbled", u"A/Huge", u"A/Link", u"A/Pipe"}) {
        SCOPED_TRACE(ToLogText(unread));
        EXPECT_EQ(Node(unread).m_pManifest, nullptr);
        EXPECT_EQ(Node(unread).m_files[SIDE_PLAYER].size(), 1u);
    }
    EXPECT_EQ(m_record.m_unreadManifests,
              (std::vector<std::string>{"JUKEBIT/A/Cut/.lyrafetch-album", "JUKEBIT/A/Garbled/.lyrafetch-album",
                                        "JUKEBIT/A/Huge/.lyrafetch-album", "JUKEBIT/A/Link/.lyrafetch-album",
                                        "JUKEBIT/A/Pipe/.lyrafetch-album"}));
}

namespace {

constexpr std::int64_t SECOND = 1'000'000'000;
constexpr std::int64_t HOUR = 3600 * SECOND;
// The computer's files' time where a case says nothing else.
constexpr std::int64_t BASE_TIME = 1'700'000'000 * SECOND;

struct CTimedFile
{
    const char* m_name;
    std::uint64_t m_size = 100;
    std::int64_t m_offset = 0; // from BASE_TIME
};

void SetModified(const fs::path& path, std::int64_t time)
{
    const timespec times[2] = {{0, UTIME_OMIT}, {time / SECOND, time % SECOND}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void CreateTimedFiles(const CFolderFixture& fixture, const std::string& folder, const std::vector<CTimedFile>& files)
{
    fixture.Create(folder + "/\n");
    for (const CTimedFile& file : files) {
        fixture.CreateFile(folder + "/" + file.m_name, file.m_size);
        SetModified(fixture / (folder + "/" + file.m_name), BASE_TIME + file.m_offset);
    }
}

} // namespace

TEST_F(ScanTest, AnAlbumOnBothSidesChangedSinceThePlayersVersion)
{
    const std::vector<CTimedFile> one = {{"01.mp3"}};
    const std::vector<CTimedFile> two = {{"01.mp3"}, {"02.mp3"}};
    struct CCase
    {
        CCase(const char* what, std::vector<CTimedFile> computer, std::vector<CTimedFile> player, bool bChanged = false)
            : m_what(what), m_computer(std::move(computer)), m_player(std::move(player)), m_bChanged(bChanged)
        {
        }
        CCase(const char* what, std::vector<CTimedFile> computer, std::vector<CTimedFile> player, const char* writer,
              std::vector<CTimedFile> recorded, bool bChanged = false)
            : CCase(what, std::move(computer), std::move(player), bChanged)
        {
            m_manifestWriter = writer;
            m_recorded = std::move(recorded);
        }
        const char* m_what;
        std::vector<CTimedFile> m_computer;
        std::vector<CTimedFile> m_player;
        bool m_bChanged;
        // With a writer: the player's album holds a manifest by it of these
        // computer files.
        const char* m_manifestWriter = nullptr;
        std::vector<CTimedFile> m_recorded;
    };
    const CCase cases[] = {
        {"the same files", two, two},
        {"a tag edit that keeps the size", {{"01.mp3", 100, 600 * SECOND}}, one, true},
        {"a track added", two, one, true},
        {"a track removed", one, two, true},
        {"a track renamed", {{"01 Intro.mp3"}}, {{"01 intro (live).mp3"}}, true},
        {"a size that differs", one, {{"01.mp3", 101}}, true},
        {"copied with cp: the player's newer", one, {{"01.mp3", 100, 3 * 24 * HOUR}}},
        {"copied with cp -p onto FAT", {{"01.mp3", 100, 2 * SECOND - 1}}, one},
        {"2 s and more apart", {{"01.mp3", 100, 2 * SECOND + 1}}, one, true},
        {"a player's clock one hour off", {{"01.mp3", 100, HOUR + SECOND}}, one},
        {"summer time and FAT", {{"01.mp3", 100, 2 * HOUR - SECOND}}, one},
        {"one hour and 3 s off", {{"01.mp3", 100, HOUR + 3 * SECOND}}, one, true},
        {"days of whole hours off", {{"01.mp3", 100, 27 * HOUR}}, one, true},
        {"names as FAT compares them",
         {{"Why?.mp3"}, {"\xC3\xA9t\xC3\xA9.mp3"}},
         {{"WHY_.MP3"}, {"\xC3\x89T\xC3\x89.mp3"}}},
        {"two computer files of one player name", {{"a?.mp3"}, {"a_.mp3"}}, {{"a_.mp3"}, {"b.mp3"}}, true},
        {"as its manifest records it",
         {{"01.mp3", 100, HOUR + 3 * SECOND}},
         {{"01.MP3", 5}},
         "copy",
         {{"01.mp3", 100, HOUR + 3 * SECOND}}},
        {"retagged since its manifest", {{"01.mp3", 100, 1}}, one, "copy", one, true},
        {"resized since its manifest", {{"01.mp3", 99}}, one, "copy", one, true},
        {"a track added since its manifest", two, two, "copy", one, true},
        {"a track gone since its manifest", one, one, "copy", two, true},
        {"renamed since its manifest", {{"1.mp3"}}, one, "copy", one, true},
        {"made by another writer", one, one, "opus-128", one, true},
    };
    m_fixture.Create("computer/Only/Computer/1:1\nplayer/Only/Player/1:1\n");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string album = "Case/" + std::to_string(10 + i);
        CreateTimedFiles(m_fixture, "computer/" + album, cases[i].m_computer);
        CreateTimedFiles(m_fixture, "player/" + album, cases[i].m_player);
        if (cases[i].m_manifestWriter != nullptr) {
            CAlbumManifest manifest{cases[i].m_manifestWriter, {}};
            for (const CTimedFile& file : cases[i].m_recorded) {
                const std::u16string name = FromNativeName(file.m_name);
                manifest.m_files.push_back({PlayerName(name), name, file.m_size, BASE_TIME + file.m_offset});
            }
            WriteManifest(m_fixture / ("player/" + album), manifest);
        }
    }
    ASSERT_TRUE(ScanPair());
    m_root.ComputeChanges(CPlainCopy());
    int changed = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].m_what);
        const CFolderNode& album = Node(u"Case/" + FromNativeName(std::to_string(10 + i)));
        EXPECT_EQ(album.m_bChanged, cases[i].m_bChanged);
        EXPECT_EQ(album.m_pManifest != nullptr, cases[i].m_manifestWriter != nullptr);
        changed += cases[i].m_bChanged ? 1 : 0;
    }
    // An album on one side only is new or gone, never changed; the counts
    // go up the tree.
    EXPECT_FALSE(Node(u"Only/Computer").m_bChanged);
    EXPECT_FALSE(Node(u"Only/Player").m_bChanged);
    EXPECT_EQ(Node(u"Case").m_changed, changed);
    EXPECT_EQ(m_root.m_changed, changed);
    EXPECT_FALSE(Node(u"Case").m_bChanged);
}

// cp -p onto a card keeps the times as its file system can: FAT32 to 2 s,
// exFAT to 10 ms, both behind the computer's. Such a copy is no change.
TEST_F(ScanTest, AnAlbumCopiedByHandWithItsTimesOntoACardIsNotChanged)
{
    const std::vector<CTimedFile> files = {{"01 Odd.mp3", 10, SECOND - 1}, {"02 Even.mp3", 20, 2 * SECOND - 1}};
    CreateTimedFiles(m_fixture, "computer/Artist/Album", files);
    for (const bool fat32 : {true, false}) {
        SCOPED_TRACE(fat32 ? "FAT32" : "exFAT");
        m_fixture.Create("player/\n");
        CScratchVolume card;
        const std::string failure =
            fat32 ? card.MountFat32(m_fixture / "player", 64 << 20) : card.MountExfat(m_fixture / "player", 64 << 20);
        if (!failure.empty()) {
            GTEST_SKIP() << "cannot mount a card image as the player here: " << failure;
        }
        ASSERT_EQ(std::system(("cp -r --preserve=timestamps " + (m_fixture / "computer/Artist").string() + " " +
                               (m_fixture / "player").string())
                                  .c_str()),
                  0);
        m_root.m_children.clear();
        ASSERT_TRUE(ScanPair());
        m_root.ComputeChanges(CPlainCopy());
        const CFolderNode& album = Node(u"Artist/Album");
        ASSERT_EQ(album.m_files[SIDE_PLAYER].size(), 2u);
        EXPECT_NE(album.m_files[SIDE_PLAYER][1].m_modified, album.m_files[SIDE_COMPUTER][1].m_modified);
        EXPECT_FALSE(album.m_bChanged);
    }
}
