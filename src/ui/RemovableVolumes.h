#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// A volume that the desktop has mounted in one of its places.
struct CVolume
{
    QString m_label;
    QString m_root;
    // The player folder that choosing the volume presets: its own Music
    // folder when it has one, else the volume itself.
    QString m_preset;
    qint64 m_freeBytes = 0;
    qint64 m_totalBytes = 0;
};

// Every sub-folder of the places, named as the desktop names its mount: by
// the volume's label.
std::vector<CVolume> ListVolumes(const QStringList& places);

// "8.0 GB free of 8.0 GB"
QString SpaceText(const CVolume& volume);
