#include "platform/VolumeFacts.h"

#include "platform/MountTable.h"
#include "platform/PosixSupport.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace {

// The file system mounted as device, as the mount table gives it; empty when
// it is not found.
CMountEntry MountEntryOf(dev_t device)
{
    for (CMountEntry& mount : ReadMountTable()) {
        if (mount.m_device == device) {
            return std::move(mount);
        }
    }
    return {};
}

// The UUID of the device, or of the mount's source, as the system's links name
// it, which any user may read; empty where there is none.
std::string SerialFromLinks(const CMountEntry& mount)
{
    std::error_code error;
    for (const auto& link : std::filesystem::directory_iterator("/dev/disk/by-uuid", error)) {
        struct stat target;
        if (stat(link.path().c_str(), &target) == 0 && S_ISBLK(target.st_mode) &&
            (target.st_rdev == mount.m_device || (mount.m_source.starts_with("/dev/") &&
                                                  std::filesystem::equivalent(link.path(), mount.m_source, error)))) {
            return link.path().filename().string();
        }
    }
    return {};
}

std::uint32_t LittleEndian32(const unsigned char* bytes)
{
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t{bytes[3]} << 24);
}

} // namespace

std::string SerialFromBootSector(const std::string& source)
{
    const int fd = source.starts_with('/') ? open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY) : -1;
    unsigned char sector[512] = {};
    struct stat info;
    const bool read = fd >= 0 && fstat(fd, &info) == 0 && (S_ISBLK(info.st_mode) || S_ISREG(info.st_mode)) &&
                      pread(fd, sector, sizeof sector, 0) == static_cast<ssize_t>(sizeof sector);
    if (fd >= 0) {
        close(fd);
    }
    const auto holds = [&](std::size_t offset, std::string_view text) {
        return std::equal(text.begin(), text.end(), sector + offset);
    };
    std::size_t offset = 0;
    if (!read) {
        return {};
    } else if (holds(3, "EXFAT   ")) {
        offset = 100;
    } else if (holds(82, "FAT32   ")) {
        offset = 67;
    } else if (holds(54, "FAT1")) { // FAT12 and FAT16
        offset = 39;
    } else {
        return {};
    }
    const std::uint32_t serial = LittleEndian32(sector + offset);
    char text[10];
    std::snprintf(text, sizeof text, "%04X-%04X", serial >> 16, serial & 0xFFFF);
    return text;
}

std::string SerialOf(const CMountEntry& mount)
{
    const std::string serial = SerialFromLinks(mount);
    return serial.empty() ? SerialFromBootSector(mount.m_source) : serial;
}

std::int64_t TimeGranularityOf(int fd)
{
    constexpr std::int64_t FAT_TIME_STEP = 2000000000; // FAT keeps times to 2 s, exFAT drivers to 1 s
    struct statfs info;
    struct stat self;
    if (fstatfs(fd, &info) != 0 || fstat(fd, &self) != 0) {
        return TIMES_NEVER_MOVE;
    }
    if (info.f_type == FUSE_SUPER_MAGIC) {
        // fusefat leaves a file's times as they were when it writes it.
        return MountEntryOf(self.st_dev).m_type == "fuse.fusefat" ? TIMES_NEVER_MOVE : FAT_TIME_STEP;
    }
    if (info.f_type == MSDOS_SUPER_MAGIC || info.f_type == EXFAT_SUPER_MAGIC) {
        return FAT_TIME_STEP;
    }
    // Elsewhere the times are those of the system's clock at its tick.
    struct timespec tick;
    return clock_getres(CLOCK_REALTIME_COARSE, &tick) == 0 ? NanosecondsOf(tick) : FAT_TIME_STEP;
}

int VolumeIdOf(int fd, CVolumeId& volume)
{
    struct stat self;
    struct statfs info;
    struct statvfs space;
    if (fstat(fd, &self) != 0 || fstatfs(fd, &info) != 0 || fstatvfs(fd, &space) != 0) {
        return errno;
    }
    volume.m_totalBytes = static_cast<std::uint64_t>(space.f_blocks) * space.f_frsize;
    volume.m_bStableInodes =
        info.f_type != FUSE_SUPER_MAGIC && info.f_type != MSDOS_SUPER_MAGIC && info.f_type != EXFAT_SUPER_MAGIC;
    CMountEntry mount = MountEntryOf(self.st_dev);
    mount.m_device = self.st_dev;
    volume.m_serial = SerialOf(mount);
    return 0;
}

std::uint64_t MaxFileSizeOf(int fd, const struct statfs& info)
{
    constexpr std::uint64_t FAT_MAX_FILE_SIZE = (std::uint64_t{1} << 32) - 1;
    if (info.f_type == MSDOS_SUPER_MAGIC) {
        return FAT_MAX_FILE_SIZE;
    }
    struct stat self;
    if (info.f_type != FUSE_SUPER_MAGIC || fstat(fd, &self) != 0) {
        return UINT64_MAX;
    }
    const std::string type = MountEntryOf(self.st_dev).m_type;
    const std::size_t dot = type.find('.');
    const std::string subtype = dot == std::string::npos ? std::string() : type.substr(dot + 1);
    const bool fat = subtype == "fusefat" || subtype == "vfat" || subtype == "msdos";
    return fat ? FAT_MAX_FILE_SIZE : UINT64_MAX;
}

