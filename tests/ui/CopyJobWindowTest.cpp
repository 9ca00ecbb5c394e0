#include "app/PlayerFormat.h"
#include "app/Presentation.h"
#include "platform/FaultInjection.h"
#include "support/MessageRecorder.h"
#include "support/ScratchVolume.h"
#include "text/Text.h"
#include "transfer/CopyLog.h"
#include "ui/CopyFilesDlg.h"
#include "ui/CopyPlanModel.h"
#include "ui/DeviceWatcher.h"
#include "ui/FakeUDisks2.h"
#include "ui/FormatBox.h"
#include "ui/LogDlg.h"
#include "ui/MainWindowFixture.h"
#include "ui/ModalScript.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

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
        std::string m_summary; // under the log, up to the time taken
        std::string m_message;
        std::vector<std::string> m_plan; // the rows of the list, when the job had ended
        std::string m_progress;          // the bar's share and its text, then
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
            const std::string summary = log.SummaryText().toStdString();
            seen.m_summary = summary.substr(0, summary.find(" in "));
            auto& dialog = static_cast<CCopyFilesDlg&>(*log.parentWidget());
            seen.m_ended = counts(dialog);
            seen.m_message = dialog.JobMessageText().toStdString();
            seen.m_plan = PlanRows(dialog);
            const QProgressBar& bar = *dialog.ProgressBar();
            seen.m_progress = std::to_string(100 * (bar.value() - bar.minimum()) / (bar.maximum() - bar.minimum())) +
                              "% " + dialog.ProgressText().toStdString();
            log.accept();
        });
        m_frame.CopyFilesAction()->trigger();
        return seen;
    }
    std::vector<CRecordedMessage> Messages() const { return m_messages.m_messages; }
    // Mounts a small tmpfs as the player's folder, for Open to fill.
    std::string OnScratchPlayer(CScratchVolume& card)
    {
        m_fixture.Create("player/\n");
        return card.Mount(m_fixture / "player", 4 << 20);
    }
    // Each row of the plan's list as its cells joined by "|".
    static std::vector<std::string> PlanRows(const CCopyFilesDlg& dialog)
    {
        const QAbstractItemModel& plan = *dialog.PlanView()->model();
        std::vector<std::string> rows;
        for (int row = 0; row < plan.rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < plan.columnCount(); ++column) {
                cells << plan.index(row, column).data().toString();
            }
            rows.push_back(cells.join("|").toStdString());
        }
        return rows;
    }

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
    // The last album's write waits until the title has shown the first album copied, however fast the worker.
    std::atomic<bool> bFirstShown{false};
    const QObject guard;
    QObject::connect(&m_frame, &QWidget::windowTitleChanged, &guard,
                     [&](const QString& title) { bFirstShown = bFirstShown || title.startsWith("1/2"); });
    ArmFault(EFaultPoint::WriteFile, 0, 2, 1, [&] {
        for (int waited = 0; !bFirstShown && waited < 5000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const CSeen seen = CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); });
    DisarmFaults();

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

    // The tree is rebuilt from a new scan, open as it was, with nothing to do.
    CLyrafetchView& view = *m_frame.View();
    ASSERT_EQ(view.model()->rowCount(), 1);
    EXPECT_TRUE(view.isExpanded(view.model()->index(0, 0)));
    EXPECT_EQ(view.model()->index(0, 0).data().toString().toStdString(), "Root (2/3) (+0/+0MB)");
}

// The log at the end of a job ejects the player: the tree is read again
// first, from the player the job wrote, then the player is unmounted and off.
TEST_F(CopyJobWindowTest, EjectFromTheLogAtTheEndOfAJob)
{
    CFakeUDisks2 udisks(QString::fromStdString((m_fixture / "media").string()));
    if (!udisks.Started().isEmpty()) {
        GTEST_SKIP() << udisks.Started().toStdString();
    }
    Open("computer/A/New/1:10\n");
    udisks.AddDevice("sdb1", "JUKEBIT", "1111-AAAA", 4000000000,
                     QString::fromStdString((m_fixture / "player").string()));
    Toggle(u"A/New");
    m_script.On("CCopyFilesDlg", [](QWidget* widget) { static_cast<CCopyFilesDlg*>(widget)->OkButton()->click(); });
    m_script.On("CLogDlg", [](QWidget* widget) { static_cast<CLogDlg*>(widget)->EjectButton()->click(); });
    m_frame.CopyFilesAction()->trigger();
    EXPECT_EQ(Messages(), (std::vector<CRecordedMessage>{{"Done. See log ?", 0x41}}));
    EXPECT_EQ(m_frame.View()->model()->index(0, 0).data().toString().toStdString(), "Root (1/1) (+0/+0MB)");
    EXPECT_EQ(m_frame.PlayerState(), CMainFrame::EPlayerState::Ejected);
    EXPECT_TRUE(CDeviceWatcher::Create({})->Devices().empty());
}

