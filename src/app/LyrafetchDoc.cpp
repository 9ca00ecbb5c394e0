#include "app/LyrafetchDoc.h"

#include "app/NodePath.h"
#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/MessageTarget.h"
#include "platform/SystemError.h"
#include "text/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

CLyrafetchDoc::CLyrafetchDoc(std::vector<std::string> params) : m_params(std::move(params))
{
    m_log.m_pNotify = this;
}

CLyrafetchDoc::~CLyrafetchDoc()
{
    // No job outlives its dialog; should one still run, it must not be left
    // working on a freed model.
    if (m_pCopyThread) {
        EndCopy();
    }
}

std::optional<CMessage> CLyrafetchDoc::Load()
{
    m_strUnreadable.clear();
    m_nFreeBytes = 0;
    m_nTotalBytes = 0;
    m_allocationUnit = 0;
    m_pModel.reset();
    m_scanRecord = {};
    m_pModel = std::make_unique<CFolderNode>();
    if (std::optional<CMessage> failure = BuildModel()) {
        m_pModel.reset();
        return failure;
    }
    ComputeChanges();
    return QueryFreeSpace(m_params[SIDE_PLAYER].c_str());
}

std::optional<CMessage> CLyrafetchDoc::Reload()
{
    const std::vector<CChosenStep> chosen = m_pModel ? ChosenSteps(*m_pModel) : std::vector<CChosenStep>();
    std::unique_ptr<CFolderNode> pOld = std::move(m_pModel);
    CScanRecord oldRecord = std::move(m_scanRecord);
    const std::uint64_t oldFree = m_nFreeBytes;
    const std::uint64_t oldTotal = m_nTotalBytes;
    const std::uint64_t oldUnit = m_allocationUnit;
    std::optional<CMessage> message = Load();
    if (m_pModel) {
        ReapplyChosenSteps(*m_pModel, chosen);
        return message;
    }
    if (pOld) {
        const char* const kWhat[] = {"Computer music folder cannot be read : ", "Jukebit cannot be read : "};
        const int side = m_scanRecord.m_nUnreadSide == SIDE_COMPUTER ? SIDE_COMPUTER : SIDE_PLAYER;
        std::string reason = message ? message->m_text : std::string();
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        m_pModel = std::move(pOld);
        m_scanRecord = std::move(oldRecord);
        m_nFreeBytes = oldFree;
        m_nTotalBytes = oldTotal;
        m_allocationUnit = oldUnit;
        MarkUnreadable(kWhat[side] + reason);
    }
    return message;
}

void CLyrafetchDoc::SetFormat(const CFormatProfile& format)
{
    m_pFormat = &format;
    m_pWriter = MakeWriter(format);
    if (m_pModel) {
        ComputeChanges();
    }
}

// An album another writer made is changed, and a changed album's byte change
// is its new version's.
void CLyrafetchDoc::ComputeChanges()
{
    m_pModel->ComputeChanges(*m_pWriter);
    m_pModel->SetPlayerFiles(m_pWriter.get());
    m_pModel->ComputeDeltas();
}

// Names the root after the two arguments, scans both trees and checks that
// there is something to show. Returns the failure.
std::optional<CMessage> CLyrafetchDoc::BuildModel()
{
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        if (m_params.size() < static_cast<std::size_t>(side) + 1) {
            return CMessage{"Usage : Lyrafetch pcFolder jukebitFolder", MB_OK | MB_ICONINFORMATION};
        }
        std::u16string folder;
        if (!NarrowToWide(folder, m_params[side])) {
            return CMessage{"Unable to convert parameter " + std::to_string(side + 1) + " from Ascii to Unicode",
                            MB_OK | MB_ICONEXCLAMATION};
        }
        m_pModel->SetName(side, folder);
    }
    if (std::optional<CMessage> overlap =
            CheckRoots(m_pModel->m_names[SIDE_COMPUTER], m_pModel->m_names[SIDE_PLAYER])) {
        return overlap;
    }
    if (CMessage failure; !m_pModel->Scan(m_scanRecord, failure, m_pScanProgress)) {
        return failure;
    }
    if (m_pModel->m_children.empty()) {
        return CMessage{"Computer and Jukebit music folders have no sub-folders", MB_OK | MB_ICONINFORMATION};
    }
    return std::nullopt;
}

