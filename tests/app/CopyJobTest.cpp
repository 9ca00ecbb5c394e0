#include "app/LyrafetchDoc.h"

#include "app/Presentation.h"
#include "platform/FencedTree.h"
#include "support/FolderFixture.h"
#include "support/LoadDocument.h"
#include "support/MessageQueue.h"
#include "support/MessageRecorder.h"
#include "support/ScratchVolume.h"
#include "support/TreeDump.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The stamp of a folder as a scan of it as the player records it.
CFolderStamp StampAt(const std::u16string& path)
{
    CFolderListing listing;
    std::shared_ptr<const COpenFolder> open;
    CVolumeId volume;
    EXPECT_EQ(ListFolderAt({nullptr, ToNativePath(path)}, listing, ELinks::FollowNone, &open), 0);
    EXPECT_EQ(open ? GetVolumeId(*open, volume) : -1, 0);
    return StampOf(listing, volume);
}

class CopyJobTest : public ::testing::Test
{
protected:
    void Load(const std::string& description)
    {
        m_fixture.Create("computer/\nplayer/\n" + description);
        m_doc.m_params = {(m_fixture / "computer").string(), (m_fixture / "player").string()};
        ASSERT_TRUE(LoadDocument(m_doc));
    }
    // Runs a whole job as the Copy Files dialog does and returns its messages.
    std::vector<CPostedMessage> RunJob()
    {
        m_doc.m_log.m_nAlbumsToDelete = m_doc.m_pModel->CountAlbumsToDelete();
        m_doc.m_log.m_nAlbumsToCopy = m_doc.m_pModel->CountAlbumsToCopy() + m_doc.m_pModel->CountAlbumsToRefresh();
        m_doc.m_log.m_plan = CCopyPlan(*m_doc.m_pModel);
        if (!m_doc.StartCopy(&m_queue, WM_COPYNOTIFY)) {
            ADD_FAILURE() << "the job did not start";
            return {};
        }
        std::vector<CPostedMessage> messages = m_queue.WaitFor(COPYNOTIFY_DONE);
        EXPECT_TRUE(m_doc.EndCopy());
        EXPECT_TRUE(m_doc.IsCopyFinished());
        return messages;
    }

    CFolderFixture m_fixture;
    CMessageRecorder m_messages;
    CMessageQueue m_queue;
    CLyrafetchDoc m_doc{{}};
};

} // namespace

TEST_F(CopyJobTest, NothingToDoGivesExactlyOneDone)
{
    Load("computer/A/One/1:1\nplayer/B/Two/1:1\n");
    const auto messages = RunJob();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].m_message, WM_COPYNOTIFY);
    EXPECT_EQ(messages[0].m_lParam, 0);
    EXPECT_TRUE(m_doc.m_log.m_entries.empty());
}

