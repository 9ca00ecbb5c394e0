#include "platform/MountTable.h"

#include "platform/VolumeFacts.h"

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// The table writes a blank, a tab, a line feed and a backslash in a path as "\040", "\011", "\012" and "\134".
std::string Unescape(const std::string& field)
{
    std::string text;
    for (std::size_t at = 0; at < field.size(); ++at) {
        const std::string code = field.substr(at + 1, 3);
        if (field[at] == '\\' && code.size() == 3 && code.find_first_not_of("01234567") == std::string::npos) {
            text += static_cast<char>(std::stoi(code, nullptr, 8));
            at += 3;
        } else {
            text += field[at];
        }
    }
    return text;
}

bool Holds(const std::string& mountPoint, const std::string& path)
{
    return mountPoint == "/" || path == mountPoint ||
           (path.compare(0, mountPoint.size(), mountPoint) == 0 && path[mountPoint.size()] == '/');
}

} // namespace

// id parent major:minor root mount-point options [optional fields] - type source super-options
std::vector<CMountEntry> ReadMountTable()
{
    std::vector<CMountEntry> mounts;
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; std::getline(table, line);) {
        const std::size_t separator = line.find(" - ");
        if (separator == std::string::npos) {
            continue;
        }
        std::istringstream fields(line.substr(0, separator));
        std::istringstream rest(line.substr(separator + 3));
        std::string id, parent, numbers, root, mountPoint;
        CMountEntry mount;
        fields >> id >> parent >> numbers >> root >> mountPoint;
        rest >> mount.m_type >> mount.m_source;
        const std::size_t colon = numbers.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        mount.m_nId = std::stoul(id);
        mount.m_device = makedev(std::stoul(numbers.substr(0, colon)), std::stoul(numbers.substr(colon + 1)));
        mount.m_root = Unescape(root);
        mount.m_mountPoint = Unescape(mountPoint);
        mount.m_source = Unescape(mount.m_source);
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

std::optional<CMountEntry> MountOf(const std::string& folder)
{
    std::error_code error;
    const std::string real = std::filesystem::canonical(folder, error).string();
    struct stat info;
    if (error || stat(real.c_str(), &info) != 0) {
        return std::nullopt;
    }
    std::optional<CMountEntry> holder;
    for (CMountEntry& mount : ReadMountTable()) {
        if (mount.m_device == info.st_dev && Holds(mount.m_mountPoint, real) &&
            (!holder || mount.m_mountPoint.size() >= holder->m_mountPoint.size())) {
            holder = std::move(mount);
        }
    }
    return holder;
}

std::string FileSystemIdentity(const CMountEntry& mount)
{
    const std::string serial = SerialOf(mount);
    return serial.empty() ? mount.m_source + " " + mount.m_type + " " + mount.m_mountPoint : "UUID=" + serial;
}
