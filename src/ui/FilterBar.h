#pragma once

#include "ui/FolderFilter.h"

#include <QWidget>

#include <array>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QLineEdit;

// Above the tree: a field for words to find, the quick views and how many
// albums the tree shows.
class CFilterBar : public QWidget
{
    Q_OBJECT

public:
    explicit CFilterBar(QWidget* parent = nullptr);

    // Puts the keyboard into the field, its words selected.
    void FocusField();
    // Drops the words, or when there are none the quick view.
    void Clear();
    void ShowCount(bool bFiltered, int albumsShown, int albums);

    QString Words() const;
    EQuickView QuickView() const;
    QLineEdit* Field() const { return m_pField; }
    QAbstractButton* QuickViewButton(EQuickView view) const;
    QString CountText() const;

signals:
    void filterChanged(const QString& words, EQuickView view);
    // Return or the down arrow in the field: the user goes on in the tree.
    void treeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_pField = nullptr;
    QButtonGroup* m_pQuickViews = nullptr;
    QLabel* m_pCount = nullptr;
};
