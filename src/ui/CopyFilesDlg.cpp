#include "ui/CopyFilesDlg.h"

#include "app/LyrafetchDoc.h"
#include "app/Presentation.h"
#include "platform/MessageBox.h"
#include "ui/DialogFrame.h"
#include "ui/FolderTreeModel.h"
#include "ui/FormatBox.h"
#include "ui/LogDlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeView>

#include <algorithm>
#include <array>

namespace {

// WM_COPYNOTIFY as an event, delivered on the dialog's thread in posting order.
class CCopyNotifyEvent : public QEvent
{
public:
    static QEvent::Type EventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    CCopyNotifyEvent(std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(EventType()), m_wParam(wParam), m_lParam(lParam)
    {
    }

    std::uintptr_t m_wParam;
    std::intptr_t m_lParam;
};

} // namespace

CCopyFilesDlg::CCopyFilesDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Copy Files");
    // Which folder is which, before anything is deleted or copied.
    m_pFolders = new QLabel(this);
    m_pFolders->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pFolders->setWordWrap(true); // a long path wraps after a separator
    m_pFolders->setContentsMargins(0, 0, 0, m_pFolders->fontMetrics().height() / 2);
    m_pToDelete = new QLabel(this);
    m_pToCopy = new QLabel(this);
    auto* choices = new QWidget(this);
    m_pFormatBox = new CFormatBox(choices);
    auto* formatLabel = new QLabel("Jukebit &format :", choices);
    formatLabel->setBuddy(m_pFormatBox);
    m_pReplaceChanged = new QCheckBox("&Replace changed albums", choices);
    m_pReplaceChanged->setToolTip("Albums changed on the computer since they were copied: ticked, the new version "
                                  "replaces the Jukebit's; unticked, the Jukebit keeps its version this time");
    auto* choicesLayout = new QHBoxLayout(choices);
    choicesLayout->setContentsMargins(0, 0, 0, 0);
    choicesLayout->addWidget(formatLabel);
    choicesLayout->addWidget(m_pFormatBox);
    choicesLayout->addSpacing(m_pFormatBox->fontMetrics().averageCharWidth() * 2);
    choicesLayout->addWidget(m_pReplaceChanged);
    choicesLayout->addStretch(1);
    connect(m_pFormatBox, &CFormatBox::formatChosen, this, [this](const CFormatProfile& profile) {
        emit formatChosen(profile);
        Replan();
        FitPlanColumns();
    });
    // A click on a grey box replaces every changed album, as on a ticked one it keeps them all.
    connect(m_pReplaceChanged, &QCheckBox::clicked, this, [this] {
        emit keepAllChosen(m_pReplaceChanged->checkState() == Qt::Unchecked);
        Replan();
        FitPlanColumns();
    });
    m_pJobMessage = new QLabel(this);
    // Three lines of the dialog's width: a long entry wraps inside them instead of widening the dialog.
    m_pJobMessage->setMinimumSize(DialogUnits(*this, 220, 27));
    m_pJobMessage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pJobMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pJobMessage->setWordWrap(true);
    m_pProgressBar = new QProgressBar(this);
    m_pProgressBar->setRange(0, 1000);
    m_pProgressText = new QLabel(this);
    m_pOk = new QPushButton("OK", this);
    m_pOk->setDefault(true);
    m_pCancel = new QPushButton("Cancel", this);
    connect(m_pOk, &QPushButton::clicked, this, &CCopyFilesDlg::accept);
    connect(m_pCancel, &QPushButton::clicked, this, &CCopyFilesDlg::reject);