// A player unmounted during a job takes the rest of the job into a file
// system that no one sees again: the window seeing it go stops the job as a
// player that fails it does.
TEST_F(CopyJobWindowTest, APlayerUnmountedDuringAJobStopsIt)
{
    m_fixture.Create("player/\n");
    CScratchVolume volume;
    if (const std::string why = volume.Mount(m_fixture / "player", 1000000); !why.empty()) {
        GTEST_SKIP() << why;
    }
    Open("computer/A/One/1:10\ncomputer/A/Two/1:10\n");
    Toggle(u"A");
    ArmFault(EFaultPoint::WriteFile, 0, 0, 1, [&] {
        volume.Unmount();
        for (int waited = 0; g_cancelState == 0 && waited < 5000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const CSeen seen = CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); });
    DisarmFaults();
    EXPECT_NE(seen.m_log.find("CANCEL : Canceled because disk is not available\n"), std::string::npos) << seen.m_log;
    EXPECT_EQ(seen.m_log.find("Copying \"COMPUTER/A/Two\""), std::string::npos) << seen.m_log;
    EXPECT_EQ(m_frame.PlayerState(), CMainFrame::EPlayerState::Gone);
    EXPECT_FALSE(m_frame.CopyFilesAction()->isEnabled());
}

// The filter outlives the rebuild: the new tree comes filtered by the same
// words, and without them it is the tree as it was before the filter, the
// current album in view.
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
    EXPECT_EQ(Rows(), "Root (2/2) (+0/+0MB)\n"
                      "  A (1/1) (+0/+0MB)\n"
                      "    New (1/1) (+0/+0MB)\n"
                      "  B (1/1) (+0/+0MB)\n");
}

// Before OK the dialog lists every album the job will treat, in its order,
// and the room the player will have left.
TEST_F(CopyJobWindowTest, ThePlanBeforeTheJob)
{
    Open("computer/A/Both/1:2000000\nplayer/A/Both/1:3000000\nplayer/B/Only/1:1500000\n"
         "computer/C/New/1:4000000\ncomputer/C/New/2:500000\n");
    Toggle(u"A/Both");
    Toggle(u"B/Only");
    Toggle(u"C/New");
    m_doc.m_nFreeBytes = 10000000;
    m_doc.m_nTotalBytes = 20000000;
    std::vector<std::string> rows;
    std::string freeSpace;
    std::string progress;
    CopyFiles([&](CCopyFilesDlg& dialog) {
        rows = PlanRows(dialog);
        freeSpace = dialog.FreeSpaceText().toStdString();
        progress = dialog.ProgressText().toStdString();
        dialog.CancelButton()->click();
    });
    EXPECT_EQ(rows,
              (std::vector<std::string>{"Delete|JUKEBIT/A/Both|3 MB|", "Delete (only on Jukebit)|JUKEBIT/B/Only|1 MB|",
                                        "Copy|COMPUTER/C/New|4 MB|"}));
    const std::string freeAfter = std::to_string(ToMegabytes(ProjectedFreeBytes(m_doc)));
    EXPECT_EQ(freeSpace, "Free space after the job : " + freeAfter + "MB / 20MB");
    EXPECT_EQ(progress, "0 of 4 MB");
}

