#pragma once

#include "model/FolderNode.h"
#include "transfer/JobContext.h"

#include <set>
#include <string>
#include <vector>

class CCopyRecord;
class CFolderHandle;

// What a removal may take from the player's folders. Deleting an album takes
// everything the scan read there; undoing a copy that did not complete takes
// only what the copy made, and everything else stays with its folder.
class IRemovalPolicy
{
public:
    // The folder that holds the album's files on the player.
    virtual std::u16string AlbumFolder(const CFolderNode& album) const = 0;
    // Whether the album's folder must still hold just what the scan read
    // there; the folders such a removal prunes stay gone for the job.
    virtual bool FollowsScan() const = 0;
    virtual bool MayRemoveFile(const std::u16string& name) const = 0;
    virtual bool MayRemoveFolder(const std::u16string& relative) const = 0;
    // Whether the folder exists as far as the removal knows: a copy that did
    // not complete made nothing below the first folder it could not make.
    virtual bool Reached(const std::u16string& relative) const = 0;

protected:
    ~IRemovalPolicy() = default;
};

// Deleting the albums the user no longer wants, and what jobs cut off left.
class CDeletePolicy final : public IRemovalPolicy
{
public:
    std::u16string AlbumFolder(const CFolderNode& album) const override { return album.GetPlayerRelativePath(); }
    bool FollowsScan() const override { return true; }
    bool MayRemoveFile(const std::u16string&) const override { return true; }
    bool MayRemoveFolder(const std::u16string&) const override { return true; }
    bool Reached(const std::u16string&) const override { return true; }
};

// Taking away what the copy of one album made.
class CUndoCopyPolicy final : public IRemovalPolicy
{
public:
    explicit CUndoCopyPolicy(const CCopyRecord& made) : m_made(made) {}

    std::u16string AlbumFolder(const CFolderNode& album) const override;
    bool FollowsScan() const override { return false; }
    bool MayRemoveFile(const std::u16string& name) const override;
    bool MayRemoveFolder(const std::u16string& relative) const override;
    bool Reached(const std::u16string& relative) const override;

private:
    const CCopyRecord& m_made;
};

// The hidden name that the old version of a changed album takes while the new
// one takes its place: a staging folder's, which also tells the album's name,
// so that a job cut off between the two renames can put the old one back.
std::u16string OldVersionName(const std::u16string& album);

bool HasSubFolder(const CFolderListing& listing);
// Whether a folder holds just the files that the scan read there, by name,
// size and modification time, and the album's manifest, which the scan takes
// as the album's record. Another player plugged into the same slot, or files
// added or rewritten since, make it a folder that the user never chose to
// delete.
bool HoldsScannedFiles(const CFolderListing& listing, const std::vector<CFileEntry>& files);

// Removes albums' folders from the player, on the player's folders at
// GetPlayerRelativePath, with the folders they leave empty; and the staging
// folders that jobs cut off left.
class CRemover
{
public:
    CRemover(CJobContext& context, const CScanRecord& record) : m_context(context), m_record(record) {}

    // Every staging folder the scan found, until a cancel.
    void RemoveLeftovers();
    // Logs the album's deletion, removes its folder when includeSelf, then
    // the folders above that this leaves empty.
    void RemoveAlbum(CFolderNode& album, bool includeSelf, const IRemovalPolicy& policy);
    // An album that keeps its name while it is deleted; false when its
    // folder stays.
    bool DeleteFolder(CFolderNode& album, const IRemovalPolicy& policy);
    // Removes node's folder and each one above it while that leaves it empty.
    void PruneFrom(CFolderNode* node, const IRemovalPolicy& policy);
    // Deletes the listed files of an open folder that the policy may remove.
    // True when the folder may go: no sub-folder seen, nothing kept.
    bool EmptyFolder(const CFolderHandle& folder, const CFolderListing& listing, const std::u16string& display,
                     const IRemovalPolicy& policy);

private:
    void RemoveLeftover(const CLeftover& leftover);
    // Gives the old version of a changed album its name back when a job cut
    // off between the two renames of its refresh left that name free.
    bool RestoreOldVersion(const CLeftover& leftover);
    bool PruneFolder(CFolderNode& node, const IRemovalPolicy& policy);
    bool ListFolder(const std::u16string& relative, CFolderHandle& folder, CFolderListing& listing,
                    const std::u16string& display);
    bool RemoveFolder(const std::u16string& relative, const std::u16string& display);

    CJobContext& m_context;
    const CScanRecord& m_record;
    // The folders that removing leftovers and albums has pruned.
    std::set<std::u16string> m_prunedFolders;
};
