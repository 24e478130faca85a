#pragma once

#include "engine/processor.h"
#include "tests/support/cleanup.h"

#include <QDir>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// What a job left: its counters and its failures as "CODE path", paths relative to the test's
// folder, sorted.
struct Outcome
{
    bool ran = false;
    QString output;
    quint64 filesTotal = 0;
    quint64 filesDone = 0;
    quint64 bytesTotal = 0;
    quint64 bytesDone = 0;
    quint64 filesVerified = 0;
    // The job found too little room and was told to copy anyway.
    bool shortOfRoom = false;
    QStringList failures;
    // The system's words for each failure, by its entry in failures.
    QMap<QString, QString> reasons;
};

// Runs program to its end; true when it exited with 0.
bool run(const QString &program, const QStringList &arguments, QString *output = nullptr);
// Byte for byte, without a tool that may not exist on every system.
bool sameContent(const QString &a, const QString &b);

// What the engine suites share: a temporary folder per test, trees made in it, and jobs run in
// this process or in engine_runner, their outcome read back.
class EngineTest : public QObject
{
protected:
    // From the suites' init() and cleanup().
    void setUpFolder();
    void tearDownFolder();

    // An absolute path stays as it is.
    QString path(const QString &relative) const { return QDir(m_dir->path()).filePath(relative); }
    QByteArray native(const QString &relative) const;
    QString relative(const QString &file) const;
    // "folder/" makes a folder; a file gets its own path as content.
    bool makeTree(const QStringList &entries);
    // Real data, so that the copy takes steps and no hole lets it skip ahead.
    bool makeBig(const QString &relative, qint64 size);
    bool mount(const QStringList &arguments, const QString &where);

    // The usual job: "src" into "dst", sub-folders in, hidden files out.
    std::unique_ptr<Processor> job(OverwriteMode mode = OverwriteAll,
                                   const QString &source = QStringLiteral("src"),
                                   const QString &target = QStringLiteral("dst")) const;
    Outcome runJob(Processor &processor) const;
    Outcome copy(OverwriteMode mode = OverwriteAll) const;
    // Starts the job and pauses it once the named file's first bytes have moved, mid-file.
    bool pauseInside(Processor &processor, const QString &name) const;
    // One job in engine_runner, behind a wrapper command (setpriv, prlimit, fiu-run, strace).
    Outcome runRunner(const QStringList &wrapper, const QStringList &arguments) const;
    QStringList strayTemporaries() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Cleanup> m_cleanup;
};
