#pragma once

#include "platform/FencedTree.h"

#include <cstdint>
#include <map>
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
    // A folder that was on the player before the copy; the folders above it
    // were too.
    void AddExisting(const std::u16string& path) { m_existing.insert(path); }
    // Whether the copy reached the folder: made it, or found it there. Below
    // the first folder it could not make, nothing of it exists.
    bool Reached(const std::u16string& path) const { return MadeFolder(path) || m_existing.contains(path); }
    // A file of the album, by its name in m_albumFolder, once it is created,
    // then the bytes written into it.
    void AddFile(const std::u16string& name) { m_files.emplace(name, 0); }
    void SetWritten(const std::u16string& name, std::uint64_t size) { m_files[name] = size; }
    bool MadeFolder(const std::u16string& path) const { return m_folders.contains(path); }
    bool MadeFile(const std::u16string& name) const { return m_files.contains(name); }
    const std::map<std::u16string, std::uint64_t>& Files() const { return m_files; }
    // The staging folder has become the album's folder.
    void Publish(const std::u16string& albumFolder)
    {
        m_folders.erase(m_albumFolder);
        m_folders.insert(albumFolder);
        m_albumFolder = albumFolder;
    }

    // Where the album's files are written: the staging folder beside its
    // place, until it is published under the album's name.
    std::u16string m_albumFolder;
    // The staging folder, locked for as long as the copy uses it: no other
    // job takes it for what a job that was cut off left.
    CFolderHandle m_staging;
    // A changed album's new version has taken the old one's place: nothing
    // of it is taken away any more.
    bool m_bSwapped = false;

private:
    std::set<std::u16string> m_folders;
    std::set<std::u16string> m_existing;
    std::map<std::u16string, std::uint64_t> m_files;
};
