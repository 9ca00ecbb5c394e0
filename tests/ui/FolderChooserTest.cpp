#include "ui/FolderChooser.h"
#include "model/FolderNode.h"
#include "support/FolderFixture.h"
#include "support/MessageRecorder.h"
#include "support/ScratchVolume.h"
#include "ui/DeviceWatcher.h"
#include "ui/FakeUDisks2.h"
#include "ui/LyrafetchApp.h"
#include "ui/LyrafetchView.h"
#include "ui/MainFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The chooser over a scratch folder: "media" stands in for /media/$USER, the
// settings and the menu entries go below it too.
class FolderChooserTest : public ::testing::Test
{
protected:
    FolderChooserTest()
    {
        m_fixture.Create("config/\ndata/\nmedia/\n");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Path("config"));
        qputenv("XDG_DATA_HOME", Path("data").toLocal8Bit());
    }
    ~FolderChooserTest() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
        qunsetenv("XDG_DATA_HOME");
    }

    QString Path(const std::string& relative) const { return QString::fromStdString((m_fixture / relative).string()); }
    // A run of lyrafetch-chooser, without folders on its command line.
    std::unique_ptr<CFolderChooser> Start(CLyrafetchApp& app) const
    {
        auto chooser = std::make_unique<CFolderChooser>(
            app, CChooserPlaces{{Path("media"), Path("run-media")}, Path("Music"), LYRAFETCH_LAUNCHER});
        chooser->show();
        return chooser;
    }
    // The labels of the volumes listed, the chosen one marked with a '*'.
    static QString Volumes(const CFolderChooser& chooser)
    {
        QStringList labels;
        for (int row = 0; row < chooser.VolumeList()->topLevelItemCount(); ++row) {
            const QTreeWidgetItem* item = chooser.VolumeList()->topLevelItem(row);
            labels << (item->isSelected() ? "*" : "") + item->text(0);
        }
        return labels.join('|');
    }
    static void Choose(CFolderChooser& chooser, const QString& computer, const QString& player)
    {
        chooser.ComputerEdit()->setText(computer);
        chooser.PlayerEdit()->setText(player);
    }

    CFolderFixture m_fixture;
    CMessageRecorder m_messages;
    int m_argc = 1;
    char m_name[10] = "lyrafetch";
    char* m_argv[2] = {m_name, nullptr};
    CLyrafetchApp m_app{m_argc, m_argv};
};

} // namespace

// Each sub-folder of the places is a volume, listed by its name with its
// space; choosing one presets its own Music folder, spelt in any case, or the
// volume itself. Volumes come and go while the chooser is open.
TEST_F(FolderChooserTest, ListsTheVolumesAsTheyComeAndGo)
{
    m_fixture.Create("media/PLAYER/MUSIC/A/\nmedia/CARD/Other/\n");
    const auto chooser = Start(m_app);
    EXPECT_EQ(chooser->ComputerEdit()->text(), Path("Music"));
    // The first volume is taken while no player folder is chosen.
    EXPECT_EQ(Volumes(*chooser), "*CARD|PLAYER");
    EXPECT_EQ(chooser->PlayerEdit()->text(), Path("media/CARD"));
    EXPECT_TRUE(chooser->VolumeList()->topLevelItem(0)->text(1).contains(" free of "));
    QTreeWidget& list = *chooser->VolumeList();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.topLevelItem(1)).center());
    EXPECT_EQ(chooser->PlayerEdit()->text(), Path("media/PLAYER/MUSIC"));
    EXPECT_EQ(chooser->EntryNameEdit()->text(), "Lyrafetch PLAYER");

    m_fixture.Create("media/NEW/\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Volumes(*chooser) == "CARD|NEW|*PLAYER"; }));
    fs::remove_all(m_fixture / "media/CARD");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Volumes(*chooser) == "NEW|*PLAYER"; }));
    EXPECT_EQ(chooser->PlayerEdit()->text(), Path("media/PLAYER/MUSIC"));
    // A folder typed by hand shows the volume that holds it, or none.
    chooser->PlayerEdit()->setText(Path("media/NEW/."));
    EXPECT_EQ(Volumes(*chooser), "*NEW|PLAYER");
    chooser->PlayerEdit()->setText(Path("elsewhere"));
    EXPECT_EQ(Volumes(*chooser), "NEW|PLAYER");
}

