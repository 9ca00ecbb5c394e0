#pragma once

#include "ui/ChooserMemory.h"
#include "ui/DeviceWatcher.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class CLyrafetchApp;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Where the folder chooser looks. The program gives it the places of this
// user's desktop; another set can stand in for them.
struct CChooserPlaces
{
    // The folders the desktop mounts removable volumes in, a volume a sub-folder.
    QStringList m_volumeFolders;
    // The computer's music folder until one has been used.
    QString m_musicFolder;
    // The command that makes a menu entry: lyrafetch-launcher PCFOLDER PLAYERFOLDER NAME.
    QString m_launcher;

    // /media/USER and /run/media/USER for the user the program runs as (not
    // $USER, which the environment may lack), the XDG music folder, and the
    // lyrafetch-launcher beside this program.
    static CChooserPlaces ForThisUser();
};

// The window that the desktop's menu opens: the computer's music folder, the
// player's among the removable volumes, mounted or not, and Open, which opens the main window
// on the two. A pair it refuses, or whose load fails, leaves it open with the
// message shown. Its settings (~/.config/lyrafetch/chooser.conf) keep the last
// pair and the pairs made into menu entries: the only file the program keeps.
class CFolderChooser : public QDialog
{
    Q_OBJECT

public:
    CFolderChooser(CLyrafetchApp& app, CChooserPlaces places, QWidget* parent = nullptr);
    ~CFolderChooser() override;

    // Shows the pair and opens it as Open does. False while the chooser stays.
    bool OpenPair(const CFolderPair& pair);
    void accept() override; // Open, or Enter

    QLineEdit* ComputerEdit() const { return m_pComputer; }
    QLineEdit* PlayerEdit() const { return m_pPlayer; }
    QTreeWidget* VolumeList() const { return m_pVolumes; }
    QComboBox* EntryList() const { return m_pEntries; }
    QCheckBox* AddToMenuBox() const { return m_pAddToMenu; }
    QLineEdit* EntryNameEdit() const { return m_pEntryName; }
    QPushButton* OpenButton() const { return m_pOpen; }

private:
    void CreateControls();
    void RefreshVolumes();
    void OnVolumeChosen();
    // Mounts the volume of the item as the desktop would: its player folder, or the one chosen before after a
    // message.
    QString MountVolume(QTreeWidgetItem& item);
    void OnPlayerChanged();
    void OnEntryChosen(int index);
    void Browse(QLineEdit* edit, const QString& title);
    bool IsUsable(const CFolderPair& pair);
    bool IsOnVolume(const QString& folder) const;
    bool IsRemembered(const QString& player) const;
    void AddMenuEntry(const CFolderPair& pair);
    void ShowEntries();

    CLyrafetchApp& m_app;
    CChooserPlaces m_places;
    CChooserMemory m_memory;
    bool m_bNameEdited = false;

    std::unique_ptr<CDeviceWatcher> m_pDevices;
    std::vector<CDevice> m_devices; // as listed, one a row

    QLabel* m_pEntriesLabel = nullptr;
    QComboBox* m_pEntries = nullptr;
    QLineEdit* m_pComputer = nullptr;
    QTreeWidget* m_pVolumes = nullptr;
    QLabel* m_pNoVolumes = nullptr;
    QLineEdit* m_pPlayer = nullptr;
    QCheckBox* m_pAddToMenu = nullptr;
    QLineEdit* m_pEntryName = nullptr;
    QPushButton* m_pOpen = nullptr;
};

// lyrafetch-chooser: opens at once the pair of its command line, when it has
// one, and otherwise, or when that fails, shows the chooser. Returns the
// process's exit status.
int RunChooser(CLyrafetchApp& app, CChooserPlaces places);
