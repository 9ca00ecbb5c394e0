#include "transfer/Remover.h"

#include "model/AlbumManifest.h"
#include "platform/FencedTree.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"

#include <algorithm>
#include <cerrno>

using ECall = CJobContext::ECall;

std::u16string CUndoCopyPolicy::AlbumFolder(const CFolderNode&) const
{
    return m_made.m_albumFolder;
}

bool CUndoCopyPolicy::MayRemoveFile(const std::u16string& name) const
{
    return m_made.MadeFile(name);
}

bool CUndoCopyPolicy::MayRemoveFolder(const std::u16string& relative) const
{
    return m_made.MadeFolder(relative);
}

bool CUndoCopyPolicy::Reached(const std::u16string& relative) const
{
    return m_made.Reached(relative);
}

bool HasSubFolder(const CFolderListing& listing)
{
    return std::any_of(listing.m_entries.begin(), listing.m_entries.end(),
                       [](const CDirEntry& entry) { return entry.m_bFolder; });
}

namespace {

constexpr char16_t OLD_VERSION_INFIX[] = u"-old-";

bool IsManifest(const std::u16string& name)
{
    return name == MANIFEST_NAME;
}

} // namespace

std::u16string OldVersionName(const std::u16string& album)
{
    return STAGING_FOLDER + (OLD_VERSION_INFIX + album);
}

// A scan may or may not list the manifest among the files: it is the album's
// own either way.
bool HoldsScannedFiles(const CFolderListing& listing, const std::vector<CFileEntry>& files)
{
    auto file = files.begin();
    for (const CDirEntry& entry : listing.m_entries) {
        if (file != files.end() && IsManifest(file->m_name)) {
            ++file;
        }
        if (entry.m_bFolder || IsManifest(entry.m_name)) {
            continue;
        }
        if (file == files.end() || file->m_name != entry.m_name || file->m_size != entry.m_size ||
            file->m_modified != entry.m_modified) {
            return false;
        }
        ++file;
    }
    if (file != files.end() && IsManifest(file->m_name)) {
        ++file;
    }
    return file == files.end();
}

// Opens and lists a folder of the player, named display in the log; logs the
// failure when it cannot.
bool CRemover::ListFolder(const std::u16string& relative, CFolderHandle& folder, CFolderListing& listing,
                          const std::u16string& display)
{
    int error = m_context.m_player.OpenFolder(relative, folder);
    if (error == 0) {
        error = m_context.m_player.List(folder, listing);
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Delete, "Opening \"%s\" : Error %s", PlayerDisplayPath(display), error);
    }
    return error == 0;
}

// Removes a folder of the player; logs the failure when it cannot.
bool CRemover::RemoveFolder(const std::u16string& relative, const std::u16string& display)
{
    const int error = m_context.m_player.RemoveFolder(relative);
    if (error != 0) {
        m_context.PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s", PlayerDisplayPath(display), error);
    }
    return error == 0;
}

bool CRemover::EmptyFolder(const CFolderHandle& folder, const CFolderListing& listing, const std::u16string& display,
                           const IRemovalPolicy& policy)
{
    // A link in the folder is an entry like a file: removing it leaves what it
    // points to alone.
    bool sawSubFolder = false;
    bool keptFile = false;
    for (const CDirEntry& entry : listing.m_entries) {
        if (entry.m_bFolder) {
            sawSubFolder = true;
        } else if (!policy.MayRemoveFile(entry.m_name)) {
            keptFile = true;
        } else if (const int error = m_context.m_player.RemoveFile(folder, entry.m_name)) {
            m_context.PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s",
                                    PlayerDisplayPath(JoinPath(display, entry.m_name)), error);
        }
    }
    if (listing.m_readError != 0) {
        m_context.PlayerFailure(ECall::Delete, "Reading \"%s\" : Error %s", PlayerDisplayPath(display),
                                listing.m_readError);
    }
    return !sawSubFolder && !keptFile;
}

// Removes node's folder and then each one above it while the removals leave
// it empty; never the root: the player's music folder itself always stays.
// A copy that did not complete passes over the folders it never reached, and
// every removal passes over the folders that a leftover's removal has taken.
void CRemover::PruneFrom(CFolderNode* node, const IRemovalPolicy& policy)
{
    for (; node != nullptr && node->m_pParent != nullptr; node = node->m_pParent) {
        const std::u16string relative = node->GetPlayerRelativePath();
        if (!policy.Reached(relative) || m_prunedFolders.contains(relative)) {
            continue;
        }
        if (!PruneFolder(*node, policy)) {
            break;
        }
    }
}

