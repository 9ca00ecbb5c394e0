#include "model/FolderNode.h"

#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "text/Text.h"
#include "text/Utf.h"

#include <algorithm>
#include <span>
#include <unordered_map>
#include <utility>

// What a scan keeps while it walks: the folders on the path from the root to
// the node being read, per side, so that a link back to one of them ends the
// scan instead of recursing for ever, the record it hands back, and how far
// it has come.
class CFolderNode::CScanState
{
public:
    explicit CScanState(IScanProgress* pProgress = nullptr) : m_pProgress(pProgress) {}

    bool Contains(int side, const CFolderId& id) const
    {
        return std::find(m_ids[side].begin(), m_ids[side].end(), id) != m_ids[side].end();
    }
    void Push(int side, const CFolderId& id) { m_ids[side].push_back(id); }
    // A folder below the roots that is the other side's root: one lies inside
    // the other through a mount that the folders above the roots do not show.
    bool IsOtherRoot(int side, const CFolderId& id) const
    {
        return !m_ids[1 - side].empty() && m_record.m_roots[1 - side].m_id == id;
    }
    void Pop(int side) { m_ids[side].pop_back(); }
    void CountFolder(std::size_t files)
    {
        ++m_folders;
        m_files += files;
        if (m_pProgress != nullptr) {
            m_pProgress->OnScanProgress(m_folders, m_files);
        }
    }
    CScanRecord& Record() { return m_record; }
    // Ends the walk: the first failure is the one shown.
    bool Fail(CMessage failure)
    {
        m_failure = std::move(failure);
        return false;
    }
    CMessage& Failure() { return m_failure; }

private:
    std::array<std::vector<CFolderId>, SIDE_COUNT> m_ids;
    CScanRecord m_record;
    IScanProgress* m_pProgress = nullptr;
    std::uint64_t m_folders = 0;
    std::uint64_t m_files = 0;
    CMessage m_failure;
};

bool CFolderNode::Scan()
{
    CScanRecord record;
    CMessage failure;
    return Scan(record, failure);
}

bool CFolderNode::Scan(CScanRecord& record, CMessage& failure, IScanProgress* pProgress)
{
    CScanState state(pProgress);
    if (!ScanFolders(state)) {
        failure = std::move(state.Failure());
        return false;
    }
    record = std::move(state.Record());
    FinishScan();
    return true;
}

void CFolderNode::FinishScan()
{
    ComputePresence();
    ComputeInitialSelection();
    ComputeAlbumCounts();
}

bool CFolderNode::ScanFolders(CScanState& state)
{
    std::array<bool, SIDE_COUNT> read{};
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        if (m_names[side].empty()) {
            continue;
        }
        if (!ReadSide(side, state)) {
            return false;
        }
        read[side] = true;
    }
    for (const auto& child : m_children) {
        if (!child->ScanFolders(state)) {
            return false;
        }
    }
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        if (read[side]) {
            state.Pop(side);
        }
    }
    return true;
}

// Lists this node's folder on one side: sub-folders become children, the
// other entries the side's files. On success the folder joins the path of the walk.
bool CFolderNode::ReadSide(int side, CScanState& state)
{
    const std::u16string path = GetPath(side, false);
    CFolderListing listing;
    // The job meets a link to a file on the player as a file of its own.
    const ELinks links = side == SIDE_PLAYER ? ELinks::FollowToFolders : ELinks::FollowAll;
    if (const int error = ListFolder(LONG_PATH_PREFIX + path, listing, links)) {
        return state.Fail(ReportScanError(path, error));
    }
    if (state.Contains(side, listing.m_id)) {
        return state.Fail(ReportScanError(path, ERROR_FOLDER_LOOP));
    }
    if (m_pParent == nullptr) {
        state.Record().m_roots[side] = StampOf(listing);
    } else if (state.IsOtherRoot(side, listing.m_id)) {
        return state.Fail(RootOverlapMessage(side == SIDE_COMPUTER ? ERootOverlap::PlayerInsideComputer
                                                                   : ERootOverlap::ComputerInsidePlayer));
    }
    std::vector<CFileEntry>& files = m_files[side];
    std::vector<std::u16string> folders;
    files.reserve(std::count_if(listing.m_entries.begin(), listing.m_entries.end(),
                                [](const CDirEntry& entry) { return !entry.m_bFolder; }));
    for (CDirEntry& entry : listing.m_entries) {
        if (entry.m_bFolder && entry.m_name == STAGING_FOLDER) {
            if (side == SIDE_PLAYER) {
                state.Record().m_leftovers.push_back(this);
            }
        } else if (entry.m_bFolder) {
            if (!IsLeftOutFolder(entry.m_name)) {
                folders.push_back(std::move(entry.m_name));
            }
        } else {
            files.push_back({std::move(entry.m_name), entry.m_size});
        }
    }
    AddChildren(side, folders);
    state.CountFolder(files.size());
    if (listing.m_readError != 0) {
        return state.Fail(ReportScanError(path, listing.m_readError));
    }
    state.Push(side, listing.m_id);
    return true;
}

