#pragma once

#include "app/CopyProgress.h"
#include "ui/FolderTreeModel.h"

#include <QTreeView>

class CLyrafetchDoc;
class CMainFrame;

// The album tree: one item per folder with its check-box image and counts. A
// click on the image or the space bar toggles the albums below an item.
class CLyrafetchView : public QTreeView, public CCopyProgressSink
{
    Q_OBJECT

public:
    // pFrame may be null: then nothing shows the free space or the progress.
    CLyrafetchView(CLyrafetchDoc& doc, CMainFrame* pFrame, QWidget* parent = nullptr);

    void OnInitialUpdate();
    void FillTree();
    void ToggleItem(const QModelIndex& item);
    void UpdateFreeSpace();
    void OnFileCopyFiles();
    void OnCopyProgress(const CCopyProgress& progress) override;

    CFolderNode* GetItemNode(const QModelIndex& item) const { return m_model.NodeFromIndex(item); }
    QModelIndex ItemOf(const CFolderNode* node) const { return m_model.IndexFromNode(node); }
    // Where an item's check-box image is drawn, in viewport coordinates.
    QRect ImageRect(const QModelIndex& item) const;

    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateAncestors(const CFolderNode* node);
    void UpdateSubtree(const CFolderNode* node);
    // Widens the column to the rows in view, or narrows it to the view after a fill or a collapse.
    void FitColumn();

    CLyrafetchDoc& m_doc;
    CMainFrame* m_pFrame;
    CFolderTreeModel m_model;
    int m_nLabelsWidth = 0; // the widest row measured since the last fill or collapse
};
