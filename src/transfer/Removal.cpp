#include "platform/SystemError.h"
#include "transfer/CopyJob.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"

#include <algorithm>
#include <cerrno>

bool CCopyJob::HasSubFolder(const CFolderListing& listing)
{
    return std::any_of(listing.m_entries.begin(), listing.m_entries.end(),
                       [](const CDirEntry& entry) { return entry.m_bFolder; });
}

bool CCopyJob::HoldsScannedFiles(const CFolderListing& listing, const std::vector<CFileEntry>& files)
{
    auto file = files.begin();
    for (const CDirEntry& entry : listing.m_entries) {
        if (entry.m_bFolder) {
            continue;
        }
        if (file == files.end() || file->m_name != entry.m_name || file->m_size != entry.m_size ||
            file->m_modified != entry.m_modified) {
            return false;
        }
        ++file;
    }
    return file == files.end();
}

// Opens and lists a folder of the player, named display in the log; logs the
// failure when it cannot.
bool CCopyJob::ListFolder(const std::u16string& relative, CFolderHandle& folder, CFolderListing& listing,
                          const std::u16string& display)
{
    int error = m_player.OpenFolder(relative, folder);
    if (error == 0) {
        error = folder.List(listing);
    }
    if (error != 0) {
        PlayerFailure(ECall::Delete, "Opening \"%s\" : Error %s", PlayerDisplayPath(display), error);
    }
    return error == 0;
}

// Removes a folder of the player; logs the failure when it cannot.
bool CCopyJob::RemoveFolder(const std::u16string& relative, const std::u16string& display)
{
    const int error = m_player.RemoveFolder(relative);
    if (error != 0) {
        PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s", PlayerDisplayPath(display), error);
    }
    return error == 0;
}

// Deletes the listed files of an open folder of the player, or with pMade
// only those that copy made. True when the folder may go: no sub-folder seen,
// nothing kept.
bool CCopyJob::EmptyFolder(const CFolderHandle& folder, const CFolderListing& listing, const std::u16string& display,
                           const CCopyRecord* pMade)
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
            PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s",
                          PlayerDisplayPath(JoinPath(display, entry.m_name)), error);
        }
    }
    if (listing.m_readError != 0) {
        PlayerFailure(ECall::Delete, "Reading \"%s\" : Error %s", PlayerDisplayPath(display), listing.m_readError);
    }
    return !sawSubFolder && !keptFile;
}

// Removes node's folder and then each one above it while the removals leave
// it empty; never the root: the player's music folder itself always stays.
// A copy that did not complete passes over the folders it never reached, and
// every removal passes over the folders that a leftover's removal has taken.
void CCopyJob::PruneFrom(CFolderNode* node, const CCopyRecord* pMade)
{
    for (; node != nullptr && node->m_pParent != nullptr; node = node->m_pParent) {
        const std::u16string relative = node->GetPlayerRelativePath();
        if ((pMade != nullptr && !pMade->Reached(relative)) || m_prunedFolders.contains(relative)) {
            continue;
        }
        if (!PruneFolder(*node, pMade)) {
            break;
        }
    }
}

void CCopyJob::RemoveAlbum(CFolderNode& album, bool includeSelf, const CCopyRecord* pMade)
{
    m_log.Add(LOG_INFO, "Deleting \"%s\"", PlayerDisplayPath(album.GetPlayerRelativePath()));
    if (includeSelf && !DeleteFolder(album, pMade)) {
        return;
    }
    PruneFrom(album.m_pParent, pMade);
}

// An album that keeps its name while it is deleted. After a copy that did not
// complete, its folder may be the staging folder; the log names the album by
// its own path all the same. A folder that has gained a sub-folder since the
// scan is emptied where it is; one that is not the folder the scan read stays
// whole.
bool CCopyJob::DeleteFolder(CFolderNode& album, const CCopyRecord* pMade)
{
    const std::u16string display = album.GetPlayerRelativePath();
    const std::u16string relative = pMade != nullptr ? pMade->m_albumFolder : display;
    if (pMade == nullptr && m_prunedFolders.contains(relative)) {
        return true; // an empty folder that held only a leftover, gone with it
    }
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListFolder(relative, folder, listing, display)) {
        return false;
    }
    if (pMade == nullptr && listing.m_readError == 0 && !HoldsScannedFiles(listing, album.m_files[SIDE_PLAYER])) {
        PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s", PlayerDisplayPath(display), ESTALE);
        return false;
    }
    if (!EmptyFolder(folder, listing, display, pMade) || (pMade != nullptr && !pMade->MadeFolder(relative))) {
        return false;
    }
    folder.Close();
    RemoveFolder(relative, display);
    return true;
}

bool CCopyJob::PruneFolder(CFolderNode& node, const CCopyRecord* pMade)
{
    const std::u16string relative = node.GetPlayerRelativePath();
    const bool mayRemove = pMade == nullptr || pMade->MadeFolder(relative);
    // The removal itself tells a folder that still holds something: a folder
    // of thousands of albums is not listed again after each one that goes.
    // Any other failure is told as the listing tells it.
    int error = mayRemove ? m_player.RemoveFolder(relative) : -1; // -1: not tried
    if (error == ENOTEMPTY || error == EEXIST) {
        return false;
    }
    if (error != 0) {
        CFolderHandle folder;
        CFolderListing listing;
        if (!ListFolder(relative, folder, listing, relative)) {
            return false;
        }
        if (listing.m_readError != 0) {
            PlayerFailure(ECall::Delete, "Reading \"%s\" : Error %s", PlayerDisplayPath(relative), listing.m_readError);
            return false;
        }
        if (!listing.m_entries.empty() || !mayRemove) {
            return false;
        }
        folder.Close();
        if (!RemoveFolder(relative, relative)) {
            return false;
        }
    }
    if (pMade == nullptr) {
        m_prunedFolders.insert(relative);
    }
    return true;
}

// A staging folder never holds a sub-folder: one that does is a folder of the
// user's, whose files stay.
void CCopyJob::RemoveLeftover(const CLeftover& leftover)
{
    const std::u16string staging = JoinPath(leftover.m_pFolder->GetPlayerRelativePath(), leftover.m_name);
    // Gone since the scan, or in use by a job that runs now: no leftover.
    CFolderHandle held;
    if (const int error = m_player.OpenFolder(staging, held);
        error == ENOENT || (error == 0 && held.Lock() == EWOULDBLOCK)) {
        return;
    }
    m_log.Add(LOG_INFO, "Deleting \"%s\"", PlayerDisplayPath(staging));
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListFolder(staging, folder, listing, staging)) {
        return;
    }
    const bool emptied = !HasSubFolder(listing) && EmptyFolder(folder, listing, staging, nullptr);
    folder.Close();
    if (RemoveFolder(staging, staging) && emptied) {
        PruneFrom(leftover.m_pFolder, nullptr);
    }
}

void CCopyJob::RemoveLeftovers()
{
    for (const CLeftover& leftover : m_record.m_leftovers) {
        if (CheckCancel(m_log)) {
            return;
        }
        RemoveLeftover(leftover);
    }
}
