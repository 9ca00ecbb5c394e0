#pragma once

#include "model/FolderNode.h"
#include "transfer/PlainCopy.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

// What a job does to one album. A refresh writes the computer's new version of
// an album in place of the player's.
enum class EPlanStep { Delete, Copy, Refresh };

// What has become of an album of the plan while its job runs.
enum class EAlbumOutcome { Pending, Done, Failed };

struct CPlannedAlbum
{
    const CFolderNode* m_pAlbum = nullptr;
    EPlanStep m_step = EPlanStep::Copy;
    // What the step frees on the player or writes there: the album's files on
    // the player, or what the writer expects of the computer's.
    std::uint64_t m_bytes = 0;
    // For a refresh: the bytes of the player's version that the new one
    // replaces.
    std::uint64_t m_oldBytes = 0;
};

// What a job came to, album by album, as its log tells it at the end.
struct CJobSummary
{
    int m_nDeleted = 0;
    // Albums refreshed count as copied.
    int m_nCopied = 0;
    int m_nFailed = 0;
    int m_nNotReached = 0;
    // The bytes of the albums copied.
    std::uint64_t m_nBytesWritten = 0;
    std::chrono::milliseconds m_timeTaken{0};

    bool operator==(const CJobSummary&) const = default;
};

// The albums a job will treat, in its order: every album to delete, then every
// album to copy or refresh, each in the tree's order. The job records the outcome of each
// as it goes; the window reads them while it runs.
class CCopyPlan
{
public:
    CCopyPlan() = default;
    // The bytes of an album to copy are those the writer expects of its files.
    explicit CCopyPlan(const CFolderNode& root, const IFileWriter& writer = CPlainCopy());

    const std::vector<CPlannedAlbum>& Albums() const { return m_albums; }
    // The bytes of every album to copy or refresh, as written.
    std::uint64_t BytesToCopy() const { return m_bytesToCopy; }

    EAlbumOutcome Outcome(std::size_t index) const { return m_outcomes[index].load(); }
    // For the job: an album that is not in the plan is passed over.
    void SetOutcome(const CFolderNode& album, EAlbumOutcome outcome);
    // What the outcomes recorded come to; the time is the caller's to add.
    CJobSummary Summarize() const;

private:
    void Collect(const CFolderNode& node, EPlanStep step, const IFileWriter& writer);

    std::vector<CPlannedAlbum> m_albums;
    std::uint64_t m_bytesToCopy = 0;
    std::unordered_map<const CFolderNode*, std::size_t> m_indexes;
    std::unique_ptr<std::atomic<EAlbumOutcome>[]> m_outcomes;
};
