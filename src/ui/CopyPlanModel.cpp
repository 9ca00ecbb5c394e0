#include "ui/CopyPlanModel.h"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace {

const char* const kRefreshHeading =
    "Changed on the computer since they were copied: the new version replaces the Jukebit's";

} // namespace

void CCopyPlanModel::SetPlan(const CCopyPlan* pPlan, const IPlayerFiles& writer)
{
    beginResetModel();
    m_pPlan = pPlan;
    m_rows.clear();
    m_shownRows.clear();
    m_nFirstPending = 0;
    const auto add = [&](std::size_t planIndex, const CPlannedAlbum& album) {
        const CPlanRow row = FormatPlanRow(album, writer);
        m_shownRows[planIndex] = m_rows.size();
        m_rows.push_back({planIndex,
                          album.m_step,
                          {QString::fromStdString(row.m_step), QString::fromStdString(row.m_album),
                           QString::fromStdString(row.m_size), QString()},
                          EAlbumOutcome::Pending});
    };
    if (pPlan != nullptr) {
        const std::vector<CPlannedAlbum>& albums = pPlan->Albums();
        m_rows.reserve(albums.size() + 1);
        m_shownRows.resize(albums.size());
        const auto refreshes = [](const CPlannedAlbum& album) { return album.m_step == EPlanStep::Refresh; };
        for (std::size_t index = 0; index < albums.size(); ++index) {
            if (!refreshes(albums[index])) {
                add(index, albums[index]);
            }
        }
        if (std::any_of(albums.begin(), albums.end(), refreshes)) {
            m_rows.push_back({HEADING, EPlanStep::Refresh, {kRefreshHeading}, EAlbumOutcome::Pending});
        }
        for (std::size_t index = 0; index < albums.size(); ++index) {
            if (refreshes(albums[index])) {
                add(index, albums[index]);
            }
        }
    }
    endResetModel();
}

int CCopyPlanModel::Refresh(EAlbumTurn firstTurn)
{
    const std::size_t albums = m_shownRows.size();
    // The job treats the albums in the plan's order; what it has passed is read no more.
    while (m_nFirstPending < albums && RowOf(m_nFirstPending).m_shown != EAlbumOutcome::Pending) {
        ++m_nFirstPending;
    }
    int turnRow = -1;
    for (std::size_t planIndex = m_nFirstPending; planIndex < albums; ++planIndex) {
        const EAlbumOutcome outcome = m_pPlan->Outcome(planIndex);
        const int row = static_cast<int>(m_shownRows[planIndex]);
        EAlbumTurn turn = firstTurn == EAlbumTurn::Never ? EAlbumTurn::Never : EAlbumTurn::Later;
        if (outcome == EAlbumOutcome::Pending && turnRow < 0) {
            turnRow = row;
            turn = firstTurn;
        }
        CRow& shown = RowOf(planIndex);
        QString state = QString::fromStdString(FormatAlbumState(shown.m_step, outcome, turn));
        shown.m_shown = outcome;
        if (state != shown.m_texts[COLUMN_STATE]) {
            shown.m_texts[COLUMN_STATE] = std::move(state);
            emit dataChanged(index(row, COLUMN_STATE), index(row, COLUMN_STATE), {Qt::DisplayRole});
        }
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
    if (row.m_nPlanIndex == HEADING) {
        if (role == Qt::FontRole) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return role == Qt::DisplayRole && index.column() == 0 ? row.m_texts[0] : QVariant();
    }
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

Qt::ItemFlags CCopyPlanModel::flags(const QModelIndex& index) const
{
    // A heading is no album to pick.
    return index.isValid() && IsHeading(index.row()) ? Qt::ItemIsEnabled : QAbstractTableModel::flags(index);
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