// The desktop makes a volume's folder, then mounts the volume on it: the
// mount alone lists the volume again, with the space it has.
TEST_F(FolderChooserTest, AMountOrUnmountIsSeen)
{
    m_fixture.Create("media/PLAYER/\n");
    CScratchVolume volume;
    if (const std::string why = volume.Mount(m_fixture / "media/PLAYER", 1000000); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const auto chooser = Start(m_app);
    const auto space = [&] { return chooser->VolumeList()->topLevelItem(0)->text(1); };
    EXPECT_TRUE(space().endsWith(" of 1.0 MB")) << space().toStdString();
    volume.Unmount();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !space().endsWith(" of 1.0 MB"); }));
    ASSERT_EQ(volume.Mount(m_fixture / "media/PLAYER", 1000000), "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return space().endsWith(" of 1.0 MB"); }));
}

// Through UDisks2 the list holds the removable file systems, mounted or not,
// by label; choosing one that is not mounted mounts it. Mounts by any other
// program, and drives pulled out, show at once.
TEST_F(FolderChooserTest, OffersTheFileSystemsOfUDisks2MountedOrNot)
{
    m_fixture.Create("media/PLAYER/Music/\n");
    CFakeUDisks2 udisks(Path("media"));
    if (!udisks.Started().isEmpty()) {
        GTEST_SKIP() << udisks.Started().toStdString();
    }
    udisks.AddDevice("sdb1", "PLAYER", "1111-AAAA", 4000000000, Path("media/PLAYER"));
    udisks.AddDevice("sdc1", "CARD", "2222-BBBB", 8000000000);
    const auto chooser = Start(m_app);
    EXPECT_EQ(Volumes(*chooser), "*PLAYER|CARD");
    EXPECT_EQ(chooser->PlayerEdit()->text(), Path("media/PLAYER/Music"));
    QTreeWidget& list = *chooser->VolumeList();
    EXPECT_EQ(list.topLevelItem(1)->text(1), "8.0 GB, not mounted");
    EXPECT_TRUE(list.topLevelItem(0)->text(1).contains(" free of "));

    // A mount refused leaves the player folder as it was.
    udisks.FailNext("Mount", "NotAuthorizedCanObtain", "Not authorized to perform operation");
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.topLevelItem(1)).center());
    EXPECT_EQ(m_messages.m_messages,
              (std::vector<CRecordedMessage>{{"Mounting CARD failed :\nNot authorized to perform operation", 0x30}}));
    EXPECT_EQ(chooser->PlayerEdit()->text(), Path("media/PLAYER/Music"));
    EXPECT_EQ(Volumes(*chooser), "*PLAYER|CARD");
    m_messages.m_messages.clear();

    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.topLevelItem(1)).center());
    EXPECT_EQ(chooser->PlayerEdit()->text(), Path("media/CARD"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.topLevelItem(1)->text(1).contains(" free of "); }));
    EXPECT_EQ(Volumes(*chooser), "PLAYER|*CARD");

    udisks.SetMountPoint("sdc1", "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.topLevelItem(1)->text(1) == "8.0 GB, not mounted"; }));
    udisks.RemoveDevice("sdb1");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Volumes(*chooser) == "CARD"; }));
    EXPECT_TRUE(m_messages.m_messages.empty());
}