// The dialog opens large enough for the plan, within two thirds of the
// screen, and again at the size it was given last; a path too long for its
// column keeps the album's own name whole, in rows tall enough for "É".
TEST_F(CopyJobWindowTest, TheDialogOpensForThePlanAndKeepsAlbumNamesWhole)
{
    std::string library = "computer/Ali Farka Touré & Ry Cooder/Talking Timbuktu/1:5\n";
    for (int album = 10; album < 40; ++album) {
        library += "computer/Édith Piaf/Album " + std::to_string(album) + "/1:5\n";
    }
    Open(library);
    ClickImage(View().model()->index(0, 0));
    struct COpened
    {
        QSize m_size;
        QSize m_closedSize;
        QString m_shown; // the long path as the list shows it
    };
    const auto open = [&](const std::function<void(CCopyFilesDlg&)>& resize) {
        COpened opened;
        CopyFiles([&](CCopyFilesDlg& dialog) {
            opened.m_size = dialog.size();
            resize(dialog);
            QCoreApplication::processEvents();
            opened.m_closedSize = dialog.size();
            const QTreeView& plan = *dialog.PlanView();
            const QModelIndex album = plan.model()->index(0, CCopyPlanModel::COLUMN_ALBUM);
            QStyleOptionViewItem option;
            option.initFrom(&plan);
            option.rect = plan.visualRect(album);
            opened.m_shown = static_cast<CPlanRowDelegate*>(plan.itemDelegate())->ShownText(option, album);
            const QFontMetrics metrics = plan.fontMetrics();
            const int overshoot = -metrics.tightBoundingRect("É").top() - metrics.ascent();
            EXPECT_GE(plan.sizeHintForRow(0), metrics.height() + 2 * overshoot);
            dialog.CancelButton()->click();
        });
        return opened;
    };
    const QSize screen = m_frame.screen()->availableGeometry().size();
    const COpened first = open([](CCopyFilesDlg&) {});
    EXPECT_EQ(first.m_size, screen * 2 / 3); // the plan would take more
    EXPECT_TRUE(first.m_shown.startsWith("COMPUTER/Ali Farka T")) << first.m_shown.toStdString();
    EXPECT_TRUE(first.m_shown.endsWith("…/Talking Timbuktu")) << first.m_shown.toStdString();
    const COpened narrowed = open([](CCopyFilesDlg& dialog) { dialog.resize(dialog.minimumSize()); });
    EXPECT_TRUE(narrowed.m_shown.startsWith("COMPUTER/A")) << narrowed.m_shown.toStdString();
    EXPECT_TRUE(narrowed.m_shown.endsWith("…/Talking Timbuktu")) << narrowed.m_shown.toStdString();
    const COpened again = open([](CCopyFilesDlg&) {});
    EXPECT_EQ(again.m_size, narrowed.m_closedSize);
}

