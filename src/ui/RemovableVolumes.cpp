#include "ui/RemovableVolumes.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

namespace {

// The volume's own Music folder when it has one, spelt in any case as players
// do, else the volume itself.
QString PresetFolder(const QString& root)
{
    const QStringList music = QDir(root).entryList({"Music"}, QDir::Dirs | QDir::NoDotAndDotDot);
    if (music.isEmpty()) {
        return root;
    }
    return root + '/' + (music.contains("Music") ? QString("Music") : music.front());
}

} // namespace

std::vector<CVolume> ListVolumes(const QStringList& places)
{
    std::vector<CVolume> volumes;
    for (const QString& place : places) {
        for (const QFileInfo& folder : QDir(place).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const QStorageInfo storage(folder.absoluteFilePath());
            volumes.push_back({folder.fileName(), folder.absoluteFilePath(), PresetFolder(folder.absoluteFilePath()),
                               storage.bytesAvailable(), storage.bytesTotal()});
        }
    }
    return volumes;
}

QString SpaceText(const CVolume& volume)
{
    const QLocale locale;
    return QString("%1 free of %2")
        .arg(locale.formattedDataSize(volume.m_freeBytes, 1, QLocale::DataSizeSIFormat),
             locale.formattedDataSize(volume.m_totalBytes, 1, QLocale::DataSizeSIFormat));
}
