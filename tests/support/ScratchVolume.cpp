#include "support/ScratchVolume.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

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

// Runs a command; returns its first line of output and whether it succeeded.
bool RunCommand(const std::string& command, std::string& output)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        output = "cannot run " + command;
        return false;
    }
    char line[512] = "";
    output = std::fgets(line, sizeof line, pipe) ? line : "";
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
    }
    return pclose(pipe) == 0;
}

} // namespace

CScratchVolume::~CScratchVolume()
{
    Unmount();
    std::string ignored;
    if (!m_loopDevice.empty()) {
        RunCommand("losetup -d " + m_loopDevice, ignored);
    }
    if (!m_image.empty()) {
        std::filesystem::remove(m_image);
    }
}

void CScratchVolume::Unmount()
{
    if (!m_folder.empty()) {
        umount2(m_folder.c_str(), MNT_DETACH);
        m_folder.clear();
    }
}

std::string CScratchVolume::MountExfat(const std::filesystem::path& folder, std::uint64_t bytes, std::uint64_t cluster)
{
    if (std::string error = EnterPrivateMountNamespace(); !error.empty()) {
        return error;
    }
    std::string output;
    m_image = folder.parent_path() / (folder.filename().string() + ".exfat");
    std::filesystem::resize_file((std::ofstream(m_image), m_image), bytes);
    const std::string clusterOption = cluster != 0 ? "-c " + std::to_string(cluster) + " " : "";
    if (!RunCommand("mkfs.exfat " + clusterOption + m_image.string(), output)) {
        return "mkfs.exfat: " + output;
    }
    if (!RunCommand("losetup -f --show " + m_image.string(), output)) {
        return "losetup: " + output;
    }
    m_loopDevice = output;
    if (!RunCommand("mount.exfat-fuse -o uid=0,gid=0 " + m_loopDevice + " " + folder.string(), output)) {
        return "mount.exfat-fuse: " + output;
    }
    m_folder = folder;
    m_exfatFolder = folder;
    return "";
}

std::string CScratchVolume::MountFat32(const std::filesystem::path& folder, std::uint64_t bytes)
{
    if (std::string error = EnterPrivateMountNamespace(); !error.empty()) {
        return error;
    }
    std::string output;
    m_image = folder.parent_path() / (folder.filename().string() + ".fat32");
    std::filesystem::resize_file((std::ofstream(m_image), m_image), bytes);
    if (!RunCommand("mkfs.vfat -F 32 " + m_image.string(), output)) {
        return "mkfs.vfat: " + output;
    }
    if (!RunCommand("fusefat -o rw+ " + m_image.string() + " " + folder.string(), output)) {
        return "fusefat: " + output;
    }
    m_folder = folder;
    return "";
}

std::string CScratchVolume::Bind(const std::filesystem::path& source, const std::filesystem::path& folder)
{
    if (std::string error = EnterPrivateMountNamespace(); !error.empty()) {
        return error;
    }
    if (mount(source.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        return std::string("bind mount: ") + std::strerror(errno);
    }
    m_folder = folder;
    return "";
}

void CScratchVolume::KillExfatDriver()
{
    // The driver keeps its command line: mount.exfat-fuse ... LOOP FOLDER.
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream file(entry.path() / "cmdline");
        const std::string cmdline((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (cmdline.find("mount.exfat-fuse") != std::string::npos &&
            cmdline.find(m_loopDevice + '\0') != std::string::npos) {
            kill(std::stoi(entry.path().filename().string()), SIGKILL);
        }
    }
}

std::string CScratchVolume::PlugExfatAgain()
{
    Unmount();
    std::string output;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (RunCommand("mount.exfat-fuse -o uid=0,gid=0 " + m_loopDevice + " " + m_exfatFolder.string(), output)) {
            m_folder = m_exfatFolder;
            return "";
        }
        usleep(100000); // the killed driver may still hold the device
    }
    return "mount.exfat-fuse: " + output;
}

std::string CScratchVolume::FormatExfatAgain()
{
    Unmount();
    std::string output;
    for (int attempt = 0; !RunCommand("mkfs.exfat " + m_loopDevice, output); ++attempt) {
        if (attempt == 50) {
            return "mkfs.exfat: " + output;
        }
        usleep(100000); // the driver may still hold the device
    }
    return PlugExfatAgain();
}

std::string CScratchVolume::Mount(const std::filesystem::path& folder, std::uint64_t bytes, std::uint64_t inodes)
{
    if (std::string error = EnterPrivateMountNamespace(); !error.empty()) {
        return error;
    }
    std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (inodes != 0) {
        options += ",nr_inodes=" + std::to_string(inodes);
    }
    if (mount("lyrafetch-test", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        return std::string("mounting tmpfs: ") + std::strerror(errno);
    }
    m_folder = folder;
    return "";
}
