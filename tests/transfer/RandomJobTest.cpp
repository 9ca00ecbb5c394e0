// Whole copy jobs on random library pairs with random selections and random
// trouble: a full disk, a source file removed while the job runs, a cancel at
// a random moment, a link on the player into the computer's folder or out of
// both, roots that overlap or an empty player root. After each job the folders
// on disk must agree with the log and nothing but the player's albums may
// have changed.
//
// LYRAFETCH_RANDOM_JOBS sets the number of jobs (default 64) and
// LYRAFETCH_RANDOM_SEED the first seed (default 1).
#include "app/LyrafetchDoc.h"
#include "platform/FaultInjection.h"
#include "support/FolderFixture.h"
#include "support/LoadDocument.h"
#include "support/MessageQueue.h"
#include "support/MessageRecorder.h"
#include "support/ScratchVolume.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using CSnapshot = std::map<std::string, std::string>;

enum class ETrouble { None, DiskFull, SourceRemoved, Cancel, LinkOnPlayer, BadRoots };

int EnvironmentNumber(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : fallback;
}

// Every folder and file below root by relative path (folders end in '/'), a
// file with its size and a hash of its bytes.
CSnapshot Snapshot(const fs::path& root)
{
    CSnapshot files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            files[relative + "/"] = "";
        } else {
            const std::string content = ReadFileText(entry);
            files[relative] = std::to_string(content.size()) + "#" + std::to_string(std::hash<std::string>()(content));
        }
    }
    return files;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// One random job, from the library on disk to the checks afterwards.
class CRandomJob
{
public:
    explicit CRandomJob(std::uint32_t seed) : m_random(seed) {}

