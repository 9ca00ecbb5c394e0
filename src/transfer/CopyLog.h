#pragma once

#include "text/Text.h"
#include "transfer/CopyPlan.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

inline constexpr int LOG_INFO = 0;
inline constexpr int LOG_ERROR = 1;
inline constexpr int LOG_CANCEL = 2;

// The cancel state of the copy job, shared by the user-interface thread and
// the worker: 0 no cancel, 1 the user asked to cancel, 2 the job is canceled,
// 3 the window saw the player's file system go.
extern std::atomic<std::int32_t> g_cancelState;

// Asks the job to stop as when its calls find the player gone, unless a cancel
// is under way already: a player unmounted lazily still takes writes, into a
// file system that no one will see again.
void CancelAsPlayerGone();

// Told on the worker thread of what the copy job does.
class ICopyNotify
{
public:
    // The remaining album counts have changed.
    virtual void NotifyProgress() = 0;
    // An entry has been appended to the log.
    virtual void NotifyLogLine() = 0;

protected:
    ~ICopyNotify() = default;
};

// One line of the log; never changed once appended.
struct CCopyLogEntry
{
    int m_level = LOG_INFO;
    std::string m_text;
};

// The record of one copy job and the albums it still has to treat. During a
// job only the worker appends; the entries stay where they are, so the address
// of one can be handed to the user-interface thread while the list grows.
class CCopyLog
{
public:
    template <typename... Args> void Add(int level, const char* format, const Args&... args)
    {
        const CFormatArg list[] = {CFormatArg(args)..., CFormatArg("")};
        AddV(level, format, std::span(list, sizeof...(Args)));
    }
    void AddV(int level, const char* format, std::span<const CFormatArg> args);
    // Every entry on a line of its own, each line ended by "\r\n".
    std::string GetText() const;
    // Whether an error entry stands at index first or after it.
    bool HasErrorSince(std::size_t first) const;
    void Clear()
    {
        m_entries.clear();
        m_summary.reset();
    }
    // One album less to treat: counts it down and reports the progress.
    void CountDown(std::atomic<int>& albumsLeft);

    std::vector<std::unique_ptr<CCopyLogEntry>> m_entries;
    ICopyNotify* m_pNotify = nullptr;
    std::atomic<int> m_nAlbumsToDelete{0};
    std::atomic<int> m_nAlbumsToCopy{0};
    // The albums of the job, set with the counts; the job records what
    // became of each.
    CCopyPlan m_plan;
    // How far the job's copies have come: every byte written, and for each
    // album that was treated, all of its bytes, so that the count reaches
    // the plan's BytesToCopy once the last album is done.
    std::atomic<std::uint64_t> m_nBytesCopied{0};
    // What the job came to, once it has ended; none before.
    std::optional<CJobSummary> m_summary;
};

// The entry's eight-character level tag, then a blank (or a line feed when
// twoLines is true), then its text.
std::string FormatLogEntry(const CCopyLogEntry& entry, bool twoLines);

// A path below the player's root as the log shows it: the player's root label,
// then the path, converted as one text.
std::string PlayerDisplayPath(const std::u16string& relative);
// The same with the label and the path converted each on its own: the form of
// the lines about an album's folders.
std::string FolderDisplayPath(const std::u16string& relative);

// True when the job is canceled; a pending request from the user is logged
// once and turns into the canceled state.
bool CheckCancel(CCopyLog& log);

// Cancels the job when error is a full disk, with a log line saying so.
// Returns error, for the caller's own error line.
int CheckDiskFull(CCopyLog& log, int error);

// Cancels the job, with one log line, when an error of an operation on the
// player says that its file system is gone or read-only (the cable pulled, the
// driver ended). Returns error, for the caller's own error line.
int CheckPlayerGone(CCopyLog& log, int error);
