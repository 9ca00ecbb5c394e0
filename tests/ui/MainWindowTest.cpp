#include "app/Presentation.h"
#include "platform/FaultInjection.h"
#include "support/ScratchVolume.h"
#include "ui/AboutDlg.h"
#include "ui/CopyFilesDlg.h"
#include "ui/DeviceWatcher.h"
#include "ui/DialogFrame.h"
#include "ui/FakeUDisks2.h"
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
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>

using MainWindowTest = MainWindowFixture;

// The first window shows the root open on its folders, with the button that
// closes it as on every other item.
TEST_F(MainWindowTest, OpensOnTheRootOpenOneLevelWithFreeSpace)
{
    Open("computer/A/One/1:1000000\nplayer/A/Two/1:2000000\n"
         "player/.Trash-1000/\nplayer/LOST.DIR/\nplayer/.fseventsd/\ncomputer/.thumbnails/\n");
    EXPECT_EQ(m_frame.windowTitle(), "Lyrafetch");
    ASSERT_EQ(View().model()->rowCount(), 1);
    const QModelIndex root = View().model()->index(0, 0);
    EXPECT_EQ(Label(root), "> Root (1/2) (+0/+0MB)");
    EXPECT_TRUE(View().isExpanded(root));
    EXPECT_FALSE(View().isExpanded(View().model()->index(0, 0, root)));
    EXPECT_TRUE(View().rootIsDecorated());
    EXPECT_FALSE(m_frame.ShowLogAction()->isEnabled()); // no job has run
    EXPECT_EQ(m_frame.FreeSpaceText().toStdString(), FormatFreeSpace(m_doc.m_nFreeBytes, m_doc.m_nTotalBytes));
    EXPECT_EQ(m_frame.MessageText(), "Ready");
    // What the tree leaves out, it says.
    EXPECT_EQ(m_frame.LeftOutText(),
              "4 folders left out: COMPUTER/.thumbnails, JUKEBIT/.fseventsd, JUKEBIT/.Trash-1000, ...");
    const QList<QLabel*> panes = m_frame.statusBar()->findChildren<QLabel*>();
    const auto leftOut =
        std::find_if(panes.begin(), panes.end(), [&](QLabel* pane) { return pane->text() == m_frame.LeftOutText(); });
    ASSERT_NE(leftOut, panes.end());
    EXPECT_EQ((*leftOut)->toolTip().split('\n').last(), "JUKEBIT/LOST.DIR : kept on the drive by another system");
}

