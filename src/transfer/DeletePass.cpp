#include "model/FolderNode.h"
#include "platform/FileSystem.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"

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
    RemoveAlbum(log, SIDE_PLAYER, true);
    log.CountDown(log.m_nAlbumsToDelete);
}

void CFolderNode::RemoveAlbum(CCopyLog& log, int nameSide, bool includeSelf, const CCopyRecord* pMade)
{
    log.Add(LOG_INFO, "Deleting \"%s\"", ToLogText(GetPath(SIDE_PLAYER, nameSide, true)));
    if (includeSelf && !DeleteFolder(log, nameSide, pMade)) {
        return;
    }
    // Never the root: the player's music folder itself always stays.
    for (CFolderNode* node = m_pParent; node != nullptr && node->m_pParent != nullptr; node = node->m_pParent) {
        if (!node->PruneFolder(log, nameSide, pMade)) {
            break;
        }
    }
}

bool CFolderNode::DeleteFolder(CCopyLog& log, int nameSide, const CCopyRecord* pMade)
{
    const std::u16string folder = LONG_PATH_PREFIX + GetPath(SIDE_PLAYER, nameSide, false);
    const std::u16string display = GetPath(SIDE_PLAYER, nameSide, true);
    CFolderListing listing;
    // An album folder that is a link is not emptied: its files lie outside the
    // player's music folder. Files a copy made are removed wherever they are.
    if (const int error = ListFolder(folder, listing, pMade != nullptr)) {
        log.Add(LOG_ERROR, "Opening \"%s\" : Error %s", ToLogText(display), SystemErrorText(error));
        return false;
    }
    bool sawSubFolder = false;
    bool keptFile = false;
    for (const CDirEntry& entry : listing.m_entries) {
        const std::u16string path = folder + PATH_SEPARATOR + entry.m_name;
        if (entry.m_bFolder) {
            sawSubFolder = true;
        } else if (pMade != nullptr && !pMade->MadeFile(path)) {
            keptFile = true;
        } else if (const int error = RemoveFile(path)) {
            log.Add(LOG_ERROR, "Deleting \"%s\" : Error %s", ToLogText(display + PATH_SEPARATOR + entry.m_name),
                    SystemErrorText(error));
        }
    }
    if (listing.m_readError != 0) {
        log.Add(LOG_ERROR, "Reading \"%s\" : Error %s", ToLogText(display), SystemErrorText(listing.m_readError));
    }
    if (sawSubFolder || (pMade != nullptr && (keptFile || !pMade->MadeFolder(folder)))) {
        return false;
    }
    if (const int error = RemoveFolder(folder)) {
        log.Add(LOG_ERROR, "Deleting \"%s\" : Error %s", ToLogText(display), SystemErrorText(error));
    }
    return true;
}

bool CFolderNode::PruneFolder(CCopyLog& log, int nameSide, const CCopyRecord* pMade)
{
    const std::u16string folder = LONG_PATH_PREFIX + GetPath(SIDE_PLAYER, nameSide, false);
    const std::u16string display = GetPath(SIDE_PLAYER, nameSide, true);
    CFolderListing listing;
    if (const int error = ListFolder(folder, listing)) {
        log.Add(LOG_ERROR, "Opening \"%s\" : Error %s", ToLogText(display), SystemErrorText(error));
        return false;
    }
    if (listing.m_readError != 0) {
        log.Add(LOG_ERROR, "Reading \"%s\" : Error %s", ToLogText(display), SystemErrorText(listing.m_readError));
        return false;
    }
    if (!listing.m_entries.empty() || (pMade != nullptr && !pMade->MadeFolder(folder))) {
        return false;
    }
    if (const int error = RemoveFolder(folder)) {
        log.Add(LOG_ERROR, "Deleting \"%s\" : Error %s", ToLogText(display), SystemErrorText(error));
        return false;
    }
    return true;
}
