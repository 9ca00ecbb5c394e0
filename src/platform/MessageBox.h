#pragma once

#include <functional>
#include <string>

// Modal message boxes. The running program installs a handler that shows a
// real box; tests install one that records the box and answers it.

inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_OKCANCEL = 0x01;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
// With MB_OKCANCEL: Cancel is the default button, for a question whose OK
// loses data; Enter then answers Cancel.
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// A message for a box: its text and its type.
struct CMessage
{
    std::string m_text;
    unsigned m_type = MB_OK;

    bool operator==(const CMessage&) const = default;
};

using MessageBoxHandler = std::function<int(const std::string& text, unsigned type)>;

// Shows a box of the given type and returns the answer, IDOK or IDCANCEL.
// Without a handler the text goes to the standard error stream and the answer
// is IDOK.
int ShowMessageBox(const std::string& text, unsigned type);
inline int ShowMessageBox(const CMessage& message)
{
    return ShowMessageBox(message.m_text, message.m_type);
}

// Installs a handler and returns the one it replaces.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