    // The plan: which albums, and the room left after it.
    m_pPlanView = new QTreeView(this);
    m_pPlanView->setModel(&m_planModel);
    m_pPlanView->setItemDelegate(&m_planDelegate);
    m_pPlanView->setRootIsDecorated(false);
    m_pPlanView->setUniformRowHeights(true);
    m_pPlanView->setAlternatingRowColors(true);
    m_pPlanView->setTextElideMode(Qt::ElideRight); // the album's path is shortened by its delegate
    m_pPlanView->header()->setStretchLastSection(false);
    m_pPlanView->header()->setSectionResizeMode(QHeaderView::Fixed);
    m_pPlanView->header()->setSectionResizeMode(CCopyPlanModel::COLUMN_ALBUM, QHeaderView::Stretch);
    m_pFreeSpace = new QLabel(this);
    m_pFreeSpace->setWordWrap(true);

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_pFolders, 0, 0, 1, 3);
    layout->addWidget(m_pToDelete, 1, 0, 1, 3);
    layout->addWidget(m_pToCopy, 2, 0, 1, 3);
    layout->addWidget(choices, 3, 0, 1, 3);
    layout->addWidget(m_pJobMessage, 4, 0, 1, 3);
    layout->addWidget(m_pProgressBar, 5, 0, 1, 3);
    layout->addWidget(m_pProgressText, 6, 0, 1, 3);
    layout->addWidget(m_pPlanView, 7, 0, 1, 3);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(7, 1);
    layout->addWidget(m_pFreeSpace, 8, 0);
    layout->addWidget(m_pOk, 8, 1);
    layout->addWidget(m_pCancel, 8, 2);
    // Tab goes from the choices through the plan to the buttons.
    const std::array<QWidget*, 5> tabOrder = {m_pFormatBox, m_pReplaceChanged, m_pPlanView, m_pOk, m_pCancel};
    for (std::size_t index = 1; index < tabOrder.size(); ++index) {
        setTabOrder(tabOrder[index - 1], tabOrder[index]);
    }
    SetResizableFrame(*this, 234, 95, 320, 250);
    m_preferredSize = size();

    m_progressTimer.setInterval(200);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { ShowJobProgress(EAlbumTurn::Now); });
}

int CCopyFilesDlg::DoModal()
{
    OnInitDialog();
    return exec();
}

void CCopyFilesDlg::OnInitDialog()
{
    if (m_pDoc->m_pModel) {
        m_pFolders->setText(MusicFoldersText(*m_pDoc->m_pModel));
    }
    Replan();
    FitToPlan(FitPlanColumns());
    (m_pOk->isEnabled() ? m_pOk : m_pCancel)->setFocus();
}

void CCopyFilesDlg::Replan()
{
    CCopyLog& log = m_pDoc->m_log;
    if (m_pDoc->m_pModel) {
        log.m_plan = CCopyPlan(*m_pDoc->m_pModel, m_pDoc->Writer());
        const std::vector<CPlannedAlbum>& albums = log.m_plan.Albums();
        log.m_nAlbumsToDelete = m_pDoc->m_pModel->CountAlbumsToDelete();
        // An album refreshed counts as one copied.
        log.m_nAlbumsToCopy = static_cast<int>(albums.size()) - log.m_nAlbumsToDelete;
    }
    UpdateCounts(true);
    ShowCounts();
    ShowPlan();
    ShowReplaceChanged();
    m_pFormatBox->Show(m_pDoc->Format());
    // A job with no album to treat and nothing left by an earlier one would do nothing.
    m_pOk->setEnabled(!log.m_plan.Albums().empty() || !m_pDoc->m_scanRecord.m_leftovers.empty());
}

void CCopyFilesDlg::ShowReplaceChanged()
{
    const CFolderNode* root = m_pDoc->m_pModel.get();
    const int changed = root ? root->m_changed : 0;
    const auto& albums = m_pDoc->m_log.m_plan.Albums();
    const auto refreshed = std::count_if(albums.begin(), albums.end(),
                                         [](const CPlannedAlbum& album) { return album.m_step == EPlanStep::Refresh; });
    m_pReplaceChanged->setEnabled(changed > 0);
    m_pReplaceChanged->setText(changed > 0 ? QString("&Replace changed albums (%1 of %2)").arg(refreshed).arg(changed)
                                           : QString("&Replace changed albums (none changed)"));
    const int kept = CountKeptAlbums(root);
    m_pReplaceChanged->setCheckState(changed == 0 || kept == changed ? Qt::Unchecked
                                     : kept == 0                     ? Qt::Checked
                                                                     : Qt::PartiallyChecked);
}

void CCopyFilesDlg::ShowPlan()
{
    const CCopyPlan& plan = m_pDoc->m_log.m_plan;
    m_planModel.SetPlan(&plan, m_pDoc->Writer());
    for (int row = 0; row < m_planModel.rowCount(); ++row) {
        m_pPlanView->setFirstColumnSpanned(row, {}, m_planModel.IsHeading(row));
    }
    m_pFreeSpace->setText(QString::fromStdString("Free space after the job : " + FormatFreeSpaceAfterJob(*m_pDoc)));
    m_meter = CTransferMeter(plan.BytesToCopy());
    m_pProgressBar->setValue(0);
    m_pProgressText->setText(QString::fromStdString(m_meter.Text()));
}

