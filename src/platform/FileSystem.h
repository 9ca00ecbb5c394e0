#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The file services of the program. Paths are wide text; they reach the
// system through a lossless conversion, so every name on disk round-trips.
// Everything here follows links: it serves the scan and the computer's side,
// which are only ever read. The player's side is a fenced tree (FencedTree.h).

// Joins folder names in real paths and in paths shown to the user.
inline constexpr char16_t PATH_SEPARATOR = u'/';

// The path of name inside folder; a relative folder may be empty.
inline std::u16string JoinPath(const std::u16string& folder, const std::u16string& name)
{
    return folder.empty() ? name : folder + PATH_SEPARATOR + name;
}

// Whether the system takes a path whole: the longest it takes (PATH_MAX)
// counts the terminating zero.
bool IsWithinPathLimit(const std::u16string& path);

// A file name as bytes. Valid UTF-8 decodes normally; every other byte b
// becomes the lone surrogate U+DC00 + b, which ToNativePath turns back into b.
std::u16string FromNativeName(std::string_view name);
std::string ToNativePath(const std::u16string& path);

struct CFolderId
{
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;

    bool operator==(const CFolderId&) const = default;
};

struct CDirEntry
{
    std::u16string m_name;
    bool m_bFolder = false;   // a link to a folder is a folder where links are followed
    std::uint64_t m_size = 0; // 0 for a folder
    // The time of the last change of the file's data, in nanoseconds since
    // 1970; 0 for a folder.
    std::int64_t m_modified = 0;
    // For a link that was followed: which file it leads to.
    CFolderId m_linkTarget;
};

// What tells the content of a file from what it was: its size, the times of
// the last change of its data and of the file, all in nanoseconds, and which
// file it is.
struct CFileStamp
{
    std::uint64_t m_size = 0;
    std::int64_t m_modified = 0;
    std::int64_t m_changed = 0;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;

    bool operator==(const CFileStamp&) const = default;
};

// The stamp of the file at path, links followed.
int GetFileStamp(const std::u16string& path, CFileStamp& stamp);

// A time granularity of a file system that never moves a file's times when
// its data is written.
inline constexpr std::int64_t TIMES_NEVER_MOVE = INT64_MAX;

struct CFolderListing
{
    // In name order (ASCII letters folded, ties by the unfolded text), without
    // "." and "..".
    std::vector<CDirEntry> m_entries;
    // 0 when the listing ended cleanly, else the error that ended it; the
    // entries read before it are kept.
    int m_readError = 0;
    // The listed folder itself.
    CFolderId m_id;
};

// What tells a file system from another mounted in its place: its own serial
// number or UUID, where it can be read, and its size. Cards of one model in
// one slot have the same device number, and their music folders often the
// same inode.
struct CVolumeId
{
    std::string m_serial; // empty where it cannot be read
    std::uint64_t m_totalBytes = 0;
    // False where the driver numbers inodes as it goes (FUSE, FAT, exFAT): a
    // folder's inode there changes when the system forgets and finds it again.
    bool m_bStableInodes = true;

    bool operator==(const CVolumeId&) const = default;
};

// What tells a folder from another that has taken its place: its device, its
// file system, the names it held when it was listed, and its inode where the
// inode stays.
struct CFolderStamp
{
    CFolderId m_id;
    std::size_t m_namesDigest = 0;
    CVolumeId m_volume;

    bool operator==(const CFolderStamp& other) const;
};

CFolderStamp StampOf(const CFolderListing& listing, const CVolumeId& volume);

// Which links a listing follows to tell what an entry is: every link, as the
// computer's side is read; only links to folders, as the player's side is
// read, where a job meets a link to anything else as an entry of its own; or
// none, as a job lists the player's folders.
enum class ELinks { FollowAll, FollowToFolders, FollowNone };

// A folder held open, from which the folders below it are reached by paths
// relative to it, however deep they lie; shared by whoever still has folders
// below it to reach.
class COpenFolder
{
public:
    explicit COpenFolder(int fd) : m_fd(fd) {}
    COpenFolder(const COpenFolder&) = delete;
    COpenFolder& operator=(const COpenFolder&) = delete;
    ~COpenFolder();

    int Fd() const { return m_fd; }

private:
    int m_fd;
};

// Where a folder is: a path in the system's bytes, relative to an open folder,
// or, with none, as the system takes it (absolute, or from the working folder).
struct CFolderPlace
{
    std::shared_ptr<const COpenFolder> m_pBase;
    std::string m_path;
};

