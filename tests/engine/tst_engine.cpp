// The copy engine against real files and real faults of the system: every check reads back
// what lies on disk.

#include "engine/processor.h"
#include "tests/support/cleanup.h"
#include "tests/support/filetree.h"
#include "tests/support/wait.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using namespace TestFiles;

namespace {

const QByteArray Content = "the quick brown fox jumps over the lazy dog\n";

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
    QStringList failures;
};

bool run(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(60000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return ok;
}

// Waits, without sleeping, until the worker has moved the first bytes of the named file.
bool waitForBytes(const Processor &processor, const QString &name)
{
    // The name first: once it is this file's, the byte count read after it is too.
    return spinUntil([&] {
               return processor.isFinished() ||
                      (processor.currentFile() == name && processor.currentFileDone() > 0);
           }) &&
           !processor.isFinished();
}

const QStringList AsNobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

QStringList injectFault(const QString &fault)
{
    return {"fiu-run", "-x", "-c", "enable name=" + fault + ",failinfo=5"};
}

QStringList limitFileSize(int bytes)
{
    return {"prlimit", QStringLiteral("--fsize=%1").arg(bytes)};
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void overwritePolicy_data();
    void overwritePolicy();
    void listingFilters_data();
    void listingFilters();
    void transferSteps();
    void sparseFilesStaySparse();

    void pauseHoldsWorker();
    void cancelKeepsOldDestination_data();
    void cancelKeepsOldDestination();
    void sourceCutShortWhileRead();
    void lifecycleMisuseIsHarmless();

    void unreadableSourcesAreRecorded_data();
    void unreadableSourcesAreRecorded();
    void failedWritesKeepTheOldDestination_data();
    void failedWritesKeepTheOldDestination();
    void sourceReadError();
    void targetOpenError();
    void targetRemoveAndReplaceErrors();
    void folderThatCannotBeMade_data();
    void folderThatCannotBeMade();
    void writeBackFailureIsRecorded();

    void neverWritesIntoItsSource_data();
    void neverWritesIntoItsSource();
    void linksAreFollowedOnce_data();
    void linksAreFollowedOnce();
    void destinationLinksAreNotFollowed();
    void deepTrees_data();
    void deepTrees();
    void caseBlindDestination_data();
    void caseBlindDestination();
    void nameTakenDuringCopy_data();
    void nameTakenDuringCopy();
    void pipePlantedAtTemporaryName();
    void longNames_data();
    void longNames();

    void retryMakesFoldersAndMapsPaths();
    void retryRefusesPathsOutsideSource_data();
    void retryRefusesPathsOutsideSource();
    void retryReachesNamesThatAreNotText();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QByteArray native(const QString &relative) const { return QFile::encodeName(path(relative)); }
    bool makeTree(const QStringList &entries);
    bool makeBig(const QString &relative, qint64 size);
    bool mount(const QStringList &arguments, const QString &where);
    Outcome runJob(Processor &processor);
    Outcome runRunner(const QStringList &wrapper, const QStringList &arguments);
    QString relative(const QString &file) const
    {
        return QDir(m_dir->path()).relativeFilePath(file);
    }
    void checkNoTemporaries() { QCOMPARE(strayTemporaries(m_dir->path()), QStringList()); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Cleanup> m_cleanup;
};

void TestEngine::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    // Other users must reach the folder for the tests that drop privileges.
    QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);
    m_cleanup = std::make_unique<Cleanup>();
}

void TestEngine::cleanup()
{
    m_cleanup.reset(); // unmounts and clears attributes before the folder is removed
    // Trees deeper than a path can name, and names that are not text, are beyond QDir.
    run("rm", {"-rf", m_dir->path()});
    m_dir.reset();
}

// "folder/" makes a folder; a file gets its own path as content.
bool TestEngine::makeTree(const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (entry.endsWith(u'/') ? !QDir().mkpath(path(entry))
                                 : !writeFile(path(entry), entry.toUtf8()))
            return false;
    }
    return true;
}

// Real data, so that the copy takes steps and no hole lets it skip ahead.
bool TestEngine::makeBig(const QString &relative, qint64 size)
{
    if (!QDir().mkpath(QFileInfo(path(relative)).path()))
        return false;
    QFile file(path(relative));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block = randomBytes(1 << 20);
    for (qint64 written = 0; written < size; written += block.size()) {
        if (file.write(block.constData(), qMin<qint64>(block.size(), size - written)) < 0)
            return false;
    }
    return true;
}

bool TestEngine::mount(const QStringList &arguments, const QString &where)
{
    if (!QDir().mkpath(where) || !run("mount", arguments + QStringList{where}))
        return false;
    m_cleanup->add([where] { run("umount", {"-l", where}); });
    return true;
}

Outcome TestEngine::runJob(Processor &processor)
{
    Outcome outcome;
    processor.start();
    outcome.ran = processor.wait(QDeadlineTimer(60000));
    outcome.filesTotal = processor.filesTotal();
    outcome.filesDone = processor.filesDone();
    outcome.bytesTotal = processor.bytesTotal();
    outcome.bytesDone = processor.bytesDone();
    for (const CopyError &failure : processor.failures())
        outcome.failures.append(
            QStringLiteral("%1 %2").arg(failure.code()).arg(relative(failure.file())));
    outcome.failures.sort();
    return outcome;
}

