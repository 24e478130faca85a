// The copy engine against real files: every check reads back what lies on disk.

#include "engine/processor.h"
#include "tests/support/cleanup.h"
#include "tests/support/filetree.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using namespace TestFiles;

namespace {

const QByteArray Content = "the quick brown fox jumps over the lazy dog\n";

bool makeSparse(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

bool runJob(Processor &processor)
{
    processor.start();
    return processor.wait(QDeadlineTimer(60000));
}

// Waits, without sleeping, until the worker has moved the first bytes of the named file.
bool waitForBytes(const Processor &processor, const QString &name)
{
    const auto started = [&] {
        // The name first: once it is this file's, the byte count read after it is too.
        return processor.currentFile() == name && processor.currentFileDone() > 0;
    };
    QDeadlineTimer deadline(20000);
    while (!started() && !processor.isFinished() && !deadline.hasExpired())
        QThread::yieldCurrentThread();
    return started() && !processor.isFinished();
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Undoes whatever it was given when the test ends, passed or failed, so that QTemporaryDir
struct RunnerResult
{
    bool ran = false;
    QString output;
    QMap<QString, quint64> counters;
    QList<QPair<int, QString>> failures;
};

// Runs one job in engine_runner, behind the given wrapper command (setpriv, fiu-run).
RunnerResult runRunner(const QStringList &wrapper, const QStringList &arguments)
{
    QStringList command = wrapper;
    command << QStringLiteral(ENGINE_RUNNER) << arguments;
    QProcess process;
    process.start(command.takeFirst(), command);
    RunnerResult result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.output =
        QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
    result.ran = process.exitCode() == 0;
    for (const QString &line : result.output.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("failure "))) {
            const qsizetype space = line.indexOf(u' ', 8);
            result.failures.append({line.mid(8, space - 8).toInt(), line.mid(space + 1)});
        } else if (const qsizetype eq = line.indexOf(u'='); eq > 0) {
            result.counters.insert(line.left(eq), line.mid(eq + 1).toULongLong());
        }
    }
    return result;
}

const QStringList DropPrivileges = {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                                    QStringLiteral("--regid=65534"),
                                    QStringLiteral("--clear-groups")};

QStringList injectFault(const QString &command)
{
    return {QStringLiteral("fiu-run"), QStringLiteral("-x"), QStringLiteral("-c"), command};
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void overwritePolicy_data();
    void overwritePolicy();
    void listingFilters_data();
    void listingFilters();
    void linksDevicesAndPipes();
    void missingSourceRoot();
    void exactSizes();
    void hugeSparseFileCountsFullSize();

    void pauseHoldsWorker();
    void cancelKeepsOldDestination_data();
    void cancelKeepsOldDestination();
    void sourceCutShortWhileRead();
    void lifecycleMisuseIsHarmless();

    void sourceOpenError();
    void targetOpenError();
    void sourceReadError();
    void targetWriteErrorOnShortWrite();
    void targetWriteErrorOnClose();
    void targetRemoveError();
    void targetReplaceError();
    void folderThatCannotBeMade_data();
    void folderThatCannotBeMade();

    void linkLoopsEnd();
    void linksIntoTheCopyEnd_data();
    void linksIntoTheCopyEnd();
    void longNames_data();
    void longNames();

    void retryCopiesListedFiles();
    void retryRefusesPathsOutsideSource_data();
    void retryRefusesPathsOutsideSource();

    void errorMessages();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    bool makeTree(const QStringList &files);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestEngine::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
}

bool TestEngine::makeTree(const QStringList &files)
{
    for (const QString &file : files) {
        const QString full = path(file);
        if (file.endsWith(u'/')) {
            if (!QDir().mkpath(full))
                return false;
            continue;
        }
        if (!QDir().mkpath(QFileInfo(full).absolutePath()) || !writeFile(full, file.toUtf8()))
            return false;
    }
    return true;
}

void TestEngine::overwritePolicy_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("copies");

