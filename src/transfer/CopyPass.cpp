#include "model/FolderNode.h"
#include "platform/FileSystem.h"
#include "transfer/CopyLog.h"
#include "transfer/CopyRecord.h"

#include <memory>

namespace {

// One read and one write move at most this many bytes.
constexpr std::size_t COPY_BUFFER_SIZE = 256 * 1024;

// The player's root label, then a path below the root, each converted on its own.
std::string PlayerDisplayPath(const std::u16string& relative)
{
    return ToLogText(ROOT_LABELS[SIDE_PLAYER]) + static_cast<char>(PATH_SEPARATOR) + ToLogText(relative);
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
        RemoveAlbum(log, SIDE_COMPUTER, created, &made);
    }
    if (CheckCancel(log)) {
        return; // a canceled album is neither counted nor reported
    }
    log.CountDown(log.m_nAlbumsToCopy);
}

bool CFolderNode::CreateFolders(CCopyLog& log, CCopyRecord& made)
{
    if (m_pParent == nullptr) {
        return true; // the player's music folder itself is never created
    }
    if (!m_pParent->CreateFolders(log, made)) {
        return false;
    }
    const std::u16string path = LONG_PATH_PREFIX + GetPath(SIDE_PLAYER, SIDE_COMPUTER, false);
    if (IsExistingFolder(path)) {
        return true;
    }
    if (const int error = CreateFolder(path)) {
        const int code = CheckDiskFull(log, error);
        log.Add(LOG_ERROR, "Creating \"%s\" : Error %s", PlayerDisplayPath(GetRelativePath(SIDE_COMPUTER)),
                SystemErrorText(code));
        return false;
    }
    made.AddFolder(path);
    return true;
}

// Copies the album's files in the order of the computer's listing, then flushes
// the player's file system once: only then is the album on the player for sure.
bool CFolderNode::CopyFiles(CCopyLog& log, CCopyRecord& made)
{
    const std::u16string folder = LONG_PATH_PREFIX + GetPath(SIDE_PLAYER, SIDE_COMPUTER, false);
    const std::string display = PlayerDisplayPath(GetRelativePath(SIDE_COMPUTER));
    CFolderHandle handle;
    if (const int error = handle.Open(folder)) {
        log.Add(LOG_ERROR, "Opening \"%s\" : Error %s", display, SystemErrorText(CheckDiskFull(log, error)));
        return false;
    }
    for (const CFileEntry& entry : m_files[SIDE_COMPUTER]) {
        if (CheckCancel(log)) {
            return true; // the caller sees the cancel itself
        }
        if (!CopyFileEntry(log, entry, made)) {
            return false;
        }
    }
    if (const int error = handle.SyncFileSystem()) {
        const int code = CheckDiskFull(log, error);
        log.Add(LOG_ERROR, "Writing \"%s\" : Error %s", display, SystemErrorText(code));
        return false;
    }
    return true;
}

bool CFolderNode::CopyFileEntry(CCopyLog& log, const CFileEntry& entry, CCopyRecord& made)
{
    const std::u16string source = LONG_PATH_PREFIX + GetPath(SIDE_COMPUTER, false) + PATH_SEPARATOR + entry.m_name;
    const std::string sourceDisplay = ToLogText(GetPath(SIDE_COMPUTER, true) + PATH_SEPARATOR + entry.m_name);
    CFile input;
    if (const int error = input.OpenRead(source)) {
        const int code = CheckDiskFull(log, error);
        log.Add(LOG_ERROR, "Opening \"%s\" : Error %s", sourceDisplay, SystemErrorText(code));
        return false;
    }

    const std::u16string destination =
        LONG_PATH_PREFIX + GetPath(SIDE_PLAYER, SIDE_COMPUTER, false) + PATH_SEPARATOR + entry.m_name;
    const std::u16string relative = GetRelativePath(SIDE_COMPUTER) + PATH_SEPARATOR + entry.m_name;
    const std::string destinationDisplay =
        ToLogText(ROOT_LABELS[SIDE_PLAYER] + std::u16string(1, PATH_SEPARATOR) + relative);
    CFile output;
    if (const int error = output.CreateNew(destination)) {
        const int code = CheckDiskFull(log, error);
        log.Add(LOG_ERROR, "Opening \"%s\" : Error %s", destinationDisplay, SystemErrorText(code));
        return false;
    }
    made.AddFile(destination);

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
            const int code = CheckDiskFull(log, error);
            log.Add(LOG_ERROR, "Writing \"%s\" : Error %s", destinationDisplay, SystemErrorText(code));
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
        const int code = CheckDiskFull(log, error);
        log.Add(LOG_ERROR, "Writing \"%s\" : Error %s", destinationDisplay, SystemErrorText(code));
        result = false;
    }
    return result;
}
