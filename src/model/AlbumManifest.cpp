#include "model/AlbumManifest.h"

#include "platform/FileSystem.h"

#include <charconv>

namespace {

constexpr std::string_view HEADER = "lyrafetch-album 1";

void AppendField(std::string& out, std::string_view field)
{
    static constexpr char HEX[] = "0123456789ABCDEF";
    for (const char c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == '%' || byte == 0x7F) {
            out += '%';
            out += HEX[byte >> 4];
            out += HEX[byte & 0xF];
        } else {
            out += c;
        }
    }
}

void AppendName(std::string& out, const std::u16string& name)
{
    out += '\t';
    AppendField(out, ToNativePath(name));
}

int HexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

std::optional<std::string> Unescape(std::string_view field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            out += field[i];
            continue;
        }
        const int high = i + 2 < field.size() ? HexDigit(field[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(field[i + 2]) : -1;
        if (low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high << 4 | low);
        i += 2;
    }
    return out;
}

std::optional<std::u16string> UnescapeName(std::string_view field)
{
    const std::optional<std::string> narrow = Unescape(field);
    if (!narrow || narrow->empty()) {
        return std::nullopt;
    }
    return FromNativeName(*narrow);
}

template <typename T> std::optional<T> Number(std::string_view field)
{
    T value{};
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size() || field.empty()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> Split(std::string_view line, char separator)
{
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = line.find(separator, start);
        parts.push_back(line.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::optional<CManifestEntry> ParseEntry(std::string_view line)
{
    const std::vector<std::string_view> fields = Split(line, '\t');
    if (fields.size() != 5 || fields[0] != "file") {
        return std::nullopt;
    }
    auto playerName = UnescapeName(fields[1]);
    auto computerName = UnescapeName(fields[2]);
    const auto size = Number<std::uint64_t>(fields[3]);
    const auto modified = Number<std::int64_t>(fields[4]);
    if (!playerName || !computerName || !size || !modified) {
        return std::nullopt;
    }
    return CManifestEntry{std::move(*playerName), std::move(*computerName), *size, *modified};
}

} // namespace

std::string SerializeManifest(const CAlbumManifest& manifest)
{
    std::string out(HEADER);
    out += "\nwriter\t";
    AppendField(out, manifest.m_writer);
    out += '\n';
    for (const CManifestEntry& entry : manifest.m_files) {
        out += "file";
        AppendName(out, entry.m_playerName);
        AppendName(out, entry.m_computerName);
        out += '\t' + std::to_string(entry.m_size) + '\t' + std::to_string(entry.m_modified) + '\n';
    }
    out += "end\t" + std::to_string(manifest.m_files.size()) + '\n';
    return out;
}

std::optional<CAlbumManifest> ParseManifest(std::string_view text)
{
    if (!text.ends_with('\n')) {
        return std::nullopt;
    }
    std::vector<std::string_view> lines = Split(text.substr(0, text.size() - 1), '\n');
    if (lines.size() < 3 || lines.front() != HEADER || !lines[1].starts_with("writer\t") ||
        lines.back() != "end\t" + std::to_string(lines.size() - 3)) {
        return std::nullopt;
    }
    CAlbumManifest manifest;
    std::optional<std::string> writer = Unescape(lines[1].substr(7));
    if (!writer) {
        return std::nullopt;
    }
    manifest.m_writer = std::move(*writer);
    for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
        std::optional<CManifestEntry> entry = ParseEntry(lines[i]);
        if (!entry) {
            return std::nullopt;
        }
        manifest.m_files.push_back(std::move(*entry));
    }
    return manifest;
}
