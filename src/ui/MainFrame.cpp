#include "ui/MainFrame.h"

#include "app/LyrafetchDoc.h"
#include "app/Presentation.h"
#include "platform/MessageBox.h"
#include "platform/MountTable.h"
#include "resources/ResourceIds.h"
#include "ui/AboutDlg.h"
#include "ui/DeviceWatcher.h"
#include "ui/FilterBar.h"
#include "ui/FormatBox.h"
#include "ui/LyrafetchView.h"
#include "ui/WaitCursor.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Twice a second: a player pulled out is noticed within a second.
constexpr int PLAYER_POLL_MS = 500;

const char* PlayerStateText(CMainFrame::EPlayerState state)
{
    switch (state) {
    case CMainFrame::EPlayerState::Gone:
        return "The Jukebit is gone: Copy Files waits until it is plugged in again";
    case CMainFrame::EPlayerState::Back:
        return "The Jukebit is back: read it again to copy files";
    case CMainFrame::EPlayerState::Ejected:
        return "The Jukebit is ejected: it can be unplugged";
    default:
        return IDS_READY;
    }
}

} // namespace

CMainFrame::CMainFrame(CLyrafetchDoc& doc) : m_doc(doc)
{
    setWindowTitle(APP_TITLE);
    auto* client = new QWidget(this);
    m_pFilterBar = new CFilterBar(client);
    m_pView = new CLyrafetchView(doc, client);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pFilterBar);
    layout->addWidget(m_pView, 1);
    setCentralWidget(client);
    m_pView->setFocus(); // the keyboard starts in the tree, the field is a Ctrl+F away
    connect(m_pView, &CLyrafetchView::freeSpaceChanged, this, &CMainFrame::SetFreeSpace);
    connect(m_pView, &CLyrafetchView::copyProgressChanged, this, &CMainFrame::SetCopyProgress);
    connect(m_pFilterBar, &CFilterBar::filterChanged, m_pView, &CLyrafetchView::SetFilter);
    connect(m_pFilterBar, &CFilterBar::treeRequested, m_pView, &CLyrafetchView::EnterTree);
    connect(m_pView, &CLyrafetchView::filterApplied, m_pFilterBar, &CFilterBar::ShowCount);
    CreateMenus();
    CreateFilterKeys();

    auto* formatLabel = new QLabel("Jukebit format:", this);
    formatLabel->setBuddy(m_pFormatBox);
    statusBar()->addPermanentWidget(formatLabel);
    statusBar()->addPermanentWidget(m_pFormatBox);
    m_pFreeSpacePane = new QLabel(this);
    // 200 pixels, or what the text needs in the fonts at hand.
    m_pFreeSpacePane->setMinimumWidth(200);
    CreateReadPanes();
    statusBar()->addPermanentWidget(m_pFreeSpacePane);
    UpdateFreeSpacePane();
    connect(m_pView, &CLyrafetchView::readStateChanged, this, &CMainFrame::OnPlayerLoaded);
    connect(m_pView, &CLyrafetchView::ejectRequested, this, &CMainFrame::OnFileEject);
    m_pPlayerPoll = new QTimer(this);
    m_pPlayerPoll->setInterval(PLAYER_POLL_MS);
    connect(m_pPlayerPoll, &QTimer::timeout, this, &CMainFrame::WatchPlayer);
    UpdateReadState();
    ShowReady();
    // Three quarters of the screen each way: room for the long labels and many rows of a real library.
    resize(screen()->availableGeometry().size() * 3 / 4);
}

void CMainFrame::CreateMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    m_pCopyFiles = file->addAction("Copy &Files", m_pView, &CLyrafetchView::OnFileCopyFiles);
    // The last job's log, whatever was answered when it ended.
    m_pShowLog = file->addAction("Last Job's &Log...", m_pView, &CLyrafetchView::OnFileShowLog);
    m_pShowLog->setStatusTip(IDS_SHOW_LOG_PROMPT);
    m_pShowLog->setEnabled(false);
    connect(m_pView, &CLyrafetchView::jobEnded, this, [this] { m_pShowLog->setEnabled(true); });
    CreateFormatChoosers(*file->addMenu("Jukebit F&ormat"));
    m_pEject = file->addAction("&Eject Jukebit", this, &CMainFrame::OnFileEject);
    m_pEject->setStatusTip(IDS_EJECT_PROMPT);
    file->addSeparator();
    QAction* exit = file->addAction("E&xit", this, &QWidget::close);
    exit->setStatusTip(IDS_EXIT_PROMPT);

    QMenu* view = menuBar()->addMenu("&View");
    m_pRefresh = view->addAction("&Refresh", m_pView, &CLyrafetchView::Reread);
    m_pRefresh->setShortcut(Qt::Key_F5);
    m_pRefresh->setStatusTip("Read both music folders again, keeping the albums chosen");

    QMenu* help = menuBar()->addMenu("&Help");
    QAction* about = help->addAction("&About Lyrafetch...", this, &CMainFrame::OnAppAbout);
    about->setStatusTip(IDS_ABOUT_PROMPT);
    // A closed menu leaves the idle text, as an open one leaves its prompts.
    for (QMenu* menu : {file, view, help}) {
        connect(menu, &QMenu::aboutToHide, this, &CMainFrame::ShowReady, Qt::QueuedConnection);
    }
}

