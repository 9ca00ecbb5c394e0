#pragma once

#include "app/CopyProgress.h"
#include "app/Presentation.h"
#include "platform/MessageTarget.h"
#include "ui/CopyPlanModel.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

struct CCopyLogEntry;
class CLyrafetchDoc;
class CFormatBox;
struct CFormatProfile;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

// Shows how many albums the selection deletes and copies, which ones, between
// which folders, and the player's free space after the job; runs the copy job
// with its progress and newest log line, lets the user cancel it, and offers
// the log at the end. Before the job the user may change the player's format
// and whether changed albums replace the player's versions; the plan follows.
// Ends with Accepted once a job has run, Rejected when closed without one.
class CCopyFilesDlg : public QDialog, public IMessageTarget
{
    Q_OBJECT

public:
    explicit CCopyFilesDlg(QWidget* parent = nullptr);

    // Opens the dialog for m_pDoc and runs it until it ends.
    int DoModal();
    // Fills the dialog from m_pDoc; DoModal does it first.
    void OnInitDialog();
    // Called on the worker thread: queues the message for the dialog's thread.
    void PostMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    void accept() override; // OK or Enter
    void reject() override; // Cancel, Escape or the close box

    QString FoldersText() const;
    CFormatBox* FormatBox() const { return m_pFormatBox; }
    QCheckBox* ReplaceChangedBox() const { return m_pReplaceChanged; }
    QString ToDeleteText() const;
    QString ToCopyText() const;
    QString JobMessageText() const;
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }
    QTreeView* PlanView() const { return m_pPlanView; }
    QProgressBar* ProgressBar() const { return m_pProgressBar; }
    QString ProgressText() const;
    // The player's free space after the job.
    QString FreeSpaceText() const;

    CLyrafetchDoc* m_pDoc = nullptr;
    CCopyProgressSink* m_pProgressSink = nullptr;
    // The size the dialog had when it was closed last, to open at again; none the first time.
    QSize m_lastSize;
    bool m_bCancelRequested = false;
    // The user asked, in the log shown at the end of the job, to eject the player.
    bool m_bEjectRequested = false;
    CCopyProgress m_progress;

signals:
    // The user chose a format for the player, or to keep (or replace) the
    // player's versions of every changed album: the receiver applies it to
    // the document before the dialog plans the job anew.
    void formatChosen(const CFormatProfile& profile);
    void keepAllChosen(bool bKeep);

protected:
    void customEvent(QEvent* event) override;

private:
    void OnCopyNotify(std::uintptr_t wParam, std::intptr_t lParam);
    void UpdateCounts(bool bWithTotals);
    void ShowCounts();
    void ShowLogEntry(const CCopyLogEntry& entry);
    void OnJobDone();
    void ReportProgress();
    // The counts, the plan and the free space after the job, from the selection as it is now.
    void Replan();
    void ShowPlan();
    void ShowReplaceChanged();
    // Returns the width the album column needs for its widest path.
    int FitPlanColumns();
    // Opens large enough for the plan without scrolling, within two thirds
    // of the screen; at the size the user last gave it when there is one.
    void FitToPlan(int albumWidth);
    // The bar, its text and the marks of the list, from the job's counters.
    void ShowJobProgress(EAlbumTurn firstTurn);

    QLabel* m_pFolders = nullptr;
    QLabel* m_pToDelete = nullptr;
    QLabel* m_pToCopy = nullptr;
    CFormatBox* m_pFormatBox = nullptr;
    QCheckBox* m_pReplaceChanged = nullptr;
    QLabel* m_pJobMessage = nullptr;
    QProgressBar* m_pProgressBar = nullptr;
    QLabel* m_pProgressText = nullptr;
    QTreeView* m_pPlanView = nullptr;
    QLabel* m_pFreeSpace = nullptr;
    QPushButton* m_pOk = nullptr;
    QPushButton* m_pCancel = nullptr;

    CCopyPlanModel m_planModel;
    CPlanRowDelegate m_planDelegate;
    // A few times a second while the job runs: the counters the worker keeps.
    QTimer m_progressTimer;
    QElapsedTimer m_jobClock;
    CTransferMeter m_meter;
    int m_nTurnRow = -1;
    QSize m_preferredSize; // the opening size of a short plan
};