TEST_F(MainWindowTest, ClicksOnTheImageCycleAPartlyOnPlayerFolder)
{
    Open("computer/A/One/1:3000000\nplayer/A/Two/1:2000000\ncomputer/A/Two/1:2000000\n");
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
    Open("computer/A/Album 05 with a rather long title, remastered and expanded with bonus tracks/1:83000000\n");
    const QModelIndex album = Item(u"A/Album 05 with a rather long title, remastered and expanded with bonus tracks");
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

// Type-ahead in the tree: "Paper Pil" reaches Paper Pilots and ticks nothing
// on the way; once the typing has paused, the space bar toggles again.
TEST_F(MainWindowTest, ASpaceDuringTypeAheadGoesOnWithTheSearch)
{
    Open("computer/Paper Birds/1:1\ncomputer/Paper Pilots/1:1\n");
    const QModelIndex pilots = Item(u"Paper Pilots");
    View().setFocus();
    View().setCurrentIndex(View().model()->index(0, 0));
    QTest::keyClicks(&View(), "Paper Pil");
    EXPECT_EQ(View().currentIndex(), pilots);
    EXPECT_EQ(Label(Item(u"Paper Birds")), "Paper Birds (0/1) (+0/+0MB)");
    EXPECT_EQ(Label(pilots), "Paper Pilots (0/1) (+0/+0MB)");

    QTest::qWait(QApplication::keyboardInputInterval() + 100);
    QTest::keyClick(&View(), Qt::Key_Space);
    EXPECT_EQ(Label(pilots), "Paper Pilots (1/1) (+1/+0MB)");
}

// Words match anywhere in the path below the root, in any order, case and
// accents (composed or not) ignored; the matches show with their ancestors,
// open. Ctrl+F reaches the field, Escape gives back the tree as it was.
TEST_F(MainWindowTest, TheFilterShowsTheFoldersWhosePathHoldsEveryWord)
{
    Open("computer/Miles Davis/Kind of Blue/1:1\ncomputer/Miles Davis/Bitches Brew/1:1\n"
         "computer/Cesária Évora/Miss Perfumado/1:1\ncomputer/Madredeus/Ao Vivo em E\xcc\x81vora/1:1\n"
         "player/MØ/No Mythologies to Follow/1:1\ncomputer/Bach/Goldberg Variations/1:1\n"
         "computer/R.E.M/Murmur/1:1\ncomputer/AC_DC/Back in Black/1:1\n");
    const std::string root = "> Root (1/8) (+0/+0MB)\n";
    const std::string before = Rows();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_frame));
    EXPECT_TRUE(View().hasFocus());
    QTest::keyClick(&m_frame, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(FilterField().hasFocus());

    QTest::keyClicks(&FilterField(), "EVORA");
    EXPECT_EQ(Rows(), root + "  Cesária Évora (0/1) (+0/+0MB)\n"
                             "    Miss Perfumado (0/1) (+0/+0MB)\n"
                             "  Madredeus (0/1) (+0/+0MB)\n"
                             "    Ao Vivo em E\xcc\x81vora (0/1) (+0/+0MB)\n");
    EXPECT_EQ(m_frame.FilterBar()->CountText(), "2 of 8 albums");
    const std::pair<const char*, std::string> searches[] = {
        {"kind  davis", "  Miles Davis (0/2) (+0/+0MB)\n    Kind of Blue (0/1) (+0/+0MB)\n"},
        {"mo mythologies", "  > MØ (1/1) (+0/+0MB)\n    > No Mythologies to Follow (1/1) (+0/+0MB)\n"},
        {"davis/bitches", "  Miles Davis (0/2) (+0/+0MB)\n    Bitches Brew (0/1) (+0/+0MB)\n"},
        // Punctuation counts for nothing, but for a "/" that parts folders.
        {"rem", "  R.E.M (0/1) (+0/+0MB)\n    Murmur (0/1) (+0/+0MB)\n"},
        {"r.e.m. murmur", "  R.E.M (0/1) (+0/+0MB)\n    Murmur (0/1) (+0/+0MB)\n"},
        {"acdc", "  AC_DC (0/1) (+0/+0MB)\n    Back in Black (0/1) (+0/+0MB)\n"},
        {"ac/dc", "  AC_DC (0/1) (+0/+0MB)\n    Back in Black (0/1) (+0/+0MB)\n"},
        {"bach evora", ""},
    };
    for (const auto& [words, rows] : searches) {
        FilterField().setText(words);
        EXPECT_EQ(Rows(), root + rows) << words;
    }
    EXPECT_EQ(m_frame.FilterBar()->CountText(), "No album matches");

    QTest::keyClick(&FilterField(), Qt::Key_Escape);
    EXPECT_EQ(FilterField().text(), "");
    EXPECT_EQ(Rows(), before);
    EXPECT_EQ(m_frame.FilterBar()->CountText(), "");

    // Tab goes on from the field to the quick view chosen and then to the
    // tree; the arrows choose another view, as in any group of choices.
    FilterField().setFocus();
    const CFilterBar& bar = *m_frame.FilterBar();
    std::vector<QWidget*> stops;
    for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Right, Qt::Key_Right, Qt::Key_Tab}) {
        QTest::keyClick(QApplication::focusWidget(), key);
        stops.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(bar.QuickView(), EQuickView::PlayerOnly);
    EXPECT_EQ(stops,
              (std::vector<QWidget*>{bar.QuickViewButton(EQuickView::All), bar.QuickViewButton(EQuickView::Changes),
                                     bar.QuickViewButton(EQuickView::PlayerOnly), &View()}));
}

