#include "transfer/CopyPlan.h"

CCopyPlan::CCopyPlan(const CFolderNode& root, const IFileWriter& writer)
{
    Collect(root, EPlanStep::Delete, writer);
    Collect(root, EPlanStep::Copy, writer);
    m_outcomes = std::make_unique<std::atomic<EAlbumOutcome>[]>(m_albums.size());
    for (std::size_t index = 0; index < m_albums.size(); ++index) {
        m_indexes.emplace(m_albums[index].m_pAlbum, index);
    }
}

void CCopyPlan::Collect(const CFolderNode& node, EPlanStep step, const IFileWriter& writer)
{
    for (const auto& child : node.m_children) {
        Collect(*child, step, writer);
    }
    if (step == EPlanStep::Delete) {
        if (node.IsAlbumToDelete()) {
            m_albums.push_back({&node, step, node.FileBytes(SIDE_PLAYER)});
        }
        return;
    }
    const bool refresh = node.IsAlbumToRefresh();
    if (!refresh && !node.IsAlbumToCopy()) {
        return;
    }
    const std::uint64_t bytes = ExpectedAlbumBytes(writer, node);
    m_albums.push_back(
        {&node, refresh ? EPlanStep::Refresh : EPlanStep::Copy, bytes, refresh ? node.FileBytes(SIDE_PLAYER) : 0});
    m_bytesToCopy += bytes;
}

void CCopyPlan::SetOutcome(const CFolderNode& album, EAlbumOutcome outcome)
{
    if (const auto found = m_indexes.find(&album); found != m_indexes.end()) {
        m_outcomes[found->second] = outcome;
    }
}

CJobSummary CCopyPlan::Summarize() const
{
    CJobSummary summary;
    for (std::size_t index = 0; index < m_albums.size(); ++index) {
        const CPlannedAlbum& album = m_albums[index];
        switch (Outcome(index)) {
        case EAlbumOutcome::Done:
            if (album.m_step == EPlanStep::Delete) {
                ++summary.m_nDeleted;
            } else {
                ++summary.m_nCopied;
                summary.m_nBytesWritten += album.m_bytes;
            }
            break;
        case EAlbumOutcome::Failed:
            ++summary.m_nFailed;
            break;
        case EAlbumOutcome::Pending:
            ++summary.m_nNotReached;
            break;
        }
    }
    return summary;
}
