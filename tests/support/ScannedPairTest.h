#pragma once

#include "model/FolderNode.h"
#include "support/FolderFixture.h"
#include "support/MessageRecorder.h"

#include <gtest/gtest.h>

// A test over a computer folder and a player folder in a fixture, with every
// message box recorded.
class ScannedPairTest : public ::testing::Test
{
protected:
    // Scans the two folders; an empty name leaves that side unnamed.
    bool ScanPair(const std::string& computer = "computer", const std::string& player = "player");
    // The node at a relative path of key names; the test fails when there is none.
    CFolderNode& Node(const std::u16string& relative);

    CFolderFixture m_fixture;
    CMessageRecorder m_messages;
    CFolderNode m_root;
    CScanRecord m_record;
};