// The bar reaches its end, the list marks what became of each album, and the
// rescan shows the tree as it was, the album that failed still to copy.
TEST_F(CopyJobWindowTest, ProgressMarksAndTheTreeAfterTheJob)
{
    Open("computer/A/One/1:1500000\ncomputer/A/Two/1:700000\ncomputer/B/Kept/1:5\nplayer/B/Kept/1:5\n"
         "player/C/Old/1:5\ncomputer/D/Closed/1:5\n");
    Toggle(u"A/One");
    Toggle(u"A/Two");
    Toggle(u"C/Old");
    View().expand(Item(u"B"));
    View().setCurrentIndex(Item(u"A/Two"));
    fs::remove(m_fixture / "computer/A/Two/1"); // its copy fails
    const CSeen seen = CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); });
    EXPECT_EQ(seen.m_plan,
              (std::vector<std::string>{"Delete (only on Jukebit)|JUKEBIT/C/Old|0 MB|Deleted",
                                        "Copy|COMPUTER/A/One|1 MB|Copied", "Copy|COMPUTER/A/Two|0 MB|Failed"}));
    EXPECT_EQ(seen.m_progress, "100% 2 of 2 MB");
    EXPECT_EQ(seen.m_summary, "Albums deleted : 1, copied : 1, failed : 1, not reached : 0. 1 MB written");

    std::vector<std::string> expanded;
    for (const char16_t* path : {u"", u"A", u"B", u"D"}) { // the root, then its folders
        const QModelIndex item = Item(path);
        expanded.push_back(Label(item) + (View().isExpanded(item) ? " open" : " closed"));
    }
    EXPECT_EQ(expanded, (std::vector<std::string>{"Root (3/4) (+1/+0MB) open", "A (2/2) (+1/+0MB) open",
                                                  "B (1/1) (+0/+0MB) open", "D (0/1) (+0/+0MB) closed"}));
    EXPECT_EQ(Label(View().currentIndex()), "Two (1/1) (+1/+0MB)");
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
        m_messages.QueueAnswer(test.m_cancels ? IDOK : IDCANCEL); // the log, or none
        fs::remove_all(m_fixture / "player");
        fs::remove_all(m_fixture / "computer");
        Open("computer/A/New/1:1000\n");
        Toggle(u"A");
        if (test.m_cancels) { // the album's write waits for the request, which cuts the album off
            ArmFault(EFaultPoint::WriteFile, 0, 0, 1, [] {
                while (g_cancelState == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        bool okDisabled = false;
        bool cancelEnabled = false;
        // Both in one go, before the job's last message can be handled.
        const CSeen seen = CopyFiles([&](CCopyFilesDlg& dialog) {
            TypeKey(dialog, Qt::Key_Return);
            test.m_press(dialog);
            okDisabled = !dialog.OkButton()->isEnabled();
            cancelEnabled = dialog.CancelButton()->isEnabled();
        });
        EXPECT_TRUE(okDisabled);
        EXPECT_EQ(cancelEnabled, !test.m_cancels);
        // Whatever the answer, the log stays at hand in the File menu.
        ASSERT_TRUE(m_frame.ShowLogAction()->isEnabled());
        std::string shown;
        std::string shownSummary;
        m_script.On("CLogDlg", [&](QWidget* widget) {
            shown = static_cast<CLogDlg&>(*widget).LogText().toStdString();
            shownSummary = static_cast<CLogDlg&>(*widget).SummaryText().toStdString();
            static_cast<CLogDlg&>(*widget).accept();
        });
        m_frame.ShowLogAction()->trigger();
        EXPECT_EQ(QString::fromStdString(shown).replace("\n", "\r\n").toStdString(), m_doc.m_log.GetText());
        shownSummary.resize(std::min(shownSummary.size(), shownSummary.find(" in ")));
        if (test.m_cancels) {
            DisarmFaults();
            EXPECT_EQ(Messages(), (std::vector<CRecordedMessage>{{"Canceled. See log ?", 0x41}}));
            EXPECT_NE(m_doc.m_log.GetText().find("CANCEL : Canceled by user\r\n"), std::string::npos);
            EXPECT_EQ(seen.m_plan, (std::vector<std::string>{"Copy|COMPUTER/A/New|0 MB|Skipped"}));
            EXPECT_EQ(seen.m_summary, "Albums deleted : 0, copied : 0, failed : 0, not reached : 1. 0 MB written");
            EXPECT_EQ(shownSummary, seen.m_summary);
        } else {
            EXPECT_EQ(Messages(), (std::vector<CRecordedMessage>{{"Done. See log ?", 0x41}}));
            EXPECT_TRUE(fs::exists(m_fixture / "player/A/New/1"));
            EXPECT_EQ(shownSummary, "Albums deleted : 0, copied : 1, failed : 0, not reached : 0. 0 MB written");
        }
    }
}

// A job canceled in its delete pass: every album whose step it did not carry
// out keeps the user's choice after the rescan, those to copy ticked and those
// to delete unticked.
TEST_F(CopyJobWindowTest, ACanceledJobKeepsTheChoicesItDidNotCarryOut)
{
    CScratchVolume card; // a device of its own, which no other job locks
    if (const std::string failure = OnScratchPlayer(card); !failure.empty()) {
        GTEST_SKIP() << "cannot mount a small volume as the player here: " << failure;
    }
    Open("computer/A/New/1:1000\ncomputer/A/Next/1:1000\nplayer/B/Old/1:5\nplayer/B/Older/1:5\n");
    Toggle(u"A");
    Toggle(u"B");
    m_messages.QueueAnswer(IDOK);     // the albums only on the player go
    m_messages.QueueAnswer(IDCANCEL); // no log
    std::atomic<bool> deleting = false;
    ArmFault(EFaultPoint::RemoveFile, 0, 0, 1, [&] {
        deleting = true;
        while (g_cancelState == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    CopyFiles([&](CCopyFilesDlg& dialog) {
        dialog.OkButton()->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return deleting.load(); }, 5000));
        dialog.CancelButton()->click();
    });
    DisarmFaults();
    ASSERT_EQ(Messages().back(), (CRecordedMessage{"Canceled. See log ?", 0x41}));
    // The cancel came while the first album was deleted: that one goes whole,
    // the next keeps its name, and nothing is copied.
    EXPECT_FALSE(fs::exists(m_fixture / "player/B/Old"));
    EXPECT_TRUE(fs::exists(m_fixture / "player/B/Older/1"));
    EXPECT_FALSE(fs::exists(m_fixture / "player/A"));
    EXPECT_EQ(Rows(), "> Root (2/3) (+1/+0MB)\n"
                      "  A (2/2) (+2/+0MB)\n"
                      "  > B (0/1) (-1/0MB)\n");
}

// A card pulled during a job: the rescan fails, the tree stays as it was with
// its ticks, the status bar says why, Copy Files is disabled with that reason,
// and a re-read brings the tree back once the card is there again. A job that
// finds another folder in the player's place leads to the same state.
TEST_F(CopyJobWindowTest, APlayerThatCannotBeReadKeepsTheTreeUntilItIsReadAgain)
{
    m_fixture.Create("player/\n");
    const fs::path player = m_fixture / "player";
    CScratchVolume card;
    if (const std::string failure = card.MountExfat(player, 8 << 20); !failure.empty()) {
        GTEST_SKIP() << "cannot mount an exFAT image as the player here: " << failure;
    }
    Open("computer/A/New/1:1000\ncomputer/A/Next/1:1000\ncomputer/B/Kept/1:5\nplayer/B/Kept/1:5\n");
    Toggle(u"A");
    const std::string before = Rows();
    EXPECT_EQ(m_frame.UnreadableText(), "");
    EXPECT_FALSE(m_frame.ReadAgainButton()->isVisibleTo(&m_frame));
    ArmFault(EFaultPoint::WriteFile, 0, 0, 1, [&] { card.KillExfatDriver(); });
    m_messages.QueueAnswer(IDCANCEL); // no log
    CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); });
    DisarmFaults();

    const std::string error = "Error : 107 (Transport endpoint is not connected)";
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().back(), (CRecordedMessage{error + "\nWhile reading : " + player.string(), 0x30}));
    EXPECT_EQ(Rows(), before);
    const QString reason =
        QString::fromStdString("Jukebit cannot be read : " + error + " While reading : " + player.string());
    EXPECT_EQ(m_frame.UnreadableText(), reason);
    EXPECT_TRUE(m_frame.ReadAgainButton()->isVisibleTo(&m_frame));
    EXPECT_FALSE(m_frame.CopyFilesAction()->isEnabled());
    EXPECT_EQ(m_frame.CopyFilesAction()->statusTip(), "Copy Files is not available : " + reason);

    ASSERT_EQ(card.PlugExfatAgain(), "");
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_frame));
    QTest::keyClick(&View(), Qt::Key_F5); // View > Refresh
    EXPECT_EQ(Rows(), before);            // the albums the job did not copy are still ticked
    EXPECT_EQ(m_frame.UnreadableText(), "");
    EXPECT_TRUE(m_frame.CopyFilesAction()->isEnabled());
    // What watches the devices enters the state the same way; a re-read that succeeds leaves it.
    m_frame.MarkPlayerUnreadable("Jukebit is gone");
    EXPECT_EQ(m_frame.UnreadableText(), "Jukebit is gone");
    EXPECT_FALSE(m_frame.CopyFilesAction()->isEnabled());
    m_frame.RefreshAction()->trigger();
    EXPECT_TRUE(m_frame.CopyFilesAction()->isEnabled());

    card.Unmount(); // the empty folder it was mounted on is in its place
    m_messages.m_messages.clear();
    CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); });
    EXPECT_EQ(Messages(),
              (std::vector<CRecordedMessage>{
                  {"Jukebit music folder is no longer the one that was read (unplugged ?)\nCopy not started.", 0x30}}));
    EXPECT_EQ(m_frame.UnreadableText(), "Jukebit music folder is no longer the one that was read (unplugged ?)");
    EXPECT_FALSE(m_frame.CopyFilesAction()->isEnabled());
    EXPECT_EQ(Rows(), before);
    // The empty folder reads, but it is not the card: Copy Files waits for the card.
    m_frame.RefreshAction()->trigger();
    EXPECT_EQ(m_frame.UnreadableText(), "");
    EXPECT_EQ(m_frame.PlayerState(), CMainFrame::EPlayerState::Gone);
    EXPECT_FALSE(m_frame.CopyFilesAction()->isEnabled());
}

