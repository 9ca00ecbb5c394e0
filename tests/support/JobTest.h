#pragma once

#include "support/ScannedPairTest.h"
#include "transfer/CopyJob.h"
#include "transfer/CopyLog.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// A scanned pair with a copy log whose notifications are counted, for the
// passes of the copy job. Resets the cancel state and any armed fault.
class JobTest : public ScannedPairTest, public ICopyNotify
{
protected:
    JobTest();
    ~JobTest() override;

    // Creates the description below the fixture, both roots included, scans,
    // and makes a job over the tree with the player's folder open.
    void ScanLibrary(const std::string& description);
    void OpenPlayer();
    CCopyJob& Job() { return *m_pJob; }
    // The log's lines, without the line ends.
    std::vector<std::string> LogLines() const;
    void NotifyProgress() override { ++m_progress; }
    void NotifyLogLine() override;

    // Every file below a folder of the fixture with its content, by relative path;
    // folders end in '/'. Albums' manifests are left out: tests of them read them.
    std::map<std::string, std::string> Snapshot(const std::string& folder) const;

    CCopyLog m_log;
    std::unique_ptr<CCopyJob> m_pJob;
    int m_progress = 0;
    // Called for every new log line, on the thread that adds it.
    std::function<void(const CCopyLogEntry&)> m_onLogLine;
};
