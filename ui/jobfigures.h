#pragma once

#include "engine/jobprogress.h"
#include "ui/remainingtime.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

#include <optional>

class Processor;

// What the bars and the information panel show of a running job, worked out from its phases,
// each read the same way: the phases that move the job's files (the copy, the read-back) fill
// the bars and the time left; the write-out, which the system does, is timed apart. Keeps what
// the time left learns as the job goes.
class JobFigures
{
    Q_DECLARE_TR_FUNCTIONS(JobFigures)

public:
    // One look at the job.
    struct Reading
    {
        PhaseKind phase = PhaseKind::Count;
        QList<PhaseProgress> phases;
        qint64 elapsedMs = 0;
        quint64 fileSize = 0;
        quint64 fileDone = 0;
    };
    static Reading read(const Processor &processor);

    struct Shown
    {
        // Of the whole job, 0 to 1, and of the file in hand, in percent.
        double done = 0;
        int filePercent = 0;
        // "12 files (3.40 MB)": the copy's work, and what of it is done.
        QString total;
        QString processed;
        QString elapsed;
        // "Unknown" until it can be told; never "0 seconds" while anything is left.
        QString remaining;
        std::optional<quint32> secondsLeft;
        QString speed;
    };
    Shown update(const Reading &reading);

    // The work of the phases that move the job's files, in files and bytes, done and in all.
    static RemainingTime::Sample work(const Reading &reading);

    // How a job that has ended ended, for the status line and for the desktop: what a read-back
    // proved is said, "verified" only when every file copied was read back whole.
    struct Outcome
    {
        QString summary; // "Operation complete" or "Operation cancelled"
        QString status;
        QString body; // "3 files copied, 0 failed"
    };
    static Outcome outcome(const Processor &processor);

private:
    std::optional<quint32> timeLeft(const Reading &reading, const RemainingTime::Sample &all);

    RemainingTime m_remaining;
};
