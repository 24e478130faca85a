#pragma once

#include <QProcess>
#include <QStringList>
#include <QVariant>

// Whether the window keeps the system from sleeping, and what it asked for. On Linux logind on a
// system bus of the suite's own (logind.py), which sees the lock's descriptor closed; on Windows
// the thread's execution state, read back through the call that sets it (0 changes nothing).
class SleepWatch
{
public:
    ~SleepWatch();

    bool start();
    bool held() const;
    // "what|who|why|mode" of each request; on Windows there are none to see.
    QStringList calls() const { return ask("Calls").toStringList(); }
    void refuse(bool refusing) const { ask("Refuse", refusing); }

private:
    QVariant ask(const char *method, const QVariant &argument = {}) const;

    QProcess m_logind;
};
