#include "model/Selection.h"

#include <algorithm>
#include <iterator>
#include <numeric>

namespace {

std::int32_t SelectedByMode(const CFolderNode& node, int mode)
{
    return mode == SELECT_ALL ? node.m_albums : mode == SELECT_INITIAL ? node.m_onPlayer : 0;
}

// FAT and exFAT keep a folder's entries in slots of 32 bytes, in clusters of
// the folder's own. A name takes at most two slots and one more for each 13
// UTF-16 units (FAT: a short entry and long-name entries of 13 units; exFAT:
// a file and a stream entry and name entries of 15); FAT gives every folder
// two more for "." and "..". A name's player name is as long as the name.
constexpr std::uint64_t SLOT_BYTES = 32;
constexpr std::uint64_t DOT_SLOTS = 2;

std::uint64_t NameSlots(std::size_t length)
{
    return 2 + (length + 12) / 13;
}

// Whole units, and at least one: a folder takes a cluster however empty.
std::int64_t FolderBytes(std::uint64_t slots, std::uint64_t unit)
{
    const std::uint64_t units = std::max<std::uint64_t>(1, (slots * SLOT_BYTES + unit - 1) / unit);
    return static_cast<std::int64_t>(units * unit);
}

std::uint64_t FileSlots(const std::vector<CFileEntry>& files)
{
    return std::accumulate(files.begin(), files.end(), std::uint64_t{0}, [](std::uint64_t sum, const CFileEntry& file) {
        return sum + NameSlots(file.m_name.size());
    });
}

// The slots a folder's entries on the player take now, at most.
std::uint64_t SlotsNow(const CFolderNode& node)
{
    std::uint64_t slots = DOT_SLOTS + FileSlots(node.m_files[SIDE_PLAYER]);
    for (const auto& child : node.m_children) {
        slots += child->m_names[SIDE_PLAYER].empty() ? 0 : NameSlots(child->m_names[SIDE_PLAYER].size());
    }
    return slots;
}

// The slots a folder's entries take at least: one for each.
std::uint64_t SlotsAtLeast(const CFolderNode& node)
{
    return node.m_files[SIDE_PLAYER].size() +
           static_cast<std::uint64_t>(
               std::count_if(node.m_children.begin(), node.m_children.end(),
                             [](const auto& child) { return !child->m_names[SIDE_PLAYER].empty(); }));
}

// What a job does to the space a folder takes on the player, its files and
// folders included, and whether the folder is there once the job has run.
struct CSpaceChange
{
    std::int64_t m_nBytes = 0;
    bool m_bThereAfter = false;
};

CSpaceChange SpaceChange(const CFolderNode& node, std::uint64_t unit, const IPlayerFiles& sizes)
{
    const bool thereBefore = node.m_pParent == nullptr || !node.m_names[SIDE_PLAYER].empty();
    CSpaceChange change;
    std::uint64_t newSlots = 0;
    bool childGone = false;
    if (node.IsAlbum()) {
        change = {node.AlbumDelta(unit, &sizes), node.IsAlbumToCopy() || (thereBefore && !node.IsAlbumToDelete())};
        newSlots = node.IsAlbumToCopy() ? FileSlots(node.m_files[SIDE_COMPUTER]) : 0;
        if (node.IsAlbumToCopy() || node.IsAlbumToRefresh()) {
            // The album's manifest, written beside its files, in place of the
            // old version's.
            auto units = [unit](const CAlbumManifest& manifest) {
                return static_cast<std::int64_t>((SerializeManifest(manifest).size() + unit - 1) / unit * unit);
            };
            change.m_nBytes += units(ManifestFor(node, sizes));
            change.m_nBytes -= node.IsAlbumToRefresh() && node.m_pManifest ? units(*node.m_pManifest) : 0;
            newSlots += node.IsAlbumToCopy() ? NameSlots(std::size(MANIFEST_NAME) - 1) : 0;
        }
    }
    for (const auto& child : node.m_children) {
        const CSpaceChange childChange = SpaceChange(*child, unit, sizes);
        change.m_nBytes += childChange.m_nBytes;
        change.m_bThereAfter = change.m_bThereAfter || childChange.m_bThereAfter;
        const bool childBefore = !child->m_names[SIDE_PLAYER].empty();
        childGone = childGone || (childBefore && !childChange.m_bThereAfter);
        if (!childBefore && childChange.m_bThereAfter) {
            // A new album is written as the staging folder, then renamed.
            const std::size_t length = child->m_names[SIDE_COMPUTER].size();
            newSlots += NameSlots(child->IsAlbum() ? std::max(length, std::size(STAGING_FOLDER) - 1) : length);
        }
    }
    if (!node.IsAlbum() && thereBefore) {
        // The delete pass removes a folder that the albums it deletes leave empty.
        change.m_bThereAfter =
            change.m_bThereAfter || node.m_pParent == nullptr || !node.m_files[SIDE_PLAYER].empty() || !childGone;
    }
    if (!thereBefore && change.m_bThereAfter) {
        change.m_nBytes += FolderBytes(DOT_SLOTS + newSlots, unit);
    } else if (thereBefore && !change.m_bThereAfter) {
        change.m_nBytes -= FolderBytes(SlotsAtLeast(node), unit);
    } else if (thereBefore && newSlots != 0) {
        const std::uint64_t slots = SlotsNow(node);
        change.m_nBytes += FolderBytes(slots + newSlots, unit) - FolderBytes(slots, unit);
    }
    return change;
}

} // namespace

