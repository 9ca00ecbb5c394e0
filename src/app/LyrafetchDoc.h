#pragma once

#include "model/FolderNode.h"
#include "platform/MessageBox.h"
#include "transfer/CopyJob.h"
#include "transfer/CopyLog.h"
#include "transfer/FormatProfile.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class IMessageTarget;

// The message the copy job posts to its target, and its wParam values.
inline constexpr unsigned WM_COPYNOTIFY = 1025;
inline constexpr std::uintptr_t COPYNOTIFY_PROGRESS = 0; // the remaining counts changed
inline constexpr std::uintptr_t COPYNOTIFY_LOGLINE = 1;  // lParam: the newest CCopyLogEntry
inline constexpr std::uintptr_t COPYNOTIFY_DONE = 2;     // the job has ended; always the last message

// The state of one run: the merged folder tree of the two folders named on
// the command line, the player's free space, and the copy job with its log.
class CLyrafetchDoc final : public ICopyNotify
{
public:
    // params: the command-line arguments; the first two name the folders.
    explicit CLyrafetchDoc(std::vector<std::string> params);
    CLyrafetchDoc(const CLyrafetchDoc&) = delete;
    CLyrafetchDoc& operator=(const CLyrafetchDoc&) = delete;
    ~CLyrafetchDoc();

    // Builds the model anew from the two folders. Returns the one message the
    // load ends with, for the caller to show: a failure, after which there is
    // no model, or a free space that could not be read, with the model kept.
    std::optional<CMessage> Load();
    // Reads both folders again for the model in use, and chooses again in the
    // new one what the user chose in it and no job has carried out. When no
    // new model can be built, the one in use stays, with its selection and
    // free space, and the doc is marked unreadable with the reason.
    std::optional<CMessage> Reload();
    // Refuses Copy Files until a load succeeds: a folder cannot be read, or
    // the player is gone or is another one. reason is what the window says.
    void MarkUnreadable(std::string reason) { m_strUnreadable = std::move(reason); }
    bool IsUnreadable() const { return !m_strUnreadable.empty(); }
    // Reads the free and total bytes of folder's volume. Returns the message
    // to show when that fails, with both values left as they were.
    std::optional<CMessage> QueryFreeSpace(const char* folder);
    // Refuses two roots that are one folder, or where one lies inside the
    // other, however they are spelled, linked or mounted. A root that cannot
    // be read passes: reading it is for the scan to report.
    static std::optional<CMessage> CheckRoots(const std::u16string& computerRoot, const std::u16string& playerRoot);

    // Starts the copy job on a worker thread, which reports to notifyWnd with
    // notifyMsg. False, after a message box, when no job was started.
    bool StartCopy(IMessageTarget* notifyWnd, unsigned notifyMsg);
    // Whether the last StartCopy was refused because the player's music folder
    // is no longer the one that was read: unplugged, or another card in its
    // place. The tree and its ticks are still the user's choice, for a new
    // read of the folders to take up.
    bool PlayerChanged() const { return m_bPlayerChanged; }
    bool IsCopyFinished() const;
    void WaitCopyEnd();
    // Waits for the worker and releases it; the log may be read whole after,
    // with the summary of the job.
    bool EndCopy();

    // The format the player's files are written in, for the player in use:
    // the labels, the projected free space, the plan and the job all read
    // the writer it makes. An album that another writer made is changed.
    const CFormatProfile& Format() const { return *m_pFormat; }
    void SetFormat(const CFormatProfile& format);
    const IFileWriter& Writer() const { return *m_pWriter; }

    void NotifyProgress() override;
    void NotifyLogLine() override;

    std::unique_ptr<CFolderNode> m_pModel;
    // What the scan of m_pModel saw besides the tree.
    CScanRecord m_scanRecord;
    // Told how far each load's scan has come; null when nobody asks.
    IScanProgress* m_pScanProgress = nullptr;
    // The player's volume as the last free-space query found it.
    std::uint64_t m_nFreeBytes = 0;
    std::uint64_t m_nTotalBytes = 0;
    // The player's allocation unit: each file takes a whole number of them. 0
    // until the free-space query succeeds.
    std::uint64_t m_allocationUnit = 0;
    // The job of the worker thread, from StartCopy until EndCopy.
    std::unique_ptr<CCopyJob> m_pCopyJob;
    // The worker thread that runs the job, owned from StartCopy until EndCopy.
    std::unique_ptr<std::thread> m_pCopyThread;
    CCopyLog m_log;
    IMessageTarget* m_pNotifyWnd = nullptr;
    unsigned m_nNotifyMsg = 0;

    // The command-line arguments: entry 0 names the computer's music folder,
    // entry 1 the player's.
    std::vector<std::string> m_params;
    // Why Copy Files is refused; empty while both folders can be read.
    std::string m_strUnreadable;

private:
    std::optional<CMessage> BuildModel();
    void ComputeChanges();
    bool OpenPlayerFolder();
    static void CopyThreadProc(CLyrafetchDoc* doc);
    void Post(std::uintptr_t wParam, std::intptr_t lParam);

    // A job exists, from before its worker starts until EndCopy: the worker's
    // reports are posted only then.
    std::atomic<bool> m_bCopyHeld{false};
    // Set by the worker as its very last act.
    std::atomic<bool> m_bCopyReturned{false};
    std::chrono::steady_clock::time_point m_copyStart;
    bool m_bPlayerChanged = false;
    const CFormatProfile* m_pFormat = &DefaultProfile();
    // Answers the window's questions of sizes and names; the job has a writer
    // of its own, made for the same format.
    std::unique_ptr<IFileWriter> m_pWriter = MakeWriter(*m_pFormat);
};
