#include "transfer/CopyJob.h"

CCopyJob::CCopyJob(CFolderNode& root, const CScanRecord& record, CCopyLog& log, std::unique_ptr<IFileWriter> pWriter)
    : m_root(root), m_record(record), m_pWriter(std::move(pWriter)), m_context(m_player, log),
      m_remover(m_context, record), m_deletePass(m_context, record, m_remover),
      m_copier(m_context, m_remover, *m_pWriter)
{
}

int CCopyJob::OpenPlayer()
{
    return m_player.Open(m_root.m_names[SIDE_PLAYER], m_record.m_roots[SIDE_PLAYER]);
}

void CCopyJob::Run()
{
    RemoveLeftovers();
    DeletePass();
    // Runs even after a cancel: it then ends at its first check.
    CopyPass();
}
