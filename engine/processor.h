#pragma once

#include "engine/copyerror.h"
#include "engine/copyoptions.h"
#include "engine/filesinhand.h"
#include "engine/jobprogress.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class Job;
class JobPhase;

// One copy job on a worker thread of its own: a list of phases (the count, the copy, the wait
// until the data is on the device and, with verification, the read-back), run in turn. The GUI
// thread polls the accessors; the worker never signals progress. Runs once.
//
// Byte amounts are 64-bit so that files and jobs over 4 GiB are measured correctly.
class Processor : public QThread
{
    Q_OBJECT

public:
    using Verification = CopyOptions::Verification;
    using Dates = CopyOptions::Dates;

    Processor(const QString &source, const QString &target, OverwriteMode mode,
              bool includeSubFolders, bool includeHidden);
    Processor(const QString &source, const QString &target, const CopyOptions &options);
    // Cancels a job still running, releases a pause still held and waits for the thread.
    ~Processor() override;

    // GUI thread. pause() and resume() alternate; resume() without a pause in force does nothing.
    void pause();
    void resume();
    void cancel();

    bool isCancelled() const;
    // The copy's counts: the files and bytes the count found to copy, and how far the copy got.
    // filesDone() counts every transfer carried to its end, failed or not.
    quint32 filesTotal() const;
    quint32 filesDone() const;
    quint64 bytesTotal() const;
    quint64 bytesDone() const;
    // The file in hand, in whichever phase.
    QString currentFile() const;
    quint64 currentFileSize() const;
    quint64 currentFileDone() const;
    quint32 elapsedSeconds() const;
    // Running time with pauses left out, to the millisecond.
    qint64 elapsedMilliseconds() const;
    // The phase running, or the last one once the job has ended.
    PhaseKind phase() const;
    // Every phase of the job, in the order they run, read the same way.
    QList<PhaseProgress> progress() const;
    PhaseProgress progress(PhaseKind kind) const;
    int failureCount() const;
    // Complete only after the thread has finished.
    QList<CopyError> failures() const;

    // The files to write need more room than the destination has free: the job waits, as if
    // paused, until copyAnyway() or cancel(). Nothing is written before.
    struct RoomShort
    {
        quint64 needed = 0;
        quint64 free = 0;
    };
    std::optional<RoomShort> roomShort() const;
    void copyAnyway();

    // Before start(): copy exactly these source files instead of walking the source tree.
    void setRetryFiles(const QStringList &files);
    // The same for recorded failures: their exact native names are used.
    void setRetryFiles(const QList<CopyError> &failures);
    // Before start().
    void setVerification(Verification verification);
    void setDates(Dates dates);
    const CopyOptions &options() const { return m_options; }

    static constexpr qint64 CopyBufferSize = 16000;

protected:
    void run() override;

private:
    // The worker's side of the job, and its phases, read this job's state.
    friend class Job;

    void waitWhilePaused();
    void askForRoom(quint64 needed, quint64 free);
    void addFailure(const QByteArray &path, CopyErrorCode code, const QString &reason);
    JobPhase &phaseOf(PhaseKind kind) const;

    // Set by the GUI thread, read by the worker.
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_paused{false};
    // The pause gate: held by the GUI thread while paused; the worker only passes through it.
    QMutex m_pauseMutex;

    const QString m_source;
    const QString m_target;
    CopyOptions m_options;
    const QByteArray m_tempPrefix;
    bool m_retryMode = false;
    QList<QByteArray> m_retryFiles;

    // The job's phases in the order they run; each keeps its own progress.
    std::vector<std::unique_ptr<JobPhase>> m_phases;
    std::atomic<PhaseKind> m_phase{PhaseKind::Count};

    // Written by the worker only; read by the GUI at any time.
    FilesInHand m_filesInHand;
    std::atomic<int> m_failureCount{0};
    // Running time, in milliseconds on a steady clock (the start -1 until the job runs), taken
    // together under the lock. It stops while the job is paused or waits for an answer about
    // room; each stop is counted, so that one ending does not start the clock while the other
    // lasts.
    mutable std::mutex m_clockLock;
    qint64 m_runStartMs = -1;
    qint64 m_elapsedBankedMs = 0;
    int m_clockStops = 0;
    void stopClock();
    void startClock();
    // The question of room, while the job waits for its answer.
    mutable std::mutex m_roomLock;
    std::condition_variable m_roomAnswered;
    std::optional<RoomShort> m_roomShort;

    // Held only for the moment of a copy of m_failures; nobody waits behind the copying of a
    // file.
    mutable QMutex m_publishLock;
    QList<CopyError> m_failures;
};
