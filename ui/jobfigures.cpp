#include "ui/jobfigures.h"

#include "engine/processor.h"
#include "ui/formats.h"

#include <QCoreApplication>
#include <QLocale>

namespace {

PhaseProgress phaseOf(const JobFigures::Reading &reading, PhaseKind kind)
{
    for (const PhaseProgress &phase : reading.phases) {
        if (phase.kind == kind)
            return phase;
    }
    return {kind};
}

int percent(quint64 done, quint64 total)
{
    return total != 0 ? int(double(done) / double(total) * 100) : 0;
}

} // namespace

JobFigures::Reading JobFigures::read(const Processor &processor)
{
    return {processor.phase(), processor.progress(), processor.elapsedMilliseconds(),
            processor.currentFileSize(), processor.currentFileDone()};
}

RemainingTime::Sample JobFigures::work(const Reading &reading)
{
    RemainingTime::Sample work{reading.elapsedMs};
    for (const PhaseProgress &phase : reading.phases) {
        // A phase without files of its own (the count, the write-out) moves none of the bytes.
        if (phase.filesTotal == 0)
            continue;
        work.filesDone += phase.filesDone;
        work.filesTotal += phase.filesTotal;
        work.bytesDone += phase.bytesDone;
        work.bytesTotal += phase.bytesTotal;
    }
    return work;
}

JobFigures::Shown JobFigures::update(const Reading &reading)
{
    const PhaseProgress copy = phaseOf(reading, PhaseKind::Copy);
    const RemainingTime::Sample all = work(reading);
    Shown shown;
    shown.done = all.bytesTotal != 0 ? double(all.bytesDone) / double(all.bytesTotal) : 0;
    shown.filePercent = percent(reading.fileDone, reading.fileSize);
    const QString count = tr("%1 files (%2)");
    shown.total =
        count.arg(QString::number(copy.filesTotal), Formats::size(double(copy.bytesTotal)));
    shown.processed =
        count.arg(QString::number(copy.filesDone), Formats::size(double(copy.bytesDone)));
    shown.elapsed = Formats::duration(quint32(reading.elapsedMs / 1000));
    shown.secondsLeft = timeLeft(reading, all);
    shown.remaining = shown.secondsLeft ? Formats::duration(*shown.secondsLeft) : tr("Unknown");
    // To the millisecond: whole seconds read "0 Bytes/sec" for the first one and jump after. A
    // job that moved bytes within its first millisecond had one going.
    const qint64 ms = reading.elapsedMs;
    if (ms > 0 || copy.bytesDone > 0)
        shown.speed =
            Formats::size(double(copy.bytesDone) * 1000 / double(qMax<qint64>(ms, 1))) + tr("/sec");
    else
        shown.speed = tr("0 Bytes/sec");
    return shown;
}

std::optional<quint32> JobFigures::timeLeft(const Reading &reading,
                                            const RemainingTime::Sample &all)
{
    if (reading.phase == PhaseKind::WriteOut)
        return m_remaining.updateWriteOut(reading.elapsedMs, phaseOf(reading, PhaseKind::WriteOut),
                                          all);
    return m_remaining.update(all);
}

JobFigures::Outcome JobFigures::outcome(const Processor &processor)
{
    const PhaseProgress verify = processor.progress(PhaseKind::Verify);
    const quint64 copied = processor.progress(PhaseKind::Copy).filesSucceeded;
    const bool cancelled = processor.isCancelled();
    const bool verified = !cancelled && copied > 0 && verify.filesSucceeded == copied;
    Outcome outcome;
    outcome.summary = cancelled ? tr("Operation cancelled") : tr("Operation complete");
    outcome.status = outcome.summary;
    // Cancelled while reading back: every copy stays, verified or not; say how many were.
    if (cancelled && processor.phase() == PhaseKind::Verify && verify.filesTotal > 0)
        outcome.status = tr("Operation cancelled: %1 of %2 copies verified")
                             .arg(verify.filesSucceeded)
                             .arg(verify.filesTotal);
    else if (verified)
        outcome.status = copied == 1 ? tr("Operation complete: 1 copy verified")
                                     : tr("Operation complete: %1 copies verified").arg(copied);
    const QLocale english(QLocale::English);
    outcome.body =
        (verified ? tr("%1 %2 copied and verified, %3 failed") : tr("%1 %2 copied, %3 failed"))
            .arg(english.toString(copied), copied == 1 ? tr("file") : tr("files"),
                 english.toString(processor.failureCount()));
    return outcome;
}
