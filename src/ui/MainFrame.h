#pragma once

#include "app/CopyProgress.h"

#include <QMainWindow>

#include <cstdint>

class CFilterBar;
class CLyrafetchDoc;
class CLyrafetchView;
class QAction;
class QLabel;

// The main window: the album tree under its filter bar, the File and Help
// menus, and a status bar with the player's projected free space. The title
// follows a running job.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    explicit CMainFrame(CLyrafetchDoc& doc);

    void SetFreeSpace(std::int64_t freeBytes, std::uint64_t totalBytes);
    void SetCopyProgress(const CCopyProgress& progress);
    void OnAppAbout();

    CLyrafetchView* View() const { return m_pView; }
    CFilterBar* FilterBar() const { return m_pFilterBar; }
    QAction* CopyFilesAction() const { return m_pCopyFiles; }
    QAction* ShowLogAction() const { return m_pShowLog; }
    QString FreeSpaceText() const;
    QString MessageText() const;

private:
    void CreateMenus();
    void CreateFilterKeys();
    void UpdateFreeSpacePane();
    void ShowReady();

    CLyrafetchView* m_pView = nullptr;
    CFilterBar* m_pFilterBar = nullptr;
    QAction* m_pCopyFiles = nullptr;
    QAction* m_pShowLog = nullptr;
    QLabel* m_pFreeSpacePane = nullptr;
    std::int64_t m_nFreeBytes = 0;
    std::uint64_t m_nTotalBytes = 0;
    CCopyProgress m_lastProgress;
};
