#include "transfer/AlbumCopier.h"

#include "model/AlbumManifest.h"
#include "platform/FencedTree.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"
#include "transfer/FileWriter.h"
#include "transfer/Remover.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <map>
#include <optional>
#include <utility>

namespace {

// Written files of an album held open until they are flushed, at most.
constexpr std::size_t MAX_WRITTEN_FILES = 64;

using ECall = CJobContext::ECall;

} // namespace

// An album counts as copied only once its data is on the device. A kernel
// file system writes all of it with one flush of the volume (syncfs), which
// also reports a write-back error of any file; a FUSE driver never sees that
// flush, only the flush (fsync) of each written file and changed folder.

// Makes an album's new name reach the device: the entries of its parent
// changed, and so did those of the folder above each folder that the copy
// made. One flush of the volume does it all on a kernel file system.
int CAlbumCopier::FlushNewName(const CFolderNode& album, const CFolderHandle& parent, const CCopyRecord& made) const
{
    const IPlayerTree& player = m_context.m_player;
    int error = player.Flush(parent);
    if (!player.FlushesEachFile()) {
        return error;
    }
    for (const CFolderNode* node = album.m_pParent; error == 0 && made.MadeFolder(node->GetPlayerRelativePath());
         node = node->m_pParent) {
        CFolderHandle above;
        error = player.OpenFolder(node->m_pParent->GetPlayerRelativePath(), above);
        if (error == 0) {
            error = player.Flush(above);
        }
    }
    return error;
}

// Flushes where the file system needs it, gives the file its source's time
// when it has one, and closes it; data that reaches the device only now can
// still fail to be written. The time comes after the flush: a driver that is
// handed the data only then (FUSE's write-back) would take it for a change.
// The player may keep the computer's time more coarsely (FAT to 2 s): the
// manifest holds the exact one.
bool CAlbumCopier::CloseWrittenFile(CFile& file, const std::u16string& relative, std::optional<std::int64_t> modified)
{
    int error = m_context.m_player.FlushFile(file);
    if (error == 0 && modified) {
        error = m_context.m_player.SetModified(file, *modified);
    }
    if (const int closeError = file.Close(); error == 0) {
        error = closeError;
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", PlayerDisplayPath(relative), error);
    }
    return error == 0;
}

void CAlbumCopier::CopyPass(CFolderNode& node)
{
    if (CheckCancel(m_context.m_log)) {
        return;
    }
    if (!node.IsAlbum()) {
        for (const auto& child : node.m_children) {
            CopyPass(*child);
        }
    } else if (node.IsAlbumToCopy()) {
        CopyAlbum(node);
    } else if (node.IsAlbumToRefresh() && !node.m_names[SIDE_COMPUTER].empty()) {
        // An album that the scan left only on the player (a computer folder
        // that is the player's) has no new version: it would go empty.
        RefreshAlbum(node);
    }
}

void CAlbumCopier::CopyAlbum(CFolderNode& album)
{
    CCopyLog& log = m_context.m_log;
    log.Add(LOG_INFO, "Copying \"%s\"", ToLogText(album.GetPath(SIDE_COMPUTER, true)));
    const std::uint64_t bytesBefore = log.m_nBytesCopied;
    bool complete = false;
    if (FitsOnPlayer(album)) {
        CCopyRecord made;
        const bool created = CreateFolders(album, made);
        complete =
            created && !CheckCancel(log) && CopyFiles(album, made) && !CheckCancel(log) && PublishAlbum(album, made);
        if (!complete) {
            m_remover.RemoveAlbum(album, created, CUndoCopyPolicy(made));
        }
        // A canceled album is neither counted nor reported, unless it was
        // already complete on the player when the cancel came.
        if (CheckCancel(log) && !complete) {
            return;
        }
    }
    CountAlbum(album, bytesBefore, complete);
}

