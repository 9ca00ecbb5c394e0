#include "ui/LogDlg.h"

#include "transfer/CopyLog.h"
#include "ui/DialogFrame.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

CLogDlg::CLogDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Log");
    auto* layout = new QVBoxLayout(this);
    // Editable, as it always was; what the user types there is simply dropped.
    m_pText = new QPlainTextEdit(this);
    m_pText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_pText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_pText);
    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    SetFixedFrame(*this, 400, 250);
}

int CLogDlg::DoModal()
{
    // Lines end in CR LF in the log; the text box wants bare line feeds.
    m_pText->setPlainText(QString::fromStdString(m_pLog->GetText()).replace("\r\n", "\n"));
    return exec();
}

QString CLogDlg::LogText() const
{
    return m_pText->toPlainText();
}
