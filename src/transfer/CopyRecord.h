#pragma once

#include <set>
#include <string>

// The folders and files that one album's copy created on the player, by their
// paths below the player's root. When the copy does not complete, only these are taken away
// again: a file that was in the album's folder before stays, and so does the
// folder.
class CCopyRecord
{
public:
    void AddFolder(const std::u16string& path) { m_folders.insert(path); }
    void AddFile(const std::u16string& path) { m_files.insert(path); }
    bool MadeFolder(const std::u16string& path) const { return m_folders.contains(path); }
    bool MadeFile(const std::u16string& path) const { return m_files.contains(path); }

private:
    std::set<std::u16string> m_folders;
    std::set<std::u16string> m_files;
};