// Folders show in the order a file manager shows them: accented names among
// the others, numbers by their value, case ignored; filtered too.
TEST_F(MainWindowTest, FoldersShowInTheOrderOfAReader)
{
    Open("computer/Wu-Tang Clan/36 Chambers/1:1\ncomputer/Édith Piaf/Récital 1961/1:1\ncomputer/abba/Arrival/1:1\n"
         "player/Eagles/Hotel California/1:1\ncomputer/Best of/711/1:1\ncomputer/Best of/39/1:1\n"
         "computer/Best of/398/1:1\ncomputer/Best of/9/1:1\n");
    View().expandAll();
    const std::string root = "> Root (1/8) (+0/+0MB)\n"
                             "  abba (0/1) (+0/+0MB)\n"
                             "    Arrival (0/1) (+0/+0MB)\n";
    const std::string best = "  Best of (0/4) (+0/+0MB)\n"
                             "    9 (0/1) (+0/+0MB)\n"
                             "    39 (0/1) (+0/+0MB)\n"
                             "    398 (0/1) (+0/+0MB)\n"
                             "    711 (0/1) (+0/+0MB)\n";
    const std::string rest = "  > Eagles (1/1) (+0/+0MB)\n"
                             "    > Hotel California (1/1) (+0/+0MB)\n"
                             "  Édith Piaf (0/1) (+0/+0MB)\n"
                             "    Récital 1961 (0/1) (+0/+0MB)\n"
                             "  Wu-Tang Clan (0/1) (+0/+0MB)\n"
                             "    36 Chambers (0/1) (+0/+0MB)\n";
    EXPECT_EQ(Rows(), root + best + rest);
    FilterField().setText("a");
    EXPECT_EQ(Rows(), root + rest);
    // The tree itself keeps the order by which the sides are matched and the job writes.
    const auto& numbers = m_doc.m_pModel->m_children[1]->m_children;
    ASSERT_EQ(numbers.size(), 4u);
    EXPECT_EQ(numbers[0]->GetKeyName(), u"39");
    EXPECT_EQ(numbers[3]->GetKeyName(), u"9");
}

// Toggling an artist whose albums the filter shows in part acts on those
// shown, the mode chosen from their states; the labels and the free space are
// those of the whole tree. Return in the field leads to the first album shown.
TEST_F(MainWindowTest, ATickInAFilteredArtistActsOnTheAlbumsShown)
{
    Open("computer/Miles Davis/Kind of Blue/1:2000000\nplayer/Miles Davis/Kind of Blue/1:2000000\n"
         "computer/Miles Davis/Blue Moods/1:3000000\nplayer/Miles Davis/Blue Moods/1:3000000\n"
         "computer/Miles Davis/Bitches Brew/1:7000000\ncomputer/Coltrane/Blue Train/1:1\n");
    m_doc.m_nFreeBytes = 10000000;
    m_doc.m_nTotalBytes = 90000000;
    m_doc.m_allocationUnit = 1;
    FilterField().setText("davis blue");
    const QModelIndex artist = Item(u"Miles Davis");
    EXPECT_EQ(View().model()->rowCount(artist), 2);
    ClickImage(artist);
    EXPECT_EQ(Label(artist), "Miles Davis (0/3) (-2/-5MB)");
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 15MB / 90MB");
    ClickImage(artist);
    EXPECT_EQ(Label(artist), "Miles Davis (2/3) (+0/+0MB)");

    FilterField().setText("brew");
    QTest::keyClick(&FilterField(), Qt::Key_Return);
    EXPECT_TRUE(View().hasFocus());
    EXPECT_EQ(View().currentIndex(), Item(u"Miles Davis/Bitches Brew"));
    QTest::keyClick(&View(), Qt::Key_Space);
    EXPECT_EQ(Label(Item(u"Miles Davis")), "Miles Davis (3/3) (+1/+7MB)");
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 3MB / 90MB");

    FilterField().clear();
    EXPECT_EQ(Label(Item(u"Coltrane/Blue Train")), "Blue Train (0/1) (+0/+0MB)");
}

