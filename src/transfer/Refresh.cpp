#include "transfer/AlbumCopier.h"

#include "model/AlbumManifest.h"
#include "platform/FencedTree.h"
#include "platform/SystemError.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"
#include "transfer/DeletePass.h"
#include "transfer/FileWriter.h"
#include "transfer/Remover.h"

#include <cerrno>

namespace {

using ECall = CJobContext::ECall;

// The longest name a folder takes on every player file system: 255 bytes on
// Linux, 255 UTF-16 units on FAT and exFAT.
constexpr std::size_t NAME_LIMIT = 255;

// A name given to the staging folder on its way to the album's name, so that
// the first rename of a job on a driver that may lose entries is never the
// old album's.
constexpr char16_t PROBE_SUFFIX[] = u"-new";

std::uint64_t RoundUp(std::uint64_t bytes, std::uint64_t unit)
{
    return unit == 0 ? bytes : (bytes + unit - 1) / unit * unit;
}

} // namespace

// A changed album is written anew into the staging folder and checked there as
// a new album is; only then does it take the old one's place, by one exchange
// of names where the file system has it, else by two renames: the old album
// takes a hidden name that tells which album it is, the new one the album's
// name. A cut at any moment leaves the whole old album or the whole new one
// under the name, and hidden folders that the next job removes, putting the
// old album back where the name was left free.
void CAlbumCopier::RefreshAlbum(CFolderNode& album)
{
    CCopyLog& log = m_context.m_log;
    const std::uint64_t bytesBefore = log.m_nBytesCopied;
    if (!HasRoomBesideOld(album)) {
        CountAlbum(album, bytesBefore, false);
        return;
    }
    log.Add(LOG_INFO, "Replacing \"%s\"", ToLogText(album.GetPath(SIDE_COMPUTER, true)));
    bool complete = false;
    CFolderHandle parent;
    if (const int error = m_context.m_player.OpenFolder(album.m_pParent->GetPlayerRelativePath(), parent)) {
        m_context.PlayerFailure(ECall::Write, "Opening \"%s\" : Error %s",
                                FolderDisplayPath(album.GetPlayerRelativePath()), error);
    } else if (FitsOnPlayer(album) && OldAlbumHeld(album, parent)) {
        CCopyRecord made;
        const bool created = CreateFolders(album, made);
        complete =
            created && !CheckCancel(log) && CopyFiles(album, made) && !CheckCancel(log) && SwapAlbum(album, made);
        if (created && !made.m_bSwapped) {
            RemoveStaged(album, made);
        }
        if (CheckCancel(log) && !made.m_bSwapped) {
            return;
        }
    }
    CountAlbum(album, bytesBefore, complete);
}

// Both versions are on the player at once: the new one must fit in the space
// left, each file in whole allocation units, its folder and manifest one each.
// A driver that tells no space (fusefat) leaves it to the writes.
bool CAlbumCopier::HasRoomBesideOld(const CFolderNode& album)
{
    std::uint64_t available = 0;
    std::uint64_t total = 0;
    std::uint64_t unit = 0;
    if (const int error = m_context.m_player.QuerySpace(available, total, unit)) {
        m_context.PlayerFailure(ECall::Write, "Replacing \"%s\" : Error %s",
                                ToLogText(album.GetPath(SIDE_COMPUTER, true)), error);
        return false;
    }
    if (total == 0) {
        return true;
    }
    std::uint64_t needed = 2 * RoundUp(1, unit);
    for (const CFileEntry& entry : album.m_files[SIDE_COMPUTER]) {
        needed += RoundUp(m_writer.ExpectedBytes(album, entry), unit);
    }
    if (needed > available) {
        // Not a full disk: the albums after it may still fit.
        m_context.m_log.Add(LOG_ERROR, "Replacing \"%s\" : Error %s", ToLogText(album.GetPath(SIDE_COMPUTER, true)),
                            SystemErrorText(ENOSPC));
        return false;
    }
    return true;
}

// The old album goes whole: a folder that is the computer's, that gained a
// sub-folder or other files since the scan, or that another card holds in the
// same slot, is not the album the user chose to replace.
bool CAlbumCopier::OldAlbumHeld(const CFolderNode& album, const CFolderHandle& parent)
{
    const IPlayerTree& player = m_context.m_player;
    const std::string display = PlayerDisplayPath(album.GetPlayerRelativePath());
    if (m_deletePass.IsComputersFolder(album)) {
        m_context.PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s", display, ELOOP);
        return false;
    }
    CFolderHandle folder;
    CFolderListing listing;
    int error = player.OpenFolder(parent, album.m_names[SIDE_PLAYER], folder);
    if (error == 0) {
        error = player.List(folder, listing);
    }
    if (error == 0) {
        error = listing.m_readError;
    }
    if (error == 0 && (HasSubFolder(listing) || !HoldsScannedFiles(listing, album.m_files[SIDE_PLAYER]))) {
        error = ESTALE;
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s", display, error);
    }
    return error == 0;
}

