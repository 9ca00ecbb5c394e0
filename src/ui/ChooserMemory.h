#pragma once

#include <QString>

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
