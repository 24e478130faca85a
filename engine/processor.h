#pragma once

#include "engine/copyerror.h"
#include "engine/overwritemode.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

// One copy job on a worker thread of its own: a counting pass, then the copy, then a wait until
// the data is on the device. The GUI thread polls the accessors; the worker never signals
// progress. Runs once.
//
// Byte amounts are 64-bit so that files and jobs over 4 GiB are measured correctly.
class Processor : public QThread
{
    Q_OBJECT

public:
    enum class Verification
    {
        Off,
        // After the flush, every file the job put in place is read back from the device, not
        // from memory, and compared with what was read from its source.
        ReadBack
    };

    enum class Dates
    {
        // Copies get the time they are written, so that "older files" then means "changed
        // since the last copy".
        New,
        // Each file's copy keeps its source's modification time, each folder's too.
        Keep
    };

    Processor(const QString &source, const QString &target, OverwriteMode mode,
              bool includeSubFolders, bool includeHidden);
    // Cancels a job still running, releases a pause still held and waits for the thread.
    ~Processor() override;

    // GUI thread. pause() and resume() alternate; resume() without a pause in force does nothing.
    void pause();
    void resume();
    void cancel();

    bool isCancelled() const;
    quint32 filesTotal() const;
    quint32 filesDone() const;
    // Files put in place whole: filesDone() also counts transfers that failed.
    quint32 filesCopied() const;
    quint64 bytesTotal() const;
    quint64 bytesDone() const;
    QString currentFile() const;
    quint64 currentFileSize() const;
    quint64 currentFileDone() const;
    quint32 elapsedSeconds() const;
    // Running time with pauses left out, to the millisecond.
    qint64 elapsedMilliseconds() const;
    // True while the job waits for its data to reach the destination device.
    bool isFlushing() const;
    // True while the job reads its copies back from the device.
    bool isVerifying() const;
    // The verify phase's work, known once the copy is done, and how far it got.
    quint32 filesToVerify() const;
    quint32 filesVerified() const;
    quint64 bytesToVerify() const;
    quint64 bytesVerified() const;
    int failureCount() const;
    // Complete only after the thread has finished.
    QList<CopyError> failures() const;

    // Before start(): copy exactly these source files instead of walking the source tree.
    void setRetryFiles(const QStringList &files);
    // The same for recorded failures: their exact native names are used.
    void setRetryFiles(const QList<CopyError> &failures);
    // Before start().
    void setVerification(Verification verification);
    void setDates(Dates dates);

    static constexpr qint64 CopyBufferSize = 16000;

protected:
    void run() override;

private:
    // The worker's working state, private to the job's source file.
    struct Job;
    friend struct Job;

    void waitWhilePaused();
    void addFailure(const QByteArray &path, CopyErrorCode code, const QString &reason);
    void setCurrentFile(const QByteArray &name);

    // Set by the GUI thread, read by the worker.
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_paused{false};
    // The pause gate: held by the GUI thread while paused; the worker only passes through it.
    QMutex m_pauseMutex;

    const QString m_source;
    const QString m_target;
    const OverwriteMode m_overwriteMode;
    const bool m_includeSubFolders;
    const bool m_includeHidden;
    const QByteArray m_tempPrefix;
    bool m_retryMode = false;
    Verification m_verification = Verification::Off;
    Dates m_dates = Dates::New;
    QList<QByteArray> m_retryFiles;

    // Written by the worker only; read by the GUI at any time.
    std::atomic<quint32> m_filesTotal{0};
    std::atomic<quint32> m_filesDone{0};
    std::atomic<quint32> m_filesCopied{0};
    std::atomic<quint64> m_bytesTotal{0};
    std::atomic<quint64> m_bytesDone{0};
    std::atomic<quint64> m_currentFileSize{0};
    std::atomic<quint64> m_currentFileDone{0};
    std::atomic<int> m_failureCount{0};
    std::atomic<bool> m_flushing{false};
    std::atomic<bool> m_verifying{false};
    std::atomic<quint32> m_filesToVerify{0};
    std::atomic<quint32> m_filesVerified{0};
    std::atomic<quint64> m_bytesToVerify{0};
    std::atomic<quint64> m_bytesVerified{0};
    // Milliseconds on a steady clock; -1 until the job runs.
    std::atomic<qint64> m_runStartMs{-1};
    std::atomic<qint64> m_elapsedBankedMs{0};

    // Held only for the moment of a copy of m_currentFile or m_failures; nobody waits behind
    // the copying of a file.
    mutable QMutex m_publishLock;
    QByteArray m_currentFile;
    QList<CopyError> m_failures;
};