    // Time rows keep the sizes equal and size rows make the destination newer, so each row
    // tests one rule.
    const QStringList states = {"missing", "older", "same time", "newer",
                                "smaller", "equal", "larger"};
    const QList<QPair<int, QStringList>> copiedBy = {
        {OverwriteAll, states},
        {OverwriteNone, {"missing"}},
        {OverwriteOlder, {"missing", "older"}},
        {OverwriteSmaller, {"missing", "smaller"}},
        {17, states}, // out of range: as OverwriteAll
    };
    for (const auto &[mode, copied] : copiedBy) {
        for (const QString &state : states)
            QTest::addRow("mode %d, destination %s", mode, qPrintable(state))
                << mode << state << copied.contains(state);
    }
}

void TestEngine::overwritePolicy()
{
    QFETCH(int, mode);
    QFETCH(QString, state);
    QFETCH(bool, copies);

    constexpr qint64 SourceTime = 1600000000;
    const QByteArray source = randomBytes(3000);
    QVERIFY(QDir().mkpath(path("src")) && QDir().mkpath(path("dst")));
    QVERIFY(writeFile(path("src/f.bin"), source));
    QVERIFY(setModified(path("src/f.bin"), SourceTime));

    QByteArray old;
    qint64 oldTime = SourceTime + 100;
    if (state == "older" || state == "same time" || state == "newer") {
        old = QByteArray(source.size(), 'o');
        oldTime = state == "older" ? SourceTime - 100 : state == "same time" ? SourceTime : oldTime;
    } else if (state != "missing") {
        const qsizetype size = source.size() + (state == "smaller"  ? -1
                                                : state == "larger" ? 1
                                                                    : 0);
        old = QByteArray(size, 'o');
    }
    if (state != "missing") {
        QVERIFY(writeFile(path("dst/f.bin"), old));
        QVERIFY(setModified(path("dst/f.bin"), oldTime));
    }

    Processor processor(path("src"), path("dst"), OverwriteMode(mode), true, false);
    QVERIFY(runJob(processor));

    QCOMPARE(processor.filesTotal(), copies ? 1u : 0u);
    QCOMPARE(processor.bytesTotal(), copies ? quint64(source.size()) : 0u);
    QCOMPARE(processor.filesDone(), copies ? 1u : 0u);
    QCOMPARE(processor.bytesDone(), processor.bytesTotal());
    QVERIFY2(readFile(path("dst/f.bin")) == (copies ? source : old),
             "the destination must be the source exactly when the policy lets it through");
    QCOMPARE(processor.failureCount(), 0);
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());

    if (copies && mode == OverwriteOlder) {
        // The copy is newer than its source, so the same job again leaves it alone.
        Processor again(path("src"), path("dst"), OverwriteOlder, true, false);
        QVERIFY(runJob(again));
        QCOMPARE(again.filesTotal(), 0u);
        QCOMPARE(again.filesDone(), 0u);
    }
}

void TestEngine::listingFilters_data()
{
    QTest::addColumn<bool>("subFolders");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("top level only") << false << false << QStringList{"a.txt"};
    QTest::newRow("top level with hidden") << false << true << QStringList{".h.txt", "a.txt"};
    QTest::newRow("sub-folders") << true << false
                                 << QStringList{"a.txt", "sub/", "sub/b.txt", "sub/empty/"};
    QTest::newRow("sub-folders with hidden")
        << true << true << QStringList{".h.txt", ".hsub/",     ".hsub/c.txt", "a.txt",
                                       "sub/",   "sub/.x.txt", "sub/b.txt",   "sub/empty/"};
}

