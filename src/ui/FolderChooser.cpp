#include "ui/FolderChooser.h"

#include "app/LyrafetchDoc.h"
#include "platform/MessageBox.h"
#include "platform/UserAccount.h"
#include "ui/LyrafetchApp.h"
#include "ui/QtMessageBoxes.h"
#include "ui/RemovableVolumes.h"
#include "ui/WaitCursor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int LAUNCHER_TIMEOUT_MS = 30000;

// What a volume's item holds besides its texts.
constexpr int ROLE_ROOT = Qt::UserRole;
constexpr int ROLE_PRESET = Qt::UserRole + 1; // the player folder that choosing the volume presets

bool IsInside(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + '/');
}

// A folder as typed: "~" for the home folder, relative to the working folder,
// without "." and "..", and without a separator at the end.
QString FullPath(const QString& text)
{
    QString path = text;
    if (path == "~" || path.startsWith("~/")) {
        path.replace(0, 1, QDir::homePath());
    }
    return path.isEmpty() ? path : QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

std::string NativePath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

int ShowMessage(const QString& text, unsigned type)
{
    return ShowMessageBox(text.toStdString(), type);
}

} // namespace

CChooserPlaces CChooserPlaces::ForThisUser()
{
    QString user = QString::fromStdString(CurrentUserName());
    if (user.isEmpty()) {
        user = QDir::home().dirName();
    }
    // udisks mounts below /media/$USER on Debian and Ubuntu, below /run/media/$USER elsewhere.
    return {{"/media/" + user, "/run/media/" + user},
            QStandardPaths::writableLocation(QStandardPaths::MusicLocation),
            QCoreApplication::applicationDirPath() + "/lyrafetch-launcher"};
}

CFolderChooser::CFolderChooser(CLyrafetchApp& app, CChooserPlaces places, QWidget* parent)
    : QDialog(parent), m_app(app), m_places(std::move(places))
{
    setWindowTitle("Music folders - Lyrafetch");
    CreateControls();
    m_memory = LoadChooserMemory();
    m_pComputer->setText(m_memory.m_last.m_computer.isEmpty() ? m_places.m_musicFolder : m_memory.m_last.m_computer);
    m_pPlayer->setText(m_memory.m_last.m_player);
    ShowEntries();
    m_pDevices = CDeviceWatcher::Create(m_places.m_volumeFolders);
    connect(m_pDevices.get(), &CDeviceWatcher::devicesChanged, this, &CFolderChooser::RefreshVolumes);
    RefreshVolumes();
}

CFolderChooser::~CFolderChooser() = default;

