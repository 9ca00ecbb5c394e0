#include "ui/DeviceWatcher.h"

#include "platform/MountTable.h"
#include "ui/RemovableVolumes.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMap>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {

constexpr char UDISKS2[] = "org.freedesktop.UDisks2";
constexpr char UDISKS2_PATH[] = "/org/freedesktop/UDisks2";
constexpr char BLOCK[] = "org.freedesktop.UDisks2.Block";
constexpr char FILESYSTEM[] = "org.freedesktop.UDisks2.Filesystem";
constexpr char DRIVE[] = "org.freedesktop.UDisks2.Drive";
constexpr char OBJECT_MANAGER[] = "org.freedesktop.DBus.ObjectManager";
constexpr char PROPERTIES[] = "org.freedesktop.DBus.Properties";
// UDisks2 that does not answer the first call in this time is taken as absent.
constexpr int PROBE_TIMEOUT_MS = 3000;
// Mounting may wait for the user to authenticate.
constexpr int MOUNT_TIMEOUT_MS = 120000;
// This process's mount table, which tells of every mount and unmount.
constexpr char MOUNT_TABLE[] = "/proc/self/mounts";
// Changes come in bursts; the volumes are listed again once they have settled.
constexpr int REFRESH_DELAY_MS = 200;

using CInterfaces = QMap<QString, QVariantMap>;
using CManagedObjects = QMap<QDBusObjectPath, CInterfaces>;

QDBusConnection& Bus()
{
    static QDBusConnection bus = QDBusConnection::systemBus();
    return bus;
}

// An "ay" of UDisks2: a path with its terminating zero.
QString PathOf(const QByteArray& bytes)
{
    return QFile::decodeName(bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0')));
}

QString FullFolder(const QString& folder)
{
    const QString real = QFileInfo(folder).canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(folder) : real;
}

bool Holds(const QString& mountPoint, const QString& folder)
{
    return !mountPoint.isEmpty() && (folder == mountPoint || folder.startsWith(mountPoint + '/'));
}

// UDisks2 through its object manager, its objects read anew at each change.
class CUDisks2Watcher final : public CDeviceWatcher
{
    Q_OBJECT

public:
    explicit CUDisks2Watcher(CManagedObjects objects) : m_objects(std::move(objects))
    {
        for (const char* signal : {"InterfacesAdded", "InterfacesRemoved"}) {
            Bus().connect(UDISKS2, UDISKS2_PATH, OBJECT_MANAGER, signal, this, SLOT(OnChange()));
        }
        // Mount points change on the objects themselves, whoever mounted them.
        Bus().connect(UDISKS2, "", PROPERTIES, "PropertiesChanged", this, SLOT(OnChange()));
    }

    static std::optional<CManagedObjects> Read(int timeout)
    {
        const QDBusMessage call =
            QDBusMessage::createMethodCall(UDISKS2, UDISKS2_PATH, OBJECT_MANAGER, "GetManagedObjects");
        const QDBusReply<CManagedObjects> reply = Bus().call(call, QDBus::Block, timeout);
        return reply.isValid() ? std::optional(reply.value()) : std::nullopt;
    }

    bool IsUDisks2() const override { return true; }

    // A file system on a drive that can be removed, or whose medium can, that UDisks2 does not hide.
    std::vector<CDevice> Devices() const override
    {
        std::vector<CDevice> devices;
        for (auto object = m_objects.begin(); object != m_objects.end(); ++object) {
            const QVariantMap block = object->value(BLOCK);
            if (!object->contains(FILESYSTEM) || block.value("HintIgnore").toBool()) {
                continue;
            }
            const QVariantMap drive =
                m_objects.value(qvariant_cast<QDBusObjectPath>(block.value("Drive"))).value(DRIVE);
            if (!drive.value("Removable").toBool() && !drive.value("MediaRemovable").toBool()) {
                continue;
            }
            CDevice device{object.key().path(),
                           block.value("IdLabel").toString(),
                           block.value("IdUUID").toString(),
                           PathOf(qdbus_cast<QByteArray>(block.value("Device"))),
                           {},
                           block.value("Size").toLongLong()};
            const auto mountPoints = qdbus_cast<QByteArrayList>(object->value(FILESYSTEM).value("MountPoints"));
            if (!mountPoints.isEmpty()) {
                device.m_mountPoint = PathOf(mountPoints.front());
            }
            if (device.m_label.isEmpty()) {
                device.m_label =
                    QFileInfo(device.m_mountPoint.isEmpty() ? device.m_deviceFile : device.m_mountPoint).fileName();
            }
            devices.push_back(device);
        }
        return devices;
    }

    QString Mount(const CDevice& device, QString& error) override
    {
        QDBusMessage call = QDBusMessage::createMethodCall(UDISKS2, device.m_id, FILESYSTEM, "Mount");
        call << QVariantMap();
        const QDBusReply<QString> reply = Bus().call(call, QDBus::Block, MOUNT_TIMEOUT_MS);
        error = reply.isValid() ? QString() : reply.error().message();
        return reply.isValid() ? reply.value() : QString();
    }

    bool Eject(const QString& folder, QString& error) override
    {
        const QString real = FullFolder(folder);
        const std::vector<CDevice> devices = Devices();
        const auto holder = std::find_if(devices.begin(), devices.end(),
                                         [&](const CDevice& device) { return Holds(device.m_mountPoint, real); });
        if (holder == devices.end()) {
            error = "The Jukebit is on no drive that can be ejected from here. Run\n" + EjectCommand(folder) +
                    "\nbefore unplugging it.";
            return false;
        }
        if (!Call(holder->m_id, FILESYSTEM, "Unmount", error)) {
            return false;
        }
        const QDBusObjectPath drive =
            qvariant_cast<QDBusObjectPath>(m_objects.value(QDBusObjectPath(holder->m_id)).value(BLOCK).value("Drive"));
        if (m_objects.value(drive).value(DRIVE).value("CanPowerOff").toBool() &&
            !Call(drive.path(), DRIVE, "PowerOff", error)) {
            error = "The Jukebit is unmounted, but its drive stays on :\n" + error;
        }
        return true;
    }

private slots:
    void OnChange()
    {
        if (std::optional<CManagedObjects> objects = Read(-1)) {
            m_objects = std::move(*objects);
            emit devicesChanged();
        }
    }

private:
    static bool Call(const QString& path, const char* interface, const char* method, QString& error)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(UDISKS2, path, interface, method);
        call << QVariantMap();
        const QDBusMessage reply = Bus().call(call, QDBus::Block, MOUNT_TIMEOUT_MS);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            error = reply.errorMessage();
            return false;
        }
        return true;
    }

    CManagedObjects m_objects;
};

