#include "app/LyrafetchDoc.h"
#include "app/Presentation.h"

#include "model/Selection.h"
#include "platform/FaultInjection.h"
#include "support/FolderFixture.h"
#include "support/LoadDocument.h"
#include "support/MessageRecorder.h"
#include "support/ScratchVolume.h"
#include "support/TreeDump.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

class LyrafetchDocTest : public ::testing::Test
{
protected:
    ~LyrafetchDocTest() override { DisarmFaults(); }

    std::string Folder(const std::string& relative) const { return (m_fixture / relative).string(); }

    void ExpectOneMessage(const std::string& text, unsigned type) const
    {
        const std::vector<CRecordedMessage> expected = {{text, type}};
        EXPECT_EQ(m_messages.m_messages, expected);
    }

    CFolderFixture m_fixture;
    CMessageRecorder m_messages;
    CLyrafetchDoc m_doc{{}};
};

} // namespace

TEST_F(LyrafetchDocTest, NoArgumentsShowsUsage)
{
    EXPECT_FALSE(LoadDocument(m_doc));
    ExpectOneMessage("Usage : Lyrafetch pcFolder jukebitFolder", 0x40);
    EXPECT_EQ(m_doc.m_pModel, nullptr);
}

TEST_F(LyrafetchDocTest, OneArgumentIsConvertedBeforeTheUsageMessage)
{
    m_doc.m_params = {Folder("computer")};
    EXPECT_FALSE(LoadDocument(m_doc));
    ExpectOneMessage("Usage : Lyrafetch pcFolder jukebitFolder", 0x40);

    m_messages.m_messages.clear();
    m_doc.m_params = {"bad \xFF folder"};
    EXPECT_FALSE(LoadDocument(m_doc));
    ExpectOneMessage("Unable to convert parameter 1 from Ascii to Unicode", 0x30);
}

TEST_F(LyrafetchDocTest, SecondArgumentNotConvertible)
{
    m_fixture.Create("computer/A/B/\n");
    m_doc.m_params = {Folder("computer"), "player \xC3"};
    EXPECT_FALSE(LoadDocument(m_doc));
    ExpectOneMessage("Unable to convert parameter 2 from Ascii to Unicode", 0x30);
    EXPECT_EQ(m_doc.m_pModel, nullptr);
}

TEST_F(LyrafetchDocTest, FailedScanShowsOnlyItsOwnMessage)
{
    m_fixture.Create("computer/A/B/\n");
    m_doc.m_params = {Folder("computer"), Folder("absent")};
    EXPECT_FALSE(LoadDocument(m_doc));
    ExpectOneMessage("Error : 2 (No such file or directory)\nWhile reading : " + Folder("absent"), 0x30);
    EXPECT_EQ(m_doc.m_pModel, nullptr);
    EXPECT_EQ(m_doc.m_nTotalBytes, 0u);
}

TEST_F(LyrafetchDocTest, FoldersWithoutSubFolders)
{
    m_fixture.Create("computer/a.mp3:1\nplayer/b.mp3:1\n");
    m_doc.m_params = {Folder("computer"), Folder("player")};
    EXPECT_FALSE(LoadDocument(m_doc));
    ExpectOneMessage("Computer and Jukebit music folders have no sub-folders", 0x40);
    EXPECT_EQ(m_doc.m_pModel, nullptr);
}