// The quick views take the albums a job would change, or those only on the
// player, as they stand when chosen: rows stay put while the user ticks. Back
// to all albums, the tree is open as before, the current item in view.
TEST_F(MainWindowTest, QuickViewsOfTheChangesAndOfThePlayerOnlyAlbums)
{
    Open("computer/A/One/1:1\ncomputer/A/Two/1:1\nplayer/A/Two/1:1\nplayer/B/Three/1:1\n"
         "computer/B/Four/1:1\nplayer/B/Four/1:1\ncomputer/C/Five/1:1\n");
    ClickImage(Item(u"A/One"));
    ClickImage(Item(u"B/Four"));
    View().collapse(Item(u"B"));
    CFilterBar& bar = *m_frame.FilterBar();
    bar.QuickViewButton(EQuickView::Changes)->click();
    EXPECT_EQ(Rows(), "> Root (3/5) (+0/+0MB)\n"
                      "  A (2/2) (+1/+0MB)\n"
                      "    One (1/1) (+1/+0MB)\n"
                      "  > B (1/2) (-1/0MB)\n"
                      "    Four (0/1) (-1/0MB)\n");
    EXPECT_EQ(bar.CountText(), "2 of 5 albums");
    ClickImage(Item(u"A/One"));
    EXPECT_EQ(Label(Item(u"A/One")), "One (0/1) (+0/+0MB)");
    bar.QuickViewButton(EQuickView::PlayerOnly)->click();
    EXPECT_EQ(Rows(), "> Root (2/5) (-1/0MB)\n"
                      "  > B (1/2) (-1/0MB)\n"
                      "    > Three (1/1) (+0/+0MB)\n");

    View().setCurrentIndex(Item(u"B/Three"));
    bar.QuickViewButton(EQuickView::All)->click();
    EXPECT_EQ(Rows(), "> Root (2/5) (-1/0MB)\n"
                      "  A (1/2) (+0/+0MB)\n"
                      "    One (0/1) (+0/+0MB)\n"
                      "    Two (1/1) (+0/+0MB)\n"
                      "  > B (1/2) (-1/0MB)\n"
                      "    Four (0/1) (-1/0MB)\n"
                      "    > Three (1/1) (+0/+0MB)\n"
                      "  C (0/1) (+0/+0MB)\n");
    EXPECT_EQ(View().currentIndex(), Item(u"B/Three"));
}

TEST_F(MainWindowTest, StatusBarFollowsTheSelection)
{
    Open("computer/A/One/1:1500000\nplayer/B/Two/1:2500000\n");
    m_doc.m_nFreeBytes = 1000000;
    m_doc.m_nTotalBytes = 8000000;
    m_doc.m_allocationUnit = 1;
    View().UpdateFreeSpace();
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 1MB / 8MB");
    ClickImage(Item(u"A/One"));
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 0MB / 8MB"); // -500,000 bytes
    ClickImage(Item(u"B/Two"));
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 2MB / 8MB");
}

// Every item says its label in words: a folder what is on the player, ticked
// and only there; an album where it is, its size and what its tick does.
TEST_F(MainWindowTest, TooltipsSayTheLabelsInWords)
{
    Open("computer/A/New/1:120000000\ncomputer/A/New/2:500000\ncomputer/A/Both/1:40000000\nplayer/A/Both/1:40000000\n"
         "player/A/Only/1:3000000\ncomputer/A/Kept/1:1\nplayer/A/Kept/1:1\ncomputer/B/Left/1:2000000\n");
    ClickImage(Item(u"A/New"));
    ClickImage(Item(u"A/Both"));
    const auto tip = [&](const std::u16string& path) {
        return Item(path).data(Qt::ToolTipRole).toString().toStdString();
    };
    EXPECT_EQ(tip(u"A"), "3 of 4 albums are on the player; 120 MB to copy, 40 MB to delete\n"
                         "3 of 4 albums are ticked: 1 to copy, 1 to delete\n"
                         "> 1 of 4 albums are only on the player");
    EXPECT_EQ(tip(u"A/New"), "Only on the computer, 120 MB\nTicked: to copy to the player");
    EXPECT_EQ(tip(u"A/Both"), "On the computer and on the player, 40 MB\nNot ticked: to delete from the player");
    EXPECT_EQ(tip(u"A/Kept"), "On the computer and on the player, 0 MB\nTicked: stays on the player");
    EXPECT_EQ(tip(u"B/Left"), "Only on the computer, 2 MB\nNot ticked: stays off the player");
    ClickImage(Item(u"A/Only"));
    EXPECT_EQ(tip(u"A/Only"),
              "Only on the player, 3 MB\nNot ticked: to delete from the player, its music is nowhere else");
    // The root's tip also names the two folders.
    const std::string root = View().model()->index(0, 0).data(Qt::ToolTipRole).toString().toStdString();
    EXPECT_EQ(root.substr(0, root.find("\nComputer music folder : ")),
              "3 of 5 albums are on the player; 120 MB to copy, 43 MB to delete\n"
              "2 of 5 albums are ticked: 1 to copy, 2 to delete\n"
              "> 1 of 5 albums are only on the player");
    EXPECT_NE(root.find("\nJukebit music folder : "), std::string::npos);
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
    m_doc.m_nTotalBytes = 10000000;
    m_messages.QueueAnswer(IDCANCEL);
    m_frame.CopyFilesAction()->trigger();
    ASSERT_EQ(m_messages.m_messages.size(), 2u);
    EXPECT_EQ(m_messages.m_messages[1].m_text, "Warning !!! Not enough free space on Jukebit. Proceed ?");
    EXPECT_EQ(m_messages.m_messages[1].m_type, 0x131u); // Cancel is its default
}

