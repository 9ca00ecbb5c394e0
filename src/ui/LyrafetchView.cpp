#include "ui/LyrafetchView.h"

#include "app/LyrafetchDoc.h"
#include "app/Presentation.h"
#include "platform/MessageBox.h"
#include "ui/CopyFilesDlg.h"
#include "ui/MainFrame.h"
#include "ui/WaitCursor.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPersistentModelIndex>
#include <QTimer>

CLyrafetchView::CLyrafetchView(CLyrafetchDoc& doc, CMainFrame* pFrame, QWidget* parent)
    : QTreeView(parent), m_doc(doc), m_pFrame(pFrame)
{
    setModel(&m_model);
    setHeaderHidden(true);
    setRootIsDecorated(false); // the top item has no expand button
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
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
}

void CLyrafetchView::ToggleItem(const QModelIndex& item)
{
    CFolderNode* node = GetItemNode(item);
    if (node == nullptr) {
        return;
    }
    const CWaitCursor wait;
    node->ApplySelection(ChooseToggleMode(*node));
    UpdateAncestors(node);
    UpdateSubtree(node);
    UpdateFreeSpace();
}

void CLyrafetchView::UpdateAncestors(const CFolderNode* node)
{
    for (const CFolderNode* ancestor = node->m_pParent; ancestor != nullptr; ancestor = ancestor->m_pParent) {
        m_model.NodeChanged(ancestor);
    }
}

// The node, then its children a whole row of siblings at a time.
void CLyrafetchView::UpdateSubtree(const CFolderNode* node)
{
    m_model.NodeChanged(node);
    const auto refreshChildren = [this](const auto& self, const CFolderNode* parent) -> void {
        m_model.ChildrenChanged(parent);
        for (const auto& child : parent->m_children) {
            self(self, child.get());
        }
    };
    refreshChildren(refreshChildren, node);
}

void CLyrafetchView::UpdateFreeSpace()
{
    if (m_pFrame != nullptr) {
        m_pFrame->SetFreeSpace(ProjectedFreeBytes(m_doc), m_doc.m_totalBytes);
    }
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
    const CWaitCursor wait;
    m_model.SetRoot(nullptr); // no item may point into the tree the load frees
    m_doc.Load();
    FillTree();
    UpdateFreeSpace();
}

void CLyrafetchView::OnCopyProgress(const CCopyProgress& progress)
{
    if (m_pFrame != nullptr) {
        m_pFrame->SetCopyProgress(progress);
    }
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
