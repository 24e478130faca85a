// The copy engine against real files: every check reads back what lies on disk. The cases here
// hold on every platform; those that need a mechanism of POSIX systems are in tst_engine_posix.

#include "engine/filesinhand.h"
#include "tests/engine/enginetest.h"
#include "tests/support/filetree.h"
#include "tests/support/require.h"
#include "tests/support/wait.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using namespace TestFiles;

namespace {
const QByteArray Content = "the quick brown fox jumps over the lazy dog\n";

#ifdef Q_OS_WIN
constexpr bool DotHides = false; // hidden is an attribute there
#else
constexpr bool DotHides = true;
#endif

// The C library's words for an errno value, which the engine gives where it has one.
QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A shell shortcut where there are such things (Qt makes one for a link there, and takes one
// for a link); elsewhere a file of the name, which is all a shortcut is to a copy.
bool makeShortcut(const QString &target, const QString &shortcut)
{
#ifdef Q_OS_WIN
    return QFile::link(target, shortcut) && QFileInfo(shortcut).isShortcut();
#else
    return writeFile(shortcut, "shortcut to " + target.toUtf8());
#endif
}
} // namespace

class TestEngine : public EngineTest
{
    Q_OBJECT

private slots:
    void init() { setUpFolder(); }
    void cleanup() { tearDownFolder(); }

    void overwritePolicy_data();
    void overwritePolicy();
    void listingFilters_data();
    void listingFilters();
    void shortcutsAreFiles_data();
    void shortcutsAreFiles();
    void verifyPassesAGoodCopy_data();
    void verifyPassesAGoodCopy();
    void weeklyBackupWithOlderFiles_data();
    void weeklyBackupWithOlderFiles();

    void pauseHoldsWorker_data();
    void pauseHoldsWorker();
    void cancelKeepsOldDestination_data();
    void cancelKeepsOldDestination();
    void sourceChangedWhileCopied_data();
    void sourceChangedWhileCopied();
    void lifecycleMisuseIsHarmless();
    void filesInFlightShowTheOneWithMostLeft();

    void targetRemoveAndReplaceErrors();
    void folderThatCannotBeMade_data();
    void folderThatCannotBeMade();
    void neverWritesIntoItsSource_data();
    void neverWritesIntoItsSource();
    void nameTakenDuringCopy_data();
    void nameTakenDuringCopy();
    void folderRenamedWhileInIt_data();
    void folderRenamedWhileInIt();
    void longNames_data();
    void longNames();

    void retryMakesFoldersAndMapsPaths();
    void retryRefusesPathsOutsideSource_data();
    void retryRefusesPathsOutsideSource();
};

// --- what is copied ---------------------------------------------------------------------------

void TestEngine::overwritePolicy_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("destinationExists");
    // The destination's modification time against the source's, in nanoseconds, and its size
    // against the source's: -1 smaller, 0 equal, 1 larger.
    QTest::addColumn<qint64>("age");
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
    constexpr qint64 Later = 100'000'000'000;
    for (const Mode &m : modes) {
        const bool all =
            m.mode != OverwriteNone && m.mode != OverwriteOlder && m.mode != OverwriteSmaller;
        QTest::addRow("%s, no destination", m.name) << m.mode << false << 0LL << 0 << true;
        // Age rows keep the sizes equal; size rows make the destination newer.
        QTest::addRow("%s, older", m.name)
            << m.mode << true << -Later << 0 << (all || m.mode == OverwriteOlder);
        QTest::addRow("%s, same time", m.name) << m.mode << true << 0LL << 0 << all;
        // Times are compared to the millisecond, as programs that keep no finer set them.
        QTest::addRow("%s, same time to the millisecond, different nanoseconds", m.name)
            << m.mode << true << -456788LL << 0 << all;
        QTest::addRow("%s, newer", m.name) << m.mode << true << Later << 0 << all;
        QTest::addRow("%s, smaller", m.name)
            << m.mode << true << Later << -1 << (all || m.mode == OverwriteSmaller);
        QTest::addRow("%s, same size", m.name) << m.mode << true << Later << 0 << all;
        QTest::addRow("%s, larger", m.name) << m.mode << true << Later << 1 << all;
    }
}

