#include "model/FolderNode.h"

#include "model/ListingReader.h"
#include "platform/FencedTree.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "text/Text.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <utility>

namespace {

// Threads that read listings ahead of the walk, as many as a device takes
// requests at once to good effect, and how many children of a folder the walk
// has asked for, at least, before it enters them.
constexpr unsigned SCAN_THREADS = 16;
constexpr std::size_t READ_AHEAD_CHILDREN = 32;

// The job meets a link to a file on the player as a file of its own.
ELinks LinksOf(int side)
{
    return side == SIDE_PLAYER ? ELinks::FollowToFolders : ELinks::FollowAll;
}

} // namespace

// What a scan keeps while it walks: the folders on the path from the root to
// the node being read, per side, so that a link back to one of them ends the
// scan instead of recursing for ever, the record it hands back, how far it
// has come, and the reader of the listings it will want next.
class CFolderNode::CScanState
{
public:
    explicit CScanState(IScanProgress* pProgress = nullptr) : m_pProgress(pProgress), m_reader(SCAN_THREADS) {}

    // The listings of the two roots, as the command line names them.
    CSideRequests RequestRoots(const CFolderNode& root)
    {
        CSideRequests requests;
        for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
            if (!root.m_names[side].empty()) {
                requests[side] = std::make_shared<CListingRequest>(ToNativePath(LONG_PATH_PREFIX + root.m_names[side]),
                                                                   LinksOf(side), side == SIDE_PLAYER);
            }
        }
        std::vector<std::shared_ptr<CListingRequest>> roots;
        std::copy_if(requests.begin(), requests.end(), std::back_inserter(roots), [](const auto& r) { return r; });
        m_reader.Queue(roots);
        return requests;
    }
    // The listings of a node's children, on each side where they have a name,
    // each asked for a few children before the walk enters it.
    class CChildRequests
    {
    public:
        CChildRequests(CScanState& state, const CFolderNode& node, const CSideRequests& parent)
            : m_state(state), m_node(node), m_parent(parent), m_requests(node.m_children.size())
        {
        }
        // The walk enters child next; the children after it are asked for in
        // batches, one batch ahead of the walk.
        CSideRequests Take(std::size_t child)
        {
            const std::size_t end = std::min(child + 2 * READ_AHEAD_CHILDREN, m_requests.size());
            if (m_nAsked < child + READ_AHEAD_CHILDREN && m_nAsked < end) {
                std::vector<std::shared_ptr<CListingRequest>> fresh;
                for (; m_nAsked < end; ++m_nAsked) {
                    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
                        if (const std::u16string& name = m_node.m_children[m_nAsked]->m_names[side]; !name.empty()) {
                            m_requests[m_nAsked][side] = CListingReader::Below(*m_parent[side], name, fresh);
                        }
                    }
                }
                m_state.m_reader.Queue(fresh);
            }
            return std::move(m_requests[child]);
        }

    private:
        CScanState& m_state;
        const CFolderNode& m_node;
        const CSideRequests& m_parent;
        std::vector<CSideRequests> m_requests;
        std::size_t m_nAsked = 0;
    };
    void Wait(CListingRequest& request) { m_reader.Wait(request); }

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
    // A computer file that is a link to a file on the player's device: the
    // player's file holds the computer's music.
    void NoteComputersFile(const CFolderId& id)
    {
        if (!m_ids[SIDE_PLAYER].empty() && id.m_device == m_record.m_roots[SIDE_PLAYER].m_id.m_device) {
            m_record.m_computersFilesOnPlayer.insert({id.m_device, id.m_inode});
        }
    }
    // Notes the folders below the roots that lie on the player's device: a
    // computer folder that is one of the player's folders is no part of the
    // computer's library.
    void NoteFolder(int side, const CFolderNode& node, const CFolderId& id)
    {
        if (node.m_pParent == nullptr || m_ids[SIDE_PLAYER].empty() ||
            id.m_device != m_record.m_roots[SIDE_PLAYER].m_id.m_device) {
            return;
        }
        if (side == SIDE_PLAYER) {
            m_playerFolders.emplace_back(id, &node);
        } else {
            m_computerFolders.emplace(&node, id);
        }
    }
    // Whether any computer folder lies on the player's device; if so, the
    // player's folders are indexed by their ids.
    bool IndexPlayerFolders()
    {
        if (m_computerFolders.empty()) {
            return false;
        }
        m_playerIndex.insert(m_playerFolders.begin(), m_playerFolders.end());
        return true;
    }
    // The folder that node's computer side is, when it lies inside the player's
    // tree: one the player's side showed too, reached from the player's root
    // as a job reaches it (a link or a mount on the player may lead anywhere).
    const CFolderId* PlayersFolder(const CFolderNode& node) const
    {
        const auto computer = m_computerFolders.find(&node);
        if (computer == m_computerFolders.end()) {
            return nullptr;
        }
        const auto player = m_playerIndex.find(computer->second);
        return player != m_playerIndex.end() && IsFenced(*player->second, player->first) ? &computer->second : nullptr;
    }
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
    bool Fail(int side, CMessage failure)
    {
        m_record.m_nUnreadSide = side;
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
    struct CIdHash
    {
        std::size_t operator()(const CFolderId& id) const
        {
            return std::hash<std::uint64_t>()(id.m_inode ^ (id.m_device << 32));
        }
    };
    // Whether the player's folder of node is still the folder id, reached
    // from the player's root one folder at a time, through no link and into no
    // other mount.
    static bool IsFenced(const CFolderNode& node, const CFolderId& id)
    {
        std::vector<const CFolderNode*> path;
        const CFolderNode* root = &node;
        for (; root->m_pParent != nullptr; root = root->m_pParent) {
            path.push_back(root);
        }
        auto folder = std::make_unique<CFolderHandle>();
        if (folder->OpenRoot(LONG_PATH_PREFIX + root->m_names[SIDE_PLAYER]) != 0) {
            return false;
        }
        for (auto below = path.rbegin(); below != path.rend(); ++below) {
            auto next = std::make_unique<CFolderHandle>();
            if (folder->OpenFolder((*below)->m_names[SIDE_PLAYER], *next) != 0) {
                return false;
            }
            folder = std::move(next);
        }
        CFolderId found;
        return folder->GetId(found) == 0 && found == id;
    }

    // Most players lie on a device of their own: their folders are only
    // indexed when a computer folder lies there too.
    std::vector<std::pair<CFolderId, const CFolderNode*>> m_playerFolders;
    std::unordered_map<CFolderId, const CFolderNode*, CIdHash> m_playerIndex;
    std::unordered_map<const CFolderNode*, CFolderId> m_computerFolders;
    CListingReader m_reader;
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
    if (!ScanFolders(state, state.RequestRoots(*this))) {
        failure = std::move(state.Failure());
        record.m_nUnreadSide = state.Record().m_nUnreadSide;
        return false;
    }
    if (state.IndexPlayerFolders()) {
        LeaveOutPlayersFolders(state);
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

// Depth first: a node's folder on the computer, then on the player, then its
// children in order; the first folder that cannot be read ends the walk.
bool CFolderNode::ScanFolders(CScanState& state, const CSideRequests& requests)
{
    std::array<bool, SIDE_COUNT> read{};
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        if (!requests[side]) {
            continue;
        }
        if (!ReadSide(side, *requests[side], state)) {
            return false;
        }
        read[side] = true;
    }
    // The player's manifest is the record of an album; a folder that holds
    // folders on either side is none. Both sides are read: the record is
    // compared with the computer's files now, and only its writer is kept.
    if (read[SIDE_PLAYER] && IsAlbum()) {
        CListingRequest& player = *requests[SIDE_PLAYER];
        std::optional<CAlbumManifest> manifest;
        if (player.m_manifestText && !(manifest = ParseManifest(*player.m_manifestText))) {
            player.m_bManifestUnread = true;
        }
        if (player.m_bManifestUnread) {
            state.Record().m_unreadManifests.push_back(ToLogText(JoinPath(GetPath(SIDE_PLAYER, true), MANIFEST_NAME)));
        }
        if (manifest) {
            m_bRecordsFiles = RecordsFiles(*manifest, m_files[SIDE_COMPUTER]);
            m_pManifest = std::make_unique<CAlbumManifest>(CAlbumManifest{std::move(manifest->m_writer), {}});
        }
    }
    CScanState::CChildRequests children(state, *this, requests);
    for (std::size_t i = 0; i < m_children.size(); ++i) {
        if (!m_children[i]->ScanFolders(state, children.Take(i))) {
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
bool CFolderNode::ReadSide(int side, CListingRequest& request, CScanState& state)
{
    const std::u16string path = GetPath(side, false);
    state.Wait(request);
    if (request.m_error != 0) {
        return state.Fail(side, ReportScanError(path, request.m_error));
    }
    CFolderListing listing = std::move(request.m_listing);
    if (state.Contains(side, listing.m_id)) {
        return state.Fail(side, ReportScanError(path, ERROR_FOLDER_LOOP));
    }
    CVolumeId volume;
    if (m_pParent == nullptr && side == SIDE_PLAYER && request.OpenFolder() != nullptr) {
        if (const int error = GetVolumeId(*request.OpenFolder(), volume)) {
            return state.Fail(side, ReportScanError(path, error));
        }
    }
    if (m_pParent == nullptr) {
        state.Record().m_roots[side] = StampOf(listing, volume);
    } else if (state.IsOtherRoot(side, listing.m_id)) {
        return state.Fail(side, RootOverlapMessage(side == SIDE_COMPUTER ? ERootOverlap::PlayerInsideComputer
                                                                         : ERootOverlap::ComputerInsidePlayer));
    }
    std::vector<CFileEntry>& files = m_files[side];
    std::vector<std::u16string> folders;
    files.reserve(std::count_if(listing.m_entries.begin(), listing.m_entries.end(),
                                [](const CDirEntry& entry) { return !entry.m_bFolder; }));
    for (CDirEntry& entry : listing.m_entries) {
        if (entry.m_bFolder && IsStagingFolder(entry.m_name)) {
            if (side == SIDE_PLAYER) {
                state.Record().m_leftovers.push_back({this, std::move(entry.m_name)});
            }
        } else if (entry.m_bFolder && IsLeftOutFolder(entry.m_name)) {
            state.Record().m_leftOut.push_back(
                {ToLogText(JoinPath(GetPath(side, true), entry.m_name)), CLeftOutFolder::OTHER_SYSTEMS});
        } else if (entry.m_bFolder) {
            folders.push_back(std::move(entry.m_name));
        } else if (entry.m_name == MANIFEST_NAME) {
            // The album's record, read with the listing on the player's side;
            // a computer's copy of one would publish a stale record.
        } else {
            if (side == SIDE_COMPUTER) {
                state.NoteComputersFile(entry.m_linkTarget);
            }
            files.push_back({std::move(entry.m_name), entry.m_size, entry.m_modified});
        }
    }
    AddChildren(side, folders);
    state.CountFolder(files.size());
    if (listing.m_readError != 0) {
        return state.Fail(side, ReportScanError(path, listing.m_readError));
    }
    state.NoteFolder(side, *this, listing.m_id);
    state.Push(side, listing.m_id);
    return true;
}

// A computer folder that is a folder of the player, through a link or a bind
// mount, would show the player's albums as the computer's: deleting one on the
// player would lose it everywhere.
void CFolderNode::LeaveOutPlayersFolders(CScanState& state)
{
    bool dropped = false;
    for (const auto& child : m_children) {
        if (child->m_names[SIDE_COMPUTER].empty()) {
            continue;
        }
        if (const CFolderId* folder = state.PlayersFolder(*child)) {
            state.Record().m_leftOut.push_back(
                {ToLogText(child->GetPath(SIDE_COMPUTER, true)), CLeftOutFolder::ON_PLAYER});
            state.Record().m_computersOnPlayer.push_back(*folder);
            child->DropComputerSide();
            dropped = true;
        } else {
            child->LeaveOutPlayersFolders(state);
        }
    }
    if (dropped) {
        std::erase_if(m_children, [](const auto& child) {
            return child->m_names[SIDE_COMPUTER].empty() && child->m_names[SIDE_PLAYER].empty();
        });
        // A folder known by its computer name is now known by its player name.
        std::stable_sort(m_children.begin(), m_children.end(),
                         [](const auto& a, const auto& b) { return NameOrderLess(a->GetKeyName(), b->GetKeyName()); });
    }
}

void CFolderNode::DropComputerSide()
{
    m_names[SIDE_COMPUTER].clear();
    m_files[SIDE_COMPUTER].clear();
    for (const auto& child : m_children) {
        child->DropComputerSide();
    }
    std::erase_if(m_children, [](const auto& child) { return child->m_names[SIDE_PLAYER].empty(); });
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