// The format is chosen in the status bar, where it is always in view, or in the File menu; both show the one in use.
void CMainFrame::CreateFormatChoosers(QMenu& menu)
{
    m_pFormatBox = new CFormatBox(this);
    m_pFormatActions = new QActionGroup(this);
    for (const CFormatProfile& profile : FormatProfiles()) {
        QAction* action =
            menu.addAction(QString::fromUtf8(profile.m_label.data(), static_cast<qsizetype>(profile.m_label.size())));
        action->setCheckable(true);
        action->setStatusTip("Write the files on this Jukebit in this format from now on");
        m_pFormatActions->addAction(action);
        connect(action, &QAction::triggered, m_pView, [this, &profile] { m_pView->ApplyFormat(profile, true); });
    }
    connect(m_pFormatBox, &CFormatBox::formatChosen, m_pView,
            [this](const CFormatProfile& profile) { m_pView->ApplyFormat(profile, true); });
    connect(m_pView, &CLyrafetchView::formatApplied, this, &CMainFrame::ShowFormat);
    ShowFormat(m_doc.Format());
}

void CMainFrame::ShowFormat(const CFormatProfile& profile)
{
    m_pFormatBox->Show(profile);
    m_pFormatActions->actions().at(static_cast<int>(&profile - FormatProfiles().data()))->setChecked(true);
}

QList<QAction*> CMainFrame::FormatActions() const
{
    return m_pFormatActions->actions();
}

// Ctrl+F and Escape work wherever the keyboard is in the window.
void CMainFrame::CreateFilterKeys()
{
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, m_pFilterBar, &CFilterBar::FocusField);
    auto* clear = new QAction(this);
    clear->setShortcut(Qt::Key_Escape);
    connect(clear, &QAction::triggered, m_pFilterBar, &CFilterBar::Clear);
    addActions({find, clear});
}

void CMainFrame::SetFreeSpace(std::int64_t freeBytes, std::uint64_t totalBytes)
{
    m_nProjectedFreeBytes = freeBytes;
    m_nTotalBytes = totalBytes;
    UpdateFreeSpacePane();
}

void CMainFrame::UpdateFreeSpacePane()
{
    m_pFreeSpacePane->setText(QString::fromStdString(FormatFreeSpace(m_nProjectedFreeBytes, m_nTotalBytes)));
    m_pFreeSpacePane->repaint();
}

void CMainFrame::SetCopyProgress(const CCopyProgress& progress)
{
    if (progress == m_lastProgress) {
        return;
    }
    m_lastProgress = progress;
    setWindowTitle(QString::fromStdString(FormatWindowTitle(progress)));
}

void CMainFrame::OnAppAbout()
{
    const CLyrafetchView::CFocusReturn focusReturn(*m_pView);
    CAboutDlg(this).exec();
}

// Beside the free space: what the tree leaves out, and, while a folder cannot
// be read, why, with a button that reads both folders again.
void CMainFrame::CreateReadPanes()
{
    m_pLeftOutPane = new QLabel(this);
    m_pUnreadablePane = new QLabel(this);
    // A long path must not widen the window: the pane takes the room there is, its tooltip the whole text.
    m_pUnreadablePane->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pReadAgain = new QPushButton("&Read Jukebit Again", this);
    connect(m_pReadAgain, &QPushButton::clicked, m_pView, &CLyrafetchView::Reread);
    statusBar()->addPermanentWidget(m_pUnreadablePane, 1);
    statusBar()->addPermanentWidget(m_pReadAgain);
    statusBar()->addPermanentWidget(m_pLeftOutPane);
}