TEST_F(CopyJobTest, EveryReportArrivesInOrderBeforeDone)
{
    Load("computer/A/New/1:10\ncomputer/A/New/2:10\nplayer/B/Old/1:1\nplayer/C/Old/1:1\ncomputer/D/Gone/1:1\n");
    m_doc.m_pModel->ApplySelection(SELECT_ALL);
    m_doc.m_pModel->m_children[1]->ApplySelection(SELECT_NONE);
    m_doc.m_pModel->m_children[2]->ApplySelection(SELECT_NONE);
    fs::remove(m_fixture / "computer/D/Gone/1");
    const auto messages = RunJob();

    // One line message per entry, naming the entry itself, and a progress
    // message after each album, in the order the worker made them.
    std::vector<std::string> seen;
    for (const auto& message : messages) {
        EXPECT_EQ(message.m_message, WM_COPYNOTIFY);
        if (message.m_wParam == COPYNOTIFY_LOGLINE) {
            seen.push_back(reinterpret_cast<const CCopyLogEntry*>(message.m_lParam)->m_text);
        } else if (message.m_wParam == COPYNOTIFY_PROGRESS) {
            seen.push_back("progress");
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Deleting \"JUKEBIT/B/Old\"", "progress", "Deleting \"JUKEBIT/C/Old\"",
                                              "progress", "Copying \"COMPUTER/A/New\"", "progress",
                                              "Copying \"COMPUTER/D/Gone\"",
                                              "Opening \"COMPUTER/D/Gone/1\" : Error 2 (No such file or directory)",
                                              "Deleting \"JUKEBIT/D/Gone\"", "progress"}));
    EXPECT_EQ(messages.back().m_wParam, COPYNOTIFY_DONE);
    ASSERT_EQ(m_doc.m_log.m_entries.size(), 6u);
    EXPECT_EQ(m_doc.m_log.m_nAlbumsToDelete, 0);
    EXPECT_EQ(m_doc.m_log.m_nAlbumsToCopy, 0);
    EXPECT_TRUE(fs::exists(m_fixture / "player/A/New/2"));

    // The plan in the job's order, and what became of each album; the bytes
    // count up to all of the copies, the failed one included.
    const CCopyPlan& plan = m_doc.m_log.m_plan;
    std::vector<std::string> outcomes;
    for (std::size_t index = 0; index < plan.Albums().size(); ++index) {
        const CPlannedAlbum& album = plan.Albums()[index];
        outcomes.push_back(album.m_pAlbum->GetDisplayName() +
                           (album.m_step == EPlanStep::Copy ? " copy " : " delete ") + std::to_string(album.m_bytes) +
                           " " + (plan.Outcome(index) == EAlbumOutcome::Done ? "done" : "failed"));
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"Old delete 1 done", "Old delete 1 done", "New copy 20 done",
                                                  "Gone copy 1 failed"}));
    EXPECT_EQ(plan.BytesToCopy(), 21u);
    EXPECT_EQ(m_doc.m_log.m_nBytesCopied, 21u);
}

TEST_F(CopyJobTest, RefusalsLeaveTheJobAsItWas)
{
    CLyrafetchDoc empty(m_doc.m_params);
    EXPECT_FALSE(empty.StartCopy(&m_queue, WM_COPYNOTIFY));

    // The cover keeps the player's root as it was: a job needs the root the scan read.
    Load("player/B/Old/1:1\nplayer/B/cover.jpg:1\n");
    m_doc.m_pModel->ApplySelection(SELECT_NONE);
    ASSERT_TRUE(m_doc.StartCopy(&m_queue, WM_COPYNOTIFY));
    m_queue.WaitFor(COPYNOTIFY_DONE);
    // Finished but not ended: still held.
    EXPECT_FALSE(m_doc.StartCopy(&m_queue, WM_COPYNOTIFY));
    EXPECT_EQ(m_doc.m_log.GetText(), "INFO   : Deleting \"JUKEBIT/B/Old\"\r\n");
    EXPECT_TRUE(m_doc.EndCopy());
    EXPECT_EQ(m_doc.m_log.m_entries.size(), 1u); // ending keeps the log

    const std::vector<CRecordedMessage> expected = {{"Internal error : document not created", 0x30},
                                                    {"Internal error : previous copy not ended", 0x30}};
    EXPECT_EQ(m_messages.m_messages, expected);

    // A new job starts its own log; the album is gone already.
    RunJob();
    EXPECT_EQ(m_doc.m_log.GetText(), "INFO   : Deleting \"JUKEBIT/B/Old\"\r\n"
                                     "ERROR  : Opening \"JUKEBIT/B/Old\" : Error 2 (No such file or directory)\r\n");
}

