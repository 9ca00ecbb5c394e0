#include "ui/MainFrame.h"

#include "app/LyrafetchDoc.h"
#include "app/Presentation.h"
#include "platform/MessageBox.h"
#include "resources/ResourceIds.h"
#include "ui/AboutDlg.h"
#include "ui/FilterBar.h"
#include "ui/LyrafetchView.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

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
    connect(m_pView, &CLyrafetchView::readStateChanged, this, &CMainFrame::UpdateReadState);
    CreateMenus();
    CreateFilterKeys();

    CreateReadPanes();
    m_pFreeSpacePane = new QLabel(this);
    // 200 pixels, or what the text needs in the fonts at hand.
    m_pFreeSpacePane->setMinimumWidth(200);
    statusBar()->addPermanentWidget(m_pFreeSpacePane);
    UpdateFreeSpacePane();
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
    m_nFreeBytes = freeBytes;
    m_nTotalBytes = totalBytes;
    UpdateFreeSpacePane();
}

void CMainFrame::UpdateFreeSpacePane()
{
    m_pFreeSpacePane->setText(QString::fromStdString(FormatFreeSpace(m_nFreeBytes, m_nTotalBytes)));
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
    auto* readAgain = new QToolButton(this);
    readAgain->setDefaultAction(new QAction("Read Again", readAgain));
    connect(readAgain->defaultAction(), &QAction::triggered, m_pView, &CLyrafetchView::Reread);
    m_pReadAgain = readAgain;
    statusBar()->addPermanentWidget(m_pUnreadablePane, 1);
    statusBar()->addPermanentWidget(m_pReadAgain);
    statusBar()->addPermanentWidget(m_pLeftOutPane);
    UpdateReadState();
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
    m_pReadAgain->setVisible(m_doc.IsUnreadable());
    m_pCopyFiles->setEnabled(!m_doc.IsUnreadable());
    const QString why = m_doc.IsUnreadable() ? "Copy Files is not available : " + reason : QString();
    m_pCopyFiles->setStatusTip(why);
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
    statusBar()->showMessage(IDS_READY);
}
