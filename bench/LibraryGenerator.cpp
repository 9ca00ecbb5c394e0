#include "LibraryGenerator.h"

#include "model/AlbumManifest.h"
#include "platform/FileSystem.h"
#include "transfer/PlainCopy.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::array<const char*, 8> kWords = {"Blue", "Night", "River", "Gold", "Echo", "Summer", "Stone", "Velvet"};
const std::array<const char*, 8> kAccented = {"\xC3\x89vora",
                                              "\xC3\x98rsted",
                                              "M\xC3\xBCller",
                                              "Fran\xC3\xA7oise",
                                              "Ni\xC3\xB1o",
                                              "\xC3\x85sa",
                                              "\xE6\x97\xA5\xE6\x9C\xAC",
                                              "\xD0\x9C\xD0\xB8\xD1\x80"};

class CGenerator
{
public:
    explicit CGenerator(const CLibraryParams& params) : m_params(params), m_random(params.m_seed) {}

    CLibraryStats Run(const fs::path& computer, const fs::path& player)
    {
        if (fs::exists(computer) || fs::exists(player)) {
            throw std::runtime_error("the library folders exist already");
        }
        fs::create_directories(computer);
        fs::create_directories(player);
        for (int artist = 0; artist < m_params.m_artists; ++artist) {
            const std::string artistName = Name("Artist", artist);
            // Some artists are spelled with other capitals on the player, as happens.
            const std::string playerArtist = Chance(0.2) ? Upper(artistName) : artistName;
            for (int album = 0; album < m_params.m_albumsPerArtist; ++album) {
                const std::string albumName = Name("Album", album);
                const fs::path computerAlbum =
                    m_params.m_bFlat ? fs::path(artistName + " - " + albumName) : fs::path(artistName) / albumName;
                const fs::path playerAlbum =
                    m_params.m_bFlat ? fs::path(playerArtist + " - " + albumName) : fs::path(playerArtist) / albumName;
                const double placement = Uniform();
                const bool onBoth = placement < m_params.m_overlap;
                const bool playerOnly = !onBoth && placement < m_params.m_overlap + m_params.m_playerOnly;
                const int files = static_cast<int>(Between(m_params.m_minFilesPerAlbum, m_params.m_maxFilesPerAlbum));
                CAlbumManifest written;
                if (!playerOnly) {
                    written = WriteAlbum(computer / computerAlbum, files);
                }
                if (onBoth || playerOnly) {
                    CAlbumManifest own = WriteAlbum(player / playerAlbum, files);
                    if (m_params.m_manifests > 0 && Chance(m_params.m_manifests)) {
                        WriteManifest(player / playerAlbum, onBoth ? written : own);
                    }
                }
                ++m_stats.m_albums;
            }
        }
        return m_stats;
    }

private:
    double Uniform() { return std::uniform_real_distribution<double>(0, 1)(m_random); }
    bool Chance(double share) { return Uniform() < share; }
    std::uint64_t Between(std::uint64_t low, std::uint64_t high)
    {
        return std::uniform_int_distribution<std::uint64_t>(low, std::max(low, high))(m_random);
    }

    std::string Name(const char* kind, int index)
    {
        // Five digits: names stay apart in the largest libraries generated.
        std::string name = std::string(kind) + " " + std::to_string(100000 + index).substr(1) + " " +
                           kWords[Between(0, kWords.size() - 1)];
        if (Chance(m_params.m_nonAscii)) {
            name += std::string(" ") + kAccented[Between(0, kAccented.size() - 1)];
        }
        return name;
    }

    static std::string Upper(std::string text)
    {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
            return c < 0x80 ? static_cast<char>(std::toupper(c)) : static_cast<char>(c);
        });
        return text;
    }

    // Returns the record a job would write of the album's files.
    CAlbumManifest WriteAlbum(const fs::path& folder, int files)
    {
        fs::create_directories(folder);
        CAlbumManifest written{CPlainCopy::PLAIN_COPY_ID, {}};
        for (int track = 1; track <= files; ++track) {
            const std::string name = (track < 10 ? "0" : "") + std::to_string(track) + " - Track " +
                                     kWords[Between(0, kWords.size() - 1)] + ".mp3";
            const std::uint64_t size = Between(m_params.m_minFileSize, m_params.m_maxFileSize);
            WriteFile(folder / name, size);
            CFileStamp stamp;
            if (GetFileStamp(FromNativeName((folder / name).native()), stamp) != 0) {
                throw std::runtime_error("cannot read " + (folder / name).string());
            }
            const std::u16string wide = FromNativeName(name);
            written.m_files.push_back({wide, wide, size, stamp.m_modified});
        }
        return written;
    }

    static void WriteManifest(const fs::path& folder, const CAlbumManifest& manifest)
    {
        std::ofstream out(folder / ToNativePath(MANIFEST_NAME), std::ios::binary);
        out << SerializeManifest(manifest);
        if (!out) {
            throw std::runtime_error("cannot write the manifest in " + folder.string());
        }
    }

    void WriteFile(const fs::path& path, std::uint64_t size)
    {
        std::ofstream out(path, std::ios::binary);
        std::vector<char> block(std::min<std::uint64_t>(size, 1 << 20));
        for (std::uint64_t written = 0; written < size; written += block.size()) {
            const std::uint64_t chunk = std::min<std::uint64_t>(block.size(), size - written);
            for (auto& byte : block) {
                byte = static_cast<char>(m_random());
            }
            out.write(block.data(), static_cast<std::streamsize>(chunk));
        }
        if (!out) {
            throw std::runtime_error("cannot write " + path.string());
        }
        ++m_stats.m_files;
        m_stats.m_bytes += size;
    }

    CLibraryParams m_params;
    std::mt19937 m_random;
    CLibraryStats m_stats;
};

} // namespace

CLibraryStats GenerateLibraryPair(const fs::path& computerRoot, const fs::path& playerRoot,
                                  const CLibraryParams& params)
{
    return CGenerator(params).Run(computerRoot, playerRoot);
}