// The volumes in the places where the desktop mounts them: a volume is a
// sub-folder. One that is plugged in or out makes or removes its folder there,
// and is mounted or unmounted: either lists the volumes again.
class CMountListWatcher final : public CDeviceWatcher
{
    Q_OBJECT

public:
    explicit CMountListWatcher(QStringList places) : m_places(std::move(places))
    {
        m_refreshTimer.setSingleShot(true);
        m_refreshTimer.setInterval(REFRESH_DELAY_MS);
        connect(&m_refreshTimer, &QTimer::timeout, this, &CMountListWatcher::OnRefresh);
        connect(&m_placesWatcher, &QFileSystemWatcher::directoryChanged, &m_refreshTimer, qOverload<>(&QTimer::start));
        m_mountTable.setFileName(MOUNT_TABLE);
        if (m_mountTable.open(QIODevice::ReadOnly)) {
            auto* mounts = new QSocketNotifier(m_mountTable.handle(), QSocketNotifier::Exception, this);
            connect(mounts, &QSocketNotifier::activated, &m_refreshTimer, qOverload<>(&QTimer::start));
        }
        WatchPlaces();
    }

    bool IsUDisks2() const override { return false; }

    std::vector<CDevice> Devices() const override
    {
        std::vector<CDevice> devices;
        for (const CVolume& volume : ListVolumes(m_places)) {
            devices.push_back({volume.m_root, volume.m_label, {}, {}, volume.m_root, 0});
        }
        return devices;
    }

    QString Mount(const CDevice& /*device*/, QString& error) override
    {
        error = "Mounting needs UDisks2";
        return {};
    }

    bool Eject(const QString& folder, QString& error) override
    {
        error = "Ejecting needs UDisks2. Run\n" + EjectCommand(folder) + "\nbefore unplugging the Jukebit.";
        return false;
    }

private:
    // A place comes into being with the first volume the desktop mounts there.
    void WatchPlaces()
    {
        for (const QString& place : m_places) {
            if (QFileInfo(place).isDir() && !m_placesWatcher.directories().contains(place)) {
                m_placesWatcher.addPath(place);
            }
        }
    }
    void OnRefresh()
    {
        WatchPlaces();
        emit devicesChanged();
    }

    QStringList m_places;
    QFileSystemWatcher m_placesWatcher;
    QFile m_mountTable;
    QTimer m_refreshTimer;
};

} // namespace

void CDeviceWatcher::SetBus(const QDBusConnection& bus)
{
    Bus() = bus;
}

std::unique_ptr<CDeviceWatcher> CDeviceWatcher::Create(const QStringList& places)
{
    qDBusRegisterMetaType<CInterfaces>();
    qDBusRegisterMetaType<CManagedObjects>();
    if (Bus().isConnected()) {
        if (std::optional<CManagedObjects> objects = CUDisks2Watcher::Read(PROBE_TIMEOUT_MS)) {
            return std::make_unique<CUDisks2Watcher>(std::move(*objects));
        }
    }
    return std::make_unique<CMountListWatcher>(places);
}

QString EjectCommand(const QString& folder)
{
    const std::optional<CMountEntry> mount = MountOf(QFile::encodeName(folder).toStdString());
    if (!mount) {
        return "umount " + folder;
    }
    const QString source = QFile::decodeName(mount->m_source.c_str());
    return source.startsWith("/dev/") ? "udisksctl unmount -b " + source
                                      : "umount " + QFile::decodeName(mount->m_mountPoint.c_str());
}

#include "DeviceWatcher.moc"
