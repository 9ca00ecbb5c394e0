#include "model/FolderNode.h"
#include "platform/FencedTree.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"

#include <algorithm>
#include <cerrno>

namespace {

// Logs a failed operation on the player; a player that is gone cancels the job.
void LogPlayerError(CCopyLog& log, const char* format, const std::string& display, int error)
{
    log.Add(LOG_ERROR, format, display, SystemErrorText(CheckPlayerGone(log, error)));
}

// Opens and lists a folder of the player, named display in the log; logs the
// failure when it cannot.
bool ListPlayerFolder(CCopyLog& log, const std::u16string& relative, CFolderHandle& folder, CFolderListing& listing,
                      const std::u16string& display)
{
    int error = log.m_player.OpenFolder(relative, folder);
    if (error == 0) {
        error = folder.List(listing);
    }
    if (error != 0) {
        LogPlayerError(log, "Opening \"%s\" : Error %s", PlayerDisplayPath(display), error);
    }
    return error == 0;
}

// Removes a folder of the player; logs the failure when it cannot.
bool RemovePlayerFolder(CCopyLog& log, const std::u16string& relative, const std::u16string& display)
{
    const int error = log.m_player.RemoveFolder(relative);
    if (error != 0) {
        LogPlayerError(log, "Deleting \"%s\" : Error %s", PlayerDisplayPath(display), error);
    }
    return error == 0;
}

// Deletes the listed files of an open folder of the player, or with pMade
// only those that copy made. True when the folder may go: no sub-folder seen,
// nothing kept.
bool EmptyFolder(CCopyLog& log, const CFolderHandle& folder, const CFolderListing& listing,
                 const std::u16string& display, const CCopyRecord* pMade)
{
    // A link in the folder is an entry like a file: removing it leaves what it
    // points to alone.
    bool sawSubFolder = false;
    bool keptFile = false;
    for (const CDirEntry& entry : listing.m_entries) {
        if (entry.m_bFolder) {
            sawSubFolder = true;
        } else if (pMade != nullptr && !pMade->MadeFile(entry.m_name)) {
            keptFile = true;
        } else if (const int error = folder.RemoveFile(entry.m_name)) {
            LogPlayerError(log, "Deleting \"%s\" : Error %s", PlayerDisplayPath(JoinPath(display, entry.m_name)),
                           error);
        }
    }
    if (listing.m_readError != 0) {
        LogPlayerError(log, "Reading \"%s\" : Error %s", PlayerDisplayPath(display), listing.m_readError);
    }
    return !sawSubFolder && !keptFile;
}

bool HasSubFolder(const CFolderListing& listing)
{
    return std::any_of(listing.m_entries.begin(), listing.m_entries.end(),
                       [](const CDirEntry& entry) { return entry.m_bFolder; });
}

// Whether a folder holds just the files that the scan read there, by name and
// size. Another player plugged into the same slot, or files added since,
// make it a folder that the user never chose to delete.
bool HoldsScannedFiles(const CFolderListing& listing, const std::vector<CFileEntry>& files)
{
    auto file = files.begin();
    for (const CDirEntry& entry : listing.m_entries) {
        if (entry.m_bFolder) {
            continue;
        }
        if (file == files.end() || file->m_name != entry.m_name || file->m_size != entry.m_size) {
            return false;
        }
        ++file;
    }
    return file == files.end();
}

// Removes node's folder and then each one above it while the removals leave
// it empty; never the root: the player's music folder itself always stays.
void PruneFrom(CFolderNode* node, CCopyLog& log, const CCopyRecord* pMade)
{
    for (; node != nullptr && node->m_pParent != nullptr; node = node->m_pParent) {
        if (!node->PruneFolder(log, pMade)) {
            break;
        }
    }
}

} // namespace

void CFolderNode::DeletePass(CCopyLog& log)
{
    if (CheckCancel(log)) {
        return;
    }
    if (!IsAlbum()) {
        for (const auto& child : m_children) {
            child->DeletePass(log);
        }
        return;
    }
    if (!IsAlbumToDelete()) {
        return;
    }
    RemoveAlbum(log, true);
    log.CountDown(log.m_nAlbumsToDelete);
}