// The job reaches the player only through the folder the scan read: not when
// none was given, nor when it has gone or another folder stands in its place.
TEST_F(CopyJobTest, NoJobWithoutThePlayersFolderThatWasRead)
{
    Load("computer/A/New/1:1\nplayer/B/Old/1:1\n");
    CScratchVolume volume;
    const std::string mounted = volume.Mount(m_fixture / "player", 1 << 20);
    m_fixture.Create("player/B/Old/1:1\n");
    const std::string player = m_doc.m_params[SIDE_PLAYER];
    const std::string notStarted = "\nCopy not started.";
    CFencedTree other; // as another job would hold the player
    CScratchVolume bound;
    const struct
    {
        std::string m_player;
        std::function<void()> m_change; // after the load
        std::string m_message;
    } cases[] = {
        {player, [&] { other.Open(FromNativeName(player), m_doc.m_scanRecord.m_roots[SIDE_PLAYER]); },
         "Jukebit music folder is in use by another copy" + notStarted},
        // Another job on a folder above this one.
        {(m_fixture / "player/B").string(),
         [&] { ASSERT_EQ(other.Open(FromNativeName(player), StampAt(FromNativeName(player))), 0); },
         "Jukebit music folder is in use by another copy" + notStarted},
        // ... or inside it.
        {player,
         [&] {
             const std::u16string inside = FromNativeName((m_fixture / "player/B").native());
             ASSERT_EQ(other.Open(inside, StampAt(inside)), 0);
         },
         "Jukebit music folder is in use by another copy" + notStarted},
        // ... or on a folder of it bound elsewhere, where the folders above are another file system's.
        {player,
         [&] {
             const fs::path elsewhere = m_fixture / "elsewhere";
             fs::create_directories(elsewhere);
             if (bound.Bind(m_fixture / "player/B", elsewhere).empty()) {
                 const std::u16string path = FromNativeName(elsewhere.native());
                 ASSERT_EQ(other.Open(path, StampAt(path)), 0);
             }
         },
         "Jukebit music folder is in use by another copy" + notStarted},
        {player, [&] { volume.Unmount(); },
         "Jukebit music folder is no longer the one that was read (unplugged ?)" + notStarted},
        {player, [&] { fs::remove_all(m_fixture / "player"); },
         "Opening Jukebit music folder :\nError : 2 (No such file or directory)" + notStarted},
        {"", [] {}, "No Jukebit music folder given" + notStarted},
    };
    for (const auto& test : cases) {
        other.Close();
        bound.Unmount();
        if (!mounted.empty() && (&test == &cases[3] || &test == &cases[4])) {
            continue; // the machine allows no mount: the other ways still run
        }
        m_doc.m_params[SIDE_PLAYER] = test.m_player;
        fs::create_directories(m_fixture / "player");
        ASSERT_TRUE(LoadDocument(m_doc));
        m_doc.m_pModel->ApplySelection(SELECT_NONE);
        m_doc.m_pModel->m_children[0]->ApplySelection(SELECT_ALL);
        const auto before = m_doc.m_log.GetText();
        test.m_change();
        m_messages.m_messages.clear();
        EXPECT_FALSE(m_doc.StartCopy(&m_queue, WM_COPYNOTIFY));
        EXPECT_EQ(m_messages.m_messages, (std::vector<CRecordedMessage>{{test.m_message, 0x30}}));
        EXPECT_EQ(m_doc.PlayerChanged(), test.m_message.starts_with("Jukebit music folder is no longer"));
        EXPECT_FALSE(m_doc.m_pCopyThread);
        EXPECT_EQ(m_doc.m_log.GetText(), before);
        EXPECT_FALSE(fs::exists(m_fixture / "player/A"));
    }
}

// Jobs on two folders of one file system that lie apart run together.
TEST_F(CopyJobTest, JobsOnFoldersApartRunTogether)
{
    m_fixture.Create("computer/\nplayer/\n");
    CScratchVolume volume;
    if (const std::string failure = volume.Mount(m_fixture / "player", 1 << 20); !failure.empty()) {
        GTEST_SKIP() << "cannot mount a small volume as the player here: " << failure;
    }
    m_fixture.Create("computer/A/New/1:1\nplayer/B/\nplayer/C/Old/1:1\n");
    m_doc.m_params = {(m_fixture / "computer").string(), (m_fixture / "player/B").string()};
    ASSERT_TRUE(LoadDocument(m_doc));
    CFencedTree other;
    const std::u16string apart = FromNativeName((m_fixture / "player/C").native());
    ASSERT_EQ(other.Open(apart, StampAt(apart)), 0);
    m_doc.m_pModel->ApplySelection(SELECT_ALL);
    RunJob();
    EXPECT_EQ(m_doc.m_log.GetText(), "INFO   : Copying \"COMPUTER/A/New\"\r\n");
    EXPECT_TRUE(fs::exists(m_fixture / "player/B/A/New/1"));
}

