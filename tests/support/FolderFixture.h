#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// A temporary folder that is removed with everything in it when the fixture
// goes. Folder trees are described as compact text, one path per line:
//
//     computer/ABBA/Gold/01.mp3:1000     a file of 1000 bytes
//     player/abba/Arrival/               an empty folder
//
// Every file gets content derived from its path, so two files of the same
// size still differ.
class CFolderFixture
{
public:
    CFolderFixture();
    ~CFolderFixture();
    CFolderFixture(const CFolderFixture&) = delete;
    CFolderFixture& operator=(const CFolderFixture&) = delete;

    const std::filesystem::path& Root() const { return m_root; }
    std::filesystem::path operator/(const std::string& relative) const { return m_root / relative; }

    // Creates the files and folders of the description below the root.
    void Create(const std::string& description) const;
    // Creates one file with its content; sizes above 64 MiB make sparse files.
    void CreateFile(const std::string& relative, std::uintmax_t size) const;

    // Makes below folder a chain of levels folders with names of 200
    // characters, and in the deepest an album "Album" with one file "1.mp3"
    // of 10 bytes: a path deeper than the system takes whole (PATH_MAX), made
    // one folder below the other.
    void CreateDeep(const std::string& folder, int levels) const;

    // The content CreateFile gives a file of that path and size.
    static std::string ContentFor(const std::string& relative, std::uintmax_t size);

private:
    std::filesystem::path m_root;
};

// Reads a whole file; the empty string when it cannot be read.
std::string ReadFileText(const std::filesystem::path& path);
