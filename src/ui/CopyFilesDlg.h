#pragma once

#include "app/CopyProgress.h"
#include "platform/MessageTarget.h"

#include <QDialog>

struct CCopyLogEntry;
class CLyrafetchDoc;
class QLabel;
class QPushButton;

// Shows how many albums the selection deletes and copies, runs the copy job
// with its progress and newest log line, lets the user cancel it, and offers
// the log at the end. Ends with Accepted once a job has run, Rejected when
// closed without one.
class CCopyFilesDlg : public QDialog, public IMessageTarget
{
    Q_OBJECT

public:
    explicit CCopyFilesDlg(QWidget* parent = nullptr);

    // Opens the dialog for m_pDoc and runs it until it ends.
    int DoModal();
    // Called on the worker thread: queues the message for the dialog's thread.
    void PostMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    void accept() override; // OK or Enter
    void reject() override; // Cancel, Escape or the close box

    QString FoldersText() const;
    QString ToDeleteText() const;
    QString ToCopyText() const;
    QString JobMessageText() const;
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

    CLyrafetchDoc* m_pDoc = nullptr;
    CCopyProgressSink* m_pProgressSink = nullptr;
    bool m_bCancelRequested = false;
    CCopyProgress m_progress;

protected:
    void customEvent(QEvent* event) override;

private:
    void OnInitDialog();
    void OnCopyNotify(std::uintptr_t wParam, std::intptr_t lParam);
    void UpdateCounts(bool bWithTotals);
    void ShowCounts();
    void ShowLogEntry(const CCopyLogEntry& entry);
    void OnJobDone();
    void ReportProgress();

    QLabel* m_pFolders = nullptr;
    QLabel* m_pToDelete = nullptr;
    QLabel* m_pToCopy = nullptr;
    QLabel* m_pJobMessage = nullptr;
    QPushButton* m_pOk = nullptr;
    QPushButton* m_pCancel = nullptr;
};
