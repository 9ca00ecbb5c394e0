#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

// One line of this process's mount table (/proc/self/mountinfo).
struct CMountEntry
{
    unsigned long m_nId = 0;
    dev_t m_device = 0;
    // The folder of the file system that the mount shows at its mount point:
    // "/", or a sub-folder for a bind mount of one.
    std::string m_root;
    std::string m_mountPoint;
    std::string m_type;   // "vfat", "tmpfs", "fuseblk", "fuse.fusefat"
    std::string m_source; // "/dev/sdb1", or what the mount was given for a virtual file system
};

std::vector<CMountEntry> ReadMountTable();

// The mount that holds folder, links resolved: of the mounts of its device,
// the one with the longest mount point that holds it. Empty when folder
// cannot be reached.
std::optional<CMountEntry> MountOf(const std::string& folder);

// What tells this file system from any other, the same after it has been
// unmounted and mounted again: its serial number or UUID where that can be
// found, else its source, type and mount point.
std::string FileSystemIdentity(const CMountEntry& mount);
