#include "model/AlbumManifest.h"
#include "platform/FaultInjection.h"
#include "support/JobTest.h"
#include "support/ScratchVolume.h"
#include "support/TreeDump.h"

#include <csignal>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A time with nanoseconds, an hour and more before any test runs.
constexpr std::int64_t OLD_TIME = 1'700'000'000'123'456'789;

std::int64_t ModifiedAt(const fs::path& path)
{
    struct stat info;
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
}

void SetModified(const fs::path& path, std::int64_t modified)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {modified / 1'000'000'000, modified % 1'000'000'000}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The player on a tmpfs, where folders swap names in one call, or on an exFAT
// image through exfat-fuse, where a refresh takes two renames.
class RefreshTest : public JobTest, public ::testing::WithParamInterface<bool>
{
protected:
    bool OnExfat() const { return GetParam(); }
    // Mounts the player's volume; false when the machine cannot.
    bool MountPlayer(std::uint64_t bytes = 16 << 20)
    {
        m_pJob.reset();
        m_pVolume.reset();
        m_fixture.Create("player/\n");
        m_pVolume = std::make_unique<CScratchVolume>();
        m_failure = OnExfat() ? m_pVolume->MountExfat(m_fixture / "player", bytes)
                              : m_pVolume->Mount(m_fixture / "player", bytes);
        return m_failure.empty();
    }
    // Scans again, ticks every album and clears the log, for the next job.
    void Rescan()
    {
        m_root.m_children.clear();
        ASSERT_TRUE(ScanPair());
        OpenPlayer();
        m_root.ApplySelection(SELECT_ALL);
        m_log.Clear();
    }
    // Scans again and runs a whole job of every album, the albums on both
    // sides taken as changed, as the scan finds them after the computer's
    // side changed.
    void RunJob(bool changed = true)
    {
        Rescan();
        MarkChanged(m_root, changed);
        m_log.m_nAlbumsToCopy = AlbumsToWrite(m_root);
        Job().Run();
    }
    static void MarkChanged(CFolderNode& node, bool changed)
    {
        node.m_bChanged =
            changed && node.IsAlbum() && !node.m_names[SIDE_PLAYER].empty() && !node.m_names[SIDE_COMPUTER].empty();
        for (const auto& child : node.m_children) {
            MarkChanged(*child, changed);
        }
    }
    // The albums the job copies or refreshes, as the Copy Files dialog counts them.
    static int AlbumsToWrite(const CFolderNode& node)
    {
        int count = node.IsAlbumToCopy() || node.IsAlbumToRefresh() ? 1 : 0;
        for (const auto& child : node.m_children) {
            count += AlbumsToWrite(*child);
        }
        return count;
    }
    std::string PlayerManifest(const std::string& album) const
    {
        return ReadFileText(m_fixture / "player" / album / ToNativePath(MANIFEST_NAME));
    }
    // The manifest that the job must have written for a computer album.
    CAlbumManifest ExpectedManifest(const std::string& album) const
    {
        CAlbumManifest manifest{"copy", {}};
        for (const auto& [name, content] : Snapshot("computer/" + album)) {
            const std::u16string wide = FromNativeName(name);
            manifest.m_files.push_back({wide, wide, content.size(), ModifiedAt(m_fixture / "computer" / album / name)});
        }
        return manifest;
    }
    // The player holds the album just as the computer has it, manifest included.
    void ExpectAlbumAsOnComputer(const std::string& album) const
    {
        EXPECT_EQ(Snapshot("player/" + album), Snapshot("computer/" + album));
        EXPECT_EQ(ParseManifest(PlayerManifest(album)), ExpectedManifest(album)) << PlayerManifest(album);
    }
    // Names of the job's hidden folders anywhere on the player.
    std::vector<std::string> HiddenFolders() const
    {
        std::vector<std::string> hidden;
        for (const auto& entry : fs::recursive_directory_iterator(m_fixture / "player")) {
            if (entry.path().filename().string().starts_with(".lyrafetch-partial")) {
                hidden.push_back(entry.path().filename().string());
            }
        }
        return hidden;
    }
    // Edits the computer's album One: a tag edit that keeps the size of 1, 2
    // renamed, 3 removed, 4 added.
    void ChangeComputersAlbum()
    {
        const fs::path album = m_fixture / "computer/A/One";
        {
            std::fstream file(album / "1", std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(3) << "TAG";
        }
        fs::rename(album / "2", album / "2 (remastered)");
        fs::remove(album / "3");
        m_fixture.CreateFile("computer/A/One/4", 20000);
    }

    std::unique_ptr<CScratchVolume> m_pVolume;
    std::string m_failure;
};

} // namespace

