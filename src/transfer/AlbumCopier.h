#pragma once

#include "model/FolderNode.h"
#include "transfer/JobContext.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

class CCopyRecord;
class CDeletePass;
class CFile;
class CFolderHandle;
class CRemover;
class IFileWriter;

// Copies the selected albums that the player lacks, and writes anew those
// that changed on the computer. An album is written into a staging folder,
// each file by the writer with its source's modification time, then its
// record (the manifest), and published under its name once it is complete on
// the device; a changed album's new version takes the place of the old one in
// one step. What a copy that did not complete made is taken away again.
class CAlbumCopier
{
public:
    CAlbumCopier(CJobContext& context, CRemover& remover, const CDeletePass& deletePass, IFileWriter& writer)
        : m_context(context), m_remover(remover), m_deletePass(deletePass), m_writer(writer)
    {
    }

    // Every album to copy or refresh below node, in the tree's order, until a
    // cancel.
    void CopyPass(CFolderNode& node);

private:
    void CopyAlbum(CFolderNode& album);
    void RefreshAlbum(CFolderNode& album);
    // Counts a treated album as copied, done or failed.
    void CountAlbum(const CFolderNode& album, std::uint64_t bytesBefore, bool complete);
    // Whether the new version of a changed album fits beside the old one;
    // logs why not.
    bool HasRoomBesideOld(const CFolderNode& album);
    // Whether the player's folder of a changed album is still the one the
    // scan read, and its files only the player's; logs why not.
    bool OldAlbumHeld(const CFolderNode& album, const CFolderHandle& parent);
    bool SwapAlbum(CFolderNode& album, CCopyRecord& made);
    int SwapByRenames(const CFolderNode& album, const CFolderHandle& parent, CCopyRecord& made,
                      std::u16string& oldName);
    void DeleteOldVersion(const CFolderNode& album, const CFolderHandle& parent, const std::u16string& oldName);
    void RemoveStaged(CFolderNode& album, const CCopyRecord& made);
    bool WriteManifest(const CFolderNode& album, CCopyRecord& made, const CFolderHandle& folder);
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
    bool CloseWrittenFile(CFile& file, const std::u16string& relative, std::optional<std::int64_t> modified);
    bool PublishAlbum(CFolderNode& album, CCopyRecord& made);
    int HoldsWrittenFiles(const std::u16string& relative, const CCopyRecord& made);
    int FlushNewName(const CFolderNode& album, const CFolderHandle& parent, const CCopyRecord& made) const;

    CJobContext& m_context;
    CRemover& m_remover;
    const CDeletePass& m_deletePass;
    IFileWriter& m_writer;
    // Of each folder whose children a copy has looked at: how many children
    // have each name on the player, with case folded as FAT does.
    std::unordered_map<const CFolderNode*, std::unordered_map<std::u16string, int>> m_childPlayerNames;
};
