#include "ui/LyrafetchView.h"

#include "app/LyrafetchDoc.h"
#include "app/Presentation.h"
#include "platform/MessageBox.h"
#include "ui/CopyFilesDlg.h"
#include "ui/LoadingFeedback.h"
#include "ui/WaitCursor.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPersistentModelIndex>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

CLyrafetchView::CLyrafetchView(CLyrafetchDoc& doc, QWidget* parent) : QTreeView(parent), m_doc(doc)
{
    setModel(&m_model);
    connect(&m_model, &CFolderTreeModel::selectionApplied, this, &CLyrafetchView::UpdateFreeSpace);
    setHeaderHidden(true);
    setRootIsDecorated(false); // the top item has no expand button
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Labels are shown whole, never shortened: the one column is as wide as the view, or as the widest row shown
    // since the tree was filled or collapsed, and the view scrolls sideways when it is wider, as a native tree
    // control does. Only the rows in view are measured, so expanding or toggling a large tree costs no more than
    // drawing it.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::Fixed);
    header()->setResizeContentsPrecision(0); // sizeHintForColumn measures the rows in view alone
    setTextElideMode(Qt::ElideNone);
    connect(this, &QTreeView::collapsed, this, [this] { m_nLabelsWidth = 0; });
}

void CLyrafetchView::OnInitialUpdate()
{
    const CWaitCursor wait;
    FillTree();
    UpdateFreeSpace();
}

// Items come collapsed and unselected: the tree shows the root item alone.
void CLyrafetchView::FillTree()
{
    m_model.SetRoot(m_doc.m_pModel.get());
    m_nLabelsWidth = 0;
}

void CLyrafetchView::ToggleItem(const QModelIndex& item)
{
    const CFolderNode* node = GetItemNode(item);
    if (node == nullptr) {
        return;
    }
    const CWaitCursor wait;
    m_model.ApplySelection(item, ChooseToggleMode(*node));
}

void CLyrafetchView::UpdateFreeSpace()
{
    emit freeSpaceChanged(ProjectedFreeBytes(m_doc), m_doc.m_totalBytes);
}

void CLyrafetchView::OnFileCopyFiles()
{
    if (!m_doc.m_pModel) {
        return;
    }
    if (NeedsFreeSpaceWarning(m_doc) && ShowMessageBox("Warning !!! Not enough free space on Jukebit. Proceed ?",
                                                       MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) {
        return;
    }
    CCopyFilesDlg dialog(window());
    dialog.m_pDoc = &m_doc;
    dialog.m_pProgressSink = this;
    if (dialog.DoModal() != QDialog::Accepted) {
        return;
    }
    std::optional<CMessage> message;
    {
        const CWaitCursor wait;
        m_model.SetRoot(nullptr); // no item may point into the tree the load frees
        const CLoadingFeedback feedback(m_doc, window());
        message = m_doc.Load();
        FillTree();
        UpdateFreeSpace();
    }
    if (message) {
        ShowMessageBox(*message);
    }
}

void CLyrafetchView::OnCopyProgress(const CCopyProgress& progress)
{
    emit copyProgressChanged(progress);
}

QRect CLyrafetchView::ImageRect(const QModelIndex& item) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(item);
    option.features |= QStyleOptionViewItem::HasDecoration;
    option.decorationSize = iconSize();
    option.icon = qvariant_cast<QIcon>(m_model.data(item, Qt::DecorationRole));
    option.text = m_model.data(item, Qt::DisplayRole).toString();
    option.features |= QStyleOptionViewItem::HasDisplay;
    return style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this);
}

void CLyrafetchView::FitColumn()
{
    m_nLabelsWidth = std::max(m_nLabelsWidth, sizeHintForColumn(0));
    const int width = std::max(m_nLabelsWidth, viewport()->width());
    if (columnWidth(0) != width) {
        setColumnWidth(0, width);
    }
}

// Whatever brought new rows or labels into view, they are measured before they are drawn.
void CLyrafetchView::paintEvent(QPaintEvent* event)
{
    FitColumn();
    QTreeView::paintEvent(event);
}

// Bringing an item into view scrolls up or down only, as in a native tree; the base class would also scroll the
// wide column back to its left edge on every click or arrow key.
void CLyrafetchView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    const int x = horizontalScrollBar()->value();
    QTreeView::scrollTo(index, hint);
    horizontalScrollBar()->setValue(x);
}

// Dotted lines join each item to its parent and to its next sibling, as in a native tree with lines; the style then
// draws the expand buttons. The top item has neither: the tree has no lines at the root.
void CLyrafetchView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    const int indent = indentation();
    const int buttonGap = model()->hasChildren(index) ? indent / 4 : 0;
    const QColor text = palette().color(QPalette::Text);
    const QColor base = palette().color(QPalette::Base);
    const QColor grey((text.red() + base.red()) / 2, (text.green() + base.green()) / 2,
                      (text.blue() + base.blue()) / 2);
    const QBrush dots(grey, Qt::Dense4Pattern);
    const QPoint origin = painter->brushOrigin();
    painter->setBrushOrigin(-horizontalOffset(), -verticalOffset()); // the dots move with the rows
    // The cell next to the item is its own; each cell further out belongs to the next ancestor.
    QRect cell(rect.right() + 1 - indent, rect.top(), indent, rect.height());
    for (QModelIndex item = index, parent = index.parent(); parent.isValid();
         item = parent, parent = parent.parent(), cell.translate(-indent, 0)) {
        const bool hasNextSibling = item.row() + 1 < model()->rowCount(parent);
        const int x = cell.left() + indent / 2;
        const int y = cell.center().y();
        if (item == index) {
            painter->fillRect(x, cell.top(), 1, y - buttonGap - cell.top(), dots);
            painter->fillRect(x + buttonGap, y, cell.right() + 1 - x - buttonGap, 1, dots);
            if (hasNextSibling) {
                painter->fillRect(x, y + buttonGap, 1, cell.bottom() + 1 - y - buttonGap, dots);
            }
        } else if (hasNextSibling) {
            painter->fillRect(x, cell.top(), 1, cell.height(), dots);
        }
    }
    painter->setBrushOrigin(origin);
    QTreeView::drawBranches(painter, rect, index);
}

// The click selects the item as usual; a click on its image also toggles it,
// once the view has finished with the click.
void CLyrafetchView::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex item = indexAt(event->position().toPoint());
    const bool onImage =
        event->button() == Qt::LeftButton && item.isValid() && ImageRect(item).contains(event->position().toPoint());
    QTreeView::mousePressEvent(event);
    if (onImage) {
        QTimer::singleShot(0, this, [this, target = QPersistentModelIndex(item)] { ToggleItem(target); });
    }
}

void CLyrafetchView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && currentIndex().isValid()) {
        ToggleItem(currentIndex());
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}
