#pragma once

#include "model/FolderNode.h"
#include "ui/FolderFilter.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <QString>

#include <array>
#include <span>
#include <vector>

// The folder tree as an item model: one item per node that the filter shows,
// whose index carries the node itself. Labels and images are read from the
// node on every request, so they are those of the whole tree.
class CFolderTreeModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit CFolderTreeModel(QObject* parent = nullptr);

    // Shows a new tree (or none) through the filter last set; every earlier index is invalid afterwards.
    void SetRoot(CFolderNode* pRoot);
    // Shows the part of the tree that words and a quick view leave; every
    // earlier index is invalid afterwards. False, and nothing changed, when
    // that part is shown already.
    bool SetFilter(const QString& words, EQuickView view);
    bool IsFiltered() const { return m_filter.IsActive(); }
    int CountAlbumsShown() const { return m_filter.CountAlbumsShown(); }
    CFolderNode* NodeFromIndex(const QModelIndex& index) const;
    // An invalid index for a node that the filter hides.
    QModelIndex IndexFromNode(const CFolderNode* node) const;
    // The albums shown at or below an item.
    std::vector<CFolderNode*> AlbumsShown(const QModelIndex& item) const;
    // Sets the selection of the albums shown below an item by a selection
    // mode and tells the views of every row whose label or image that changes:
    // the item's ancestors and its subtree, the rest being unchanged.
    void ApplySelection(const QModelIndex& item, int mode);
    // Keeps the player's version of changed albums for the job, or lets the
    // job replace it, and tells the views of their rows and their ancestors'.
    void SetKeepPlayers(std::span<CFolderNode* const> albums, bool bKeep);
    // The same for every changed album of the tree, shown or not.
    void SetKeepAllPlayers(bool bKeep);
    // Every label and image may have changed: a new format, a new writer.
    void TreeChanged();

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

signals:
    // A selection has been applied; the counts of the root have changed.
    void selectionApplied();

private:
    // The label and image of one node, or of all children of one node, have changed.
    void NodeChanged(const CFolderNode* node);
    void ChildrenChanged(const CFolderNode* node);
    // The rows below a node, a whole row of siblings at a time.
    void SubtreeChanged(const CFolderNode* node);
    static QPixmap MarkedImage(const QPixmap& image, const char* mark);

    CFolderNode* m_pRoot = nullptr;
    CFolderFilter m_filter;
    // By selection state; for a changed album, with a mark: one to replace, and one kept.
    std::array<QIcon, 3> m_images;
    std::array<QIcon, 3> m_changedImages;
    std::array<QIcon, 3> m_keptImages;
};

// The two folders of a root written out in full, each on a line of its own:
// "Computer music folder : /home/me/Music", then the Jukebit's.
QString MusicFoldersText(const CFolderNode& root);
