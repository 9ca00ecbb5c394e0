#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

struct CFolderPair
{
    QString m_computer;
    QString m_player;
};

// A pair made into a menu entry, and the entry's file.
struct CMenuEntry
{
    QString m_name;
    CFolderPair m_pair;
    QString m_file;
};

// What the folder chooser keeps between runs, in the desktop's settings place
// (~/.config/lyrafetch/chooser.conf): the last pair opened and the pairs made
// into menu entries, those whose entry still exists.
struct CChooserMemory
{
    CFolderPair m_last;
    std::vector<CMenuEntry> m_entries;
};

CChooserMemory LoadChooserMemory();
void SaveChooserMemory(const CChooserMemory& memory);

// The format chosen for each player, in the same place, by the key that
// PlayerFormatKey gives: a profile's id, or empty where none was chosen.
std::string LoadPlayerFormat(const std::string& key);
void SavePlayerFormat(const std::string& key, std::string_view id);
