#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// A size-limited tmpfs mounted over a folder, in a mount namespace private to
// this test process, so that a full disk can be met for real. Unmounted when
// it goes.
class CScratchVolume
{
public:
    CScratchVolume() = default;
    CScratchVolume(const CScratchVolume&) = delete;
    CScratchVolume& operator=(const CScratchVolume&) = delete;
    ~CScratchVolume();

    // Mounts a volume of the given size over an existing folder. Returns an
    // empty string, or why the machine does not allow it.
    std::string Mount(const std::filesystem::path& folder, std::uint64_t bytes);

private:
    std::filesystem::path m_folder;
};