// Players of one model plugged into one slot have the same device number, and
// their music folders often the same inode: another card in the slot since the
// load must not receive the job chosen for the first, even with the same
// folders and files of the same sizes; its own serial number tells it apart.
// The same card is still the same after its driver has forgotten the folders
// and numbered them anew.
TEST_F(CopyJobTest, AnotherPlayerInTheSameSlotGetsNoJob)
{
    m_fixture.Create("computer/\nplayer/\n");
    const fs::path card = m_fixture / "player";
    const std::string library = "player/Music/Art/Old/1:1\nplayer/Music/Art/Keep/1:1\n";
    const std::string changed =
        "Jukebit music folder is no longer the one that was read (unplugged ?)\nCopy not started.";
    CScratchVolume volume;
    const struct
    {
        std::function<void()> m_change; // after the load
        std::string m_message;          // empty: the job starts
        bool m_bOldStays = false;
    } cases[] = {
        {[&] {
             sync();
             std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
         },
         ""},
        // The same card, whose album has been rewritten elsewhere since, with
        // the same names and sizes: not the album the user chose to delete.
        {[&] {
             const fs::path file = card / "Music/Art/Old/1";
             struct stat written;
             ASSERT_EQ(stat(file.c_str(), &written), 0);
             std::ofstream(file, std::ios::in | std::ios::out) << "x";
             // Both times given: exfat-fuse sets none when one is left out.
             const struct timespec times[] = {written.st_atim, {written.st_mtim.tv_sec + 3600, 0}};
             ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
         },
         "", true},
        {[&] {
             ASSERT_EQ(volume.FormatExfatAgain(), "");
             m_fixture.Create(library);
         },
         changed},
        {[&] {
             ASSERT_EQ(volume.FormatExfatAgain(), "");
             m_fixture.Create("player/Music/Band/Old/1:7\nplayer/Music/Art/Old/1:7\n");
         },
         changed},
    };
    if (const std::string failure = volume.MountExfat(card, 8 << 20); !failure.empty()) {
        GTEST_SKIP() << "cannot mount an exFAT image as the player here: " << failure;
    }
    for (const auto& test : cases) {
        SCOPED_TRACE(test.m_message);
        fs::remove_all(card / "Music");
        m_fixture.Create(library);
        m_doc.m_params = {(m_fixture / "computer").string(), (card / "Music").string()};
        ASSERT_TRUE(LoadDocument(m_doc));
        m_doc.m_pModel->ApplySelection(SELECT_NONE); // Old and Keep go from the first player
        test.m_change();
        m_messages.m_messages.clear();
        const auto before = ReadFileText(card / "Music/Art/Old/1");
        if (test.m_message.empty()) {
            RunJob();
            EXPECT_TRUE(m_messages.m_messages.empty());
            EXPECT_FALSE(m_doc.PlayerChanged());
            EXPECT_EQ(fs::exists(card / "Music/Art/Old"), test.m_bOldStays) << m_doc.m_log.GetText();
            EXPECT_FALSE(fs::exists(card / "Music/Art/Keep"));
            continue;
        }
        if (m_doc.StartCopy(&m_queue, WM_COPYNOTIFY)) {
            ADD_FAILURE() << "the job started";
            m_queue.WaitFor(COPYNOTIFY_DONE);
            m_doc.EndCopy();
        }
        EXPECT_EQ(m_messages.m_messages, (std::vector<CRecordedMessage>{{test.m_message, 0x30}}));
        EXPECT_TRUE(m_doc.PlayerChanged());
        EXPECT_EQ(ReadFileText(card / "Music/Art/Old/1"), before);
    }
}

