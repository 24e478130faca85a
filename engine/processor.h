#pragma once

#include "engine/copyerror.h"
#include "engine/overwritemode.h"

#include <QDir>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

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
    int failureCount() const;
    // Complete only after the thread has finished.
    QList<CopyError> failures() const;

    // Before start(): copy exactly these source files instead of walking the source tree.
    void setRetryFiles(const QStringList &files);

    static constexpr qint64 CopyBufferSize = 16000;

protected:
    void run() override;

private:
    // The private members are the engine's own business; see processor.cpp.
};