// Each file a job writes has its source's modification time on the player, to
// the player's precision, and the album its manifest with the
// computer's times exactly; deleting the album takes the manifest with it,
// whether or not the scan lists it among the album's files.
TEST_P(RefreshTest, TimesAndTheManifestArePublishedWithTheAlbum)
{
    if (!MountPlayer()) {
        GTEST_SKIP() << "cannot mount the player here: " << m_failure;
    }
    m_fixture.Create("computer/A/One/1:10\ncomputer/A/One/2:300000\ncomputer/A/Empty/\n");
    SetModified(m_fixture / "computer/A/One/1", OLD_TIME);
    SetModified(m_fixture / "computer/A/One/2", OLD_TIME + 3'600'000'000'000);
    RunJob();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Copying \"COMPUTER/A/Empty\"",
                                                    "INFO   : Copying \"COMPUTER/A/One\""}));
    ExpectAlbumAsOnComputer("A/One");
    ExpectAlbumAsOnComputer("A/Empty");
    // exFAT keeps 10 ms; exfat-fuse 1.3 whole seconds, within FAT's 2 s.
    const std::int64_t precision = OnExfat() ? 2'000'000'000 : 0;
    for (const char* file : {"A/One/1", "A/One/2"}) {
        const std::int64_t source = ModifiedAt(m_fixture / "computer" / file);
        EXPECT_LE(std::abs(ModifiedAt(m_fixture / "player" / file) - source), precision) << file;
    }

    for (const bool listed : {true, false}) {
        SCOPED_TRACE(listed ? "the scan lists the manifest" : "the scan leaves the manifest out");
        if (!fs::exists(m_fixture / "player/A/One")) {
            RunJob(false);
        }
        m_root.m_children.clear();
        ASSERT_TRUE(ScanPair());
        OpenPlayer();
        CFolderNode& album = Node(u"A/One");
        std::erase_if(album.m_files[SIDE_PLAYER],
                      [&](const CFileEntry& file) { return !listed && file.m_name == MANIFEST_NAME; });
        m_root.ApplySelection(SELECT_ALL);
        album.ApplySelection(SELECT_NONE);
        m_log.Clear();
        Job().DeletePass();
        EXPECT_EQ(LogLines(), std::vector<std::string>{"INFO   : Deleting \"JUKEBIT/A/One\""});
        EXPECT_FALSE(fs::exists(m_fixture / "player/A/One"));
    }
}

// A changed album is written anew and takes the old one's place whole: files
// edited, renamed, removed and added; what the old version held goes, and no
// hidden folder stays. It counts as one album copied.
TEST_P(RefreshTest, AChangedAlbumIsReplacedWhole)
{
    if (!MountPlayer()) {
        GTEST_SKIP() << "cannot mount the player here: " << m_failure;
    }
    m_fixture.Create("computer/A/One/1:10\ncomputer/A/One/2:300000\ncomputer/A/One/3:10\ncomputer/B/Two/1:10\n");
    RunJob();
    ChangeComputersAlbum();
    const std::string twoManifest = PlayerManifest("B/Two");
    m_progress = 0;
    Rescan();
    Node(u"A/One").m_bChanged = true;
    m_log.m_nAlbumsToCopy = 1;
    m_log.m_nBytesCopied = 0;
    const std::uint64_t bytes = ExpectedAlbumBytes(CPlainCopy(), Node(u"A/One"));
    Job().Run();

    EXPECT_EQ(LogLines(), std::vector<std::string>{"INFO   : Replacing \"COMPUTER/A/One\""});
    ExpectAlbumAsOnComputer("A/One");
    EXPECT_EQ(PlayerManifest("B/Two"), twoManifest); // an album that did not change is never written
    EXPECT_EQ(HiddenFolders(), std::vector<std::string>{});
    EXPECT_EQ(m_log.m_nAlbumsToCopy, 0);
    EXPECT_EQ(m_progress, 1);
    EXPECT_EQ(m_log.m_nBytesCopied, bytes);

    // Once the scan compares the manifest, the album is no longer changed: the
    // next job has nothing to do.
    const auto before = Snapshot("player");
    RunJob(false);
    EXPECT_EQ(LogLines(), std::vector<std::string>{});
    EXPECT_EQ(Snapshot("player"), before);
}

