#include "transfer/CopyLog.h"

#include "model/FolderNode.h"
#include "platform/SystemError.h"

#include <algorithm>

std::atomic<std::int32_t> g_cancelState{0};

void CCopyLog::AddV(int level, const char* format, std::span<const CFormatArg> args)
{
    m_entries.push_back(std::make_unique<CCopyLogEntry>(CCopyLogEntry{level, FormatText(format, args)}));
    if (m_pNotify != nullptr) {
        m_pNotify->NotifyLogLine();
    }
}

void CCopyLog::CountDown(std::atomic<int>& albumsLeft)
{
    --albumsLeft;
    if (m_pNotify != nullptr) {
        m_pNotify->NotifyProgress();
    }
}

std::string CCopyLog::GetText() const
{
    std::string text;
    for (const auto& entry : m_entries) {
        text += FormatLogEntry(*entry, false) + "\r\n";
    }
    return text;
}

bool CCopyLog::HasErrorSince(std::size_t first) const
{
    return std::any_of(m_entries.begin() + static_cast<std::ptrdiff_t>(std::min(first, m_entries.size())),
                       m_entries.end(), [](const auto& entry) { return entry->m_level == LOG_ERROR; });
}

std::string FormatLogEntry(const CCopyLogEntry& entry, bool twoLines)
{
    static const char* const kTags[] = {"INFO   :", "ERROR  :", "CANCEL :"};
    const bool known = entry.m_level >= LOG_INFO && entry.m_level <= LOG_CANCEL;
    return std::string(known ? kTags[entry.m_level] : "") + (twoLines ? "\n" : " ") + entry.m_text;
}

std::string PlayerDisplayPath(const std::u16string& relative)
{
    return ToLogText(ROOT_LABELS[SIDE_PLAYER] + (PATH_SEPARATOR + relative));
}

std::string FolderDisplayPath(const std::u16string& relative)
{
    return ToLogText(ROOT_LABELS[SIDE_PLAYER]) + static_cast<char>(PATH_SEPARATOR) + ToLogText(relative);
}

bool CheckCancel(CCopyLog& log)
{
    switch (g_cancelState.load()) {
    case 1:
        log.Add(LOG_CANCEL, "Canceled by user");
        g_cancelState = 2;
        return true;
    case 2:
        return true;
    case 3:
        log.Add(LOG_CANCEL, "Canceled because disk is not available");
        g_cancelState = 2;
        return true;
    default:
        return false;
    }
}

void CancelAsPlayerGone()
{
    std::int32_t none = 0;
    g_cancelState.compare_exchange_strong(none, 3);
}

int CheckDiskFull(CCopyLog& log, int error)
{
    if (IsDiskFullError(error)) {
        log.Add(LOG_CANCEL, "Canceled because disk is full");
        g_cancelState = 2;
    }
    return error;
}

int CheckPlayerGone(CCopyLog& log, int error)
{
    // Logged once: the removal of the album in progress meets the same errors.
    if (IsVolumeGoneError(error) && g_cancelState.exchange(2) != 2) {
        log.Add(LOG_CANCEL, "Canceled because disk is not available");
    }
    return error;
}