void TestEngine::overwritePolicy()
{
    QFETCH(int, mode);
    QFETCH(bool, destinationExists);
    QFETCH(qint64, age);
    QFETCH(int, size);
    QFETCH(bool, copies);

    constexpr qint64 SourceTime = 1600000000'123456789;
    const QByteArray source = randomBytes(3000);
    QVERIFY(writeFile(path("src/f.bin"), source) && setModifiedNs(path("src/f.bin"), SourceTime));
    const QByteArray old(source.size() + size, 'o');
    QVERIFY(QDir().mkpath(path("dst")));
    if (destinationExists)
        QVERIFY(writeFile(path("dst/f.bin"), old) &&
                setModifiedNs(path("dst/f.bin"), SourceTime + age));

    const Outcome outcome = copy(OverwriteMode(mode));
    QVERIFY(outcome.ran);
    QCOMPARE(outcome.filesTotal, copies ? 1u : 0u);
    QCOMPARE(outcome.bytesTotal, copies ? quint64(source.size()) : 0u);
    QCOMPARE(outcome.filesDone, outcome.filesTotal);
    QCOMPARE(outcome.bytesDone, outcome.bytesTotal);
    QVERIFY2(readFile(path("dst/f.bin")) == (copies ? source : old),
             "the destination must be the source exactly when the rules let it through");
    QCOMPARE(outcome.failures, QStringList());
    QCOMPARE(strayTemporaries(), QStringList());

    // The copy is newer than its source, so the same job again leaves it alone.
    if (copies && mode == OverwriteOlder)
        QCOMPARE(copy(OverwriteOlder).filesTotal, 0u);
}

void TestEngine::listingFilters_data()
{
    QTest::addColumn<bool>("subFolders");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QStringList>("expected");

    // Hidden is a leading dot on Unix, the attribute on Windows: sub/.dot.txt bears only the
    // dot, sub/mark.txt only the attribute, the other hidden entries both.
    const QStringList visibleHere{DotHides ? "sub/mark.txt" : "sub/.dot.txt"};
    QTest::newRow("top level only") << false << false << QStringList{"a.txt"};
    QTest::newRow("top level with hidden") << false << true << QStringList{".h.txt", "a.txt"};
    QTest::newRow("sub-folders") << true << false
                                 << QStringList{"a.txt", "sub/", "sub/b.txt", "sub/empty/"} +
                                        visibleHere;
    QTest::newRow("sub-folders with hidden")
        << true << true
        << QStringList{".h.txt",     ".hsub/",    ".hsub/c.txt",  "a.txt",        "sub/",
                       "sub/.x.txt", "sub/b.txt", "sub/.dot.txt", "sub/mark.txt", "sub/empty/"};
}

