#include "model/Selection.h"

#include <numeric>

namespace {

std::int32_t SelectedByMode(const CFolderNode& node, int mode)
{
    return mode == SELECT_ALL ? node.m_albums : mode == SELECT_INITIAL ? node.m_onPlayer : 0;
}

} // namespace

std::uint64_t CFolderNode::FileBytes(int side, std::uint64_t unit) const
{
    return std::accumulate(
        m_files[side].begin(), m_files[side].end(), std::uint64_t{0},
        [&](std::uint64_t sum, const CFileEntry& file) { return sum + (file.m_size + unit - 1) / unit * unit; });
}

std::int64_t CFolderNode::ComputeSpaceDelta(std::uint64_t unit) const
{
    if (unit <= 1) {
        return m_sizeDelta;
    }
    if (IsAlbum()) {
        return AlbumDelta(unit);
    }
    std::int64_t delta = 0;
    for (const auto& child : m_children) {
        delta += child->ComputeSpaceDelta(unit);
    }
    return delta;
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
    m_sizeDelta = AlbumDelta(1);
}

// An album selected and not on the player adds its computer-side files; one on
// the player and not selected frees its player-side files.
std::int64_t CFolderNode::AlbumDelta(std::uint64_t unit) const
{
    const bool selected = GetSelectionState() != TRISTATE_NONE;
    const bool onPlayer = GetPlayerState() != TRISTATE_NONE;
    if (selected == onPlayer) {
        return 0;
    }
    return selected ? static_cast<std::int64_t>(FileBytes(SIDE_COMPUTER, unit))
                    : -static_cast<std::int64_t>(FileBytes(SIDE_PLAYER, unit));
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
