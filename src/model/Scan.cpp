#include "model/FolderNode.h"

#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/SystemError.h"
#include "text/Text.h"

#include <algorithm>

// The folders on the path from the root to the node being read, per side, so
// that a link back to one of them ends the scan instead of recursing for ever.
class CFolderNode::CScanPath
{
public:
    bool Contains(int side, const CFolderId& id) const
    {
        return std::find(m_ids[side].begin(), m_ids[side].end(), id) != m_ids[side].end();
    }
    void Push(int side, const CFolderId& id) { m_ids[side].push_back(id); }
    void Pop(int side) { m_ids[side].pop_back(); }

private:
    std::array<std::vector<CFolderId>, SIDE_COUNT> m_ids;
};

bool CFolderNode::Scan()
{
    if (!ScanFolders()) {
        return false;
    }
    ComputePresence();
    ComputeInitialSelection();
    ComputeAlbumCounts();
    return true;
}

bool CFolderNode::ScanFolders()
{
    CScanPath ancestors;
    return ScanFolders(ancestors);
}

bool CFolderNode::ScanFolders(CScanPath& ancestors)
{
    std::array<bool, SIDE_COUNT> read{};
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        if (m_names[side].empty()) {
            continue;
        }
        if (!ReadSide(side, ancestors)) {
            return false;
        }
        read[side] = true;
    }
    for (const auto& child : m_children) {
        if (!child->ScanFolders(ancestors)) {
            return false;
        }
    }
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        if (read[side]) {
            ancestors.Pop(side);
        }
    }
    return true;
}

// Lists this node's folder on one side: sub-folders become children, the
// other entries the side's files. On success the folder joins the ancestors.
bool CFolderNode::ReadSide(int side, CScanPath& ancestors)
{
    const std::u16string path = GetPath(side, false);
    CFolderListing listing;
    if (const int error = ListFolder(LONG_PATH_PREFIX + path, listing)) {
        ReportScanError(path, error);
        return false;
    }
    if (ancestors.Contains(side, listing.m_id)) {
        ReportScanError(path, ERROR_FOLDER_LOOP);
        return false;
    }
    std::vector<CFileEntry>& files = m_files[side];
    files.reserve(std::count_if(listing.m_entries.begin(), listing.m_entries.end(),
                                [](const CDirEntry& entry) { return !entry.m_bFolder; }));
    for (CDirEntry& entry : listing.m_entries) {
        if (entry.m_bFolder) {
            AddChild(side, entry.m_name);
        } else {
            files.push_back({std::move(entry.m_name), entry.m_size});
        }
    }
    if (listing.m_readError != 0) {
        ReportScanError(path, listing.m_readError);
        return false;
    }
    ancestors.Push(side, listing.m_id);
    return true;
}

void CFolderNode::AddChild(int side, const std::u16string& name)
{
    for (const auto& child : m_children) {
        if (CompareNames(child->GetKeyName(), name) == 0) {
            child->SetName(side, name);
            return;
        }
    }
    auto node = std::make_unique<CFolderNode>(this);
    node->SetName(side, name);
    const auto before = std::find_if(m_children.begin(), m_children.end(),
                                     [&](const auto& child) { return CompareNames(child->GetKeyName(), name) > 0; });
    m_children.insert(before, std::move(node));
}

void CFolderNode::ReportScanError(const std::u16string& path, int error)
{
    ShowMessageBox("Error : " + SystemErrorText(error) + "\nWhile reading : " + ToLogText(path),
                   MB_OK | MB_ICONEXCLAMATION);
}

void CFolderNode::ComputePresence()
{
    if (IsAlbum()) {
        const bool playerOnly = m_names[SIDE_COMPUTER].empty() && !m_names[SIDE_PLAYER].empty();
        m_presence = playerOnly ? PRESENCE_PLAYER_ONLY : PRESENCE_COMPUTER;
        return;
    }
    bool onComputer = false;
    bool onPlayer = false;
    for (const auto& child : m_children) {
        child->ComputePresence();
        onComputer |= child->m_presence != PRESENCE_PLAYER_ONLY;
        onPlayer |= child->m_presence != PRESENCE_COMPUTER;
    }
    m_presence = onComputer && onPlayer ? PRESENCE_MIXED : onPlayer ? PRESENCE_PLAYER_ONLY : PRESENCE_COMPUTER;
}

void CFolderNode::ComputeInitialSelection()
{
    m_selected = IsAlbum() && !m_names[SIDE_PLAYER].empty() ? 1 : 0;
    for (const auto& child : m_children) {
        child->ComputeInitialSelection();
        m_selected += child->m_selected;
    }
    m_onPlayer = m_selected;
}

void CFolderNode::ComputeAlbumCounts()
{
    m_albums = IsAlbum() ? 1 : 0;
    for (const auto& child : m_children) {
        child->ComputeAlbumCounts();
        m_albums += child->m_albums;
    }
}