void TestEngine::listingFilters()
{
    QFETCH(bool, subFolders);
    QFETCH(bool, hidden);
    QFETCH(QStringList, expected);
    expected.sort();

    QVERIFY(
        makeTree({"src/a.txt", "src/.h.txt", "src/sub/b.txt", "src/sub/.x.txt", "src/.hsub/c.txt",
                  "src/sub/empty/", "src/sub/.dot.txt", "src/sub/mark.txt"}));
#ifdef Q_OS_WIN
    for (const char *name : {"src/.h.txt", "src/sub/.x.txt", "src/.hsub", "src/sub/mark.txt"})
        QVERIFY(::SetFileAttributesW(reinterpret_cast<const wchar_t *>(path(name).utf16()),
                                     FILE_ATTRIBUTE_HIDDEN));
#endif
    Processor processor(path("src"), path("dst"), OverwriteAll, subFolders, hidden);
    const Outcome outcome = runJob(processor);
    QVERIFY(outcome.ran);
    QCOMPARE(outcome.failures, QStringList());

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

void TestEngine::shortcutsAreFiles_data()
{
    QTest::addColumn<int>("mode");
    // Older files of the shortcuts' names at the destination.
    QTest::addColumn<bool>("namesTaken");
    QTest::addColumn<bool>("copied");
    QTest::newRow("no files, names free") << int(OverwriteNone) << false << true;
    QTest::newRow("no files, names taken") << int(OverwriteNone) << true << false;
    QTest::newRow("all files, names taken") << int(OverwriteAll) << true << true;
}

// A shortcut is a file of its own bytes, counted and copied as such, whatever it leads to and
// whether or not that exists.
void TestEngine::shortcutsAreFiles()
{
    QFETCH(int, mode);
    QFETCH(bool, namesTaken);
    QFETCH(bool, copied);
    QVERIFY(makeTree({"src/file.txt", "src/folder/inside.txt", "src/gone.txt"}));
    const QStringList shortcuts{"to file.lnk", "to folder.lnk", "to nothing.lnk"};
    const QStringList targets{"file.txt", "folder", "gone.txt"};
    for (qsizetype i = 0; i < shortcuts.size(); ++i)
        QVERIFY(makeShortcut(path("src/" + targets[i]), path("src/" + shortcuts[i])) &&
                (!namesTaken || writeFile(path("dst/" + shortcuts[i]), "older")));
    QVERIFY(QFile::remove(path("src/gone.txt")));

    const Outcome outcome = copy(OverwriteMode(mode));
    QCOMPARE(outcome.failures, QStringList());
    QStringList files{"file.txt", "folder/inside.txt"};
    if (copied)
        files += shortcuts;
    quint64 bytes = 0;
    for (const QString &file : std::as_const(files)) {
        QVERIFY2(sameContent(path("src/" + file), path("dst/" + file)), qPrintable(file));
        bytes += quint64(readFile(path("src/" + file)).size()); // Qt would give a target's size
    }
    for (const QString &name : shortcuts)
        QVERIFY(copied || readFile(path("dst/" + name)) == "older");
    QCOMPARE(outcome.filesTotal, quint64(files.size()));
    QCOMPARE(outcome.bytesTotal, bytes);
    QCOMPARE(outcome.filesDone, outcome.filesTotal);
    QCOMPARE(outcome.bytesDone, outcome.bytesTotal);
}

void TestEngine::verifyPassesAGoodCopy_data()
{
    QTest::addColumn<bool>("inRunner");
    QTest::newRow("setVerification") << false;
    QTest::newRow("engine_runner --verify") << true;
}

// Read back from the device, a good copy is found good: nested folders, a name beyond ASCII, an
// empty file, one that replaced an older one, one larger than a read-back step.
void TestEngine::verifyPassesAGoodCopy()
{
    QFETCH(bool, inRunner);
    const QStringList files{"a.txt", "big.bin", "sub/deep/b.txt", "sub/zero.bin",
                            QString::fromUtf8("sub/\u00e9\u20ac.txt")};
    QVERIFY(makeTree({"src/a.txt", "src/sub/deep/b.txt", "src/" + files.last(), "src/empty/"}));
    QVERIFY(makeBig("src/big.bin", (3 << 20) + 123) && writeFile(path("src/sub/zero.bin"), {}));
    QVERIFY(writeFile(path("dst/a.txt"), "older"));

    Outcome outcome;
    if (inRunner) {
        outcome = runRunner({}, {"--verify", path("src"), path("dst")});
    } else {
        const auto processor = job();
        processor->setVerification(Processor::Verification::ReadBack);
        outcome = runJob(*processor);
    }
    QVERIFY2(outcome.ran, qPrintable(outcome.output));
    QCOMPARE(outcome.failures, QStringList());
    QCOMPARE(outcome.filesVerified, quint64(files.size()));
    for (const QString &file : files)
        QVERIFY2(sameContent(path("src/" + file), path("dst/" + file)), qPrintable(file));
}

void TestEngine::weeklyBackupWithOlderFiles_data()
{
    QTest::addColumn<bool>("keepDates");
    QTest::newRow("new dates") << false;
    QTest::newRow("keep dates") << true;
}

// With "Keep dates" every copy, file and folder, bears its source's time; without, the time it
// was written. Either way the same job again with "Older files" copies nothing, and after an
// edit exactly the file edited.
void TestEngine::weeklyBackupWithOlderFiles()
{
    QFETCH(bool, keepDates);
    const QStringList entries{"",          "a.txt",    "empty",         "sub",
                              "sub/b.txt", "sub/deep", "sub/deep/c.txt"};
    QVERIFY(makeTree({"src/a.txt", "src/sub/b.txt", "src/sub/deep/c.txt", "src/empty/"}));
    constexpr qint64 Dated = 1561939200'123456789;      // 2019, to the nanosecond
    for (qsizetype i = entries.size() - 1; i >= 0; --i) // files before the folders holding them
        QVERIFY(setModifiedNs(path("src/" + entries[i]), Dated + i * 1000000000));
    const auto backup = [&] {
        const auto processor = job(OverwriteOlder);
        if (keepDates)
            processor->setDates(Processor::Dates::Keep);
        return runJob(*processor);
    };
    const qint64 started = QDateTime::currentMSecsSinceEpoch() * 1000000;
    QCOMPARE(backup().failures, QStringList());
    for (const QString &entry : entries) {
        const qint64 copied = modifiedNs(path("dst/" + entry));
        QVERIFY2(keepDates ? copied == modifiedNs(path("src/" + entry)) : copied > started - 2e9,
                 qPrintable(entry));
    }
    QCOMPARE(backup().filesTotal, 0u);

    QVERIFY(writeFile(path("src/sub/b.txt"), "edited"));
    const qint64 edited = (QDateTime::currentSecsSinceEpoch() + 3600) * 1000000000;
    QVERIFY(setModifiedNs(path("src/sub/b.txt"), edited));
    const Outcome again = backup();
    QCOMPARE(again.failures, QStringList());
    QCOMPARE(again.filesTotal, 1u);
    QCOMPARE(readFile(path("dst/sub/b.txt")), "edited");
    if (keepDates)
        QVERIFY(modifiedNs(path("dst/sub/b.txt")) == edited &&
                modifiedNs(path("dst/sub")) == modifiedNs(path("src/sub")));
}

// --- pause, cancel and the job's life ---------------------------------------------------------

void TestEngine::pauseHoldsWorker_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<qint64>("step"); // the most a step in flight may still move
    QTest::newRow("copying") << int(PhaseKind::Copy) << Processor::CopyBufferSize;
    // Windows reads a copy back in steps of 1 MiB, straight from the device.
    QTest::newRow("reading back") << int(PhaseKind::Verify) << qint64(1 << 20);
}

