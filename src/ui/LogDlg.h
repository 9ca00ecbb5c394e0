#pragma once

#include <QDialog>

class CCopyLog;
class QPlainTextEdit;

// The whole log of the job that has just ended, one line per entry.
class CLogDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CLogDlg(QWidget* parent = nullptr);

    int DoModal();
    QString LogText() const;

    const CCopyLog* m_pLog = nullptr;

private:
    QPlainTextEdit* m_pText = nullptr;
};
