#pragma once

#include "model/FolderNode.h"
#include "platform/FencedTree.h"
#include "transfer/Checksum.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

class CCopyLog;
class CCopyRecord;

// One copy job: brings the player's music folder in line with the selection
// of a scanned tree. It clears what a job that was cut off left, deletes the
// albums that are no longer selected, then copies the selected albums that
// the player lacks, reporting everything to the log. It reaches the player
// only through its fenced root folder; the tree must not change while it runs.
class CCopyJob
{
public:
    CCopyJob(CFolderNode& root, const CScanRecord& record, CCopyLog& log);

    // Opens the player's music folder for the job. Fails with ESTALE when it
    // is no longer the folder that was scanned, and with EWOULDBLOCK while
    // another job holds it.
    int OpenPlayer();
    // Lets the player's folder go, so that it can be unmounted.
    void ClosePlayer() { m_player.Close(); }

    // The whole job: leftovers, then the delete pass, then the copy pass.
    void Run();
    // Every staging folder the scan found, until a cancel.
    void RemoveLeftovers();
    void DeletePass();
    void CopyPass() { CopyPass(m_root); }

private:
    // The kind of a failed call on the player: deleting only frees space, so a
    // full disk stops the job only while it writes.
    enum class ECall { Write, Delete };

    // Every failed call ends in one of these: they cancel the job when the
    // error stops it, then write the call's line with the error's text.
    void PlayerFailure(ECall call, const char* format, const std::string& display, int error);
    void ComputerFailure(const char* format, const std::string& display, int error);

    // Deleting, on the player's folders at GetPlayerRelativePath. With pMade
    // set, only what that record says a copy made is deleted; everything else
    // stays with its folder.
    struct CDeletion
    {
        CFolderNode* m_pAlbum = nullptr;
        std::u16string m_hiddenName; // empty when it kept its own
        CFolderListing m_listing;    // of a hidden album: what its folder holds
        bool m_bLost = false;        // the rename lost what it held
        bool m_bComputers = false;   // the computer's own folder, through a link there
    };
    bool HideAlbumsToDelete(CFolderNode& node, std::vector<CDeletion>& deletions);
    void HideAlbum(CDeletion& deletion);
    // Whether the album's folder on the player is its folder on the computer:
    // a link there leads to it, or a link of a computer file to a file of it.
    bool IsComputersFolder(const CFolderNode& album);
    static bool HoldsComputersFiles(const CFolderNode& album, const CFolderHandle& folder);
    bool DeleteHiddenAlbum(const CDeletion& deletion);
    void FlushParents(std::span<const CDeletion> deletions);
    void RestoreNames(std::span<const CDeletion> deletions);
    void RenameBack(const CFolderNode& album, const std::u16string& hiddenName);
    void RemoveAlbum(CFolderNode& album, bool includeSelf, const CCopyRecord* pMade);
    bool DeleteFolder(CFolderNode& album, const CCopyRecord* pMade);
    bool PruneFolder(CFolderNode& node, const CCopyRecord* pMade);
    void PruneFrom(CFolderNode* node, const CCopyRecord* pMade);
    void RemoveLeftover(const CLeftover& leftover);
    bool ListFolder(const std::u16string& relative, CFolderHandle& folder, CFolderListing& listing,
                    const std::u16string& display);
    bool RemoveFolder(const std::u16string& relative, const std::u16string& display);
    bool EmptyFolder(const CFolderHandle& folder, const CFolderListing& listing, const std::u16string& display,
                     const CCopyRecord* pMade);
    static bool HasSubFolder(const CFolderListing& listing);
    // Whether a folder holds just the files that the scan read there, by name,
    // size and modification time. Another player plugged into the same slot,
    // or files added or rewritten since, make it a folder that the user never
    // chose to delete.
    static bool HoldsScannedFiles(const CFolderListing& listing, const std::vector<CFileEntry>& files);

    // Copying; made records what the copy creates on the player. A new album
    // is written into a staging folder and published under its name once it
    // is complete on the device.
    void CopyPass(CFolderNode& node);
    // Whether the player's file system can hold the album, checked before
    // anything of it is written; logs why not.
    bool FitsOnPlayer(const CFolderNode& album);
    // Whether another folder beside node has, or would take, node's name on
    // the player: a copy would put the two into one folder.
    bool SharesPlayerName(const CFolderNode& node);
    bool CreateFolders(CFolderNode& node, CCopyRecord& made);
    bool CopyFiles(CFolderNode& album, CCopyRecord& made);
    // Writes one file of the album into its open folder; leaves the written
    // file open in output, for CopyFiles to flush and close.
    bool CopyFileEntry(CFolderNode& album, const CFileEntry& entry, CCopyRecord& made, const CFolderHandle& folder,
                       CFile& output);
    // What the copy of one file saw of its source: the stamp when it was
    // opened, when the copy began (nanoseconds since 1970), and the bytes read.
    struct CCopiedSource
    {
        CFileStamp m_before;
        std::int64_t m_nStart = 0;
        std::uint64_t m_nBytes = 0;
        CChecksum m_checksum;
    };
    bool CopyBytes(CFile& input, CFile& output, const std::string& sourceDisplay, const std::string& destinationDisplay,
                   CCopiedSource& copied);
    int CopiedSourceHeld(CFile& input, const std::u16string& source, const CFileEntry& entry,
                         const CCopiedSource& copied);
    bool CloseWrittenFile(CFile& file, const std::u16string& relative);
    bool PublishAlbum(CFolderNode& album, CCopyRecord& made);
    int HoldsWrittenFiles(const std::u16string& relative, const CCopyRecord& made);
    int FlushNewName(const CFolderNode& album, const CFolderHandle& parent, const CCopyRecord& made) const;

    CFolderNode& m_root;
    const CScanRecord& m_record;
    CCopyLog& m_log;
    // The player's music folder, held open while the job runs: everything it
    // deletes or writes is reached through it.
    CFencedTree m_player;
    // A rename on the player has lost a folder's entries; the first rename
    // of an album to delete has been checked.
    bool m_bRenamesLoseEntries = false;
    bool m_bRenamesChecked = false;
    // Albums given a hidden name so far.
    int m_nHidden = 0;
    // Of each folder whose children a copy has looked at: how many children
    // have each name on the player, with case folded as FAT does.
    std::unordered_map<const CFolderNode*, std::unordered_map<std::u16string, int>> m_childPlayerNames;
    // The folders that removing leftovers has pruned.
    std::set<std::u16string> m_prunedFolders;
    // One read and one write move at most this many bytes.
    static constexpr std::size_t COPY_BUFFER_SIZE = 256 * 1024;
    std::unique_ptr<char[]> m_buffer = std::make_unique<char[]>(COPY_BUFFER_SIZE);
};