TEST_F(CopyJobTest, CancelBeforeTheFirstCheckStillEndsWithDone)
{
    Load("player/B/Old/1:1\ncomputer/A/New/1:1\n");
    m_doc.m_pModel->ApplySelection(SELECT_ALL);
    m_doc.m_pModel->m_children[1]->ApplySelection(SELECT_NONE);
    // The user's cancel, the moment the first report leaves the worker.
    m_queue.m_onPost = [](const CPostedMessage&) { g_cancelState = 1; };
    const auto messages = RunJob();
    EXPECT_EQ(m_doc.m_log.GetText(), "INFO   : Deleting \"JUKEBIT/B/Old\"\r\nCANCEL : Canceled by user\r\n");
    EXPECT_EQ(messages.back().m_wParam, COPYNOTIFY_DONE);
    EXPECT_FALSE(fs::exists(m_fixture / "player/A"));
    g_cancelState = 0;
}

// On a card of big clusters every folder a job makes takes a cluster, and the
// entries of a large folder take clusters of their own; deleting gives them
// back. What the window projects is never more than what the job leaves.
TEST_F(CopyJobTest, TheProjectedFreeSpaceIsNoMoreThanAJobLeavesOnACardOfBigClusters)
{
    std::string many;
    for (int track = 100; track < 400; ++track) {
        many += "computer/Big/Many/Track " + std::to_string(track) + " of a rather long title.mp3:1\n";
    }
    const struct
    {
        std::uint64_t m_cluster;
        std::string m_library;
        std::u16string m_untick; // after ticking everything
    } rows[] = {
        {1 << 20,
         "computer/Jazz/Miles Davis/Kind of Blue/01 So What.flac:3000000\n"
         "computer/Jazz/Miles Davis/Kind of Blue/02 Freddie Freeloader.flac:10\n"
         "computer/Rock/Band/Live/1.mp3:10\ncomputer/Rock/Band/Studio/1.mp3:10\n",
         u""},
        {1 << 20,
         "player/Gone/One/1.mp3:10\nplayer/Gone/Two/1.mp3:10\nplayer/Gone/Two/2.mp3:10\nplayer/Kept/Three/1.mp3:10\n",
         u"Gone"},
        // The artist's folder goes with its old album and comes back with the new one.
        {1 << 20, "player/Artist/Old/1.mp3:10\ncomputer/Artist/New/1.mp3:10\n", u"Artist/Old"},
        {4 << 10, many, u""},
    };
    for (const auto& [cluster, library, untick] : rows) {
        SCOPED_TRACE(library.substr(0, 40));
        fs::remove_all(m_fixture / "computer");
        m_fixture.Create("player/\n");
        CScratchVolume card;
        if (const std::string failure = card.MountExfat(m_fixture / "player", 64 << 20, cluster); !failure.empty()) {
            GTEST_SKIP() << "cannot mount an exFAT image as the player here: " << failure;
        }
        Load(library);
        m_doc.m_pModel->ApplySelection(SELECT_ALL);
        if (!untick.empty()) {
            FindNode(*m_doc.m_pModel, untick)->ApplySelection(SELECT_NONE);
        }
        const std::int64_t projected = ProjectedFreeBytes(m_doc);
        const auto before = static_cast<std::int64_t>(m_doc.m_nFreeBytes);
        RunJob();
        EXPECT_EQ(m_doc.m_log.GetText().find("ERROR"), std::string::npos) << m_doc.m_log.GetText();
        ASSERT_TRUE(LoadDocument(m_doc));
        const auto left = static_cast<std::int64_t>(m_doc.m_nFreeBytes);
        // Nor much less: a warning that there is no room where there is, is wrong too.
        const auto clusters = [&](std::int64_t bytes) { return bytes / static_cast<std::int64_t>(cluster); };
        EXPECT_LE(projected, left) << "projected " << clusters(before - projected) << " clusters, the job took "
                                   << clusters(before - left);
        EXPECT_LE(clusters(left - projected), 1);
    }
}
