#include "app/LyrafetchDoc.h"

#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "text/Text.h"

CLyrafetchDoc::CLyrafetchDoc(const std::vector<std::string>& params) : m_params(params) {}

CLyrafetchDoc::~CLyrafetchDoc() = default;

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
    if (!m_pModel->Scan()) {
        return false;
    }
    if (m_pModel->m_children.empty()) {
        ShowMessageBox("Computer and Jukebit music folders have no sub-folders", MB_OK | MB_ICONINFORMATION);
        return false;
    }
    return true;
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