// One job in engine_runner, behind a wrapper command (setpriv, prlimit, fiu-run, strace).
Outcome TestEngine::runRunner(const QStringList &wrapper, const QStringList &arguments)
{
    QStringList command = wrapper;
    command << QStringLiteral(ENGINE_RUNNER) << arguments;
    Outcome outcome;
    const QString program = command.takeFirst();
    outcome.ran = run(program, command, &outcome.output);
    for (const QString &line : outcome.output.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("failure "))) {
            const qsizetype space = line.indexOf(u' ', 8);
            outcome.failures.append(line.mid(8, space - 8) + u' ' + relative(line.mid(space + 1)));
        } else if (const qsizetype eq = line.indexOf(u'='); eq > 0) {
            const quint64 value = line.mid(eq + 1).toULongLong();
            const QString key = line.left(eq);
            (key == "filesTotal"   ? outcome.filesTotal
             : key == "filesDone"  ? outcome.filesDone
             : key == "bytesTotal" ? outcome.bytesTotal
                                   : outcome.bytesDone) = value;
        }
    }
    outcome.failures.sort();
    return outcome;
}

// --- what is copied ---------------------------------------------------------------------------

void TestEngine::overwritePolicy_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("destinationExists");
    // The destination's age and size against the source's: -1 older or smaller, 0 equal,
    // 1 newer or larger.
    QTest::addColumn<int>("age");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("copies");

    struct Mode
    {
        const char *name;
        int mode;
    };
    const Mode modes[] = {{"all", OverwriteAll},
                          {"none", OverwriteNone},
                          {"older", OverwriteOlder},
                          {"smaller", OverwriteSmaller},
                          {"out of range", 17}};
    for (const Mode &m : modes) {
        const bool all =
            m.mode != OverwriteNone && m.mode != OverwriteOlder && m.mode != OverwriteSmaller;
        QTest::addRow("%s, no destination", m.name) << m.mode << false << 0 << 0 << true;
        // Age rows keep the sizes equal; size rows make the destination newer.
        QTest::addRow("%s, older", m.name)
            << m.mode << true << -1 << 0 << (all || m.mode == OverwriteOlder);
        QTest::addRow("%s, same time", m.name) << m.mode << true << 0 << 0 << all;
        QTest::addRow("%s, newer", m.name) << m.mode << true << 1 << 0 << all;
        QTest::addRow("%s, smaller", m.name)
            << m.mode << true << 1 << -1 << (all || m.mode == OverwriteSmaller);
        QTest::addRow("%s, same size", m.name) << m.mode << true << 1 << 0 << all;
        QTest::addRow("%s, larger", m.name) << m.mode << true << 1 << 1 << all;
    }
}

