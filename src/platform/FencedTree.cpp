#include "platform/FencedTree.h"

#include "platform/FaultInjection.h"
#include "platform/PosixSupport.h"
#include "platform/VolumeFacts.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <utility>

namespace {

// Every folder of a fenced tree is opened with these; O_NOFOLLOW makes a link
// at the name fail instead of being followed.
constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// One component of a path: "." and ".." would step out of the walk.
bool IsPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Opens the folder name inside the folder dirFd; sets errno when it fails. A
// bind mount would lead out of the tree as surely as a link.
int OpenFolderAt(int dirFd, const char* name)
{
    const int fd = RetryOnInterrupt([&] { return openat(dirFd, name, FOLDER_FLAGS); });
    struct statx info;
    if (fd >= 0 && statx(fd, "", AT_EMPTY_PATH, 0, &info) == 0 && (info.stx_attributes & STATX_ATTR_MOUNT_ROOT)) {
        close(fd);
        errno = EXDEV;
        return -1;
    }
    return fd;
}

// The native form of a single component, or EINVAL.
int NativeName(const std::u16string& name, std::string& native)
{
    native = ToNativePath(name);
    return IsPlainName(native) ? 0 : EINVAL;
}

} // namespace

CFolderHandle::~CFolderHandle()
{
    Close();
}

void CFolderHandle::Close()
{
    if (m_fd >= 0) {
        close(std::exchange(m_fd, -1));
    }
}

int CFolderHandle::Adopt(int fd)
{
    const int error = fd < 0 ? errno : 0;
    Close();
    m_fd = fd;
    return error;
}

