#include "app/Presentation.h"

#include "app/LyrafetchDoc.h"
#include "model/Selection.h"
#include "platform/MessageBox.h"
#include "transfer/CopyLog.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace {

// The rate of a job is measured over this many seconds, and told once it has
// run for the shorter span.
constexpr double kRateSpanSeconds = 5;
constexpr double kRateFirstSeconds = 1;

std::string Megabytes(std::uint64_t bytes)
{
    return std::to_string(ToMegabytes(static_cast<std::int64_t>(bytes)));
}

} // namespace

int ChooseToggleMode(const CFolderNode& node)
{
    return kToggleMode[node.GetPlayerState()][node.GetSelectionState()];
}

int ChooseToggleMode(std::span<CFolderNode* const> albums)
{
    std::int32_t selected = 0;
    std::int32_t onPlayer = 0;
    for (const CFolderNode* album : albums) {
        selected += album->m_selected;
        onPlayer += album->m_onPlayer;
    }
    const auto count = static_cast<std::int32_t>(albums.size());
    return kToggleMode[TriState(onPlayer, count)][TriState(selected, count)];
}

std::string FormatItemLabel(const CFolderNode& node)
{
    const auto sign = [](std::int64_t value) { return value >= 0 ? "+" : ""; };
    const std::int32_t albumChange = node.m_selected - node.m_onPlayer;
    const std::int64_t megabytes = ToMegabytes(node.m_sizeDelta);
    char counts[128];
    std::snprintf(counts, sizeof counts, " (%d/%d) (%s%d/%s%" PRId64 "MB)", node.m_selected, node.m_albums,
                  sign(albumChange), albumChange, sign(node.m_sizeDelta), megabytes);
    const bool somePlayerOnly = node.m_presence != PRESENCE_COMPUTER;
    return (somePlayerOnly ? "> " : "") + node.GetDisplayName() + counts + ChangedLabelPart(node);
}

std::string ChangedLabelPart(const CFolderNode& node)
{
    if (node.IsAlbum() && node.m_pParent != nullptr) {
        return !node.m_bChanged ? "" : node.m_bKeepPlayers ? " (changed, kept as on Jukebit)" : " (changed)";
    }
    return node.m_changed > 0 ? " (" + std::to_string(node.m_changed) + " changed)" : "";
}

namespace {

std::string AlbumTooltip(const CFolderNode& album)
{
    const bool onComputer = !album.m_names[SIDE_COMPUTER].empty();
    const bool onPlayer = !album.m_names[SIDE_PLAYER].empty();
    const char* where = !onPlayer    ? "Only on the computer"
                        : onComputer ? "On the computer and on the player"
                                     : "Only on the player";
    const char* tick = album.m_selected != 0
                           ? (onPlayer ? "Ticked: stays on the player" : "Ticked: to copy to the player")
                           : (onPlayer ? "Not ticked: to delete from the player" : "Not ticked: stays off the player");
    const std::uint64_t bytes = album.FileBytes(onPlayer ? SIDE_PLAYER : SIDE_COMPUTER);
    std::string text = std::string(where) + ", " + Megabytes(bytes) + " MB\n" + tick +
                       (onPlayer && !onComputer && album.m_selected == 0 ? ", its music is nowhere else" : "");
    if (album.m_bChanged) {
        text += album.m_bKeepPlayers ? "\nChanged on the computer; the Jukebit's version is kept (Ctrl+K replaces it)"
                                     : "\nChanged on the computer since it was copied: ticked, its new version "
                                       "replaces the Jukebit's (Ctrl+K keeps the Jukebit's)";
    }
    return text;
}

// What the albums at or below a folder come to.
struct CAlbumTally
{
    int m_nToCopy = 0;
    int m_nToDelete = 0;
    int m_nToRefresh = 0;
    int m_nPlayerOnly = 0;
    std::int64_t m_nBytesToCopy = 0;
    std::int64_t m_nBytesToDelete = 0;
};

void Tally(const CFolderNode& node, CAlbumTally& tally)
{
    if (!node.IsAlbum()) {
        for (const auto& child : node.m_children) {
            Tally(*child, tally);
        }
        return;
    }
    tally.m_nPlayerOnly += node.m_names[SIDE_COMPUTER].empty() ? 1 : 0;
    if (node.IsAlbumToCopy()) {
        ++tally.m_nToCopy;
        tally.m_nBytesToCopy += node.m_sizeDelta;
    } else if (node.IsAlbumToDelete()) {
        ++tally.m_nToDelete;
        tally.m_nBytesToDelete -= node.m_sizeDelta;
    } else if (node.IsAlbumToRefresh()) {
        ++tally.m_nToRefresh;
    }
}

} // namespace