void TestEngine::pauseHoldsWorker()
{
    QFETCH(int, phase);
    QFETCH(qint64, step);
    constexpr qint64 Size = 64 << 20;
    QVERIFY(makeBig("src/big.bin", Size));

    const auto processor = job();
    processor->setVerification(Processor::Verification::ReadBack);
    const PhaseKind pausedIn = PhaseKind(phase);
    const auto moved = [&] { return processor->progress(pausedIn).bytesDone; };
    QElapsedTimer wall;
    wall.start();
    processor->start();
    QVERIFY2(spinUntil([&] {
                 return processor->isFinished() || (processor->phase() == pausedIn && moved() > 0);
             }),
             "never reached");
    processor->pause();
    QVERIFY2(!processor->isFinished() && moved() < quint64(Size),
             "paused too late to hold anything");
    const quint64 held = moved();

    // A wait that must time out: the step in flight may land, nothing after it, and the clock
    // stands still.
    const quint32 elapsed = processor->elapsedSeconds();
    QVERIFY2(!spinUntil([&] { return moved() > held + quint64(step); }, 1100),
             "bytes moved while paused");
    QCOMPARE(processor->currentFileDone(), moved());
    QCOMPARE(processor->elapsedSeconds(), elapsed);
    QVERIFY(!processor->isFinished());

    processor->resume();
    QVERIFY(processor->wait(QDeadlineTimer(60000)));
    QCOMPARE(processor->bytesDone(), quint64(Size));
    QCOMPARE(processor->progress(PhaseKind::Verify).filesSucceeded, 1u);
    QVERIFY2(sameContent(path("src/big.bin"), path("dst/big.bin")), "copy differs");
    QVERIFY2(qint64(processor->elapsedSeconds()) * 1000 <= wall.elapsed() - 1000,
             "the paused second was counted as running time");
    QCOMPARE(strayTemporaries(), QStringList());
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

    const auto processor = job();
    QVERIFY2(pauseInside(*processor, "big.bin"), "the copy never started");
    if (!whilePaused)
        processor->resume();
    processor->cancel();
    QVERIFY2(processor->wait(QDeadlineTimer(20000)), "cancel must release the worker");

    QVERIFY(processor->isCancelled());
    QVERIFY2(readFile(path("dst/big.bin")) == old, "the old destination must stay as it was");
    QCOMPARE(strayTemporaries(), QStringList());
    QCOMPARE(processor->failureCount(), 0);
    QCOMPARE(processor->filesDone(), 1u); // abandoned, but its transfer had begun
    QVERIFY(processor->bytesDone() < quint64(Size));
}