// After every dialog the main window is the active one and the keyboard is in
// the tree, wherever it was before; quitting with choices not carried out
// asks first, Cancel the default.
TEST_F(CopyJobWindowTest, FocusComesBackToTheTreeAndQuittingAsksFirst)
{
    CScratchVolume card; // a device of its own, which no other job locks
    if (const std::string failure = OnScratchPlayer(card); !failure.empty()) {
        GTEST_SKIP() << "cannot mount a small volume as the player here: " << failure;
    }
    Open("computer/A/New/1:1000\nplayer/B/Old/1:5\n");
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_frame));
    const auto backInTree = [&](const std::function<void()>& dialogs) {
        FilterField().setFocus();
        dialogs();
        QCoreApplication::processEvents();
        return QApplication::activeWindow() == &m_frame && QApplication::focusWidget() == &View();
    };
    Toggle(u"A");
    EXPECT_TRUE(backInTree([&] { CopyFiles([](CCopyFilesDlg& dialog) { dialog.OkButton()->click(); }); }));
    EXPECT_FALSE(m_titles.empty()); // the job ran, and its log was shown
    m_script.On("CLogDlg", [](QWidget* log) { static_cast<QDialog*>(log)->accept(); });
    EXPECT_TRUE(backInTree([&] { m_frame.ShowLogAction()->trigger(); }));
    m_script.On("CAboutDlg", [](QWidget* about) { static_cast<QDialog*>(about)->accept(); });
    EXPECT_TRUE(backInTree([&] { m_frame.OnAppAbout(); }));
    EXPECT_TRUE(backInTree([&] { CopyFiles([](CCopyFilesDlg& dialog) { dialog.CancelButton()->click(); }); }));

    m_messages.m_messages.clear();
    Toggle(u"B/Old");
    m_messages.QueueAnswer(IDCANCEL);
    EXPECT_TRUE(backInTree([&] { EXPECT_FALSE(m_frame.close()); }));
    EXPECT_EQ(Messages(), (std::vector<CRecordedMessage>{
                              {"0 albums to copy and 1 to delete have not been carried out. Quit ?", 0x131}}));
    EXPECT_TRUE(m_frame.isVisible());
    Toggle(u"B/Old");
    EXPECT_TRUE(m_frame.close());
    EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(CopyJobWindowTest, DecliningThePlayerOnlyWarningStartsNothing)
{
    Open("player/B/Only/1:5\n");
    Toggle(u"B");
    m_messages.QueueAnswer(IDCANCEL);
    bool idle = false;
    CopyFiles([&](CCopyFilesDlg& dialog) {
        dialog.OkButton()->click();
        idle = dialog.OkButton()->isEnabled() && !m_doc.m_pCopyThread;
        dialog.CancelButton()->click(); // closes the idle dialog
    });
    EXPECT_TRUE(idle);
    EXPECT_EQ(
        Messages(),
        (std::vector<CRecordedMessage>{
            {"Warning !!! You have choosen to delete files that are only on the Jukebit !!! Continue ?", 0x131}}));
    EXPECT_TRUE(fs::exists(m_fixture / "player/B/Only/1"));
    // Closed without a job: the selection stays as it was.
    EXPECT_EQ(m_frame.View()->model()->index(0, 0).data().toString().toStdString(), "> Root (0/1) (-1/0MB)");
}

