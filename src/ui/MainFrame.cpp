#include "ui/MainFrame.h"

#include "app/Presentation.h"
#include "resources/ResourceIds.h"
#include "ui/AboutDlg.h"
#include "ui/LyrafetchView.h"

#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>

CMainFrame::CMainFrame(CLyrafetchDoc& doc)
{
    setWindowTitle(APP_TITLE);
    m_pView = new CLyrafetchView(doc, this);
    setCentralWidget(m_pView);
    connect(m_pView, &CLyrafetchView::freeSpaceChanged, this, &CMainFrame::SetFreeSpace);
    connect(m_pView, &CLyrafetchView::copyProgressChanged, this, &CMainFrame::SetCopyProgress);
    CreateMenus();

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
    file->addSeparator();
    QAction* exit = file->addAction("E&xit", this, &QWidget::close);
    exit->setStatusTip(IDS_EXIT_PROMPT);

    QMenu* help = menuBar()->addMenu("&Help");
    QAction* about = help->addAction("&About Lyrafetch...", this, &CMainFrame::OnAppAbout);
    about->setStatusTip(IDS_ABOUT_PROMPT);
    // A closed menu leaves the idle text, as an open one leaves its prompts.
    for (QMenu* menu : {file, help}) {
        connect(menu, &QMenu::aboutToHide, this, &CMainFrame::ShowReady, Qt::QueuedConnection);
    }
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
    CAboutDlg(this).exec();
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
