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

// Opens and lists a folder of the player; logs the failure when it cannot.
bool ListPlayerFolder(CCopyLog& log, const std::u16string& relative, CFolderHandle& folder, CFolderListing& listing)
{
    int error = log.m_player.OpenFolder(relative, folder);
    if (error == 0) {
        error = folder.List(listing);
    }
    if (error != 0) {
        LogPlayerError(log, "Opening \"%s\" : Error %s", PlayerDisplayPath(relative), error);
    }
    return error == 0;
}

// Removes a folder of the player; logs the failure when it cannot.
bool RemovePlayerFolder(CCopyLog& log, const std::u16string& relative)
{
    const int error = log.m_player.RemoveFolder(relative);
    if (error != 0) {
        LogPlayerError(log, "Deleting \"%s\" : Error %s", PlayerDisplayPath(relative), error);
    }
    return error == 0;
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
    // Never the root: the player's music folder itself always stays.
    for (CFolderNode* node = m_pParent; node != nullptr && node->m_pParent != nullptr; node = node->m_pParent) {
        if (!node->PruneFolder(log, pMade)) {
            break;
        }
    }
}

bool CFolderNode::DeleteFolder(CCopyLog& log, const CCopyRecord* pMade)
{
    const std::u16string relative = GetPlayerRelativePath();
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListPlayerFolder(log, relative, folder, listing)) {
        return false;
    }
    // A link in the folder is an entry like a file: removing it leaves what it
    // points to alone.
    bool sawSubFolder = false;
    bool keptFile = false;
    for (const CDirEntry& entry : listing.m_entries) {
        const std::u16string path = relative + PATH_SEPARATOR + entry.m_name;
        if (entry.m_bFolder) {
            sawSubFolder = true;
        } else if (pMade != nullptr && !pMade->MadeFile(path)) {
            keptFile = true;
        } else if (const int error = folder.RemoveFile(entry.m_name)) {
            LogPlayerError(log, "Deleting \"%s\" : Error %s", PlayerDisplayPath(path), error);
        }
    }
    if (listing.m_readError != 0) {
        LogPlayerError(log, "Reading \"%s\" : Error %s", PlayerDisplayPath(relative), listing.m_readError);
    }
    if (sawSubFolder || (pMade != nullptr && (keptFile || !pMade->MadeFolder(relative)))) {
        return false;
    }
    folder.Close();
    RemovePlayerFolder(log, relative);
    return true;
}

bool CFolderNode::PruneFolder(CCopyLog& log, const CCopyRecord* pMade)
{
    const std::u16string relative = GetPlayerRelativePath();
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListPlayerFolder(log, relative, folder, listing)) {
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
    return RemovePlayerFolder(log, relative);
}
