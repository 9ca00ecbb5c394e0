#include "app/Presentation.h"
#include "platform/FaultInjection.h"
#include "ui/AboutDlg.h"
#include "ui/CopyFilesDlg.h"
#include "ui/FolderTreeModel.h"
#include "ui/LoadingFeedback.h"
#include "ui/LogDlg.h"
#include "ui/LyrafetchApp.h"
#include "ui/MainWindowFixture.h"
#include "ui/ModalScript.h"
#include "ui/QtMessageBoxes.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>

using MainWindowTest = MainWindowFixture;

TEST_F(MainWindowTest, OpensCollapsedOnTheRootWithFreeSpace)
{
    Open("computer/A/One/1:1000000\nplayer/A/Two/1:2000000\n");
    EXPECT_EQ(m_frame.windowTitle(), "Lyrafetch");
    ASSERT_EQ(View().model()->rowCount(), 1);
    const QModelIndex root = View().model()->index(0, 0);
    EXPECT_EQ(Label(root), "> Root (1/2) (+0/+0MB)");
    EXPECT_FALSE(View().isExpanded(root));
    EXPECT_FALSE(View().rootIsDecorated());
    EXPECT_EQ(m_frame.FreeSpaceText().toStdString(), FormatFreeSpace(m_doc.m_freeBytes, m_doc.m_totalBytes));
    EXPECT_EQ(m_frame.MessageText(), "Ready");
}

TEST_F(MainWindowTest, ClicksOnTheImageCycleAPartlyOnPlayerFolder)
{
    Open("computer/A/One/1:3000000\nplayer/A/Two/1:2000000\ncomputer/A/Two/1:5\n");
    const QModelIndex artist = Item(u"A");
    EXPECT_EQ(Label(artist), "A (1/2) (+0/+0MB)");
    const char* cycle[] = {"A (2/2) (+1/+3MB)", "A (0/2) (-1/-2MB)", "A (1/2) (+0/+0MB)", "A (2/2) (+1/+3MB)"};
    for (const char* expected : cycle) {
        ClickImage(artist);
        EXPECT_EQ(Label(artist), expected);
    }
    EXPECT_EQ(View().currentIndex(), artist); // the click also selected it
    EXPECT_EQ(Label(Item(u"A/One")), "One (1/1) (+1/+3MB)");
    EXPECT_EQ(Label(View().model()->index(0, 0)), "Root (2/2) (+1/+3MB)");
}

// The selection colours the row, never the check box: partly selected and
// not selected must look apart on every row.
TEST_F(MainWindowTest, TheSelectedRowKeepsItsImage)
{
    Open("computer/A/One/1:1\nplayer/A/Two/1:1\ncomputer/A/Two/1:1\n");
    for (const char16_t* path : {u"A", u"A/One", u"A/Two"}) { // some, none and all selected
        const QModelIndex item = Item(path);
        View().clearSelection();
        const QImage normal = View().viewport()->grab(View().ImageRect(item)).toImage();
        View().setCurrentIndex(item);
        ASSERT_TRUE(View().selectionModel()->isSelected(item));
        EXPECT_EQ(View().viewport()->grab(View().ImageRect(item)).toImage(), normal);
    }
}

TEST_F(MainWindowTest, AClickOnTheTextOnlySelects)
{
    Open("computer/A/One/1:1\n");
    const QModelIndex album = Item(u"A/One");
    const QRect text = View().visualRect(album);
    QTest::mouseClick(View().viewport(), Qt::LeftButton, {}, QPoint(text.right() - 5, text.center().y()));
    QCoreApplication::processEvents();
    EXPECT_EQ(View().currentIndex(), album);
    EXPECT_EQ(Label(album), "One (0/1) (+0/+0MB)");
}

// A label wider than the view is shown whole, and the view scrolls sideways
// to its end; moving to another row leaves it scrolled where it is.
TEST_F(MainWindowTest, ALongLabelIsShownWhole)
{
    m_frame.resize(320, 240);
    Open("computer/A/Album 05 with a rather long title/1:83000000\n");
    const QModelIndex album = Item(u"A/Album 05 with a rather long title");
    View().viewport()->repaint();
    QCoreApplication::processEvents();
    EXPECT_GE(View().visualRect(album).width(), View().sizeHintForIndex(album).width());
    QScrollBar& scrollBar = *View().horizontalScrollBar();
    ASSERT_GT(scrollBar.maximum(), 0);

    View().setCurrentIndex(album);
    scrollBar.setValue(scrollBar.maximum());
    QTest::keyClick(&View(), Qt::Key_Up);
    EXPECT_EQ(View().currentIndex(), Item(u"A"));
    EXPECT_EQ(scrollBar.value(), scrollBar.maximum());
}

