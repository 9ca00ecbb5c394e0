#include "ui/FolderTreeModel.h"

#include "app/Presentation.h"
#include "model/Selection.h"
#include "resources/ResourceIds.h"

#include <QDir>
#include <QPainter>

#include <algorithm>

// The images are compiled into this static library; a library's resources
// must be registered by hand.
static void InitResources()
{
    Q_INIT_RESOURCE(lyrafetch);
}

CFolderTreeModel::CFolderTreeModel(QObject* parent) : QAbstractItemModel(parent)
{
    InitResources();
    // One image serves as normal and as selected image: a check box tinted by the selection would hide its state.
    const auto add = [](QIcon& icon, const QPixmap& image) {
        icon.addPixmap(image, QIcon::Normal);
        icon.addPixmap(image, QIcon::Selected);
    };
    for (std::size_t state = 0; state < m_images.size(); ++state) {
        const QPixmap image(IDB_CHECKBOX_IMAGES[state]);
        add(m_images[state], image);
        add(m_changedImages[state], MarkedImage(image, IDB_CHANGED_MARK));
        add(m_keptImages[state], MarkedImage(image, IDB_KEPT_MARK));
    }
}

QPixmap CFolderTreeModel::MarkedImage(const QPixmap& image, const char* mark)
{
    QPixmap marked = image;
    QPainter painter(&marked);
    painter.drawPixmap(0, 0, QPixmap(mark));
    return marked;
}

void CFolderTreeModel::SetRoot(CFolderNode* pRoot)
{
    beginResetModel();
    m_pRoot = pRoot;
    m_filter.SetTree(pRoot);
    endResetModel();
}

bool CFolderTreeModel::SetFilter(const QString& words, EQuickView view)
{
    const QStringList folded = CFolderFilter::Words(words);
    if (m_filter.Shows(folded, view)) {
        return false;
    }
    // Rows come and go by the thousand: one reset costs the views less than a signal a range.
    beginResetModel();
    m_filter.Apply(folded, view);
    endResetModel();
    return true;
}

CFolderNode* CFolderTreeModel::NodeFromIndex(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<CFolderNode*>(index.internalPointer()) : nullptr;
}

QModelIndex CFolderTreeModel::IndexFromNode(const CFolderNode* node) const
{
    const int row = node ? m_filter.Row(*node) : -1;
    return row >= 0 ? createIndex(row, 0, const_cast<CFolderNode*>(node)) : QModelIndex();
}

std::vector<CFolderNode*> CFolderTreeModel::AlbumsShown(const QModelIndex& item) const
{
    CFolderNode* node = NodeFromIndex(item);
    return node ? m_filter.AlbumsShown(*node) : std::vector<CFolderNode*>();
}

void CFolderTreeModel::ApplySelection(const QModelIndex& item, int mode)
{
    CFolderNode* node = NodeFromIndex(item);
    if (node == nullptr) {
        return;
    }
    if (m_filter.IsActive()) {
        ApplyAlbumSelection(m_filter.AlbumsShown(*node), mode);
    } else {
        node->ApplySelection(mode);
    }
    for (const CFolderNode* ancestor = node->m_pParent; ancestor != nullptr; ancestor = ancestor->m_pParent) {
        NodeChanged(ancestor);
    }
    // The node, then its children a whole row of siblings at a time.
    NodeChanged(node);
    SubtreeChanged(node);
    emit selectionApplied();
}

void CFolderTreeModel::SetKeepPlayers(std::span<CFolderNode* const> albums, bool bKeep)
{
    for (CFolderNode* album : albums) {
        ::SetKeepPlayers(*album, bKeep);
        NodeChanged(album);
        for (const CFolderNode* ancestor = album->m_pParent; ancestor != nullptr; ancestor = ancestor->m_pParent) {
            NodeChanged(ancestor);
        }
    }
    emit selectionApplied();
}

void CFolderTreeModel::SetKeepAllPlayers(bool bKeep)
{
    if (m_pRoot != nullptr) {
        ::SetKeepAllPlayers(*m_pRoot, bKeep);
        TreeChanged();
        emit selectionApplied();
    }
}

void CFolderTreeModel::TreeChanged()
{
    if (m_pRoot == nullptr) {
        return;
    }
    NodeChanged(m_pRoot);
    SubtreeChanged(m_pRoot);
}

void CFolderTreeModel::NodeChanged(const CFolderNode* node)
{
    const QModelIndex index = IndexFromNode(node);
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::DecorationRole});
}

void CFolderTreeModel::SubtreeChanged(const CFolderNode* node)
{
    ChildrenChanged(node);
    for (int row = 0, count = m_filter.ChildCount(*node); row < count; ++row) {
        SubtreeChanged(m_filter.Child(*node, row));
    }
}

void CFolderTreeModel::ChildrenChanged(const CFolderNode* node)
{
    const int count = m_filter.ChildCount(*node);
    if (count > 0) {
        emit dataChanged(createIndex(0, 0, m_filter.Child(*node, 0)),
                         createIndex(count - 1, 0, m_filter.Child(*node, count - 1)),
                         {Qt::DisplayRole, Qt::DecorationRole});
    }
}

QModelIndex CFolderTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0) {
        return {};
    }
    if (!parent.isValid()) {
        return m_pRoot && row == 0 ? createIndex(0, 0, m_pRoot) : QModelIndex();
    }
    const CFolderNode* node = NodeFromIndex(parent);
    if (row >= m_filter.ChildCount(*node)) {
        return {};
    }
    return createIndex(row, 0, m_filter.Child(*node, row));
}

QModelIndex CFolderTreeModel::parent(const QModelIndex& child) const
{
    const CFolderNode* node = NodeFromIndex(child);
    return node ? IndexFromNode(node->m_pParent) : QModelIndex();
}

int CFolderTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid()) {
        return m_pRoot ? 1 : 0;
    }
    return parent.column() == 0 ? m_filter.ChildCount(*NodeFromIndex(parent)) : 0;
}

int CFolderTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant CFolderTreeModel::data(const QModelIndex& index, int role) const
{
    const CFolderNode* node = NodeFromIndex(index);
    if (node == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(FormatItemLabel(*node));
    case Qt::DecorationRole:
        if (node->IsAlbum() && node->m_bChanged) {
            return (node->m_bKeepPlayers ? m_keptImages : m_changedImages)[node->GetSelectionState()];
        }
        return m_images[node->GetSelectionState()];
    case Qt::ToolTipRole: {
        const QString text = QString::fromStdString(FormatItemTooltip(*node));
        return node->m_pParent == nullptr ? text + u'\n' + MusicFoldersText(*node) : text;
    }
    default:
        return {};
    }
}

QString MusicFoldersText(const CFolderNode& root)
{
    // A folder given relative to the working folder, as on a command line, is shown as the folder it is.
    const auto full = [&](int side) {
        const QString name = QString::fromStdU16String(root.m_names[side]);
        return name.isEmpty() ? QString("none") : QDir::cleanPath(QDir::current().absoluteFilePath(name));
    };
    return QString("Computer music folder : %1\nJukebit music folder : %2").arg(full(SIDE_COMPUTER), full(SIDE_PLAYER));
}
