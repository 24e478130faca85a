#pragma once

#include <QtGlobal>

#include <optional>

// How long a job still needs, from what it has done so far. Copying costs time per byte and per
// file (opening, creating, renaming); both costs are fitted to every counter sample of the job,
// so that a tail of small files after a few big ones, or big files after many small ones, is not
// judged by one of the two alone. It keeps no clock: it is fed the job's own running time, which
// leaves pauses out.
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

private:
    // Sums of the least-squares fit of time = perByte * bytesDone + perFile * filesDone.
    double m_bytesBytes = 0;
    double m_filesFiles = 0;
    double m_bytesFiles = 0;
    double m_bytesTime = 0;
    double m_filesTime = 0;
};