// With nothing to delete or copy there is no job to start: OK is disabled.
TEST_F(CopyJobWindowTest, NothingToDoAndAJobWithErrors)
{
    Open("computer/A/New/1:10\n");
    bool okEnabled = true;
    bool open = false;
    CopyFiles([&](CCopyFilesDlg& dialog) {
        okEnabled = dialog.OkButton()->isEnabled();
        dialog.OkButton()->click();
        open = dialog.isVisible() && !m_doc.m_pCopyThread;
        dialog.CancelButton()->click();
    });
    EXPECT_FALSE(okEnabled);
    EXPECT_TRUE(open);
    EXPECT_TRUE(m_titles.empty());
    EXPECT_TRUE(Messages().empty());

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
    // A name that would end its line on screen.
    log.Add(LOG_INFO, "Deleting \"%s\"", ToLogText(u"JUKEBIT/A\u2028ERROR  : Deleting \"JUKEBIT/Keep\" : Error 5"));
    show();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "");
    // The last line ends too, so the caret can stand on an empty fifth line.
    EXPECT_EQ(shown[1], "INFO   : Deleting \"JUKEBIT/A/Old\"\n"
                        "ERROR  : Deleting \"JUKEBIT/A/Old/1\" : Error 13 (Permission denied)\n"
                        "CANCEL : Canceled by user\n"
                        "INFO   : Deleting \"JUKEBIT/A\\u2028ERROR  : Deleting \"JUKEBIT/Keep\" : Error 5\"\n");
}

