#pragma once

#include <cerrno>
#include <string>

// System error codes are errno values, read right after the failed call.

// A folder that is one of its own ancestors through a link.
inline constexpr int ERROR_FOLDER_LOOP = ELOOP;

// A full disk: no space left, or the user's quota used up.
constexpr bool IsDiskFullError(int code)
{
    return code == ENOSPC || code == EDQUOT;
}

// An operation on a folder tree failed because its file system is gone (the
// device unplugged, a user-space driver ended) or has turned read-only.
constexpr bool IsVolumeGoneError(int code)
{
    return code == ENOTCONN || code == ECONNABORTED || code == ENODEV || code == ENXIO || code == EIO || code == EROFS;
}

// "2 (No such file or directory)": the code in decimal and the system's text
// for it, or "N (Unknonwn error)" when the system has none.
std::string SystemErrorText(int code);
