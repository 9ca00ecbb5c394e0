#include "transfer/CopyLog.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

class CCountingNotify final : public ICopyNotify
{
public:
    void NotifyProgress() override { ++m_progress; }
    void NotifyLogLine() override { ++m_lines; }
    int m_progress = 0;
    int m_lines = 0;
};

class CopyLogTest : public ::testing::Test
{
protected:
    CopyLogTest() { m_log.m_pNotify = &m_notify; }
    ~CopyLogTest() override { g_cancelState = 0; }

    CCountingNotify m_notify;
    CCopyLog m_log;
};

} // namespace

TEST_F(CopyLogTest, TextHasOneTaggedLinePerEntry)
{
    EXPECT_EQ(m_log.GetText(), "");
    m_log.Add(LOG_INFO, "Deleting \"%s\"", "JUKEBIT/Artist/Old");
    EXPECT_EQ(m_log.GetText(), "INFO   : Deleting \"JUKEBIT/Artist/Old\"\r\n");
    m_log.Add(LOG_ERROR, "Writing \"%s\" : Error %s", "JUKEBIT/A/01.mp3", "28 (No space left on device)");
    m_log.Add(LOG_CANCEL, "Canceled by user");
    EXPECT_EQ(m_log.GetText(), "INFO   : Deleting \"JUKEBIT/Artist/Old\"\r\n"
                               "ERROR  : Writing \"JUKEBIT/A/01.mp3\" : Error 28 (No space left on device)\r\n"
                               "CANCEL : Canceled by user\r\n");
    EXPECT_EQ(FormatLogEntry(*m_log.m_entries[2], true), "CANCEL :\nCanceled by user");
    EXPECT_EQ(m_notify.m_lines, 3);
    EXPECT_EQ(m_notify.m_progress, 0);
}

TEST_F(CopyLogTest, CancelRequestIsLoggedOnce)
{
    EXPECT_FALSE(CheckCancel(m_log));
    g_cancelState = 1;
    EXPECT_TRUE(CheckCancel(m_log));
    EXPECT_TRUE(CheckCancel(m_log));
    EXPECT_EQ(g_cancelState, 2);
    EXPECT_EQ(m_log.GetText(), "CANCEL : Canceled by user\r\n");

    // A request after the engine canceled by itself is logged as well.
    g_cancelState = 1;
    EXPECT_TRUE(CheckCancel(m_log));
    EXPECT_EQ(m_log.m_entries.size(), 2u);

    // The window seeing the player go stops a job that no cancel stops yet, as a gone player does.
    CancelAsPlayerGone();
    EXPECT_EQ(g_cancelState, 2);
    g_cancelState = 0;
    CancelAsPlayerGone();
    EXPECT_TRUE(CheckCancel(m_log));
    EXPECT_TRUE(CheckCancel(m_log));
    EXPECT_EQ(g_cancelState, 2);
    EXPECT_EQ(m_log.m_entries.size(), 3u);
    EXPECT_EQ(m_log.m_entries.back()->m_text, "Canceled because disk is not available");
}

TEST_F(CopyLogTest, OnlyAFullDiskCancels)
{
    EXPECT_EQ(CheckDiskFull(m_log, EIO), EIO);
    EXPECT_EQ(CheckDiskFull(m_log, EACCES), EACCES);
    EXPECT_TRUE(m_log.m_entries.empty());
    EXPECT_EQ(g_cancelState, 0);

    EXPECT_EQ(CheckDiskFull(m_log, ENOSPC), ENOSPC);
    EXPECT_EQ(g_cancelState, 2);
    g_cancelState = 0;
    EXPECT_EQ(CheckDiskFull(m_log, EDQUOT), EDQUOT);
    EXPECT_EQ(g_cancelState, 2);
    EXPECT_EQ(m_log.GetText(), "CANCEL : Canceled because disk is full\r\nCANCEL : Canceled because disk is full\r\n");
}