// The step, size and state columns are as wide as their widest text, the album column takes the rest,
// which the dialog's opening size makes as wide as its widest path where the screen has room.
int CCopyFilesDlg::FitPlanColumns()
{
    const QFontMetrics metrics = m_pPlanView->fontMetrics();
    const int margin =
        2 * (m_pPlanView->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + metrics.averageCharWidth();
    std::array<int, CCopyPlanModel::COLUMN_COUNT> widths{};
    for (int column = 0; column < CCopyPlanModel::COLUMN_COUNT; ++column) {
        widths[column] = m_pPlanView->header()->sectionSizeHint(column);
    }
    const auto fit = [&](int column, const QString& text) {
        widths[column] = std::max(widths[column], metrics.horizontalAdvance(text) + margin);
    };
    for (int row = 0; row < m_planModel.rowCount(); ++row) {
        if (m_planModel.IsHeading(row)) {
            continue; // across the columns
        }
        for (int column : {CCopyPlanModel::COLUMN_STEP, CCopyPlanModel::COLUMN_ALBUM, CCopyPlanModel::COLUMN_SIZE}) {
            fit(column, m_planModel.index(row, column).data().toString());
        }
    }
    for (EPlanStep step : {EPlanStep::Delete, EPlanStep::Copy, EPlanStep::Refresh}) {
        for (EAlbumOutcome outcome : {EAlbumOutcome::Pending, EAlbumOutcome::Done, EAlbumOutcome::Failed}) {
            for (EAlbumTurn turn : {EAlbumTurn::Now, EAlbumTurn::Never}) {
                fit(CCopyPlanModel::COLUMN_STATE, QString::fromStdString(FormatAlbumState(step, outcome, turn)));
            }
        }
    }
    for (int column : {CCopyPlanModel::COLUMN_STEP, CCopyPlanModel::COLUMN_SIZE, CCopyPlanModel::COLUMN_STATE}) {
        m_pPlanView->header()->resizeSection(column, widths[column]);
    }
    return widths[CCopyPlanModel::COLUMN_ALBUM];
}

void CCopyFilesDlg::FitToPlan(int albumWidth)
{
    const QSize screen = this->screen()->availableGeometry().size();
    if (m_lastSize.isValid()) {
        resize(m_lastSize.boundedTo(screen * 9 / 10));
        return;
    }
    const QHeaderView& header = *m_pPlanView->header();
    const int frame = 2 * m_pPlanView->frameWidth();
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_pPlanView);
    const QSize plan(header.length() - header.sectionSize(CCopyPlanModel::COLUMN_ALBUM) + albumWidth + frame +
                         scrollBar,
                     header.sizeHint().height() + m_planModel.rowCount() * m_pPlanView->sizeHintForRow(0) + frame);
    // The rest of the dialog around the list as its layout lays it out.
    const QSize around = sizeHint() - m_pPlanView->sizeHint();
    resize((around + plan).expandedTo(m_preferredSize).boundedTo(screen * 2 / 3).expandedTo(minimumSize()));
}

void CCopyFilesDlg::PostMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (message == WM_COPYNOTIFY) {
        QCoreApplication::postEvent(this, new CCopyNotifyEvent(wParam, lParam));
    }
}

void CCopyFilesDlg::customEvent(QEvent* event)
{
    if (event->type() == CCopyNotifyEvent::EventType()) {
        const auto* notify = static_cast<CCopyNotifyEvent*>(event);
        OnCopyNotify(notify->m_wParam, notify->m_lParam);
    }
}