std::string FormatItemTooltip(const CFolderNode& node)
{
    if (node.IsAlbum() && node.m_pParent != nullptr) {
        return AlbumTooltip(node);
    }
    CAlbumTally tally;
    Tally(node, tally);
    const auto of = [&](std::int32_t count) { return std::to_string(count) + " of " + std::to_string(node.m_albums); };
    std::string text = of(node.m_onPlayer) + " albums are on the player; " +
                       Megabytes(static_cast<std::uint64_t>(tally.m_nBytesToCopy)) + " MB to copy, " +
                       Megabytes(static_cast<std::uint64_t>(tally.m_nBytesToDelete)) + " MB to delete\n" +
                       of(node.m_selected) + " albums are ticked: " + std::to_string(tally.m_nToCopy) + " to copy, " +
                       std::to_string(tally.m_nToDelete) + " to delete";
    if (node.m_changed > 0) {
        text += "\n" + of(node.m_changed) + " albums changed on the computer since they were copied, " +
                std::to_string(tally.m_nToRefresh) + " of them to refresh";
    }
    if (tally.m_nPlayerOnly > 0) {
        text += "\n> " + of(tally.m_nPlayerOnly) + " albums are only on the player";
    }
    return text;
}

std::int64_t ProjectedFreeBytes(const CLyrafetchDoc& doc)
{
    const auto freeBytes = static_cast<std::int64_t>(doc.m_nFreeBytes);
    // The space the files take as the job's writer writes them.
    return doc.m_pModel ? freeBytes - doc.m_pModel->ComputeSpaceDelta(doc.m_allocationUnit, doc.Writer()) : freeBytes;
}

bool NeedsFreeSpaceWarning(const CLyrafetchDoc& doc)
{
    return doc.m_nTotalBytes != 0 && ProjectedFreeBytes(doc) < 0;
}

std::string FormatFreeSpace(std::int64_t freeBytes, std::uint64_t totalBytes)
{
    char text[96];
    std::snprintf(text, sizeof text, "Free Space : %dMB / %dMB", static_cast<std::int32_t>(ToMegabytes(freeBytes)),
                  static_cast<std::int32_t>(ToMegabytes(static_cast<std::int64_t>(totalBytes))));
    return text;
}

std::string FormatWindowTitle(const CCopyProgress& progress)
{
    if (!progress.bRunning) {
        return APP_TITLE;
    }
    return std::to_string(progress.nToCopyTotal - progress.nToCopy) + "/" + std::to_string(progress.nToCopyTotal) +
           " - " + APP_TITLE;
}

CClosingQuestion ChooseClosingQuestion(bool bCancelRequested, const CCopyLog& log)
{
    if (bCancelRequested) {
        return {"Canceled. See log ?", MB_OKCANCEL | MB_ICONINFORMATION};
    }
    // A job the program itself stopped (a player gone, a full disk) did not do
    // what was asked, even where no call failed, as when the player went away
    // between two files.
    const bool errors = std::any_of(log.m_entries.begin(), log.m_entries.end(), [](const auto& entry) {
        return entry->m_level == LOG_ERROR || (entry->m_level == LOG_CANCEL && entry->m_text != "Canceled by user");
    });
    if (errors) {
        return {"Errors ! See log ?", MB_OKCANCEL | MB_ICONEXCLAMATION};
    }
    return {"Done. See log ?", MB_OKCANCEL | MB_ICONINFORMATION};
}

std::string FormatLeftOutLine(const std::vector<CLeftOutFolder>& folders)
{
    constexpr std::size_t kNamed = 3;
    if (folders.empty()) {
        return {};
    }
    std::string line = std::to_string(folders.size()) + (folders.size() == 1 ? " folder" : " folders") + " left out: ";
    for (std::size_t i = 0; i < std::min(folders.size(), kNamed); ++i) {
        line += (i == 0 ? "" : ", ") + folders[i].m_display;
    }
    return folders.size() > kNamed ? line + ", ..." : line;
}

std::string FormatLeftOutDetails(const std::vector<CLeftOutFolder>& folders)
{
    constexpr std::size_t kLines = 40;
    static const char* const kWhy[] = {"kept on the drive by another system",
                                       "a folder of the Jukebit, not of the computer: nothing in it is deleted"};
    std::string details;
    for (std::size_t i = 0; i < std::min(folders.size(), kLines); ++i) {
        details += (i == 0 ? "" : "\n") + folders[i].m_display + " : " + kWhy[folders[i].m_reason];
    }
    if (folders.size() > kLines) {
        details += "\nand " + std::to_string(folders.size() - kLines) + " more";
    }
    return details;
}

std::string FormatQuitQuestion(const CFolderNode& root)
{
    const int toCopy = root.CountAlbumsToCopy();
    const int toDelete = root.CountAlbumsToDelete();
    if (toCopy == 0 && toDelete == 0) {
        return {};
    }
    return std::to_string(toCopy) + " albums to copy and " + std::to_string(toDelete) +
           " to delete have not been carried out. Quit ?";
}

int CountKeptAlbums(const CFolderNode* node)
{
    if (node == nullptr || node->m_changed == 0) {
        return 0;
    }
    int kept = node->IsAlbum() && node->m_bKeepPlayers ? 1 : 0;
    for (const auto& child : node->m_children) {
        kept += CountKeptAlbums(child.get());
    }
    return kept;
}