std::uint64_t CFolderNode::FileBytes(int side, std::uint64_t unit, const IPlayerFiles* sizes) const
{
    return std::accumulate(m_files[side].begin(), m_files[side].end(), std::uint64_t{0},
                           [&](std::uint64_t sum, const CFileEntry& file) {
                               const std::uint64_t bytes = sizes ? sizes->ExpectedBytes(*this, file) : file.m_size;
                               return sum + (bytes + unit - 1) / unit * unit;
                           });
}

std::int64_t CFolderNode::ComputeSpaceDelta(std::uint64_t unit, const IPlayerFiles& sizes) const
{
    if (unit > 1) {
        return SpaceChange(*this, unit, sizes).m_nBytes;
    }
    // Where no allocation unit is known, the files alone.
    if (IsAlbum()) {
        return AlbumDelta(1, &sizes);
    }
    return std::accumulate(
        m_children.begin(), m_children.end(), std::int64_t{0},
        [&](std::int64_t sum, const auto& child) { return sum + child->ComputeSpaceDelta(unit, sizes); });
}

int TriState(std::int32_t count, std::int32_t albums)
{
    return count == 0 ? TRISTATE_NONE : count == albums ? TRISTATE_ALL : TRISTATE_SOME;
}

int CFolderNode::GetSelectionState() const
{
    return TriState(m_selected, m_albums);
}

int CFolderNode::GetPlayerState() const
{
    return TriState(m_onPlayer, m_albums);
}

void CFolderNode::ApplySelection(int mode)
{
    SetSubtreeSelection(mode);
    ComputeDeltas();
    for (CFolderNode* ancestor = m_pParent; ancestor != nullptr; ancestor = ancestor->m_pParent) {
        ancestor->m_selected = 0;
        for (const auto& child : ancestor->m_children) {
            ancestor->m_selected += child->m_selected;
        }
        ancestor->SumChildDeltas();
    }
}

// Inner nodes get the same rule as albums, which keeps them the sum of their
// children.
void CFolderNode::SetSubtreeSelection(int mode)
{
    m_selected = SelectedByMode(*this, mode);
    for (const auto& child : m_children) {
        child->SetSubtreeSelection(mode);
    }
}

void ApplyAlbumSelection(std::span<CFolderNode* const> albums, int mode)
{
    for (CFolderNode* album : albums) {
        const std::int32_t selectedBefore = album->m_selected;
        const std::int64_t deltaBefore = album->m_sizeDelta;
        album->m_selected = SelectedByMode(*album, mode);
        album->ComputeAlbumDelta();
        for (CFolderNode* ancestor = album->m_pParent; ancestor != nullptr; ancestor = ancestor->m_pParent) {
            ancestor->m_selected += album->m_selected - selectedBefore;
            ancestor->m_sizeDelta += album->m_sizeDelta - deltaBefore;
        }
    }
}

