#pragma once

#include <QGuiApplication>

// The application's wait pointer, overridden once at most whatever the number of calls: a camera
// start shows it again after its callbacks are in place, and every way out restores the default
// pointer once.
class BusyCursor
{
public:
    void set(bool busy)
    {
        if (busy == m_busy)
            return;
        m_busy = busy;
        if (busy)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    }

private:
    bool m_busy = false;
};