// One merge walk over the children and the names, both in folded name order.
// Names that are equal with case folded form a group with the children of
// that key: within it a name joins the child whose key is the same text, else
// the first child without a name on this side, else a new child. Two names of
// one side are therefore never one node.
void CFolderNode::AddChildren(int side, std::vector<std::u16string>& names)
{
    std::vector<std::unique_ptr<CFolderNode>> merged;
    merged.reserve(m_children.size() + names.size());
    auto child = m_children.begin();
    auto name = names.begin();
    while (child != m_children.end() || name != names.end()) {
        const bool childFirst =
            name == names.end() || (child != m_children.end() && CompareNames((*child)->GetKeyName(), *name) <= 0);
        const std::u16string& key = childFirst ? (*child)->GetKeyName() : *name;
        const std::size_t groupStart = merged.size();
        const auto groupNames = name;
        while (name != names.end() && CompareNames(*name, key) == 0) {
            ++name;
        }
        for (; child != m_children.end() && CompareNames((*child)->GetKeyName(), key) == 0; ++child) {
            merged.push_back(std::move(*child));
        }
        MergeGroup(side, std::span(groupNames, name), merged, groupStart);
    }
    m_children = std::move(merged);
    PairByPlayerNames();
}

// "What's Going On?" on the computer is "What's Going On_" on the player: a
// folder only the player has joins the first folder only the computer has
// whose player name is the same with case folded. It keeps the computer's
// name as its key, so the order stays.
void CFolderNode::PairByPlayerNames()
{
    const auto onlyOn = [](const CFolderNode& node, int side) {
        return !node.m_names[side].empty() && node.m_names[1 - side].empty();
    };
    const auto foldedPlayerName = [](const std::u16string& name) {
        std::u16string folded = PlayerName(name);
        std::transform(folded.begin(), folded.end(), folded.begin(), FoldAsciiCase);
        return folded;
    };
    const bool anyMapped = std::any_of(m_children.begin(), m_children.end(), [&](const auto& child) {
        const std::u16string& key = child->GetKeyName();
        return (onlyOn(*child, SIDE_COMPUTER) || onlyOn(*child, SIDE_PLAYER)) && PlayerName(key) != key;
    });
    if (!anyMapped) {
        return;
    }
    std::unordered_map<std::u16string, std::vector<CFolderNode*>> computerOnly;
    for (const auto& child : m_children) {
        if (onlyOn(*child, SIDE_COMPUTER)) {
            computerOnly[foldedPlayerName(child->m_names[SIDE_COMPUTER])].push_back(child.get());
        }
    }
    for (const auto& child : m_children) {
        if (!onlyOn(*child, SIDE_PLAYER)) {
            continue;
        }
        const auto candidates = computerOnly.find(foldedPlayerName(child->m_names[SIDE_PLAYER]));
        if (candidates == computerOnly.end()) {
            continue;
        }
        for (CFolderNode* candidate : candidates->second) {
            if (candidate->m_names[SIDE_PLAYER].empty()) {
                candidate->SetName(SIDE_PLAYER, std::exchange(child->m_names[SIDE_PLAYER], {}));
                break;
            }
        }
    }
    std::erase_if(m_children, [](const auto& child) { return child->GetKeyName().empty(); });
}

void CFolderNode::MergeGroup(int side, std::span<std::u16string> names,
                             std::vector<std::unique_ptr<CFolderNode>>& merged, std::size_t groupStart)
{
    const auto group = [&] { return std::span(merged).subspan(groupStart); };
    // A name taken by a child is left empty; no real name is.
    const auto take = [&](std::u16string& name, const auto& fits) {
        for (const auto& child : group()) {
            if (child->m_names[side].empty() && fits(*child)) {
                child->SetName(side, std::exchange(name, {}));
                return;
            }
        }
    };
    for (std::u16string& name : names) {
        take(name, [&](const CFolderNode& child) { return child.GetKeyName() == name; });
    }
    for (std::u16string& name : names) {
        if (!name.empty()) {
            take(name, [](const CFolderNode&) { return true; });
        }
        if (!name.empty()) {
            merged.push_back(std::make_unique<CFolderNode>(this));
            merged.back()->SetName(side, std::exchange(name, {}));
        }
    }
    std::sort(merged.begin() + static_cast<std::ptrdiff_t>(groupStart), merged.end(),
              [](const auto& a, const auto& b) { return NameOrderLess(a->GetKeyName(), b->GetKeyName()); });
}

void CFolderNode::AddChild(int side, const std::u16string& name)
{
    std::vector<std::u16string> names = {name};
    AddChildren(side, names);
}

CMessage CFolderNode::ReportScanError(const std::u16string& path, int error)
{
    return {"Error : " + SystemErrorText(error) + "\nWhile reading : " + ToLogText(path), MB_OK | MB_ICONEXCLAMATION};
}

CMessage RootOverlapMessage(ERootOverlap overlap)
{
    static const char* const kTexts[] = {"Computer and Jukebit music folders are the same folder",
                                         "Jukebit music folder is inside Computer music folder",
                                         "Computer music folder is inside Jukebit music folder"};
    return {kTexts[static_cast<int>(overlap)], MB_OK | MB_ICONEXCLAMATION};
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
