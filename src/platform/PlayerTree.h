#pragma once

#include "platform/FileSystem.h"

#include <cstdint>
#include <string>

class CFolderHandle;

// Every call a copy job makes on the player's music folder. Paths are relative
// to its root, their components joined by PATH_SEPARATOR, and the empty path
// is the root, which is never removed; names are single components inside an
// open folder. Each call returns 0 or the error of the call.
class IPlayerTree
{
public:
    // Opens the root; fails with ESTALE when it is no longer the folder
    // expected, and with EWOULDBLOCK while another job holds a folder above,
    // below or at it.
    virtual int Open(const std::u16string& root, const CFolderStamp& expected) = 0;
    virtual void Close() = 0;
    // True where the whole flush of the file system never reaches the device:
    // each written file and each folder whose entries changed is flushed then.
    virtual bool FlushesEachFile() const = 0;
    // The largest file the player's file system can hold.
    virtual std::uint64_t MaxFileSize() const = 0;

    virtual int OpenFolder(const std::u16string& relative, CFolderHandle& folder) const = 0;
    virtual int OpenFolder(const CFolderHandle& parent, const std::u16string& name, CFolderHandle& folder) const = 0;
    // Entries in name order; a link is an entry of its own, never a folder.
    virtual int List(const CFolderHandle& folder, CFolderListing& listing) const = 0;
    virtual int GetId(const CFolderHandle& folder, CFolderId& id) const = 0;
    // The id of the entry name of an open folder; a link's own.
    virtual int GetEntryId(const CFolderHandle& folder, const std::u16string& name, CFolderId& id) const = 0;
    // Takes the open folder for this holder alone: EWOULDBLOCK while another has it.
    virtual int Lock(const CFolderHandle& folder) const = 0;
    // True when relative is a folder (not a link to one); with bExactName its
    // last component must also be the folder's name to the letter.
    virtual bool HasFolder(const std::u16string& relative, bool bExactName = false) const = 0;
    virtual int CreateFolder(const std::u16string& relative) const = 0;
    virtual int RemoveFolder(const std::u16string& relative) const = 0;
    virtual int RemoveFolder(const CFolderHandle& parent, const std::u16string& name) const = 0;
    // Creates a file that does not exist yet, for writing.
    virtual int CreateFile(const CFolderHandle& folder, const std::u16string& name, CFile& file) const = 0;
    virtual int RemoveFile(const CFolderHandle& folder, const std::u16string& name) const = 0;
    // Gives a folder of parent the new name to, which must not exist: nothing
    // is ever replaced.
    virtual int RenameFolder(const CFolderHandle& parent, const std::u16string& from,
                             const std::u16string& to) const = 0;
    // Swaps the names of two folders of parent in one step, where the file
    // system can (EINVAL where it cannot): no moment sees either name free.
    virtual int ExchangeFolders(const CFolderHandle& parent, const std::u16string& first,
                                const std::u16string& second) const = 0;
    // The bytes of the player's file system available to this user, its total
    // bytes (0 where the driver does not tell, as fusefat), and the unit in
    // which it gives space to files.
    virtual int QuerySpace(std::uint64_t& available, std::uint64_t& total, std::uint64_t& allocationUnit) const = 0;
    // Gives a written file its source's modification time, in nanoseconds
    // since 1970, once its bytes are written.
    virtual int SetModified(CFile& file, std::int64_t modified) const = 0;
    // Makes the entries of an open folder reach the device: with the whole
    // file system, which also reports a write-back error of any file, where
    // that flush reaches the device, else the folder alone.
    virtual int Flush(const CFolderHandle& folder) const = 0;
    // Makes a written file's data reach the device where FlushesEachFile.
    virtual int FlushFile(CFile& file) const = 0;

protected:
    ~IPlayerTree() = default;
};
