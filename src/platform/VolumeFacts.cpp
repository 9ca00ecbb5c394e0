#include "platform/VolumeFacts.h"

#include "platform/MountTable.h"
#include "platform/PosixSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

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

int TopOfFileSystem(int fd)
{
    struct stat info;
    int top = RetryOnInterrupt([&] { return openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (top < 0 || fstat(top, &info) != 0) {
        return top;
    }
    for (;;) {
        const int parent = openat(top, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat above;
        if (parent < 0 || fstat(parent, &above) != 0 || above.st_dev != info.st_dev || above.st_ino == info.st_ino) {
            if (parent >= 0) {
                close(parent);
            }
            return top;
        }
        close(top);
        top = parent;
        info = above;
    }
}

CDeviceLock::~CDeviceLock()
{
    close(m_fd);
}

int CDeviceLock::Take(dev_t device, std::shared_ptr<CDeviceLock>& lock)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    lock = std::make_shared<CDeviceLock>(fd);
    const std::string name = "lyrafetch-job-" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::copy(name.begin(), name.end(), address.sun_path + 1); // a leading 0: no file
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
        return 0;
    }
    const int error = errno;
    lock.reset();
    return error == EADDRINUSE ? EWOULDBLOCK : error;
}