// Save writes the log as it is, to the file chosen in the file dialog, and
// tells when it cannot; Copy puts it on the clipboard as shown. After Save,
// Enter closes the dialog: it does not ask for a file again.
TEST(LogDlgTest, SaveAndCopy)
{
    CMessageRecorder messages;
    CFolderFixture folder;
    CCopyLog log;
    log.Add(LOG_INFO, "Copying \"%s\"", "COMPUTER/Évora/Cesária");
    log.Add(LOG_ERROR, "Opening \"%s\" : Error %s", "COMPUTER/A/1", "2 (No such file or directory)");
    CModalScript script;
    bool askedAgain = false;
    bool closedByEnter = false;
    script.On("CLogDlg", [&](QWidget* widget) {
        QTimer::singleShot(0, widget, [&, widget] {
            auto& dialog = static_cast<CLogDlg&>(*widget);
            QTest::mouseClick(dialog.SaveButton(), Qt::LeftButton);
            dialog.OnCopy();
            script.On("QFileDialog", [&](QWidget* again) {
                askedAgain = true;
                QMetaObject::invokeMethod(again, "reject");
            });
            QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
            closedByEnter = !dialog.isVisible();
            dialog.accept();
        });
    });
    script.On("QFileDialog", [&](QWidget* widget) {
        // Typed into the name field, as a user does; selectFile leaves a field that has the focus as it is.
        auto& name = *widget->findChild<QLineEdit*>("fileNameEdit");
        name.setText(QString::fromStdString((folder / "job log.txt").string()));
        QMetaObject::invokeMethod(widget, "accept"); // the Save button
    });
    CLogDlg dialog;
    dialog.m_pLog = &log;
    dialog.DoModal();
    EXPECT_EQ(ReadFileText(folder / "job log.txt"), log.GetText());
    EXPECT_FALSE(askedAgain);
    EXPECT_TRUE(closedByEnter);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              "INFO   : Copying \"COMPUTER/Évora/Cesária\"\n"
              "ERROR  : Opening \"COMPUTER/A/1\" : Error 2 (No such file or directory)\n");
    EXPECT_TRUE(messages.m_messages.empty());

    const std::string gone = (folder / "gone/job log.txt").string();
    dialog.SaveTo(QString::fromStdString(gone));
    EXPECT_EQ(messages.m_messages,
              (std::vector<CRecordedMessage>{
                  {"Saving the log :\nError : 2 (No such file or directory)\nWhile writing : " + gone, 0x30}}));
}

