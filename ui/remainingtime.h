#pragma once

#include "engine/jobprogress.h"

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
// The job's write-out waits for the system to write the copy out. It is estimated from what that
// phase still has to write and the pace at which the system writes, once that pace has been seen.
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

    // Takes the job's latest counters. Returns whole seconds, never 0 while anything is left to
    // do; nothing while no estimate can be made yet, or when the job has nothing to do.
    std::optional<quint32> update(const Sample &sample);
    // The same for the write-out, from its phase's progress, with what is left of the work after
    // it (verifying, say) at the pace learnt so far: never 0, and nothing where the system does not
    // say what it still has to write, or before the pace of writing has been seen.
    std::optional<quint32> updateWriteOut(qint64 elapsedMs, const PhaseProgress &writeOut,
                                          const Sample &after);

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
    // When the write-out was first seen: the job's time and what the system had written then.
    std::optional<std::pair<qint64, quint64>> m_writeOutStart;
};