// A small file that a listing reads from its folder while it holds the folder
// open, when an entry of that name is listed: through no link, only a regular
// file (a pipe or device is never opened), and only up to a limit.
struct CFolderNote
{
    const char* m_pName = nullptr; // in the system's bytes
    std::size_t m_maxBytes = 0;
    // Whether the listing held an entry of the name; then 0 and its text, or
    // the error that kept it from being read: ELOOP for a link, ENOTSUP for a
    // file that is not regular, EFBIG above the limit.
    bool m_bFound = false;
    int m_error = 0;
    std::string m_text;
};

// Lists the folder at place, following links on the way. With pOpen set, the
// folder is kept open there, for places below it; with pNote, the note is read
// when the folder holds it. Returns 0, or the error that kept the folder from
// being opened, with the listing empty.
int ListFolderAt(const CFolderPlace& place, CFolderListing& listing, ELinks links,
                 std::shared_ptr<const COpenFolder>* pOpen = nullptr, CFolderNote* pNote = nullptr);
// The file system that holds an open folder. Returns 0, or the error that
// kept it from being read.
int GetVolumeId(const COpenFolder& folder, CVolumeId& volume);
// The same for a folder named by a wide path.
int ListFolder(const std::u16string& path, CFolderListing& listing, ELinks links = ELinks::FollowAll);

// The folder at path, links resolved. Returns 0, or the error that kept it
// from being read (ENOTDIR when it is no folder).
int GetFolderId(const std::u16string& path, CFolderId& id);
// The folder at path, links resolved, then every folder above it up to the
// system's root. Returns 0 or the error that kept one of them from being read.
int GetFolderChain(const std::u16string& path, std::vector<CFolderId>& chain);

// One open file, closed when it goes.
class CFile
{
public:
    CFile() = default;
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;
    ~CFile();

    // Opens a regular file for reading. A pipe, socket or device is refused
    // (ENOTSUP) without ever blocking on it.
    int OpenRead(const std::u16string& path);
    int GetStamp(CFileStamp& stamp) const;
    // In nanoseconds, how far a write to the file may leave its times behind:
    // whole seconds on FAT and exFAT and through FUSE drivers, where they are
    // read two seconds apart; TIMES_NEVER_MOVE for a driver that leaves them.
    std::int64_t TimeGranularity() const;
    // Goes back to the file's first byte, to read it again.
    int Rewind();
    // Creates the file at path for writing, or empties the one there: a file
    // the user names on the computer's side, such as a saved log. Links are
    // followed; a pipe without a reader is refused rather than waited for.
    int Create(const std::u16string& path);
    // Reads up to size bytes; count 0 at the end of the file.
    int Read(char* buffer, std::size_t size, std::size_t& count);
    // Writes every byte, going on after a short write.
    int Write(const char* buffer, std::size_t size);
    // Asks the system to start writing the file's data to the device now,
    // without waiting for it; a later flush then has less left to do.
    void StartWriteBack();
    // Writes the file's data to the device and waits until it is there.
    int Sync();
    // Gives the file the time of the last change of its data, in nanoseconds
    // since 1970, and the same last access time.
    int SetModified(std::int64_t modified);
    // Closes the file; for a written file a failure here is a failed write.
    int Close();
    // The bytes available to this user on the file's volume and the unit in
    // which it allocates space to files.
    int GetVolumeSpace(std::uint64_t& available, std::uint64_t& allocationUnit) const;

private:
    friend class CFolderHandle; // creates files for writing

    int m_fd = -1;
    bool m_bWriting = false;
};

// A new folder of this process's own below $TMPDIR (else /tmp), removed with
// everything in it when the object goes. Making one removes the folders of
// its prefix that killed processes left there.
class CTemporaryFolder
{
public:
    CTemporaryFolder() = default;
    CTemporaryFolder(const CTemporaryFolder&) = delete;
    CTemporaryFolder& operator=(const CTemporaryFolder&) = delete;
    ~CTemporaryFolder();

    // Makes the folder, its name beginning with prefix: 0 or the error of the call.
    int Create(const std::string& prefix);
    // Empty until made.
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    int m_fd = -1; // holds the folder's lock
};

// Bytes available to this user and total bytes of the volume holding folder,
// and the unit in which it allocates space to files (the cluster of FAT and
// exFAT). Returns 0, or the error of the query with the values left as they were.
int QueryVolumeSpace(const std::string& folder, std::uint64_t& available, std::uint64_t& total,
                     std::uint64_t& allocationUnit);
