#pragma once

// What the platform layer's fenced tree asks of the file system that holds it;
// nothing outside src/platform and its tests includes this.

#include "platform/FileSystem.h"
#include "platform/MountTable.h"

#include <cstdint>
#include <memory>
#include <string>

#include <sys/types.h>
#include <sys/vfs.h>

// The largest file of the file system that holds the open folder fd, whose
// statfs is info. The kernel's FAT driver says what it is; a FUSE driver is
// known by the mount table's subtype, when it gives one.
std::uint64_t MaxFileSizeOf(int fd, const struct statfs& info);

// How far a write to the open file fd may leave its times behind, in
// nanoseconds, as CFile::TimeGranularity says.
std::int64_t TimeGranularityOf(int fd);

// The file system that holds the open folder fd: its serial number or UUID,
// as the system's links by UUID name it, else as the boot sector of a FAT or
// exFAT device says it, where that can be read; its size; and whether its
// inodes stay.
int VolumeIdOf(int fd, CVolumeId& volume);

// The volume serial number in the boot sector of a FAT or exFAT device or
// image at source, in the form the system's links give it ("1A2B-3C4D");
// empty where it cannot be read, as a device often cannot by a user, or holds
// neither.
std::string SerialFromBootSector(const std::string& source);

// The serial number or UUID of the file system mounted as mount: as the
// system's links by UUID name it, else as the boot sector of a FAT or exFAT
// device says it, where that can be read; empty where neither tells.
std::string SerialOf(const CMountEntry& mount);

// The path of the open folder fd within its file system, ending in '/': the
// folder that its mount shows at the mount point, as the mount table says,
// then the path below that. The folders of a sub-folder bound elsewhere have
// the paths they have where they lie.
int PathInFileSystem(int fd, std::string& path);

// A socket of the system's abstract namespace whose name tells a folder tree:
// its device and its path within the file system. Only one process can hold
// a name, and the system frees it when the process ends. A tree is taken only
// while no tree above, below or at it is held; the check and the taking are
// one step, under a short-lived socket named after the device.
class CTreeLock
{
public:
    explicit CTreeLock(int fd) : m_fd(fd) {}
    CTreeLock(const CTreeLock&) = delete;
    CTreeLock& operator=(const CTreeLock&) = delete;
    ~CTreeLock();

    // 0 with the lock of the tree at the open folder fd, EWOULDBLOCK while
    // another holds a tree that overlaps it, or the error.
    static int Take(int fd, std::shared_ptr<CTreeLock>& lock);

private:
    int m_fd;
};
