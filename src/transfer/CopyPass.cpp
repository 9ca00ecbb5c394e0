#include "platform/SystemError.h"
#include "transfer/CopyJob.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <map>
#include <utility>

namespace {

// Written files of an album held open until they are flushed, at most.
constexpr std::size_t MAX_WRITTEN_FILES = 64;

} // namespace

// An album counts as copied only once its data is on the device. A kernel
// file system writes all of it with one flush of the volume (syncfs), which
// also reports a write-back error of any file; a FUSE driver never sees that
// flush, only the flush (fsync) of each written file and changed folder.

// Makes an album's new name reach the device: the entries of its parent
// changed, and so did those of the folder above each folder that the copy
// made. One flush of the volume does it all on a kernel file system.
int CCopyJob::FlushNewName(const CFolderNode& album, const CFolderHandle& parent, const CCopyRecord& made) const
{
    int error = m_player.Flush(parent);
    if (!m_player.FlushesEachFile()) {
        return error;
    }
    for (const CFolderNode* node = album.m_pParent; error == 0 && made.MadeFolder(node->GetPlayerRelativePath());
         node = node->m_pParent) {
        CFolderHandle above;
        error = m_player.OpenFolder(node->m_pParent->GetPlayerRelativePath(), above);
        if (error == 0) {
            error = above.Sync();
        }
    }
    return error;
}

// Flushes where the file system needs it and closes a written file; data that
// reaches the device only now can still fail to be written.
bool CCopyJob::CloseWrittenFile(CFile& file, const std::u16string& relative)
{
    int error = m_player.FlushesEachFile() ? file.Sync() : 0;
    if (const int closeError = file.Close(); error == 0) {
        error = closeError;
    }
    if (error != 0) {
        PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", PlayerDisplayPath(relative), error);
    }
    return error == 0;
}

void CCopyJob::CopyPass(CFolderNode& node)
{
    if (CheckCancel(m_log)) {
        return;
    }
    if (!node.IsAlbum()) {
        for (const auto& child : node.m_children) {
            CopyPass(*child);
        }
        return;
    }
    if (!node.IsAlbumToCopy()) {
        return;
    }
    m_log.Add(LOG_INFO, "Copying \"%s\"", ToLogText(node.GetPath(SIDE_COMPUTER, true)));
    const std::uint64_t bytesBefore = m_log.m_nBytesCopied;
    bool complete = false;
    if (FitsOnPlayer(node)) {
        CCopyRecord made;
        const bool created = CreateFolders(node, made);
        complete =
            created && !CheckCancel(m_log) && CopyFiles(node, made) && !CheckCancel(m_log) && PublishAlbum(node, made);
        if (!complete) {
            RemoveAlbum(node, created, &made);
        }
        // A canceled album is neither counted nor reported, unless it was
        // already complete on the player when the cancel came.
        if (CheckCancel(m_log) && !complete) {
            return;
        }
    }
    m_log.m_nBytesCopied = bytesBefore + node.FileBytes(SIDE_COMPUTER);
    m_log.m_plan.SetOutcome(node, complete ? EAlbumOutcome::Done : EAlbumOutcome::Failed);
    m_log.CountDown(m_log.m_nAlbumsToCopy);
}

