#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The record a job writes into each album it puts on the player, as the
// album's last file: which computer files its files were made of, and by
// which writer. A later scan compares it with the computer's album to tell
// whether the album changed since; it is never one of the album's files.
inline constexpr char16_t MANIFEST_NAME[] = u".lyrafetch-album";

struct CManifestEntry
{
    // The file's name on the player, and the computer file it was made of.
    std::u16string m_playerName;
    std::u16string m_computerName;
    std::uint64_t m_size = 0;
    std::int64_t m_modified = 0; // nanoseconds since 1970

    bool operator==(const CManifestEntry&) const = default;
};

struct CAlbumManifest
{
    // The writer that made the files (IPlayerFiles::WriterId).
    std::string m_writer;
    std::vector<CManifestEntry> m_files;

    bool operator==(const CAlbumManifest&) const = default;
};

// The manifest as the file holds it: lines of tab-separated fields, names in
// the file system's bytes (UTF-8, or whatever bytes the name holds), each
// character below 0x20, "%" and DEL written as "%" and two hex digits, ended by
// a line that counts the files, so that a file cut short reads as no manifest.
std::string SerializeManifest(const CAlbumManifest& manifest);
// Nothing for a text that is not a whole manifest of this version.
std::optional<CAlbumManifest> ParseManifest(std::string_view text);
