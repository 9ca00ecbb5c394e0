#pragma once

#include <QProcess>
#include <QString>

// UDisks2 played by python3-dbusmock (udisks2-mock.py) on the session bus,
// which the tests run on a bus of their own: removable drives with one file
// system each, that the test plugs in, mounts, unmounts and pulls out. Ended
// when it goes.
class CFakeUDisks2
{
public:
    // mountRoot: where Mount makes the mount point of a file system, after its label.
    explicit CFakeUDisks2(const QString& mountRoot);
    ~CFakeUDisks2();

    // Empty once the service answers on the bus, else why not.
    QString Started() const { return m_strError; }
    void AddDevice(const QString& name, const QString& label, const QString& uuid, quint64 size,
                   const QString& mountPoint = {});
    void RemoveDevice(const QString& name);
    // Mounted there by another program, or unmounted when mountPoint is empty.
    void SetMountPoint(const QString& name, const QString& mountPoint);
    // The next call of method ("Mount", "Unmount" or "PowerOff") fails with UDisks2's error and message.
    void FailNext(const QString& method, const QString& error, const QString& message);

private:
    void Call(const QString& method, const QVariantList& arguments);

    QProcess m_mock;
    QString m_strError;
};
