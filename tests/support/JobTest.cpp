#include "support/JobTest.h"

#include "model/AlbumManifest.h"
#include "platform/FaultInjection.h"

#include <sstream>

namespace fs = std::filesystem;

JobTest::JobTest()
{
    m_log.m_pNotify = this;
    g_cancelState = 0;
}

JobTest::~JobTest()
{
    DisarmFaults();
    g_cancelState = 0;
}

void JobTest::ScanLibrary(const std::string& description)
{
    m_fixture.Create("computer/\nplayer/\n" + description);
    ASSERT_TRUE(ScanPair());
    OpenPlayer();
}

void JobTest::OpenPlayer()
{
    m_pJob = std::make_unique<CCopyJob>(m_root, m_record, m_log);
    ASSERT_EQ(m_pJob->OpenPlayer(), 0);
}

std::vector<std::string> JobTest::LogLines() const
{
    std::vector<std::string> lines;
    std::istringstream text(m_log.GetText());
    for (std::string line; std::getline(text, line);) {
        EXPECT_EQ(line.back(), '\r');
        line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void JobTest::NotifyLogLine()
{
    if (m_onLogLine) {
        m_onLogLine(*m_log.m_entries.back());
    }
}

std::map<std::string, std::string> JobTest::Snapshot(const std::string& folder) const
{
    std::map<std::string, std::string> files;
    const fs::path root = m_fixture / folder;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            files[relative + "/"] = "";
        } else if (entry.path().filename() != ToNativePath(MANIFEST_NAME)) {
            files[relative] = ReadFileText(entry.path());
        }
    }
    return files;
}
