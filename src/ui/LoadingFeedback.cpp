#include "ui/LoadingFeedback.h"

#include "app/LyrafetchDoc.h"
#include "app/Presentation.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace {

// How often the window shows new counts.
constexpr qint64 UPDATE_INTERVAL_MS = 200;

} // namespace

CLoadingFeedback::CLoadingFeedback(CLyrafetchDoc& doc, QWidget* parent, int delayMs)
    : m_doc(doc), m_pParent(parent), m_delayMs(delayMs)
{
    m_doc.m_pScanProgress = this;
    m_sinceStart.start();
}

CLoadingFeedback::~CLoadingFeedback()
{
    m_doc.m_pScanProgress = nullptr;
}

void CLoadingFeedback::OnScanProgress(std::uint64_t folders, std::uint64_t files)
{
    const qint64 now = m_sinceStart.elapsed();
    if (now < m_delayMs || (m_pWindow && now - m_lastUpdateMs < UPDATE_INTERVAL_MS)) {
        return;
    }
    m_lastUpdateMs = now;
    if (!m_pWindow) {
        m_pWindow = std::make_unique<QWidget>(m_pParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        m_pWindow->setWindowTitle(APP_TITLE);
        m_pText = new QLabel(m_pWindow.get());
        m_pText->setMinimumWidth(m_pText->fontMetrics().averageCharWidth() * 40);
        (new QVBoxLayout(m_pWindow.get()))->addWidget(m_pText);
    }
    m_pText->setText(QString("Reading the music folders :\n%1 folders, %2 files").arg(folders).arg(files));
    if (!m_pWindow->isVisible()) {
        // Over the main window, or in the middle of the screen before there is one.
        const QRect area = m_pParent ? m_pParent->geometry() : m_pWindow->screen()->availableGeometry();
        m_pWindow->adjustSize();
        m_pWindow->move(area.center() - m_pWindow->rect().center());
    }
    m_pWindow->show();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QString CLoadingFeedback::Text() const
{
    return m_pText ? m_pText->text() : QString();
}
