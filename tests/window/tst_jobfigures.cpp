// The time left and the bars, worked out from a job's phases: against real jobs recorded on the
// development machine (bench/histories), and at their edges.

#include "engine/nativefs.h"
#include "ui/jobfigures.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

// One tick of a recorded job as the phases report it: the copy's counts and, once the job
// writes out, what the system wrote since then out of that and what it still has to write,
// less what was waiting before the job began.
JobFigures::Reading tickOf(const QList<qint64> &t, const QList<qint64> &before,
                           std::optional<qint64> *writtenAtFlush)
{
    const bool flushing = t[5] != 0;
    if (flushing && !*writtenAtFlush)
        *writtenAtFlush = t[7];
    PhaseProgress writeOut{PhaseKind::WriteOut};
    if (flushing) {
        writeOut.bytesDone = quint64(t[7] - **writtenAtFlush) << 10;
        writeOut.bytesTotal =
            writeOut.bytesDone + (quint64(qMax<qint64>(t[6] - before[6], 0)) << 10);
    }
    return {
        flushing ? PhaseKind::WriteOut : PhaseKind::Copy,
        {PhaseProgress{PhaseKind::Count},
         PhaseProgress{PhaseKind::Copy, quint64(t[1]), quint64(t[2]), quint64(t[3]), quint64(t[4])},
         writeOut},
        t[0]};
}

} // namespace

class TestJobFigures : public QObject
{
    Q_OBJECT

private slots:
    void timeLeftOnRecordedJobs_data()
    {
        QTest::addColumn<QString>("path");
        const QDir folder(QFINDTESTDATA("histories"));
        for (const QString &name : folder.entryList({"*.txt"}))
            QTest::newRow(qPrintable(name.chopped(4))) << folder.filePath(name);
    }

    // Every estimate of a real job against the time it truly had left.
    void timeLeftOnRecordedJobs()
    {
        QFETCH(QString, path);
        // A job recorded by bench/histories, one line a tick: ms, files done and total, bytes
        // done and total, flushing, KiB waiting to be written and KiB written since the start;
        // then the job's running time at its end.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QList<QList<qint64>> ticks;
        qint64 endMs = -1;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            endMs = fields.first() == "end" ? fields.value(1).toLongLong() : endMs;
            QList<qint64> tick;
            for (const QByteArray &field : fields)
                tick.append(field.toLongLong());
            if (fields.size() == 8 && !line.startsWith('#'))
                ticks.append(tick);
        }
        QVERIFY2(endMs > 0 && ticks.size() > 5, qPrintable(path));
        // The first line is the moment before the job: what the system had to write then.
        const QList<qint64> before = ticks.takeFirst();
        JobFigures figures;
        std::optional<qint64> writtenAtFlush;
        bool flushSeen = false;
        QByteArray worst = "none";
        double worstError = 1;
        for (const QList<qint64> &t : std::as_const(ticks)) {
            const bool flushing = t[5] != 0;
            const std::optional<quint32> seconds =
                figures.update(tickOf(t, before, &writtenAtFlush)).secondsLeft;
            const double truth = double(endMs - t[0]) / 1000;
            const QByteArray seen = QByteArray::number(t[0]) + " ms in: estimated " +
                                    QByteArray::number(seconds.value_or(-1)) + " s, truly " +
                                    QByteArray::number(truth) + " s";
            // Unknown only before anything is done, and when the write-out is first seen.
            const bool firstFlush = flushing && !std::exchange(flushSeen, true);
            if (!seconds) {
                QVERIFY2((t[1] == 0 && t[3] == 0) || firstFlush, seen);
                continue;
            }
            QVERIFY2(*seconds > 0 || (!flushing && t[1] >= t[2] && t[3] >= t[4]), seen);
            // Shown in whole seconds: one either way is the display's.
            const double error = std::max(*seconds / truth, truth / *seconds);
            QVERIFY2(t[0] < 2000 || std::abs(*seconds - truth) <= 1 || error <= 5, seen);
            if (t[0] >= endMs / 5) {
                QVERIFY2(std::abs(*seconds - truth) <= 3 || error <= 2, seen);
                if (std::abs(*seconds - truth) > 1 && error > worstError)
                    std::tie(worstError, worst) = std::pair(error, seen);
            }
        }
        qInfo("worst after a fifth of the job: %s (x%.2f)", worst.constData(), worstError);
    }

    void timeLeftEdges()
    {
        const auto once = [](RemainingTime::Sample s) { return RemainingTime().update(s); };
        QVERIFY2(!once({3000, 0, 40, 0, 1 << 20}), "nothing done yet: no estimate");
        QCOMPARE(once({250, 0, 1, 1999000, 2000000}), 1u); // a quarter second in: never 0 seconds
        // A file that grew after it was counted: bytes past the total, files still to come.
        QVERIFY(once({4000, 2, 4, 5000, 4000}).value_or(0) > 0);
        // A pause: the job's clock stands still, and samples taken meanwhile change nothing.
        const auto at = [](qint64 ms) {
            return RemainingTime::Sample{ms, quint64(ms / 100), 100, quint64(ms) << 10, 100 << 20};
        };
        RemainingTime paused, straight;
        for (const qint64 ms : {1000, 2000, 2000, 2000, 3000})
            paused.update(at(ms));
        for (const qint64 ms : {1000, 2000, 3000})
            straight.update(at(ms));
        QCOMPARE(paused.update(at(4000)), straight.update(at(4000)));

        // The write-out (the recorded jobs show it measured): where the system says nothing of
        // what it still has to write, its time is unknown.
        RemainingTime writing;
        QVERIFY(!writing.updateWriteOut(5000, {PhaseKind::WriteOut}, at(5000)));
        QVERIFY(!writing.updateWriteOut(5500, {PhaseKind::WriteOut}, at(5000)));
        // Only Linux publishes it, although Wine lets a Windows program read Linux's /proc.
        QCOMPARE(NativeFs::writeBacklog().has_value(), QSysInfo::kernelType() == "linux");
    }

    // The bar and the time left take in the read-back, planned as all of the copy until the
    // copy is done; the count and the write-out move no bytes of their own.
    void barsOverThePhases()
    {
        const auto reading = [](PhaseKind phase, quint64 copied, quint64 verified,
                                quint64 toVerify) {
            return JobFigures::Reading{phase,
                                       {PhaseProgress{PhaseKind::Count},
                                        PhaseProgress{PhaseKind::Copy, 4, 4, copied, 4000},
                                        PhaseProgress{PhaseKind::WriteOut, 0, 0, 900, 1000},
                                        PhaseProgress{PhaseKind::Verify, 0, 4, verified, toVerify}},
                                       1000,
                                       4000,
                                       1000};
        };
        JobFigures figures;
        QCOMPARE(figures.update(reading(PhaseKind::Copy, 2000, 0, 4000)).done, 0.25);
        QCOMPARE(figures.update(reading(PhaseKind::WriteOut, 4000, 0, 4000)).done, 0.5);
        QCOMPARE(figures.update(reading(PhaseKind::Verify, 4000, 1000, 2000)).done, 5000.0 / 6000);
        const JobFigures::Shown shown =
            figures.update(reading(PhaseKind::Verify, 4000, 2000, 2000));
        QCOMPARE(shown.done, 1.0);
        QCOMPARE(shown.filePercent, 25);
        QCOMPARE(shown.total, "4 files (3.91 KB)");
        QCOMPARE(shown.speed, "3.91 KB/sec");
    }
};

QTEST_APPLESS_MAIN(TestJobFigures)
#include "tst_jobfigures.moc"