int CFolderHandle::OpenRoot(const std::u16string& path)
{
    return Adopt(
        RetryOnInterrupt([&] { return open(ToNativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
}

int CFolderHandle::List(CFolderListing& listing) const
{
    listing = CFolderListing();
    // A description of its own, so that every listing starts at the beginning.
    const int fd = RetryOnInterrupt([&] { return openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    return fd < 0 ? errno : ReadListing(fd, ELinks::FollowNone, listing);
}

int CFolderHandle::GetId(CFolderId& id) const
{
    struct stat info;
    if (fstat(m_fd, &info) != 0) {
        return errno;
    }
    id = IdOf(info);
    return 0;
}

int CFolderHandle::GetEntryId(const std::u16string& name, CFolderId& id) const
{
    std::string native;
    struct stat info;
    if (const int error = NativeName(name, native)) {
        return error;
    }
    if (fstatat(m_fd, native.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    id = IdOf(info);
    return 0;
}

bool CFolderHandle::HasFolder(const std::u16string& name) const
{
    std::string native;
    struct stat info;
    return NativeName(name, native) == 0 && fstatat(m_fd, native.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(info.st_mode);
}

int CFolderHandle::OpenFolder(const std::u16string& name, CFolderHandle& folder) const
{
    std::string native;
    if (const int error = NativeName(name, native)) {
        return error;
    }
    return folder.Adopt(OpenFolderAt(m_fd, native.c_str()));
}

int CFolderHandle::CreateFolder(const std::u16string& name) const
{
    std::string native;
    if (const int error = NativeName(name, native)) {
        return error;
    }
    return ResultOf(mkdirat(m_fd, native.c_str(), 0777));
}

int CFolderHandle::CreateFile(const std::u16string& name, CFile& file) const
{
    std::string native;
    if (const int error = NativeName(name, native)) {
        return error;
    }
    file.m_fd = RetryOnInterrupt(
        [&] { return openat(m_fd, native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666); });
    file.m_bWriting = file.m_fd >= 0;
    return file.m_fd < 0 ? errno : 0;
}

int CFolderHandle::RemoveFile(const std::u16string& name) const
{
    std::string native;
    if (const int error = NativeName(name, native)) {
        return error;
    }
    if (const int fault = TakeFault(EFaultPoint::RemoveFile)) {
        return fault;
    }
    return ResultOf(unlinkat(m_fd, native.c_str(), 0));
}

int CFolderHandle::RemoveFolder(const std::u16string& name) const
{
    std::string native;
    if (const int error = NativeName(name, native)) {
        return error;
    }
    return ResultOf(unlinkat(m_fd, native.c_str(), AT_REMOVEDIR));
}

int CFolderHandle::RenameFolder(const std::u16string& from, const std::u16string& to) const
{
    std::string nativeFrom;
    std::string nativeTo;
    if (NativeName(from, nativeFrom) != 0 || NativeName(to, nativeTo) != 0) {
        return EINVAL;
    }
    if (const int fault = TakeFault(EFaultPoint::RenameFolder)) {
        return fault;
    }
    if (renameat2(m_fd, nativeFrom.c_str(), m_fd, nativeTo.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL) {
        return errno;
    }
    // A file system without RENAME_NOREPLACE: look first, from the same folder.
    struct stat info;
    if (fstatat(m_fd, nativeTo.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return EEXIST;
    }
    if (errno != ENOENT) {
        return errno;
    }
    return ResultOf(renameat(m_fd, nativeFrom.c_str(), m_fd, nativeTo.c_str()));
}

int CFolderHandle::ExchangeFolders(const std::u16string& first, const std::u16string& second) const
{
    std::string nativeFirst;
    std::string nativeSecond;
    if (NativeName(first, nativeFirst) != 0 || NativeName(second, nativeSecond) != 0) {
        return EINVAL;
    }
    if (const int fault = TakeFault(EFaultPoint::RenameFolder)) {
        return fault;
    }
    if (renameat2(m_fd, nativeFirst.c_str(), m_fd, nativeSecond.c_str(), RENAME_EXCHANGE) == 0) {
        return 0;
    }
    // Older kernels and drivers say so in other words.
    return errno == ENOSYS || errno == EOPNOTSUPP ? EINVAL : errno;
}

int CFolderHandle::QuerySpace(std::uint64_t& available, std::uint64_t& total, std::uint64_t& allocationUnit) const
{
    if (const int fault = TakeFault(EFaultPoint::VolumeSpace)) {
        return fault;
    }
    struct statvfs info;
    if (fstatvfs(m_fd, &info) != 0) {
        return errno;
    }
    available = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    total = static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize;
    allocationUnit = info.f_frsize;
    return 0;
}

int CFolderHandle::Sync() const
{
    if (const int fault = TakeFault(EFaultPoint::SyncFolder)) {
        return fault;
    }
    return ResultOf(fsync(m_fd));
}

int CFolderHandle::Lock() const
{
    return flock(m_fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
}

int CFolderHandle::SyncFileSystem() const
{
    if (const int fault = TakeFault(EFaultPoint::SyncFolder)) {
        return fault;
    }
    return ResultOf(syncfs(m_fd));
}

int CFencedTree::Open(const std::u16string& root, const CFolderStamp& expected)
{
    CFolderListing listing;
    CVolumeId volume;
    int error = m_root.OpenRoot(root);
    if (error == 0) {
        error = m_root.List(listing);
    }
    if (error == 0) {
        error = VolumeIdOf(m_root.m_fd, volume);
    }
    if (error == 0 && StampOf(listing, volume) != expected) {
        error = ESTALE;
    }
    // One job at a time on a tree of the player, whichever of its folders it
    // was given or where a folder of it is bound: another would take this
    // one's staging folders for leftovers. Jobs on trees apart run together.
    if (error == 0) {
        error = CTreeLock::Take(m_root.m_fd, m_pTreeLock);
    }
    if (error != 0) {
        Close();
        return error;
    }
    struct statfs info;
    const bool known = fstatfs(m_root.m_fd, &info) == 0;
    m_bFlushEachFile = !known || info.f_type == FUSE_SUPER_MAGIC;
    m_nMaxFileSize = known ? MaxFileSizeOf(m_root.m_fd, info) : UINT64_MAX;
    return 0;
}

int CFencedTree::OpenFolder(const std::u16string& relative, CFolderHandle& folder) const
{
    int fd = RetryOnInterrupt([&] { return openat(m_root.m_fd, ".", FOLDER_FLAGS); });
    for (std::size_t start = 0; fd >= 0 && !relative.empty() && start <= relative.size();) {
        const std::size_t end = std::min(relative.find(PATH_SEPARATOR, start), relative.size());
        std::string native;
        const int error = NativeName(relative.substr(start, end - start), native);
        const int next = error ? -1 : OpenFolderAt(fd, native.c_str());
        const int nextError = error ? error : errno;
        close(fd);
        fd = next;
        errno = nextError;
        start = end + 1;
    }
    return folder.Adopt(fd);
}

int CFencedTree::OpenParent(const std::u16string& relative, CFolderHandle& parent, std::u16string& name) const
{
    const std::size_t slash = relative.rfind(PATH_SEPARATOR);
    name = slash == std::u16string::npos ? relative : relative.substr(slash + 1);
    return OpenFolder(slash == std::u16string::npos ? std::u16string() : relative.substr(0, slash), parent);
}

bool CFencedTree::HasFolder(const std::u16string& relative, bool bExactName) const
{
    CFolderHandle parent;
    std::u16string name;
    CFolderListing listing;
    if (OpenParent(relative, parent, name) != 0 || !parent.HasFolder(name)) {
        return false;
    }
    return !bExactName || (parent.List(listing) == 0 &&
                           std::any_of(listing.m_entries.begin(), listing.m_entries.end(), [&](const CDirEntry& entry) {
                               return entry.m_bFolder && entry.m_name == name;
                           }));
}

int CFencedTree::Flush(const CFolderHandle& folder) const
{
    return m_bFlushEachFile ? folder.Sync() : folder.SyncFileSystem();
}

int CFencedTree::CreateFolder(const std::u16string& relative) const
{
    CFolderHandle parent;
    std::u16string name;
    const int error = OpenParent(relative, parent, name);
    return error ? error : parent.CreateFolder(name);
}

int CFencedTree::RemoveFolder(const std::u16string& relative) const
{
    if (relative.empty()) {
        return EBUSY; // the root itself always stays
    }
    CFolderHandle parent;
    std::u16string name;
    const int error = OpenParent(relative, parent, name);
    return error ? error : parent.RemoveFolder(name);
}