void TestEngine::overwritePolicy()
{
    QFETCH(int, mode);
    QFETCH(bool, destinationExists);
    QFETCH(int, age);
    QFETCH(int, size);
    QFETCH(bool, copies);

    constexpr qint64 SourceTime = 1600000000;
    const QByteArray source = randomBytes(3000);
    QVERIFY(writeFile(path("src/f.bin"), source) && setModified(path("src/f.bin"), SourceTime));
    const QByteArray old(source.size() + size, 'o');
    QVERIFY(QDir().mkpath(path("dst")));
    if (destinationExists)
        QVERIFY(writeFile(path("dst/f.bin"), old) &&
                setModified(path("dst/f.bin"), SourceTime + 100 * age));

    Processor processor(path("src"), path("dst"), OverwriteMode(mode), true, false);
    const Outcome outcome = runJob(processor);
    QVERIFY(outcome.ran);
    QCOMPARE(outcome.filesTotal, copies ? 1u : 0u);
    QCOMPARE(outcome.bytesTotal, copies ? quint64(source.size()) : 0u);
    QCOMPARE(outcome.filesDone, outcome.filesTotal);
    QCOMPARE(outcome.bytesDone, outcome.bytesTotal);
    QVERIFY2(readFile(path("dst/f.bin")) == (copies ? source : old),
             "the destination must be the source exactly when the rules let it through");
    QCOMPARE(outcome.failures, QStringList());
    checkNoTemporaries();

    if (copies && mode == OverwriteOlder) {
        // The copy is newer than its source, so the same job again leaves it alone.
        Processor again(path("src"), path("dst"), OverwriteOlder, true, false);
        QCOMPARE(runJob(again).filesTotal, 0u);
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
    // Neither a pipe nor a broken link is a file to copy; a pipe must not hold the job.
    QCOMPARE(::mkfifo(native("src/pipe").constData(), 0644), 0);
    QVERIFY(QFile::link(path("nowhere"), path("src/broken")));
    Processor processor(path("src"), path("dst"), OverwriteAll, subFolders, hidden);
    const Outcome outcome = runJob(processor);
    QVERIFY(outcome.ran);

    QCOMPARE(treeOf(path("dst")), expected);
    quint64 bytes = 0;
    quint64 files = 0;
    for (const QString &entry : expected) {
        if (!entry.endsWith(u'/')) {
            QCOMPARE(readFile(path("dst/" + entry)), readFile(path("src/" + entry)));
            bytes += quint64(QFileInfo(path("src/" + entry)).size());
            ++files;
        }
    }
    QCOMPARE(outcome.filesTotal, files);
    QCOMPARE(outcome.bytesTotal, bytes);
    QCOMPARE(outcome.filesDone, files);
    QCOMPARE(outcome.bytesDone, bytes);
}

// Every read from a source is at most 16000 bytes, so that pause and cancel answer within one
// of them: a file of 16000 bytes takes one read, one of 16001 two, and so on, whichever way the
// bytes then reach the copy. And a job that wrote something waits for the device at its end.
void TestEngine::transferSteps()
{
    const QList<qint64> sizes = {0, 1, 15999, 16000, 16001, 32000, 1000003};
    for (const qint64 size : sizes)
        QVERIFY(writeFile(path("src/f%1").arg(size), randomBytes(size)));
    const QString log = path("strace.log");
    const Outcome outcome =
        runRunner({"strace", "-f", "-qq", "-o", log, "-e",
                   "trace=openat,pread64,read,splice,copy_file_range,close,syncfs"},
                  {path("src"), path("dst")});
    if (!outcome.ran && !QFile::exists(log))
        QSKIP("needs strace");
    QVERIFY2(outcome.ran, qPrintable(outcome.output));
    QCOMPARE(outcome.failures, QStringList());
    QVERIFY(run("diff", {"-r", path("src"), path("dst")}));
    QCOMPARE(outcome.bytesDone, outcome.bytesTotal);

    // Follow each source's descriptor from its opening to its closing.
    static const QRegularExpression opened(
        R"re(openat\(\d+, "f(\d+)", O_RDONLY.*\)\s+=\s+(\d+))re");
    static const QRegularExpression reading(
        R"re((?:pread64|read|splice|copy_file_range)\((\d+), .*, (\d+), .*\)\s+=\s+(\d+))re");
    static const QRegularExpression closed(R"re(close\((\d+)\))re");
    QMap<QString, qint64> sourceOf; // descriptor -> size
    QMap<qint64, int> reads;
    int flushes = 0;
    for (const QByteArray &line : readFile(log).split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (auto m = opened.match(text); m.hasMatch()) {
            sourceOf[m.captured(2)] = m.captured(1).toLongLong();
        } else if (auto m = reading.match(text); m.hasMatch() && sourceOf.contains(m.captured(1))) {
            QVERIFY2(m.captured(2).toLongLong() <= Processor::CopyBufferSize, qPrintable(text));
            if (m.captured(3).toLongLong() > 0)
                ++reads[sourceOf[m.captured(1)]];
        } else if (auto m = closed.match(text); m.hasMatch()) {
            sourceOf.remove(m.captured(1));
        } else if (text.contains(QLatin1String("syncfs("))) {
            ++flushes;
        }
    }
    for (const qint64 size : sizes)
        QCOMPARE(reads.value(size),
                 int((size + Processor::CopyBufferSize - 1) / Processor::CopyBufferSize));
    QCOMPARE(flushes, 1);
}

void TestEngine::sparseFilesStaySparse()
{
    // 5 GiB with 4 KiB of data in the middle: counted whole (past 32 bits), the holes kept.
    constexpr qint64 Size = 5LL << 30;
    constexpr qint64 DataAt = 3LL << 30;
    const QByteArray data = randomBytes(4096);
    QVERIFY(QDir().mkpath(path("src")));
    {
        QFile file(path("src/sparse.img"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(Size) && file.seek(DataAt) &&
                file.write(data) == data.size());
    }
    QVERIFY(writeFile(path("src/dense.txt"), Content));
    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    const Outcome outcome = runJob(processor);
    QVERIFY(outcome.ran);
    QCOMPARE(outcome.failures, QStringList());
    QCOMPARE(outcome.bytesTotal, quint64(Size + Content.size()));
    QCOMPARE(outcome.bytesDone, outcome.bytesTotal);

    QFile copy(path("dst/sparse.img"));
    QCOMPARE(copy.size(), Size);
    QVERIFY(copy.open(QIODevice::ReadOnly) && copy.seek(DataAt));
    QCOMPARE(copy.read(data.size()), data);
    QVERIFY(copy.seek(DataAt - 4096));
    QCOMPARE(copy.read(4096), QByteArray(4096, '\0'));
    struct stat source;
    struct stat copied;
    QCOMPARE(::stat(native("src/sparse.img").constData(), &source), 0);
    QCOMPARE(::stat(native("dst/sparse.img").constData(), &copied), 0);
    QVERIFY2(
        copied.st_blocks <= source.st_blocks + 64,
        qPrintable(
            QStringLiteral("%1 blocks against %2").arg(copied.st_blocks).arg(source.st_blocks)));
    QCOMPARE(readFile(path("dst/dense.txt")), Content);
}

// --- pause, cancel and the job's life ---------------------------------------------------------

void TestEngine::pauseHoldsWorker()
{
    constexpr qint64 Size = 64 << 20;
    QVERIFY(makeBig("src/big.bin", Size));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QElapsedTimer wall;
    wall.start();
    processor.start();
    QVERIFY2(waitForBytes(processor, "big.bin"), "the copy never started");
    processor.pause();
    const quint64 held = processor.bytesDone();
    QVERIFY2(held < quint64(Size), "paused too late to hold anything");

    // A wait that must time out: the step in flight may land, nothing after it, and the clock
    // stands still.
    const quint32 elapsed = processor.elapsedSeconds();
    QVERIFY2(
        !spinUntil([&] { return processor.bytesDone() > held + Processor::CopyBufferSize; }, 1100),
        "bytes moved while paused");
    QCOMPARE(processor.currentFileDone(), processor.bytesDone());
    QCOMPARE(processor.elapsedSeconds(), elapsed);
    QVERIFY(!processor.isFinished());

    processor.resume();
    QVERIFY(processor.wait(QDeadlineTimer(60000)));
    QCOMPARE(processor.bytesDone(), quint64(Size));
    QVERIFY2(run("cmp", {path("src/big.bin"), path("dst/big.bin")}), "copy differs");
    QVERIFY2(qint64(processor.elapsedSeconds()) * 1000 <= wall.elapsed() - 1000,
             "the paused second was counted as running time");
    checkNoTemporaries();
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
    constexpr qint64 Size = 64 << 20;
    QVERIFY(makeBig("src/big.bin", Size));
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
    checkNoTemporaries();
    QCOMPARE(processor.failureCount(), 0);
    QCOMPARE(processor.filesDone(), 1u); // abandoned, but its transfer had begun
    QVERIFY(processor.bytesDone() < quint64(Size));
}

void TestEngine::sourceCutShortWhileRead()
{
    constexpr qint64 Size = 64 << 20;
    QVERIFY(makeBig("src/big.bin", Size));
    QVERIFY(writeFile(path("src/next.txt"), Content));
    QVERIFY(writeFile(path("dst/big.bin"), Content));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.start();
    QVERIFY2(waitForBytes(processor, "big.bin"), "the copy never started");
    processor.pause();
    QVERIFY(processor.bytesDone() < quint64(Size));
    QVERIFY(QFile::resize(path("src/big.bin"), qint64(processor.bytesDone())));
    processor.resume();
    const Outcome outcome = runJob(processor);
    QCOMPARE(outcome.failures, QStringList{"2 src/big.bin"});
    QCOMPARE(readFile(path("dst/big.bin")), Content);
    QCOMPARE(readFile(path("dst/next.txt")), Content);
    checkNoTemporaries();
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

// --- failures, through the real system ----------------------------------------------------

void TestEngine::unreadableSourcesAreRecorded_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("failures");
    QTest::addColumn<QStringList>("copied");
    QTest::newRow("file and folder without permission")
        << "src" << QStringList{"0 src/closed", "0 src/locked.txt"}
        << QStringList{"open.txt", "sub/", "sub/inner.txt"};
    QTest::newRow("root without permission")
        << "src/closed" << QStringList{"0 src/closed"} << QStringList{};
    QTest::newRow("missing root") << "src/missing" << QStringList{"0 src/missing"} << QStringList{};
}

// A source folder that cannot be listed is not an empty one: the job records it and makes no
// empty folder in its place that would pass for a complete copy.
void TestEngine::unreadableSourcesAreRecorded()
{
    QFETCH(QString, source);
    QFETCH(QStringList, failures);
    QFETCH(QStringList, copied);
    QVERIFY(makeTree(
        {"src/locked.txt", "src/open.txt", "src/closed/hidden.txt", "src/sub/inner.txt", "dst/"}));
    QCOMPARE(::chmod(native("src/locked.txt").constData(), 0200), 0);
    QCOMPARE(::chmod(native("src/closed").constData(), 0), 0);
    QCOMPARE(::chmod(native("dst").constData(), 0777), 0);

    const Outcome outcome = runRunner(AsNobody, {path(source), path("dst/copy")});
    QVERIFY2(outcome.ran, qPrintable(outcome.output));
    QCOMPARE(outcome.failures, failures);
    if (copied.isEmpty())
        QVERIFY2(!QFileInfo::exists(path("dst/copy")), "no empty copy of an unreadable root");
    else
        QCOMPARE(treeOf(path("dst/copy")), copied);
    checkNoTemporaries();
}

void TestEngine::failedWritesKeepTheOldDestination_data()
{
    QTest::addColumn<QStringList>("wrapper");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("fullDisk");
    // Past the limit a write comes back short, then fails; the process must not be killed.
    QTest::newRow("file-size limit, small file") << limitFileSize(20000) << qint64(30000) << false;
    QTest::newRow("file-size limit, large file")
        << limitFileSize(300000) << qint64(3 << 20) << false;
    QTest::newRow("failed close") << injectFault("posix/io/oc/close") << qint64(100) << false;
    QTest::newRow("full disk") << QStringList() << qint64(3 << 20) << true;
}

void TestEngine::failedWritesKeepTheOldDestination()
{
    QFETCH(QStringList, wrapper);
    QFETCH(qint64, size);
    QFETCH(bool, fullDisk);
    if (fullDisk && !mount({"-t", "tmpfs", "-o", "size=1m", "tmpfs"}, path("dst")))
        QSKIP("needs root to mount a small tmpfs as a full disk");
    QVERIFY(makeBig("src/big.bin", size));
    QVERIFY(writeFile(path("dst/big.bin"), "old"));

    const Outcome outcome = runRunner(wrapper, {path("src"), path("dst")});
    QVERIFY2(outcome.ran, qPrintable(outcome.output));
    QCOMPARE(outcome.failures, QStringList{"3 src/big.bin"});
    QCOMPARE(outcome.filesDone, 1u);
    QCOMPARE(readFile(path("dst/big.bin")), QByteArray("old"));
    checkNoTemporaries();
}

void TestEngine::sourceReadError()
{
    // The kernel copies a small file within one kind of file system without read(); a source
    // on a file system of another kind makes the engine read, where the fault is injected.
    if (!mount({"-t", "tmpfs", "-o", "size=1m", "tmpfs"}, path("src")))
        QSKIP("needs root to mount a tmpfs for the source");
    QVERIFY(makeTree({"src/a.txt", "src/b.txt"}));
    QVERIFY(writeFile(path("dst/a.txt"), "old"));
    const Outcome outcome = runRunner(injectFault("posix/io/rw/pread"), {path("src"), path("dst")});
    QVERIFY2(outcome.ran, qPrintable(outcome.output));
    QCOMPARE(outcome.failures, (QStringList{"2 src/a.txt", "2 src/b.txt"}));
    QCOMPARE(outcome.filesDone, 2u);
    QCOMPARE(readFile(path("dst/a.txt")), QByteArray("old"));
    QVERIFY(!QFileInfo::exists(path("dst/b.txt")));
    checkNoTemporaries();
}

void TestEngine::targetOpenError()
{
    QVERIFY(makeTree({"src/ro/a.txt", "src/b.txt", "dst/ro/"}));
    QCOMPARE(::chmod(native("dst").constData(), 0777), 0);
    QCOMPARE(::chmod(native("dst/ro").constData(), 0555), 0);

    const Outcome outcome = runRunner(AsNobody, {path("src"), path("dst")});
    QVERIFY2(outcome.ran, qPrintable(outcome.output));
    QCOMPARE(outcome.failures, QStringList{"1 src/ro/a.txt"});
    QCOMPARE(outcome.filesDone, 1u);
    QCOMPARE(readFile(path("dst/b.txt")), QByteArray("src/b.txt"));
    QCOMPARE(treeOf(path("dst/ro")), QStringList());
}

// A folder bearing the file's name cannot be removed; an immutable file cannot be replaced.
void TestEngine::targetRemoveAndReplaceErrors()
{
    QVERIFY(makeTree({"src/a.txt", "src/b.txt", "src/c.txt", "dst/a.txt/inside.txt"}));
    QVERIFY(writeFile(path("dst/b.txt"), "old"));
    const bool immutable = run("chattr", {"+i", path("dst/b.txt")});
    if (immutable)
        m_cleanup->add([this] { run("chattr", {"-i", path("dst/b.txt")}); });

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    const Outcome outcome = runJob(processor);
    QStringList expected{"4 src/a.txt"};
    if (immutable)
        expected.append("5 src/b.txt");
    QCOMPARE(outcome.failures, expected);
    QCOMPARE(outcome.filesDone, 3u);
    QCOMPARE(readFile(path("dst/a.txt/inside.txt")), QByteArray("dst/a.txt/inside.txt"));
    QCOMPARE(readFile(path("dst/b.txt")), immutable ? QByteArray("old") : QByteArray("src/b.txt"));
    QCOMPARE(readFile(path("dst/c.txt")), QByteArray("src/c.txt"));
    checkNoTemporaries();
    if (!immutable)
        QSKIP("needs CAP_LINUX_IMMUTABLE and chattr for the replace error");
}

void TestEngine::folderThatCannotBeMade_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QStringList>("failed");
    QTest::addColumn<QStringList>("copied");
    QTest::newRow("a sub-folder") << "dst"
                                  << "dst/sub"
                                  << QStringList{"1 src/sub/b.txt", "1 src/sub/deep/c.txt"}
                                  << QStringList{"a.txt"};
    QTest::newRow("the target root")
        << "dst/inner"
        << "dst" << QStringList{"1 src/a.txt", "1 src/sub/b.txt", "1 src/sub/deep/c.txt"}
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
    const Outcome outcome = runJob(processor);
    QCOMPARE(outcome.failures, failed);
    QCOMPARE(readFile(path(blocker)), QByteArray("in the way"));
    for (const QString &file : copied)
        QCOMPARE(readFile(path("dst/") + file), readFile(path("src/") + file));
    QCOMPARE(outcome.filesTotal, 3u);
    QCOMPARE(outcome.filesDone, quint64(copied.size()));
    checkNoTemporaries();
}

// A disk image on a file system too small to hold it: the copy lands in the page cache, and
// only writing it out to the device fails. The job must not end as a clean success.
void TestEngine::writeBackFailureIsRecorded()
{
    if (!mount({"-t", "tmpfs", "-o", "size=8m", "tmpfs"}, path("backing")))
        QSKIP("needs root to mount a tmpfs");
    QVERIFY(run("truncate", {"-s", "128M", path("backing/disk.img")}));
    QVERIFY(run("mkfs.ext4",
                {"-q", "-E", "lazy_itable_init=0,lazy_journal_init=0", path("backing/disk.img")}));
    if (!mount({"-o", "loop", path("backing/disk.img")}, path("disk")))
        QSKIP("needs a loop device");
    QVERIFY(makeBig("src/big.bin", 32 << 20));

    Processor processor(path("src"), path("disk/copy"), OverwriteAll, true, false);
    const Outcome outcome = runJob(processor);
    QVERIFY(outcome.ran);
    QCOMPARE(outcome.failures, QStringList{"3 disk/copy"});
    const CopyError failure = processor.failures().constFirst();
    QVERIFY2(!failure.reason().isEmpty(), "the system's reason is kept");
}

// --- hostile trees ----------------------------------------------------------------------------

void TestEngine::neverWritesIntoItsSource_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("all") << int(OverwriteAll);
    QTest::newRow("none") << int(OverwriteNone);
    QTest::newRow("older") << int(OverwriteOlder);
    QTest::newRow("smaller") << int(OverwriteSmaller);
}

