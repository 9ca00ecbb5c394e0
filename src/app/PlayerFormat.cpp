#include "app/PlayerFormat.h"

#include "platform/MountTable.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

namespace {

// A card's file is a few lines; anything much larger is not one.
constexpr std::streamsize kMaxPlayerFileBytes = 64 * 1024;

std::string_view Trim(std::string_view text)
{
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// The profile a player's MIME type preselects, by its id; empty for one no profile writes.
std::string_view ProfileIdOf(std::string_view mime)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kWritten = {{
        {"audio/ogg", "opus-128"},
        {"audio/opus", "opus-128"},
        {"audio/x-opus+ogg", "opus-128"},
        {"audio/mpeg", "mp3-v2"},
        {"audio/mp3", "mp3-v2"},
        {"audio/mp4", "aac-192"},
        {"audio/aac", "aac-192"},
        {"audio/x-m4a", "aac-192"},
    }};
    const auto* found =
        std::find_if(kWritten.begin(), kWritten.end(), [&](const auto& entry) { return entry.first == mime; });
    return found != kWritten.end() ? found->second : std::string_view();
}

const CFormatProfile* ProfileForFormats(std::string_view formats)
{
    std::vector<std::string> mimes;
    std::size_t start = 0;
    while (start <= formats.size()) {
        const std::size_t end = std::min(formats.find_first_of(",;", start), formats.size());
        if (const std::string_view mime = Trim(formats.substr(start, end - start)); !mime.empty()) {
            mimes.push_back(Lower(mime));
        }
        start = end + 1;
    }
    const auto plays = [&](std::string_view mime) {
        return std::find(mimes.begin(), mimes.end(), mime) != mimes.end();
    };
    if (plays("audio/flac") || plays("audio/x-flac")) {
        return &DefaultProfile();
    }
    for (const std::string& mime : mimes) {
        if (const std::string_view id = ProfileIdOf(mime); !id.empty()) {
            return FindProfile(id);
        }
    }
    return &DefaultProfile();
}

const CFormatProfile* ReadPlayerFile(const std::filesystem::path& folder)
{
    std::ifstream file(folder / AUDIO_PLAYER_FILE, std::ios::binary);
    if (!file) {
        return nullptr;
    }
    std::string text(static_cast<std::size_t>(kMaxPlayerFileBytes), '\0');
    file.read(text.data(), kMaxPlayerFileBytes);
    text.resize(static_cast<std::size_t>(file.gcount()));
    return ProfileForPlayerFile(text);
}

} // namespace

const CFormatProfile* ProfileForPlayerFile(std::string_view text)
{
    // Lines of key=value, some under a "[Device]" heading; a later line of the key wins.
    const CFormatProfile* profile = nullptr;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos && Lower(Trim(std::string_view(line).substr(0, equals))) == "output_formats") {
            profile = ProfileForFormats(std::string_view(line).substr(equals + 1));
        }
    }
    return profile;
}

const CFormatProfile* PreselectedProfile(const std::string& playerFolder)
{
    if (const std::optional<CMountEntry> mount = MountOf(playerFolder)) {
        if (const CFormatProfile* profile = ReadPlayerFile(mount->m_mountPoint)) {
            return profile;
        }
    }
    return ReadPlayerFile(playerFolder);
}

std::string PlayerFormatKey(const std::string& playerFolder)
{
    const std::optional<CMountEntry> mount = MountOf(playerFolder);
    if (!mount) {
        return {};
    }
    std::string identity = FileSystemIdentity(*mount);
    if (identity.starts_with("UUID=")) {
        return identity;
    }
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(playerFolder, error);
    return error ? std::string() : "folder=" + real.string();
}
