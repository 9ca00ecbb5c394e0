#include "app/Presentation.h"

#include "app/LyrafetchDoc.h"
#include "model/Selection.h"
#include "platform/MessageBox.h"
#include "transfer/CopyLog.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

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
    return (somePlayerOnly ? "> " : "") + node.GetDisplayName() + counts;
}

std::int64_t ProjectedFreeBytes(const CLyrafetchDoc& doc)
{
    const auto freeBytes = static_cast<std::int64_t>(doc.m_freeBytes);
    return doc.m_pModel ? freeBytes - doc.m_pModel->ComputeSpaceDelta(doc.m_allocationUnit) : freeBytes;
}

bool NeedsFreeSpaceWarning(const CLyrafetchDoc& doc)
{
    return doc.m_totalBytes != 0 && ProjectedFreeBytes(doc) < 0;
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
    const bool errors = std::any_of(log.m_entries.begin(), log.m_entries.end(),
                                    [](const auto& entry) { return entry->m_level == LOG_ERROR; });
    if (errors) {
        return {"Errors ! See log ?", MB_OKCANCEL | MB_ICONEXCLAMATION};
    }
    return {"Done. See log ?", MB_OKCANCEL | MB_ICONINFORMATION};
}
