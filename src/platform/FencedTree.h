#pragma once

#include "platform/FileSystem.h"

#include <cstdint>
#include <memory>
#include <string>

// A folder tree that is reached only from a descriptor of its root, one path
// component at a time, never through a link and never into another mount:
// nothing done inside it can reach a file outside it, whatever links, mounts,
// renames or swaps happen on disk meanwhile. A link, or anything but a
// folder, where a folder is expected fails the operation with the error of
// the call (ELOOP or ENOTDIR); a folder that another file system is mounted
// on fails it with EXDEV.

// A folder held open. Names given to it are single components inside it.
class CFolderHandle
{
public:
    CFolderHandle() = default;
    CFolderHandle(const CFolderHandle&) = delete;
    CFolderHandle& operator=(const CFolderHandle&) = delete;
    ~CFolderHandle();

    // The root of a tree: a link at path is followed, once.
    int OpenRoot(const std::u16string& path);
    void Close();

    // Entries in name order; a link is an entry of its own, never a folder.
    int List(CFolderListing& listing) const;
    int GetId(CFolderId& id) const;
    // The id of the entry name inside this folder; a link's own.
    int GetEntryId(const std::u16string& name, CFolderId& id) const;
    // True when name is a folder (not a link to one).
    bool HasFolder(const std::u16string& name) const;
    // Opens the folder name inside this one, as the tree does.
    int OpenFolder(const std::u16string& name, CFolderHandle& folder) const;
    int CreateFolder(const std::u16string& name) const;
    // Creates a file that does not exist yet, for writing.
    int CreateFile(const std::u16string& name, CFile& file) const;
    int RemoveFile(const std::u16string& name) const;
    int RemoveFolder(const std::u16string& name) const;
    // Gives the folder from the new name to, which must not exist: nothing is
    // ever replaced.
    int RenameFolder(const std::u16string& from, const std::u16string& to) const;
    // Writes the folder's entries to the device and waits until they are there.
    int Sync() const;
    // Takes the folder for this holder alone, as long as it is held open:
    // fails with EWOULDBLOCK while another holder has it.
    int Lock() const;
    // Writes everything of the folder's file system to the device, and reports
    // any write-back error since the folder was opened.
    int SyncFileSystem() const;

private:
    friend class CFencedTree;

    // Takes over fd, the result of an open that set errno when it failed.
    int Adopt(int fd);

    int m_fd = -1;
};

// A fenced tree addressed by paths relative to its root, their components
// joined by PATH_SEPARATOR. The empty path is the root, which is never removed.
class CFencedTree
{
public:
    // Opens the root; fails with ESTALE when it is no longer the folder
    // expected, as when a player was unmounted and its mount point is left,
    // or another player plugged in its place, and with EWOULDBLOCK while
    // another holder has any folder of the same file system open as a tree.
    int Open(const std::u16string& root, const CFolderStamp& expected);
    void Close()
    {
        m_root.Close();
        m_fileSystemTop.Close();
        m_pDeviceLock.reset();
    }
    // True on a file system whose whole flush (syncfs) never reaches its
    // driver, as with FUSE: there each written file and each folder whose
    // entries changed must be flushed on its own.
    bool FlushesEachFile() const { return m_bFlushEachFile; }
    // The largest file the tree's file system can hold: 4 GiB - 1 on FAT,
    // where that is known, else no limit.
    std::uint64_t MaxFileSize() const { return m_nMaxFileSize; }
    // Makes the entries of a folder of the tree reach the device: with the
    // whole file system, which also reports a write-back error of any file,
    // where that flush reaches the device, else the folder alone.
    int Flush(const CFolderHandle& folder) const;

    int OpenFolder(const std::u16string& relative, CFolderHandle& folder) const;
    // True when relative is a folder (not a link to one). With bExactName its
    // last component must also be the folder's name to the letter: a file
    // system that ignores case finds a folder by another spelling of its name.
    bool HasFolder(const std::u16string& relative, bool bExactName = false) const;
    int CreateFolder(const std::u16string& relative) const;
    int RemoveFolder(const std::u16string& relative) const;

private:
    // Opens the folder that holds the last component of relative.
    int OpenParent(const std::u16string& relative, CFolderHandle& parent, std::u16string& name) const;

    CFolderHandle m_root;
    // The top folder of the root's file system, locked while the tree is open,
    // and a lock of the device it lies on, which also holds where a folder of
    // it is bound elsewhere.
    CFolderHandle m_fileSystemTop;
    std::shared_ptr<class CDeviceLock> m_pDeviceLock;
    bool m_bFlushEachFile = false;
    std::uint64_t m_nMaxFileSize = UINT64_MAX;
};