void CFolderChooser::CreateControls()
{
    auto* intro = new QLabel("Choose the music folder on the computer and the one on the player, then Open.", this);
    intro->setWordWrap(true);
    m_pEntriesLabel = new QLabel("Pairs in the menu :", this);
    m_pEntries = new QComboBox(this);
    m_pEntries->setPlaceholderText("Choose a pair to open it again");
    m_pEntriesLabel->setBuddy(m_pEntries);
    connect(m_pEntries, &QComboBox::activated, this, &CFolderChooser::OnEntryChosen);
    auto* entries = new QHBoxLayout;
    entries->addWidget(m_pEntriesLabel);
    entries->addWidget(m_pEntries, 1);

    auto* computerBox = new QGroupBox("Computer music folder", this);
    m_pComputer = new QLineEdit(computerBox);
    auto* browseComputer = new QPushButton("Browse...", computerBox);
    connect(browseComputer, &QPushButton::clicked, this, [this] { Browse(m_pComputer, "Computer music folder"); });
    auto* computer = new QHBoxLayout(computerBox);
    computer->addWidget(m_pComputer);
    computer->addWidget(browseComputer);

    auto* playerBox = new QGroupBox("Jukebit music folder, on the player", this);
    m_pVolumes = new QTreeWidget(playerBox);
    m_pVolumes->setHeaderLabels({"Removable volume", "Space"});
    m_pVolumes->setRootIsDecorated(false);
    m_pVolumes->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_pVolumes->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_pVolumes->header()->setStretchLastSection(false);
    connect(m_pVolumes, &QTreeWidget::itemSelectionChanged, this, &CFolderChooser::OnVolumeChosen);
    m_pNoVolumes =
        new QLabel("No removable volume is mounted: plug the player in, or browse for its folder.", playerBox);
    m_pNoVolumes->setWordWrap(true);
    m_pPlayer = new QLineEdit(playerBox);
    connect(m_pPlayer, &QLineEdit::textChanged, this, &CFolderChooser::OnPlayerChanged);
    auto* browsePlayer = new QPushButton("Browse...", playerBox);
    connect(browsePlayer, &QPushButton::clicked, this, [this] { Browse(m_pPlayer, "Jukebit music folder"); });
    auto* playerFolder = new QHBoxLayout;
    playerFolder->addWidget(m_pPlayer);
    playerFolder->addWidget(browsePlayer);
    auto* player = new QVBoxLayout(playerBox);
    player->addWidget(m_pVolumes);
    player->addWidget(m_pNoVolumes);
    player->addLayout(playerFolder);

    m_pAddToMenu = new QCheckBox("Add to the menu as", this);
    m_pEntryName = new QLineEdit(this);
    m_pEntryName->setEnabled(false);
    connect(m_pAddToMenu, &QCheckBox::toggled, m_pEntryName, &QWidget::setEnabled);
    connect(m_pEntryName, &QLineEdit::textEdited, this, [this] { m_bNameEdited = true; });
    auto* menu = new QHBoxLayout;
    menu->addWidget(m_pAddToMenu);
    menu->addWidget(m_pEntryName, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Close, this);
    m_pOpen = buttons->button(QDialogButtonBox::Open);
    m_pOpen->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &CFolderChooser::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CFolderChooser::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addSpacing(fontMetrics().height() / 2);
    layout->addLayout(entries);
    layout->addWidget(computerBox);
    layout->addWidget(playerBox, 1);
    layout->addLayout(menu);
    layout->addWidget(buttons);
    // Room for a handful of volumes; more when the window is made taller.
    m_pVolumes->setMinimumHeight(m_pVolumes->fontMetrics().height() * 7);
    resize(fontMetrics().averageCharWidth() * 100, minimumSizeHint().height());
}

void CFolderChooser::RefreshVolumes()
{
    m_devices = m_pDevices->Devices();
    {
        const QSignalBlocker blocker(m_pVolumes);
        m_pVolumes->clear();
        for (const CDevice& device : m_devices) {
            auto* item = new QTreeWidgetItem(m_pVolumes, {device.m_label, SpaceText(device)});
            item->setData(0, ROLE_ROOT, device.m_mountPoint);
            if (!device.m_mountPoint.isEmpty()) {
                item->setData(0, ROLE_PRESET, PresetFolder(device.m_mountPoint));
            }
            item->setToolTip(0, device.m_mountPoint.isEmpty() ? device.m_deviceFile : device.m_mountPoint);
            item->setIcon(0, QIcon::fromTheme("drive-removable-media"));
        }
    }
    m_pNoVolumes->setVisible(m_pVolumes->topLevelItemCount() == 0);
    // A player plugged in while no player folder is chosen is taken at once, once it is mounted.
    for (int row = 0; row < m_pVolumes->topLevelItemCount() && m_pPlayer->text().isEmpty(); ++row) {
        m_pPlayer->setText(m_pVolumes->topLevelItem(row)->data(0, ROLE_PRESET).toString());
    }
    OnPlayerChanged();
}

void CFolderChooser::OnVolumeChosen()
{
    const QList<QTreeWidgetItem*> chosen = m_pVolumes->selectedItems();
    if (chosen.isEmpty()) {
        return;
    }
    const QString preset = chosen.front()->data(0, ROLE_PRESET).toString();
    m_pPlayer->setText(preset.isEmpty() ? MountVolume(*chosen.front()) : preset);
    OnPlayerChanged(); // a volume that could not be mounted gives the choice back to the folder's
}

