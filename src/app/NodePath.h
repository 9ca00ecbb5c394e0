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

// An album whose step failed in a job: copying it or deleting it.
struct CFailedStep
{
    CKeyPath m_album;
    EPlanStep m_step = EPlanStep::Copy;
};
// The albums of the plan whose step failed, to be found again after the rescan.
std::vector<CFailedStep> FailedSteps(const CCopyPlan& plan);
// Selects again, in the tree of the rescan, each album whose copy failed and
// that the player still lacks, and deselects each album whose deletion failed
// and that is still there: the selection stays what the user asked for.
void ReapplyFailedSteps(CFolderNode& root, const std::vector<CFailedStep>& steps);
