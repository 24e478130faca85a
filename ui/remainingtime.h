#pragma once

#include "ui/writebacklog.h"

#include <QtGlobal>

#include <optional>
#include <utility>

// How long a job still needs, from what it has done so far. Copying costs time per byte and per
// file (creating, renaming, closing). Each cost is measured where it dominates: the time per
// byte while large files are copied, the time per file while small ones are; recent work counts
// more than old. A kind of work the job has not shown yet is assumed to cost what it costs on a
// local disk, so that a tail of small files after large ones (or large files after small ones)
// is estimated at neither nothing nor the cost of the other kind.
//
// The job's last step waits for the system to write the copy out. It is estimated from the
// kernel's backlog and the pace at which the system writes, once that pace has been seen.
//
// It keeps no clock: it is fed the job's own running time, which leaves pauses out.
class RemainingTime
{
public:
    struct Sample
    {
        qint64 elapsedMs = 0;
        quint64 filesDone = 0;
        quint64 filesTotal = 0;
        quint64 bytesDone = 0;
        quint64 bytesTotal = 0;
    };

    // What the system had to write before the job began is taken to be someone else's.
    explicit RemainingTime(std::optional<WriteBacklog::Reading> atStart = std::nullopt);

    // Takes the job's latest counters. Returns whole seconds, never 0 while anything is left to
    // do; nothing while no estimate can be made yet, or when the job has nothing to do.
    std::optional<quint32> update(const Sample &sample);
    // The same during the job's last step, which waits until its data is on the device: never 0,
    // and nothing without the kernel's counters or before the pace of writing has been seen.
    std::optional<quint32> updateWriteOut(qint64 elapsedMs,
                                          const std::optional<WriteBacklog::Reading> &backlog);

private:
    // The time, files and bytes of the intervals in which one kind of work dominated.
    struct Work
    {
        double ms = 0;
        double files = 0;
        double bytes = 0;
    };
    void addInterval(const Sample &sample);
    std::optional<double> copyMsLeft(const Sample &sample) const;
    static std::optional<quint32> wholeSeconds(std::optional<double> ms);

    Work m_largeFiles;
    Work m_smallFiles;
    bool m_lastWasSmall = false;
    Sample m_previous;
    std::optional<WriteBacklog::Reading> m_atStart;
    // When the write-out was first seen: the job's time and what the system had written then.
    std::optional<std::pair<qint64, quint64>> m_writeOutStart;
};
