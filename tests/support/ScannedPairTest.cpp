#include "support/ScannedPairTest.h"

#include "platform/FileSystem.h"
#include "support/TreeDump.h"

bool ScannedPairTest::ScanPair(const std::string& computer, const std::string& player)
{
    const auto name = [&](const std::string& folder) {
        return folder.empty() ? std::u16string() : FromNativeName((m_fixture / folder).native());
    };
    m_root.SetName(SIDE_COMPUTER, name(computer));
    m_root.SetName(SIDE_PLAYER, name(player));
    CMessage failure;
    if (!m_root.Scan(m_record, failure)) {
        ShowMessageBox(failure);
        return false;
    }
    return true;
}

CFolderNode& ScannedPairTest::Node(const std::u16string& relative)
{
    CFolderNode* node = FindNode(m_root, relative);
    EXPECT_NE(node, nullptr);
    return node ? *node : m_root;
}
