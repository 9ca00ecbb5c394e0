#include "ui/LyrafetchView.h"

#include "app/LyrafetchDoc.h"
#include "app/PlayerFormat.h"
#include "app/Presentation.h"
#include "platform/MessageBox.h"
#include "ui/ChooserMemory.h"
#include "ui/CopyFilesDlg.h"
#include "ui/LoadingFeedback.h"
#include "ui/LogDlg.h"
#include "ui/WaitCursor.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
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
    setRootIsDecorated(true); // the top item opens and closes like every other
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
    ApplyPlayersFormat();
    FillTree();
    UpdateFreeSpace();
    emit readStateChanged();
}

void CLyrafetchView::ApplyPlayersFormat()
{
    if (m_doc.m_params.size() < 2) {
        return;
    }
    const std::string& folder = m_doc.m_params[SIDE_PLAYER];
    const std::string key = PlayerFormatKey(folder);
    const CFormatProfile* profile = key.empty() ? nullptr : FindProfile(LoadPlayerFormat(key));
    if (profile == nullptr) {
        profile = PreselectedProfile(folder);
    }
    ApplyFormat(profile ? *profile : DefaultProfile(), false);
}

void CLyrafetchView::ApplyFormat(const CFormatProfile& profile, bool bRemember)
{
    if (m_doc.m_pCopyThread) {
        return;
    }
    if (bRemember && m_doc.m_params.size() > 1) {
        if (const std::string key = PlayerFormatKey(m_doc.m_params[SIDE_PLAYER]); !key.empty()) {
            SavePlayerFormat(key, profile.m_id);
        }
    }
    if (&profile != &m_doc.Format()) {
        const CWaitCursor wait;
        m_doc.SetFormat(profile);
        m_model.TreeChanged();
        UpdateFreeSpace();
    }
    emit formatApplied(profile);
}

namespace {

bool AllKept(const std::vector<CFolderNode*>& albums)
{
    return std::all_of(albums.begin(), albums.end(), [](const CFolderNode* album) { return album->m_bKeepPlayers; });
}

} // namespace

std::vector<CFolderNode*> CLyrafetchView::ChangedAlbumsShown(const QModelIndex& item) const
{
    std::vector<CFolderNode*> albums = m_model.AlbumsShown(item);
    std::erase_if(albums, [](const CFolderNode* album) { return !album->m_bChanged; });
    return albums;
}

void CLyrafetchView::ToggleKeep(const QModelIndex& item)
{
    const std::vector<CFolderNode*> albums = ChangedAlbumsShown(item);
    m_model.SetKeepPlayers(albums, !AllKept(albums));
}

void CLyrafetchView::KeepAll(bool bKeep)
{
    m_model.SetKeepAllPlayers(bKeep);
}

// Items come collapsed and unselected but for the root, open on its artists
// and folders; a filter shows what it leaves of them.
void CLyrafetchView::FillTree()
{
    ShowNewTree({{m_doc.m_pModel.get()}, nullptr});
}

void CLyrafetchView::ShowNewTree(const CViewState& unfiltered)
{
    m_unfilteredState = unfiltered;
    m_model.SetRoot(m_doc.m_pModel.get());
    ShowTree(unfiltered.m_pCurrent);
}

void CLyrafetchView::SetFilter(const QString& words, EQuickView view)
{
    const bool wasFiltered = m_model.IsFiltered();
    const CViewState before = wasFiltered ? CViewState{{}, GetItemNode(currentIndex())} : SaveState();
    if (!m_model.SetFilter(words, view)) {
        return;
    }
    if (!wasFiltered) {
        m_unfilteredState = before;
    }
    ShowTree(before.m_pCurrent);
}

void CLyrafetchView::ShowTree(const CFolderNode* pCurrent)
{
    m_nLabelsWidth = 0;
    if (m_model.IsFiltered()) {
        expandAll();
        RestoreState({{}, pCurrent});
    } else {
        RestoreState({m_unfilteredState.m_expanded, pCurrent ? pCurrent : m_unfilteredState.m_pCurrent});
    }
    const int albums = m_doc.m_pModel ? m_doc.m_pModel->m_albums : 0;
    emit filterApplied(m_model.IsFiltered(), m_model.IsFiltered() ? m_model.CountAlbumsShown() : albums, albums);
}