// Copying W/photos into W while it holds a folder of its own name: that folder's destination is
// the source root itself.
void TestEngine::neverWritesIntoItsSource()
{
    QFETCH(int, mode);
    QVERIFY(makeTree({"W/photos/f", "W/photos/photos/f", "W/photos/photos/photos/g"}));
    QVERIFY(setModified(path("W/photos/f"), 1500000000));

    Processor processor(path("W/photos"), path("W"), OverwriteMode(mode), true, false);
    const Outcome outcome = runJob(processor);
    QCOMPARE(readFile(path("W/photos/f")), QByteArray("W/photos/f"));
    QCOMPARE(readFile(path("W/photos/photos/f")), QByteArray("W/photos/photos/f"));
    QCOMPARE(readFile(path("W/photos/photos/photos/g")), QByteArray("W/photos/photos/photos/g"));
    QCOMPARE(outcome.failures, (QStringList{"1 W/photos/photos/f", "1 W/photos/photos/photos/g"}));
    QCOMPARE(readFile(path("W/f")), QByteArray("W/photos/f"));
    checkNoTemporaries();
}

void TestEngine::linksAreFollowedOnce_data()
{
    QTest::addColumn<QStringList>("links");  // "link -> target", relative to the test folder
    QTest::addColumn<QStringList>("copied"); // each source file once, whatever name it got
    const QStringList tree{"src/a/b/deep.txt", "src/a/inner.txt", "src/top.txt"};
    QTest::newRow("back up the tree")
        << QStringList{"src/a/b/up -> src", "src/a/self -> src/a"} << tree;
    QTest::newRow("to a folder of the tree") << QStringList{"src/alias -> src/a/b"} << tree;
    QTest::newRow("into the copy") << QStringList{"src/into -> dst", "src/a/l -> dst/a"} << tree;
    QTest::newRow("outside, twice") << QStringList{"src/x -> out/f1", "src/y -> out/f1"}
                                    << tree + QStringList{"out/f1/file.txt"};
    // Eight folders that each link to all others: every path through them would be a copy.
    QStringList farm;
    QStringList farmCopy = tree;
    for (int i = 1; i <= 8; ++i) {
        farm.append(QStringLiteral("src/f%1 -> out/f%1").arg(i));
        farmCopy.append(QStringLiteral("out/f%1/file.txt").arg(i));
        for (int j = 1; j <= 8; ++j) {
            if (i != j)
                farm.append(QStringLiteral("out/f%1/l%2 -> out/f%2").arg(i).arg(j));
        }
    }
    QTest::newRow("link farm") << farm << farmCopy;
}

