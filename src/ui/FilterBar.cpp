#include "ui/FilterBar.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

namespace {

struct CQuickViewButton
{
    EQuickView m_view;
    const char* m_text;
    const char* m_tip;
};

constexpr CQuickViewButton kQuickViewButtons[] = {
    {EQuickView::All, "All albums", "Show every album"},
    {EQuickView::Changes, "To copy or delete",
     "Show only the albums that Copy Files will copy to or delete from the Jukebit, and those changed on the "
     "computer since they were copied"},
    {EQuickView::PlayerOnly, "Only on Jukebit", "Show only the albums that are on the Jukebit and not on the computer"},
};

} // namespace

CFilterBar::CFilterBar(QWidget* parent) : QWidget(parent)
{
    m_pField = new QLineEdit(this);
    m_pField->setPlaceholderText("Filter by artist or album (Ctrl+F)");
    m_pField->setToolTip("Shows only the folders whose names hold every word typed, in any order; case and accents "
                         "do not count. Escape clears it.");
    m_pField->setClearButtonEnabled(true);
    m_pField->installEventFilter(this);
    m_pQuickViews = new QButtonGroup(this);
    m_pCount = new QLabel(this);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_pField, 1);
    layout->addWidget(m_pCount);
    layout->addSpacing(8);
    layout->addWidget(new QLabel("Show:", this));
    for (const CQuickViewButton& quickView : kQuickViewButtons) {
        auto* button = new QToolButton(this);
        button->setText(quickView.m_text);
        button->setToolTip(quickView.m_tip);
        button->setCheckable(true);
        button->setChecked(quickView.m_view == EQuickView::All);
        m_pQuickViews->addButton(button, static_cast<int>(quickView.m_view));
        layout->addWidget(button);
    }

    const auto changed = [this] { emit filterChanged(Words(), QuickView()); };
    connect(m_pField, &QLineEdit::textChanged, this, changed);
    connect(m_pQuickViews, &QButtonGroup::idToggled, this, [changed](int, bool bChecked) {
        if (bChecked) {
            changed();
        }
    });
}

void CFilterBar::FocusField()
{
    m_pField->setFocus(Qt::ShortcutFocusReason);
    m_pField->selectAll();
}

void CFilterBar::Clear()
{
    if (!m_pField->text().isEmpty()) {
        m_pField->clear();
    } else {
        QuickViewButton(EQuickView::All)->setChecked(true);
    }
}

void CFilterBar::ShowCount(bool bFiltered, int albumsShown, int albums)
{
    // As wide as its widest text for this tree: the field keeps its width while the user types.
    const QFontMetrics metrics = m_pCount->fontMetrics();
    m_pCount->setFixedWidth(std::max(metrics.horizontalAdvance(QString("%1 of %1 albums").arg(albums)),
                                     metrics.horizontalAdvance("No album matches")));
    if (!bFiltered) {
        m_pCount->clear();
    } else if (albumsShown == 0) {
        m_pCount->setText("No album matches");
    } else {
        m_pCount->setText(QString("%1 of %2 albums").arg(albumsShown).arg(albums));
    }
}

QString CFilterBar::Words() const
{
    return m_pField->text();
}

EQuickView CFilterBar::QuickView() const
{
    return static_cast<EQuickView>(m_pQuickViews->checkedId());
}

QAbstractButton* CFilterBar::QuickViewButton(EQuickView view) const
{
    return m_pQuickViews->button(static_cast<int>(view));
}

QString CFilterBar::CountText() const
{
    return m_pCount->text();
}

bool CFilterBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pField && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Down) {
            emit treeRequested();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