// Where UDisks2 does not answer, on a bus without it or with no bus at all,
// the places' folders are the volumes; nothing says so. Ejecting names the command to run.
TEST_F(FolderChooserTest, WithoutUDisks2ThePlacesAreTheVolumes)
{
    m_fixture.Create("media/PLAYER/\n");
    EXPECT_EQ(Volumes(*Start(m_app)), "*PLAYER");
    CDeviceWatcher::SetBus(QDBusConnection("no bus"));
    const auto watcher = CDeviceWatcher::Create({Path("media")});
    CDeviceWatcher::SetBus(QDBusConnection::sessionBus());
    EXPECT_FALSE(watcher->IsUDisks2());
    ASSERT_EQ(watcher->Devices().size(), 1u);
    EXPECT_EQ(watcher->Devices()[0].m_mountPoint, Path("media/PLAYER"));
    CScratchVolume volume;
    if (const std::string why = volume.Mount(m_fixture / "media/PLAYER", 1000000); !why.empty()) {
        GTEST_SKIP() << why;
    }
    QString error;
    EXPECT_FALSE(watcher->Eject(Path("media/PLAYER"), error));
    EXPECT_EQ(error,
              "Ejecting needs UDisks2. Run\numount " + Path("media/PLAYER") + "\nbefore unplugging the Jukebit.");
    EXPECT_TRUE(m_messages.m_messages.empty());
}

// Open refuses what a job could not work on, says why, and stays.
TEST_F(FolderChooserTest, RefusesMissingAndOverlappingFolders)
{
    m_fixture.Create("Music/A/One/\nmedia/PLAYER/Music/A/\n");
    fs::create_directory_symlink(m_fixture / "Music", m_fixture / "media/LINK");
    const QString music = Path("Music");
    const QString player = Path("media/PLAYER/Music");
    struct CCase
    {
        QString m_computer;
        QString m_player;
        CRecordedMessage m_message;
    };
    const CCase cases[] = {
        {"", player, {"No Computer music folder chosen", 0x40}},
        {music, "", {"No Jukebit music folder chosen", 0x40}},
        {Path("Gone"), player, {"Computer music folder not found :\n" + Path("Gone").toStdString(), 0x30}},
        {music,
         Path("media/GONE/Music"),
         {"Jukebit music folder not found :\n" + Path("media/GONE/Music").toStdString() +
              "\nIs the player plugged in ?",
          0x30}},
        {music, Path("media/LINK"), {"Computer and Jukebit music folders are the same folder", 0x30}},
        {music, Path("Music/A"), {"Jukebit music folder is inside Computer music folder", 0x30}},
        {player, Path("media/PLAYER"), {"Computer music folder is inside Jukebit music folder", 0x30}},
    };
    const auto chooser = Start(m_app);
    for (const CCase& test : cases) {
        SCOPED_TRACE(test.m_message.m_text);
        m_messages.m_messages.clear();
        Choose(*chooser, test.m_computer, test.m_player);
        chooser->OpenButton()->click();
        EXPECT_EQ(m_messages.m_messages, std::vector<CRecordedMessage>{test.m_message});
        EXPECT_TRUE(chooser->isVisible());
        EXPECT_EQ(m_app.MainFrame(), nullptr);
    }
}