void TestEngine::sourceChangedWhileCopied_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("reason");
    const QString changed = "The file changed while it was copied";
    QTest::newRow("cut short") << "cut"
                               << "The file became shorter while it was copied";
    QTest::newRow("saved again at the same size") << "rewrite" << changed;
    QTest::newRow("appended to") << "append" << changed;
}

// A copy that holds part of one version and part of another matches no file that ever existed:
// it is not put in place.
void TestEngine::sourceChangedWhileCopied()
{
    QFETCH(QString, change);
    QFETCH(QString, reason);
    constexpr qint64 Size = 64 << 20;
    QVERIFY(makeBig("src/big.bin", Size));
    QVERIFY(writeFile(path("src/next.txt"), Content));
    QVERIFY(writeFile(path("dst/big.bin"), Content));

    const auto processor = job();
    QVERIFY2(pauseInside(*processor, "big.bin"), "the copy never started");
    QFile source(path("src/big.bin"));
    if (change == "cut")
        QVERIFY(source.resize(qint64(processor->bytesDone())));
    else if (change == "rewrite") // in place, never shorter: a step still in flight reads on
        QVERIFY(source.open(QIODevice::ReadWrite) && source.write(randomBytes(Size)) == Size);
    else
        QVERIFY(source.open(QIODevice::Append) && source.write("more") == 4);
    source.close();
    processor->resume();
    const Outcome outcome = runJob(*processor);
    QCOMPARE(outcome.failures, QStringList{"2 src/big.bin"});
    QCOMPARE(processor->failures().constFirst().reason(), reason);
    QCOMPARE(readFile(path("dst/big.bin")), Content);
    QCOMPARE(readFile(path("dst/next.txt")), Content);
    QCOMPARE(strayTemporaries(), QStringList());
}

void TestEngine::lifecycleMisuseIsHarmless()
{
    QVERIFY(makeTree({"src/a.txt", "src/b.txt"}));
    {
        // Resume without a pause, a second pause, and the object deleted while paused.
        const auto processor = job();
        processor->resume();
        processor->pause();
        processor->pause();
        QCOMPARE(processor->elapsedSeconds(), 0u);
        processor->start();
        QVERIFY(!processor->wait(QDeadlineTimer(50)));
    } // must not hang here
    QVERIFY2(!QFile::exists(path("dst/a.txt")), "a job paused before it began copies nothing");

    const auto processor = job();
    processor->pause();
    processor->start();
    processor->cancel();
    processor->cancel();
    processor->resume(); // after a cancel: nothing left to release
    processor->pause();  // after a cancel: must not hold the lock again
    QVERIFY(processor->wait(QDeadlineTimer(20000)));
    QVERIFY(processor->isCancelled());
    QCOMPARE(processor->filesDone(), 0u);
}

