#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// A file system on a removable drive, mounted or not.
struct CDevice
{
    QString m_id;         // the watcher's own name for it
    QString m_label;      // the file system's label, else the name of its folder
    QString m_uuid;       // empty where not known
    QString m_deviceFile; // "/dev/sdb1"; empty where not known
    QString m_mountPoint; // empty while it is not mounted
    qint64 m_size = 0;    // the file system's size as its device tells it; 0 where not known
};

// The removable file systems of this machine, as they come, go, are mounted
// and unmounted by any means; and what the desktop does with them: mount one,
// eject one. UDisks2 is the first backend, the volumes the desktop has mounted
// in its places the other, where UDisks2 does not answer.
class CDeviceWatcher : public QObject
{
    Q_OBJECT

public:
    // The bus that UDisks2 is looked for on: the system bus, unless set.
    static void SetBus(const QDBusConnection& bus);
    // A watcher through UDisks2 when it answers, else through the mount list of the places.
    static std::unique_ptr<CDeviceWatcher> Create(const QStringList& places);

    virtual bool IsUDisks2() const = 0;
    virtual std::vector<CDevice> Devices() const = 0;
    // Mounts the file system as the desktop would. Its mount point, or empty with the reason in error.
    virtual QString Mount(const CDevice& device, QString& error) = 0;
    // Unmounts the file system that holds folder, then powers its drive off
    // where it can be. False, with the reason in error, when it is still
    // mounted; error may also tell of a drive that stayed on.
    virtual bool Eject(const QString& folder, QString& error) = 0;

signals:
    void devicesChanged();
};

// What to run where the program cannot eject: "udisksctl unmount -b /dev/sdb1", or "umount FOLDER".
QString EjectCommand(const QString& folder);
