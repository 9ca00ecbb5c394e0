#include "ui/LogDlg.h"

#include "app/Presentation.h"
#include "platform/FileSystem.h"
#include "platform/MessageBox.h"
#include "platform/SystemError.h"
#include "transfer/CopyLog.h"
#include "ui/DialogFrame.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Writes text as the whole file at path. Returns 0 or the error of the first call that failed.
int WriteTextFile(const std::u16string& path, const std::string& text)
{
    CFile file;
    if (const int error = file.Create(path)) {
        return error;
    }
    const int error = file.Write(text.data(), text.size());
    const int closeError = file.Close();
    return error != 0 ? error : closeError;
}

} // namespace

CLogDlg::CLogDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Log");
    auto* layout = new QVBoxLayout(this);
    m_pText = new QPlainTextEdit(this);
    m_pText->setReadOnly(true);
    m_pText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_pText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_pText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_pText);
    m_pSummary = new QLabel(this);
    m_pSummary->setWordWrap(true);
    m_pSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_pSummary);

    auto* buttons = new QHBoxLayout;
    m_pSave = new QPushButton("&Save...", this);
    auto* copy = new QPushButton("&Copy", this);
    auto* ok = new QPushButton("OK", this);
    // Enter stays with OK whichever button was pressed last: a second Enter after Save must not ask again.
    m_pSave->setAutoDefault(false);
    copy->setAutoDefault(false);
    ok->setDefault(true);
    ok->setFocus();
    connect(m_pSave, &QPushButton::clicked, this, &CLogDlg::OnSave);
    connect(copy, &QPushButton::clicked, this, &CLogDlg::OnCopy);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    m_pEject = new QPushButton("&Eject Jukebit", this);
    m_pEject->setAutoDefault(false);
    connect(m_pEject, &QPushButton::clicked, this, [this] {
        m_bEjectRequested = true;
        accept();
    });
    buttons->addWidget(m_pSave);
    buttons->addWidget(copy);
    buttons->addWidget(m_pEject);
    buttons->addStretch();
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    SetResizableFrame(*this, 200, 120, 400, 250);
}

int CLogDlg::DoModal()
{
    // Lines end in CR LF in the log; the text box wants bare line feeds.
    m_pText->setPlainText(QString::fromStdString(m_pLog->GetText()).replace("\r\n", "\n"));
    m_pEject->setVisible(m_bOfferEject);
    m_pSummary->setText(m_pLog->m_summary ? QString::fromStdString(FormatJobSummary(*m_pLog->m_summary)) : QString());
    m_pSummary->setVisible(m_pLog->m_summary.has_value());
    return exec();
}

QString CLogDlg::LogText() const
{
    return m_pText->toPlainText();
}

QString CLogDlg::SummaryText() const
{
    return m_pSummary->text();
}

void CLogDlg::OnSave()
{
    const QString path = QFileDialog::getSaveFileName(this, "Save Log", QDir::home().filePath("lyrafetch-log.txt"),
                                                      "Text files (*.txt);;All files (*)");
    if (!path.isEmpty()) {
        SaveTo(path);
    }
}

void CLogDlg::SaveTo(const QString& path)
{
    if (const int error = WriteTextFile(path.toStdU16String(), m_pLog->GetText())) {
        ShowMessageBox(FormatString("Saving the log :\nError : %S\nWhile writing : %S", SystemErrorText(error),
                                    path.toStdString()),
                       MB_OK | MB_ICONEXCLAMATION);
    }
}

void CLogDlg::OnCopy()
{
    QGuiApplication::clipboard()->setText(LogText());
}