// Several files in flight: the window follows the one with the most bytes left, and once none is
// in hand, the last one shown stays.
void TestEngine::filesInFlightShowTheOneWithMostLeft()
{
    FilesInHand files;
    const int small = files.take("small", 100);
    const int large = files.take("large", 5000);
    const int middle = files.take("middle", 3000);
    QCOMPARE(files.shown().name, "large");
    files.setDone(large, 4000);
    QCOMPARE(files.shown().name, "middle");
    files.give(middle);
    files.give(small);
    QCOMPARE(files.shown().name, "large");
    QCOMPARE(files.shown().done, 4000u);
    files.give(large);
    QCOMPARE(files.shown().name, "large");
    QCOMPARE(files.take("next", 1), small); // a slot given back is taken again
}

// --- failures -----------------------------------------------------------------------------------

// A folder bearing the file's name cannot be removed. A read-only file is replaced on Linux,
// where only an immutable one cannot be; on Windows, where a read-only file cannot be deleted,
// it is kept and listed as one that could not be removed. There a file another program holds
// unshared can be neither read (f.txt) nor replaced (e.txt); Linux has no such locks.
void TestEngine::targetRemoveAndReplaceErrors()
{
    QVERIFY(makeTree({"src/a.txt", "src/b.txt", "src/c.txt", "src/d.txt", "src/e.txt", "src/f.txt",
                      "dst/a.txt/inside.txt"}));
    for (const char *name : {"dst/b.txt", "dst/d.txt", "dst/e.txt"})
        QVERIFY(writeFile(path(name), "old"));
    QVERIFY(QFile::setPermissions(path("dst/d.txt"), QFile::ReadOwner | QFile::ReadOther));
    // The failures and the system's words for them, where they are the same on every version.
#ifdef Q_OS_WIN
    // e.txt shared for reading alone, so that the test can read it back.
    for (const char *name : {"dst/e.txt", "src/f.txt"}) {
        const HANDLE held =
            ::CreateFileW(reinterpret_cast<const wchar_t *>(path(name).utf16()), GENERIC_READ,
                          name[0] == 'd' ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        m_cleanup->add([held] { ::CloseHandle(held); });
    }
    const QMap<QString, QString> failed{{"0 src/f.txt", qt_error_string(ERROR_SHARING_VIOLATION)},
                                        {"4 src/a.txt", errnoText(EISDIR)},
                                        {"4 src/d.txt", errnoText(EACCES)},
                                        {"5 src/e.txt", QString()}};
    const QStringList kept{"d.txt", "e.txt"};
    const quint64 opened = 5; // f.txt never was
#else
    TRASKO_REQUIRE(run("chattr", {"+i", path("dst/b.txt")}), "chattr (e2fsprogs)");
    m_cleanup->add([this] { run("chattr", {"-i", path("dst/b.txt")}); });
    const QMap<QString, QString> failed{{"4 src/a.txt", errnoText(EISDIR)},
                                        {"5 src/b.txt", errnoText(EPERM)}};
    const QStringList kept{"b.txt"};
    const quint64 opened = 6;
#endif

    const Outcome outcome = copy();
    QCOMPARE(outcome.failures, failed.keys());
    for (auto failure = failed.cbegin(); failure != failed.cend(); ++failure)
        QVERIFY(failure->isEmpty() || outcome.reasons.value(failure.key()) == *failure);
    QCOMPARE(outcome.filesDone, opened);
    QCOMPARE(readFile(path("dst/a.txt/inside.txt")), QByteArray("dst/a.txt/inside.txt"));
    for (const char *name : {"b.txt", "c.txt", "d.txt", "e.txt"})
        QCOMPARE(readFile(path("dst/") + name),
                 kept.contains(name) ? "old" : readFile(path("src/") + name));
    QCOMPARE(strayTemporaries(), QStringList());
}

void TestEngine::folderThatCannotBeMade_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QStringList>("failed");
    QTest::addColumn<QStringList>("copied");
    // The system's own words for the cause, whether or not they have an errno of their own.
    QTest::addColumn<QString>("reason");
    const QStringList all{"1 src/a.txt", "1 src/sub/b.txt", "1 src/sub/deep/c.txt"};
    const QString notAFolder = errnoText(ENOTDIR);
    QTest::newRow("a sub-folder") << "dst"
                                  << "dst/sub"
                                  << QStringList{"1 src/sub/b.txt", "1 src/sub/deep/c.txt"}
                                  << QStringList{"a.txt"} << notAFolder;
    QTest::newRow("the target root") << "dst/inner"
                                     << "dst" << all << QStringList{} << notAFolder;
#ifdef Q_OS_WIN
    constexpr int refusedName = ERROR_INVALID_NAME;
    QTest::newRow("a name Windows refuses")
        << "dst/a?b" << QString() << all << QStringList{} << qt_error_string(refusedName);
    // A drive letter that names nothing: the climb to a root that exists ends there.
    char drive = 'B';
    while (QDir::drives().contains(QFileInfo(QStringLiteral("%1:/").arg(drive))))
        ++drive;
    QTest::newRow("a drive that is not there") << QStringLiteral("%1:/dst").arg(drive) << QString()
                                               << all << QStringList{} << errnoText(ENOENT);
#else
    QTest::newRow("a name too long") << "dst/" + QString(256, u'n') << QString() << all
                                     << QStringList{} << errnoText(ENAMETOOLONG);
#endif
}

