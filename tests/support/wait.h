#pragma once

#include <QDeadlineTimer>
#include <QThread>

// Waits for another thread without running the event loop, so nothing queued meanwhile (a
// finished job, a tick) is delivered. For what the event loop does, QTRY_* or QSignalSpy::wait.
template <typename Condition> bool spinUntil(Condition condition, int timeoutMs = 20000)
{
    for (const QDeadlineTimer deadline(timeoutMs); !condition(); QThread::yieldCurrentThread()) {
        if (deadline.hasExpired())
            return false;
    }
    return true;
}
