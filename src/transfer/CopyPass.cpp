#include "model/FolderNode.h"
#include "platform/FencedTree.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"

#include <memory>

namespace {

// One read and one write move at most this many bytes.
constexpr std::size_t COPY_BUFFER_SIZE = 256 * 1024;

// The player's root label, then a path below the root, each converted on its
// own: the form of the lines about an album's folders.
std::string FolderDisplayPath(const std::u16string& relative)
{
    return ToLogText(ROOT_LABELS[SIDE_PLAYER]) + static_cast<char>(PATH_SEPARATOR) + ToLogText(relative);
}

// The error of an operation on the player: a full disk or a player that is
// gone cancels the job.
int CheckPlayerError(CCopyLog& log, int error)
{
    return CheckPlayerGone(log, CheckDiskFull(log, error));
}

} // namespace

void CFolderNode::CopyPass(CCopyLog& log)
{
    if (CheckCancel(log)) {
        return;
    }
    if (!IsAlbum()) {
        for (const auto& child : m_children) {
            child->CopyPass(log);
        }
        return;
    }
    if (!IsAlbumToCopy()) {
        return;
    }
    log.Add(LOG_INFO, "Copying \"%s\"", ToLogText(GetPath(SIDE_COMPUTER, true)));
    CCopyRecord made;
    const bool created = CreateFolders(log, made);
    const bool complete = created && !CheckCancel(log) && CopyFiles(log, made) && !CheckCancel(log);
    if (!complete) {
        RemoveAlbum(log, created, &made);
    }
    if (CheckCancel(log)) {
        return; // a canceled album is neither counted nor reported
    }
    log.CountDown(log.m_nAlbumsToCopy);
}

// Folders that exist on the player keep the player's names; only those below
// are made, under the computer's names.
bool CFolderNode::CreateFolders(CCopyLog& log, CCopyRecord& made)
{
    if (m_pParent == nullptr) {
        return true; // the player's music folder itself is never created
    }
    if (!m_pParent->CreateFolders(log, made)) {
        return false;
    }
    const std::u16string relative = GetPlayerRelativePath();
    bool bCreated = false;
    if (const int error = log.m_player.MakeFolder(relative, bCreated)) {
        const int code = CheckPlayerError(log, error);
        log.Add(LOG_ERROR, "Creating \"%s\" : Error %s", FolderDisplayPath(relative), SystemErrorText(code));
        return false;
    }
    if (bCreated) {
        made.AddFolder(relative);
    }
    return true;
}

// Copies the album's files in the order of the computer's listing, then flushes
// the player's file system once: only then is the album on the player for sure.
bool CFolderNode::CopyFiles(CCopyLog& log, CCopyRecord& made)
{
    const std::u16string relative = GetPlayerRelativePath();
    CFolderHandle folder;
    if (const int error = log.m_player.OpenFolder(relative, folder)) {
        const int code = CheckPlayerError(log, error);
        log.Add(LOG_ERROR, "Opening \"%s\" : Error %s", FolderDisplayPath(relative), SystemErrorText(code));
        return false;
    }
    for (const CFileEntry& entry : m_files[SIDE_COMPUTER]) {
        if (CheckCancel(log)) {
            return true; // the caller sees the cancel itself
        }
        if (!CopyFileEntry(log, entry, made, folder)) {
            return false;
        }
    }
    if (const int error = folder.SyncFileSystem()) {
        const int code = CheckPlayerError(log, error);
        log.Add(LOG_ERROR, "Writing \"%s\" : Error %s", FolderDisplayPath(relative), SystemErrorText(code));
        return false;
    }
    return true;
}

// The cancel state is read between buffers, so that one big file does not
// hold a cancel back; the album is then taken away like any canceled one.
bool CFolderNode::CopyFileEntry(CCopyLog& log, const CFileEntry& entry, CCopyRecord& made, const CFolderHandle& folder)
{
    const std::u16string source = LONG_PATH_PREFIX + GetPath(SIDE_COMPUTER, false) + PATH_SEPARATOR + entry.m_name;
    const std::string sourceDisplay = ToLogText(GetPath(SIDE_COMPUTER, true) + PATH_SEPARATOR + entry.m_name);
    CFile input;
    if (const int error = input.OpenRead(source)) {
        const int code = CheckDiskFull(log, error);
        log.Add(LOG_ERROR, "Opening \"%s\" : Error %s", sourceDisplay, SystemErrorText(code));
        return false;
    }

    const std::u16string relative = GetPlayerRelativePath() + PATH_SEPARATOR + entry.m_name;
    const std::string destinationDisplay = PlayerDisplayPath(relative);
    CFile output;
    if (const int error = folder.CreateFile(entry.m_name, output)) {
        const int code = CheckPlayerError(log, error);
        log.Add(LOG_ERROR, "Opening \"%s\" : Error %s", destinationDisplay, SystemErrorText(code));
        return false;
    }
    made.AddFile(relative);

    const auto buffer = std::make_unique<char[]>(COPY_BUFFER_SIZE);
    bool result = true;
    for (;;) {
        std::size_t count = 0;
        if (const int error = input.Read(buffer.get(), COPY_BUFFER_SIZE, count)) {
            const int code = CheckDiskFull(log, error);
            log.Add(LOG_ERROR, "Reading \"%s\" : Error %s", sourceDisplay, SystemErrorText(code));
            result = false;
            break;
        }
        if (count == 0) {
            break;
        }
        if (const int error = output.Write(buffer.get(), count)) {
            const int code = CheckPlayerError(log, error);
            log.Add(LOG_ERROR, "Writing \"%s\" : Error %s", destinationDisplay, SystemErrorText(code));
            result = false;
            break;
        }
        if (CheckCancel(log)) {
            result = false;
            break;
        }
    }
    input.Close();
    if (result) {
        output.StartWriteBack(); // overlaps the device writes with the next file's copy
    }
    // Data that reaches the device only now can still fail to be written.
    if (const int error = output.Close(); error != 0 && result) {
        const int code = CheckPlayerError(log, error);
        log.Add(LOG_ERROR, "Writing \"%s\" : Error %s", destinationDisplay, SystemErrorText(code));
        result = false;
    }
    return result;
}
