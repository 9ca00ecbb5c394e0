#include "ui/CopyPlanModel.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <algorithm>

void CCopyPlanModel::SetPlan(const CCopyPlan* pPlan)
{
    beginResetModel();
    m_pPlan = pPlan;
    m_rows.clear();
    m_nFirstPending = 0;
    if (pPlan != nullptr) {
        m_rows.reserve(pPlan->Albums().size());
        for (const CPlannedAlbum& album : pPlan->Albums()) {
            const CPlanRow row = FormatPlanRow(album);
            m_rows.push_back({album.m_step,
                              {QString::fromStdString(row.m_step), QString::fromStdString(row.m_album),
                               QString::fromStdString(row.m_size), QString()},
                              EAlbumOutcome::Pending});
        }
    }
    endResetModel();
}

int CCopyPlanModel::Refresh(EAlbumTurn firstTurn)
{
    // The job treats the albums in the plan's order; what it has passed is read no more.
    while (m_nFirstPending < m_rows.size() && m_rows[m_nFirstPending].m_shown != EAlbumOutcome::Pending) {
        ++m_nFirstPending;
    }
    int firstChanged = -1;
    int lastChanged = -1;
    int turnRow = -1;
    for (std::size_t row = m_nFirstPending; row < m_rows.size(); ++row) {
        const EAlbumOutcome outcome = m_pPlan->Outcome(row);
        EAlbumTurn turn = firstTurn == EAlbumTurn::Never ? EAlbumTurn::Never : EAlbumTurn::Later;
        if (outcome == EAlbumOutcome::Pending && turnRow < 0) {
            turnRow = static_cast<int>(row);
            turn = firstTurn;
        }
        QString state = QString::fromStdString(FormatAlbumState(m_rows[row].m_step, outcome, turn));
        m_rows[row].m_shown = outcome;
        if (state != m_rows[row].m_texts[COLUMN_STATE]) {
            m_rows[row].m_texts[COLUMN_STATE] = std::move(state);
            firstChanged = firstChanged < 0 ? static_cast<int>(row) : firstChanged;
            lastChanged = static_cast<int>(row);
        }
    }
    if (firstChanged >= 0) {
        emit dataChanged(index(firstChanged, COLUMN_STATE), index(lastChanged, COLUMN_STATE), {Qt::DisplayRole});
    }
    return turnRow;
}

int CCopyPlanModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CCopyPlanModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : COLUMN_COUNT;
}

QVariant CCopyPlanModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) {
        return {};
    }
    const CRow& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return row.m_texts[index.column()];
    case Qt::ToolTipRole:
        // A long path is shortened in its column.
        return index.column() == COLUMN_ALBUM ? row.m_texts[COLUMN_ALBUM] : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == COLUMN_SIZE ? QVariant(static_cast<int>(Qt::AlignRight | Qt::AlignVCenter))
                                             : QVariant();
    default:
        return {};
    }
}

QVariant CCopyPlanModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    static const char* const titles[COLUMN_COUNT] = {"Step", "Album", "Size", "State"};
    return titles[section];
}

QSize CPlanRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    // A text line is as high as the font's ascent and descent, but accented
    // capitals reach above the ascent: the row grows by as much above and below.
    const QFontMetrics& metrics = option.fontMetrics;
    const QRect ink = metrics.tightBoundingRect(QStringLiteral("ÉÅÊÎÔÛÇĄ"));
    const int overshoot = std::max({0, -ink.top() - metrics.ascent(), ink.bottom() + 1 - metrics.descent()});
    size.setHeight(std::max(size.height(), metrics.height() + 2 * overshoot));
    return size;
}

void CPlanRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QStyleOptionViewItem cell = CellOption(option, index);
    const QWidget* widget = cell.widget;
    (widget ? widget->style() : QApplication::style())->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
}

QString CPlanRowDelegate::ShownText(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return CellOption(option, index).text;
}

QStyleOptionViewItem CPlanRowDelegate::CellOption(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    if (index.column() == CCopyPlanModel::COLUMN_ALBUM) {
        const QWidget* widget = cell.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        // The style draws the text inside this margin on either side.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const int width = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget).width() - 2 * margin;
        cell.text = ElidePath(cell.text, cell.fontMetrics, width);
    }
    return cell;
}

QString ElidePath(const QString& path, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(path) <= width) {
        return path;
    }
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString tail = path.mid(slash); // "/Talking Timbuktu"
    const int room = width - metrics.horizontalAdvance(tail);
    if (slash > 0 && room >= metrics.horizontalAdvance(QChar(0x2026))) {
        return metrics.elidedText(path.left(slash), Qt::ElideRight, room) + tail;
    }
    return metrics.elidedText(path.mid(slash + 1), Qt::ElideRight, width);
}
