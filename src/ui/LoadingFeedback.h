#pragma once

#include "model/FolderNode.h"

#include <QElapsedTimer>

#include <memory>

class CLyrafetchDoc;
class QLabel;
class QWidget;

// For as long as it lives, the document's loads report to it: once a load has
// taken longer than delayMs, a small window says that the folders are being
// read and how many folders and files so far, a few times a second, and every
// window of the program keeps painting meanwhile (input waits until the end).
class CLoadingFeedback final : public IScanProgress
{
public:
    CLoadingFeedback(CLyrafetchDoc& doc, QWidget* parent, int delayMs = 500);
    CLoadingFeedback(const CLoadingFeedback&) = delete;
    CLoadingFeedback& operator=(const CLoadingFeedback&) = delete;
    ~CLoadingFeedback();

    void OnScanProgress(std::uint64_t folders, std::uint64_t files) override;

    // The window, once it has been shown.
    QWidget* Window() const { return m_pWindow.get(); }
    QString Text() const;

private:
    CLyrafetchDoc& m_doc;
    QWidget* m_pParent;
    int m_delayMs;
    QElapsedTimer m_sinceStart;
    qint64 m_lastUpdateMs = 0;
    std::unique_ptr<QWidget> m_pWindow;
    QLabel* m_pText = nullptr;
};
