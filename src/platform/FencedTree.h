#pragma once

#include "platform/FileSystem.h"

#include <string>

// A folder tree that is reached only from a descriptor of its root, one path
// component at a time, never through a link: nothing done inside it can reach
// a file outside it, whatever links, renames or swaps happen on disk meanwhile.
// A link, or anything but a folder, where a folder is expected fails the
// operation with the error of the call (ELOOP or ENOTDIR).

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
    // The folder name inside parent.
    int OpenChild(const CFolderHandle& parent, const std::u16string& name);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    const CFolderId& Id() const { return m_id; }

    // Entries in name order; a link is an entry of its own, never a folder.
    int List(CFolderListing& listing) const;
    // True when name is a folder (not a link to one).
    bool HasFolder(const std::u16string& name) const;
    int CreateFolder(const std::u16string& name) const;
    // Creates a file that does not exist yet, for writing.
    int CreateFile(const std::u16string& name, CFile& file) const;
    int RemoveFile(const std::u16string& name) const;
    int RemoveFolder(const std::u16string& name) const;
    // Writes everything of the folder's file system to the device, and reports
    // any write-back error since the folder was opened.
    int SyncFileSystem() const;

private:
    friend class CFencedTree;

    // Takes over fd, the result of an open that set errno when it failed.
    int Adopt(int fd);

    int m_fd = -1;
    CFolderId m_id;
};

// A fenced tree addressed by paths relative to its root, their components
// joined by PATH_SEPARATOR. The empty path is the root, which is never removed.
class CFencedTree
{
public:
    // Opens the root; fails with ESTALE when it is no longer the folder
    // expected, as when a player was unmounted and its mount point is left.
    int Open(const std::u16string& root, const CFolderId& expected);
    void Close() { m_root.Close(); }

    int OpenFolder(const std::u16string& relative, CFolderHandle& folder) const;
    // Creates the folder when it is not there; bCreated tells which.
    int MakeFolder(const std::u16string& relative, bool& bCreated) const;
    int RemoveFile(const std::u16string& relative) const;
    int RemoveFolder(const std::u16string& relative) const;

private:
    // Opens the folder that holds the last component of relative.
    int OpenParent(const std::u16string& relative, CFolderHandle& parent, std::u16string& name) const;

    CFolderHandle m_root;
};