// Both versions must fit at once: a card too full for the new one beside the
// old keeps the old, says so in one line, and the job goes on.
TEST_P(RefreshTest, ACardTooFullForBothVersionsKeepsTheOld)
{
    if (!MountPlayer(4 << 20)) {
        GTEST_SKIP() << "cannot mount the player here: " << m_failure;
    }
    m_fixture.Create("computer/A/One/1:1500000\ncomputer/B/Two/1:10\n");
    RunJob();
    const auto before = Snapshot("player/A/One");
    m_fixture.CreateFile("computer/A/One/2", 1500000);
    m_fixture.Create("computer/C/New/1:10\n");
    RunJob();
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "ERROR  : Replacing \"COMPUTER/A/One\" : Error 28 (No space left on device)",
                              "INFO   : Replacing \"COMPUTER/B/Two\"", "INFO   : Copying \"COMPUTER/C/New\""}));
    EXPECT_EQ(Snapshot("player/A/One"), before);
    ExpectAlbumAsOnComputer("B/Two");
    ExpectAlbumAsOnComputer("C/New");
    EXPECT_EQ(m_log.m_nAlbumsToCopy, 0);
}

// A refresh that cannot complete leaves the old album as it was, and takes
// away what it staged; nothing outside the player is touched.
TEST_P(RefreshTest, ARefreshThatFailsKeepsTheOldAlbum)
{
    if (!MountPlayer()) {
        GTEST_SKIP() << "cannot mount the player here: " << m_failure;
    }
    const std::string stale = "ERROR  : Deleting \"JUKEBIT/A/One\" : Error 116 (Stale file handle)";
    const struct
    {
        std::string m_name;
        std::function<void()> m_change; // after the scan, at the first write
        std::vector<std::string> m_lines;
    } cases[] = {
        {"a file added on the player",
         [&] { m_fixture.Create("player/A/One/cover.jpg:4\n"); },
         {stale, "INFO   : Deleting \"JUKEBIT/A/.lyrafetch-partial\""}},
        {"a source gone",
         [&] { fs::remove(m_fixture / "computer/A/One/2"); },
         {"ERROR  : Opening \"COMPUTER/A/One/2\" : Error 2 (No such file or directory)",
          "INFO   : Deleting \"JUKEBIT/A/.lyrafetch-partial\""}},
        {"a pipe in place of a source",
         [&] {
             fs::remove(m_fixture / "computer/A/One/2");
             mkfifo((m_fixture / "computer/A/One/2").c_str(), 0666);
         },
         {"ERROR  : Opening \"COMPUTER/A/One/2\" : Error 95 (Operation not supported)",
          "INFO   : Deleting \"JUKEBIT/A/.lyrafetch-partial\""}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.m_name);
        fs::remove_all(m_fixture / "computer");
        m_fixture.Create("computer/A/One/1:10\ncomputer/A/One/2:10\n");
        fs::remove_all(m_fixture / "player/A");
        RunJob();
        m_fixture.CreateFile("computer/A/One/1", 12);
        const auto before = Snapshot("player/A/One");
        const std::string manifest = PlayerManifest("A/One");
        Rescan();
        Node(u"A/One").m_bChanged = true;
        ArmFault(EFaultPoint::WriteFile, 0, 0, 1, test.m_change);
        Job().Run();
        DisarmFaults();
        std::vector<std::string> lines{"INFO   : Replacing \"COMPUTER/A/One\""};
        lines.insert(lines.end(), test.m_lines.begin(), test.m_lines.end());
        EXPECT_EQ(LogLines(), lines);
        auto expected = before;
        if (test.m_name == "a file added on the player") {
            expected["cover.jpg"] = CFolderFixture::ContentFor("player/A/One/cover.jpg", 4);
        }
        EXPECT_EQ(Snapshot("player/A/One"), expected);
        EXPECT_EQ(PlayerManifest("A/One"), manifest);
        EXPECT_EQ(HiddenFolders(), std::vector<std::string>{});
    }
}

