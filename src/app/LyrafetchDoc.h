#pragma once

#include "model/FolderNode.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The state of one run: the merged folder tree of the two folders named on
// the command line and the player's free space.
class CLyrafetchDoc
{
public:
    // params: the command-line arguments, which must outlive the document.
    explicit CLyrafetchDoc(const std::vector<std::string>& params);
    CLyrafetchDoc(const CLyrafetchDoc&) = delete;
    CLyrafetchDoc& operator=(const CLyrafetchDoc&) = delete;
    ~CLyrafetchDoc();

    // The first load. True when it left a model.
    bool OnNewDocument();
    // Builds the model anew from the two folders; shows every failure in a
    // message box and leaves no model after one.
    void Load();
    // Reads the free and total bytes of folder's volume; shows a message box
    // and leaves both values as they were when that fails.
    void QueryFreeSpace(const char* folder);

    std::unique_ptr<CFolderNode> m_pModel;
    std::uint64_t m_freeBytes = 0;
    std::uint64_t m_totalBytes = 0;

private:
    bool BuildModel();

    const std::vector<std::string>& m_params;
};