void TestEngine::listingFilters()
{
    QFETCH(bool, subFolders);
    QFETCH(bool, hidden);
    QFETCH(QStringList, expected);

    QVERIFY(makeTree({"src/a.txt", "src/.h.txt", "src/sub/b.txt", "src/sub/.x.txt",
                      "src/.hsub/c.txt", "src/sub/empty/"}));
    Processor processor(path("src"), path("dst"), OverwriteAll, subFolders, hidden);
    QVERIFY(runJob(processor));

    QCOMPARE(treeOf(path("dst")), expected);
    quint64 bytes = 0;
    quint32 files = 0;
    for (const QString &entry : expected) {
        if (entry.endsWith(u'/'))
            continue;
        QCOMPARE(readFile(path("dst/" + entry)), readFile(path("src/" + entry)));
        bytes += QFileInfo(path("src/" + entry)).size();
        ++files;
    }
    QCOMPARE(processor.filesTotal(), files);
    QCOMPARE(processor.bytesTotal(), bytes);
    QCOMPARE(processor.filesDone(), files);
    QCOMPARE(processor.bytesDone(), bytes);
}

void TestEngine::linksDevicesAndPipes()
{
    QVERIFY(makeTree({"src/real/inner.txt", "elsewhere/linked.txt", "elsewhere/dir/deep.txt"}));
    QVERIFY(QFile::link(path("elsewhere/linked.txt"), path("src/filelink.txt")));
    QVERIFY(QFile::link(path("elsewhere/dir"), path("src/dirlink")));
    QVERIFY(QFile::link(path("nowhere"), path("src/broken")));
    QCOMPARE(::mkfifo(QFile::encodeName(path("src/pipe")).constData(), 0644), 0);
    QVERIFY(QFile::link(path("src/pipe"), path("src/pipelink")));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QVERIFY2(runJob(processor), "a pipe in the tree must not hold the job");

    QCOMPARE(treeOf(path("dst")), QStringList({"dirlink/", "dirlink/deep.txt", "filelink.txt",
                                               "real/", "real/inner.txt"}));
    QVERIFY2(!QFileInfo(path("dst/filelink.txt")).isSymLink(), "links are copied as content");
    QCOMPARE(readFile(path("dst/filelink.txt")), readFile(path("elsewhere/linked.txt")));
    QCOMPARE(processor.filesTotal(), 3u);
    QCOMPARE(processor.failureCount(), 0);
}

void TestEngine::missingSourceRoot()
{
    Processor processor(path("no such folder"), path("dst"), OverwriteAll, true, true);
    QVERIFY(runJob(processor));
    QCOMPARE(processor.filesTotal(), 0u);
    QCOMPARE(processor.bytesTotal(), 0u);
    QCOMPARE(processor.filesDone(), 0u);
    QCOMPARE(processor.failureCount(), 0);
    QVERIFY2(QFileInfo(path("dst")).isDir(), "the target root is made even for an empty job");
    QCOMPARE(treeOf(path("dst")), QStringList());
}

void TestEngine::exactSizes()
{
    const QList<qsizetype> sizes = {0, 1, 15999, 16000, 16001, 32000, 1000003};
    QVERIFY(QDir().mkpath(path("src")));
    quint64 total = 0;
    for (const qsizetype size : sizes) {
        QVERIFY(writeFile(path("src/f%1").arg(size), randomBytes(size)));
        total += quint64(size);
    }

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QVERIFY(runJob(processor));
    for (const qsizetype size : sizes) {
        const QString name = QStringLiteral("f%1").arg(size);
        QVERIFY2(readFile(path("dst/" + name)) == readFile(path("src/" + name)),
                 qPrintable(name + " differs"));
    }
    QCOMPARE(processor.filesTotal(), quint32(sizes.size()));
    QCOMPARE(processor.filesDone(), quint32(sizes.size()));
    QCOMPARE(processor.bytesTotal(), total);
    QCOMPARE(processor.bytesDone(), total);
    // The last file copied stays the current one, whole.
    const QString last = processor.currentFile();
    QVERIFY2(sizes.contains(last.mid(1).toLongLong()) && last.startsWith(u'f'), qPrintable(last));
    QCOMPARE(processor.currentFileSize(), quint64(QFileInfo(path("src/" + last)).size()));
    QCOMPARE(processor.currentFileDone(), processor.currentFileSize());
    QVERIFY(processor.failures().isEmpty());
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::hugeSparseFileCountsFullSize()
{
    // 5 GiB of nothing, copied towards a 1 MiB disk: the scan must count all of it, and the copy
    // fails fast at the full disk without leaving anything behind.
    constexpr qint64 Huge = 5LL << 30;
    Cleanup cleanup;
    QVERIFY(QDir().mkpath(path("src")) && QDir().mkpath(path("dst")));
    QVERIFY(makeSparse(path("src/huge.bin"), Huge));
    QVERIFY(writeFile(path("src/small.txt"), Content));
    if (!run("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", path("dst")}))
        QSKIP("needs root to mount a small tmpfs as a full disk");
    cleanup.add([this] { run("umount", {path("dst")}); });

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QVERIFY(runJob(processor));
    QCOMPARE(processor.bytesTotal(), quint64(Huge) + quint64(Content.size()));
    QCOMPARE(processor.filesTotal(), 2u);
    QCOMPARE(processor.filesDone(), 2u);
    const QList<CopyError> failures = processor.failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.first().code(), TargetWriteError);
    QCOMPARE(failures.first().file(), path("src/huge.bin"));
    QCOMPARE(treeOf(path("dst")), QStringList({"small.txt"}));
    QCOMPARE(readFile(path("dst/small.txt")), Content);
}