// A player whose file system goes is noticed within a second: Copy Files
// stops, saying why, until the same file system is back and read again.
TEST_F(MainWindowTest, APlayerUnmountedIsNoticedAndReadAgainWhenBack)
{
    m_fixture.Create("player/\n");
    CScratchVolume volume;
    if (const std::string why = volume.Mount(m_fixture / "player", 1000000); !why.empty()) {
        GTEST_SKIP() << why;
    }
    Open("computer/A/One/1:10\nplayer/A/Two/1:10\n");
    const std::string gone = "The Jukebit is gone: Copy Files waits until it is plugged in again";
    const std::string back = "The Jukebit is back: read it again to copy files";
    using EState = CMainFrame::EPlayerState;
    const auto state = [&](EState wanted) {
        return QTest::qWaitFor([&] { return m_frame.PlayerState() == wanted; }, 1000);
    };
    volume.Unmount();
    EXPECT_TRUE(state(EState::Gone));
    EXPECT_EQ(m_frame.MessageText().toStdString(), gone);
    EXPECT_FALSE(m_frame.CopyFilesAction()->isEnabled());
    EXPECT_EQ(m_frame.CopyFilesAction()->toolTip().toStdString(), gone);
    EXPECT_FALSE(m_frame.EjectAction()->isEnabled());

    ASSERT_EQ(volume.Mount(m_fixture / "player", 1000000), "");
    m_fixture.Create("player/A/Three/1:10\n");
    EXPECT_TRUE(state(EState::Back));
    EXPECT_EQ(m_frame.MessageText().toStdString(), back);
    EXPECT_FALSE(m_frame.CopyFilesAction()->isEnabled());
    EXPECT_TRUE(m_frame.ReadAgainButton()->isVisible());
    QTest::mouseClick(m_frame.ReadAgainButton(), Qt::LeftButton);
    EXPECT_EQ(m_frame.PlayerState(), EState::Present);
    EXPECT_TRUE(m_frame.CopyFilesAction()->isEnabled());
    EXPECT_FALSE(m_frame.ReadAgainButton()->isVisible());
    EXPECT_EQ(m_frame.MessageText(), "Ready");
    EXPECT_NE(Label(Item(u"A/Three")).find("Three"), std::string::npos) << Rows();

    // Without UDisks2 Eject says what to run.
    m_frame.EjectAction()->trigger();
    EXPECT_EQ(m_messages.m_messages,
              (std::vector<CRecordedMessage>{{"Ejecting the Jukebit failed :\nEjecting needs UDisks2. Run\numount " +
                                                  (m_fixture / "player").string() + "\nbefore unplugging the Jukebit.",
                                              0x30}}));
    EXPECT_EQ(m_frame.PlayerState(), EState::Present);
}

