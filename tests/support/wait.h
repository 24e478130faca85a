#pragma once

#include <QDeadlineTimer>
#include <QThread>

// Waits for what another thread brings about, without running the event loop: nothing queued
// meanwhile (a finished job, a timer tick) is delivered. Conditions that the event loop itself
// brings about are waited for with QTRY_* or QSignalSpy::wait instead.
template <typename Condition> bool spinUntil(Condition condition, int timeoutMs = 20000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::yieldCurrentThread();
    }
    return true;
}