TEST_F(MainWindowTest, SpaceTogglesTheCurrentItem)
{
    Open("computer/A/One/1:1\n");
    View().setFocus();
    View().setCurrentIndex({});
    QTest::keyClick(&View(), Qt::Key_Space);
    EXPECT_EQ(m_doc.m_pModel->m_selected, 0);

    const QModelIndex album = Item(u"A/One");
    View().setCurrentIndex(album);
    QTest::keyClick(&View(), Qt::Key_Space);
    EXPECT_EQ(Label(album), "One (1/1) (+1/+0MB)");
    QTest::keyClick(&View(), Qt::Key_Space);
    EXPECT_EQ(Label(album), "One (0/1) (+0/+0MB)");
}

TEST_F(MainWindowTest, StatusBarFollowsTheSelection)
{
    Open("computer/A/One/1:1500000\nplayer/B/Two/1:2500000\n");
    m_doc.m_freeBytes = 1000000;
    m_doc.m_totalBytes = 8000000;
    m_doc.m_allocationUnit = 1;
    View().UpdateFreeSpace();
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 1MB / 8MB");
    ClickImage(Item(u"A/One"));
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 0MB / 8MB"); // -500,000 bytes
    ClickImage(Item(u"B/Two"));
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 2MB / 8MB");
}

TEST_F(MainWindowTest, WithoutFreeSpaceThereIsNoWarning)
{
    ArmFault(EFaultPoint::VolumeSpace, EIO);
    Open("computer/A/One/1:7000000\n");
    DisarmFaults();
    ASSERT_EQ(m_messages.m_messages.size(), 1u);
    ClickImage(Item(u"A/One"));
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : -7MB / 0MB");

    // With the size known and too little room, Copy Files asks first.
    m_doc.m_totalBytes = 10000000;
    m_messages.QueueAnswer(IDCANCEL);
    m_frame.CopyFilesAction()->trigger();
    ASSERT_EQ(m_messages.m_messages.size(), 2u);
    EXPECT_EQ(m_messages.m_messages[1].m_text, "Warning !!! Not enough free space on Jukebit. Proceed ?");
    EXPECT_EQ(m_messages.m_messages[1].m_type, 0x31u);
}

TEST_F(MainWindowTest, TitleShowsTheCopiedAlbums)
{
    Open("computer/A/One/1:1\n");
    m_frame.SetCopyProgress({true, 0, 4, 0, 4});
    EXPECT_EQ(m_frame.windowTitle(), "0/4 - Lyrafetch");
    m_frame.SetCopyProgress({true, 0, 1, 0, 4});
    EXPECT_EQ(m_frame.windowTitle(), "3/4 - Lyrafetch");
    m_frame.SetCopyProgress({false, 0, 0, 0, 4});
    EXPECT_EQ(m_frame.windowTitle(), "Lyrafetch");
}

TEST_F(MainWindowTest, MenuPrompts)
{
    Open("computer/A/One/1:1\n");
    const auto actions = m_frame.findChildren<QAction*>();
    const auto exit = std::find_if(actions.begin(), actions.end(), [](QAction* a) { return a->text() == "E&xit"; });
    ASSERT_NE(exit, actions.end());
    m_frame.CopyFilesAction()->showStatusText(&m_frame);
    EXPECT_EQ(m_frame.MessageText(), "");
    (*exit)->showStatusText(&m_frame);
    EXPECT_EQ(m_frame.MessageText(), "Quit the application; prompts to save documents");
}

// About, Copy Files and Log are modal frames of a fixed size.
TEST(DialogTest, FixedFramesAndTheAboutText)
{
    CAboutDlg about;
    CCopyFilesDlg copyFiles;
    CLogDlg log;
    for (const QDialog* dialog :
         {static_cast<QDialog*>(&about), static_cast<QDialog*>(&copyFiles), static_cast<QDialog*>(&log)}) {
        SCOPED_TRACE(dialog->windowTitle().toStdString());
        EXPECT_TRUE(dialog->minimumSize() == dialog->maximumSize());
    }
    QStringList lines;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        lines << label->text();
    }
    EXPECT_EQ(lines.join("|"), "Lyrafetch Version " LYRAFETCH_VERSION "|Copyright (C) 2026 The Lyrafetch developers");
}