void TestEngine::pauseHoldsWorker()
{
    // Large enough that the poll below cannot miss the transfer on a busy machine.
    constexpr qint64 Size = 256LL << 20;
    QVERIFY(QDir().mkpath(path("src")));
    QVERIFY(makeSparse(path("src/big.bin"), Size));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QElapsedTimer wall;
    wall.start();
    processor.start();
    QVERIFY2(waitForBytes(processor, "big.bin"), "the copy never started");
    processor.pause();
    const quint64 held = processor.bytesDone();
    QVERIFY2(held < quint64(Size), "paused too late to hold anything");

    // Watch a while: nothing may move, and the clock must stand still.
    const quint32 elapsed = processor.elapsedSeconds();
    QTest::qWait(1100);
    // The chunk in flight when pause() came may still land; nothing after it.
    const quint64 after = processor.bytesDone();
    QVERIFY2(after - held <= quint64(Processor::CopyBufferSize),
             qPrintable(QStringLiteral("%1 bytes moved while paused").arg(after - held)));
    QCOMPARE(processor.currentFileDone(), after);
    QCOMPARE(processor.elapsedSeconds(), elapsed);
    QVERIFY(!processor.isFinished());

    processor.resume();
    QVERIFY(processor.wait(QDeadlineTimer(60000)));
    QCOMPARE(processor.bytesDone(), quint64(Size));
    QCOMPARE(QFileInfo(path("dst/big.bin")).size(), Size);
    QVERIFY2(run("cmp", {path("src/big.bin"), path("dst/big.bin")}), "copy differs");
    QVERIFY2(qint64(processor.elapsedSeconds()) * 1000 <= wall.elapsed() - 1000,
             "the paused second was counted as running time");
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::cancelKeepsOldDestination_data()
{
    QTest::addColumn<bool>("whilePaused");
    QTest::newRow("mid-file") << false;
    QTest::newRow("while paused") << true;
}

void TestEngine::cancelKeepsOldDestination()
{
    QFETCH(bool, whilePaused);
    constexpr qint64 Size = 1LL << 30; // sparse, and never copied whole
    QVERIFY(QDir().mkpath(path("src")) && QDir().mkpath(path("dst")));
    QVERIFY(makeSparse(path("src/big.bin"), Size));
    const QByteArray old = randomBytes(5000);
    QVERIFY(writeFile(path("dst/big.bin"), old));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.start();
    QVERIFY2(waitForBytes(processor, "big.bin"), "the copy never started");
    if (whilePaused)
        processor.pause();
    processor.cancel();
    QVERIFY2(processor.wait(QDeadlineTimer(20000)), "cancel must release the worker");

    QVERIFY(processor.isCancelled());
    QVERIFY2(readFile(path("dst/big.bin")) == old, "the old destination must stay as it was");
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
    QCOMPARE(processor.failureCount(), 0);
    QCOMPARE(processor.filesDone(), 1u); // abandoned, but its transfer had begun
    QVERIFY(processor.bytesDone() < quint64(Size));
}

void TestEngine::sourceCutShortWhileRead()
{
    constexpr qint64 Size = 1LL << 30; // sparse, and never copied whole
    QVERIFY(QDir().mkpath(path("src")) && QDir().mkpath(path("dst")));
    QVERIFY(makeSparse(path("src/big.bin"), Size));
    QVERIFY(writeFile(path("src/next.txt"), Content));
    QVERIFY(writeFile(path("dst/big.bin"), Content));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.start();
    QVERIFY2(waitForBytes(processor, "big.bin"), "the copy never started");
    processor.pause();
    QVERIFY(processor.bytesDone() < quint64(Size));
    QVERIFY(QFile::resize(path("src/big.bin"), qint64(processor.bytesDone())));
    processor.resume();
    QVERIFY(processor.wait(QDeadlineTimer(20000)));

    const QList<CopyError> failures = processor.failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.first().code(), SourceReadError);
    QCOMPARE(readFile(path("dst/big.bin")), Content);
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
    QCOMPARE(readFile(path("dst/next.txt")), Content);
}

