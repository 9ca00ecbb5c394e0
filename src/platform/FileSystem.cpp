#include "platform/FileSystem.h"

#include "platform/FaultInjection.h"
#include "platform/PosixSupport.h"
#include "platform/VolumeFacts.h"
#include "text/Utf.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <utility>

namespace {

// Closes a descriptor only read from, whose close reports nothing of use.
struct CFdCloser
{
    explicit CFdCloser(int fd) : m_fd(fd) {}
    CFdCloser(const CFdCloser&) = delete;
    CFdCloser& operator=(const CFdCloser&) = delete;
    ~CFdCloser() { close(m_fd); }
    int m_fd;
};

// The entries of an open folder, read straight from the system in large
// batches: a directory stream around the descriptor would look at the folder
// three times more, which a scan of many small albums pays for in each.
class CEntryReader
{
public:
    explicit CEntryReader(int fd) : m_fd(fd) {}

    // The next entry, or nullptr at the end or on an error (Error).
    const dirent64* Next()
    {
        if (m_at == m_filled) {
            const ssize_t count = RetryOnInterrupt([&] { return getdents64(m_fd, m_buffer.data(), m_buffer.size()); });
            if (count <= 0) {
                m_error = count < 0 ? errno : 0;
                return nullptr;
            }
            m_filled = static_cast<std::size_t>(count);
            m_at = 0;
        }
        const auto* entry = reinterpret_cast<const dirent64*>(m_buffer.data() + m_at);
        m_at += entry->d_reclen;
        return entry;
    }

