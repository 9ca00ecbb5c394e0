#include "support/ScratchVolume.h"

#include <cerrno>
#include <cstring>

#include <sched.h>
#include <sys/mount.h>

namespace {

// Moves this process into a mount namespace of its own, once. Mounts made
// afterwards are seen by nothing outside the process.
std::string EnterPrivateMountNamespace()
{
    static const std::string result = []() -> std::string {
        if (unshare(CLONE_NEWNS) != 0) {
            return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
        }
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return std::string("making mounts private: ") + std::strerror(errno);
        }
        return "";
    }();
    return result;
}

} // namespace

CScratchVolume::~CScratchVolume()
{
    if (!m_folder.empty()) {
        umount2(m_folder.c_str(), MNT_DETACH);
    }
}

std::string CScratchVolume::Mount(const std::filesystem::path& folder, std::uint64_t bytes)
{
    if (std::string error = EnterPrivateMountNamespace(); !error.empty()) {
        return error;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (mount("lyrafetch-test", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        return std::string("mounting tmpfs: ") + std::strerror(errno);
    }
    m_folder = folder;
    return "";
}
