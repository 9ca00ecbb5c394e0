#pragma once

// Helpers of the platform layer's own files; nothing outside src/platform
// includes this.

#include "platform/FileSystem.h"

#include <cerrno>

#include <sys/stat.h>

// Runs a system call again while a signal interrupts it; returns its result.
template <typename Call> auto RetryOnInterrupt(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

// 0 for a call that succeeded, else its errno.
inline int ResultOf(int status)
{
    return status == 0 ? 0 : errno;
}

inline std::int64_t NanosecondsOf(const struct timespec& time)
{
    return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec;
}

inline CFolderId IdOf(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

// Lists the open folder fd, which it takes over and closes; with pNote, reads
// the note from it when it holds one.
int ReadListing(int fd, ELinks links, CFolderListing& listing, CFolderNote* pNote = nullptr);
