#pragma once

#include "model/FolderNode.h"

#include <cstdint>
#include <string>

class CFile;
class CJobContext;

// One computer file of an album to write on the player, and how the log names
// it on both sides.
struct CFileToWrite
{
    const CFileEntry& m_source;
    // The file on the computer, with the long-path prefix.
    std::u16string m_sourcePath;
    std::string m_sourceDisplay;
    std::string m_destinationDisplay;
};

// Makes the player's file of one computer file: says the name it takes there
// and the bytes it is expected to take before anything is written, then
// writes it. The limits, the clash check, the plan's sizes and the check after
// publishing read these answers, and so does the projected free space. A
// writer serves one job, one file at a time.
class IFileWriter : public IPlayerFiles
{
public:
    // Opens the source, before its file on the player is created: 0 or the
    // error of the call.
    virtual int Open(const CFileToWrite& file) = 0;
    // Writes the opened source into output, a new file of the staging folder,
    // adding to the job's byte counter as it goes and reading the cancel state
    // at least every 256 KiB; written is the number of bytes written. False
    // when the job is canceled or a call failed, which it has logged.
    virtual bool Write(const CFileToWrite& file, CFile& output, CJobContext& context, std::uint64_t& written) = 0;
    // Told before the job's copy pass, which writes the albums to copy below
    // root in the tree's order, and once it has ended: a writer may work ahead
    // of its writes meanwhile.
    virtual void BeginPass(const CFolderNode& /*root*/) {}
    virtual void EndPass() {}
};

// The path of one of the album's computer files, with the long-path prefix.
std::u16string ComputerFilePath(const CFolderNode& album, const CFileEntry& source);

// The sum of the bytes the writer expects of the album's computer files.
std::uint64_t ExpectedAlbumBytes(const IFileWriter& writer, const CFolderNode& album);
