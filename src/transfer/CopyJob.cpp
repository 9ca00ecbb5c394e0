#include "transfer/CopyJob.h"

#include "platform/SystemError.h"
#include "transfer/CopyLog.h"

CCopyJob::CCopyJob(CFolderNode& root, const CScanRecord& record, CCopyLog& log)
    : m_root(root), m_record(record), m_log(log)
{
}

int CCopyJob::OpenPlayer()
{
    return m_player.Open(m_root.m_names[SIDE_PLAYER], m_record.m_roots[SIDE_PLAYER]);
}

void CCopyJob::Run()
{
    RemoveLeftovers();
    DeletePass();
    // Runs even after a cancel: it then ends at its first check.
    CopyPass();
}

void CCopyJob::PlayerFailure(ECall call, const char* format, const std::string& display, int error)
{
    if (call == ECall::Write) {
        CheckDiskFull(m_log, error);
    }
    CheckPlayerGone(m_log, error);
    m_log.Add(LOG_ERROR, format, display, SystemErrorText(error));
}

void CCopyJob::ComputerFailure(const char* format, const std::string& display, int error)
{
    CheckDiskFull(m_log, error);
    m_log.Add(LOG_ERROR, format, display, SystemErrorText(error));
}
