#include "transfer/DeletePass.h"

#include "platform/FencedTree.h"
#include "transfer/CopyLog.h"
#include "transfer/Remover.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <utility>

using ECall = CJobContext::ECall;

// Every album to delete is first given a hidden name, and the names reach the
// device with one flush; then the albums go one after the other. A job cut off
// half way therefore leaves no part of an album under its own name: the next
// scan does not show it, and the next job deletes what is left. A cancel takes
// effect before the next album, and the albums not deleted by then get their
// names back.
void CDeletePass::Run(CFolderNode& root)
{
    CCopyLog& log = m_context.m_log;
    const CDeletePolicy policy;
    std::vector<CDeletion> deletions;
    HideAlbumsToDelete(root, deletions);
    FlushParents(deletions);
    // The folders an album leaves empty are pruned once the albums of the
    // same folder are done: a folder of thousands of albums is not asked
    // after each of them.
    CFolderNode* pendingPrune = nullptr;
    const auto prune = [&] {
        if (pendingPrune != nullptr) {
            m_remover.PruneFrom(std::exchange(pendingPrune, nullptr), policy);
        }
    };
    for (std::size_t next = 0; next < deletions.size(); ++next) {
        if (CheckCancel(log)) {
            RestoreNames(std::span(deletions).subspan(next));
            break;
        }
        const CDeletion& deletion = deletions[next];
        CFolderNode& album = *deletion.m_pAlbum;
        if (pendingPrune != album.m_pParent) {
            prune();
        }
        const std::size_t firstEntry = log.m_entries.size();
        log.Add(LOG_INFO, "Deleting \"%s\"", PlayerDisplayPath(album.GetPlayerRelativePath()));
        if (deletion.m_bComputers) {
            m_context.PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s",
                                    PlayerDisplayPath(album.GetPlayerRelativePath()), ELOOP);
        } else if (deletion.m_hiddenName.empty() ? m_remover.DeleteFolder(album, policy)
                                                 : DeleteHiddenAlbum(deletion)) {
            pendingPrune = album.m_pParent;
        }
        log.m_plan.SetOutcome(album, log.HasErrorSince(firstEntry) ? EAlbumOutcome::Failed : EAlbumOutcome::Done);
        log.CountDown(log.m_nAlbumsToDelete);
    }
    prune();
}

// The albums to delete below node, in the tree's order, each hidden where it
// can be; false once the job is canceled.
bool CDeletePass::HideAlbumsToDelete(CFolderNode& node, std::vector<CDeletion>& deletions)
{
    if (CheckCancel(m_context.m_log)) {
        return false;
    }
    if (!node.IsAlbum()) {
        for (const auto& child : node.m_children) {
            if (!HideAlbumsToDelete(*child, deletions)) {
                return false;
            }
        }
    } else if (node.IsAlbumToDelete()) {
        CDeletion& deletion = deletions.emplace_back();
        deletion.m_pAlbum = &node;
        deletion.m_bComputers = IsComputersFolder(node);
        if (!deletion.m_bComputers) {
            HideAlbum(deletion);
        }
    }
    return true;
}

// The scan follows links on the computer: one to the player's folder of the
// same album shows the album on both sides, where there is one folder, the
// player's. Deleting it would delete the computer's album. A computer folder
// that the scan found inside the player's tree it left out, and kept where it
// leads: the computer's albums are there, whatever the tree shows.
bool CDeletePass::IsComputersFolder(const CFolderNode& album) const
{
    CFolderId computer;
    CFolderId player;
    CFolderHandle folder;
    if (!album.m_names[SIDE_COMPUTER].empty() &&
        GetFolderId(LONG_PATH_PREFIX + album.GetPath(SIDE_COMPUTER, false), computer) == 0 &&
        m_context.m_player.OpenFolder(album.GetPlayerRelativePath(), folder) == 0 &&
        m_context.m_player.GetId(folder, player) == 0 && (computer == player || HoldsComputersFiles(album, folder))) {
        return true;
    }
    if (HoldsFilesTheComputerLinksTo(album)) {
        return true;
    }
    const std::vector<CFolderId>& computers = m_record.m_computersOnPlayer;
    for (const CFolderNode* node = &album; !computers.empty() && node->m_pParent != nullptr; node = node->m_pParent) {
        CFolderHandle ancestor;
        if (m_context.m_player.OpenFolder(node->GetPlayerRelativePath(), ancestor) == 0 &&
            m_context.m_player.GetId(ancestor, player) == 0 &&
            std::find(computers.begin(), computers.end(), player) != computers.end()) {
            return true;
        }
    }
    return false;
}

// A computer file that is a link to a file of the album on the player has no
// bytes of its own: deleting the player's file would lose it on the computer.
bool CDeletePass::HoldsComputersFiles(const CFolderNode& album, const CFolderHandle& folder) const
{
    std::vector<CFolderId> players;
    for (const CFileEntry& file : album.m_files[SIDE_PLAYER]) {
        if (CFolderId id; m_context.m_player.GetEntryId(folder, file.m_name, id) == 0) {
            players.push_back(id);
        }
    }
    const std::u16string computer = LONG_PATH_PREFIX + album.GetPath(SIDE_COMPUTER, false) + PATH_SEPARATOR;
    return std::any_of(
        album.m_files[SIDE_COMPUTER].begin(), album.m_files[SIDE_COMPUTER].end(), [&](const CFileEntry& file) {
            CFileStamp stamp;
            return GetFileStamp(computer + file.m_name, stamp) == 0 &&
                   std::find(players.begin(), players.end(), CFolderId{stamp.m_device, stamp.m_inode}) != players.end();
        });
}