void TestEngine::linksAreFollowedOnce()
{
    QFETCH(QStringList, links);
    QFETCH(QStringList, copied);
    QVERIFY(makeTree({"src/top.txt", "src/a/inner.txt", "src/a/b/deep.txt", "dst/"}));
    for (int i = 1; i <= 8; ++i)
        QVERIFY(makeTree({QStringLiteral("out/f%1/file.txt").arg(i)}));
    for (const QString &link : links) {
        const QStringList parts = link.split(" -> ");
        QVERIFY(QDir().mkpath(QFileInfo(path(parts[0])).path()));
        QVERIFY(QFile::link(path(parts[1]), path(parts[0])));
    }

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    const Outcome outcome = runJob(processor);
    QVERIFY2(outcome.ran, "the walk must end");
    QCOMPARE(outcome.failures, QStringList());
    // Files carry their source path: the copy holds each source file exactly once.
    QStringList found;
    for (const QString &entry : treeOf(path("dst"))) {
        if (!entry.endsWith(u'/'))
            found.append(QString::fromUtf8(readFile(path("dst/" + entry))));
    }
    found.sort();
    copied.sort();
    QCOMPARE(found, copied);
    for (const char *file : {"a/b/deep.txt", "a/inner.txt", "top.txt"})
        QVERIFY2(QFileInfo::exists(path("dst/") + QLatin1String(file)), "folders keep their names");
    QCOMPARE(outcome.filesDone, outcome.filesTotal);
}