QString CFolderChooser::MountVolume(QTreeWidgetItem& item)
{
    const CDevice device = m_devices[m_pVolumes->indexOfTopLevelItem(&item)];
    QString error;
    QString mountPoint;
    {
        const CWaitCursor wait;
        mountPoint = m_pDevices->Mount(device, error);
    }
    if (mountPoint.isEmpty()) {
        ShowMessage(QString("Mounting %1 failed :\n%2").arg(device.m_label, error), MB_OK | MB_ICONEXCLAMATION);
        return m_pPlayer->text();
    }
    return PresetFolder(mountPoint);
}

// The list shows the volume that holds the player folder, if one does, and
// the entry's name follows the folder until the user writes one.
void CFolderChooser::OnPlayerChanged()
{
    const QString player = FullPath(m_pPlayer->text());
    QTreeWidgetItem* holder = nullptr;
    for (int row = 0; row < m_pVolumes->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = m_pVolumes->topLevelItem(row);
        const QString root = item->data(0, ROLE_ROOT).toString();
        if (!player.isEmpty() && !root.isEmpty() && IsInside(player, root)) {
            holder = item;
        }
    }
    {
        const QSignalBlocker blocker(m_pVolumes);
        m_pVolumes->clearSelection();
        if (holder != nullptr) {
            holder->setSelected(true);
            m_pVolumes->setCurrentItem(holder);
        }
    }
    if (!m_bNameEdited) {
        const QFileInfo folder(player);
        // A player's Music folder says less than the folder that holds it.
        const bool music = folder.fileName().compare("Music", Qt::CaseInsensitive) == 0;
        const QString name = holder ? holder->text(0) : music ? folder.dir().dirName() : folder.fileName();
        m_pEntryName->setText(name.isEmpty() ? QString("Lyrafetch") : "Lyrafetch " + name);
    }
}

void CFolderChooser::OnEntryChosen(int index)
{
    const CMenuEntry& entry = m_memory.m_entries[index];
    m_pComputer->setText(entry.m_pair.m_computer);
    m_pPlayer->setText(entry.m_pair.m_player);
    m_pEntryName->setText(entry.m_name);
    m_bNameEdited = true;
}

void CFolderChooser::Browse(QLineEdit* edit, const QString& title)
{
    QString start = FullPath(edit->text());
    if (edit == m_pPlayer && !QFileInfo(start).isDir() && !m_places.m_volumeFolders.isEmpty()) {
        start = m_places.m_volumeFolders.front();
    }
    const QString folder = QFileDialog::getExistingDirectory(this, title, start);
    if (!folder.isEmpty()) {
        edit->setText(folder);
    }
}

void CFolderChooser::accept()
{
    OpenPair({m_pComputer->text(), m_pPlayer->text()});
}

bool CFolderChooser::OpenPair(const CFolderPair& typed)
{
    const CFolderPair pair{FullPath(typed.m_computer), FullPath(typed.m_player)};
    m_pComputer->setText(pair.m_computer);
    m_pPlayer->setText(pair.m_player);
    if (!IsUsable(pair) ||
        !m_app.OpenDocument({NativePath(pair.m_computer), NativePath(pair.m_player)}, isVisible() ? this : nullptr)) {
        return false;
    }
    // The main window is up: from here on the chooser only finishes what Open asked for.
    hide();
    m_memory.m_last = pair;
    if (m_pAddToMenu->isChecked()) {
        AddMenuEntry(pair);
    }
    SaveChooserMemory(m_memory);
    return true;
}