void TestEngine::lifecycleMisuseIsHarmless()
{
    QVERIFY(makeTree({"src/a.txt", "src/b.txt"}));
    {
        // Resume without a pause, a second pause, and the object deleted while paused.
        Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
        processor.resume();
        processor.pause();
        processor.pause();
        QCOMPARE(processor.elapsedSeconds(), 0u);
        processor.start();
        QVERIFY(!processor.wait(QDeadlineTimer(50)));
    } // must not hang here
    QVERIFY2(!QFile::exists(path("dst/a.txt")), "a job paused before it began copies nothing");

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.pause();
    processor.start();
    processor.cancel();
    processor.cancel();
    processor.resume(); // after a cancel: nothing left to release
    processor.pause();  // after a cancel: must not hold the lock again
    QVERIFY(processor.wait(QDeadlineTimer(20000)));
    QVERIFY(processor.isCancelled());
    QCOMPARE(processor.filesDone(), 0u);
}

void TestEngine::sourceOpenError()
{
    QVERIFY(makeTree({"src/locked.txt", "src/open.txt", "dst/"}));
    QVERIFY(QFile::setPermissions(path("src/locked.txt"), QFileDevice::WriteOwner));
    QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(path("dst")).constData(), 0777), 0);

    const RunnerResult result = runRunner(DropPrivileges, {path("src"), path("dst")});
    QVERIFY2(result.ran, qPrintable(result.output));
    QCOMPARE(result.failures,
             (QList<QPair<int, QString>>{{SourceOpenError, path("src/locked.txt")}}));
    QCOMPARE(result.counters.value("filesTotal"), 2u);
    QCOMPARE(result.counters.value("filesDone"), 1u);
    QCOMPARE(readFile(path("dst/open.txt")), QByteArray("src/open.txt"));
    QVERIFY(!QFile::exists(path("dst/locked.txt")));
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::targetOpenError()
{
    QVERIFY(makeTree({"src/ro/a.txt", "src/b.txt", "dst/ro/"}));
    QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(path("dst")).constData(), 0777), 0);
    QCOMPARE(::chmod(QFile::encodeName(path("dst/ro")).constData(), 0555), 0);

    const RunnerResult result = runRunner(DropPrivileges, {path("src"), path("dst")});
    QVERIFY2(result.ran, qPrintable(result.output));
    QCOMPARE(result.failures,
             (QList<QPair<int, QString>>{{TargetOpenError, path("src/ro/a.txt")}}));
    QCOMPARE(result.counters.value("filesDone"), 1u);
    QCOMPARE(readFile(path("dst/b.txt")), QByteArray("src/b.txt"));
    QCOMPARE(treeOf(path("dst/ro")), QStringList());
}