// What the job did not make itself it does not enter through a link, and what it entered stays
// the folder it entered, whatever is put in its place meanwhile.
void TestEngine::destinationLinksAreNotFollowed()
{
    QVERIFY(makeTree({"src/linked/a.txt", "src/swapped/z.txt", "outside/"}));
    QVERIFY(makeBig("src/swapped/big.bin", 32 << 20));
    QVERIFY(QDir().mkpath(path("dst")));
    QVERIFY(QFile::link(path("outside"), path("dst/linked")));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.start();
    QVERIFY2(waitForBytes(processor, "big.bin"), "the copy never started");
    processor.pause();
    QVERIFY(QDir().rename(path("dst/swapped"), path("moved")));
    QVERIFY(QFile::link(path("outside"), path("dst/swapped")));
    processor.resume();
    const Outcome outcome = runJob(processor);

    QCOMPARE(outcome.failures, QStringList{"1 src/linked/a.txt"});
    QCOMPARE(treeOf(path("outside")), QStringList());
    QVERIFY2(run("cmp", {path("src/swapped/big.bin"), path("moved/big.bin")}),
             "the folder entered keeps its files");
    checkNoTemporaries();
}

void TestEngine::deepTrees_data()
{
    QTest::addColumn<int>("descriptors"); // 0: the usual limit
    QTest::addColumn<bool>("complete");
    QTest::newRow("usual limit") << 0 << true;
    QTest::newRow("16 descriptors") << 16 << true;
    QTest::newRow("9 descriptors") << 9 << false;
}