// A file where a destination folder must go: the files below it were not copied, and the job
// must say so rather than end as if complete.
void TestEngine::folderThatCannotBeMade()
{
    QFETCH(QString, target);
    QFETCH(QString, blocker);
    QFETCH(QStringList, failed);
    QFETCH(QStringList, copied);
    QFETCH(QString, reason);
    QVERIFY(makeTree({"src/a.txt", "src/sub/b.txt", "src/sub/deep/c.txt"}));
    QVERIFY(blocker.isEmpty() || writeFile(path(blocker), "in the way"));

    const Outcome outcome = runJob(*job(OverwriteAll, "src", target));
    QCOMPARE(outcome.failures, failed);
    for (const QString &failure : failed)
        QCOMPARE(outcome.reasons.value(failure), reason);
    QVERIFY(blocker.isEmpty() || readFile(path(blocker)) == "in the way");
    for (const QString &file : copied)
        QCOMPARE(readFile(path("dst/") + file), readFile(path("src/") + file));
    QCOMPARE(outcome.filesTotal, 3u);
    QCOMPARE(outcome.filesDone, quint64(copied.size()));
    QCOMPARE(strayTemporaries(), QStringList());
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

    const Outcome outcome = runJob(*job(OverwriteMode(mode), "W/photos", "W"));
    QCOMPARE(readFile(path("W/photos/f")), QByteArray("W/photos/f"));
    QCOMPARE(readFile(path("W/photos/photos/f")), QByteArray("W/photos/photos/f"));
    QCOMPARE(readFile(path("W/photos/photos/photos/g")), QByteArray("W/photos/photos/photos/g"));
    QCOMPARE(outcome.failures, (QStringList{"1 W/photos/photos/f", "1 W/photos/photos/photos/g"}));
    QCOMPARE(readFile(path("W/f")), QByteArray("W/photos/f"));
    QCOMPARE(strayTemporaries(), QStringList());
}

void TestEngine::nameTakenDuringCopy_data()
{
    QTest::addColumn<int>("mode");
    // What bears the name when the copy begins ("" for nothing), dated long ago.
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("theirsStays");
    QTest::newRow("no files, a file appears") << int(OverwriteNone) << QByteArray() << true;
    QTest::newRow("all files, a file appears") << int(OverwriteAll) << QByteArray() << false;
    QTest::newRow("older files, the old one saved again")
        << int(OverwriteOlder) << QByteArray("old") << true;
    QTest::newRow("smaller files, the small one saved again larger")
        << int(OverwriteSmaller) << QByteArray("old") << true;
    QTest::newRow("all files, the old one saved again")
        << int(OverwriteAll) << QByteArray("old") << false;
}

