#pragma once

#include <cstdint>

// A receiver of posted messages: any thread may post, and the receiver
// handles them on its own thread, in the order they were posted.
class IMessageTarget
{
public:
    virtual void PostMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;

protected:
    ~IMessageTarget() = default;
};