// A tree whose deepest path is far longer than the system takes in one call is copied whole,
// and with too few descriptors, whatever is missing is recorded.
void TestEngine::deepTrees()
{
    QFETCH(int, descriptors);
    QFETCH(bool, complete);
    // Made one level at a time relative to the last, as no path this long can be used whole.
    const QByteArray level(100, 'd');
    QVERIFY(QDir().mkpath(path("src")));
    int fd = ::open(native("src").constData(), O_RDONLY | O_DIRECTORY);
    for (int depth = 0; depth < 65; ++depth) {
        QVERIFY(writeFile(QStringLiteral("/proc/self/fd/%1/f%2").arg(fd).arg(depth), "x"));
        QCOMPARE(::mkdirat(fd, level.constData(), 0755), 0);
        const int next = ::openat(fd, level.constData(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    QVERIFY(writeFile(QStringLiteral("/proc/self/fd/%1/leaf.txt").arg(fd), Content));
    ::close(fd);
    QVERIFY(path("src").size() + 65 * (level.size() + 1) > 6000);

    const QStringList wrapper =
        descriptors ? QStringList{"prlimit", QStringLiteral("--nofile=%1").arg(descriptors)}
                    : QStringList();
    const Outcome outcome = runRunner(wrapper, {path("src"), path("dst")});
    QVERIFY2(outcome.ran, qPrintable(outcome.output));
    QCOMPARE(outcome.filesTotal, 66u);
    if (complete) {
        QCOMPARE(outcome.failures, QStringList());
        QCOMPARE(outcome.filesDone, 66u);
        // diff and QDir stop at the path limit; find walks relative to each folder.
        QString source;
        QString copy;
        QVERIFY(run("find", {path("src"), "-type", "f", "-printf", "%s %P\\n"}, &source));
        QVERIFY(run("find", {path("dst"), "-type", "f", "-printf", "%s %P\\n"}, &copy));
        QCOMPARE(copy, source);
        QVERIFY(source.contains(QStringLiteral("%1 ").arg(Content.size()) + level + "/"));
    } else {
        QVERIFY2(outcome.filesDone < 66 && !outcome.failures.isEmpty(),
                 "what could not be copied is recorded");
    }
}

void TestEngine::caseBlindDestination_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("all") << int(OverwriteAll);
    QTest::newRow("none") << int(OverwriteNone);
}

// On a disk that ignores letter case, two source names that fold into one land on one name: the
// second must fail, never replace the first or pass as already there.
void TestEngine::caseBlindDestination()
{
    QFETCH(int, mode);
    if (!run("truncate", {"-s", "32M", path("exfat.img")}) ||
        !run("mkfs.exfat", {path("exfat.img")}))
        QSKIP("needs mkfs.exfat (exfatprogs)");
    QString loop;
    if (!run("losetup", {"-f", "--show", path("exfat.img")}, &loop))
        QSKIP("needs a loop device");
    loop = loop.trimmed();
    m_cleanup->add([loop] { run("losetup", {"-d", loop}); });
    QVERIFY(QDir().mkpath(path("stick")));
    if (!run("mount.exfat-fuse", {loop, path("stick")}))
        QSKIP("needs exfat-fuse and FUSE");
    m_cleanup->add([this] { run("umount", {path("stick")}); });
    const QStringList sources{"src/A.txt", "src/Sub/x.txt", "src/a.txt", "src/sub/x.txt",
                              "src/sub/y.txt"};
    QVERIFY(makeTree(sources));

    Processor processor(path("src"), path("stick/dst"), OverwriteMode(mode), true, false);
    const Outcome outcome = runJob(processor);
    QCOMPARE(outcome.filesTotal, 5u);
    // Whichever name came first, the copy holds its content whole, and every other is recorded.
    QStringList accounted;
    for (const QString &file : treeOf(path("stick/dst"))) {
        if (file.endsWith(u'/'))
            continue;
        QCOMPARE(readFile(path("stick/dst/" + file)), ("src/" + file).toUtf8());
        accounted.append("src/" + file);
    }
    QVERIFY2(accounted.size() >= 2, qPrintable(accounted.join(u' ')));
    for (const QString &failure : outcome.failures) {
        QVERIFY2(failure.startsWith("1 "), qPrintable(failure));
        accounted.append(failure.mid(2));
    }
    accounted.sort();
    QCOMPARE(accounted, sources);
}

void TestEngine::nameTakenDuringCopy_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("theirsStays");
    QTest::newRow("no files") << int(OverwriteNone) << true;
    QTest::newRow("all files") << int(OverwriteAll) << false;
}

// A file that appears at the destination name while a long copy of that name runs.
void TestEngine::nameTakenDuringCopy()
{
    QFETCH(int, mode);
    QFETCH(bool, theirsStays);
    QVERIFY(makeBig("src/big.bin", 32 << 20));
    QVERIFY(QDir().mkpath(path("dst")));

    Processor processor(path("src"), path("dst"), OverwriteMode(mode), true, false);
    processor.start();
    QVERIFY2(waitForBytes(processor, "big.bin"), "the copy never started");
    processor.pause();
    QVERIFY(writeFile(path("dst/big.bin"), "theirs"));
    processor.resume();
    const Outcome outcome = runJob(processor);
    QCOMPARE(outcome.failures, QStringList());
    if (theirsStays)
        QCOMPARE(readFile(path("dst/big.bin")), QByteArray("theirs"));
    else
        QVERIFY(run("cmp", {path("src/big.bin"), path("dst/big.bin")}));
    checkNoTemporaries();
}

// Whatever bears the next temporary name, a pipe even, is refused, never waited on.
void TestEngine::pipePlantedAtTemporaryName()
{
    QVERIFY(makeBig("src/a/big.bin", 32 << 20));
    QVERIFY(writeFile(path("src/next.txt"), Content));
    QVERIFY(writeFile(path("dst/a/big.bin"), "old"));
    QVERIFY(writeFile(path("dst/next.txt"), "old"));

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.start();
    QVERIFY2(waitForBytes(processor, "big.bin"), "the copy never started");
    processor.pause();
    const QStringList temporaries = strayTemporaries(path("dst"));
    QCOMPARE(temporaries.size(), 1);
    const QString prefix = QFileInfo(temporaries.first()).fileName().left(37);
    QCOMPARE(::mkfifo(native("dst/" + prefix + "next.txt").constData(), 0644), 0);
    processor.resume();
    const Outcome outcome = runJob(processor);
    QVERIFY2(outcome.ran, "a pipe must not hold the job");
    QCOMPARE(outcome.failures, QStringList{"1 src/next.txt"});
    QCOMPARE(readFile(path("dst/next.txt")), QByteArray("old"));
    QVERIFY(run("cmp", {path("src/a/big.bin"), path("dst/a/big.bin")}));
}

void TestEngine::longNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("255 ASCII bytes") << QString(255, u'n');
    // Multi-byte characters: the temporary name must not be cut inside one.
    QTest::newRow("127 two-byte characters") << QString(127, QChar(0xe9));
    QTest::newRow("85 three-byte characters") << QString(85, QChar(0x20ac));
}

