#include "platform/FileSystem.h"

#include "platform/FaultInjection.h"
#include "platform/PosixSupport.h"
#include "platform/VolumeFacts.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <utility>

CFile::CFile(CFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_bWriting(std::exchange(other.m_bWriting, false))
{
}

CFile& CFile::operator=(CFile&& other) noexcept
{
    std::swap(m_fd, other.m_fd);
    std::swap(m_bWriting, other.m_bWriting);
    return *this;
}

CFile::~CFile()
{
    if (m_fd >= 0) {
        close(m_fd);
    }
}

int CFile::OpenRead(const std::u16string& path)
{
    // Opening a device can act on it, and opening a pipe would wait for a
    // writer for ever: only a regular file is opened, and O_NONBLOCK keeps the
    // open of whatever took its place meanwhile from waiting.
    const std::string native = ToNativePath(path);
    struct stat info;
    if (stat(native.c_str(), &info) != 0) {
        return errno;
    }
    if (!S_ISREG(info.st_mode)) {
        return ENOTSUP;
    }
    m_fd = RetryOnInterrupt([&] { return open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); });
    if (m_fd < 0) {
        return errno;
    }
    if (fstat(m_fd, &info) != 0) {
        return errno;
    }
    return S_ISREG(info.st_mode) ? 0 : ENOTSUP;
}

namespace {

CFileStamp StampOf(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_size), NanosecondsOf(info.st_mtim), NanosecondsOf(info.st_ctim),
            static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

} // namespace

int CFile::GetStamp(CFileStamp& stamp) const
{
    struct stat info;
    if (fstat(m_fd, &info) != 0) {
        return errno;
    }
    stamp = StampOf(info);
    return 0;
}

int GetFileStamp(const std::u16string& path, CFileStamp& stamp)
{
    struct stat info;
    if (stat(ToNativePath(path).c_str(), &info) != 0) {
        return errno;
    }
    stamp = StampOf(info);
    return 0;
}

std::int64_t CFile::TimeGranularity() const
{
    return TimeGranularityOf(m_fd);
}

int CFile::Rewind()
{
    return lseek(m_fd, 0, SEEK_SET) == 0 ? 0 : errno;
}

int CFile::Create(const std::u16string& path)
{
    const std::string native = ToNativePath(path);
    m_fd = RetryOnInterrupt(
        [&] { return open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666); });
    if (m_fd < 0) {
        return errno;
    }
    m_bWriting = true;
    return 0;
}

int CFile::Read(char* buffer, std::size_t size, std::size_t& count)
{
    count = 0;
    if (const int fault = TakeFault(EFaultPoint::ReadFile)) {
        return fault;
    }
    const ssize_t result = RetryOnInterrupt([&] { return read(m_fd, buffer, size); });
    if (result < 0) {
        return errno;
    }
    count = static_cast<std::size_t>(result);
    return 0;
}

int CFile::Write(const char* buffer, std::size_t size)
{
    if (const int fault = TakeFault(EFaultPoint::WriteFile)) {
        return fault;
    }
    while (size > 0) {
        const ssize_t result = RetryOnInterrupt([&] { return write(m_fd, buffer, size); });
        if (result < 0) {
            return errno;
        }
        buffer += result;
        size -= static_cast<std::size_t>(result);
    }
    return 0;
}

void CFile::StartWriteBack()
{
    // Only a hint: what it fails to start, the flush still writes.
    sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

int CFile::Sync()
{
    if (const int fault = TakeFault(EFaultPoint::SyncFile)) {
        return fault;
    }
    return ResultOf(fsync(m_fd));
}

int CFile::Close()
{
    const int fd = std::exchange(m_fd, -1);
    const int fault = m_bWriting ? TakeFault(EFaultPoint::CloseFile) : 0;
    // A close interrupted by a signal has still released the descriptor.
    if (close(fd) != 0 && errno != EINTR) {
        return errno;
    }
    return fault;
}

int CFile::GetVolumeSpace(std::uint64_t& available, std::uint64_t& allocationUnit) const
{
    struct statvfs info;
    if (fstatvfs(m_fd, &info) != 0) {
        return errno;
    }
    available = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    allocationUnit = info.f_frsize;
    return 0;
}
