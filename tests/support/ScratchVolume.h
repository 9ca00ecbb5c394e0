#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// A small volume mounted over a folder, in a mount namespace private to this
// test process: a tmpfs, so that a full disk can be met for real, or an exFAT
// or FAT32 image like a player's, which ignores case and refuses some
// characters in names. Unmounted when it goes.
class CScratchVolume
{
public:
    CScratchVolume() = default;
    CScratchVolume(const CScratchVolume&) = delete;
    CScratchVolume& operator=(const CScratchVolume&) = delete;
    ~CScratchVolume();

    // Mount a volume of the given size over an existing folder; inodes, when
    // not 0, limits the files and folders of a tmpfs, its root included. They
    // return an empty string, or why the machine does not allow it.
    std::string Mount(const std::filesystem::path& folder, std::uint64_t bytes, std::uint64_t inodes = 0);
    // Unmounts the volume now, as when a player is pulled out.
    void Unmount();
    // With cluster set, its clusters have that many bytes (mkfs.exfat -c).
    std::string MountExfat(const std::filesystem::path& folder, std::uint64_t bytes, std::uint64_t cluster = 0);
    // A FAT32 image through the user-space driver fusefat, whose files hold
    // at most 4 GiB - 1.
    std::string MountFat32(const std::filesystem::path& folder, std::uint64_t bytes);
    // Mounts the folder source over folder as well, as `mount --bind` does.
    std::string Bind(const std::filesystem::path& source, const std::filesystem::path& folder);
    // Kills the user-space driver of the exFAT volume, as when its cable is
    // pulled: every call on it then fails with ENOTCONN. Plug then unmounts
    // what is left and mounts the same image again at the same folder.
    void KillExfatDriver();
    std::string PlugExfatAgain();
    // Formats the exFAT volume anew, empty, and mounts it again on the same
    // device at the same folder: another card in the same slot.
    std::string FormatExfatAgain();

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_image;
    std::string m_loopDevice;
    std::filesystem::path m_exfatFolder;
};