bool IsAlbumConverted(const CFolderNode& album, const IPlayerFiles& writer)
{
    const std::vector<CFileEntry>& files = album.m_files[SIDE_COMPUTER];
    return std::any_of(files.begin(), files.end(), [&](const CFileEntry& file) {
        return writer.PlayerFileName(album, file) != PlayerName(file.m_name);
    });
}

CPlanRow FormatPlanRow(const CPlannedAlbum& album, const IPlayerFiles& writer)
{
    const CFolderNode& node = *album.m_pAlbum;
    const std::string size = Megabytes(album.m_bytes) + " MB";
    switch (album.m_step) {
    case EPlanStep::Delete:
        return {node.m_names[SIDE_COMPUTER].empty() ? "Delete (only on Jukebit)" : "Delete",
                ToLogText(node.GetPath(SIDE_PLAYER, true)), size};
    case EPlanStep::Copy:
    case EPlanStep::Refresh:
        break;
    }
    const bool refresh = album.m_step == EPlanStep::Refresh;
    const bool converted = IsAlbumConverted(node, writer);
    return {std::string(refresh ? "Refresh" : "Copy") + (converted ? " and convert" : ""),
            ToLogText(node.GetPath(SIDE_COMPUTER, true)),
            refresh ? size + " (was " + Megabytes(album.m_oldBytes) + " MB)" : size};
}

std::string FormatAlbumState(EPlanStep step, EAlbumOutcome outcome, EAlbumTurn turn)
{
    static const char* const kDone[] = {"Deleted", "Copied", "Refreshed"};
    static const char* const kNow[] = {"Deleting...", "Copying...", "Refreshing..."};
    const auto index = static_cast<std::size_t>(step);
    switch (outcome) {
    case EAlbumOutcome::Done:
        return kDone[index];
    case EAlbumOutcome::Failed:
        return "Failed";
    case EAlbumOutcome::Pending:
        break;
    }
    switch (turn) {
    case EAlbumTurn::Now:
        return kNow[index];
    case EAlbumTurn::Never:
        return "Skipped";
    case EAlbumTurn::Later:
        break;
    }
    return "";
}

std::string FormatFreeSpaceAfterJob(const CLyrafetchDoc& doc)
{
    if (doc.m_nTotalBytes == 0) {
        return "unknown";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%" PRId64 "MB / %" PRId64 "MB", ToMegabytes(ProjectedFreeBytes(doc)),
                  ToMegabytes(static_cast<std::int64_t>(doc.m_nTotalBytes)));
    return text;
}

int JobPermille(std::uint64_t bytesDone, std::uint64_t bytesTotal, int albumsDone, int albums)
{
    if (bytesTotal != 0) {
        return static_cast<int>(std::min<std::uint64_t>(bytesDone, bytesTotal) * 1000 / bytesTotal);
    }
    return albums > 0 ? std::clamp(albumsDone, 0, albums) * 1000 / albums : 1000;
}

std::string FormatDuration(std::int64_t seconds)
{
    char text[48];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600, static_cast<int>(seconds / 60 % 60),
                      static_cast<int>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    }
    return text;
}

std::string FormatJobSummary(const CJobSummary& summary)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(summary.m_timeTaken).count();
    return "Albums deleted : " + std::to_string(summary.m_nDeleted) +
           ", copied : " + std::to_string(summary.m_nCopied) + ", failed : " + std::to_string(summary.m_nFailed) +
           ", not reached : " + std::to_string(summary.m_nNotReached) + ". " + Megabytes(summary.m_nBytesWritten) +
           " MB written in " + FormatDuration(seconds) + ".";
}

void CTransferMeter::Sample(double seconds, std::uint64_t bytesDone)
{
    m_samples.emplace_back(seconds, bytesDone);
    // One sample stays from before the span, so that the span is measured whole.
    while (m_samples.size() > 2 && m_samples[1].first <= seconds - kRateSpanSeconds) {
        m_samples.pop_front();
    }
}

double CTransferMeter::BytesPerSecond() const
{
    if (m_samples.size() < 2) {
        return 0;
    }
    const auto& [firstTime, firstBytes] = m_samples.front();
    const auto& [lastTime, lastBytes] = m_samples.back();
    const double span = lastTime - firstTime;
    return span >= kRateFirstSeconds ? static_cast<double>(lastBytes - firstBytes) / span : 0;
}

std::string CTransferMeter::Text() const
{
    const std::uint64_t done = BytesDone();
    std::string text = Megabytes(done) + " of " + Megabytes(m_nTotalBytes) + " MB";
    const double rate = BytesPerSecond();
    if (rate > 0 && done < m_nTotalBytes) {
        char figures[64];
        std::snprintf(figures, sizeof figures, ", %.1f MB/s, ", rate / 1000000);
        const auto secondsLeft = static_cast<std::int64_t>(std::ceil(static_cast<double>(m_nTotalBytes - done) / rate));
        text += figures + FormatDuration(secondsLeft) + " left";
    }
    return text;
}
