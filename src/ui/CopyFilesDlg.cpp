#include "ui/CopyFilesDlg.h"

#include "app/LyrafetchDoc.h"
#include "app/Presentation.h"
#include "platform/MessageBox.h"
#include "ui/DialogFrame.h"
#include "ui/FolderTreeModel.h"
#include "ui/LogDlg.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

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
    m_pFolders->setContentsMargins(0, 0, 0, m_pFolders->fontMetrics().height() / 2);
    m_pToDelete = new QLabel(this);
    m_pToCopy = new QLabel(this);
    m_pJobMessage = new QLabel(this);
    // Three lines of the dialog's width: a long entry wraps inside them instead of widening the dialog.
    m_pJobMessage->setMinimumSize(DialogUnits(*this, 220, 27));
    m_pJobMessage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pJobMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pJobMessage->setWordWrap(true);
    m_pOk = new QPushButton("OK", this);
    m_pOk->setDefault(true);
    m_pCancel = new QPushButton("Cancel", this);
    connect(m_pOk, &QPushButton::clicked, this, &CCopyFilesDlg::accept);
    connect(m_pCancel, &QPushButton::clicked, this, &CCopyFilesDlg::reject);

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_pFolders, 0, 0, 1, 3);
    layout->addWidget(m_pToDelete, 1, 0, 1, 3);
    layout->addWidget(m_pToCopy, 2, 0, 1, 3);
    layout->addWidget(m_pJobMessage, 3, 0, 1, 3);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(3, 1);
    layout->addWidget(m_pOk, 4, 1);
    layout->addWidget(m_pCancel, 4, 2);
    SetFixedFrame(*this, 234, 95);
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
        m_pDoc->m_log.m_nAlbumsToDelete = m_pDoc->m_pModel->CountAlbumsToDelete();
        m_pDoc->m_log.m_nAlbumsToCopy = m_pDoc->m_pModel->CountAlbumsToCopy();
        m_pDoc->m_log.m_plan = CCopyPlan(*m_pDoc->m_pModel);
    }
    UpdateCounts(true);
    ShowCounts();
    m_pOk->setFocus();
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
                       MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) {
        return;
    }
    if (!m_pDoc->StartCopy(this, WM_COPYNOTIFY)) {
        return;
    }
    m_progress.bRunning = true;
    ReportProgress();
    // While the job runs Enter does nothing: it goes to OK, the default button, which is disabled. Cancel must not
    // take over as default when the focus moves to it, or a second Enter would cancel the job.
    m_pCancel->setAutoDefault(false);
    m_pOk->setDefault(true);
    m_pOk->setEnabled(false);
}

void CCopyFilesDlg::reject()
{
    if (!m_pDoc->m_hCopyThread) {
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
    m_progress.bRunning = false;
    ReportProgress();
    const CClosingQuestion question = ChooseClosingQuestion(m_bCancelRequested, m_pDoc->m_log);
    if (ShowMessageBox(question.m_text, question.m_type) != IDCANCEL) {
        CLogDlg log(this);
        log.m_pLog = &m_pDoc->m_log;
        log.DoModal();
    }
    QDialog::accept();
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
