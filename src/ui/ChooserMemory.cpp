#include "ui/ChooserMemory.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <utility>

namespace {

// ~/.config/lyrafetch/chooser.conf
constexpr char SETTINGS_ORGANIZATION[] = "lyrafetch";
constexpr char SETTINGS_APPLICATION[] = "chooser";

// Each player's format as a pair of values: a key holds '/', which settings
// take for a group in a name.
using CPlayerFormats = std::vector<std::pair<QString, QString>>;

CPlayerFormats LoadPlayerFormats(QSettings& settings)
{
    CPlayerFormats formats;
    const int count = settings.beginReadArray("formats");
    for (int index = 0; index < count; ++index) {
        settings.setArrayIndex(index);
        formats.emplace_back(settings.value("player").toString(), settings.value("format").toString());
    }
    settings.endArray();
    return formats;
}

CPlayerFormats::iterator FindPlayer(CPlayerFormats& formats, const std::string& key)
{
    const QString player = QString::fromStdString(key);
    return std::find_if(formats.begin(), formats.end(), [&](const auto& entry) { return entry.first == player; });
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
    QSettings settings(SETTINGS_ORGANIZATION, SETTINGS_APPLICATION);
    CPlayerFormats formats = LoadPlayerFormats(settings);
    const auto found = FindPlayer(formats, key);
    return found != formats.end() ? found->second.toStdString() : std::string();
}

void SavePlayerFormat(const std::string& key, std::string_view id)
{
    QSettings settings(SETTINGS_ORGANIZATION, SETTINGS_APPLICATION);
    CPlayerFormats formats = LoadPlayerFormats(settings);
    const QString format = QString::fromUtf8(id.data(), static_cast<qsizetype>(id.size()));
    const auto found = FindPlayer(formats, key);
    if (found != formats.end()) {
        found->second = format;
    } else {
        formats.emplace_back(QString::fromStdString(key), format);
    }
    settings.beginWriteArray("formats", static_cast<int>(formats.size()));
    for (int index = 0; index < static_cast<int>(formats.size()); ++index) {
        settings.setArrayIndex(index);
        settings.setValue("player", formats[index].first);
        settings.setValue("format", formats[index].second);
    }
    settings.endArray();
}