// The chooser opens the main window on the pair and steps aside; the next run
// shows the same pair and does not ask again about a player folder that is
// not on a removable volume. A pair made into a menu entry is offered again.
TEST_F(FolderChooserTest, OpensThePairAndRemembersItAcrossRuns)
{
    m_fixture.Create("Music/A/One/1:10\ndisk/Music/A/Two/1:10\n");
    const QString player = Path("disk/Music");
    {
        const auto chooser = Start(m_app);
        Choose(*chooser, Path("Music"), player + "/");
        chooser->AddToMenuBox()->setChecked(true);
        chooser->EntryNameEdit()->clear();
        QTest::keyClicks(chooser->EntryNameEdit(), "My player");
        m_messages.QueueAnswer(IDCANCEL);
        chooser->OpenButton()->click();
        ASSERT_EQ(m_messages.m_messages.size(), 1u);
        EXPECT_EQ(m_messages.m_messages[0], (CRecordedMessage{"Jukebit music folder is not on a removable volume :\n" +
                                                                  player.toStdString() + "\nUse it all the same ?",
                                                              0x31}));
        EXPECT_EQ(m_app.MainFrame(), nullptr);

        chooser->OpenButton()->click();
        ASSERT_NE(m_app.MainFrame(), nullptr);
        EXPECT_TRUE(m_app.MainFrame()->isVisible());
        EXPECT_FALSE(chooser->isVisible());
        EXPECT_EQ(m_messages.m_messages.size(), 2u);
        const QModelIndex root = m_app.MainFrame()->View()->model()->index(0, 0);
        EXPECT_TRUE(root.data(Qt::ToolTipRole)
                        .toString()
                        .endsWith("\nComputer music folder : " + Path("Music") + "\nJukebit music folder : " + player));
    }
    const QString entry = Path("data/applications/lyrafetch-my-player.desktop");
    EXPECT_TRUE(fs::exists(entry.toStdString()));
    EXPECT_TRUE(fs::exists(m_fixture / "config/lyrafetch/chooser.conf"));

    m_messages.m_messages.clear();
    CLyrafetchApp app(m_argc, m_argv);
    const auto chooser = Start(app);
    EXPECT_EQ(chooser->ComputerEdit()->text(), Path("Music"));
    EXPECT_EQ(chooser->PlayerEdit()->text(), player);
    ASSERT_EQ(chooser->EntryList()->count(), 1);
    EXPECT_EQ(chooser->EntryList()->itemText(0), "My player");
    chooser->OpenButton()->click();
    EXPECT_NE(app.MainFrame(), nullptr);
    EXPECT_TRUE(m_messages.m_messages.empty());

    // An entry taken out of the menu is forgotten.
    fs::remove(entry.toStdString());
    EXPECT_EQ(Start(app)->EntryList()->count(), 0);
}

// A load that fails leaves the chooser open over its message, to try again;
// on the command line the same failure ends the program (StartUpTest).
TEST_F(FolderChooserTest, AFailedLoadReturnsToTheChooser)
{
    m_fixture.Create("Music/\nmedia/PLAYER/Music/\n");
    const auto chooser = Start(m_app);
    ASSERT_EQ(chooser->PlayerEdit()->text(), Path("media/PLAYER/Music"));
    chooser->OpenButton()->click();
    EXPECT_EQ(m_messages.m_messages,
              (std::vector<CRecordedMessage>{{"Computer and Jukebit music folders have no sub-folders", 0x40}}));
    EXPECT_TRUE(chooser->isVisible());
    EXPECT_EQ(m_app.MainFrame(), nullptr);

    m_fixture.Create("Music/A/One/\n");
    chooser->OpenButton()->click();
    ASSERT_NE(m_app.MainFrame(), nullptr);
    EXPECT_TRUE(m_app.MainFrame()->isVisible());
    EXPECT_FALSE(chooser->isVisible());
}

// The volumes are looked for below the folders of the user the program runs
// as, whatever $USER says, and when it is not set.
TEST(ChooserPlacesTest, TheUserComesFromTheSystemNotTheEnvironment)
{
    const QByteArray saved = qgetenv("USER");
    const QString user = QString::fromLocal8Bit(getpwuid(getuid())->pw_name);
    for (const char* environment : {"somebody-else", ""}) {
        SCOPED_TRACE(environment);
        if (*environment != '\0') {
            qputenv("USER", environment);
        } else {
            qunsetenv("USER");
        }
        EXPECT_EQ(CChooserPlaces::ForThisUser().m_volumeFolders, (QStringList{"/media/" + user, "/run/media/" + user}));
    }
    qputenv("USER", saved);
}