// Folders that exist on the player keep the player's names; only those below
// are made, under the player names of the computer's. The album's own folder
// is always made as the staging folder: the scan did not see it on the player,
// and a folder of its name found there now is someone else's, which the album
// never goes into.
bool CCopyJob::CreateFolders(CFolderNode& node, CCopyRecord& made)
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
    if (!node.IsAlbum() && m_player.HasFolder(relative, node.m_names[SIDE_PLAYER].empty())) {
        made.AddExisting(relative);
        return true;
    }
    const std::u16string folder =
        node.IsAlbum() ? JoinPath(node.m_pParent->GetPlayerRelativePath(), STAGING_FOLDER) : relative;
    // Where a rename loses what the folder holds, no album can be published.
    if (const int error = node.IsAlbum() && m_bRenamesLoseEntries ? ENODATA : m_player.CreateFolder(folder)) {
        PlayerFailure(ECall::Write, "Creating \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    made.AddFolder(folder);
    if (node.IsAlbum()) {
        made.m_albumFolder = folder;
        if (m_player.OpenFolder(folder, made.m_staging) == 0) {
            made.m_staging.Lock();
        }
    }
    return true;
}

// Copies the album's files in the order of the computer's listing; each file
// and then the folder's entries reach the device before the album is done.
// Written files stay open until the album is written: their data goes to the
// device meanwhile, and a driver flushed file by file then finds little left.
bool CCopyJob::CopyFiles(CFolderNode& album, CCopyRecord& made)
{
    const std::u16string relative = album.GetPlayerRelativePath();
    CFolderHandle folder;
    if (const int error = m_player.OpenFolder(made.m_albumFolder, folder)) {
        PlayerFailure(ECall::Write, "Opening \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    std::deque<std::pair<CFile, std::u16string>> written;
    const auto closeOldest = [&] {
        auto [file, name] = std::move(written.front());
        written.pop_front();
        return CloseWrittenFile(file, JoinPath(relative, name));
    };
    for (const CFileEntry& entry : album.m_files[SIDE_COMPUTER]) {
        if (CheckCancel(m_log)) {
            return true; // the caller sees the cancel itself
        }
        CFile output;
        if (!CopyFileEntry(album, entry, made, folder, output)) {
            return false;
        }
        written.emplace_back(std::move(output), PlayerName(entry.m_name));
        if (written.size() > MAX_WRITTEN_FILES && !closeOldest()) {
            return false;
        }
    }
    while (!written.empty()) {
        if (!closeOldest()) {
            return false;
        }
    }
    if (const int error = m_player.Flush(folder)) {
        PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    return true;
}

bool CCopyJob::CopyFileEntry(CFolderNode& album, const CFileEntry& entry, CCopyRecord& made,
                             const CFolderHandle& folder, CFile& output)
{
    const std::int64_t start =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::u16string source =
        LONG_PATH_PREFIX + album.GetPath(SIDE_COMPUTER, false) + PATH_SEPARATOR + entry.m_name;
    const std::string sourceDisplay = ToLogText(album.GetPath(SIDE_COMPUTER, true) + PATH_SEPARATOR + entry.m_name);
    CFile input;
    CFileStamp before;
    int error = input.OpenRead(source);
    if (error == 0) {
        error = input.GetStamp(before);
    }
    if (error != 0) {
        ComputerFailure("Opening \"%s\" : Error %s", sourceDisplay, error);
        return false;
    }

    const std::u16string name = PlayerName(entry.m_name);
    const std::string destinationDisplay = PlayerDisplayPath(JoinPath(album.GetPlayerRelativePath(), name));
    if ((error = folder.CreateFile(name, output))) {
        PlayerFailure(ECall::Write, "Opening \"%s\" : Error %s", destinationDisplay, error);
        return false;
    }
    made.AddFile(name, entry.m_size);

    CCopiedSource copied;
    copied.m_before = before;
    copied.m_nStart = start;
    if (!CopyBytes(input, output, sourceDisplay, destinationDisplay, copied)) {
        return false;
    }
    if ((error = CopiedSourceHeld(input, source, entry, copied))) {
        ComputerFailure("Reading \"%s\" : Error %s", sourceDisplay, error);
        return false;
    }
    output.StartWriteBack(); // overlaps the device writes with the next file's copy
    return true;
}

// Copies until a read returns no more. The cancel state is read between
// buffers, so that one big file does not hold a cancel back; the album is
// then taken away like any canceled one.
bool CCopyJob::CopyBytes(CFile& input, CFile& output, const std::string& sourceDisplay,
                         const std::string& destinationDisplay, CCopiedSource& copied)
{
    for (;;) {
        std::size_t count = 0;
        if (const int error = input.Read(m_buffer.get(), COPY_BUFFER_SIZE, count)) {
            ComputerFailure("Reading \"%s\" : Error %s", sourceDisplay, error);
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (const int error = output.Write(m_buffer.get(), count)) {
            PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", destinationDisplay, error);
            return false;
        }
        copied.m_checksum.Add(m_buffer.get(), count);
        copied.m_nBytes += count;
        m_log.m_nBytesCopied += count;
        if (CheckCancel(m_log)) {
            return false;
        }
    }
}

// A file that changed since the scan, or while it was read, is not the file
// that was chosen, and its copy would be torn or short: the bytes read must be
// the size the scan saw, and the file, by its descriptor and by its path, the
// same after the copy as before it. A file whose times lie within its file
// system's granularity of the copy can have been written meanwhile without
// its times showing it: it is read once more and must give the same checksum.
// Returns 0, ESTALE, or the error of a call.
int CCopyJob::CopiedSourceHeld(CFile& input, const std::u16string& source, const CFileEntry& entry,
                               const CCopiedSource& copied)
{
    CFileStamp after;
    CFileStamp atPath;
    int error = input.GetStamp(after);
    if (error == 0) {
        error = GetFileStamp(source, atPath);
    }
    if (error != 0) {
        return error;
    }
    if (copied.m_nBytes != entry.m_size || after != copied.m_before || atPath != copied.m_before) {
        return ESTALE;
    }
    const std::int64_t granularity = input.TimeGranularity();
    const std::int64_t latest = std::max(copied.m_before.m_modified, copied.m_before.m_changed);
    if (granularity != TIMES_NEVER_MOVE && latest < copied.m_nStart - granularity) {
        return 0;
    }
    CChecksum again;
    std::uint64_t bytes = 0;
    error = input.Rewind();
    for (std::size_t count = 1; error == 0 && count != 0;) {
        if ((error = input.Read(m_buffer.get(), COPY_BUFFER_SIZE, count)) == 0) {
            again.Add(m_buffer.get(), count);
            bytes += count;
        }
    }
    if (error != 0) {
        return error;
    }
    return bytes == copied.m_nBytes && again.Digest() == copied.m_checksum.Digest() ? 0 : ESTALE;
}

// Gives the staging folder the album's name, which must still be free, and
// makes that reach the device.
bool CCopyJob::PublishAlbum(CFolderNode& album, CCopyRecord& made)
{
    const std::u16string relative = album.GetPlayerRelativePath();
    CFolderHandle parent;
    int error = m_player.OpenFolder(album.m_pParent->GetPlayerRelativePath(), parent);
    if (error == 0) {
        error = parent.RenameFolder(STAGING_FOLDER, PlayerName(album.m_names[SIDE_COMPUTER]));
    }
    if (error != 0) {
        PlayerFailure(ECall::Write, "Creating \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    made.Publish(relative);
    if ((error = HoldsWrittenFiles(relative, made)) == 0) {
        error = FlushNewName(album, parent, made);
    }
    if (error != 0) {
        PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", FolderDisplayPath(relative), error);
        return false;
    }
    return true;
}

// A driver may lose a folder's entries when it renames it (fusefat does): the
// published folder must hold just the files written, with their sizes, or it
// is not the album. Once a rename has lost them, no more albums are staged on
// this player and no album to delete is hidden first: each would be lost too.
int CCopyJob::HoldsWrittenFiles(const std::u16string& relative, const CCopyRecord& made)
{
    CFolderHandle folder;
    CFolderListing listing;
    int error = m_player.OpenFolder(relative, folder);
    if (error == 0) {
        error = folder.List(listing);
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
    const bool same = onlyFiles && files == made.Files();
    m_bRenamesLoseEntries |= !same;
    return same ? 0 : ENODATA;
}
