#include "transfer/CopyLog.h"
#include "ui/CopyFilesDlg.h"
#include "ui/LogDlg.h"
#include "ui/MainWindowFixture.h"
#include "ui/ModalScript.h"

#include <QAction>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// Whole jobs run from the main window, the dialogs answered by a script.
class CopyJobWindowTest : public MainWindowFixture
{
protected:
    CopyJobWindowTest()
    {
        QObject::connect(&m_frame, &QWidget::windowTitleChanged,
                         [this](const QString& title) { m_titles.push_back(title.toStdString()); });
    }
    void Toggle(const std::u16string& path) { ClickImage(Item(path)); }
    // What the Copy Files dialog showed when it opened and when the job had ended.
    struct CSeen
    {
        std::string m_folders;
        std::string m_opened;
        std::string m_ended;
        std::string m_log;
        std::string m_message;
    };
    // Runs File > Copy Files; press acts on the opened dialog.
    CSeen CopyFiles(const std::function<void(CCopyFilesDlg&)>& press)
    {
        CSeen seen;
        const auto counts = [](CCopyFilesDlg& dialog) {
            return (dialog.ToDeleteText() + "|" + dialog.ToCopyText()).toStdString();
        };
        m_script.On("CCopyFilesDlg", [&](QWidget* widget) {
            auto& dialog = static_cast<CCopyFilesDlg&>(*widget);
            seen.m_opened = counts(dialog);
            seen.m_folders = dialog.FoldersText().toStdString();
            press(dialog);
        });
        m_script.On("CLogDlg", [&](QWidget* widget) {
            auto& log = static_cast<CLogDlg&>(*widget);
            seen.m_log = log.LogText().toStdString();
            auto& dialog = static_cast<CCopyFilesDlg&>(*log.parentWidget());
            seen.m_ended = counts(dialog);
            seen.m_message = dialog.JobMessageText().toStdString();
            log.accept();
        });
        m_frame.CopyFilesAction()->trigger();
        return seen;
    }
    std::vector<CRecordedMessage> Messages() const { return m_messages.m_messages; }

    CModalScript m_script;
    std::vector<std::string> m_titles;
};

// A key as the user types it: to the widget that has the focus.
void TypeKey(CCopyFilesDlg& dialog, Qt::Key key)
{
    QTest::keyClick(dialog.focusWidget() ? dialog.focusWidget() : &dialog, key);
}

} // namespace

TEST_F(CopyJobWindowTest, AWholeJobFromTheWindow)
{
    Open("computer/A/New/1:1000\ncomputer/A/New/2:2000\ncomputer/A/Next/1:10\nplayer/B/Old/1:5\n"
         "computer/B/Old/1:5\n");
    Toggle(u"A");
    Toggle(u"B/Old");
    const CSeen seen = CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); });

    EXPECT_EQ(seen.m_folders, "Computer music folder : " + (m_fixture / "computer").string() +
                                  "\nJukebit music folder : " + (m_fixture / "player").string());
    EXPECT_EQ(seen.m_opened, "1 albums to delete|2 albums to copy");
    EXPECT_EQ(seen.m_ended, "0 albums to delete|0 albums to copy");
    EXPECT_EQ(seen.m_message, "INFO   :\nCopying \"COMPUTER/A/Next\""); // the newest entry, tag above it
    EXPECT_EQ(m_titles,
              (std::vector<std::string>{"0/2 - Lyrafetch", "1/2 - Lyrafetch", "2/2 - Lyrafetch", "Lyrafetch"}));
    EXPECT_EQ(Messages(), (std::vector<CRecordedMessage>{{"Done. See log ?", 0x41}}));
    EXPECT_EQ(seen.m_log, "INFO   : Deleting \"JUKEBIT/B/Old\"\n"
                          "INFO   : Copying \"COMPUTER/A/New\"\n"
                          "INFO   : Copying \"COMPUTER/A/Next\"\n");
    EXPECT_EQ(ReadFileText(m_fixture / "player/A/New/2"), ReadFileText(m_fixture / "computer/A/New/2"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/B"));

    // The tree is rebuilt from a new scan: the collapsed root alone, nothing to do.
    CLyrafetchView& view = *m_frame.View();
    ASSERT_EQ(view.model()->rowCount(), 1);
    EXPECT_FALSE(view.isExpanded(view.model()->index(0, 0)));
    EXPECT_EQ(view.model()->index(0, 0).data().toString().toStdString(), "Root (2/3) (+0/+0MB)");
}

// The filter outlives the rebuild: the new tree comes filtered by the same
// words, and without them it is the collapsed root of a fresh fill.
TEST_F(CopyJobWindowTest, AJobFromAFilteredTree)
{
    Open("computer/A/New/1:1000\ncomputer/B/Old/1:5\nplayer/B/Old/1:5\n");
    FilterField().setText("new");
    Toggle(u"A/New");
    CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); });
    EXPECT_TRUE(fs::exists(m_fixture / "player/A/New/1"));
    EXPECT_EQ(Rows(), "Root (2/2) (+0/+0MB)\n"
                      "  A (1/1) (+0/+0MB)\n"
                      "    New (1/1) (+0/+0MB)\n");
    EXPECT_EQ(m_frame.FilterBar()->CountText(), "1 of 2 albums");
    FilterField().clear();
    EXPECT_EQ(Rows(), "Root (2/2) (+0/+0MB)\n");
}