// A job on two roots that are one folder, or one inside the other, would
// delete the computer's own albums or copy the player into itself. Spellings
// and links are seen before any scan; a bind mount, whose place has parents
// of its own, only by the scan.
TEST_F(LyrafetchDocTest, OverlappingRootsAreRefused)
{
    m_fixture.Create("music/A/B/\nmusic/sub/C/\nmusic/zz/\nother/\nmounted/\n");
    std::filesystem::create_directory_symlink(m_fixture / "music", m_fixture / "alias");
    // A scan would meet this last, and say so.
    std::filesystem::create_directory_symlink(m_fixture / "music", m_fixture / "music/zz/loop");
    CScratchVolume mount;
    const std::string mounted = mount.Bind(m_fixture / "music/sub", m_fixture / "mounted");
    const std::string music = Folder("music");
    const std::string same = "Computer and Jukebit music folders are the same folder";
    const std::string playerInside = "Jukebit music folder is inside Computer music folder";
    const std::string computerInside = "Computer music folder is inside Jukebit music folder";
    const std::vector<std::string> cases[] = {
        {music, music + "/", same},
        {music + "/.", music, same},
        {music, Folder("other/../music"), same},
        {Folder("alias"), music, same},
        {std::filesystem::relative(m_fixture / "music").string(), music, same},
        {music, Folder("alias/sub"), playerInside},
        {Folder("music/sub/C"), Folder("alias"), computerInside},
        {music, Folder("mounted"), playerInside},
        {Folder("mounted"), music, computerInside},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test[0] + " and " + test[1]);
        if (!mounted.empty() && (test[0] + test[1]).find("mounted") != std::string::npos) {
            continue; // the machine allows no mount
        }
        m_messages.m_messages.clear();
        m_doc.m_params = {test[0], test[1]};
        EXPECT_FALSE(LoadDocument(m_doc));
        ExpectOneMessage(test[2], 0x30);
        EXPECT_EQ(m_doc.m_pModel, nullptr);
    }
}

TEST_F(LyrafetchDocTest, LoadsBothTreesAndTheFreeSpaceIgnoringFurtherArguments)
{
    m_fixture.Create("computer/\nplayer/Artist/Album/01.mp3:1\n");
    m_doc.m_params = {Folder("computer"), Folder("player"), Folder("ignored")};
    ASSERT_TRUE(LoadDocument(m_doc));
    EXPECT_TRUE(m_messages.m_messages.empty());
    ASSERT_NE(m_doc.m_pModel, nullptr);
    EXPECT_EQ(m_doc.m_pModel->m_albums, 1); // a sub-folder on one side is enough
    EXPECT_GT(m_doc.m_nTotalBytes, 0u);
    EXPECT_LE(m_doc.m_nFreeBytes, m_doc.m_nTotalBytes);
}

// A card with clusters of 128 KiB gives every file at least that much, and
// every folder too: the projected free space counts whole clusters, the
// labels count bytes.
TEST_F(LyrafetchDocTest, FreeSpaceCountsTheCardsClusters)
{
    m_fixture.Create("computer/A/New/1:1000\ncomputer/A/New/2:1000\ncomputer/A/New/3:200000\nplayer/\n");
    CScratchVolume card;
    if (const std::string failure = card.MountExfat(m_fixture / "player", 256 << 20, 128 << 10); !failure.empty()) {
        GTEST_SKIP() << "cannot mount an exFAT image as the player here: " << failure;
    }
    m_fixture.Create("player/B/Old/1:5\n");
    m_doc.m_params = {Folder("computer"), Folder("player")};
    ASSERT_TRUE(LoadDocument(m_doc));
    EXPECT_EQ(m_doc.m_allocationUnit, 128u << 10);
    m_doc.m_pModel->ApplySelection(SELECT_ALL);
    const auto freeBytes = static_cast<std::int64_t>(m_doc.m_nFreeBytes);
    // Four for the files, one for the album's manifest, one for each of the
    // folders A and New.
    EXPECT_EQ(ProjectedFreeBytes(m_doc), freeBytes - 7 * (128 << 10));
    EXPECT_EQ(m_doc.m_pModel->m_sizeDelta, 202000);
    // Files a writer makes smaller take what it says they will: 200000 bytes
    // made 100000 fit one cluster.
    struct CHalfBytes : IPlayerFiles
    {
        std::u16string PlayerFileName(const CFolderNode&, const CFileEntry& source) const override
        {
            return source.m_name;
        }
        std::uint64_t ExpectedBytes(const CFolderNode&, const CFileEntry& source) const override
        {
            return source.m_size / 2;
        }
        std::string WriterId() const override { return "half"; }
    } half;
    EXPECT_EQ(m_doc.m_pModel->ComputeSpaceDelta(128 << 10, half), 6 * (128 << 10));
    EXPECT_EQ(m_doc.m_pModel->ComputeSpaceDelta(1, half), 101000);
    // The file, its folder Old and the folder B that it leaves empty.
    m_doc.m_pModel->ApplySelection(SELECT_NONE);
    EXPECT_EQ(ProjectedFreeBytes(m_doc), freeBytes + 3 * (128 << 10));
    // Room for the bytes is not room for the clusters.
    m_doc.m_pModel->ApplySelection(SELECT_ALL);
    m_doc.m_nFreeBytes = 300000;
    EXPECT_TRUE(NeedsFreeSpaceWarning(m_doc));
}

