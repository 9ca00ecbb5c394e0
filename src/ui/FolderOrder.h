#pragma once

#include "model/FolderNode.h"

#include <QCollator>

#include <unordered_map>
#include <vector>

// The order in which the window shows a folder's children: the one a file
// manager shows, by the collation of the user's language with numbers by
// their value ("9", "39", "398", "711"; "Édith Piaf" among the E's). Names
// that it holds equal keep the tree's order. The tree keeps its own order, by
// which the two sides are matched and the job writes; this one is only shown.
// A folder's order is made the first time it is asked for, and kept until
// the tree changes.
class CFolderOrder
{
public:
    CFolderOrder();

    // Forgets every order made: the tree has changed.
    void Clear()
    {
        m_orders.clear();
        m_ranks.clear();
    }
    const std::vector<CFolderNode*>& Children(const CFolderNode& folder) const;
    // Where a node stands among its siblings in this order; 0 for the root.
    int Rank(const CFolderNode& node) const;

private:
    QCollator m_collator;
    // The children of each folder ordered so far, and where each of them stands.
    mutable std::unordered_map<const CFolderNode*, std::vector<CFolderNode*>> m_orders;
    mutable std::unordered_map<const CFolderNode*, int> m_ranks;
};
