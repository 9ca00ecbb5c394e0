#pragma once

#include "app/CopyProgress.h"

#include <QMainWindow>

#include <cstdint>
#include <string>

class CFilterBar;
class CFormatBox;
struct CFormatProfile;
class CLyrafetchDoc;
class CLyrafetchView;
class QAction;
class QActionGroup;
class QLabel;
class QPushButton;
class QTimer;

// The main window: the album tree under its filter bar, the File and Help
// menus, and a status bar with the player's format and projected free space. The title
// follows a running job. It watches the player's file system: one that goes
// stops Copy Files, and the same one back is offered to be read again.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    explicit CMainFrame(CLyrafetchDoc& doc);

    void SetFreeSpace(std::int64_t freeBytes, std::uint64_t totalBytes);
    void SetCopyProgress(const CCopyProgress& progress);
    void OnAppAbout();
    // The player cannot be read, is gone, or is another one (a job refused to
    // start on it, or a device watcher saw it go): the tree stays as it is, the
    // status bar says why, Copy Files is disabled with that reason, and
    // View > Refresh or Read Jukebit Again reads both folders anew.
    void MarkPlayerUnreadable(const std::string& reason);

    // Where the player's file system is, as the window last looked.
    enum class EPlayerState { Present, Gone, Back, Ejected };
    // The document has been loaded: from the first load on, the player is
    // watched for its file system going and the same one coming back.
    void OnPlayerLoaded();
    // File > Eject Jukebit: unmounts the player and powers its drive off.
    void OnFileEject();
    EPlayerState PlayerState() const { return m_playerState; }
    QAction* EjectAction() const { return m_pEject; }
    QPushButton* ReadAgainButton() const { return m_pReadAgain; }

    CLyrafetchView* View() const { return m_pView; }
    CFilterBar* FilterBar() const { return m_pFilterBar; }
    QAction* CopyFilesAction() const { return m_pCopyFiles; }
    QAction* ShowLogAction() const { return m_pShowLog; }
    QAction* RefreshAction() const { return m_pRefresh; }
    CFormatBox* FormatBox() const { return m_pFormatBox; }
    // The File menu's choices of format, in the order of FormatProfiles().
    QList<QAction*> FormatActions() const;
    // What the status bar says of the folders the tree leaves out, and of a
    // folder that cannot be read.
    QString LeftOutText() const;
    QString UnreadableText() const;
    QString FreeSpaceText() const;
    QString MessageText() const;

protected:
    // Asks first when albums chosen to copy or delete have not been.
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void CreateReadPanes();
    void CreateFormatChoosers(QMenu& menu);
    void ShowFormat(const CFormatProfile& profile);
    // The panes and Copy Files after a load, a job or a change of the player.
    void UpdateReadState();
    void CreateFilterKeys();
    void UpdateFreeSpacePane();
    void ShowReady();
    void WatchPlayer();
    void SetPlayerState(EPlayerState state);
    // What tells the file system that holds the player folder now; empty when the folder cannot be reached.
    std::string PlayerIdentity() const;

    CLyrafetchDoc& m_doc;
    CLyrafetchView* m_pView = nullptr;
    CFilterBar* m_pFilterBar = nullptr;
    QAction* m_pCopyFiles = nullptr;
    QAction* m_pShowLog = nullptr;
    QAction* m_pEject = nullptr;
    QAction* m_pRefresh = nullptr;
    CFormatBox* m_pFormatBox = nullptr;
    QActionGroup* m_pFormatActions = nullptr;
    QLabel* m_pLeftOutPane = nullptr;
    QLabel* m_pUnreadablePane = nullptr;
    QLabel* m_pFreeSpacePane = nullptr;
    QPushButton* m_pReadAgain = nullptr;
    QTimer* m_pPlayerPoll = nullptr;
    std::string m_strPlayerIdentity; // of the file system the player was read from
    EPlayerState m_playerState = EPlayerState::Present;
    // The player's free space once the selection is carried out, as the
    // status bar shows it, beside the document's m_nFreeBytes of now.
    std::int64_t m_nProjectedFreeBytes = 0;
    std::uint64_t m_nTotalBytes = 0;
    CCopyProgress m_lastProgress;
};