    void Run()
    {
        m_trouble = static_cast<ETrouble>(Pick(0, 5));
        WriteLibrary();
        if (m_trouble == ETrouble::LinkOnPlayer) {
            LinkAPlayerFolder();
        }
        if (m_trouble == ETrouble::BadRoots) {
            RunOnBadRoots();
            return;
        }
        CLyrafetchDoc doc(m_params);
        ASSERT_TRUE(LoadDocument(doc)) << m_messages.m_messages.size();
        SelectAtRandom(*doc.m_pModel);
        CollectAlbums(*doc.m_pModel);
        const CSnapshot computerBefore = Snapshot(m_fixture / "computer");
        const CSnapshot playerBefore = Snapshot(m_fixture / "player");
        const CSnapshot outsideBefore = Snapshot(m_fixture / "outside");

        const int toDelete = doc.m_pModel->CountAlbumsToDelete();
        const int toCopy = doc.m_pModel->CountAlbumsToCopy() + doc.m_pModel->CountAlbumsToRefresh();
        doc.m_log.m_nAlbumsToDelete = toDelete;
        doc.m_log.m_nAlbumsToCopy = toCopy;
        ArmTrouble();
        ASSERT_TRUE(doc.StartCopy(&m_queue, WM_COPYNOTIFY));
        CountProgress(m_queue.WaitFor(COPYNOTIFY_DONE));
        ASSERT_TRUE(doc.EndCopy());
        DisarmFaults();
        g_cancelState = 0;

        ReadLog(doc.m_log);
        SCOPED_TRACE("log:\n" + doc.m_log.GetText());
        CSnapshot computerExpected = computerBefore;
        if (m_bRemoved) {
            computerExpected.erase(m_removedSource);
        }
        EXPECT_EQ(Snapshot(m_fixture / "computer"), computerExpected);
        EXPECT_EQ(Snapshot(m_fixture / "outside"), outsideBefore);
        CheckPlayer(playerBefore, computerBefore);
        CheckCounters(doc.m_log, toDelete, toCopy);
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

    // With a full disk to meet, the player is a small volume of its own: room
    // for what it holds and a random amount more.
    void PreparePlayer(std::uint64_t playerBytes)
    {
        fs::create_directories(m_fixture / "player");
        if (m_trouble == ETrouble::DiskFull) {
            const std::uint64_t size = playerBytes + static_cast<std::uint64_t>(Pick(0, 512)) * 1024;
            m_bRealDiskFull = m_volume.Mount(m_fixture / "player", size).empty();
        }
    }

    void WriteLibrary()
    {
        std::ostringstream description;
        description << "computer/\noutside/untouchable:100\n";
        std::uint64_t playerBytes = 0;
        for (int artist = Pick(1, 4); artist > 0; --artist) {
            const std::string artistName = "Artist" + std::to_string(artist);
            for (int album = Pick(1, 3); album > 0; --album) {
                const std::string albumName = artistName + "/Album" + std::to_string(album);
                const int place = Pick(0, 2); // 0 both, 1 computer only, 2 player only
                for (int side = 0; side < 2; ++side) {
                    if ((side == 0 && place == 2) || (side == 1 && place == 1)) {
                        continue;
                    }
                    const std::string root = side == 0 ? "computer/" : "player/";
                    description << root << albumName << "/\n";
                    for (int file = Pick(0, 3); file > 0; --file) {
                        const int size = Pick(0, 120000);
                        description << root << albumName << "/track" << file << ".mp3:" << size << "\n";
                        playerBytes += side == 1 ? (size + 4095) / 4096 * 4096 : 0;
                    }
                }
            }
            if (Pick(0, 3) == 0) {
                description << "player/" << artistName << "/cover.jpg:" << Pick(1, 4096) << "\n";
                playerBytes += 4096;
            }
        }
        PreparePlayer(playerBytes);
        m_fixture.Create(description.str());
        m_params = {(m_fixture / "computer").string(), (m_fixture / "player").string()};
    }

    // Replaces a folder of the player by a link to where its contents now lie,
    // outside both roots, or to a folder of the computer.
    void LinkAPlayerFolder()
    {
        std::vector<fs::path> folders;
        for (const auto& entry : fs::recursive_directory_iterator(m_fixture / "player")) {
            if (entry.is_directory()) {
                folders.push_back(fs::relative(entry.path(), m_fixture / "player"));
            }
        }
        if (folders.empty()) {
            return;
        }
        m_linked = folders[Pick(0, static_cast<int>(folders.size()) - 1)].string();
        const fs::path computer = m_fixture / "computer" / m_linked;
        fs::path target = m_fixture / "outside" / ("moved" + std::to_string(Pick(0, 1000)));
        fs::rename(m_fixture / "player" / m_linked, target);
        if (Pick(0, 1) == 0 && fs::is_directory(computer)) {
            target = computer;
        }
        fs::create_directory_symlink(target, m_fixture / "player" / m_linked);
    }

    // Two roots that overlap are refused at the load, an empty player root
    // when the job would start: nothing anywhere changes.
    void RunOnBadRoots()
    {
        m_params = {(m_fixture / "computer").string(), ""};
        if (Pick(0, 1)) {
            m_params = {(m_fixture / "player").string(), (m_fixture / "player/..").string()};
            if (Pick(0, 1)) {
                std::swap(m_params[0], m_params[1]);
            }
        }
        const CSnapshot before = Snapshot(m_fixture.Root());
        CLyrafetchDoc doc(m_params);
        if (LoadDocument(doc)) {
            SelectAtRandom(*doc.m_pModel);
            EXPECT_FALSE(doc.StartCopy(&m_queue, WM_COPYNOTIFY));
        }
        EXPECT_FALSE(m_messages.m_messages.empty());
        EXPECT_EQ(Snapshot(m_fixture.Root()), before);
    }

    void SelectAtRandom(CFolderNode& root)
    {
        std::vector<CFolderNode*> nodes;
        const std::function<void(CFolderNode&)> collect = [&](CFolderNode& node) {
            nodes.push_back(&node);
            for (const auto& child : node.m_children) {
                collect(*child);
            }
        };
        collect(root);
        for (int step = Pick(1, 6); step > 0; --step) {
            nodes[Pick(0, static_cast<int>(nodes.size()) - 1)]->ApplySelection(Pick(SELECT_NONE, SELECT_INITIAL));
        }
    }

    void CollectAlbums(const CFolderNode& node)
    {
        if (node.IsAlbumToCopy()) {
            m_albumsToCopy.push_back(ToLogText(node.GetRelativePath(SIDE_COMPUTER)));
        } else if (node.IsAlbumToRefresh()) {
            m_albumsToRefresh.push_back(ToLogText(node.GetRelativePath(SIDE_PLAYER)));
        } else if (node.IsAlbumToDelete()) {
            m_albumsToDelete.push_back(ToLogText(node.GetRelativePath(SIDE_PLAYER)));
        }
        for (const auto& child : node.m_children) {
            CollectAlbums(*child);
        }
    }

    void ArmTrouble()
    {
        const int moment = Pick(1, 12);
        if (m_trouble == ETrouble::DiskFull && !m_bRealDiskFull) {
            ArmFault(EFaultPoint::WriteFile, ENOSPC, Pick(0, 6), -1);
        }
        if (m_trouble == ETrouble::SourceRemoved && !m_albumsToCopy.empty()) {
            const fs::path album = m_fixture / "computer" / m_albumsToCopy[Pick(0, m_albumsToCopy.size() - 1)];
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(album)) {
                files.push_back(entry.path());
            }
            if (!files.empty()) {
                const fs::path victim = files[Pick(0, static_cast<int>(files.size()) - 1)];
                m_removedSource = fs::relative(victim, m_fixture / "computer").string();
                m_queue.m_onPost = [this, victim, moment](const CPostedMessage&) {
                    if (++m_posted == moment) {
                        m_bRemoved = fs::remove(victim);
                    }
                };
            }
        }
        if (m_trouble == ETrouble::Cancel) {
            m_queue.m_onPost = [this, moment](const CPostedMessage&) {
                if (++m_posted == moment) {
                    g_cancelState = 1;
                }
            };
        }
    }