// The rules decide again against what bears the destination's name when the copy is put in
// place: a file that appeared, or was saved, while a long copy of that name ran.
void TestEngine::nameTakenDuringCopy()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, before);
    QFETCH(bool, theirsStays);
    QVERIFY(makeBig("src/big.bin", 32 << 20));
    QVERIFY(QDir().mkpath(path("dst")));
    if (!before.isEmpty())
        QVERIFY(writeFile(path("dst/big.bin"), before) &&
                setModified(path("dst/big.bin"), 946684800));

    const auto processor = job(OverwriteMode(mode));
    QVERIFY2(pauseInside(*processor, "big.bin"), "the copy never started");
    // Newer and larger than the source.
    const QByteArray theirs = randomBytes((32 << 20) + 1);
    QVERIFY(writeFile(path("dst/big.bin"), theirs) &&
            setModified(path("dst/big.bin"), QDateTime::currentSecsSinceEpoch() + 86400));
    processor->resume();
    QCOMPARE(runJob(*processor).failures, QStringList());
    if (theirsStays)
        QVERIFY(readFile(path("dst/big.bin")) == theirs);
    else
        QVERIFY(sameContent(path("src/big.bin"), path("dst/big.bin")));
    QCOMPARE(strayTemporaries(), QStringList());
}

void TestEngine::folderRenamedWhileInIt_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("source") << "src/sub";
    QTest::newRow("destination") << "dst/sub";
}

// Another program renames a folder the job is in. Windows refuses while the job holds it; POSIX
// systems allow it, and the job goes on in the folder it entered, under its new name.
void TestEngine::folderRenamedWhileInIt()
{
    QFETCH(QString, folder);
    QVERIFY(makeBig("src/sub/big.bin", 32 << 20) && makeTree({"src/sub/small.txt", "dst/"}));

    const auto processor = job();
    QVERIFY2(pauseInside(*processor, "big.bin"), "the copy never started");
    const bool renamed = QDir().rename(path(folder), path(folder + "-moved"));
#ifdef Q_OS_WIN
    QVERIFY2(!renamed, "a folder the job holds was renamed away");
#else
    QVERIFY2(renamed, "could not rename the folder");
#endif
    processor->resume();
    QCOMPARE(runJob(*processor).failures, QStringList());
    const QString now = renamed ? folder + "-moved" : folder;
    const QString source = folder.startsWith("src") ? now : "src/sub";
    const QString target = folder.startsWith("dst") ? now : "dst/sub";
    for (const char *name : {"/big.bin", "/small.txt"})
        QVERIFY2(sameContent(path(source + name), path(target + name)), name);
    QCOMPARE(strayTemporaries(), QStringList());
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

    const auto processor = job();
    QCOMPARE(runJob(*processor).failures, QStringList());
    QCOMPARE(readFile(path("dst/") + name), Content);
    QCOMPARE(processor->currentFile(), name);
    QCOMPARE(strayTemporaries(), QStringList());
}

// --- retry ------------------------------------------------------------------------------------

void TestEngine::retryMakesFoldersAndMapsPaths()
{
    QVERIFY(makeTree({"src/a.txt", "src/sub/deep/b.txt", "src/c.txt", "dst/"}));
    const auto processor = job();
    processor->setRetryFiles(QStringList{path("src/sub/deep/b.txt"), path("src/c.txt")});
    const Outcome outcome = runJob(*processor);
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

    const auto processor = job();
    processor->setRetryFiles({path(listed), path("src/in.txt")});
    const Outcome outcome = runJob(*processor);
    QCOMPARE(outcome.failures, QStringList{"1 " + relative(path(listed))});
    QCOMPARE(outcome.filesTotal, 1u);
    QCOMPARE(readFile(path("dst/in.txt")), QByteArray("src/in.txt"));
    QStringList after = before + QStringList{"dst/in.txt"};
    after.sort();
    QCOMPARE(treeOf(m_dir->path()), after);
    QVERIFY(!QFileInfo::exists(path(blindTarget)) || readFile(path(blindTarget)) != "src/in.txt");
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