// Two folders that a job can work on, as far as can be told before they are
// read: both there, neither inside the other, and the player's on a removable
// volume unless the user says otherwise.
bool CFolderChooser::IsUsable(const CFolderPair& pair)
{
    const QString names[] = {"Computer", "Jukebit"};
    const QString folders[] = {pair.m_computer, pair.m_player};
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        if (folders[side].isEmpty()) {
            ShowMessage(QString("No %1 music folder chosen").arg(names[side]), MB_OK | MB_ICONINFORMATION);
            return false;
        }
        if (!QFileInfo(folders[side]).isDir()) {
            const QString hint = side == SIDE_PLAYER ? "\nIs the player plugged in ?" : "";
            ShowMessage(QString("%1 music folder not found :\n%2%3").arg(names[side], folders[side], hint),
                        MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
    }
    if (const std::optional<CMessage> overlap =
            CLyrafetchDoc::CheckRoots(pair.m_computer.toStdU16String(), pair.m_player.toStdU16String())) {
        ShowMessageBox(*overlap);
        return false;
    }
    if (m_pAddToMenu->isChecked() && m_pEntryName->text().trimmed().isEmpty()) {
        ShowMessage("Give the menu entry a name", MB_OK | MB_ICONINFORMATION);
        return false;
    }
    // Asked once: a player folder that has been opened before is the user's choice.
    return IsOnVolume(pair.m_player) || IsRemembered(pair.m_player) ||
           ShowMessage(QString("Jukebit music folder is not on a removable volume :\n%1\nUse it all the same ?")
                           .arg(pair.m_player),
                       MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

bool CFolderChooser::IsOnVolume(const QString& folder) const
{
    const QString real = QFileInfo(folder).canonicalFilePath();
    const bool onDevice = std::any_of(m_devices.begin(), m_devices.end(), [&](const CDevice& device) {
        const QString root = QFileInfo(device.m_mountPoint).canonicalFilePath();
        return !root.isEmpty() && IsInside(real, root);
    });
    return onDevice ||
           std::any_of(m_places.m_volumeFolders.begin(), m_places.m_volumeFolders.end(), [&](const QString& place) {
               const QString realPlace = QFileInfo(place).canonicalFilePath();
               return !realPlace.isEmpty() && real.startsWith(realPlace + '/');
           });
}

bool CFolderChooser::IsRemembered(const QString& player) const
{
    return m_memory.m_last.m_player == player ||
           std::any_of(m_memory.m_entries.begin(), m_memory.m_entries.end(),
                       [&](const CMenuEntry& entry) { return entry.m_pair.m_player == player; });
}

// lyrafetch-launcher writes the entry, checked, and prints its file.
void CFolderChooser::AddMenuEntry(const CFolderPair& pair)
{
    const QString name = m_pEntryName->text().trimmed();
    QProcess launcher;
    {
        const CWaitCursor wait;
        launcher.start(m_places.m_launcher, {pair.m_computer, pair.m_player, name});
        launcher.waitForFinished(LAUNCHER_TIMEOUT_MS);
    }
    if (launcher.error() == QProcess::FailedToStart) {
        ShowMessage("Adding the menu entry failed :\n" + m_places.m_launcher + " : " + launcher.errorString(),
                    MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (launcher.state() != QProcess::NotRunning || launcher.exitStatus() != QProcess::NormalExit ||
        launcher.exitCode() != 0) {
        ShowMessage("Adding the menu entry failed :\n" +
                        QString::fromLocal8Bit(launcher.readAllStandardError()).trimmed(),
                    MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    QString file = QString::fromLocal8Bit(launcher.readAllStandardOutput());
    file.chop(file.endsWith('\n') ? 1 : 0);
    // The same name again has replaced its entry.
    std::erase_if(m_memory.m_entries, [&](const CMenuEntry& entry) { return entry.m_file == file; });
    m_memory.m_entries.push_back({name, pair, file});
    m_pAddToMenu->setChecked(false);
    ShowEntries();
}

void CFolderChooser::ShowEntries()
{
    m_pEntries->clear();
    for (const CMenuEntry& entry : m_memory.m_entries) {
        m_pEntries->addItem(entry.m_name);
        m_pEntries->setItemData(m_pEntries->count() - 1, entry.m_pair.m_computer + "\n" + entry.m_pair.m_player,
                                Qt::ToolTipRole);
    }
    m_pEntries->setCurrentIndex(-1);
    m_pEntriesLabel->setVisible(!m_memory.m_entries.empty());
    m_pEntries->setVisible(!m_memory.m_entries.empty());
}

int RunChooser(CLyrafetchApp& app, CChooserPlaces places)
{
    InstallQtMessageBoxes();
    CFolderChooser chooser(app, std::move(places));
    const std::vector<std::string>& params = app.Params();
    if (params.size() < 2 ||
        !chooser.OpenPair({QFile::decodeName(params[0].c_str()), QFile::decodeName(params[1].c_str())})) {
        chooser.show();
    }
    return QApplication::exec();
}
