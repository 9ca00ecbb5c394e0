#pragma once

#include <QApplication>

// Shows the wait cursor for as long as it lives.
class CWaitCursor
{
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// Shows the normal cursor for as long as it lives, when a wait cursor is up:
// a window that waits for the user must not look busy.
class CNormalCursor
{
public:
    CNormalCursor() : m_bOverride(QApplication::overrideCursor() != nullptr)
    {
        if (m_bOverride) {
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        }
    }
    ~CNormalCursor()
    {
        if (m_bOverride) {
            QApplication::restoreOverrideCursor();
        }
    }
    CNormalCursor(const CNormalCursor&) = delete;
    CNormalCursor& operator=(const CNormalCursor&) = delete;

private:
    bool m_bOverride;
};
