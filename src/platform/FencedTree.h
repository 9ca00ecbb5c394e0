#pragma once

#include "platform/FileSystem.h"
#include "platform/PlayerTree.h"

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
    // Swaps the names of two folders in one step (renameat2 RENAME_EXCHANGE):
    // EINVAL on a file system that cannot, as FAT and exFAT drivers.
    int ExchangeFolders(const std::u16string& first, const std::u16string& second) const;
    // Bytes available to this user on the folder's file system, its total
    // bytes, and its allocation unit.
    int QuerySpace(std::uint64_t& available, std::uint64_t& total, std::uint64_t& allocationUnit) const;
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
// joined by PATH_SEPARATOR: the player as a POSIX folder tree. The empty path
// is the root, which is never removed.
class CFencedTree final : public IPlayerTree
{
public:
    CFencedTree() = default;
    CFencedTree(const CFencedTree&) = delete;
    CFencedTree& operator=(const CFencedTree&) = delete;
    ~CFencedTree() { Close(); }

    // Opens the root; fails with ESTALE when it is no longer the folder
    // expected, as when a player was unmounted and its mount point is left,
    // or another player plugged in its place, and with EWOULDBLOCK while
    // another holder has a tree above, below or at it open.
    int Open(const std::u16string& root, const CFolderStamp& expected) override;
    void Close() override
    {
        m_root.Close();
        m_pTreeLock.reset();
    }
    // True on a file system whose whole flush (syncfs) never reaches its
    // driver, as with FUSE.
    bool FlushesEachFile() const override { return m_bFlushEachFile; }
    // 4 GiB - 1 on FAT, where that is known, else no limit.
    std::uint64_t MaxFileSize() const override { return m_nMaxFileSize; }
    int Flush(const CFolderHandle& folder) const override;
    int FlushFile(CFile& file) const override { return m_bFlushEachFile ? file.Sync() : 0; }

    int OpenFolder(const std::u16string& relative, CFolderHandle& folder) const override;
    int OpenFolder(const CFolderHandle& parent, const std::u16string& name, CFolderHandle& folder) const override
    {
        return parent.OpenFolder(name, folder);
    }
    int List(const CFolderHandle& folder, CFolderListing& listing) const override { return folder.List(listing); }
    int GetId(const CFolderHandle& folder, CFolderId& id) const override { return folder.GetId(id); }
    int GetEntryId(const CFolderHandle& folder, const std::u16string& name, CFolderId& id) const override
    {
        return folder.GetEntryId(name, id);
    }
    int Lock(const CFolderHandle& folder) const override { return folder.Lock(); }
    // A file system that ignores case finds a folder by another spelling of
    // its name: bExactName asks the listing.
    bool HasFolder(const std::u16string& relative, bool bExactName = false) const override;
    int CreateFolder(const std::u16string& relative) const override;
    int RemoveFolder(const std::u16string& relative) const override;
    int RemoveFolder(const CFolderHandle& parent, const std::u16string& name) const override
    {
        return parent.RemoveFolder(name);
    }
    int CreateFile(const CFolderHandle& folder, const std::u16string& name, CFile& file) const override
    {
        return folder.CreateFile(name, file);
    }
    int RemoveFile(const CFolderHandle& folder, const std::u16string& name) const override
    {
        return folder.RemoveFile(name);
    }
    int RenameFolder(const CFolderHandle& parent, const std::u16string& from, const std::u16string& to) const override
    {
        return parent.RenameFolder(from, to);
    }
    int ExchangeFolders(const CFolderHandle& parent, const std::u16string& first,
                        const std::u16string& second) const override
    {
        return parent.ExchangeFolders(first, second);
    }
    int QuerySpace(std::uint64_t& available, std::uint64_t& total, std::uint64_t& allocationUnit) const override
    {
        return m_root.QuerySpace(available, total, allocationUnit);
    }
    int SetModified(CFile& file, std::int64_t modified) const override { return file.SetModified(modified); }

private:
    // Opens the folder that holds the last component of relative.
    int OpenParent(const std::u16string& relative, CFolderHandle& parent, std::u16string& name) const;

    CFolderHandle m_root;
    // Held while the tree is open: no other job opens a tree above, below or
    // at this one, wherever a folder of it is bound.
    std::shared_ptr<class CTreeLock> m_pTreeLock;
    bool m_bFlushEachFile = false;
    std::uint64_t m_nMaxFileSize = UINT64_MAX;
};