TEST_F(LyrafetchDocTest, FailedFreeSpaceQueryKeepsTheModel)
{
    m_fixture.Create("computer/Artist/Album/\nplayer/\n");
    m_doc.m_params = {Folder("computer"), Folder("player")};
    ArmFault(EFaultPoint::VolumeSpace, EIO);
    ASSERT_TRUE(LoadDocument(m_doc));
    ExpectOneMessage("Getting Jukebit free space :\nError : 5 (Input/output error)\nFree space won't be available.",
                     0x30);
    EXPECT_NE(m_doc.m_pModel, nullptr);
    EXPECT_EQ(m_doc.m_nFreeBytes, 0u);
    EXPECT_EQ(m_doc.m_nTotalBytes, 0u);

    // An error the system has no text for.
    m_messages.m_messages.clear();
    ArmFault(EFaultPoint::VolumeSpace, 9999);
    LoadDocument(m_doc);
    ExpectOneMessage("Getting Jukebit free space :\nError : 9999 (Unknonwn error)\nFree space won't be available.",
                     0x30);
}

TEST_F(LyrafetchDocTest, ReloadRebuildsFromTheSameArguments)
{
    m_fixture.Create("computer/Artist/Old/\nplayer/\n");
    m_doc.m_params = {Folder("computer"), Folder("player")};
    ASSERT_TRUE(LoadDocument(m_doc));
    m_doc.m_pModel->ApplySelection(SELECT_ALL);
    m_fixture.Create("computer/Artist/New/\n");

    LoadDocument(m_doc);
    ASSERT_NE(m_doc.m_pModel, nullptr);
    EXPECT_EQ(m_doc.m_pModel->m_albums, 2);
    EXPECT_EQ(m_doc.m_pModel->m_selected, 0); // the selection starts anew

    // A failed reload leaves no model and no free space.
    std::filesystem::remove_all(m_fixture / "player");
    LoadDocument(m_doc);
    EXPECT_EQ(m_doc.m_pModel, nullptr);
    EXPECT_EQ(m_doc.m_nFreeBytes, 0u);
    EXPECT_EQ(m_doc.m_nTotalBytes, 0u);
}

// Each load tells the changed albums, whose byte changes are new minus old;
// a reload keeps the player's version of an album kept while it is still
// changed.
TEST_F(LyrafetchDocTest, ChangedAlbumsAtEachLoadAndTheOnesKeptStayKept)
{
    m_fixture.Create("computer/A/Kept/1:20\nplayer/A/Kept/1:10\ncomputer/A/Other/1:5\nplayer/A/Other/1:6\n"
                     "computer/A/New/1:3\n");
    m_doc.m_params = {Folder("computer"), Folder("player")};
    ASSERT_TRUE(LoadDocument(m_doc));
    EXPECT_EQ(m_doc.m_pModel->m_changed, 2);
    EXPECT_EQ(m_doc.m_pModel->m_sizeDelta, 10 - 1);
    CFolderNode* kept = FindNode(*m_doc.m_pModel, u"A/Kept");
    SetKeepPlayers(*kept, true);
    FindNode(*m_doc.m_pModel, u"A/New")->ApplySelection(SELECT_ALL);

    ASSERT_FALSE(m_doc.Reload().has_value());
    kept = FindNode(*m_doc.m_pModel, u"A/Kept");
    EXPECT_TRUE(kept->m_bKeepPlayers);
    EXPECT_FALSE(FindNode(*m_doc.m_pModel, u"A/Other")->m_bKeepPlayers);
    EXPECT_EQ(m_doc.m_pModel->m_sizeDelta, 3 - 1);

    // Brought up to date by hand, it is no longer changed, nor kept.
    m_fixture.CreateFile("player/A/Kept/1", 20);
    ASSERT_FALSE(m_doc.Reload().has_value());
    kept = FindNode(*m_doc.m_pModel, u"A/Kept");
    EXPECT_FALSE(kept->m_bChanged);
    EXPECT_FALSE(kept->m_bKeepPlayers);
    EXPECT_EQ(m_doc.m_pModel->m_changed, 1);
}