    // Progress messages before the first copy are deleted albums, after it copied ones.
    void CountProgress(const std::vector<CPostedMessage>& messages)
    {
        bool copying = false;
        for (const auto& message : messages) {
            if (message.m_wParam == COPYNOTIFY_LOGLINE) {
                const auto* entry = reinterpret_cast<const CCopyLogEntry*>(message.m_lParam);
                copying |= StartsWith(entry->m_text, "Copying") || StartsWith(entry->m_text, "Replacing");
            } else if (message.m_wParam == COPYNOTIFY_PROGRESS) {
                ++(copying ? m_copiedProgress : m_deletedProgress);
            }
        }
    }

    // Splits the log into the delete pass's lines and one block per album copy.
    void ReadLog(const CCopyLog& log)
    {
        std::string* block = nullptr;
        for (const auto& entry : log.m_entries) {
            const std::string line = FormatLogEntry(*entry, false);
            const bool replacing = StartsWith(entry->m_text, "Replacing \"COMPUTER/");
            if (replacing || StartsWith(entry->m_text, "Copying \"COMPUTER/")) {
                const std::size_t start = replacing ? 20 : 18;
                const std::string album = entry->m_text.substr(start, entry->m_text.size() - start - 1);
                m_copyOrder.push_back(album);
                block = &m_copyBlocks[album];
            }
            (block ? *block : m_deleteLines) += line + "\n";
            m_bCanceled |= entry->m_level == LOG_CANCEL;
            m_bErrors |= entry->m_level == LOG_ERROR;
        }
    }

    void CheckPlayer(const CSnapshot& before, const CSnapshot& computer)
    {
        const CSnapshot after = Snapshot(m_fixture / "player");
        auto within = [](const std::vector<std::string>& albums, const std::string& path) {
            return std::any_of(albums.begin(), albums.end(),
                               [&](const std::string& album) { return StartsWith(path, album + "/"); });
        };
        // Every file that was not in an album to delete or refresh is still there, unchanged.
        for (const auto& [path, content] : before) {
            if (!within(m_albumsToDelete, path) && !within(m_albumsToRefresh, path) && path.back() != '/') {
                EXPECT_TRUE(after.count(path) && after.at(path) == content) << path;
            }
        }
        for (const std::string& album : m_albumsToDelete) {
            const bool deleted = m_deleteLines.find("Deleting \"JUKEBIT/" + album + "\"") != std::string::npos;
            if (BelowTheLink(album)) {
                // Never deleted through the link: the album's own line says why.
                EXPECT_EQ(deleted, m_deleteLines.find("Opening \"JUKEBIT/" + album + "\"") != std::string::npos)
                    << album;
                continue;
            }
            EXPECT_EQ(after.count(album + "/"), deleted ? 0u : 1u) << album;
        }
        for (const std::string& album : m_albumsToRefresh) {
            ExpectOneVersion(after, computer, before, album);
        }
        // A copied album is on the player whole and byte for byte; any other is not there at all.
        for (const std::string& album : m_albumsToCopy) {
            const auto block = m_copyBlocks.find(album);
            const bool copied = block != m_copyBlocks.end() && block->second.find("Deleting") == std::string::npos;
            if (!copied) {
                EXPECT_EQ(after.count(album + "/"), 0u) << album;
                continue;
            }
            for (auto file = computer.lower_bound(album + "/");
                 file != computer.end() && StartsWith(file->first, album + "/"); ++file) {
                EXPECT_TRUE(after.count(file->first) && after.at(file->first) == file->second) << file->first;
            }
        }
    }