// Eject unmounts the player through UDisks2 and powers its drive off (as
// CopyJobWindowTest sees); a busy file system stays, with UDisks2's reason.
TEST_F(MainWindowTest, EjectThroughUDisks2)
{
    CFakeUDisks2 udisks(QString::fromStdString((m_fixture / "media").string()));
    if (!udisks.Started().isEmpty()) {
        GTEST_SKIP() << udisks.Started().toStdString();
    }
    Open("computer/A/One/1:10\nplayer/A/Two/1:10\n");
    udisks.AddDevice("sdb1", "JUKEBIT", "1111-AAAA", 4000000000,
                     QString::fromStdString((m_fixture / "player").string()));
    udisks.FailNext("Unmount", "DeviceBusy", "target is busy");
    m_frame.EjectAction()->trigger();
    EXPECT_EQ(m_messages.m_messages,
              (std::vector<CRecordedMessage>{{"Ejecting the Jukebit failed :\ntarget is busy", 0x30}}));
    EXPECT_EQ(m_frame.PlayerState(), CMainFrame::EPlayerState::Present);
    EXPECT_TRUE(m_frame.CopyFilesAction()->isEnabled());

    // Unmounted, the player is ejected even when its drive may not be powered off.
    udisks.FailNext("PowerOff", "NotAuthorizedCanObtain", "Not authorized to perform operation");
    m_frame.EjectAction()->trigger();
    EXPECT_EQ(m_messages.m_messages.size(), 2u);
    EXPECT_EQ(m_messages.m_messages.back(),
              (CRecordedMessage{
                  "The Jukebit is unmounted, but its drive stays on :\nNot authorized to perform operation", 0x30}));
    EXPECT_EQ(m_frame.PlayerState(), CMainFrame::EPlayerState::Ejected);
    EXPECT_EQ(m_frame.MessageText(), "The Jukebit is ejected: it can be unplugged");
    EXPECT_FALSE(m_frame.CopyFilesAction()->isEnabled());
    EXPECT_FALSE(m_frame.EjectAction()->isEnabled());
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

// About is a modal frame of a fixed size; Copy Files and Log can be resized,
// Copy Files down to its template's size, and open within the screen.
TEST(DialogTest, FramesAndTheAboutText)
{
    CAboutDlg about;
    EXPECT_TRUE(about.minimumSize() == about.maximumSize());
    CCopyFilesDlg copyFiles;
    CLogDlg log;
    for (const QDialog* dialog : {static_cast<QDialog*>(&copyFiles), static_cast<QDialog*>(&log)}) {
        SCOPED_TRACE(dialog->windowTitle().toStdString());
        EXPECT_TRUE(dialog->isSizeGripEnabled());
        EXPECT_LT(dialog->minimumWidth(), dialog->maximumWidth());
        EXPECT_TRUE(dialog->screen()->availableGeometry().contains(QRect(QPoint(), dialog->size())));
    }
    const QSize templateSize = DialogUnits(copyFiles, 234, 95);
    EXPECT_TRUE(copyFiles.minimumWidth() >= templateSize.width() && copyFiles.minimumHeight() >= templateSize.height());
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

// Enter answers a question with its default button: Cancel where OK loses
// data, OK elsewhere.
TEST(MessageBoxTest, CancelByDefaultWhereAsked)
{
    const MessageBoxHandler previous = SetMessageBoxHandler({});
    InstallQtMessageBoxes();
    CModalScript script;
    std::vector<int> answers;
    for (const unsigned type : {0x31u, 0x131u}) {
        script.On("QMessageBox",
                  [](QWidget* box) { QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Return); });
        answers.push_back(ShowMessageBox("Warning !!! Not enough free space on Jukebit. Proceed ?", type));
    }
    SetMessageBoxHandler(previous);
    EXPECT_EQ(answers, (std::vector<int>{IDOK, IDCANCEL}));
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
// them an artist with two albums, whole and filtered. A toggle reports the
// rows it changed: the ancestors and the subtree of the item shown, and
// nothing else.
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
    const auto changedNodes = [&] {
        std::set<const CFolderNode*> changed;
        for (const QList<QVariant>& change : changes) {
            const QModelIndex first = change[0].toModelIndex();
            const QModelIndex last = change[1].toModelIndex();
            EXPECT_EQ(first.parent(), last.parent());
            for (int row = first.row(); row <= last.row(); ++row) {
                changed.insert(model.NodeFromIndex(first.siblingAtRow(row)));
            }
        }
        changes.clear();
        return changed;
    };
    CFolderNode* one = artist.m_children[0].get();
    CFolderNode* two = artist.m_children[1].get();
    model.ApplySelection(model.IndexFromNode(&artist), SELECT_ALL);
    EXPECT_EQ(changedNodes(), (std::set<const CFolderNode*>{&root, &artist, one, two}));
    EXPECT_EQ(applied.count(), 1);
    EXPECT_EQ(model.data(top).toString().toStdString(), "Root (1502/3002) (+2/+0MB)");

    // Filtered, the root shows the one match below it; a hidden node has no item.
    ASSERT_TRUE(model.SetFilter("artist TW", EQuickView::All));
    EXPECT_FALSE(model.SetFilter(" artist  tw ", EQuickView::All));
    const QModelIndex filteredTop = model.index(0, 0);
    ASSERT_EQ(model.rowCount(filteredTop), 1);
    EXPECT_EQ(model.IndexFromNode(two), model.index(0, 0, model.index(0, 0, filteredTop)));
    EXPECT_FALSE(model.IndexFromNode(one).isValid());
    EXPECT_FALSE(model.IndexFromNode(root.m_children[5].get()).isValid());
    model.ApplySelection(filteredTop, SELECT_NONE);
    EXPECT_EQ(changedNodes(), (std::set<const CFolderNode*>{&root, &artist, two}));
    EXPECT_EQ(model.data(filteredTop).toString().toStdString(), "Root (1501/3002) (+1/+0MB)");
    model.SetRoot(nullptr);
}

// An album whose computer side gained a track since it was copied: marked in
// its label and its image, counted up the tree, shown by the quick view of the
// changes, and kept as the player has it with Ctrl+K.
TEST_F(MainWindowTest, AChangedAlbumIsMarkedCountedAndKeptForTheJob)
{
    Open("computer/A/One/1:1000000\ncomputer/A/One/2:3000000\nplayer/A/One/1:1000000\n"
         "computer/A/Two/1:5\nplayer/A/Two/1:5\ncomputer/B/Three/1:7\n");
    m_doc.m_nFreeBytes = 10000000;
    m_doc.m_nTotalBytes = 20000000;
    m_doc.m_allocationUnit = 1;
    View().UpdateFreeSpace();
    const QModelIndex one = Item(u"A/One");
    EXPECT_EQ(Label(one), "One (1/1) (+0/+3MB) (changed)");
    EXPECT_EQ(Label(Item(u"A")), "A (2/2) (+0/+3MB) (1 changed)");
    EXPECT_EQ(Label(Item(u"A/Two")), "Two (1/1) (+0/+0MB)");
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 7MB / 20MB"); // 4 MB written in place of 1 MB
    const auto image = [&](const QModelIndex& item) {
        return qvariant_cast<QIcon>(item.data(Qt::DecorationRole)).pixmap(16, 16).toImage();
    };
    const QImage unchanged = image(Item(u"A/Two"));
    const QImage changed = image(one);
    EXPECT_NE(changed, unchanged);

    CFilterBar& bar = *m_frame.FilterBar();
    bar.QuickViewButton(EQuickView::Changes)->click();
    EXPECT_EQ(Rows(), "Root (2/3) (+0/+3MB) (1 changed)\n"
                      "  A (2/2) (+0/+3MB) (1 changed)\n"
                      "    One (1/1) (+0/+3MB) (changed)\n");
    View().setCurrentIndex(Item(u"A/One"));
    QTest::keyClick(View().viewport(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(Rows(), "Root (2/3) (+0/+0MB) (1 changed)\n"
                      "  A (2/2) (+0/+0MB) (1 changed)\n"
                      "    One (1/1) (+0/+0MB) (changed, kept as on Jukebit)\n");
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 10MB / 20MB");
    const QImage kept = image(Item(u"A/One"));
    EXPECT_NE(kept, unchanged);
    EXPECT_NE(kept, changed);
    // Pressed on the folder, every changed album below is replaced again.
    View().setCurrentIndex(Item(u"A"));
    QTest::keyClick(View().viewport(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(Label(Item(u"A/One")), "One (1/1) (+0/+3MB) (changed)");
    EXPECT_EQ(m_frame.FreeSpaceText(), "Free Space : 7MB / 20MB");
}
