#include "app/LyrafetchDoc.h"

#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/MessageTarget.h"
#include "text/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

CLyrafetchDoc::CLyrafetchDoc(const std::vector<std::string>& params) : m_params(params)
{
    m_log.m_pNotify = this;
}

CLyrafetchDoc::~CLyrafetchDoc()
{
    // No job outlives its dialog; should one still run, it must not be left
    // working on a freed model.
    if (m_hCopyThread) {
        EndCopy();
    }
}

bool CLyrafetchDoc::OnNewDocument()
{
    Load();
    return m_pModel != nullptr;
}

void CLyrafetchDoc::Load()
{
    m_freeBytes = 0;
    m_totalBytes = 0;
    m_pModel.reset();
    m_scanRecord = {};
    m_pModel = std::make_unique<CFolderNode>();
    if (!BuildModel()) {
        m_pModel.reset();
        return;
    }
    QueryFreeSpace(m_params[SIDE_PLAYER].c_str());
}

// Names the root after the two arguments, scans both trees and checks that
// there is something to show. Every failure has shown its message.
bool CLyrafetchDoc::BuildModel()
{
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        if (m_params.size() < static_cast<std::size_t>(side) + 1) {
            ShowMessageBox("Usage : Lyrafetch pcFolder jukebitFolder", MB_OK | MB_ICONINFORMATION);
            return false;
        }
        std::u16string folder;
        if (!NarrowToWide(folder, m_params[side])) {
            ShowMessageBox("Unable to convert parameter " + std::to_string(side + 1) + " from Ascii to Unicode",
                           MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
        m_pModel->SetName(side, folder);
    }
    if (!CheckRoots() || !m_pModel->Scan(m_scanRecord, m_pScanProgress)) {
        return false;
    }
    if (m_pModel->m_children.empty()) {
        ShowMessageBox("Computer and Jukebit music folders have no sub-folders", MB_OK | MB_ICONINFORMATION);
        return false;
    }
    return true;
}

// Two roots that are one folder, or where one lies inside the other, would
// have a job delete the computer's own albums or copy the player into itself.
bool CLyrafetchDoc::CheckRoots() const
{
    std::array<std::vector<CFolderId>, SIDE_COUNT> chains;
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        // A root that cannot be read is for the scan to report.
        if (m_pModel->m_names[side].empty() || GetFolderChain(m_pModel->m_names[side], chains[side]) != 0) {
            return true;
        }
    }
    const auto holds = [&](int side, const CFolderId& folder) {
        return std::find(chains[side].begin(), chains[side].end(), folder) != chains[side].end();
    };
    const CFolderId& computer = chains[SIDE_COMPUTER].front();
    const CFolderId& player = chains[SIDE_PLAYER].front();
    if (computer == player) {
        ReportRootOverlap(ERootOverlap::Same);
    } else if (holds(SIDE_PLAYER, computer)) {
        ReportRootOverlap(ERootOverlap::PlayerInsideComputer);
    } else if (holds(SIDE_COMPUTER, player)) {
        ReportRootOverlap(ERootOverlap::ComputerInsidePlayer);
    } else {
        return true;
    }
    return false;
}

void CLyrafetchDoc::QueryFreeSpace(const char* folder)
{
    std::uint64_t available = 0;
    std::uint64_t total = 0;
    if (const int error = QueryVolumeSpace(folder, available, total)) {
        ShowMessageBox(FormatString("Getting Jukebit free space :\nError : %S\nFree space won't be available.",
                                    SystemErrorText(error)),
                       MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_freeBytes = available;
    m_totalBytes = total;
}

bool CLyrafetchDoc::StartCopy(IMessageTarget* notifyWnd, unsigned notifyMsg)
{
    if (!m_pModel) {
        ShowMessageBox("Internal error : document not created", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (m_hCopyThread) {
        ShowMessageBox("Internal error : previous copy not ended", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (!OpenPlayerFolder()) {
        return false;
    }
    m_log.Clear();
    m_pNotifyWnd = notifyWnd;
    m_nNotifyMsg = notifyMsg;
    g_cancelState = 0;
    // The job counts as running before the worker starts, so that none of its
    // first reports is lost.
    m_bCopyReturned = false;
    m_bCopyHeld = true;
    try {
        m_hCopyThread = std::make_unique<std::thread>(CopyThreadProc, this);
    } catch (const std::system_error&) {
        m_bCopyHeld = false;
        m_log.m_player.Close();
        ShowMessageBox("Error creating copy thread", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    return true;
}

// The job reaches the player only through its root folder, opened here; it
// must still be the folder that was scanned.
bool CLyrafetchDoc::OpenPlayerFolder()
{
    const std::u16string& root = m_pModel->m_names[SIDE_PLAYER];
    if (root.empty()) {
        ShowMessageBox("No Jukebit music folder given\nCopy not started.", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    const int error = m_log.m_player.Open(root, m_scanRecord.m_roots[SIDE_PLAYER]);
    if (error == EWOULDBLOCK) {
        ShowMessageBox("Jukebit music folder is in use by another copy\nCopy not started.", MB_OK | MB_ICONEXCLAMATION);
    } else if (error == ESTALE) {
        ShowMessageBox("Jukebit music folder is no longer the one that was read (unplugged ?)\nCopy not started.",
                       MB_OK | MB_ICONEXCLAMATION);
    } else if (error != 0) {
        ShowMessageBox(
            FormatString("Opening Jukebit music folder :\nError : %S\nCopy not started.", SystemErrorText(error)),
            MB_OK | MB_ICONEXCLAMATION);
    }
    return error == 0;
}

void CLyrafetchDoc::CopyThreadProc(CLyrafetchDoc* doc)
{
    CFolderNode* root = doc->m_pModel.get();
    CFolderNode::RemoveLeftovers(doc->m_log, doc->m_scanRecord);
    root->DeletePass(doc->m_log);
    root->CopyPass(doc->m_log);
    if (doc->m_pNotifyWnd != nullptr) {
        doc->m_pNotifyWnd->PostMessage(doc->m_nNotifyMsg, COPYNOTIFY_DONE, 0);
    }
    doc->m_bCopyReturned = true;
}

bool CLyrafetchDoc::IsCopyFinished() const
{
    return !m_hCopyThread || m_bCopyReturned;
}

void CLyrafetchDoc::WaitCopyEnd()
{
    if (m_hCopyThread && m_hCopyThread->joinable()) {
        m_hCopyThread->join();
    }
}

bool CLyrafetchDoc::EndCopy()
{
    WaitCopyEnd();
    m_hCopyThread.reset();
    m_bCopyHeld = false;
    m_log.m_player.Close(); // a player held open could not be unmounted
    return true;
}

void CLyrafetchDoc::NotifyProgress()
{
    Post(COPYNOTIFY_PROGRESS, 0);
}

void CLyrafetchDoc::NotifyLogLine()
{
    Post(COPYNOTIFY_LOGLINE, reinterpret_cast<std::intptr_t>(m_log.m_entries.back().get()));
}

void CLyrafetchDoc::Post(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (m_bCopyHeld && m_pNotifyWnd != nullptr) {
        m_pNotifyWnd->PostMessage(m_nNotifyMsg, wParam, lParam);
    }
}