void CMainFrame::UpdateReadState()
{
    const std::vector<CLeftOutFolder>& leftOut = m_doc.m_scanRecord.m_leftOut;
    m_pLeftOutPane->setText(QString::fromStdString(FormatLeftOutLine(leftOut)));
    m_pLeftOutPane->setToolTip(QString::fromStdString(FormatLeftOutDetails(leftOut)));
    m_pLeftOutPane->setVisible(!leftOut.empty());
    const QString reason = QString::fromStdString(m_doc.m_strUnreadable);
    m_pUnreadablePane->setText(reason);
    m_pUnreadablePane->setToolTip(reason);
    m_pUnreadablePane->setVisible(m_doc.IsUnreadable());
    // Copy Files works only on a player read from the file system that is there now.
    const bool present = m_playerState == EPlayerState::Present;
    m_pReadAgain->setVisible(m_doc.IsUnreadable() || m_playerState == EPlayerState::Back);
    m_pCopyFiles->setEnabled(present && !m_doc.IsUnreadable());
    const QString why = !present               ? QString(PlayerStateText(m_playerState))
                        : m_doc.IsUnreadable() ? "Copy Files is not available : " + reason
                                               : QString();
    m_pCopyFiles->setStatusTip(why);
    m_pCopyFiles->setToolTip(why);
    m_pEject->setEnabled(present || m_playerState == EPlayerState::Back);
}

void CMainFrame::MarkPlayerUnreadable(const std::string& reason)
{
    m_doc.MarkUnreadable(reason);
    UpdateReadState();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    const std::string question = m_doc.m_pModel ? FormatQuitQuestion(*m_doc.m_pModel) : std::string();
    if (!question.empty()) {
        const CLyrafetchView::CFocusReturn focusReturn(*m_pView);
        if (ShowMessageBox(question, MB_OKCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDOK) {
            event->ignore();
            return;
        }
    }
    QMainWindow::closeEvent(event);
}

QString CMainFrame::LeftOutText() const
{
    return m_pLeftOutPane->isHidden() ? QString() : m_pLeftOutPane->text();
}

QString CMainFrame::UnreadableText() const
{
    return m_pUnreadablePane->isHidden() ? QString() : m_pUnreadablePane->text();
}

QString CMainFrame::FreeSpaceText() const
{
    return m_pFreeSpacePane->text();
}

QString CMainFrame::MessageText() const
{
    return statusBar()->currentMessage();
}

void CMainFrame::ShowReady()
{
    statusBar()->showMessage(PlayerStateText(m_playerState));
}

void CMainFrame::OnPlayerLoaded()
{
    if (m_strPlayerIdentity.empty()) {
        m_strPlayerIdentity = PlayerIdentity();
        m_pPlayerPoll->start();
    }
    SetPlayerState(PlayerIdentity() == m_strPlayerIdentity ? EPlayerState::Present : EPlayerState::Gone);
}

void CMainFrame::WatchPlayer()
{
    const bool there = PlayerIdentity() == m_strPlayerIdentity;
    if (!there && (m_playerState == EPlayerState::Present || m_playerState == EPlayerState::Back)) {
        SetPlayerState(EPlayerState::Gone);
        if (m_doc.m_pCopyThread) {
            CancelAsPlayerGone();
        }
    } else if (there && (m_playerState == EPlayerState::Gone || m_playerState == EPlayerState::Ejected)) {
        SetPlayerState(EPlayerState::Back);
    }
}

void CMainFrame::SetPlayerState(EPlayerState state)
{
    m_playerState = state;
    UpdateReadState();
    ShowReady();
}

std::string CMainFrame::PlayerIdentity() const
{
    const std::optional<CMountEntry> mount =
        m_doc.m_params.size() > 1 ? MountOf(m_doc.m_params[1]) : std::optional<CMountEntry>();
    return mount ? FileSystemIdentity(*mount) : std::string();
}

void CMainFrame::OnFileEject()
{
    if (m_doc.m_params.size() < 2) {
        return;
    }
    QString error;
    bool ejected = false;
    {
        const CWaitCursor wait;
        ejected = CDeviceWatcher::Create({})->Eject(QFile::decodeName(m_doc.m_params[1].c_str()), error);
    }
    if (ejected) {
        SetPlayerState(EPlayerState::Ejected);
    }
    if (!error.isEmpty()) {
        ShowMessageBox(((ejected ? "" : "Ejecting the Jukebit failed :\n") + error).toStdString(),
                       MB_OK | MB_ICONEXCLAMATION);
    }
}