void CCopyFilesDlg::accept()
{
    if (m_pDoc->m_pModel && m_pDoc->m_pModel->HasPlayerOnlyDeletion() &&
        ShowMessageBox("Warning !!! You have choosen to delete files that are only on the Jukebit !!! Continue ?",
                       MB_OKCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDOK) {
        return;
    }
    if (!m_pDoc->StartCopy(this, WM_COPYNOTIFY)) {
        if (m_pDoc->IsUnreadable()) {
            QDialog::reject(); // the window says why, and offers to read the folders again
        }
        return;
    }
    m_progress.bRunning = true;
    ReportProgress();
    m_jobClock.start();
    m_progressTimer.start();
    ShowJobProgress(EAlbumTurn::Now);
    // While the job runs Enter does nothing: it goes to OK, the default button, which is disabled. Cancel must not
    // take over as default when the focus moves to it, or a second Enter would cancel the job.
    m_pCancel->setAutoDefault(false);
    m_pOk->setDefault(true);
    m_pOk->setEnabled(false);
    // What the job writes is settled once it runs.
    m_pFormatBox->setEnabled(false);
    m_pReplaceChanged->setEnabled(false);
}

void CCopyFilesDlg::reject()
{
    if (!m_pDoc->m_pCopyThread) {
        QDialog::reject();
        return;
    }
    if (!m_bCancelRequested) {
        g_cancelState = 1;
        m_bCancelRequested = true;
        m_pCancel->setEnabled(false);
    }
}

void CCopyFilesDlg::OnCopyNotify(std::uintptr_t wParam, std::intptr_t lParam)
{
    switch (wParam) {
    case COPYNOTIFY_PROGRESS:
        UpdateCounts(false);
        ShowCounts();
        ReportProgress();
        ShowJobProgress(EAlbumTurn::Now);
        break;
    case COPYNOTIFY_LOGLINE:
        ShowLogEntry(*reinterpret_cast<const CCopyLogEntry*>(lParam));
        break;
    case COPYNOTIFY_DONE:
        OnJobDone();
        break;
    default:
        break;
    }
}

void CCopyFilesDlg::UpdateCounts(bool bWithTotals)
{
    m_progress.nToDelete = m_pDoc->m_log.m_nAlbumsToDelete;
    m_progress.nToCopy = m_pDoc->m_log.m_nAlbumsToCopy;
    if (bWithTotals) {
        m_progress.nToDeleteTotal = m_progress.nToDelete;
        m_progress.nToCopyTotal = m_progress.nToCopy;
    }
}

void CCopyFilesDlg::ShowCounts()
{
    m_pToDelete->setText(QString("%1 albums to delete").arg(m_progress.nToDelete));
    m_pToCopy->setText(QString("%1 albums to copy").arg(m_progress.nToCopy));
}

void CCopyFilesDlg::ShowLogEntry(const CCopyLogEntry& entry)
{
    m_pJobMessage->setText(QString::fromStdString(FormatLogEntry(entry, true)));
}

void CCopyFilesDlg::OnJobDone()
{
    m_pDoc->EndCopy();
    m_progressTimer.stop();
    ShowJobProgress(EAlbumTurn::Never);
    m_progress.bRunning = false;
    ReportProgress();
    const CClosingQuestion question = ChooseClosingQuestion(m_bCancelRequested, m_pDoc->m_log);
    if (ShowMessageBox(question.m_text, question.m_type) != IDCANCEL) {
        CLogDlg log(this);
        log.m_pLog = &m_pDoc->m_log;
        log.m_bOfferEject = true;
        log.DoModal();
        m_bEjectRequested = log.m_bEjectRequested;
    }
    QDialog::accept();
}

void CCopyFilesDlg::ShowJobProgress(EAlbumTurn firstTurn)
{
    const CCopyLog& log = m_pDoc->m_log;
    m_meter.Sample(static_cast<double>(m_jobClock.elapsed()) / 1000, log.m_nBytesCopied);
    const int albums = m_progress.nToDeleteTotal + m_progress.nToCopyTotal;
    const int albumsLeft = log.m_nAlbumsToDelete + log.m_nAlbumsToCopy;
    m_pProgressBar->setValue(JobPermille(m_meter.BytesDone(), log.m_plan.BytesToCopy(), albums - albumsLeft, albums));
    m_pProgressText->setText(QString::fromStdString(m_meter.Text()));
    // The album being treated is kept in view.
    const int turnRow = m_planModel.Refresh(firstTurn);
    if (turnRow >= 0 && turnRow != m_nTurnRow) {
        m_pPlanView->scrollTo(m_planModel.index(turnRow, CCopyPlanModel::COLUMN_ALBUM));
    }
    m_nTurnRow = turnRow;
}

void CCopyFilesDlg::ReportProgress()
{
    if (m_pProgressSink != nullptr) {
        m_pProgressSink->OnCopyProgress(m_progress);
    }
}

QString CCopyFilesDlg::FoldersText() const
{
    return m_pFolders->text();
}

QString CCopyFilesDlg::ToDeleteText() const
{
    return m_pToDelete->text();
}

QString CCopyFilesDlg::ToCopyText() const
{
    return m_pToCopy->text();
}

QString CCopyFilesDlg::JobMessageText() const
{
    return m_pJobMessage->text();
}

QString CCopyFilesDlg::ProgressText() const
{
    return m_pProgressText->text();
}

QString CCopyFilesDlg::FreeSpaceText() const
{
    return m_pFreeSpace->text();
}
