#pragma once

#include "platform/MessageTarget.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

struct CPostedMessage
{
    unsigned m_message = 0;
    std::uintptr_t m_wParam = 0;
    std::intptr_t m_lParam = 0;
};

// A message target that queues what is posted, for a test thread to take.
class CMessageQueue final : public IMessageTarget
{
public:
    void PostMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    // Every message up to and including the one whose wParam is lastWParam.
    std::vector<CPostedMessage> WaitFor(std::uintptr_t lastWParam);

    // Called on the posting thread before a message is queued.
    std::function<void(const CPostedMessage&)> m_onPost;

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<CPostedMessage> m_messages;
};