// A job killed at any step of the swap leaves under the album's name the whole
// old version or the whole new one, or, between the two renames, the name
// free and the old version under a hidden name that says whose it is. The
// next job removes what is hidden, putting the old version back where the
// name is free; the job after it at most has the album right.
TEST_P(RefreshTest, AJobKilledDuringTheSwapLeavesAWholeAlbum)
{
    // The calls before which the job is killed: each rename or exchange (the
    // first exchange fails on exFAT, which then renames the staged version
    // once, to see that its renames keep a folder's entries, then the old and
    // the staged versions), the flush of the new name, the deletion of the
    // old version's first and second file.
    std::vector<std::pair<EFaultPoint, int>> moments = {{EFaultPoint::RenameFolder, 0},
                                                        {EFaultPoint::SyncFolder, 1},
                                                        {EFaultPoint::RemoveFile, 0},
                                                        {EFaultPoint::RemoveFile, 1}};
    if (OnExfat()) {
        moments.insert(
            moments.begin() + 1,
            {{EFaultPoint::RenameFolder, 1}, {EFaultPoint::RenameFolder, 2}, {EFaultPoint::RenameFolder, 3}});
    }
    for (const auto& [point, skip] : moments) {
        SCOPED_TRACE(std::to_string(static_cast<int>(point)) + " after " + std::to_string(skip));
        fs::remove_all(m_fixture / "computer");
        if (!MountPlayer()) {
            GTEST_SKIP() << "cannot mount the player here: " << m_failure;
        }
        m_fixture.Create("computer/A/One/1:10\ncomputer/A/One/2:300000\ncomputer/A/One/3:10\n");
        RunJob();
        const auto oldVersion = Snapshot("player/A/One");
        const std::string oldManifest = PlayerManifest("A/One");
        ChangeComputersAlbum();
        Rescan();
        MarkChanged(m_root, true);
        if (const pid_t job = fork(); job == 0) {
            ArmFault(point, 0, skip, 1, [] { raise(SIGKILL); });
            Job().Run();
            _exit(0);
        } else {
            int status = 0;
            ASSERT_EQ(waitpid(job, &status, 0), job);
            ASSERT_TRUE(WIFSIGNALED(status));
        }
        const bool nameFree = !fs::exists(m_fixture / "player/A/One");
        if (nameFree) {
            EXPECT_TRUE(OnExfat() && point == EFaultPoint::RenameFolder && skip == 3);
            EXPECT_EQ(Snapshot("player/A/.lyrafetch-partial-old-One"), oldVersion);
        } else if (Snapshot("player/A/One") == oldVersion) {
            EXPECT_EQ(PlayerManifest("A/One"), oldManifest);
        } else {
            ExpectAlbumAsOnComputer("A/One");
        }

        RunJob();
        for (const std::string& line : LogLines()) {
            EXPECT_TRUE(line.starts_with("INFO   : Deleting \"JUKEBIT/A/.lyrafetch-partial") ||
                        line.starts_with("INFO   : Restoring \"JUKEBIT/A/One\"") ||
                        line == "INFO   : Replacing \"COMPUTER/A/One\"" ||
                        line == "INFO   : Copying \"COMPUTER/A/One\"" ||
                        line == "INFO   : Deleting \"JUKEBIT/A/One\"" ||
                        line == "ERROR  : Creating \"JUKEBIT/A/One\" : Error 17 (File exists)")
                << line;
        }
        EXPECT_EQ(HiddenFolders(), std::vector<std::string>{});
        if (nameFree) { // the old version is back; the next job refreshes it
            EXPECT_EQ(Snapshot("player/A/One"), oldVersion);
            RunJob();
        }
        ExpectAlbumAsOnComputer("A/One");
    }
}

// A computer album that is the player's folder is the player's alone, and one
// whose track is a link to the player's file is never written anew: deleting
// the old version would take the computer's own file.
TEST_P(RefreshTest, TheComputersOwnFilesAreNeverReplaced)
{
    if (!MountPlayer()) {
        GTEST_SKIP() << "cannot mount the player here: " << m_failure;
    }
    m_fixture.Create("player/A/One/1:10\nplayer/B/Two/1:10\ncomputer/A/\ncomputer/B/Two/\n");
    fs::create_directory_symlink(m_fixture / "player/A/One", m_fixture / "computer/A/One");
    fs::create_symlink(m_fixture / "player/B/Two/1", m_fixture / "computer/B/Two/1");
    const auto before = Snapshot("player");
    ASSERT_TRUE(ScanPair());
    OpenPlayer();
    m_root.ApplySelection(SELECT_ALL);
    Node(u"A/One").m_bChanged = true; // only the player's, whatever marks it
    Node(u"B/Two").m_bChanged = true;
    Job().Run();
    const std::string loop = " : Error 40 (Too many levels of symbolic links)";
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"INFO   : Replacing \"COMPUTER/B/Two\"",
                                                    "ERROR  : Deleting \"JUKEBIT/B/Two\"" + loop}));
    EXPECT_EQ(Snapshot("player"), before);
}

INSTANTIATE_TEST_SUITE_P(Volumes, RefreshTest, ::testing::Values(false, true),
                         [](const auto& volume) { return volume.param ? "Exfat" : "Tmpfs"; });

// An album record that cannot be read makes one line of the job's log, however
// many there are.
TEST_F(JobTest, UnreadManifestsMakeOneLine)
{
    ScanLibrary("player/A/One/1:1\n");
    m_record.m_unreadManifests = {"JUKEBIT/A/One/.lyrafetch-album", "JUKEBIT/B/Two/.lyrafetch-album"};
    Job().Run();
    EXPECT_EQ(LogLines(), std::vector<std::string>{"INFO   : Ignoring \"JUKEBIT/A/One/.lyrafetch-album\" and 1 more: "
                                                   "not an album record this version reads"});
}