void CFolderNode::RemoveAlbum(CCopyLog& log, bool includeSelf, const CCopyRecord* pMade)
{
    log.Add(LOG_INFO, "Deleting \"%s\"", PlayerDisplayPath(GetPlayerRelativePath()));
    if (includeSelf && !DeleteFolder(log, pMade)) {
        return;
    }
    PruneFrom(m_pParent, log, pMade);
}

// An album to delete is first given the staging name, so that a job cut off
// half way leaves no part of it under its own name: the next scan does not
// show it, and the next job deletes what is left. What cannot be deleted is
// given the album's name back. A folder that has gained a sub-folder since
// the scan is emptied where it is. After a copy that did not complete, the
// album's folder may still be the staging folder. The log names the album by
// its own path all the same.
bool CFolderNode::DeleteFolder(CCopyLog& log, const CCopyRecord* pMade)
{
    const std::u16string display = GetPlayerRelativePath();
    const std::u16string relative = pMade != nullptr ? pMade->m_albumFolder : display;
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListPlayerFolder(log, relative, folder, listing, display)) {
        return false;
    }
    const bool known = pMade == nullptr && listing.m_readError == 0;
    if (known && !HoldsScannedFiles(listing, m_files[SIDE_PLAYER])) {
        log.Add(LOG_ERROR, "Deleting \"%s\" : Error %s", PlayerDisplayPath(display), SystemErrorText(ESTALE));
        return false;
    }
    CFolderHandle parent;
    const std::u16string above = m_pParent != nullptr ? m_pParent->GetPlayerRelativePath() : std::u16string();
    const bool hidden = known && m_pParent != nullptr && !HasSubFolder(listing) &&
                        log.m_player.OpenFolder(above, parent) == 0 &&
                        parent.RenameFolder(m_names[SIDE_PLAYER], STAGING_FOLDER) == 0;
    if (hidden) {
        log.m_player.Flush(parent);
    }
    if (!EmptyFolder(log, folder, listing, display, pMade) || (pMade != nullptr && !pMade->MadeFolder(relative))) {
        return false;
    }
    folder.Close();
    if (!RemovePlayerFolder(log, hidden ? JoinPath(above, STAGING_FOLDER) : relative, display) && hidden) {
        parent.RenameFolder(STAGING_FOLDER, m_names[SIDE_PLAYER]);
    }
    return true;
}

bool CFolderNode::PruneFolder(CCopyLog& log, const CCopyRecord* pMade)
{
    const std::u16string relative = GetPlayerRelativePath();
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListPlayerFolder(log, relative, folder, listing, relative)) {
        return false;
    }
    if (listing.m_readError != 0) {
        LogPlayerError(log, "Reading \"%s\" : Error %s", PlayerDisplayPath(relative), listing.m_readError);
        return false;
    }
    if (!listing.m_entries.empty() || (pMade != nullptr && !pMade->MadeFolder(relative))) {
        return false;
    }
    folder.Close();
    return RemovePlayerFolder(log, relative, relative);
}

// A staging folder never holds a sub-folder: one that does is a folder of the
// user's, whose files stay.
void CFolderNode::RemoveLeftover(CCopyLog& log)
{
    const std::u16string staging = JoinPath(GetPlayerRelativePath(), STAGING_FOLDER);
    log.Add(LOG_INFO, "Deleting \"%s\"", PlayerDisplayPath(staging));
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListPlayerFolder(log, staging, folder, listing, staging)) {
        return;
    }
    const bool emptied = !HasSubFolder(listing) && EmptyFolder(log, folder, listing, staging, nullptr);
    folder.Close();
    if (RemovePlayerFolder(log, staging, staging) && emptied) {
        PruneFrom(this, log, nullptr);
    }
}

void CFolderNode::RemoveLeftovers(CCopyLog& log, const CScanRecord& record)
{
    for (CFolderNode* node : record.m_leftovers) {
        if (CheckCancel(log)) {
            return;
        }
        node->RemoveLeftover(log);
    }
}