// A computer file of another album may be a link to a file of this one, as
// the scan noted: deleting the player's file would lose the computer's.
bool CDeletePass::HoldsFilesTheComputerLinksTo(const CFolderNode& album) const
{
    const auto& linked = m_record.m_computersFilesOnPlayer;
    CFolderHandle folder;
    if (linked.empty() || m_context.m_player.OpenFolder(album.GetPlayerRelativePath(), folder) != 0) {
        return false;
    }
    return std::any_of(album.m_files[SIDE_PLAYER].begin(), album.m_files[SIDE_PLAYER].end(),
                       [&](const CFileEntry& file) {
                           CFolderId id;
                           return m_context.m_player.GetEntryId(folder, file.m_name, id) == 0 &&
                                  linked.contains({id.m_device, id.m_inode});
                       });
}

// Only a folder that holds just the files the scan saw there, and no
// sub-folder, is hidden; whatever else the deletion finds, it reports when it
// comes to the album. The first rename on a player is checked: a driver that
// loses a folder's entries when it renames it (fusefat does) loses the files'
// space with them, and then nothing more is renamed.
void CDeletePass::HideAlbum(CDeletion& deletion)
{
    const IPlayerTree& player = m_context.m_player;
    const CFolderNode& album = *deletion.m_pAlbum;
    CFolderHandle parent;
    CFolderHandle folder;
    CFolderListing& listing = deletion.m_listing;
    if (m_context.m_bRenamesLoseEntries || player.OpenFolder(album.m_pParent->GetPlayerRelativePath(), parent) != 0 ||
        player.OpenFolder(parent, album.m_names[SIDE_PLAYER], folder) != 0 || player.List(folder, listing) != 0 ||
        listing.m_readError != 0 || HasSubFolder(listing) || !HoldsScannedFiles(listing, album.m_files[SIDE_PLAYER])) {
        return;
    }
    const std::string number = std::to_string(++m_nHidden);
    const std::u16string hidden = STAGING_FOLDER + (u"-" + std::u16string(number.begin(), number.end()));
    if (player.RenameFolder(parent, album.m_names[SIDE_PLAYER], hidden) != 0) {
        return;
    }
    deletion.m_hiddenName = hidden;
    if (!m_context.m_bRenamesChecked) {
        CFolderListing renamed;
        m_context.m_bRenamesChecked = true;
        m_context.m_bRenamesLoseEntries =
            player.List(folder, renamed) != 0 || !HoldsScannedFiles(renamed, album.m_files[SIDE_PLAYER]);
        if (m_context.m_bRenamesLoseEntries) {
            deletion.m_listing = std::move(renamed);
            deletion.m_bLost = true;
        }
    }
}

// An album that the delete pass has hidden: the files its folder held, then
// the folder; what cannot be deleted gets the album's name back.
bool CDeletePass::DeleteHiddenAlbum(const CDeletion& deletion)
{
    const IPlayerTree& player = m_context.m_player;
    const CFolderNode& album = *deletion.m_pAlbum;
    const std::u16string display = album.GetPlayerRelativePath();
    CFolderHandle parent;
    CFolderHandle folder;
    int error = player.OpenFolder(album.m_pParent->GetPlayerRelativePath(), parent);
    if (error == 0) {
        error = player.OpenFolder(parent, deletion.m_hiddenName, folder);
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Delete, "Opening \"%s\" : Error %s", PlayerDisplayPath(display), error);
        return false;
    }
    if (deletion.m_bLost) {
        m_context.PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s", PlayerDisplayPath(display), ENODATA);
    }
    m_remover.EmptyFolder(folder, deletion.m_listing, display, CDeletePolicy());
    folder.Close();
    if ((error = player.RemoveFolder(parent, deletion.m_hiddenName))) {
        m_context.PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s", PlayerDisplayPath(display), error);
        player.RenameFolder(parent, deletion.m_hiddenName, album.m_names[SIDE_PLAYER]);
    }
    return true;
}

// Makes the new names reach the device: one flush of the volume on a kernel
// file system, else a flush of each folder whose entries changed.
void CDeletePass::FlushParents(std::span<const CDeletion> deletions)
{
    std::set<std::u16string> parents;
    for (const CDeletion& deletion : deletions) {
        if (!deletion.m_hiddenName.empty()) {
            parents.insert(deletion.m_pAlbum->m_pParent->GetPlayerRelativePath());
        }
    }
    // The whole volume is flushed from its root, which is always open.
    if (!m_context.m_player.FlushesEachFile() && !parents.empty()) {
        parents = {std::u16string()};
    }
    for (const std::u16string& relative : parents) {
        CFolderHandle parent;
        if (m_context.m_player.OpenFolder(relative, parent) == 0) {
            m_context.m_player.Flush(parent);
        }
    }
}

void CDeletePass::RestoreNames(std::span<const CDeletion> deletions)
{
    for (const CDeletion& deletion : deletions) {
        if (!deletion.m_hiddenName.empty()) {
            RenameBack(*deletion.m_pAlbum, deletion.m_hiddenName);
        }
    }
    FlushParents(deletions);
}

void CDeletePass::RenameBack(const CFolderNode& album, const std::u16string& hiddenName)
{
    CFolderHandle parent;
    if (m_context.m_player.OpenFolder(album.m_pParent->GetPlayerRelativePath(), parent) == 0) {
        m_context.m_player.RenameFolder(parent, hiddenName, album.m_names[SIDE_PLAYER]);
    }
}
