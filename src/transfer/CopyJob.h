#pragma once

#include "model/FolderNode.h"
#include "platform/FencedTree.h"
#include "transfer/AlbumCopier.h"
#include "transfer/DeletePass.h"
#include "transfer/FileWriter.h"
#include "transfer/JobContext.h"
#include "transfer/PlainCopy.h"
#include "transfer/Remover.h"

#include <memory>

class CCopyLog;

// One copy job: brings the player's music folder in line with the selection
// of a scanned tree. It clears what a job that was cut off left, deletes the
// albums that are no longer selected, then copies the selected albums that
// the player lacks, each file by the job's writer, reporting everything to
// the log. It reaches the player only through its fenced root folder; the
// tree must not change while it runs.
class CCopyJob
{
public:
    CCopyJob(CFolderNode& root, const CScanRecord& record, CCopyLog& log,
             std::unique_ptr<IFileWriter> pWriter = std::make_unique<CPlainCopy>());

    // Opens the player's music folder for the job. Fails with ESTALE when it
    // is no longer the folder that was scanned, and with EWOULDBLOCK while
    // another job holds it.
    int OpenPlayer();
    // Lets the player's folder go, so that it can be unmounted.
    void ClosePlayer() { m_player.Close(); }

    // The whole job: leftovers, then the delete pass, then the copy pass.
    void Run();
    void RemoveLeftovers() { m_remover.RemoveLeftovers(); }
    void DeletePass() { m_deletePass.Run(m_root); }
    void CopyPass()
    {
        m_pWriter->BeginPass(m_root);
        m_copier.CopyPass(m_root);
        m_pWriter->EndPass();
    }

private:
    CFolderNode& m_root;
    const CScanRecord& m_record;
    // The player's music folder, held open while the job runs: everything it
    // deletes or writes is reached through it.
    CFencedTree m_player;
    std::unique_ptr<IFileWriter> m_pWriter;
    CJobContext m_context;
    CRemover m_remover;
    CDeletePass m_deletePass;
    CAlbumCopier m_copier;
};