    // A refreshed album is whole: its new version, byte for byte, or its old one.
    static void ExpectOneVersion(const CSnapshot& after, const CSnapshot& computer, const CSnapshot& before,
                                 const std::string& album)
    {
        auto files = [&](const CSnapshot& snapshot) {
            CSnapshot albumFiles;
            for (auto file = snapshot.lower_bound(album + "/");
                 file != snapshot.end() && StartsWith(file->first, album + "/"); ++file) {
                if (!file->first.ends_with(std::string("/") + ".lyrafetch-album")) {
                    albumFiles.emplace(file->first, file->second);
                }
            }
            return albumFiles;
        };
        const CSnapshot now = files(after);
        EXPECT_TRUE(now == files(computer) || now == files(before)) << album;
    }

    bool BelowTheLink(const std::string& path) const
    {
        return !m_linked.empty() && (path == m_linked || StartsWith(path, m_linked + "/"));
    }

    void CheckCounters(const CCopyLog& log, int toDelete, int toCopy)
    {
        int deleted = 0;
        for (std::size_t at = 0; (at = m_deleteLines.find("INFO   : Deleting", at)) != std::string::npos; ++at) {
            ++deleted;
        }
        // Every album reached is counted, but an album copy that a cancel interrupted.
        int interrupted = 0;
        for (const auto& [album, block] : m_copyBlocks) {
            const std::size_t cancel = block.find("CANCEL");
            interrupted += cancel != std::string::npos && block.find("Deleting", cancel) != std::string::npos;
        }
        EXPECT_EQ(m_deletedProgress, deleted);
        EXPECT_LE(m_copiedProgress, static_cast<int>(m_copyBlocks.size()) - interrupted);
        EXPECT_EQ(log.m_nAlbumsToDelete, toDelete - m_deletedProgress);
        EXPECT_EQ(log.m_nAlbumsToCopy, toCopy - m_copiedProgress);
        if (m_trouble == ETrouble::None) {
            EXPECT_FALSE(m_bErrors || m_bCanceled);
            EXPECT_EQ(log.m_nAlbumsToDelete, 0);
            EXPECT_EQ(log.m_nAlbumsToCopy, 0);
        }
        // Nothing is tried after a full disk.
        const std::string full = "Canceled because disk is full";
        for (std::size_t i = 0; i + 1 < m_copyOrder.size(); ++i) {
            EXPECT_EQ(m_copyBlocks[m_copyOrder[i]].find(full), std::string::npos) << m_copyOrder[i];
        }
    }

    std::mt19937 m_random;
    ETrouble m_trouble = ETrouble::None;
    CFolderFixture m_fixture;
    CMessageRecorder m_messages;
    CMessageQueue m_queue;
    CScratchVolume m_volume;
    bool m_bRealDiskFull = false;
    std::vector<std::string> m_params;
    std::vector<std::string> m_albumsToCopy;
    std::vector<std::string> m_albumsToRefresh;
    std::vector<std::string> m_albumsToDelete;
    std::string m_removedSource;
    std::string m_linked; // the player's folder that is a link, when there is one
    std::atomic<int> m_posted{0};
    std::atomic<bool> m_bRemoved{false};
    std::string m_deleteLines;
    std::map<std::string, std::string> m_copyBlocks;
    std::vector<std::string> m_copyOrder;
    int m_deletedProgress = 0;
    int m_copiedProgress = 0;
    bool m_bCanceled = false;
    bool m_bErrors = false;
};

} // namespace

TEST(RandomJobTest, FoldersAgreeWithTheLogAndNothingElseChanges)
{
    const int first = EnvironmentNumber("LYRAFETCH_RANDOM_SEED", 1);
    const int jobs = EnvironmentNumber("LYRAFETCH_RANDOM_JOBS", 64);
    for (int seed = first; seed < first + jobs; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " (LYRAFETCH_RANDOM_SEED=" + std::to_string(seed) +
                     " LYRAFETCH_RANDOM_JOBS=1 repeats it)");
        CRandomJob(static_cast<std::uint32_t>(seed)).Run();
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
}
