#pragma once

#include "app/CopyProgress.h"
#include "app/NodePath.h"
#include "ui/FolderTreeModel.h"

#include <QElapsedTimer>
#include <QTreeView>

#include <cstdint>
#include <optional>
#include <vector>

class CLyrafetchDoc;
struct CFormatProfile;

// The album tree: one item per folder with its check-box image and counts. A
// click on the image or the space bar toggles the albums below an item, those
// that a filter shows.
class CLyrafetchView : public QTreeView, public CCopyProgressSink
{
    Q_OBJECT

public:
    explicit CLyrafetchView(CLyrafetchDoc& doc, QWidget* parent = nullptr);

    void OnInitialUpdate();
    void FillTree();
    // Shows what words and a quick view leave of the tree, opened all the way;
    // with neither, the whole tree as it was before the filter, the current
    // item in view.
    void SetFilter(const QString& words, EQuickView view);
    // Takes the keyboard from the filter field: on the current album, or the first album shown.
    void EnterTree();
    void ToggleItem(const QModelIndex& item);
    // Keeps the player's version of the changed albums shown at or below an
    // item for the job, or, when every one is kept already, lets the job
    // replace them all (the context menu and Ctrl+K).
    void ToggleKeep(const QModelIndex& item);
    // The same for every changed album of the tree, shown or not.
    void KeepAll(bool bKeep);
    // Writes the player's files in a format from now on: labels, free space
    // and changed albums follow. With bRemember the player's file system
    // keeps it for the next run. Refused while a job runs.
    void ApplyFormat(const CFormatProfile& profile, bool bRemember);
    void UpdateFreeSpace();
    void OnFileCopyFiles();
    // Shows the log of the last job, until the next one starts.
    void OnFileShowLog();
    // Reads both folders anew (View > Refresh, and after a job), keeping the
    // tree as the user left it, ticks included.
    void Reread();
    // After a dialog: the main window is the active one, the keyboard in the tree.
    void TakeFocusBack();
    // Gives the focus back to the tree when it goes, however the dialogs it
    // guards have ended.
    class CFocusReturn
    {
    public:
        explicit CFocusReturn(CLyrafetchView& view) : m_view(view) {}
        CFocusReturn(const CFocusReturn&) = delete;
        CFocusReturn& operator=(const CFocusReturn&) = delete;
        ~CFocusReturn() { m_view.TakeFocusBack(); }

    private:
        CLyrafetchView& m_view;
    };
    void OnCopyProgress(const CCopyProgress& progress) override;

    CFolderNode* GetItemNode(const QModelIndex& item) const { return m_model.NodeFromIndex(item); }
    QModelIndex ItemOf(const CFolderNode* node) const { return m_model.IndexFromNode(node); }
    // Where an item's check-box image is drawn, in viewport coordinates.
    QRect ImageRect(const QModelIndex& item) const;

    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

signals:
    // The player's free space once the selection is carried out, and its size.
    void freeSpaceChanged(std::int64_t freeBytes, std::uint64_t totalBytes);
    // A copy job's progress, for the title.
    void copyProgressChanged(const CCopyProgress& progress);
    // The tree has been filled or filtered: how many of its albums are shown.
    void filterApplied(bool bFiltered, int albumsShown, int albums);
    // A copy job has ended; its log can be shown.
    void jobEnded();
    // The document has been read anew, or found unreadable, or readable again.
    void readStateChanged();
    // The user asked at the end of a job to eject the player.
    void ejectRequested();
    // The player's files are written in this format from now on.
    void formatApplied(const CFormatProfile& profile);

protected:
    void paintEvent(QPaintEvent* event) override;
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // What the user has made of the tree beyond the model: the items open, and the current one.
    struct CViewState
    {
        std::vector<const CFolderNode*> m_expanded;
        const CFolderNode* m_pCurrent = nullptr;
    };
    CViewState SaveState() const;
    void RestoreState(const CViewState& state);
    // After the model has been reset: the filtered tree all open, or the
    // whole tree as it was, with the current item kept when it is shown.
    void ShowTree(const CFolderNode* pCurrent);
    // Shows the document's tree anew; where no filter hides it, as unfiltered says.
    void ShowNewTree(const CViewState& unfiltered);
    // The whole tree as the user left it, by folder paths, so that it outlives
    // the tree; and the same folders in the tree of a new scan.
    struct CKeptState
    {
        std::vector<CKeyPath> m_expanded;
        std::optional<CKeyPath> m_current;
    };
    CKeptState KeepState() const;
    CViewState FindState(const CKeptState& kept) const;
    // After a load: the format remembered for the player, else the one its
    // card asks for, else the files as they are.
    void ApplyPlayersFormat();
    // The changed albums shown at or below an item.
    std::vector<CFolderNode*> ChangedAlbumsShown(const QModelIndex& item) const;
    // Widens the column to the rows in view, or narrows it to the view after a fill or a collapse.
    void FitColumn();

    CLyrafetchDoc& m_doc;
    CFolderTreeModel m_model;
    int m_nLabelsWidth = 0;       // the widest row measured since the last fill or collapse
    CViewState m_unfilteredState; // the whole tree as the user left it for a filter
    QElapsedTimer m_typeAhead;    // since the last letter typed into the tree's search
    QSize m_copyFilesSize;        // the Copy Files dialog's, when it was closed last
};