// Enter starts the job; then only Cancel and Escape ask to cancel it, and a
// second Enter does nothing.
TEST_F(CopyJobWindowTest, CancelEscapeAndEnterDuringAJob)
{
    struct CCase
    {
        const char* m_name;
        std::function<void(CCopyFilesDlg&)> m_press;
        bool m_cancels;
    };
    const CCase cases[] = {
        {"Cancel", [](CCopyFilesDlg& dialog) { dialog.CancelButton()->click(); }, true},
        {"Escape", [](CCopyFilesDlg& dialog) { TypeKey(dialog, Qt::Key_Escape); }, true},
        {"Enter", [](CCopyFilesDlg& dialog) { TypeKey(dialog, Qt::Key_Return); }, false},
    };
    for (const CCase& test : cases) {
        SCOPED_TRACE(test.m_name);
        m_messages.m_messages.clear();
        m_messages.QueueAnswer(IDCANCEL); // no log
        fs::remove_all(m_fixture / "player");
        fs::remove_all(m_fixture / "computer");
        Open("computer/A/New/1:1000\n");
        Toggle(u"A");
        bool okDisabled = false;
        bool cancelEnabled = false;
        // Both in one go, before the job's last message can be handled.
        CopyFiles([&](CCopyFilesDlg& dialog) {
            TypeKey(dialog, Qt::Key_Return);
            test.m_press(dialog);
            okDisabled = !dialog.OkButton()->isEnabled();
            cancelEnabled = dialog.CancelButton()->isEnabled();
        });
        EXPECT_TRUE(okDisabled);
        EXPECT_EQ(cancelEnabled, !test.m_cancels);
        if (test.m_cancels) {
            EXPECT_EQ(Messages(), (std::vector<CRecordedMessage>{{"Canceled. See log ?", 0x41}}));
            // Where the worker was when it saw the request is its own affair.
            EXPECT_NE(m_doc.m_log.GetText().find("CANCEL : Canceled by user\r\n"), std::string::npos);
        } else {
            EXPECT_EQ(Messages(), (std::vector<CRecordedMessage>{{"Done. See log ?", 0x41}}));
            EXPECT_TRUE(fs::exists(m_fixture / "player/A/New/1"));
        }
    }
}

TEST_F(CopyJobWindowTest, DecliningThePlayerOnlyWarningStartsNothing)
{
    Open("player/B/Only/1:5\n");
    Toggle(u"B");
    m_messages.QueueAnswer(IDCANCEL);
    bool idle = false;
    CopyFiles([&](CCopyFilesDlg& dialog) {
        dialog.OkButton()->click();
        idle = dialog.OkButton()->isEnabled() && !m_doc.m_hCopyThread;
        dialog.CancelButton()->click(); // closes the idle dialog
    });
    EXPECT_TRUE(idle);
    EXPECT_EQ(Messages(),
              (std::vector<CRecordedMessage>{
                  {"Warning !!! You have choosen to delete files that are only on the Jukebit !!! Continue ?", 0x31}}));
    EXPECT_TRUE(fs::exists(m_fixture / "player/B/Only/1"));
    // Closed without a job: the selection stays as it was.
    EXPECT_EQ(m_frame.View()->model()->index(0, 0).data().toString().toStdString(), "> Root (0/1) (-1/0MB)");
}

TEST_F(CopyJobWindowTest, NothingToDoAndAJobWithErrors)
{
    Open("computer/A/New/1:10\n");
    m_messages.QueueAnswer(IDCANCEL);
    CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); });
    EXPECT_EQ(m_titles, (std::vector<std::string>{"0/0 - Lyrafetch", "Lyrafetch"}));
    EXPECT_EQ(Messages(), (std::vector<CRecordedMessage>{{"Done. See log ?", 0x41}}));

    m_messages.m_messages.clear();
    Toggle(u"A");
    fs::remove(m_fixture / "computer/A/New/1");
    const CSeen seen = CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); });
    EXPECT_EQ(Messages(), (std::vector<CRecordedMessage>{{"Errors ! See log ?", 0x31}}));
    EXPECT_EQ(seen.m_log, "INFO   : Copying \"COMPUTER/A/New\"\n"
                          "ERROR  : Opening \"COMPUTER/A/New/1\" : Error 2 (No such file or directory)\n"
                          "INFO   : Deleting \"JUKEBIT/A/New\"\n");
}

TEST(LogDlgTest, ShowsEveryEntryOnALineOfItsOwn)
{
    CCopyLog log;
    CModalScript script;
    std::vector<std::string> shown;
    const auto show = [&] {
        script.On("CLogDlg", [&](QWidget* widget) {
            auto& dialog = static_cast<CLogDlg&>(*widget);
            shown.push_back(dialog.LogText().toStdString());
            dialog.accept();
        });
        CLogDlg dialog;
        dialog.m_pLog = &log;
        dialog.DoModal();
    };
    show();
    log.Add(LOG_INFO, "Deleting \"%s\"", "JUKEBIT/A/Old");
    log.Add(LOG_ERROR, "Deleting \"%s\" : Error %s", "JUKEBIT/A/Old/1", "13 (Permission denied)");
    log.Add(LOG_CANCEL, "Canceled by user");
    show();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "");
    // The last line ends too, so the caret can stand on an empty fourth line.
    EXPECT_EQ(shown[1], "INFO   : Deleting \"JUKEBIT/A/Old\"\n"
                        "ERROR  : Deleting \"JUKEBIT/A/Old/1\" : Error 13 (Permission denied)\n"
                        "CANCEL : Canceled by user\n");
}
