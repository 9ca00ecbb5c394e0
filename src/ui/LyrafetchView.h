#pragma once

#include "app/CopyProgress.h"
#include "ui/FolderTreeModel.h"

#include <QTreeView>

#include <cstdint>

class CLyrafetchDoc;

// The album tree: one item per folder with its check-box image and counts. A
// click on the image or the space bar toggles the albums below an item.
class CLyrafetchView : public QTreeView, public CCopyProgressSink
{
    Q_OBJECT

public:
    explicit CLyrafetchView(CLyrafetchDoc& doc, QWidget* parent = nullptr);

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

signals:
    // The player's free space once the selection is carried out, and its size.
    void freeSpaceChanged(std::int64_t freeBytes, std::uint64_t totalBytes);
    // A copy job's progress, for the title.
    void copyProgressChanged(const CCopyProgress& progress);

protected:
    void paintEvent(QPaintEvent* event) override;
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Widens the column to the rows in view, or narrows it to the view after a fill or a collapse.
    void FitColumn();

    CLyrafetchDoc& m_doc;
    CFolderTreeModel m_model;
    int m_nLabelsWidth = 0; // the widest row measured since the last fill or collapse
};
