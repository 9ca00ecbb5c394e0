#pragma once

#include "app/CopyProgress.h"
#include "model/FolderNode.h"

#include <cstdint>
#include <span>
#include <string>

class CCopyLog;
class CLyrafetchDoc;

// What the window shows of the model and the job, computed without a window
// system.

inline constexpr char APP_TITLE[] = "Lyrafetch";

// The selection mode a toggle applies, by the node's state at scan time and
// its state now.
inline constexpr int kToggleMode[3][3] = {
    {SELECT_ALL, SELECT_NONE, SELECT_ALL},
    {SELECT_ALL, SELECT_NONE, SELECT_ALL},
    {SELECT_INITIAL, SELECT_NONE, SELECT_ALL},
};

int ChooseToggleMode(const CFolderNode& node);
// The same choice from the states of some albums taken together: those that a
// filtered tree shows below the item toggled.
int ChooseToggleMode(std::span<CFolderNode* const> albums);

// "> Live (0/1) (-1/-45MB)": a mark for albums only on the player, the name,
// the selected and all albums, the change in albums and in megabytes.
std::string FormatItemLabel(const CFolderNode& node);

// Bytes in decimal megabytes, truncated toward zero.
constexpr std::int64_t ToMegabytes(std::int64_t bytes)
{
    return bytes / 1000000;
}

// The player's free bytes once the selection has been carried out, each file
// taking whole allocation units of the player.
std::int64_t ProjectedFreeBytes(const CLyrafetchDoc& doc);
// Whether Copy Files must warn that the selection does not fit: only when the
// player's size is known.
bool NeedsFreeSpaceWarning(const CLyrafetchDoc& doc);
// "Free Space : 1234MB / 4000MB"
std::string FormatFreeSpace(std::int64_t freeBytes, std::uint64_t totalBytes);
// "3/10 - Lyrafetch" while a job runs, else "Lyrafetch".
std::string FormatWindowTitle(const CCopyProgress& progress);

// The question that closes the Copy Files dialog after a job.
struct CClosingQuestion
{
    std::string m_text;
    unsigned m_type = 0;
};
CClosingQuestion ChooseClosingQuestion(bool bCancelRequested, const CCopyLog& log);