TEST(StartUpTest, WithoutArgumentsOnlyTheUsageMessage)
{
    CMessageRecorder messages;
    int argc = 1;
    char name[] = "lyrafetch";
    char* argv[] = {name, nullptr};
    CLyrafetchApp app(argc, argv);
    EXPECT_FALSE(app.InitInstance());
    const std::vector<CRecordedMessage> expected = {{"Usage : Lyrafetch pcFolder jukebitFolder", 0x40}};
    EXPECT_EQ(messages.m_messages, expected);
    EXPECT_EQ(app.MainFrame(), nullptr);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty() ||
                std::none_of(QApplication::topLevelWidgets().begin(), QApplication::topLevelWidgets().end(),
                             [](QWidget* widget) { return widget->isVisible(); }));
}

// The usage message comes up under the load's wait cursor, as a real box.
TEST(StartUpTest, AMessageBoxShowsTheNormalCursor)
{
    const MessageBoxHandler previous = SetMessageBoxHandler({});
    InstallQtMessageBoxes();
    CModalScript script;
    std::string text;
    Qt::CursorShape cursor = Qt::BlankCursor;
    script.On("QMessageBox", [&](QWidget* widget) {
        auto& box = static_cast<QMessageBox&>(*widget);
        text = box.text().toStdString();
        cursor = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor;
        box.button(QMessageBox::Ok)->click();
    });
    int argc = 1;
    char name[] = "lyrafetch";
    char* argv[] = {name, nullptr};
    CLyrafetchApp app(argc, argv);
    EXPECT_FALSE(app.InitInstance());
    SetMessageBoxHandler(previous);
    EXPECT_EQ(text, "Usage : Lyrafetch pcFolder jukebitFolder");
    EXPECT_EQ(cursor, Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// A load that takes long says so, with what it has read so far; a quick one
// shows nothing.
TEST_F(MainWindowTest, ALongLoadShowsHowFarItHasCome)
{
    Open("computer/A/One/1:1\ncomputer/A/Two/2:1\nplayer/A/One/1:1\n");
    {
        const CLoadingFeedback quick(m_doc, &m_frame);
        m_doc.Load();
        EXPECT_EQ(quick.Window(), nullptr);
    }
    const CLoadingFeedback slow(m_doc, &m_frame, 0);
    m_doc.Load();
    ASSERT_NE(slow.Window(), nullptr);
    EXPECT_TRUE(slow.Window()->isVisible());
    EXPECT_EQ(slow.Text().toStdString(), "Reading the music folders :\n1 folders, 0 files");
    EXPECT_NE(m_doc.m_pModel, nullptr);
}

// Qt's own checks of an item model, over a flat library whose albums all lie
// in the root, as the model finds each item's row by its name, and beside
// them an artist with two albums. A toggle reports the rows it changed: the
// ancestors and the subtree of the item, and nothing else.
TEST(FolderTreeModelTest, StaysConsistentAndAToggleReportsItsRows)
{
    CFolderNode root;
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        std::vector<std::u16string> names = {u"Artist"};
        for (int album = side; album < 3000; album += 1 + side) {
            names.push_back(u"Album " + QString::number(album).toStdU16String());
        }
        std::sort(names.begin(), names.end(), NameOrderLess);
        root.AddChildren(side, names);
    }
    CFolderNode& artist = *root.m_children.back();
    std::vector<std::u16string> albums = {u"One", u"Two"};
    artist.AddChildren(SIDE_COMPUTER, albums);
    root.FinishScan();
    CFolderTreeModel model;
    const QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.SetRoot(&root);
    const QModelIndex top = model.index(0, 0);
    ASSERT_EQ(model.rowCount(top), 3001);
    for (int row = 0; row < model.rowCount(top); ++row) {
        const QModelIndex item = model.index(row, 0, top);
        ASSERT_EQ(model.parent(item), top);
        ASSERT_EQ(model.IndexFromNode(model.NodeFromIndex(item)), item);
    }

    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy applied(&model, &CFolderTreeModel::selectionApplied);
    model.ApplySelection(model.IndexFromNode(&artist), SELECT_ALL);
    std::set<const CFolderNode*> changed;
    for (const QList<QVariant>& change : changes) {
        const QModelIndex first = change[0].toModelIndex();
        const QModelIndex last = change[1].toModelIndex();
        ASSERT_EQ(first.parent(), last.parent());
        for (int row = first.row(); row <= last.row(); ++row) {
            changed.insert(model.NodeFromIndex(first.siblingAtRow(row)));
        }
    }
    EXPECT_EQ(changed,
              (std::set<const CFolderNode*>{&root, &artist, artist.m_children[0].get(), artist.m_children[1].get()}));
    EXPECT_EQ(applied.count(), 1);
    EXPECT_EQ(model.data(top).toString().toStdString(), "Root (1502/3002) (+2/+0MB)");
    model.SetRoot(nullptr);
}
