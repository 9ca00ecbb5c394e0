#include "platform/MessageBox.h"

#include <cstdio>
#include <utility>

namespace {

MessageBoxHandler& Handler()
{
    static MessageBoxHandler handler;
    return handler;
}

} // namespace

int ShowMessageBox(const std::string& text, unsigned type)
{
    if (Handler()) {
        return Handler()(text, type);
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    return IDOK;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}