void TestEngine::longNames()
{
    QFETCH(QString, name);
    QVERIFY2(writeFile(path("src/") + name, Content), "the file system refused the name");
    QVERIFY(writeFile(path("dst/") + name, "old")); // a replace needs a temporary name

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    QCOMPARE(runJob(processor).failures, QStringList());
    QCOMPARE(readFile(path("dst/") + name), Content);
    QCOMPARE(processor.currentFile(), name);
    checkNoTemporaries();
}

// --- retry ------------------------------------------------------------------------------------

void TestEngine::retryMakesFoldersAndMapsPaths()
{
    QVERIFY(makeTree({"src/a.txt", "src/sub/deep/b.txt", "src/c.txt", "dst/"}));
    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.setRetryFiles(QStringList{path("src/sub/deep/b.txt"), path("src/c.txt")});
    const Outcome outcome = runJob(processor);
    QCOMPARE(outcome.failures, QStringList());
    QCOMPARE(treeOf(path("dst")), QStringList({"c.txt", "sub/", "sub/deep/", "sub/deep/b.txt"}));
    QCOMPARE(readFile(path("dst/sub/deep/b.txt")), QByteArray("src/sub/deep/b.txt"));
    QCOMPARE(outcome.filesTotal, 2u);
    QCOMPARE(outcome.filesDone, 2u);
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
    const QStringList before = treeOf(m_dir->path());

    Processor processor(path("src"), path("dst"), OverwriteAll, true, false);
    processor.setRetryFiles({path(listed), path("src/in.txt")});
    const Outcome outcome = runJob(processor);
    QCOMPARE(outcome.failures, QStringList{"1 " + relative(path(listed))});
    QCOMPARE(outcome.filesTotal, 1u);
    QCOMPARE(readFile(path("dst/in.txt")), QByteArray("src/in.txt"));
    QStringList after = before + QStringList{"dst/in.txt"};
    after.sort();
    QCOMPARE(treeOf(m_dir->path()), after);
    QVERIFY(!QFileInfo::exists(path(blindTarget)) || readFile(path(blindTarget)) != "src/in.txt");
}

// A failed file whose name is not valid text keeps its exact name, so its retry reaches it.
void TestEngine::retryReachesNamesThatAreNotText()
{
    const QByteArray source = native("src/") + "caf\xe9.txt"; // Latin-1, not UTF-8
    const QByteArray target = native("dst/") + "caf\xe9.txt";
    QVERIFY(QDir().mkpath(path("src")) && QDir().mkpath(path("dst")));
    const int fd = ::open(source.constData(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(fd >= 0 && ::write(fd, Content.constData(), size_t(Content.size())) == Content.size());
    ::close(fd);
    // A folder where the file should go: the copy fails, and its text name is lossy.
    QCOMPARE(::mkdir(target.constData(), 0755), 0);
    Processor first(path("src"), path("dst"), OverwriteAll, true, false);
    runJob(first);
    const QList<CopyError> failures = first.failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.first().nativeFile(), source);

    QCOMPARE(::rmdir(target.constData()), 0);
    Processor retry(path("src"), path("dst"), OverwriteAll, true, false);
    retry.setRetryFiles(failures);
    QCOMPARE(runJob(retry).failures, QStringList());
    struct stat st;
    QCOMPARE(::stat(target.constData(), &st), 0);
    QCOMPARE(qint64(st.st_size), qint64(Content.size()));
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
