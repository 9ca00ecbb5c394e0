#pragma once

#include "app/CommandLine.h"

#include <QApplication>

#include <memory>
#include <string>
#include <vector>

class CLyrafetchDoc;
class CMainFrame;
class QWidget;

// The application: reads the command line, loads the document under a wait
// cursor and, only when that succeeds, shows the main window. It makes the
// QApplication unless there is one already.
class CLyrafetchApp
{
public:
    CLyrafetchApp(int& argc, char** argv);
    ~CLyrafetchApp();

    // False when the load failed: its message box has been shown and no
    // window ever appears.
    bool InitInstance();
    // Loads a document on the two folders of params and shows the main window
    // on it. False, after the load's message box, when the load failed; the
    // feedback of a long load is shown over feedbackParent.
    bool OpenDocument(std::vector<std::string> params, QWidget* feedbackParent);
    // Shows message boxes as Qt message boxes, runs InitInstance, then the
    // event loop; returns the process's exit status.
    int Run();

    const std::vector<std::string>& Params() const { return m_cmdInfo.m_params; }
    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }

private:
    std::unique_ptr<QApplication> m_pApp;
    CLyrafetchCommandLineInfo m_cmdInfo;
    std::unique_ptr<CLyrafetchDoc> m_pDoc;
    std::unique_ptr<CMainFrame> m_pMainFrame;
};
