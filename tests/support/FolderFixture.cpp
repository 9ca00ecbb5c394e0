#include "support/FolderFixture.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kSparseThreshold = 64u << 20;

} // namespace

CFolderFixture::CFolderFixture()
{
    std::string pattern = (fs::temp_directory_path() / "lyrafetch-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    m_root = pattern;
}

CFolderFixture::~CFolderFixture()
{
    std::error_code error;
    // Folders a test made unreadable must be opened up again to be removed.
    for (auto it = fs::recursive_directory_iterator(m_root, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
    }
    if (fs::remove_all(m_root, error), error) {
        // A tree deeper than the system's path limit.
        [[maybe_unused]] const int status = std::system(("rm -rf '" + m_root.string() + "'").c_str());
    }
}

void CFolderFixture::CreateDeep(const std::string& folder, int levels) const
{
    fs::create_directories(m_root / folder);
    int fd = open((m_root / folder).c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; fd >= 0 && level <= levels; ++level) {
        const std::string name = level < levels ? std::to_string(level) + std::string(200, 'x') : "Album";
        const int next = mkdirat(fd, name.c_str(), 0777) == 0 ? openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY) : -1;
        close(fd);
        fd = next;
    }
    const int file = fd >= 0 ? openat(fd, "1.mp3", O_WRONLY | O_CREAT | O_EXCL, 0666) : -1;
    const bool written = file >= 0 && write(file, "0123456789", 10) == 10;
    if (file >= 0) {
        close(file);
    }
    if (fd >= 0) {
        close(fd);
    }
    if (!written) {
        throw std::runtime_error("cannot create a deep tree below " + folder);
    }
}

void CFolderFixture::Create(const std::string& description) const
{
    std::istringstream lines(description);
    std::string line;
    while (std::getline(lines, line)) {
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos) {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(" \t") + 1 - first);
        if (line.back() == '/') {
            fs::create_directories(m_root / line);
            continue;
        }
        const auto colon = line.rfind(':');
        const std::string relative = line.substr(0, colon);
        CreateFile(relative, colon == std::string::npos ? 0 : std::stoull(line.substr(colon + 1)));
    }
}

void CFolderFixture::CreateFile(const std::string& relative, std::uintmax_t size) const
{
    const fs::path path = m_root / relative;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (size <= kSparseThreshold) {
        out << ContentFor(relative, size);
    }
    out.close();
    if (!out || (size > kSparseThreshold && (fs::resize_file(path, size), false))) {
        throw std::runtime_error("cannot create " + path.string());
    }
}

std::string CFolderFixture::ContentFor(const std::string& relative, std::uintmax_t size)
{
    std::string content;
    content.reserve(size);
    const std::string seed = relative + "|";
    while (content.size() < size) {
        content += seed;
    }
    content.resize(size);
    return content;
}

std::string ReadFileText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