CLyrafetchView::CViewState CLyrafetchView::SaveState() const
{
    CViewState state{{}, GetItemNode(currentIndex())};
    const auto collect = [&](const auto& self, const QModelIndex& item) -> void {
        if (isExpanded(item)) {
            state.m_expanded.push_back(GetItemNode(item));
        }
        for (int row = 0, count = m_model.rowCount(item); row < count; ++row) {
            const QModelIndex child = m_model.index(row, 0, item);
            if (m_model.hasChildren(child)) {
                self(self, child);
            }
        }
    };
    if (m_model.hasChildren()) {
        collect(collect, m_model.index(0, 0));
    }
    return state;
}

// Expanding before the view has laid out the reset model only records the item, at no cost a row.
void CLyrafetchView::RestoreState(const CViewState& state)
{
    for (const CFolderNode* node : state.m_expanded) {
        expand(ItemOf(node));
    }
    const QModelIndex current = ItemOf(state.m_pCurrent);
    if (current.isValid()) {
        setCurrentIndex(current);
        scrollTo(current, PositionAtCenter);
    }
}

void CLyrafetchView::EnterTree()
{
    setFocus(Qt::OtherFocusReason);
    if (const CFolderNode* current = GetItemNode(currentIndex()); current != nullptr && current->IsAlbum()) {
        return;
    }
    QModelIndex album = m_model.index(0, 0);
    while (m_model.hasChildren(album)) {
        album = m_model.index(0, 0, album);
    }
    setCurrentIndex(album);
}

void CLyrafetchView::ToggleItem(const QModelIndex& item)
{
    const CFolderNode* node = GetItemNode(item);
    if (node == nullptr) {
        return;
    }
    const CWaitCursor wait;
    const int mode = m_model.IsFiltered() ? ChooseToggleMode(m_model.AlbumsShown(item)) : ChooseToggleMode(*node);
    m_model.ApplySelection(item, mode);
}

void CLyrafetchView::UpdateFreeSpace()
{
    emit freeSpaceChanged(ProjectedFreeBytes(m_doc), m_doc.m_nTotalBytes);
}

