#include "transfer/CopyJob.h"

#include "transfer/CopyLog.h"

#include <string>

CCopyJob::CCopyJob(CFolderNode& root, const CScanRecord& record, CCopyLog& log, std::unique_ptr<IFileWriter> pWriter)
    : m_root(root), m_record(record), m_pWriter(std::move(pWriter)), m_context(m_player, log),
      m_remover(m_context, record), m_deletePass(m_context, record, m_remover),
      m_copier(m_context, m_remover, m_deletePass, *m_pWriter)
{
}

int CCopyJob::OpenPlayer()
{
    return m_player.Open(m_root.m_names[SIDE_PLAYER], m_record.m_roots[SIDE_PLAYER]);
}

void CCopyJob::Run()
{
    ReportUnreadManifests();
    RemoveLeftovers();
    DeletePass();
    // Runs even after a cancel: it then ends at its first check.
    CopyPass();
}

// An album record that cannot be read only makes its album one without a
// record: no error, one line for all of them.
void CCopyJob::ReportUnreadManifests()
{
    const std::vector<std::string>& unread = m_record.m_unreadManifests;
    if (unread.empty()) {
        return;
    }
    const std::string more = unread.size() > 1 ? " and " + std::to_string(unread.size() - 1) + " more" : "";
    m_context.m_log.Add(LOG_INFO, "Ignoring \"%s\"%s: not an album record this version reads", unread.front(), more);
}
