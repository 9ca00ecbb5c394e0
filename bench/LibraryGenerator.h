#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// A synthetic pair of music libraries: a computer folder and a player folder
// with artists holding albums holding files, or with the albums directly in
// the root, named "Artist - Album" (a flat library). Each album lies on both sides,
// on the computer only or on the player only; the same seed gives the same
// pair. An album on both sides is the same album on the player, its files
// with the computer's times.
struct CLibraryParams
{
    int m_artists = 1000;
    int m_albumsPerArtist = 10;
    int m_minFilesPerAlbum = 12;
    int m_maxFilesPerAlbum = 12;
    std::uint64_t m_minFileSize = 0;
    std::uint64_t m_maxFileSize = 0;
    double m_overlap = 0.6;    // share of albums on both sides
    double m_playerOnly = 0.2; // share of albums on the player only; the rest are on the computer only
    double m_nonAscii = 0.1;   // share of artist and album names with non-ASCII letters
    bool m_bFlat = false;      // albums directly in the root
    // Share of the player's albums that hold the manifest a job writes: after
    // a few jobs, most of them.
    double m_manifests = 0;
    std::uint32_t m_seed = 1;
};

struct CLibraryStats
{
    std::uint64_t m_files = 0;
    std::uint64_t m_bytes = 0;
    std::uint64_t m_albums = 0;
};

// Creates computerRoot and playerRoot (which must not exist yet) and fills them.
CLibraryStats GenerateLibraryPair(const std::filesystem::path& computerRoot, const std::filesystem::path& playerRoot,
                                  const CLibraryParams& params);
