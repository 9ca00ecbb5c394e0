#include "ui/RemovableVolumes.h"

#include "ui/DeviceWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

std::vector<CVolume> ListVolumes(const QStringList& places)
{
    std::vector<CVolume> volumes;
    for (const QString& place : places) {
        for (const QFileInfo& folder : QDir(place).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            volumes.push_back({folder.fileName(), folder.absoluteFilePath()});
        }
    }
    return volumes;
}

QString PresetFolder(const QString& root)
{
    const QStringList music = QDir(root).entryList({"Music"}, QDir::Dirs | QDir::NoDotAndDotDot);
    if (music.isEmpty()) {
        return root;
    }
    return root + '/' + (music.contains("Music") ? QString("Music") : music.front());
}

QString SpaceText(const CDevice& device)
{
    const QLocale locale;
    const auto size = [&](qint64 bytes) { return locale.formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat); };
    if (device.m_mountPoint.isEmpty()) {
        return QString("%1, not mounted").arg(size(device.m_size));
    }
    const QStorageInfo storage(device.m_mountPoint);
    return QString("%1 free of %2").arg(size(storage.bytesAvailable()), size(storage.bytesTotal()));
}
