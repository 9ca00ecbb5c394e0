#include "app/NodePath.h"

#include "model/Selection.h"

#include <algorithm>

CKeyPath KeyPathOf(const CFolderNode& node)
{
    CKeyPath path;
    for (const CFolderNode* folder = &node; folder->m_pParent != nullptr; folder = folder->m_pParent) {
        path.push_back(folder->GetKeyName());
    }
    std::reverse(path.begin(), path.end());
    return path;
}

CFolderNode* FindByKeyPath(CFolderNode& root, const CKeyPath& path)
{
    CFolderNode* node = &root;
    for (const std::u16string& key : path) {
        // Children stand in the order of their key names.
        const auto& children = node->m_children;
        const auto at =
            std::lower_bound(children.begin(), children.end(), key, [](const auto& child, const std::u16string& name) {
                return NameOrderLess(child->GetKeyName(), name);
            });
        if (at == children.end() || (*at)->GetKeyName() != key) {
            return nullptr;
        }
        node = at->get();
    }
    return node;
}

namespace {

// A changed album whose player's version the user keeps; one kept and not
// selected is an album to delete.
bool IsKeptAsPlayers(const CFolderNode& node)
{
    return node.IsAlbum() && node.m_bChanged && node.m_bKeepPlayers && node.m_selected != 0;
}

void CollectChosenSteps(const CFolderNode& node, std::vector<CChosenStep>& steps)
{
    if (node.IsAlbumToCopy() || node.IsAlbumToDelete()) {
        steps.push_back({KeyPathOf(node), node.IsAlbumToCopy() ? EPlanStep::Copy : EPlanStep::Delete});
    } else if (IsKeptAsPlayers(node)) {
        steps.push_back({KeyPathOf(node), EPlanStep::Refresh, true});
    }
    for (const auto& child : node.m_children) {
        CollectChosenSteps(*child, steps);
    }
}

} // namespace

std::vector<CChosenStep> ChosenSteps(const CFolderNode& root)
{
    std::vector<CChosenStep> steps;
    CollectChosenSteps(root, steps);
    return steps;
}

void ReapplyChosenSteps(CFolderNode& root, const std::vector<CChosenStep>& steps)
{
    for (const CChosenStep& step : steps) {
        CFolderNode* album = FindByKeyPath(root, step.m_album);
        if (album == nullptr || !album->IsAlbum()) {
            continue;
        }
        const bool onPlayer = !album->m_names[SIDE_PLAYER].empty();
        if (step.m_step == EPlanStep::Copy && !onPlayer) {
            album->ApplySelection(SELECT_ALL);
        } else if (step.m_step == EPlanStep::Delete && onPlayer) {
            album->ApplySelection(SELECT_NONE);
        } else if (step.m_bKeepPlayers && album->m_bChanged) {
            SetKeepPlayers(*album, true);
        }
    }
}