// Checks the staged version, puts it in the old one's place, flushes the new
// names, then deletes the old version.
bool CAlbumCopier::SwapAlbum(CFolderNode& album, CCopyRecord& made)
{
    const IPlayerTree& player = m_context.m_player;
    const std::u16string relative = album.GetPlayerRelativePath();
    const std::u16string& name = album.m_names[SIDE_PLAYER];
    CFolderHandle parent;
    int error = player.OpenFolder(album.m_pParent->GetPlayerRelativePath(), parent);
    if (error == 0) {
        error = HoldsWrittenFiles(made.m_albumFolder, made);
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    if (!OldAlbumHeld(album, parent)) {
        return false;
    }
    std::u16string oldName = STAGING_FOLDER;
    error = player.ExchangeFolders(parent, STAGING_FOLDER, name);
    if (error == EINVAL) {
        error = SwapByRenames(album, parent, made, oldName);
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Write, "Creating \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    made.m_bSwapped = true;
    made.Publish(relative);
    error = HoldsWrittenFiles(relative, made);
    if (error == 0) {
        error = FlushNewName(album, parent, made);
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", FolderDisplayPath(relative), error);
    }
    DeleteOldVersion(album, parent, oldName);
    return error == 0;
}

// The old album takes its hidden name first, then the staged one the album's
// name; what fails in between puts the old album back. On a driver whose
// renames have not been seen to keep a folder's entries yet, the staged
// version is renamed and checked first.
int CAlbumCopier::SwapByRenames(const CFolderNode& album, const CFolderHandle& parent, CCopyRecord& made,
                                std::u16string& oldName)
{
    const IPlayerTree& player = m_context.m_player;
    const std::u16string& name = album.m_names[SIDE_PLAYER];
    const std::u16string parentRelative = album.m_pParent->GetPlayerRelativePath();
    oldName = OldVersionName(name);
    if (oldName.size() > NAME_LIMIT || ToNativePath(oldName).size() > NAME_LIMIT) {
        return ENAMETOOLONG;
    }
    std::u16string staged = STAGING_FOLDER;
    if (!m_context.m_bRenamesChecked) {
        staged += PROBE_SUFFIX;
        if (const int error = player.RenameFolder(parent, STAGING_FOLDER, staged)) {
            return error;
        }
        made.Publish(JoinPath(parentRelative, staged));
        m_context.m_bRenamesChecked = true;
        if (HoldsWrittenFiles(made.m_albumFolder, made) != 0) {
            m_context.m_bRenamesLoseEntries = true;
            return ENODATA;
        }
    }
    if (const int error = player.RenameFolder(parent, name, oldName)) {
        return error;
    }
    if (const int error = player.RenameFolder(parent, staged, name)) {
        player.RenameFolder(parent, oldName, name);
        return error;
    }
    return 0;
}

// The old version, now under a hidden name: a folder that cannot be emptied
// stays for the next job to remove.
void CAlbumCopier::DeleteOldVersion(const CFolderNode& album, const CFolderHandle& parent,
                                    const std::u16string& oldName)
{
    const IPlayerTree& player = m_context.m_player;
    const std::u16string relative = JoinPath(album.m_pParent->GetPlayerRelativePath(), oldName);
    CFolderHandle folder;
    CFolderListing listing;
    int error = player.OpenFolder(parent, oldName, folder);
    if (error == 0) {
        error = player.List(folder, listing);
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Delete, "Opening \"%s\" : Error %s", PlayerDisplayPath(relative), error);
        return;
    }
    const bool emptied = m_remover.EmptyFolder(folder, listing, relative, CDeletePolicy());
    folder.Close();
    if (emptied && (error = player.RemoveFolder(parent, oldName))) {
        m_context.PlayerFailure(ECall::Delete, "Deleting \"%s\" : Error %s", PlayerDisplayPath(relative), error);
    }
}

// What a refresh that did not complete staged goes again, and the old album
// stays as it was.
void CAlbumCopier::RemoveStaged(CFolderNode& album, const CCopyRecord& made)
{
    m_context.m_log.Add(LOG_INFO, "Deleting \"%s\"", PlayerDisplayPath(made.m_albumFolder));
    m_remover.DeleteFolder(album, CUndoCopyPolicy(made));
}