void CAlbumCopier::CountAlbum(const CFolderNode& album, std::uint64_t bytesBefore, bool complete)
{
    CCopyLog& log = m_context.m_log;
    log.m_nBytesCopied = bytesBefore + ExpectedAlbumBytes(m_writer, album);
    log.m_plan.SetOutcome(album, complete ? EAlbumOutcome::Done : EAlbumOutcome::Failed);
    log.CountDown(log.m_nAlbumsToCopy);
}

// Folders that exist on the player keep the player's names; only those below
// are made, under the player names of the computer's. The album's own folder
// is always made as the staging folder: the scan did not see it on the player,
// and a folder of its name found there now is someone else's, which the album
// never goes into.
bool CAlbumCopier::CreateFolders(CFolderNode& node, CCopyRecord& made)
{
    if (node.m_pParent == nullptr) {
        return true; // the player's music folder itself is never created
    }
    if (!CreateFolders(*node.m_pParent, made)) {
        return false;
    }
    // A folder above the album that the scan did not see on the player counts
    // only when it has the name to the letter.
    const std::u16string relative = node.GetPlayerRelativePath();
    const IPlayerTree& player = m_context.m_player;
    if (!node.IsAlbum() && player.HasFolder(relative, node.m_names[SIDE_PLAYER].empty())) {
        made.AddExisting(relative);
        return true;
    }
    const std::u16string folder =
        node.IsAlbum() ? JoinPath(node.m_pParent->GetPlayerRelativePath(), STAGING_FOLDER) : relative;
    // Where a rename loses what the folder holds, no album can be published.
    if (const int error = node.IsAlbum() && m_context.m_bRenamesLoseEntries ? ENODATA : player.CreateFolder(folder)) {
        m_context.PlayerFailure(ECall::Write, "Creating \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    made.AddFolder(folder);
    if (node.IsAlbum()) {
        made.m_albumFolder = folder;
        if (player.OpenFolder(folder, made.m_staging) == 0) {
            player.Lock(made.m_staging);
        }
    }
    return true;
}

// Copies the album's files in the order of the computer's listing; each file
// and then the folder's entries reach the device before the album is done.
// Written files stay open until the album is written: their data goes to the
// device meanwhile, and a driver flushed file by file then finds little left.
bool CAlbumCopier::CopyFiles(CFolderNode& album, CCopyRecord& made)
{
    const std::u16string relative = album.GetPlayerRelativePath();
    CFolderHandle folder;
    if (const int error = m_context.m_player.OpenFolder(made.m_albumFolder, folder)) {
        m_context.PlayerFailure(ECall::Write, "Opening \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    struct CWritten
    {
        CFile m_file;
        std::u16string m_name;
        std::int64_t m_modified;
    };
    std::deque<CWritten> written;
    const auto closeOldest = [&] {
        CWritten oldest = std::move(written.front());
        written.pop_front();
        return CloseWrittenFile(oldest.m_file, JoinPath(relative, oldest.m_name), oldest.m_modified);
    };
    for (const CFileEntry& entry : album.m_files[SIDE_COMPUTER]) {
        if (CheckCancel(m_context.m_log)) {
            return true; // the caller sees the cancel itself
        }
        CFile output;
        if (!CopyFileEntry(album, entry, made, folder, output)) {
            return false;
        }
        written.push_back({std::move(output), m_writer.PlayerFileName(album, entry), entry.m_modified});
        if (written.size() > MAX_WRITTEN_FILES && !closeOldest()) {
            return false;
        }
    }
    while (!written.empty()) {
        if (!closeOldest()) {
            return false;
        }
    }
    if (!WriteManifest(album, made, folder)) {
        return false;
    }
    if (const int error = m_context.m_player.Flush(folder)) {
        m_context.PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    return true;
}

bool CAlbumCopier::CopyFileEntry(CFolderNode& album, const CFileEntry& entry, CCopyRecord& made,
                                 const CFolderHandle& folder, CFile& output)
{
    const CFileToWrite file{
        entry, ComputerFilePath(album, entry),
        ToLogText(album.GetPath(SIDE_COMPUTER, true) + PATH_SEPARATOR + entry.m_name),
        PlayerDisplayPath(JoinPath(album.GetPlayerRelativePath(), m_writer.PlayerFileName(album, entry)))};
    if (const int error = m_writer.Open(file)) {
        m_context.ComputerFailure("Opening \"%s\" : Error %s", file.m_sourceDisplay, error);
        return false;
    }
    const std::u16string name = m_writer.PlayerFileName(album, entry);
    if (const int error = m_context.m_player.CreateFile(folder, name, output)) {
        m_context.PlayerFailure(ECall::Write, "Opening \"%s\" : Error %s", file.m_destinationDisplay, error);
        return false;
    }
    made.AddFile(name);
    std::uint64_t written = 0;
    const bool complete = m_writer.Write(file, output, m_context, written);
    made.SetWritten(name, written);
    if (!complete) {
        return false;
    }
    output.StartWriteBack(); // overlaps the device writes with the next file's copy
    return true;
}

// The album's record, written after its files into the same folder and so
// published with them: what each player file was made of, and by which writer.
bool CAlbumCopier::WriteManifest(const CFolderNode& album, CCopyRecord& made, const CFolderHandle& folder)
{
    const std::string text = SerializeManifest(ManifestFor(album, m_writer));
    const std::u16string relative = JoinPath(album.GetPlayerRelativePath(), MANIFEST_NAME);
    CFile file;
    if (const int error = m_context.m_player.CreateFile(folder, MANIFEST_NAME, file)) {
        m_context.PlayerFailure(ECall::Write, "Opening \"%s\" : Error %s", PlayerDisplayPath(relative), error);
        return false;
    }
    made.AddFile(MANIFEST_NAME);
    if (const int error = file.Write(text.data(), text.size())) {
        m_context.PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", PlayerDisplayPath(relative), error);
        return false;
    }
    made.SetWritten(MANIFEST_NAME, text.size());
    return CloseWrittenFile(file, relative, std::nullopt);
}

// Gives the staging folder the album's name, which must still be free, and
// makes that reach the device.
bool CAlbumCopier::PublishAlbum(CFolderNode& album, CCopyRecord& made)
{
    const std::u16string relative = album.GetPlayerRelativePath();
    CFolderHandle parent;
    int error = m_context.m_player.OpenFolder(album.m_pParent->GetPlayerRelativePath(), parent);
    if (error == 0) {
        error = m_context.m_player.RenameFolder(parent, STAGING_FOLDER, PlayerName(album.m_names[SIDE_COMPUTER]));
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Write, "Creating \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    made.Publish(relative);
    error = HoldsWrittenFiles(relative, made);
    m_context.m_bRenamesLoseEntries |= error == ENODATA;
    if (error == 0) {
        error = FlushNewName(album, parent, made);
    }
    if (error != 0) {
        m_context.PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    return true;
}

// A driver may lose a folder's entries when it renames it (fusefat does): the
// published folder must hold just the files written, the manifest among them,
// with their sizes, or it is not the album: the sizes are those the writer
// wrote. Once a rename has lost them, no more albums are staged on this player
// and no album to delete is hidden first: each would be lost too.
int CAlbumCopier::HoldsWrittenFiles(const std::u16string& relative, const CCopyRecord& made)
{
    CFolderHandle folder;
    CFolderListing listing;
    int error = m_context.m_player.OpenFolder(relative, folder);
    if (error == 0) {
        error = m_context.m_player.List(folder, listing);
    }
    if (error != 0) {
        return error;
    }
    std::map<std::u16string, std::uint64_t> files;
    bool onlyFiles = listing.m_readError == 0;
    for (const CDirEntry& entry : listing.m_entries) {
        onlyFiles &= !entry.m_bFolder;
        files.emplace(entry.m_name, entry.m_size);
    }
    return onlyFiles && files == made.Files() ? 0 : ENODATA;
}
