#pragma once

#include "app/LyrafetchDoc.h"
#include "support/FolderFixture.h"
#include "support/MessageRecorder.h"
#include "ui/FilterBar.h"
#include "ui/LyrafetchView.h"
#include "ui/MainFrame.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The main window over a scanned pair of folders, opened as the application
// opens it, with every message box recorded and every change of the tree's
// model checked by Qt's model tester.
class MainWindowFixture : public ::testing::Test
{
protected:
    // Creates the folders of the description below "computer" and "player", loads and shows them.
    void Open(const std::string& description);
    CLyrafetchView& View() { return *m_frame.View(); }
    // The item of the node at a path of key names ("A/One"), with its ancestors expanded.
    QModelIndex Item(const std::u16string& path);
    std::string Label(const QModelIndex& item) const { return item.data().toString().toStdString(); }
    // A real click on the item's check-box image, and the toggle that follows it.
    void ClickImage(const QModelIndex& item);
    // The labels of the rows in view, one a line, indented by depth.
    std::string Rows();
    QLineEdit& FilterField() { return *m_frame.FilterBar()->Field(); }

    CFolderFixture m_fixture;
    CMessageRecorder m_messages;
    CLyrafetchDoc m_doc{{}};
    CMainFrame m_frame{m_doc};
    QAbstractItemModelTester m_modelTester{View().model(), QAbstractItemModelTester::FailureReportingMode::Fatal};
};
