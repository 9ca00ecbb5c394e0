#include "platform/SystemError.h"

#include <cstring>

namespace {

// The system's text for an error code. False when the system has none.
bool GetSystemMessage(int code, std::string& text)
{
    if (strerrorname_np(code) == nullptr) {
        return false;
    }
    char buffer[256];
    text = strerror_r(code, buffer, sizeof buffer);
    return true;
}

} // namespace

std::string SystemErrorText(int code)
{
    std::string result = std::to_string(static_cast<unsigned>(code));
    std::string message;
    if (!GetSystemMessage(code, message)) {
        return result + " (Unknonwn error)";
    }
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) {
        message.pop_back();
    }
    if (!message.empty() && message.back() == '.') {
        message.pop_back();
    }
    return result + " (" + message + ")";
}
