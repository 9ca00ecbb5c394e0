#pragma once

#include "model/FolderNode.h"
#include "transfer/CopyLog.h"

#include <atomic>
#include <cstdint>
#include <memory>
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
    // params: the command-line arguments, which must outlive the document.
    explicit CLyrafetchDoc(const std::vector<std::string>& params);
    CLyrafetchDoc(const CLyrafetchDoc&) = delete;
    CLyrafetchDoc& operator=(const CLyrafetchDoc&) = delete;
    ~CLyrafetchDoc();

    // The first load. True when it left a model.
    bool OnNewDocument();
    // Builds the model anew from the two folders; shows every failure in a
    // message box and leaves no model after one.
    void Load();
    // Reads the free and total bytes of folder's volume; shows a message box
    // and leaves both values as they were when that fails.
    void QueryFreeSpace(const char* folder);

    // Starts the copy job on a worker thread, which reports to notifyWnd with
    // notifyMsg. False, after a message box, when no job was started.
    bool StartCopy(IMessageTarget* notifyWnd, unsigned notifyMsg);
    bool IsCopyFinished() const;
    void WaitCopyEnd();
    // Waits for the worker and releases it; the log may be read whole after.
    bool EndCopy();

    void NotifyProgress() override;
    void NotifyLogLine() override;

    std::unique_ptr<CFolderNode> m_pModel;
    // What the scan of m_pModel saw besides the tree.
    CScanRecord m_scanRecord;
    // Told how far each load's scan has come; null when nobody asks.
    IScanProgress* m_pScanProgress = nullptr;
    std::uint64_t m_freeBytes = 0;
    std::uint64_t m_totalBytes = 0;
    std::unique_ptr<std::thread> m_hCopyThread;
    CCopyLog m_log;
    IMessageTarget* m_pNotifyWnd = nullptr;
    unsigned m_nNotifyMsg = 0;

private:
    bool BuildModel();
    bool CheckRoots() const;
    bool OpenPlayerFolder();
    static void CopyThreadProc(CLyrafetchDoc* doc);
    void Post(std::uintptr_t wParam, std::intptr_t lParam);

    // A job exists, from before its worker starts until EndCopy: the worker's
    // reports are posted only then.
    std::atomic<bool> m_bCopyHeld{false};
    // Set by the worker as its very last act.
    std::atomic<bool> m_bCopyReturned{false};

    const std::vector<std::string>& m_params;
};
