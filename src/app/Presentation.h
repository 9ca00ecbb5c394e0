#pragma once

#include "app/CopyProgress.h"
#include "model/FolderNode.h"
#include "transfer/CopyPlan.h"

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <utility>
#include <vector>

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
// The part of a label that tells an album changed on the computer since it
// was copied: " (changed)", or " (changed, kept as on Jukebit)" when the job
// is to leave the player's version; for a folder, how many albums at or below
// it changed (" (2 changed)"). Empty when none did.
std::string ChangedLabelPart(const CFolderNode& node);
// The label in words, a line for each of its parts: for a folder "3 of 12
// albums are on the player; 120 MB to copy, 40 MB to delete", what is ticked
// and what is only on the player; for an album where it is, its size and what
// its tick does.
std::string FormatItemTooltip(const CFolderNode& node);

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

// "3 folders left out: JUKEBIT/.Trash-1000, JUKEBIT/LOST.DIR, COMPUTER/OnCard",
// with the first few of them; empty when the tree left nothing out.
std::string FormatLeftOutLine(const std::vector<CLeftOutFolder>& folders);
// Each folder left out on a line of its own, with why.
std::string FormatLeftOutDetails(const std::vector<CLeftOutFolder>& folders);

// The question before quitting with albums chosen and not yet copied or
// deleted; empty when there are none.
std::string FormatQuitQuestion(const CFolderNode& root);

// The changed albums at or below a node whose player's version the job keeps.
int CountKeptAlbums(const CFolderNode* node);

// Whether the writer converts some file of the album: it names the file on the
// player otherwise than a copy does.
bool IsAlbumConverted(const CFolderNode& album, const IPlayerFiles& writer);

// One album of a job's plan as the Copy Files dialog lists it: its step
// ("Delete", "Delete (only on Jukebit)", "Copy" or "Refresh", the last two with
// " and convert" when the writer converts some of its files), its display
// path and its size ("45 MB"; "45 MB (was 40 MB)" for a refresh).
struct CPlanRow
{
    std::string m_step;
    std::string m_album;
    std::string m_size;
};
CPlanRow FormatPlanRow(const CPlannedAlbum& album, const IPlayerFiles& writer);

// Where an album that the job has not treated yet stands: its turn is to come,
// it is being treated, or the job has ended without it.
enum class EAlbumTurn { Later, Now, Never };
// "Deleted", "Copied", "Refreshed", "Failed"; for an album not treated yet "",
// "Deleting...", "Copying...", "Refreshing..." or "Skipped".
std::string FormatAlbumState(EPlanStep step, EAlbumOutcome outcome, EAlbumTurn turn);

// "1234MB / 4000MB": the player's free space once the job has run, and its
// size; "unknown" when the size could not be read.
std::string FormatFreeSpaceAfterJob(const CLyrafetchDoc& doc);

// The share of a job done, in thousandths: of the bytes it copies, or of its
// albums when it copies no bytes. Deletions take no time worth showing.
int JobPermille(std::uint64_t bytesDone, std::uint64_t bytesTotal, int albumsDone, int albums);

// "0:42", "12:05", "1:02:03"
std::string FormatDuration(std::int64_t seconds);

// "Albums deleted : 2, copied : 5, failed : 1, not reached : 3. 245 MB written in 0:42."
std::string FormatJobSummary(const CJobSummary& summary);

// How far the copies of a job have come, from the byte counter read at
// moments of the job: the bytes done, the rate over the last few seconds and
// the time left at that rate.
class CTransferMeter
{
public:
    explicit CTransferMeter(std::uint64_t totalBytes = 0) : m_nTotalBytes(totalBytes) {}

    // The bytes done by a moment of the job, in seconds since some start.
    void Sample(double seconds, std::uint64_t bytesDone);
    std::uint64_t BytesDone() const { return m_samples.empty() ? 0 : m_samples.back().second; }
    // Bytes a second, or 0 while too little time has passed to tell.
    double BytesPerSecond() const;
    // "12 of 194 MB", with ", 15.2 MB/s, 0:12 left" once the rate is known and
    // bytes are left.
    std::string Text() const;

private:
    std::uint64_t m_nTotalBytes = 0;
    // Moments and bytes done, oldest first, reaching back over the rate's span.
    std::deque<std::pair<double, std::uint64_t>> m_samples;
};