// The plan lists the changed albums under their own heading, with their old
// and new sizes; "Replace changed albums" keeps them all as the player has
// them for this job, in the plan, the tree and the free space after the job.
TEST_F(CopyJobWindowTest, ChangedAlbumsAreRefreshedOrKeptFromTheDialog)
{
    Open("computer/A/One/1:1000000\ncomputer/A/One/2:3000000\nplayer/A/One/1:1000000\ncomputer/B/New/1:2000000\n");
    m_doc.m_nFreeBytes = 10000000;
    m_doc.m_nTotalBytes = 20000000;
    m_doc.m_allocationUnit = 1;
    Toggle(u"B/New");
    CopyFiles([&](CCopyFilesDlg& dialog) {
        EXPECT_EQ(dialog.focusWidget(), dialog.OkButton());
        EXPECT_EQ(dialog.ToCopyText(), "2 albums to copy");
        const std::vector<std::string> refreshing = {
            "Copy|COMPUTER/B/New|2 MB|",
            "Changed on the computer since they were copied: the new version replaces the Jukebit's|||",
            "Refresh|COMPUTER/A/One|4 MB (was 1 MB)|"};
        EXPECT_EQ(PlanRows(dialog), refreshing);
        EXPECT_EQ(dialog.FreeSpaceText(), "Free space after the job : 5MB / 20MB");
        QCheckBox& replace = *dialog.ReplaceChangedBox();
        EXPECT_EQ(replace.checkState(), Qt::Checked);
        replace.click();
        EXPECT_EQ(PlanRows(dialog), std::vector<std::string>{"Copy|COMPUTER/B/New|2 MB|"});
        EXPECT_EQ(dialog.ToCopyText(), "1 albums to copy");
        EXPECT_EQ(dialog.FreeSpaceText(), "Free space after the job : 8MB / 20MB");
        EXPECT_EQ(Label(Item(u"A/One")), "One (1/1) (+0/+0MB) (changed, kept as on Jukebit)");
        replace.click();
        EXPECT_EQ(PlanRows(dialog), refreshing);
        dialog.CancelButton()->click();
    });
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 5MB / 20MB");
}

namespace {

// Whether this build writes converted files; the chooser's memory is shown with a format that converts.
bool ConvertingWriterBuilt()
{
    try {
        return MakeWriter(*FindProfile("opus-128")) != nullptr;
    } catch (const std::logic_error&) {
        return false;
    }
}

} // namespace

// A format chosen is remembered for the player's file system by its UUID and
// taken up by the next load; a card without a choice takes the format its
// .is_audio_player names, and another card without either copies as it is.
TEST_F(CopyJobWindowTest, TheFormatIsRememberedByThePlayersFileSystem)
{
    if (!ConvertingWriterBuilt()) {
        GTEST_SKIP() << "this build has no converting writer";
    }
    m_fixture.Create("config/\nplayer/\n");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((m_fixture / "config").string()));
    const std::shared_ptr<void> restore(nullptr, [](void*) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    });
    CScratchVolume card;
    if (const std::string failure = card.MountExfat(m_fixture / "player", 8 << 20); !failure.empty()) {
        GTEST_SKIP() << "cannot mount an exFAT image as the player here: " << failure;
    }
    Open("computer/A/One/1.flac:1000\ncomputer/A/One/2.mp3:10\n");
    EXPECT_EQ(m_frame.FormatBox()->currentText(), "Copy files as they are");
    EXPECT_TRUE(m_frame.FormatActions().at(0)->isChecked());
    m_frame.FormatActions().at(2)->trigger(); // Opus 128 kbps
    EXPECT_EQ(m_doc.Format().m_id, "opus-128");
    EXPECT_EQ(m_frame.FormatBox()->currentText(), "Opus 128 kbps");
    const auto nextLoad = [&] {
        CLyrafetchDoc doc{m_doc.m_params};
        CMainFrame frame(doc);
        EXPECT_FALSE(doc.Load().has_value());
        frame.View()->OnInitialUpdate();
        return std::make_pair(std::string(doc.Format().m_id), frame.FormatBox()->currentText().toStdString());
    };
    EXPECT_EQ(nextLoad(), std::make_pair(std::string("opus-128"), std::string("Opus 128 kbps")));

    ASSERT_TRUE(card.FormatExfatAgain().empty()); // another card, with no format remembered
    std::ofstream(m_fixture / "player" / AUDIO_PLAYER_FILE) << "[Device]\noutput_formats=audio/mpeg\n";
    EXPECT_EQ(nextLoad().first, "mp3-v2");
    fs::remove(m_fixture / "player" / AUDIO_PLAYER_FILE);
    EXPECT_EQ(nextLoad().first, "copy");
}
