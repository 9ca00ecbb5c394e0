#include "platform/VolumeFacts.h"

#include "platform/MountTable.h"
#include "platform/PosixSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The type of the file system mounted as device, as the mount table gives it
// ("vfat", "fuse.fusefat", "fuseblk"); empty when it is not found.
std::string MountType(dev_t device)
{
    for (const CMountEntry& mount : ReadMountTable()) {
        if (mount.m_device == device) {
            return mount.m_type;
        }
    }
    return {};
}

} // namespace

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
    const std::string type = MountType(self.st_dev);
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
