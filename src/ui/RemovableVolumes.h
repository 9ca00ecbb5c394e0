#pragma once

#include <QString>
#include <QStringList>

#include <vector>

struct CDevice;

// A volume that the desktop has mounted in one of its places.
struct CVolume
{
    QString m_label;
    QString m_root;
};

// Every sub-folder of the places, named as the desktop names its mount: by
// the volume's label.
std::vector<CVolume> ListVolumes(const QStringList& places);

// The player folder that choosing a volume mounted at root presets: its own
// Music folder, spelt in any case as players do, else the volume itself.
QString PresetFolder(const QString& root);

// "8.0 GB free of 8.0 GB" for a mounted file system, "8.0 GB, not mounted" for another.
QString SpaceText(const CDevice& device);
