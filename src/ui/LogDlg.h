#pragma once

#include <QDialog>

class CCopyLog;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The whole log of the last job, one line per entry, with what the job came to
// below them, to read, save as a text file or copy to the clipboard.
class CLogDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CLogDlg(QWidget* parent = nullptr);

    int DoModal();
    QString LogText() const;
    QPushButton* EjectButton() const { return m_pEject; }
    // What the job came to; empty for a log without a finished job.
    QString SummaryText() const;
    QPushButton* SaveButton() const { return m_pSave; }
    // Asks for a file through the standard file dialog and saves the log there.
    void OnSave();
    // Writes the log as it is, lines ended by CR LF, as the whole file at
    // path; a failure is told in a message box.
    void SaveTo(const QString& path);
    // Puts the log on the clipboard, as it is shown.
    void OnCopy();

    const CCopyLog* m_pLog = nullptr;
    // At the end of a job: an Eject Jukebit button, which closes the dialog with m_bEjectRequested set.
    bool m_bOfferEject = false;
    bool m_bEjectRequested = false;

private:
    QPlainTextEdit* m_pText = nullptr;
    QPushButton* m_pEject = nullptr;
    QLabel* m_pSummary = nullptr;
    QPushButton* m_pSave = nullptr;
};
