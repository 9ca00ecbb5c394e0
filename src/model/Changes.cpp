#include "model/FolderNode.h"

#include "text/Unicode.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

namespace {

constexpr std::int64_t SECOND_NS = 1'000'000'000;
constexpr std::int64_t HOUR_NS = 3600 * SECOND_NS;
// FAT keeps times to 2 s; a copy that kept its source's time is at most that
// far behind it.
constexpr std::int64_t TIME_TOLERANCE_NS = 2 * SECOND_NS;
// FAT keeps local time: read in another zone or across a change of daylight
// saving time, the player's files are whole hours off, at most the distance
// from UTC-12 to UTC+14.
constexpr std::int64_t MAX_SHIFT_HOURS = 26;

// A computer file newer than its copy on the player by more than FAT's
// tolerance, and not by whole hours within it. A copy newer than its source
// is one made without keeping times (cp without -p).
bool IsNewerThanCopy(std::int64_t computer, std::int64_t player)
{
    const std::int64_t ahead = computer - player;
    if (ahead <= TIME_TOLERANCE_NS) {
        return false;
    }
    const std::int64_t hours = (ahead + HOUR_NS / 2) / HOUR_NS;
    return hours == 0 || hours > MAX_SHIFT_HOURS || std::abs(ahead - hours * HOUR_NS) > TIME_TOLERANCE_NS;
}

// Without a record, the player's files themselves: a computer file without a
// player file of its player name (as FAT compares names) or newer than it, a
// player file without a computer file, or a size that differs where the
// writer copies the file as it is.
bool DiffersFromPlayers(const CFolderNode& album, const IPlayerFiles& writer)
{
    const std::vector<CFileEntry>& players = album.m_files[SIDE_PLAYER];
    const std::vector<CFileEntry>& computers = album.m_files[SIDE_COMPUTER];
    if (players.size() != computers.size()) {
        return true;
    }
    std::unordered_map<std::u16string, const CFileEntry*> byName;
    byName.reserve(players.size());
    for (const CFileEntry& file : players) {
        byName.emplace(FoldCaseAsFat(file.m_name), &file);
    }
    for (const CFileEntry& file : computers) {
        const std::u16string name = writer.PlayerFileName(album, file);
        const auto found = byName.find(FoldCaseAsFat(name));
        if (found == byName.end() || found->second == nullptr) {
            return true;
        }
        const CFileEntry& copy = *found->second;
        found->second = nullptr; // two computer files for one player file leave another without
        if ((name == PlayerName(file.m_name) && copy.m_size != file.m_size) ||
            IsNewerThanCopy(file.m_modified, copy.m_modified)) {
            return true;
        }
    }
    return false;
}

} // namespace

bool RecordsFiles(const CAlbumManifest& manifest, const std::vector<CFileEntry>& files)
{
    if (manifest.m_files.size() != files.size()) {
        return false;
    }
    // The listing is in name order; the record is put in the same.
    std::vector<const CManifestEntry*> recorded;
    recorded.reserve(manifest.m_files.size());
    for (const CManifestEntry& entry : manifest.m_files) {
        recorded.push_back(&entry);
    }
    std::sort(recorded.begin(), recorded.end(), [](const CManifestEntry* a, const CManifestEntry* b) {
        return NameOrderLess(a->m_computerName, b->m_computerName);
    });
    return std::equal(files.begin(), files.end(), recorded.begin(), [](const CFileEntry& file, const auto* entry) {
        return file.m_name == entry->m_computerName && file.m_size == entry->m_size &&
               file.m_modified == entry->m_modified;
    });
}

// With the album's record: its computer files are not those the record names
// (one added or gone, a size or a time different), or another writer made it.
// Without, the player's files themselves.
void CFolderNode::ComputeChanges(const IPlayerFiles& writer)
{
    if (IsAlbum()) {
        m_bChanged = !m_names[SIDE_COMPUTER].empty() && !m_names[SIDE_PLAYER].empty() &&
                     (m_pManifest ? !m_bRecordsFiles || m_pManifest->m_writer != writer.WriterId()
                                  : DiffersFromPlayers(*this, writer));
        m_changed = m_bChanged ? 1 : 0;
        return;
    }
    m_bChanged = false;
    m_changed = 0;
    for (const auto& child : m_children) {
        child->ComputeChanges(writer);
        m_changed += child->m_changed;
    }
}
