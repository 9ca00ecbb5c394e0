#include "transfer/JobContext.h"

#include "platform/SystemError.h"
#include "transfer/CopyLog.h"

void CJobContext::PlayerFailure(ECall call, const char* format, const std::string& display, int error)
{
    if (call == ECall::Write) {
        CheckDiskFull(m_log, error);
    }
    CheckPlayerGone(m_log, error);
    m_log.Add(LOG_ERROR, format, display, SystemErrorText(error));
}

void CJobContext::ComputerFailure(const char* format, const std::string& display, int error)
{
    CheckDiskFull(m_log, error);
    m_log.Add(LOG_ERROR, format, display, SystemErrorText(error));
}