    int Error() const { return m_error; }

private:
    int m_fd;
    alignas(dirent64) std::array<char, 32 * 1024> m_buffer{};
    std::size_t m_filled = 0;
    std::size_t m_at = 0;
    int m_error = 0;
};

bool IsDotEntry(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void FillEntry(const struct stat& info, CDirEntry& entry)
{
    entry.m_bFolder = S_ISDIR(info.st_mode);
    entry.m_size = entry.m_bFolder ? 0 : static_cast<std::uint64_t>(info.st_size);
    entry.m_modified = entry.m_bFolder ? 0 : NanosecondsOf(info.st_mtim);
}

// Fills the type and size of one entry. A link that is not followed, or
// leads nowhere, is an entry of its own with its own size. Returns 0, or the
// error that kept the entry from being examined.
int ExamineEntry(int folderFd, const dirent64& raw, ELinks links, CDirEntry& entry)
{
    if (raw.d_type == DT_DIR) {
        entry.m_bFolder = true;
        return 0;
    }
    struct stat info;
    // An entry the listing names a regular file is no link: one look tells all.
    const bool mayBeLink = raw.d_type == DT_LNK || raw.d_type == DT_UNKNOWN;
    const bool followed = mayBeLink && links != ELinks::FollowNone && fstatat(folderFd, raw.d_name, &info, 0) == 0 &&
                          (links == ELinks::FollowAll || S_ISDIR(info.st_mode));
    if (!followed && fstatat(folderFd, raw.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    FillEntry(info, entry);
    if (followed && raw.d_type == DT_LNK) {
        entry.m_linkTarget = {info.st_dev, info.st_ino};
    }
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

// Reads the note from the open folder, never following a link, never
// blocking on a pipe, never reading more than its limit. Where the listing
// knows the entry for a regular file, the note's own descriptor examines it
// (bExamined): a scan reads an album's note for one look more, not two.
int ReadNote(int folderFd, CFolderNote& note, CDirEntry& entry, bool& bExamined)
{
    const int fd = RetryOnInterrupt(
        [&] { return openat(folderFd, note.m_pName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
    if (fd < 0) {
        return errno;
    }
    const CFdCloser closer(fd);
    struct stat info;
    if (fstat(fd, &info) != 0) {
        return errno;
    }
    FillEntry(info, entry);
    bExamined = true;
    if (!S_ISREG(info.st_mode)) {
        return ENOTSUP;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > note.m_maxBytes) {
        return EFBIG;
    }
    // One byte more than the file holds tells a file that grew meanwhile; a
    // read that brings the whole file needs no second one to find its end.
    note.m_text.resize(size + 1);
    std::size_t filled = 0;
    while (filled < note.m_text.size()) {
        const ssize_t count =
            RetryOnInterrupt([&] { return read(fd, note.m_text.data() + filled, note.m_text.size() - filled); });
        if (count < 0) {
            return errno;
        }
        filled += static_cast<std::size_t>(count);
        if (count == 0 || filled == size) {
            break;
        }
    }
    note.m_text.resize(filled);
    return filled > size ? EFBIG : 0;
}

// Examines one listed entry, and reads the note when the entry is the note's.
int ExamineListed(int folderFd, const dirent64& raw, ELinks links, CFolderNote* pNote, CDirEntry& entry)
{
    const bool bNote = pNote != nullptr && std::strcmp(pNote->m_pName, raw.d_name) == 0;
    bool bExamined = false;
    if (bNote && raw.d_type == DT_REG) {
        pNote->m_error = ReadNote(folderFd, *pNote, entry, bExamined);
        pNote->m_bFound = pNote->m_error != ENOENT; // else removed since it was listed
    }
    if (!bExamined) {
        if (const int error = ExamineEntry(folderFd, raw, links, entry)) {
            return error;
        }
    }
    if (bNote && !pNote->m_bFound && !entry.m_bFolder) {
        pNote->m_bFound = true;
        // Opening a pipe would wake a writer waiting for its reader, opening a
        // device may act on it: what the listing names as one stays shut.
        const bool bSpecial =
            raw.d_type == DT_FIFO || raw.d_type == DT_CHR || raw.d_type == DT_BLK || raw.d_type == DT_SOCK;
        CDirEntry ignored;
        pNote->m_error = bSpecial ? ENOTSUP : ReadNote(folderFd, *pNote, ignored, bExamined);
    }
    return 0;
}

} // namespace

int ReadListing(int fd, ELinks links, CFolderListing& listing, CFolderNote* pNote)
{
    listing = CFolderListing();
    const CFdCloser closer(fd);
    struct stat self;
    if (fstat(fd, &self) != 0) {
        return errno;
    }
    if (!S_ISDIR(self.st_mode)) {
        return ENOTDIR;
    }
    listing.m_id = IdOf(self);
    CEntryReader reader(fd);
    for (;;) {
        const dirent64* raw = reader.Next();
        if (raw == nullptr) {
            listing.m_readError = reader.Error();
            break;
        }
        if (IsDotEntry(raw->d_name)) {
            continue;
        }
        CDirEntry entry;
        if (const int error = ExamineListed(fd, *raw, links, pNote, entry)) {
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

COpenFolder::~COpenFolder()
{
    close(m_fd);
}

int ListFolderAt(const CFolderPlace& place, CFolderListing& listing, ELinks links,
                 std::shared_ptr<const COpenFolder>* pOpen, CFolderNote* pNote)
{
    listing = CFolderListing();
    const int base = place.m_pBase ? place.m_pBase->Fd() : AT_FDCWD;
    const int fd =
        RetryOnInterrupt([&] { return openat(base, place.m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) {
        return errno;
    }
    if (pOpen != nullptr) {
        // The listing reads through one descriptor and closes it; the folder
        // stays open through another.
        const int kept = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (kept < 0) {
            const int error = errno;
            close(fd);
            return error;
        }
        *pOpen = std::make_shared<const COpenFolder>(kept);
    }
    return ReadListing(fd, links, listing, pNote);
}

bool IsWithinPathLimit(const std::u16string& path)
{
    return ToNativePath(path).size() < PATH_MAX;
}

int ListFolder(const std::u16string& path, CFolderListing& listing, ELinks links)
{
    return ListFolderAt({nullptr, ToNativePath(path)}, listing, links);
}

CFolderStamp StampOf(const CFolderListing& listing, const CVolumeId& volume)
{
    std::u16string names;
    for (const CDirEntry& entry : listing.m_entries) {
        names += entry.m_name;
        names += PATH_SEPARATOR; // which no name holds
    }
    return {listing.m_id, std::hash<std::u16string>()(names), volume};
}

bool CFolderStamp::operator==(const CFolderStamp& other) const
{
    const bool sameInode = m_id.m_inode == other.m_id.m_inode || !m_volume.m_bStableInodes;
    return m_id.m_device == other.m_id.m_device && sameInode && m_namesDigest == other.m_namesDigest &&
           m_volume == other.m_volume;
}

int GetVolumeId(const COpenFolder& folder, CVolumeId& volume)
{
    return VolumeIdOf(folder.Fd(), volume);
}

int GetFolderId(const std::u16string& path, CFolderId& id)
{
    struct stat info;
    if (stat(ToNativePath(path).c_str(), &info) != 0) {
        return errno;
    }
    id = IdOf(info);
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

int GetFolderChain(const std::u16string& path, std::vector<CFolderId>& chain)
{
    chain.clear();
    // O_PATH: a folder above may be one this user can search but not read.
    int fd = open(ToNativePath(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    for (;;) {
        struct stat info;
        const int error = ResultOf(fstat(fd, &info));
        const int parent = error ? -1 : openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int parentError = parent < 0 ? (error ? error : errno) : 0;
        close(fd);
        if (parentError) {
            return parentError;
        }
        // The system's root is its own parent.
        if (!chain.empty() && chain.back() == IdOf(info)) {
            close(parent);
            return 0;
        }
        chain.push_back(IdOf(info));
        fd = parent;
    }
}

int QueryVolumeSpace(const std::string& folder, std::uint64_t& available, std::uint64_t& total,
                     std::uint64_t& allocationUnit)
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
    allocationUnit = info.f_frsize;
    return 0;
}

namespace {

// A folder left by a process that was killed, or lost its power, before it
// could remove it: no one holds its lock, and nothing changed in it for a
// while (a folder just made is locked a moment after it is made).
constexpr std::int64_t ABANDONED_AFTER_SECONDS = 60;

void RemoveAbandoned(const std::string& base, const std::string& prefix)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(base.c_str()), closedir);
    for (const dirent* entry = dir ? readdir(dir.get()) : nullptr; entry != nullptr; entry = readdir(dir.get())) {
        if (std::string_view(entry->d_name).substr(0, prefix.size()) != prefix) {
            continue;
        }
        const int fd = openat(dirfd(dir.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat info;
        if (fstat(fd, &info) == 0 && info.st_uid == geteuid() &&
            info.st_mtim.tv_sec < time(nullptr) - ABANDONED_AFTER_SECONDS && flock(fd, LOCK_EX | LOCK_NB) == 0) {
            std::error_code ignored; // what cannot go now is tried again by the next one
            std::filesystem::remove_all(base + "/" + entry->d_name, ignored);
        }
        close(fd);
    }
}

} // namespace

CTemporaryFolder::~CTemporaryFolder()
{
    if (!m_path.empty()) {
        std::error_code ignored; // a folder below /tmp that cannot go is left to the system's cleaning
        std::filesystem::remove_all(m_path, ignored);
    }
    if (m_fd >= 0) {
        close(m_fd);
    }
}

// The folder is locked while it lives, so that the next one made with its
// prefix can tell it from one that a killed process left behind.
int CTemporaryFolder::Create(const std::string& prefix)
{
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    RemoveAbandoned(base, prefix);
    std::string path = base + "/" + prefix + "XXXXXX";
    if (mkdtemp(path.data()) == nullptr) {
        return errno;
    }
    m_path = std::move(path);
    m_fd = open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0 || flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        return errno;
    }
    return 0;
}
