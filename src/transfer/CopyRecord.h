#pragma once

#include <set>
#include <string>

// The folders and files that one album's copy created on the player, by their
// paths below the player's root. When the copy does not complete, only these
// are taken away again: a file that was in the album's folder before stays,
// and so does the folder.
class CCopyRecord
{
public:
    void AddFolder(const std::u16string& path) { m_folders.insert(path); }
    // A file of the album, by its name in m_albumFolder.
    void AddFile(const std::u16string& name) { m_files.insert(name); }
    bool MadeFolder(const std::u16string& path) const { return m_folders.contains(path); }
    bool MadeFile(const std::u16string& name) const { return m_files.contains(name); }
    // The staging folder has become the album's folder.
    void Publish(const std::u16string& albumFolder)
    {
        m_folders.erase(m_albumFolder);
        m_folders.insert(albumFolder);
        m_albumFolder = albumFolder;
        m_bStaged = false;
    }

    // Where the album's files are written: its own folder when that was on
    // the player already, else the staging folder beside it.
    std::u16string m_albumFolder;
    bool m_bStaged = false;

private:
    std::set<std::u16string> m_folders;
    std::set<std::u16string> m_files;
};
