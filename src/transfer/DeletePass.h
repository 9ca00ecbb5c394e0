#pragma once

#include "model/FolderNode.h"
#include "transfer/JobContext.h"

#include <span>
#include <string>
#include <vector>

class CFolderHandle;
class CRemover;

// Deletes from the player the albums that are no longer selected.
class CDeletePass
{
public:
    CDeletePass(CJobContext& context, const CScanRecord& record, CRemover& remover)
        : m_context(context), m_record(record), m_remover(remover)
    {
    }

    void Run(CFolderNode& root);
    // Whether the album's folder on the player is its folder on the computer:
    // a link there leads to it, or a link of a computer file to a file of it.
    bool IsComputersFolder(const CFolderNode& album) const;

private:
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
    bool HoldsComputersFiles(const CFolderNode& album, const CFolderHandle& folder) const;
    bool HoldsFilesTheComputerLinksTo(const CFolderNode& album) const;
    bool DeleteHiddenAlbum(const CDeletion& deletion);
    void FlushParents(std::span<const CDeletion> deletions);
    void RestoreNames(std::span<const CDeletion> deletions);
    void RenameBack(const CFolderNode& album, const std::u16string& hiddenName);

    CJobContext& m_context;
    const CScanRecord& m_record;
    CRemover& m_remover;
    // Albums given a hidden name so far.
    int m_nHidden = 0;
};