int PathInFileSystem(int fd, std::string& path)
{
    struct statx info;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &info) != 0) {
        return errno;
    }
    if (!(info.stx_mask & STATX_MNT_ID)) {
        return ENOTSUP;
    }
    std::error_code error;
    const std::string absolute = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    if (error) {
        return error.value();
    }
    for (const CMountEntry& mount : ReadMountTable()) {
        const std::string& point = mount.m_mountPoint;
        if (mount.m_nId != info.stx_mnt_id || absolute.compare(0, point.size(), point) != 0) {
            continue;
        }
        const std::string below = point == "/" ? absolute : absolute.substr(point.size());
        path = (mount.m_root == "/" ? std::string() : mount.m_root) + below;
        if (!path.ends_with('/')) {
            path += '/';
        }
        return 0;
    }
    return ENOENT;
}

namespace {

constexpr std::string_view TREE_LOCK_PREFIX = "lyrafetch-tree-";
// An abstract name takes the socket address's path but its first byte.
constexpr std::size_t MAX_SOCKET_NAME = sizeof(sockaddr_un::sun_path) - 1;

// Binds a new socket to the abstract name; fd is the socket, or -1.
int BindAbstract(const std::string& name, int& fd)
{
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::copy(name.begin(), name.end(), address.sun_path + 1); // a leading 0: no file
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
        return 0;
    }
    const int error = errno;
    close(std::exchange(fd, -1));
    return error == EADDRINUSE ? EWOULDBLOCK : error;
}

// A path as a socket name shows it: bytes other than letters, digits and
// "/._-" as "%XX", so that the names hold no blank and one path is the start
// of another exactly when its name is.
std::string EscapedPath(const std::string& path)
{
    std::string escaped;
    for (const char byte : path) {
        if (std::isalnum(static_cast<unsigned char>(byte)) ||
            std::string_view("/._-").find(byte) != std::string_view::npos) {
            escaped += byte;
        } else {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(byte));
            escaped += code;
        }
    }
    return escaped;
}

// The escaped paths of the trees of the device that are held now, as the
// system's table of sockets lists their names ("@" for an abstract name). A
// table that cannot be read fails the lock: it would let overlapping jobs run.
int HeldTrees(const std::string& devicePrefix, std::vector<std::string>& held)
{
    std::ifstream table("/proc/net/unix");
    if (!table) {
        return ENOENT;
    }
    const std::string marker = "@" + devicePrefix;
    for (std::string line; std::getline(table, line);) {
        if (const std::size_t at = line.find(marker); at != std::string::npos) {
            held.push_back(line.substr(at + marker.size()));
        }
    }
    return 0;
}

} // namespace

CTreeLock::~CTreeLock()
{
    close(m_fd);
}

// A tree whose name would be too long takes the nearest folder above it whose
// name fits: that holds more than the tree, never less.
int CTreeLock::Take(int fd, std::shared_ptr<CTreeLock>& lock)
{
    struct stat self;
    std::string path;
    if (fstat(fd, &self) != 0) {
        return errno;
    }
    if (const int error = PathInFileSystem(fd, path)) {
        return error;
    }
    const std::string device = std::to_string(major(self.st_dev)) + ":" + std::to_string(minor(self.st_dev));
    const std::string devicePrefix = std::string(TREE_LOCK_PREFIX) + device + ":";
    std::string escaped = EscapedPath(path);
    while (devicePrefix.size() + escaped.size() > MAX_SOCKET_NAME) {
        escaped.erase(escaped.rfind('/', escaped.size() - 2) + 1);
    }
    // The check and the taking are one step: another job checks after it.
    int serialFd = -1;
    int error = EWOULDBLOCK;
    for (int attempt = 0; attempt < 1000 && error == EWOULDBLOCK; ++attempt) {
        if ((error = BindAbstract("lyrafetch-trees-" + device, serialFd)) == EWOULDBLOCK) {
            usleep(1000);
        }
    }
    if (error != 0) {
        return error;
    }
    const CTreeLock serial(serialFd);
    std::vector<std::string> trees;
    if ((error = HeldTrees(devicePrefix, trees))) {
        return error;
    }
    for (const std::string& held : trees) {
        if (held.starts_with(escaped) || escaped.starts_with(held)) {
            return EWOULDBLOCK;
        }
    }
    int lockFd = -1;
    if ((error = BindAbstract(devicePrefix + escaped, lockFd)) == 0) {
        lock = std::make_shared<CTreeLock>(lockFd);
    }
    return error;
}
