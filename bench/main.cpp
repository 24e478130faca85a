// Runs one copy job the way the main window does: one Processor on its own thread, its
// counters read on a 500 ms timer, the outcome read once finished() arrives. Prints a single
// "result key=value ..." line for bench/run and bench/syscalls to parse.

#include "engine/nativefs.h"
#include "engine/processor.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <optional>

namespace {

struct Outcome
{
    double elapsedSeconds = 0;
    // Start to the first sign of the copy phase; empty when the job ended before showing one.
    std::optional<double> scanSeconds;
    // With verification, start to the read-back: the copy with its digests and the flush.
    std::optional<double> copySeconds;
    quint32 filesVerified = 0;
    quint32 filesTotal = 0;
    quint32 filesDone = 0;
    quint64 bytesTotal = 0;
    quint64 bytesDone = 0;
    int failures = 0;
    bool cancelled = false;
};

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // KiB on Linux
}

std::optional<OverwriteMode> parseMode(const QString &text)
{
    if (text == QLatin1String("all"))
        return OverwriteAll;
    if (text == QLatin1String("none"))
        return OverwriteNone;
    if (text == QLatin1String("older"))
        return OverwriteOlder;
    if (text == QLatin1String("smaller"))
        return OverwriteSmaller;
    return std::nullopt;
}

// The copy phase sets the current file before its first byte moves, and the scan sets none
// of these; so the first poll that sees one of them change marks the end of the counting pass.
bool copyPhaseStarted(const Processor &processor)
{
    return processor.currentFileSize() != 0 || processor.filesDone() != 0 ||
           processor.bytesDone() != 0;
}

void readTotals(const Processor &processor, Outcome &outcome)
{
    outcome.filesTotal = processor.filesTotal();
    outcome.filesDone = processor.filesDone();
    outcome.bytesTotal = processor.bytesTotal();
    outcome.bytesDone = processor.bytesDone();
    outcome.failures = processor.failureCount();
    outcome.cancelled = processor.isCancelled();
}

// What the window's 500 ms tick reads. The values are only shown, never used; the point is to
// pay what the window pays while the worker runs.
void tick(const Processor &processor, bool verbose)
{
    const QString current = processor.currentFile();
    const quint32 filesDone = processor.filesDone();
    const quint32 filesTotal = processor.filesTotal();
    const quint64 bytesDone = processor.bytesDone();
    const quint64 bytesTotal = processor.bytesTotal();
    const quint64 fileDone = processor.currentFileDone();
    const quint64 fileSize = processor.currentFileSize();
    const quint32 seconds = processor.elapsedSeconds();
    const int failures = processor.failureCount();
    if (verbose)
        std::fprintf(stderr, "tick %us files %u/%u bytes %llu/%llu file %llu/%llu %s failures %d\n",
                     seconds, filesDone, filesTotal, static_cast<unsigned long long>(bytesDone),
                     static_cast<unsigned long long>(bytesTotal),
                     static_cast<unsigned long long>(fileDone),
                     static_cast<unsigned long long>(fileSize), qPrintable(current), failures);
}

// The counters the window's time-left estimate reads, one line a tick, and the job's running
// time at its end: a real job's history, for replaying through the estimate.
class History
{
public:
    bool open(const QString &path)
    {
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return false;
        const auto backlog = NativeFs::writeBacklog();
        m_writtenAtStart = backlog ? backlog->writtenBytes : 0;
        m_file.write("# ms files_done files_total bytes_done bytes_total flushing pending_kib "
                     "written_kib\n");
        return true;
    }

    void tick(const Processor &processor)
    {
        if (!m_file.isOpen())
            return;
        const auto backlog = NativeFs::writeBacklog();
        const quint64 written = backlog ? backlog->writtenBytes - m_writtenAtStart : 0;
        m_file.write(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                         .arg(processor.elapsedMilliseconds())
                         .arg(processor.filesDone())
                         .arg(processor.filesTotal())
                         .arg(processor.bytesDone())
                         .arg(processor.bytesTotal())
                         .arg(processor.phase() == PhaseKind::WriteOut ? 1 : 0)
                         .arg(backlog ? backlog->pendingBytes / 1024 : 0)
                         .arg(written / 1024)
                         .toLatin1());
    }

    void end(const Processor &processor)
    {
        if (m_file.isOpen())
            m_file.write("end " + QByteArray::number(processor.elapsedMilliseconds()) + '\n');
    }

private:
    QFile m_file;
    quint64 m_writtenAtStart = 0;
};

