#include "ui/LyrafetchApp.h"

#include "app/LyrafetchDoc.h"
#include "app/Presentation.h"
#include "platform/MessageBox.h"
#include "ui/LoadingFeedback.h"
#include "ui/LyrafetchView.h"
#include "ui/MainFrame.h"
#include "ui/QtMessageBoxes.h"
#include "ui/WaitCursor.h"

#include <QIcon>

// The program's icon at each size the resource file holds, the same images
// that are installed for the desktop's menus.
static QIcon ApplicationIcon()
{
    Q_INIT_RESOURCE(lyrafetch);
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QString(":/icons/lyrafetch-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

// QApplication has taken its own options out of argv by the time the
// command line is read.
CLyrafetchApp::CLyrafetchApp(int& argc, char** argv)
{
    if (QApplication::instance() == nullptr) {
        m_pApp = std::make_unique<QApplication>(argc, argv);
    }
    QApplication::setApplicationName(APP_TITLE);
    QApplication::setWindowIcon(ApplicationIcon());
    QGuiApplication::setDesktopFileName("lyrafetch");
    ParseCommandLine(argc, argv, m_cmdInfo);
}

CLyrafetchApp::~CLyrafetchApp() = default;

bool CLyrafetchApp::InitInstance()
{
    return OpenDocument(m_cmdInfo.m_params, nullptr);
}

bool CLyrafetchApp::OpenDocument(std::vector<std::string> params, QWidget* feedbackParent)
{
    auto doc = std::make_unique<CLyrafetchDoc>(std::move(params));
    std::optional<CMessage> message;
    {
        const CWaitCursor wait;
        const CLoadingFeedback feedback(*doc, feedbackParent);
        message = doc->Load();
    }
    if (message) {
        ShowMessageBox(*message);
    }
    if (!doc->m_pModel) {
        return false;
    }
    m_pMainFrame.reset();
    m_pDoc = std::move(doc);
    m_pMainFrame = std::make_unique<CMainFrame>(*m_pDoc);
    m_pMainFrame->View()->OnInitialUpdate();
    m_pMainFrame->show();
    return true;
}

int CLyrafetchApp::Run()
{
    InstallQtMessageBoxes();
    return InitInstance() ? QApplication::exec() : 1;
}
