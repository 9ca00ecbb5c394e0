#include "platform/FileSystem.h"

#include "platform/FaultInjection.h"
#include "text/Utf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <utility>

namespace {

struct CDirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};

bool IsDotEntry(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Fills the type and size of one entry, following links. A dangling link is a
// file. Returns 0, or the error that kept the entry from being examined.
int ExamineEntry(int folderFd, const dirent& raw, CDirEntry& entry)
{
    if (raw.d_type == DT_DIR) {
        entry.m_bFolder = true;
        return 0;
    }
    struct stat info;
    if (fstatat(folderFd, raw.d_name, &info, 0) != 0 &&
        fstatat(folderFd, raw.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    entry.m_bFolder = S_ISDIR(info.st_mode);
    entry.m_size = entry.m_bFolder ? 0 : static_cast<std::uint64_t>(info.st_size);
    return 0;
}

bool NameLess(const CDirEntry& a, const CDirEntry& b)
{
    const auto foldedLess = [](char16_t x, char16_t y) { return FoldAsciiCase(x) < FoldAsciiCase(y); };
    if (std::lexicographical_compare(a.m_name.begin(), a.m_name.end(), b.m_name.begin(), b.m_name.end(), foldedLess)) {
        return true;
    }
    if (std::lexicographical_compare(b.m_name.begin(), b.m_name.end(), a.m_name.begin(), a.m_name.end(), foldedLess)) {
        return false;
    }
    return a.m_name < b.m_name;
}

} // namespace

std::u16string FromNativeName(std::string_view name)
{
    std::u16string result;
    result.reserve(name.size());
    for (std::size_t pos = 0; pos < name.size();) {
        char32_t codePoint = 0;
        if (!DecodeUtf8(name, pos, codePoint)) {
            codePoint = 0xDC00 + static_cast<unsigned char>(name[pos++]);
        }
        AppendUtf16(result, codePoint);
    }
    return result;
}

std::string ToNativePath(const std::u16string& path)
{
    std::string result;
    result.reserve(path.size());
    for (std::size_t pos = 0; pos < path.size();) {
        char32_t codePoint = 0;
        if (DecodeUtf16(path, pos, codePoint)) {
            AppendUtf8(result, codePoint);
            continue;
        }
        const char16_t unit = path[pos++];
        if (unit >= 0xDC80 && unit <= 0xDCFF) {
            result.push_back(static_cast<char>(unit - 0xDC00));
        } else {
            AppendUtf8(result, unit);
        }
    }
    return result;
}

int ListFolder(const std::u16string& path, CFolderListing& listing, bool bFollowLink)
{
    listing = CFolderListing();
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (bFollowLink ? 0 : O_NOFOLLOW);
    const int fd = open(ToNativePath(path).c_str(), flags);
    if (fd < 0) {
        return errno;
    }
    const std::unique_ptr<DIR, CDirCloser> dir(fdopendir(fd));
    if (!dir) {
        const int error = errno;
        close(fd);
        return error;
    }
    const int folderFd = dirfd(dir.get());
    struct stat self;
    if (fstat(folderFd, &self) == 0) {
        listing.m_id = {static_cast<std::uint64_t>(self.st_dev), static_cast<std::uint64_t>(self.st_ino)};
    }
    for (;;) {
        errno = 0;
        const dirent* raw = readdir(dir.get());
        if (raw == nullptr) {
            listing.m_readError = errno;
            break;
        }
        if (IsDotEntry(raw->d_name)) {
            continue;
        }
        CDirEntry entry;
        if (const int error = ExamineEntry(folderFd, *raw, entry)) {
            if (error == ENOENT) {
                continue; // removed since it was listed
            }
            listing.m_readError = error;
            break;
        }
        entry.m_name = FromNativeName(raw->d_name);
        listing.m_entries.push_back(std::move(entry));
    }
    std::sort(listing.m_entries.begin(), listing.m_entries.end(), NameLess);
    return 0;
}

int QueryVolumeSpace(const std::string& folder, std::uint64_t& available, std::uint64_t& total)
{
    if (const int fault = TakeFault(EFaultPoint::VolumeSpace)) {
        return fault;
    }
    struct statvfs info;
    if (statvfs(folder.c_str(), &info) != 0) {
        return errno;
    }
    available = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    total = static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize;
    return 0;
}

namespace {

// Runs a system call again while a signal interrupts it; returns its result.
template <typename Call> auto RetryOnInterrupt(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

int ResultOf(int status)
{
    return status == 0 ? 0 : errno;
}

} // namespace

int RemoveFile(const std::u16string& path)
{
    if (const int fault = TakeFault(EFaultPoint::RemoveFile)) {
        return fault;
    }
    return ResultOf(unlink(ToNativePath(path).c_str()));
}

int RemoveFolder(const std::u16string& path)
{
    return ResultOf(rmdir(ToNativePath(path).c_str()));
}

int CreateFolder(const std::u16string& path)
{
    return ResultOf(mkdir(ToNativePath(path).c_str(), 0777));
}

bool IsExistingFolder(const std::u16string& path)
{
    struct stat info;
    return stat(ToNativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

CFile::~CFile()
{
    if (m_fd >= 0) {
        close(m_fd);
    }
}

int CFile::OpenRead(const std::u16string& path)
{
    m_fd = RetryOnInterrupt([&] { return open(ToNativePath(path).c_str(), O_RDONLY | O_CLOEXEC); });
    return m_fd < 0 ? errno : 0;
}

int CFile::CreateNew(const std::u16string& path)
{
    m_fd = RetryOnInterrupt(
        [&] { return open(ToNativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666); });
    m_bWriting = m_fd >= 0;
    return m_fd < 0 ? errno : 0;
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

CFolderHandle::~CFolderHandle()
{
    if (m_fd >= 0) {
        close(m_fd);
    }
}

int CFolderHandle::Open(const std::u16string& path)
{
    m_fd = RetryOnInterrupt([&] { return open(ToNativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    return m_fd < 0 ? errno : 0;
}

int CFolderHandle::SyncFileSystem()
{
    if (const int fault = TakeFault(EFaultPoint::SyncFolder)) {
        return fault;
    }
    return ResultOf(syncfs(m_fd));
}