// Two roots that are one folder, or where one lies inside the other, would
// have a job delete the computer's own albums or copy the player into itself.
std::optional<CMessage> CLyrafetchDoc::CheckRoots(const std::u16string& computerRoot, const std::u16string& playerRoot)
{
    const std::array<const std::u16string*, SIDE_COUNT> roots = {&computerRoot, &playerRoot};
    std::array<std::vector<CFolderId>, SIDE_COUNT> chains;
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        if (roots[side]->empty() || GetFolderChain(*roots[side], chains[side]) != 0) {
            return std::nullopt;
        }
    }
    const auto holds = [&](int side, const CFolderId& folder) {
        return std::find(chains[side].begin(), chains[side].end(), folder) != chains[side].end();
    };
    const CFolderId& computer = chains[SIDE_COMPUTER].front();
    const CFolderId& player = chains[SIDE_PLAYER].front();
    if (computer == player) {
        return RootOverlapMessage(ERootOverlap::Same);
    }
    if (holds(SIDE_PLAYER, computer)) {
        return RootOverlapMessage(ERootOverlap::PlayerInsideComputer);
    }
    if (holds(SIDE_COMPUTER, player)) {
        return RootOverlapMessage(ERootOverlap::ComputerInsidePlayer);
    }
    return std::nullopt;
}

std::optional<CMessage> CLyrafetchDoc::QueryFreeSpace(const char* folder)
{
    std::uint64_t available = 0;
    std::uint64_t total = 0;
    std::uint64_t unit = 0;
    if (const int error = QueryVolumeSpace(folder, available, total, unit)) {
        return CMessage{FormatString("Getting Jukebit free space :\nError : %S\nFree space won't be available.",
                                     SystemErrorText(error)),
                        MB_OK | MB_ICONEXCLAMATION};
    }
    m_nFreeBytes = available;
    m_nTotalBytes = total;
    m_allocationUnit = unit;
    return std::nullopt;
}

bool CLyrafetchDoc::StartCopy(IMessageTarget* notifyWnd, unsigned notifyMsg)
{
    if (!m_pModel) {
        ShowMessageBox("Internal error : document not created", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if (m_pCopyThread) {
        ShowMessageBox("Internal error : previous copy not ended", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    m_pCopyJob = std::make_unique<CCopyJob>(*m_pModel, m_scanRecord, m_log, MakeWriter(*m_pFormat));
    if (!OpenPlayerFolder()) {
        m_pCopyJob.reset();
        return false;
    }
    m_log.Clear();
    m_log.m_nBytesCopied = 0;
    m_pNotifyWnd = notifyWnd;
    m_nNotifyMsg = notifyMsg;
    g_cancelState = 0;
    // The job counts as running before the worker starts, so that none of its
    // first reports is lost.
    m_bCopyReturned = false;
    m_bCopyHeld = true;
    m_copyStart = std::chrono::steady_clock::now();
    try {
        m_pCopyThread = std::make_unique<std::thread>(CopyThreadProc, this);
    } catch (const std::system_error&) {
        m_bCopyHeld = false;
        m_pCopyJob.reset();
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
    const int error = m_pCopyJob->OpenPlayer();
    m_bPlayerChanged = error == ESTALE;
    if (error == EWOULDBLOCK) {
        ShowMessageBox("Jukebit music folder is in use by another copy\nCopy not started.", MB_OK | MB_ICONEXCLAMATION);
    } else if (error == ESTALE) {
        MarkUnreadable("Jukebit music folder is no longer the one that was read (unplugged ?)");
        ShowMessageBox("Jukebit music folder is no longer the one that was read (unplugged ?)\nCopy not started.",
                       MB_OK | MB_ICONEXCLAMATION);
    } else if (error != 0) {
        MarkUnreadable(
            FormatString("Jukebit cannot be read : Opening Jukebit music folder : Error : %S", SystemErrorText(error)));
        ShowMessageBox(
            FormatString("Opening Jukebit music folder :\nError : %S\nCopy not started.", SystemErrorText(error)),
            MB_OK | MB_ICONEXCLAMATION);
    }
    return error == 0;
}

void CLyrafetchDoc::CopyThreadProc(CLyrafetchDoc* doc)
{
    doc->m_pCopyJob->Run();
    if (doc->m_pNotifyWnd != nullptr) {
        doc->m_pNotifyWnd->PostMessage(doc->m_nNotifyMsg, COPYNOTIFY_DONE, 0);
    }
    doc->m_bCopyReturned = true;
}

bool CLyrafetchDoc::IsCopyFinished() const
{
    return !m_pCopyThread || m_bCopyReturned;
}

void CLyrafetchDoc::WaitCopyEnd()
{
    if (m_pCopyThread && m_pCopyThread->joinable()) {
        m_pCopyThread->join();
    }
}

bool CLyrafetchDoc::EndCopy()
{
    WaitCopyEnd();
    if (m_pCopyThread) {
        m_log.m_summary = m_log.m_plan.Summarize();
        m_log.m_summary->m_timeTaken =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_copyStart);
    }
    m_pCopyThread.reset();
    m_bCopyHeld = false;
    m_pCopyJob.reset(); // a player held open could not be unmounted
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
