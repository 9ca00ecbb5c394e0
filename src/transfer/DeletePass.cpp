#include "model/FolderNode.h"
#include "platform/FencedTree.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"

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

// Deletes the files of a folder of the player, or with pMade only those that
// copy made. True when the folder may go: no sub-folder seen, nothing kept.
bool EmptyFolder(CCopyLog& log, const std::u16string& relative, const std::u16string& display, const CCopyRecord* pMade)
{
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListPlayerFolder(log, relative, folder, listing, display)) {
        return false;
    }
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
    return !sawSubFolder && (pMade == nullptr || (!keptFile && pMade->MadeFolder(relative)));
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

// After a copy that did not complete, the album's folder may still be the
// staging folder; the log names it by the album's own path all the same.
bool CFolderNode::DeleteFolder(CCopyLog& log, const CCopyRecord* pMade)
{
    const std::u16string display = GetPlayerRelativePath();
    const std::u16string folder = pMade != nullptr ? pMade->m_albumFolder : display;
    if (!EmptyFolder(log, folder, display, pMade)) {
        return false;
    }
    RemovePlayerFolder(log, folder, display);
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

void CFolderNode::RemoveLeftover(CCopyLog& log)
{
    const std::u16string staging = JoinPath(GetPlayerRelativePath(), STAGING_FOLDER);
    log.Add(LOG_INFO, "Deleting \"%s\"", PlayerDisplayPath(staging));
    if (EmptyFolder(log, staging, staging, nullptr) && RemovePlayerFolder(log, staging, staging)) {
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
