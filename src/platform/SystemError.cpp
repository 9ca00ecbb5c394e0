#include "platform/SystemError.h"

#include <cstring>

bool GetSystemMessage(int code, std::string& text)
{
    if (strerrorname_np(code) == nullptr) {
        return false;
    }
    char buffer[256];
    text = strerror_r(code, buffer, sizeof buffer);
    return true;
}
