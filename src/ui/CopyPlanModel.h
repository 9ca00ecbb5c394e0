#pragma once

#include "app/Presentation.h"
#include "transfer/CopyPlan.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

#include <vector>

// The albums of a job's plan as a table: what the job does to each, its
// display path, its size, and what has become of it. The albums to refresh
// come last, under a heading row of their own.
class CCopyPlanModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum EColumn { COLUMN_STEP, COLUMN_ALBUM, COLUMN_SIZE, COLUMN_STATE, COLUMN_COUNT };

    explicit CCopyPlanModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    // Shows a plan (or none), as written by writer; it must stay as it is while shown.
    void SetPlan(const CCopyPlan* pPlan, const IPlayerFiles& writer);
    // A row that heads the albums below it; its text is in the first column.
    bool IsHeading(int row) const { return m_rows[static_cast<std::size_t>(row)].m_nPlanIndex == HEADING; }
    // Reads what the job has recorded of each album and marks the albums that
    // changed. The first album not treated yet has the turn given, every other
    // one its turn later (or never, once the job has ended). Returns its row,
    // or -1 when every album has been treated.
    int Refresh(EAlbumTurn firstTurn);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    static constexpr std::size_t HEADING = static_cast<std::size_t>(-1);
    struct CRow
    {
        std::size_t m_nPlanIndex;
        EPlanStep m_step;
        QString m_texts[COLUMN_COUNT];
        EAlbumOutcome m_shown = EAlbumOutcome::Pending; // the outcome its state shows
    };

    CRow& RowOf(std::size_t planIndex) { return m_rows[m_shownRows[planIndex]]; }

    const CCopyPlan* m_pPlan = nullptr;
    std::vector<CRow> m_rows; // as shown
    // The row of each album of the plan, in the plan's order.
    std::vector<std::size_t> m_shownRows;
    // Every album of the plan before this one shows what became of it.
    std::size_t m_nFirstPending = 0;
};

// Draws the rows of the plan: tall enough for the marks above capitals
// ("É"), and an album's path shortened so that its own name stays whole.
class CPlanRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The text of a cell as it is drawn in the cell's rectangle.
    QString ShownText(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    QStyleOptionViewItem CellOption(const QStyleOptionViewItem& option, const QModelIndex& index) const;
};

// A display path shortened to a width: the folders above the album lose their
// end first ("COMPUTER/Ali Fark…/Talking Timbuktu"), the album's name only
// when nothing of them is left to shorten.
QString ElidePath(const QString& path, const QFontMetrics& metrics, int width);
