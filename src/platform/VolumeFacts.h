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

// Opens the highest folder above the open folder fd, fd's own folder included,
// that lies on the same file system and can be read: its mount point.
int TopOfFileSystem(int fd);

// A socket of the system's abstract namespace, named after a device: only one
// process can hold the name, and the system frees it when the process ends.
class CDeviceLock
{
public:
    explicit CDeviceLock(int fd) : m_fd(fd) {}
    CDeviceLock(const CDeviceLock&) = delete;
    CDeviceLock& operator=(const CDeviceLock&) = delete;
    ~CDeviceLock();

    // 0 with the lock, EWOULDBLOCK while another holds it, or the error.
    static int Take(dev_t device, std::shared_ptr<CDeviceLock>& lock);

private:
    int m_fd;
};
