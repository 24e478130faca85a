#include "ui/remainingtime.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Recent work counts more: an interval's weight halves with every HalfLifeMs of job time.
constexpr double HalfLifeMs = 3000;
// An interval that copied more than this per file measures the cost of bytes, one that copied
// less the cost of files.
constexpr double LargeFileBytes = 256 * 1024;

// Until a job has shown a kind of work, its cost is assumed, near what copying takes on a local
// disk: a file costs 0.3 ms, or the time of 16 KiB of data where data is slow; data goes at
// 250 MiB/s, or slower where files are slow, at a file's cost for 256 KiB. The assumption
// weighs as much as PriorMs of measured job time, so that the first moments of a new kind do
// not decide alone.
constexpr double FileMs = 0.3;
constexpr double FileAsBytes = 16 * 1024;
constexpr double ByteMs = 1000.0 / (250 * 1024 * 1024);
constexpr double BytesAsFile = 256 * 1024;
constexpr double PriorMs = 2000;

double assumedPerFile(double perByte)
{
    return std::max(FileMs, perByte * FileAsBytes);
}

double assumedPerByte(double perFile)
{
    return std::max(ByteMs, perFile / BytesAsFile);
}

} // namespace

std::optional<quint32> RemainingTime::update(const Sample &sample)
{
    addInterval(sample);
    // A file that grew after it was counted takes the done count past the total.
    if (sample.bytesDone >= sample.bytesTotal && sample.filesDone >= sample.filesTotal) {
        if (sample.filesTotal == 0 && sample.bytesTotal == 0)
            return std::nullopt; // nothing to do, or still counting
        return 0;
    }
    return wholeSeconds(copyMsLeft(sample));
}

std::optional<quint32> RemainingTime::wholeSeconds(std::optional<double> ms)
{
    if (!ms)
        return std::nullopt;
    const double seconds = std::max(1.0, std::ceil(*ms / 1000));
    if (!std::isfinite(seconds) || seconds > double(std::numeric_limits<quint32>::max()))
        return std::nullopt;
    return quint32(seconds);
}

void RemainingTime::addInterval(const Sample &sample)
{
    const double ms = double(sample.elapsedMs - m_previous.elapsedMs);
    // A sample taken during a pause adds no time.
    if (ms <= 0)
        return;
    const Sample previous = std::exchange(m_previous, sample);
    // The counting pass copies nothing and says nothing about costs.
    if (sample.filesDone == 0 && sample.bytesDone == 0)
        return;
    const double files = double(sample.filesDone) - double(previous.filesDone);
    const double bytes = double(sample.bytesDone) - double(previous.bytesDone);
    // An interval without progress is a stall of whatever was being copied.
    if (files > 0 || bytes > 0)
        m_lastWasSmall = bytes <= LargeFileBytes * files;
    const double fade = std::exp2(-ms / HalfLifeMs);
    for (Work *work : {&m_largeFiles, &m_smallFiles})
        *work = {work->ms * fade, work->files * fade, work->bytes * fade};
    Work &work = m_lastWasSmall ? m_smallFiles : m_largeFiles;
    work.ms += ms;
    work.files += std::max(files, 0.0);
    work.bytes += std::max(bytes, 0.0);
}

std::optional<double> RemainingTime::copyMsLeft(const Sample &sample) const
{
    const Work &large = m_largeFiles;
    const Work &small = m_smallFiles;
    if (large.ms <= 0 && small.ms <= 0)
        return std::nullopt;
    double perByte = large.bytes > 0 ? large.ms / large.bytes : -1;
    double perFile = small.files > 0 ? small.ms / small.files : -1;
    if (perByte < 0)
        perByte = assumedPerByte(perFile);
    if (perFile < 0)
        perFile = assumedPerFile(perByte);
    // Each cost from the intervals of its own kind, less what the other kind took in them,
    // tempered by the assumption.
    for (int round = 0; round < 4; ++round) {
        const double byteAssumed = assumedPerByte(perFile);
        const double fileAssumed = assumedPerFile(perByte);
        const double byteMeasured =
            large.bytes > 0 ? std::max(0.0, large.ms - perFile * large.files) / large.bytes
                            : byteAssumed;
        const double fileMeasured =
            small.files > 0 ? std::max(0.0, small.ms - perByte * small.bytes) / small.files
                            : fileAssumed;
        perByte = (large.ms * byteMeasured + PriorMs * byteAssumed) / (large.ms + PriorMs);
        perFile = (small.ms * fileMeasured + PriorMs * fileAssumed) / (small.ms + PriorMs);
    }
    const double bytesLeft =
        double(sample.bytesTotal - std::min(sample.bytesDone, sample.bytesTotal));
    const double filesLeft =
        double(sample.filesTotal - std::min(sample.filesDone, sample.filesTotal));
    return perByte * bytesLeft + perFile * filesLeft;
}

std::optional<quint32>
RemainingTime::updateWriteOut(qint64 elapsedMs, const PhaseProgress &writeOut, const Sample &after)
{
    if (writeOut.bytesTotal == 0 && writeOut.bytesDone == 0)
        return std::nullopt;
    if (!m_writeOutStart) {
        m_writeOutStart = {elapsedMs, writeOut.bytesDone};
        return std::nullopt; // its pace is not known yet
    }
    const double ms = double(elapsedMs - m_writeOutStart->first);
    const double written = double(writeOut.bytesDone) - double(m_writeOutStart->second);
    if (ms <= 0 || written <= 0)
        return std::nullopt;
    const double pending =
        double(writeOut.bytesTotal - std::min(writeOut.bytesDone, writeOut.bytesTotal));
    const double rest = after.bytesDone < after.bytesTotal ? copyMsLeft(after).value_or(0) : 0;
    return wholeSeconds(pending / (written / ms) + rest);
}
