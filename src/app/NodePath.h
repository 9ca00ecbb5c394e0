#pragma once

#include "model/FolderNode.h"
#include "transfer/CopyPlan.h"

#include <string>
#include <vector>

// A folder's place in the tree as the key names of the folders from below the
// root down to it: it finds the same folder again in the tree of a later scan.
using CKeyPath = std::vector<std::u16string>;

CKeyPath KeyPathOf(const CFolderNode& node);
// The node at path below root, or null when the tree has none there.
CFolderNode* FindByKeyPath(CFolderNode& root, const CKeyPath& path);

// An album the user chose to copy or to delete, or a changed album whose
// player's version the user keeps (m_bKeepPlayers, with the step Refresh).
struct CChosenStep
{
    CKeyPath m_album;
    EPlanStep m_step = EPlanStep::Copy;
    bool m_bKeepPlayers = false;
};
// The albums to copy and to delete below root, and the changed albums kept as
// the player has them, to be found again in the tree of a new scan.
std::vector<CChosenStep> ChosenSteps(const CFolderNode& root);
// Selects again, in the tree of a new scan, each album chosen to copy that the
// player still lacks, deselects each album chosen to delete that is still
// there, and keeps again the player's version of each album kept that is
// still changed: whatever a job did not carry out, or a rescan read anew,
// stays what the user asked for.
void ReapplyChosenSteps(CFolderNode& root, const std::vector<CChosenStep>& steps);
