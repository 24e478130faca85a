#pragma once

#include "engine/copyerror.h"
#include "engine/nativefs.h"
#include "engine/overwritemode.h"

#include <QDir>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

// One copy job on a worker thread of its own: a counting pass, then the copy. The GUI thread
// polls the accessors; the worker never signals progress. Runs once.
//
// Byte amounts are 64-bit so that files and jobs over 4 GiB are measured correctly.
class Processor : public QThread
{
    Q_OBJECT

public:
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
    quint64 bytesTotal() const;
    quint64 bytesDone() const;
    QString currentFile() const;
    quint64 currentFileSize() const;
    quint64 currentFileDone() const;
    quint32 elapsedSeconds() const;
    // Running time with pauses left out, to the millisecond.
    qint64 elapsedMilliseconds() const;
    // True while the job's last step waits for its data to reach the destination device.
    bool isFlushing() const;
    int failureCount() const;
    // Complete only after the thread has finished.
    QList<CopyError> failures() const;

    // Before start(): copy exactly these source files instead of walking the source tree.
    void setRetryFiles(const QStringList &files);
    // The same for recorded failures: their exact native names are used.
    void setRetryFiles(const QList<CopyError> &failures);

    static constexpr qint64 CopyBufferSize = 16000;

protected:
    void run() override;

private:
    struct Place; // a source folder and its destination, open for the files between them
    enum class Phase
    {
        Scan,
        Copy,
        // Copying below a destination folder that could not be made: every file fails.
        Unreachable
    };

    void resetCounters();
    bool isCancelRequested() const;
    void waitWhilePaused();
    void setCurrentFile(const NativeFs::Path &name);
    void addFailure(const QString &file, CopyErrorCode code);
    bool shouldCopy(const NativeFs::Status &source, const NativeFs::Status &target) const;
    bool isOnWalk(const NativeFs::FolderId &folder) const;

    // The scan and the copy walk the same folders in the same order and skip the same ones;
    // one walk serves both.
    // reachedByLink: the folder's name may be a link, so it may lead into the copy being made.
    void walkFolder(Phase phase, const NativeFs::Path &source, const NativeFs::Path &target,
                    bool reachedByLink);
    void walkRetryFiles(Phase phase);

    void scanJob();
    void scanFolder(const NativeFs::Path &source, const NativeFs::Path &target,
                    bool reachedByLink = false);
    void scanRetryFiles();
    void scanFile(const Place &place, const NativeFs::Entry &entry);
    void copyJob();
    void copyFolder(const NativeFs::Path &source, const NativeFs::Path &target,
                    bool reachedByLink = false);
    void copyRetryFiles();
    void copyFile(Place &place, const NativeFs::Entry &entry, const QString *listedPath);

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
    NativeFs::Path m_tempPrefix;
    bool m_retryMode = false;
    QStringList m_retryFiles;

    // Written by the worker only; read by the GUI at any time.
    std::atomic<quint32> m_filesTotal{0};
    std::atomic<quint32> m_filesDone{0};
    std::atomic<quint64> m_bytesTotal{0};
    std::atomic<quint64> m_bytesDone{0};
    std::atomic<quint64> m_currentFileSize{0};
    std::atomic<quint64> m_currentFileDone{0};
    std::atomic<int> m_failureCount{0};
    // Milliseconds on a steady clock; -1 until the job runs.
    std::atomic<qint64> m_runStartMs{-1};
    std::atomic<qint64> m_elapsedBankedMs{0};
    std::atomic<bool> m_flushing{false};

    // Held only for the moment of a copy of m_currentFile or m_failures; nobody waits behind
    // the copying of a file.
    mutable QMutex m_publishLock;
    NativeFs::Path m_currentFile;
    QList<CopyError> m_failures;

    // Worker-only walk state.
    std::vector<NativeFs::FolderId> m_walkPath;
    NativeFs::FolderId m_targetRootId;
    bool m_hasTargetRootId = false;
    std::vector<NativeFs::Entry> m_fileListing;
    std::unique_ptr<char[]> m_buffer;
};