Outcome runLikeTheWindow(QCoreApplication &app, Processor &processor, bool verbose,
                         History &history, bool verifying)
{
    QTimer timer;
    timer.setInterval(500);
    QObject::connect(&timer, &QTimer::timeout, &app, [&] {
        tick(processor, verbose);
        history.tick(processor);
    });
    QObject::connect(&processor, &QThread::finished, &app, [&] {
        timer.stop();
        app.quit();
    });

    QElapsedTimer clock;
    Outcome outcome;
    // A fine watch for the read-back's start, so that the copy and the read-back are timed apart.
    QTimer phaseWatch;
    phaseWatch.setInterval(1);
    QObject::connect(&phaseWatch, &QTimer::timeout, &app, [&] {
        if (processor.phase() == PhaseKind::Verify) {
            outcome.copySeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
            phaseWatch.stop();
        }
    });
    clock.start();
    history.tick(processor); // what was waiting to be written before the job
    processor.start();
    timer.start();
    if (verifying)
        phaseWatch.start();
    app.exec();
    processor.wait();
    history.end(processor);

    outcome.elapsedSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    outcome.filesVerified = quint32(processor.progress(PhaseKind::Verify).filesSucceeded);
    readTotals(processor, outcome);
    return outcome;
}

// Polls every 100 us until the copy phase shows itself, then cancels the job. The poll
// resolution and the folders the copy phase creates before its first file make this an upper
// bound on the counting pass, off by well under a millisecond.
Outcome timeCountingPass(Processor &processor)
{
    QElapsedTimer clock;
    clock.start();
    processor.start();
    Outcome outcome;
    while (!processor.isFinished()) {
        if (copyPhaseStarted(processor)) {
            outcome.scanSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
            break;
        }
        QThread::usleep(100);
    }
    processor.cancel();
    processor.wait();
    outcome.elapsedSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    readTotals(processor, outcome);
    return outcome;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trasko_bench"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Copies SOURCE into TARGET with the Trasko engine and prints one result "
                       "line: elapsed wall time, counters, failures and peak resident memory."));
    parser.addHelpOption();
    const QCommandLineOption modeOption(
        QStringLiteral("mode"),
        QStringLiteral("Overwrite mode: all (default), none, older, smaller."),
        QStringLiteral("mode"), QStringLiteral("all"));
    const QCommandLineOption flatOption(QStringLiteral("no-subfolders"),
                                        QStringLiteral("Leave sub-folders out."));
    const QCommandLineOption hiddenOption(QStringLiteral("hidden"),
                                          QStringLiteral("Include hidden files and folders."));
    const QCommandLineOption scanOption(
        QStringLiteral("scan-only"),
        QStringLiteral("Time the counting pass alone: cancel the job as soon as copying begins."));
    const QCommandLineOption failuresOption(QStringLiteral("list-failures"),
                                            QStringLiteral("Print every failed file to stderr."));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Print the counters on every tick."));
    const QCommandLineOption historyOption(
        QStringLiteral("history"),
        QStringLiteral("Write the counters of every tick, and the job's running time, to FILE."),
        QStringLiteral("file"));
    const QCommandLineOption verifyOption(
        QStringLiteral("verify"),
        QStringLiteral("Read every copy back from the device after the flush and compare it."));
    parser.addOptions({modeOption, flatOption, hiddenOption, scanOption, failuresOption,
                       verboseOption, historyOption, verifyOption});
    parser.addPositionalArgument(QStringLiteral("source"), QStringLiteral("Folder to copy."));
    parser.addPositionalArgument(QStringLiteral("target"), QStringLiteral("Folder to copy into."));
    parser.process(app);

    const QStringList folders = parser.positionalArguments();
    const std::optional<OverwriteMode> mode = parseMode(parser.value(modeOption));
    if (folders.size() != 2 || !mode) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }

    History history;
    if (parser.isSet(historyOption) && !history.open(parser.value(historyOption))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(parser.value(historyOption)));
        return 2;
    }

    Processor processor(folders.at(0), folders.at(1), *mode, !parser.isSet(flatOption),
                        parser.isSet(hiddenOption));
    const bool scanOnly = parser.isSet(scanOption);
    const bool verifying = parser.isSet(verifyOption);
    if (verifying)
        processor.setVerification(Processor::Verification::ReadBack);
    const Outcome outcome = scanOnly ? timeCountingPass(processor)
                                     : runLikeTheWindow(app, processor, parser.isSet(verboseOption),
                                                        history, verifying);

    if (parser.isSet(failuresOption)) {
        for (const CopyError &error : processor.failures())
            std::fprintf(stderr, "failed: %s: %s\n", qPrintable(error.file()),
                         qPrintable(error.message()));
    }

    std::printf(
        "result elapsed_s=%.6f scan_s=%s copy_s=%s files_total=%u files_done=%u bytes_total=%llu "
        "bytes_done=%llu files_verified=%u failures=%d cancelled=%d peak_rss_kib=%ld\n",
        outcome.elapsedSeconds,
        outcome.scanSeconds ? qPrintable(QString::number(*outcome.scanSeconds, 'f', 6)) : "-",
        outcome.copySeconds ? qPrintable(QString::number(*outcome.copySeconds, 'f', 6)) : "-",
        outcome.filesTotal, outcome.filesDone, static_cast<unsigned long long>(outcome.bytesTotal),
        static_cast<unsigned long long>(outcome.bytesDone), outcome.filesVerified, outcome.failures,
        outcome.cancelled ? 1 : 0, peakRssKiB());

    if (scanOnly)
        return 0;
    return outcome.failures == 0 && !outcome.cancelled ? 0 : 1;
}