void TestEngine::sourceReadError()
{
    // The kernel copies within one file system without read(); a source on a file system of its
    // own makes the engine read, where the fault is injected.
    Cleanup cleanup;
    QVERIFY(QDir().mkpath(path("src")) && QDir().mkpath(path("dst")));
    if (!run("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", path("src")}))
        QSKIP("needs root to mount a tmpfs for the source");
    cleanup.add([this] { run("umount", {path("src")}); });
    QVERIFY(writeFile(path("src/a.txt"), Content));
    QVERIFY(writeFile(path("dst/a.txt"), "old"));

    const RunnerResult result = runRunner(injectFault("enable name=posix/io/rw/read,failinfo=5"),
                                          {path("src"), path("dst")});
    QVERIFY2(result.ran, qPrintable(result.output));
    QCOMPARE(result.failures, (QList<QPair<int, QString>>{{SourceReadError, path("src/a.txt")}}));
    QCOMPARE(result.counters.value("filesDone"), 1u);
    QCOMPARE(readFile(path("dst/a.txt")), QByteArray("old"));
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::targetWriteErrorOnShortWrite()
{
    QVERIFY(QDir().mkpath(path("src")));
    QVERIFY(writeFile(path("src/big.bin"), randomBytes(100000)));
    QVERIFY(writeFile(path("src/small.txt"), Content));

    // Writes past 50000 bytes come back short, then fail.
    const RunnerResult result =
        runRunner({}, {"--file-size-limit", "50000", path("src"), path("dst")});
    QVERIFY2(result.ran, qPrintable(result.output));
    QCOMPARE(result.failures,
             (QList<QPair<int, QString>>{{TargetWriteError, path("src/big.bin")}}));
    QCOMPARE(result.counters.value("filesDone"), 2u);
    QVERIFY2(result.counters.value("bytesDone") <= quint64(50000 + Content.size()),
             "only what was written is counted");
    QCOMPARE(treeOf(path("dst")), QStringList({"small.txt"}));
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::targetWriteErrorOnClose()
{
    QVERIFY(makeTree({"src/a.txt", "dst/"}));
    QVERIFY(writeFile(path("dst/a.txt"), "old"));

    const RunnerResult result = runRunner(injectFault("enable name=posix/io/oc/close,failinfo=5"),
                                          {path("src"), path("dst")});
    QVERIFY2(result.ran, qPrintable(result.output));
    QCOMPARE(result.failures, (QList<QPair<int, QString>>{{TargetWriteError, path("src/a.txt")}}));
    QCOMPARE(readFile(path("dst/a.txt")), QByteArray("old"));
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::targetRemoveError()
{
    QVERIFY(makeTree({"src/a.txt", "src/b.txt", "dst/a.txt/inside.txt"}));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QVERIFY(runJob(processor));
    const QList<CopyError> failures = processor.failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.first().code(), TargetRemoveError);
    QCOMPARE(failures.first().file(), path("src/a.txt"));
    QCOMPARE(readFile(path("dst/a.txt/inside.txt")), QByteArray("dst/a.txt/inside.txt"));
    QCOMPARE(readFile(path("dst/b.txt")), QByteArray("src/b.txt"));
    QCOMPARE(processor.filesDone(), 2u);
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::targetReplaceError()
{
    Cleanup cleanup;
    QVERIFY(makeTree({"src/a.txt", "src/b.txt", "dst/"}));
    QVERIFY(writeFile(path("dst/a.txt"), "old"));
    if (!run("chattr", {"+i", path("dst/a.txt")}))
        QSKIP("needs CAP_LINUX_IMMUTABLE and a file system with chattr +i");
    cleanup.add([this] { run("chattr", {"-i", path("dst/a.txt")}); });

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QVERIFY(runJob(processor));
    const QList<CopyError> failures = processor.failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.first().code(), TargetReplaceError);
    QCOMPARE(readFile(path("dst/a.txt")), QByteArray("old"));
    QCOMPARE(readFile(path("dst/b.txt")), QByteArray("src/b.txt"));
    QCOMPARE(processor.filesDone(), 2u);
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::folderThatCannotBeMade_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QStringList>("failed");
    QTest::addColumn<QStringList>("copied");
    QTest::newRow("a sub-folder") << "dst"
                                  << "dst/sub" << QStringList{"src/sub/b.txt", "src/sub/deep/c.txt"}
                                  << QStringList{"a.txt"};
    QTest::newRow("the target root")
        << "dst/inner"
        << "dst" << QStringList{"src/a.txt", "src/sub/b.txt", "src/sub/deep/c.txt"}
        << QStringList{};
}

// A file where a destination folder must go: the files below it were not copied, and the job
// must say so rather than end as if complete.
void TestEngine::folderThatCannotBeMade()
{
    QFETCH(QString, target);
    QFETCH(QString, blocker);
    QFETCH(QStringList, failed);
    QFETCH(QStringList, copied);
    QVERIFY(makeTree({"src/a.txt", "src/sub/b.txt", "src/sub/deep/c.txt"}));
    QVERIFY(writeFile(path(blocker), "in the way"));

    Processor processor(path("src"), path(target), OverwriteAll, true, false);
    QVERIFY(runJob(processor));
    QStringList failedFiles;
    for (const CopyError &failure : processor.failures()) {
        QCOMPARE(failure.code(), TargetOpenError);
        failedFiles.append(QDir(m_dir->path()).relativeFilePath(failure.file()));
    }
    failedFiles.sort();
    QCOMPARE(failedFiles, failed);
    QCOMPARE(readFile(path(blocker)), QByteArray("in the way"));
    for (const QString &file : copied)
        QCOMPARE(readFile(path("dst/") + file), readFile(path("src/") + file));
    QCOMPARE(processor.filesTotal(), 3u);
    QCOMPARE(processor.filesDone(), quint32(copied.size()));
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::linkLoopsEnd()
{
    QVERIFY(makeTree({"src/top.txt", "src/a/inner.txt", "src/a/b/deep.txt", "dst/"}));
    QVERIFY(QFile::link(path("src"), path("src/a/b/up")));
    QVERIFY(QFile::link(path("src/a"), path("src/a/self")));
    QVERIFY(QFile::link(path("dst"), path("src/into-target")));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QVERIFY2(runJob(processor), "the walk must end");
    QCOMPARE(treeOf(path("dst")),
             QStringList({"a/", "a/b/", "a/b/deep.txt", "a/inner.txt", "top.txt"}));
    QCOMPARE(processor.filesTotal(), 3u);
    QCOMPARE(processor.filesDone(), 3u);
    QCOMPARE(processor.failureCount(), 0);
}

void TestEngine::linksIntoTheCopyEnd_data()
{
    QTest::addColumn<bool>("targetThereBefore");
    QTest::newRow("folder the job makes") << false;
    QTest::newRow("folder already there") << true;
}

void TestEngine::linksIntoTheCopyEnd()
{
    QFETCH(bool, targetThereBefore);
    QVERIFY(makeTree({"src/a/f.txt"}));
    if (targetThereBefore)
        QVERIFY(makeTree({"dst/a/old.txt"}));
    // Two links into the destination of their own folder: each level of the copy would hold
    // two more, without end.
    QVERIFY(QFile::link(path("dst/a"), path("src/a/l")));
    QVERIFY(QFile::link(path("dst/a"), path("src/a/m")));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QVERIFY2(runJob(processor), "the walk must end");
    QStringList expected{"a/", "a/f.txt"};
    if (targetThereBefore)
        expected.append("a/old.txt");
    QCOMPARE(treeOf(path("dst")), expected);
    QCOMPARE(processor.filesTotal(), 1u);
    QCOMPARE(processor.filesDone(), 1u);
    QCOMPARE(processor.failureCount(), 0);
}

void TestEngine::longNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("240 ASCII bytes") << QString(240, u'n');
    QTest::newRow("255 ASCII bytes") << QString(255, u'n');
    // 2-byte characters: the cut must not fall inside one.
    QTest::newRow("127 two-byte characters") << QString(127, QChar(0xe9));
    QTest::newRow("85 three-byte characters") << QString(85, QChar(0x20ac));
}

void TestEngine::longNames()
{
    QFETCH(QString, name);
    QVERIFY(QDir().mkpath(path("src")));
    QVERIFY2(writeFile(path("src/") + name, Content), "the file system refused the name");

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QVERIFY(runJob(processor));
    QCOMPARE(processor.failureCount(), 0);
    QCOMPARE(readFile(path("dst/") + name), Content);
    QCOMPARE(processor.currentFile(), name);
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::retryCopiesListedFiles()
{
    QVERIFY(makeTree({"src/a.txt", "src/sub/b.txt", "src/c.txt", "dst/sub/", "gone/"}));
    const QStringList listed = {path("src/sub/b.txt"), path("src/c.txt")};

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.setRetryFiles(listed);
    QVERIFY(runJob(processor));
    QCOMPARE(treeOf(path("dst")), QStringList({"c.txt", "sub/", "sub/b.txt"}));
    QCOMPARE(readFile(path("dst/sub/b.txt")), QByteArray("src/sub/b.txt"));
    QCOMPARE(processor.filesTotal(), 2u);
    QCOMPARE(processor.filesDone(), 2u);
    QVERIFY(processor.failures().isEmpty());

    // The destination folder has gone since: no folder is made in a retry.
    QVERIFY(QDir(path("dst/sub")).removeRecursively());
    Processor again(path("src"), path("dst"), OverwriteAll, true, false);
    again.setRetryFiles({path("src/sub/b.txt")});
    QVERIFY(runJob(again));
    const QList<CopyError> failures = again.failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.first().code(), TargetOpenError);
    QCOMPARE(failures.first().file(), path("src/sub/b.txt"));
    QVERIFY(!QFileInfo::exists(path("dst/sub")));
}

void TestEngine::retryRefusesPathsOutsideSource_data()
{
    QTest::addColumn<QString>("listed");
    // Where replacing the root's length of characters by the target would have written.
    QTest::addColumn<QString>("blindTarget");
    QTest::newRow("sibling with the root as prefix") << "src2/x.txt"
                                                     << "dst2/x.txt";
    QTest::newRow("climbing out") << "src/../outside.txt"
                                  << "outside.txt";
    QTest::newRow("elsewhere entirely") << "elsewhere/y.txt"
                                        << "dstewhere/y.txt";
}

void TestEngine::retryRefusesPathsOutsideSource()
{
    QFETCH(QString, listed);
    QFETCH(QString, blindTarget);
    QVERIFY(makeTree({"src/in.txt", "src2/x.txt", "outside.txt", "elsewhere/y.txt", "dst/",
                      "dstewhere/", "dst2/"}));
    const bool existed = QFileInfo::exists(path(blindTarget));
    const QByteArray before = existed ? readFile(path(blindTarget)) : QByteArray();

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.setRetryFiles({path(listed), path("src/in.txt")});
    QVERIFY(runJob(processor));
    const QList<CopyError> failures = processor.failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.first().file(), path(listed));
    QCOMPARE(failures.first().code(), TargetOpenError);
    QCOMPARE(processor.filesTotal(), 1u);
    QCOMPARE(readFile(path("dst/in.txt")), QByteArray("src/in.txt"));
    QCOMPARE(QFileInfo::exists(path(blindTarget)), existed);
    if (existed)
        QCOMPARE(readFile(path(blindTarget)), before);
    QCOMPARE(strayTemporaries(m_dir->path()), QStringList());
}

void TestEngine::errorMessages()
{
    const QList<QPair<int, QString>> expected = {
        {SourceOpenError, "Source file could not be opened"},
        {TargetOpenError, "Target file could not be opened"},
        {SourceReadError, "Source file could not be read"},
        {TargetWriteError, "Target file could not be written"},
        {TargetRemoveError, "Target file could not be removed"},
        {TargetReplaceError, "Target file could not be replaced"},
        {6, "Unknown error"},
        {-1, "Unknown error"},
    };
    for (const auto &[code, message] : expected)
        QCOMPARE(CopyError::message(code), message);
    QCOMPARE(CopyError("x", TargetWriteError).message(), expected.at(TargetWriteError).second);
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
