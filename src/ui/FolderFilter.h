#pragma once

#include "model/FolderNode.h"
#include "ui/FolderOrder.h"

#include <QString>
#include <QStringList>

#include <unordered_map>
#include <utility>
#include <vector>

// Which albums a quick view of the tree takes.
enum class EQuickView { All, Changes, PlayerOnly };

// The folder tree as a filter shows it: the albums whose path below the root
// holds every word typed, anywhere and with case and accents ignored, and that
// the quick view takes, each with its ancestors; the root always. Without
// words and quick view it shows the whole tree. What a quick view takes is
// decided when the filter is applied, so that a toggle never makes rows come
// and go under the pointer. The children of a folder are shown in the order
// of CFolderOrder.
class CFolderFilter
{
public:
    // A new tree (or none), shown through the filter last applied.
    void SetTree(CFolderNode* pRoot);
    // The words of a text as they are matched.
    static QStringList Words(const QString& text);
    bool Shows(const QStringList& words, EQuickView view) const { return words == m_words && view == m_view; }
    void Apply(const QStringList& words, EQuickView view);
    bool IsActive() const { return !m_words.isEmpty() || m_view != EQuickView::All; }

    // Inline: the view asks it of every row it lays out.
    int ChildCount(const CFolderNode& node) const
    {
        return IsActive() && !node.IsAlbum() ? ShownChildCount(node) : static_cast<int>(node.m_children.size());
    }
    CFolderNode* Child(const CFolderNode& node, int row) const;
    // Where a node stands among the children shown of its parent; -1 when it is hidden.
    int Row(const CFolderNode& node) const;
    // The albums shown at or below a node, in the order shown.
    std::vector<CFolderNode*> AlbumsShown(CFolderNode& node) const;
    int CountAlbumsShown() const { return m_nAlbumsShown; }

    // Text as it is matched: compatibility forms, accents and punctuation dropped, case folded.
    static QString Fold(const QString& text);

private:
    int ShownChildCount(const CFolderNode& folder) const;
    void Filter();
    bool Takes(const CFolderNode& album) const;
    void Show(CFolderNode* node);
    void OrderShownChildren();
    void FoldPaths(CFolderNode& node, const QString& path);

    CFolderNode* m_pRoot = nullptr;
    QStringList m_words;
    EQuickView m_view = EQuickView::All;
    // Every album with its folded path below the root, in tree order: made once a tree, on its first filter.
    std::vector<std::pair<CFolderNode*, QString>> m_albumPaths;
    // While the filter is active, the children shown of each folder shown
    // but the albums, in the order of m_order: few entries, even when many
    // albums are shown.
    std::unordered_map<const CFolderNode*, std::vector<CFolderNode*>> m_shownChildren;
    int m_nAlbumsShown = 0;
    CFolderOrder m_order;
};
