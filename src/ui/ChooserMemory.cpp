#include "ui/ChooserMemory.h"

#include <QFileInfo>
#include <QSettings>

namespace {

// ~/.config/lyrafetch/chooser.conf
constexpr char SETTINGS_ORGANIZATION[] = "lyrafetch";
constexpr char SETTINGS_APPLICATION[] = "chooser";

// A key holds '/' and '=', which settings read as groups and separators.
QString FormatSettingsKey(const std::string& key)
{
    return "formats/" + QString::fromLatin1(QByteArray::fromStdString(key).toPercentEncoding());
}

} // namespace

CChooserMemory LoadChooserMemory()
{
    CChooserMemory memory;
    QSettings settings(SETTINGS_ORGANIZATION, SETTINGS_APPLICATION);
    memory.m_last = {settings.value("last/computer").toString(), settings.value("last/player").toString()};
    const int count = settings.beginReadArray("entries");
    for (int index = 0; index < count; ++index) {
        settings.setArrayIndex(index);
        CMenuEntry entry{settings.value("name").toString(),
                         {settings.value("computer").toString(), settings.value("player").toString()},
                         settings.value("file").toString()};
        // An entry taken out of the menu by hand is forgotten.
        if (QFileInfo::exists(entry.m_file)) {
            memory.m_entries.push_back(entry);
        }
    }
    settings.endArray();
    return memory;
}

void SaveChooserMemory(const CChooserMemory& memory)
{
    QSettings settings(SETTINGS_ORGANIZATION, SETTINGS_APPLICATION);
    settings.setValue("last/computer", memory.m_last.m_computer);
    settings.setValue("last/player", memory.m_last.m_player);
    settings.beginWriteArray("entries", static_cast<int>(memory.m_entries.size()));
    for (int index = 0; index < static_cast<int>(memory.m_entries.size()); ++index) {
        const CMenuEntry& entry = memory.m_entries[index];
        settings.setArrayIndex(index);
        settings.setValue("name", entry.m_name);
        settings.setValue("computer", entry.m_pair.m_computer);
        settings.setValue("player", entry.m_pair.m_player);
        settings.setValue("file", entry.m_file);
    }
    settings.endArray();
}

std::string LoadPlayerFormat(const std::string& key)
{
    return QSettings(SETTINGS_ORGANIZATION, SETTINGS_APPLICATION)
        .value(FormatSettingsKey(key))
        .toString()
        .toStdString();
}

void SavePlayerFormat(const std::string& key, std::string_view id)
{
    QSettings settings(SETTINGS_ORGANIZATION, SETTINGS_APPLICATION);
    settings.setValue(FormatSettingsKey(key), QString::fromUtf8(id.data(), static_cast<qsizetype>(id.size())));
}