void CLyrafetchView::OnFileCopyFiles()
{
    if (!m_doc.m_pModel || m_doc.IsUnreadable()) {
        return;
    }
    const CFocusReturn focusReturn(*this);
    if (NeedsFreeSpaceWarning(m_doc) && ShowMessageBox("Warning !!! Not enough free space on Jukebit. Proceed ?",
                                                       MB_OKCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDOK) {
        return;
    }
    CCopyFilesDlg dialog(window());
    connect(&dialog, &CCopyFilesDlg::formatChosen, this,
            [this](const CFormatProfile& profile) { ApplyFormat(profile, true); });
    connect(&dialog, &CCopyFilesDlg::keepAllChosen, this, &CLyrafetchView::KeepAll);
    dialog.m_pDoc = &m_doc;
    dialog.m_pProgressSink = this;
    dialog.m_lastSize = m_copyFilesSize;
    const int result = dialog.DoModal();
    m_copyFilesSize = dialog.size();
    if (result != QDialog::Accepted) {
        emit readStateChanged(); // the job may have found the player gone
        return;
    }
    emit jobEnded();
    Reread();
    if (dialog.m_bEjectRequested) {
        emit ejectRequested();
    }
}

// The new tree shows what the old one showed: the same folders open, the same
// current item, and the albums chosen to copy or delete that are not yet
// copied or deleted still chosen. When the folders cannot be read, the tree
// stays as it was.
void CLyrafetchView::Reread()
{
    const CFocusReturn focusReturn(*this); // after the message of a failure
    const CKeptState kept = KeepState();
    m_doc.m_log.m_plan = CCopyPlan(); // it points into the tree the load may free
    std::optional<CMessage> message;
    {
        const CWaitCursor wait;
        m_model.SetRoot(nullptr); // no item may point into the tree the load frees
        const CLoadingFeedback feedback(m_doc, window());
        message = m_doc.Reload();
        ApplyPlayersFormat(); // the card may be another one
        ShowNewTree(FindState(kept));
        UpdateFreeSpace();
    }
    emit readStateChanged();
    if (message) {
        ShowMessageBox(*message);
    }
}

void CLyrafetchView::OnFileShowLog()
{
    const CFocusReturn focusReturn(*this);
    CLogDlg log(window());
    log.m_pLog = &m_doc.m_log;
    log.DoModal();
}

void CLyrafetchView::TakeFocusBack()
{
    window()->activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
}

CLyrafetchView::CKeptState CLyrafetchView::KeepState() const
{
    const CViewState state =
        m_model.IsFiltered() ? CViewState{m_unfilteredState.m_expanded, GetItemNode(currentIndex())} : SaveState();
    CKeptState kept;
    for (const CFolderNode* folder : state.m_expanded) {
        kept.m_expanded.push_back(KeyPathOf(*folder));
    }
    if (state.m_pCurrent != nullptr) {
        kept.m_current = KeyPathOf(*state.m_pCurrent);
    }
    return kept;
}

CLyrafetchView::CViewState CLyrafetchView::FindState(const CKeptState& kept) const
{
    CViewState state;
    if (!m_doc.m_pModel) {
        return state;
    }
    for (const CKeyPath& path : kept.m_expanded) {
        if (const CFolderNode* folder = FindByKeyPath(*m_doc.m_pModel, path)) {
            state.m_expanded.push_back(folder);
        }
    }
    state.m_pCurrent = kept.m_current ? FindByKeyPath(*m_doc.m_pModel, *kept.m_current) : nullptr;
    return state;
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

// Dotted lines join each item to its parent and to its next sibling, as in a native tree with lines at the root; the
// style then draws the expand buttons.
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
    for (QModelIndex item = index; item.isValid(); item = item.parent(), cell.translate(-indent, 0)) {
        const QModelIndex parent = item.parent();
        const bool hasNextSibling = item.row() + 1 < model()->rowCount(parent);
        const int x = cell.left() + indent / 2;
        const int y = cell.center().y();
        if (item == index) {
            if (parent.isValid() || item.row() > 0) { // the top item has nothing above it
                painter->fillRect(x, cell.top(), 1, y - buttonGap - cell.top(), dots);
            }
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

// The space bar toggles the current item, except while the user types the
// start of a label: then it belongs to the search, as any other letter.
void CLyrafetchView::keyPressEvent(QKeyEvent* event)
{
    const bool searching = m_typeAhead.isValid() && m_typeAhead.elapsed() < QApplication::keyboardInputInterval();
    const bool space = event->key() == Qt::Key_Space;
    if (space && currentIndex().isValid() && !searching) {
        ToggleItem(currentIndex());
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_K && event->modifiers() == Qt::ControlModifier && currentIndex().isValid()) {
        ToggleKeep(currentIndex());
        event->accept();
        return;
    }
    const bool typed = !event->text().isEmpty() && event->text().front().isPrint() &&
                       !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && (!space || searching);
    if (typed) {
        m_typeAhead.start();
    } else {
        m_typeAhead.invalidate();
    }
    QTreeView::keyPressEvent(event);
}

// On a changed album, or a folder with changed albums: keep the player's versions for the job, or replace them.
void CLyrafetchView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex item = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    const std::vector<CFolderNode*> albums = item.isValid() ? ChangedAlbumsShown(item) : std::vector<CFolderNode*>();
    QMenu menu(this);
    QAction* keep = menu.addAction(albums.size() == 1 ? "&Keep the Jukebit's version"
                                                      : "&Keep the Jukebit's versions of the changed albums");
    keep->setShortcut(QKeySequence(Qt::ControlModifier | Qt::Key_K));
    keep->setCheckable(true);
    keep->setEnabled(!albums.empty());
    keep->setChecked(!albums.empty() && AllKept(albums));
    if (menu.exec(event->globalPos()) == keep) {
        ToggleKeep(item);
    }
}
