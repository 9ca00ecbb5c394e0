#include "support/MessageQueue.h"

void CMessageQueue::PostMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    const CPostedMessage posted{message, wParam, lParam};
    if (m_onPost) {
        m_onPost(posted);
    }
    const std::lock_guard lock(m_mutex);
    m_messages.push_back(posted);
    m_posted.notify_all();
}

std::vector<CPostedMessage> CMessageQueue::WaitFor(std::uintptr_t lastWParam)
{
    std::vector<CPostedMessage> taken;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_posted.wait(lock, [&] { return !m_messages.empty(); });
        taken.push_back(m_messages.front());
        m_messages.pop_front();
        if (taken.back().m_wParam == lastWParam) {
            return taken;
        }
    }
}