void CFolderNode::ComputeDeltas()
{
    if (IsAlbum()) {
        ComputeAlbumDelta();
        return;
    }
    for (const auto& child : m_children) {
        child->ComputeDeltas();
    }
    SumChildDeltas();
}

void CFolderNode::ComputeAlbumDelta()
{
    m_sizeDelta = AlbumDelta(1, Root().m_pPlayerFiles);
}

const CFolderNode& CFolderNode::Root() const
{
    const CFolderNode* node = this;
    while (node->m_pParent != nullptr) {
        node = node->m_pParent;
    }
    return *node;
}

// An album selected and not on the player adds its computer-side files; one on
// the player and not selected frees its player-side files; one refreshed
// does both.
std::int64_t CFolderNode::AlbumDelta(std::uint64_t unit, const IPlayerFiles* sizes) const
{
    const bool selected = GetSelectionState() != TRISTATE_NONE;
    const bool onPlayer = GetPlayerState() != TRISTATE_NONE;
    const bool refreshed = IsAlbumToRefresh();
    const std::uint64_t added = selected && (refreshed || !onPlayer) ? FileBytes(SIDE_COMPUTER, unit, sizes) : 0;
    const std::uint64_t freed = onPlayer && (refreshed || !selected) ? FileBytes(SIDE_PLAYER, unit) : 0;
    return static_cast<std::int64_t>(added) - static_cast<std::int64_t>(freed);
}

void CFolderNode::SumChildDeltas()
{
    m_sizeDelta = 0;
    for (const auto& child : m_children) {
        m_sizeDelta += child->m_sizeDelta;
    }
}

bool CFolderNode::HasPlayerOnlyDeletion() const
{
    if (IsAlbum()) {
        return m_selected == 0 && m_names[SIDE_COMPUTER].empty();
    }
    for (const auto& child : m_children) {
        if (child->HasPlayerOnlyDeletion()) {
            return true;
        }
    }
    return false;
}

int CFolderNode::CountAlbumsToDelete() const
{
    int count = IsAlbumToDelete() ? 1 : 0;
    for (const auto& child : m_children) {
        count += child->CountAlbumsToDelete();
    }
    return count;
}

int CFolderNode::CountAlbumsToCopy() const
{
    int count = IsAlbumToCopy() ? 1 : 0;
    for (const auto& child : m_children) {
        count += child->CountAlbumsToCopy();
    }
    return count;
}

int CFolderNode::CountAlbumsToRefresh() const
{
    int count = IsAlbumToRefresh() ? 1 : 0;
    for (const auto& child : m_children) {
        count += child->CountAlbumsToRefresh();
    }
    return count;
}

void SetKeepPlayers(CFolderNode& album, bool bKeep)
{
    const std::int64_t deltaBefore = album.m_sizeDelta;
    album.m_bKeepPlayers = bKeep;
    album.ComputeAlbumDelta();
    for (CFolderNode* ancestor = album.m_pParent; ancestor != nullptr; ancestor = ancestor->m_pParent) {
        ancestor->m_sizeDelta += album.m_sizeDelta - deltaBefore;
    }
}

namespace {

void SetSubtreeKeepPlayers(CFolderNode& node, bool bKeep)
{
    node.m_bKeepPlayers = bKeep && node.m_bChanged;
    for (const auto& child : node.m_children) {
        SetSubtreeKeepPlayers(*child, bKeep);
    }
}

} // namespace

void SetKeepAllPlayers(CFolderNode& node, bool bKeep)
{
    SetSubtreeKeepPlayers(node, bKeep);
    node.ComputeDeltas();
    for (CFolderNode* ancestor = node.m_pParent; ancestor != nullptr; ancestor = ancestor->m_pParent) {
        ancestor->SumChildDeltas();
    }
}
