#pragma once

#include <QtGlobal>

#include <memory>

class QDBusPendingCallWatcher;
class QDBusUnixFileDescriptor;

// Keeps the system from sleeping while held: on Linux through logind's inhibitor lock on the
// system bus, on Windows through the thread's execution state. Where there is no system bus, or
// logind refuses, nothing is held and nothing is said: a job never waits on it.
class SleepInhibitor
{
public:
    SleepInhibitor();
    SleepInhibitor(const SleepInhibitor &) = delete;
    SleepInhibitor &operator=(const SleepInhibitor &) = delete;
    ~SleepInhibitor();

    // Repeats of either do nothing.
    void hold();
    void release();

private:
    bool m_wanted = false;
#ifndef Q_OS_WIN
    void lockArrived();

    // logind's answer is not waited for; while it is on its way, a second request is not sent.
    QDBusPendingCallWatcher *m_request = nullptr;
    // The lock is held as long as this descriptor is open.
    std::unique_ptr<QDBusUnixFileDescriptor> m_lock;
#endif
};