void CRemover::RemoveAlbum(CFolderNode& album, bool includeSelf, const IRemovalPolicy& policy)
{
    m_context.m_log.Add(LOG_INFO, "Deleting \"%s\"", PlayerDisplayPath(album.GetPlayerRelativePath()));
    if (includeSelf && !DeleteFolder(album, policy)) {
        return;
    }
    PruneFrom(album.m_pParent, policy);
}

// An album that keeps its name while it is deleted. After a copy that did not
// complete, its folder may be the staging folder; the log names the album by
// its own path all the same. A folder that has gained a sub-folder since the
// scan is emptied where it is; one that is not the folder the scan read stays
// whole.
bool CRemover::DeleteFolder(CFolderNode& album, const IRemovalPolicy& policy)
{
    const std::u16string display = album.GetPlayerRelativePath();
    const std::u16string relative = policy.AlbumFolder(album);
    if (policy.FollowsScan() && m_prunedFolders.contains(relative)) {
        return true; // an empty folder that held only a leftover, gone with it
    }
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListFolder(relative, folder, listing, display)) {
        return false;
    }
    if (policy.FollowsScan() && listing.m_readError == 0 && !HoldsScannedFiles(listing, album.m_files[SIDE_PLAYER])) {
        m_context.PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s", PlayerDisplayPath(display), ESTALE);
        return false;
    }
    if (!EmptyFolder(folder, listing, display, policy) || !policy.MayRemoveFolder(relative)) {
        return false;
    }
    folder.Close();
    RemoveFolder(relative, display);
    return true;
}

bool CRemover::PruneFolder(CFolderNode& node, const IRemovalPolicy& policy)
{
    const std::u16string relative = node.GetPlayerRelativePath();
    const bool mayRemove = policy.MayRemoveFolder(relative);
    // The removal itself tells a folder that still holds something: a folder
    // of thousands of albums is not listed again after each one that goes.
    // Any other failure is told as the listing tells it.
    int error = mayRemove ? m_context.m_player.RemoveFolder(relative) : -1; // -1: not tried
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
            m_context.PlayerFailure(ECall::Delete, "Reading \"%s\" : Error %s", PlayerDisplayPath(relative),
                                    listing.m_readError);
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
    if (policy.FollowsScan()) {
        m_prunedFolders.insert(relative);
    }
    return true;
}

// A staging folder never holds a sub-folder: one that does is a folder of the
// user's, whose files stay.
void CRemover::RemoveLeftover(const CLeftover& leftover)
{
    const std::u16string staging = JoinPath(leftover.m_pFolder->GetPlayerRelativePath(), leftover.m_name);
    // Gone since the scan, or in use by a job that runs now: no leftover.
    CFolderHandle held;
    if (const int error = m_context.m_player.OpenFolder(staging, held);
        error == ENOENT || (error == 0 && m_context.m_player.Lock(held) == EWOULDBLOCK)) {
        return;
    }
    if (RestoreOldVersion(leftover)) {
        return;
    }
    m_context.m_log.Add(LOG_INFO, "Deleting \"%s\"", PlayerDisplayPath(staging));
    CFolderHandle folder;
    CFolderListing listing;
    if (!ListFolder(staging, folder, listing, staging)) {
        return;
    }
    const CDeletePolicy policy;
    const bool emptied = !HasSubFolder(listing) && EmptyFolder(folder, listing, staging, policy);
    folder.Close();
    if (RemoveFolder(staging, staging) && emptied) {
        PruneFrom(leftover.m_pFolder, policy);
    }
}

bool CRemover::RestoreOldVersion(const CLeftover& leftover)
{
    const std::u16string prefix = OldVersionName(u"");
    if (!leftover.m_name.starts_with(prefix) || leftover.m_name.size() == prefix.size()) {
        return false;
    }
    const IPlayerTree& player = m_context.m_player;
    const std::u16string album = leftover.m_name.substr(prefix.size());
    const std::u16string relative = leftover.m_pFolder->GetPlayerRelativePath();
    CFolderHandle parent;
    CFolderId id;
    if (player.OpenFolder(relative, parent) != 0 || player.GetEntryId(parent, album, id) != ENOENT) {
        return false; // the new version, or something else, has the name: the old one goes
    }
    m_context.m_log.Add(LOG_INFO, "Restoring \"%s\"", PlayerDisplayPath(JoinPath(relative, album)));
    int error = player.RenameFolder(parent, leftover.m_name, album);
    if (error == 0) {
        error = player.Flush(parent);
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Delete, "Restoring \"%s\" : Error %s",
                                PlayerDisplayPath(JoinPath(relative, album)), error);
    }
    return true;
}

void CRemover::RemoveLeftovers()
{
    for (const CLeftover& leftover : m_record.m_leftovers) {
        if (CheckCancel(m_context.m_log)) {
            return;
        }
        RemoveLeftover(leftover);
    }
}
