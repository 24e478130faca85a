// The copy engine against the mechanisms of POSIX systems: other users, resource limits,
// injected faults, system calls, mounts, links, pipes and names that are not text. Every check
// reads back what lies on disk.

#include "engine/copyphase.h"
#include "engine/nativefs.h"
#include "tests/engine/enginetest.h"
#include "tests/support/filetree.h"
#include "tests/support/require.h"
#include "tests/support/wait.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace TestFiles;

namespace {

const QByteArray Content = "the quick brown fox jumps over the lazy dog\n";

const QStringList AsNobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

QStringList injectFault(const QString &fault)
{
    return {"fiu-run", "-x", "-c", "enable name=" + fault + ",failinfo=5"};
}

// libfiu's preload and AddressSanitizer's interceptors cannot share a process: the sanitizer
// build leaves the injected faults to the plain one.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_INJECTED_FAULTS(wrapper)                                                              \
    if ((wrapper).value(0) == "fiu-run")                                                           \
    QSKIP("injected faults run in the build without AddressSanitizer")
#else
#define SKIP_INJECTED_FAULTS(wrapper)
#endif

QStringList limitFileSize(int bytes)
{
    return {"prlimit", QStringLiteral("--fsize=%1").arg(bytes)};
}

} // namespace

// A USB stick as people format them: exFAT, which ignores letter case and has no unnamed files,
// on a loop device through FUSE, at path("stick").
#define MOUNT_STICK() MOUNT_STICK_AT("stick")
#define MOUNT_STICK_AT(where)                                                                      \
    do {                                                                                           \
        const QString why = mountStick(where);                                                     \
        TRASKO_REQUIRE(!why.startsWith("tools"), "exfatprogs and exfat-fuse");                     \
        if (!why.isEmpty())                                                                        \
            QSKIP(qPrintable(why));                                                                \
    } while (false)

class TestEnginePosix : public EngineTest
{
    Q_OBJECT

private slots:
    void init() { setUpFolder(); }
    void cleanup() { tearDownFolder(); }

    void transferSteps();
    void sparseFilesStaySparse();

    void unreadableSourcesAreRecorded_data();
    void unreadableSourcesAreRecorded();
    void failedWritesKeepTheOldDestination_data();
    void failedWritesKeepTheOldDestination();
    void sourceReadError();
    void targetOpenError();
    void writeBackFailureIsRecorded_data();
    void writeBackFailureIsRecorded();

    void specialFilesAreListed_data();
    void specialFilesAreListed();
    void killedWhileReplacing();
    void linksAreFollowedOnce_data();
    void linksAreFollowedOnce();
    void destinationLinksAreNotFollowed();
    void deepTrees_data();
    void deepTrees();
    void caseBlindDestination_data();
    void caseBlindDestination();
    void takenTemporaryName();
    void retryReachesNamesThatAreNotText();

    void verifiedCopiesListNothing_data();
    void verifiedCopiesListNothing();
    void verifyReadsTheDevice_data();
    void verifyReadsTheDevice();
    void lyingDeviceIsCaught_data();
    void lyingDeviceIsCaught();
    void entriesTheSystemWillNotDescribe();

    void homeFolderComesBackWhole_data();
    void homeFolderComesBackWhole();
    void copyIsPrivateFromItsFirstByte();
    void backupsOnSticks_data();
    void backupsOnSticks();
    void interruptedBackupCompletes_data();
    void interruptedBackupCompletes();
    void leftoversOfOtherJobs();

    void clonesShareBlocks_data();
    void clonesShareBlocks();
    void manyFilesInFlightToANas_data();
    void manyFilesInFlightToANas();
    void toldBeforeTheFirstByte_data();
    void toldBeforeTheFirstByte();

private:
    // Empty once mounted; otherwise what is missing.
    QString mountStick(const QString &where = QStringLiteral("stick"));
    // A FAT32 stick through FUSE at path(where), the same way.
    QString mountFat(const QString &where);
    // Mounts the named disk ("exFAT", "FAT32"; "ext4" is the test's own folder) at path(where).
    void mountDisk(const QString &disk, const QString &where);
    // An SFTP share on the loopback at path(where), served from path(share), 0.2 ms away.
    bool mountNas(const QString &where, const QString &share);
    // An ext4 image on a loop device, at where; false where the kernel offers none.
    bool mountExt4(const QString &where, const QString &image);
    // The test file system of lyingfs.py over path("backing"), at path(where); false where the
    // kernel offers no FUSE.
    bool mountTestFs(const QString &where, qint64 lieOffset);
    std::unique_ptr<QProcess> m_testFs;
    std::unique_ptr<Processor> verifyingJob(const QString &target) const
    {
        auto processor = job(OverwriteAll, "src", target);
        processor->setVerification(Processor::Verification::ReadBack);
        return processor;
    }
    // The job's failures as "path: reason", paths relative to the test's folder, sorted.
    QStringList notCopied(const Processor &processor) const
    {
        QStringList listed;
        for (const CopyError &failure : processor.failures())
            listed.append(relative(failure.file()) + ": " + failure.reason());
        listed.sort();
        return listed;
    }
};

QString TestEnginePosix::mountStick(const QString &where)
{
    if (QStandardPaths::findExecutable("mount.exfat-fuse").isEmpty() ||
        !run("truncate", {"-s", "64M", path("exfat.img")}) ||
        !run("mkfs.exfat", {path("exfat.img")}))
        return QStringLiteral("tools");
    QString loop;
    if (!run("losetup", {"-f", "--show", path("exfat.img")}, &loop))
        return QStringLiteral("the kernel offers no loop device here");
    loop = loop.trimmed();
    m_cleanup->add([loop] { run("losetup", {"-d", loop}); });
    if (!QDir().mkpath(path(where)) || !run("mount.exfat-fuse", {loop, path(where)}))
        return QStringLiteral("the kernel offers no FUSE here");
    m_cleanup->add([this, where] { run("umount", {path(where)}); });
    return {};
}

QString TestEnginePosix::mountFat(const QString &where)
{
    if (QStandardPaths::findExecutable("fusefat").isEmpty() ||
        !run("truncate", {"-s", "64M", path("fat.img")}) ||
        !run("mkfs.vfat", {"-F", "32", path("fat.img")}))
        return QStringLiteral("tools");
    if (!QDir().mkpath(path(where)) || !run("fusefat", {"-o", "rw+", path("fat.img"), path(where)}))
        return QStringLiteral("the kernel offers no FUSE here");
    m_cleanup->add([this, where] { run("umount", {path(where)}); });
    return {};
}

void TestEnginePosix::mountDisk(const QString &disk, const QString &where)
{
    if (disk == "exFAT") {
        MOUNT_STICK_AT(where);
    } else if (disk == "FAT32") {
        const QString why = mountFat(where);
        TRASKO_REQUIRE(!why.startsWith("tools"), "fusefat and dosfstools");
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
    } else {
        QVERIFY(QDir().mkpath(path(where)));
    }
}

bool TestEnginePosix::mountNas(const QString &where, const QString &share)
{
    if (!QDir().mkpath(path(where)) || !QDir().mkpath(path(share)) ||
        !run("bash", {NAS_SCRIPT, "up", path(where), path(share), "--rtt", "0.2"}))
        return false;
    m_cleanup->add([this, where] { run("bash", {NAS_SCRIPT, "down", path(where)}); });
    return true;
}

bool TestEnginePosix::mountTestFs(const QString &where, qint64 lieOffset)
{
    if (!QDir().mkpath(path("backing")) || !QDir().mkpath(path(where)))
        return false;
    m_testFs = std::make_unique<QProcess>();
    m_testFs->start("/usr/bin/python3", {QFINDTESTDATA("lyingfs.py"), path("backing"), path(where),
                                         QString::number(lieOffset)});
    m_cleanup->add([this, where] {
        run("umount", {path(where)});
        m_testFs->waitForFinished();
    });
    const QByteArray mountPoint = native(where);
    return m_testFs->waitForStarted() &&
           spinUntil([&] { return readFile("/proc/self/mountinfo").contains(mountPoint); }, 10000);
}

bool TestEnginePosix::mountExt4(const QString &where, const QString &image)
{
    return run("truncate", {"-s", "256M", path(image)}) &&
           run("mkfs.ext4", {"-q", "-E", "lazy_itable_init=0,lazy_journal_init=0", path(image)}) &&
           mount({"-o", "loop", path(image)}, path(where));
}

// Every read from a source is at most 16000 bytes, so that pause and cancel answer within one
// of them: a file of 16000 bytes takes one read, one of 16001 two, and so on, whichever way the
// bytes then reach the copy. And a job that wrote something waits for the device at its end.
void TestEnginePosix::transferSteps()
{
    const QList<qint64> sizes = {0, 1, 15999, 16000, 16001, 32000, 1000003};
    for (const qint64 size : sizes)
        QVERIFY(writeFile(path("src/f%1").arg(size), randomBytes(size)));
    const QString log = path("strace.log");
    const Outcome outcome =
        // The leak check of a sanitizer build cannot run under a tracer.
        runRunner({"strace", "-f", "-qq", "-E", "ASAN_OPTIONS=detect_leaks=0", "-o", log, "-e",
                   "trace=openat,pread64,read,splice,copy_file_range,close,syncfs"},
                  {path("src"), path("dst")});
    TRASKO_REQUIRE(outcome.ran || QFile::exists(log), "strace");
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
        if (auto open = opened.match(text); open.hasMatch()) {
            sourceOf[open.captured(2)] = open.captured(1).toLongLong();
        } else if (auto read = reading.match(text);
                   read.hasMatch() && sourceOf.contains(read.captured(1))) {
            QVERIFY2(read.captured(2).toLongLong() <= Processor::CopyBufferSize, qPrintable(text));
            if (read.captured(3).toLongLong() > 0)
                ++reads[sourceOf[read.captured(1)]];
        } else if (auto close = closed.match(text); close.hasMatch()) {
            sourceOf.remove(close.captured(1));
        } else if (text.contains(QLatin1String("syncfs("))) {
            ++flushes;
        }
    }
    for (const qint64 size : sizes)
        QCOMPARE(reads.value(size),
                 int((size + Processor::CopyBufferSize - 1) / Processor::CopyBufferSize));
    QCOMPARE(flushes, 1);
}

void TestEnginePosix::sparseFilesStaySparse()
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
    const Outcome outcome = copy();
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

void TestEnginePosix::unreadableSourcesAreRecorded_data()
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
void TestEnginePosix::unreadableSourcesAreRecorded()
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
    QCOMPARE(strayTemporaries(), QStringList());

    // Once they can be read, a retry of the records copies them, folders whole, and reads each
    // copy back where it went.
    QCOMPARE(::chmod(native("src/locked.txt").constData(), 0644), 0);
    QCOMPARE(::chmod(native("src/closed").constData(), 0755), 0);
    QStringList retry{"--verify"};
    for (const QString &failure : failures)
        retry << "--retry" << path(failure.mid(2));
    const Outcome again = runRunner(AsNobody, retry + QStringList{path(source), path("dst/copy")});
    if (source.endsWith("missing")) {
        QCOMPARE(again.failures, failures);
    } else {
        QCOMPARE(again.failures, QStringList());
        QCOMPARE(readFile(path("dst/copy/") + (source == "src" ? "closed/" : "") + "hidden.txt"),
                 QByteArray("src/closed/hidden.txt"));
    }
}

void TestEnginePosix::failedWritesKeepTheOldDestination_data()
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

void TestEnginePosix::failedWritesKeepTheOldDestination()
{
    QFETCH(QStringList, wrapper);
    QFETCH(qint64, size);
    QFETCH(bool, fullDisk);
    SKIP_INJECTED_FAULTS(wrapper);
    if (fullDisk && !mount({"-t", "tmpfs", "-o", "size=1m", "tmpfs"}, path("dst")))
        QSKIP("needs root to mount a small tmpfs as a full disk");
    QVERIFY(makeBig("src/big.bin", size));
    QVERIFY(writeFile(path("dst/big.bin"), "old"));

    const Outcome outcome = runRunner(wrapper, {path("src"), path("dst")});
    QVERIFY2(outcome.ran, qPrintable(outcome.output));
    QCOMPARE(outcome.failures, QStringList{"3 src/big.bin"});
    QCOMPARE(outcome.filesDone, 1u);
    QCOMPARE(readFile(path("dst/big.bin")), QByteArray("old"));
    QCOMPARE(strayTemporaries(), QStringList());
}

void TestEnginePosix::sourceReadError()
{
    // The kernel copies a small file within one kind of file system without read(); a source
    // on a file system of another kind makes the engine read, where the fault is injected.
    SKIP_INJECTED_FAULTS(injectFault({}));
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
    QCOMPARE(strayTemporaries(), QStringList());
}

void TestEnginePosix::targetOpenError()
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

// A disk image on a file system too small to hold it: the copy lands in the page cache, and
// only writing it out to the device fails. The job must not end as a clean success. A large
// file is written out as it is copied, so the failure is its own; small ones fail at the flush.
void TestEnginePosix::writeBackFailureIsRecorded_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("size");
    QTest::addColumn<QStringList>("failures");
    QTest::newRow("one large file") << 1 << (32 << 20) << QStringList{"3 src/0.bin"};
    QTest::newRow("small files, at the flush") << 48 << (1 << 20) << QStringList{"3 disk/copy"};
}

void TestEnginePosix::writeBackFailureIsRecorded()
{
    QFETCH(int, files);
    QFETCH(int, size);
    QFETCH(QStringList, failures);
    if (!mount({"-t", "tmpfs", "-o", "size=8m", "tmpfs"}, path("backing")))
        QSKIP("needs root to mount a tmpfs");
    QVERIFY(run("truncate", {"-s", "128M", path("backing/disk.img")}));
    QVERIFY(run("mkfs.ext4",
                {"-q", "-E", "lazy_itable_init=0,lazy_journal_init=0", path("backing/disk.img")}));
    if (!mount({"-o", "loop", path("backing/disk.img")}, path("disk")))
        QSKIP("needs a loop device");
    for (int i = 0; i < files; ++i)
        QVERIFY(makeBig(QStringLiteral("src/%1.bin").arg(i), size));

    const auto processor = job(OverwriteAll, "src", "disk/copy");
    const Outcome outcome = runJob(*processor);
    QVERIFY(outcome.ran);
    QCOMPARE(outcome.failures, failures);
    const CopyError failure = processor->failures().constFirst();
    QVERIFY2(!failure.reason().isEmpty(), "the system's reason is kept");
}

// --- hostile trees ----------------------------------------------------------------------------

void TestEnginePosix::specialFilesAreListed_data()
{
    QTest::addColumn<bool>("everything"); // sub-folders and hidden files taken in
    QTest::newRow("sub-folders and hidden files") << true;
    QTest::newRow("top level, no hidden files") << false;
}

// What no copy can hold is listed, never opened: a device or a pipe must not fill the stick or
// hold the job.
void TestEnginePosix::specialFilesAreListed()
{
    QFETCH(bool, everything);
    QVERIFY(makeTree({"src/a.txt", "src/sub/b.txt"}));
    for (const char *pipe : {"src/pipe", "src/sub/pipe", "src/.pipe"})
        QCOMPARE(::mkfifo(native(pipe).constData(), 0644), 0);
    if (::mknod(native("src/zero").constData(), S_IFCHR | 0666, makedev(1, 5)) != 0 ||
        ::mknod(native("src/loop").constData(), S_IFBLK | 0660, makedev(7, 0)) != 0)
        QSKIP("device nodes need root");
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, native("src/socket").constData(), sizeof address.sun_path);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QCOMPARE(::bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::close(socket);
    for (const auto &[link, target] :
         {std::pair{"src/to-zero", "/dev/zero"}, {"src/to-pipe", "pipe"}, {"src/lock", "nowhere"}})
        QCOMPARE(::symlink(target, native(link).constData()), 0);

    Processor processor(path("src"), path("dst"), OverwriteAll, everything, everything);
    const Outcome outcome = runJob(processor);
    QVERIFY2(outcome.ran, "a pipe or a device held the job");
    QStringList listed{"src/loop: Not a regular file: block device",
                       "src/lock: Broken link",
                       "src/pipe: Not a regular file: pipe",
                       "src/socket: Not a regular file: socket",
                       "src/to-pipe: Not a regular file: pipe",
                       "src/to-zero: Not a regular file: character device",
                       "src/zero: Not a regular file: character device"};
    if (everything)
        listed << "src/.pipe: Not a regular file: pipe"
               << "src/sub/pipe: Not a regular file: pipe";
    listed.sort();
    QCOMPARE(notCopied(processor), listed);
    QCOMPARE(treeOf(path("dst")),
             everything ? QStringList({"a.txt", "sub/", "sub/b.txt"}) : QStringList({"a.txt"}));
    QCOMPARE(outcome.filesTotal, everything ? 2u : 1u);
    QCOMPARE(outcome.filesDone, outcome.filesTotal);

    const auto retry = job();
    retry->setRetryFiles(processor.failures());
    QVERIFY(runJob(*retry).ran);
    QCOMPARE(notCopied(*retry), listed);
}

// A crash while a copy replaces a file leaves the old file, and nothing under any other name.
void TestEnginePosix::killedWhileReplacing()
{
    QVERIFY(makeBig("src/big.bin", 256 << 20));
    QVERIFY(writeFile(path("dst/big.bin"), "old"));
    QProcess runner;
    runner.start(QStringLiteral(ENGINE_RUNNER), {path("src"), path("dst")});
    QVERIFY(runner.waitForStarted());
    // Killed once the copy it writes holds data.
    const QString descriptors = QStringLiteral("/proc/%1/fd").arg(runner.processId());
    const QString into = QFileInfo(path("dst")).canonicalFilePath() + u'/';
    QVERIFY2(spinUntil([&] {
                 const QFileInfoList open =
                     QDir(descriptors).entryInfoList(QDir::Files | QDir::System);
                 return runner.state() != QProcess::Running ||
                        std::any_of(open.cbegin(), open.cend(), [&](const QFileInfo &fd) {
                            return fd.symLinkTarget().startsWith(into) && fd.size() > 0;
                        });
             }),
             "the copy never started");
    QCOMPARE(runner.state(), QProcess::Running);
    runner.kill();
    QVERIFY(runner.waitForFinished());
    QCOMPARE(treeOf(path("dst")), QStringList{"big.bin"});
    QCOMPARE(readFile(path("dst/big.bin")), QByteArray("old"));
}

void TestEnginePosix::linksAreFollowedOnce_data()
{
    QTest::addColumn<QStringList>("links");  // "link -> target", relative to the test folder
    QTest::addColumn<QStringList>("copied"); // each source file once, whatever name it got
    QTest::addColumn<QStringList>("listed"); // the links not followed, and why
    const QStringList tree{"src/a/b/deep.txt", "src/a/inner.txt", "src/top.txt"};
    QTest::newRow("back up the tree")
        << QStringList{"src/a/b/up -> src", "src/a/self -> src/a"} << tree << QStringList();
    QTest::newRow("to a folder of the tree")
        << QStringList{"src/alias -> src/a/b"} << tree << QStringList();
    // Wine's z: leads to /, a home folder's "up" to what holds it: their files are not the job's.
    const QString holdsSource = ": Link to a folder that holds the source: not followed";
    QTest::newRow("to what holds the source")
        << QStringList{"src/wine/dosdevices/z: -> /", "src/a/up -> src/..", "src/here -> ."} << tree
        << QStringList{"src/a/up" + holdsSource, "src/here" + holdsSource,
                       "src/wine/dosdevices/z:" + holdsSource};
    QTest::newRow("to what holds the destination, and into it")
        << QStringList{"src/stick -> dst", "src/a/copy -> dst/copy", "src/a/b/l -> dst/copy/old"}
        << tree
        << QStringList{"src/a/b/l: Link into the destination: not followed",
                       "src/a/copy: Link into the destination: not followed",
                       "src/stick: Link to a folder that holds the destination: not followed"};
    QTest::newRow("outside, twice") << QStringList{"src/x -> out/f1", "src/y -> out/f1"}
                                    << tree + QStringList{"out/f1/file.txt"} << QStringList();
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
    QTest::newRow("link farm") << farm << farmCopy << QStringList();
}

void TestEnginePosix::linksAreFollowedOnce()
{
    QFETCH(QStringList, links);
    QFETCH(QStringList, copied);
    QFETCH(QStringList, listed);
    QVERIFY(makeTree({"src/top.txt", "src/a/inner.txt", "src/a/b/deep.txt", "dst/copy/old/"}));
    for (int i = 1; i <= 8; ++i)
        QVERIFY(makeTree({QStringLiteral("out/f%1/file.txt").arg(i)}));
    for (const QString &link : links) {
        const QStringList parts = link.split(" -> ");
        QVERIFY(QDir().mkpath(QFileInfo(path(parts[0])).path()));
        QVERIFY(QFile::link(parts[1] == "/" ? parts[1] : path(parts[1]), path(parts[0])));
    }

    const auto processor = job(OverwriteAll, "src", "dst/copy");
    const Outcome outcome = runJob(*processor);
    QVERIFY2(outcome.ran, "the walk must end");
    QCOMPARE(notCopied(*processor), listed);
    // Files carry their source path: the copy holds each source file exactly once.
    QStringList found;
    for (const QString &entry : treeOf(path("dst/copy"))) {
        if (!entry.endsWith(u'/'))
            found.append(QString::fromUtf8(readFile(path("dst/copy/" + entry))));
    }
    found.sort();
    copied.sort();
    QCOMPARE(found, copied);
    for (const char *file : {"a/b/deep.txt", "a/inner.txt", "top.txt"})
        QVERIFY2(QFileInfo::exists(path("dst/copy/") + QLatin1String(file)),
                 "folders keep their names");
    QCOMPARE(outcome.filesDone, outcome.filesTotal);

    // A retry of what was listed follows none of it either.
    const auto retry = job(OverwriteAll, "src", "dst/copy");
    retry->setRetryFiles(processor->failures());
    runJob(*retry);
    QCOMPARE(notCopied(*retry), listed);
}

// What the job did not make itself it does not enter through a link, and what it entered stays
// the folder it entered, whatever is put in its place meanwhile.
void TestEnginePosix::destinationLinksAreNotFollowed()
{
    QVERIFY(makeTree({"src/linked/a.txt", "src/swapped/z.txt", "outside/"}));
    QVERIFY(makeBig("src/swapped/big.bin", 32 << 20));
    QVERIFY(QDir().mkpath(path("dst")));
    QVERIFY(QFile::link(path("outside"), path("dst/linked")));

    const auto processor = job();
    QVERIFY2(pauseInside(*processor, "big.bin"), "the copy never started");
    QVERIFY(QDir().rename(path("dst/swapped"), path("moved")));
    QVERIFY(QFile::link(path("outside"), path("dst/swapped")));
    processor->resume();
    const Outcome outcome = runJob(*processor);

    QCOMPARE(outcome.failures, QStringList{"1 src/linked/a.txt"});
    QCOMPARE(treeOf(path("outside")), QStringList());
    QVERIFY2(sameContent(path("src/swapped/big.bin"), path("moved/big.bin")),
             "the folder entered keeps its files");
    QCOMPARE(strayTemporaries(), QStringList());
}

void TestEnginePosix::deepTrees_data()
{
    QTest::addColumn<int>("descriptors"); // 0: the usual limit
    QTest::addColumn<bool>("complete");
    QTest::newRow("usual limit") << 0 << true;
    QTest::newRow("16 descriptors") << 16 << true;
    QTest::newRow("9 descriptors") << 9 << false;
}

// A tree whose deepest path is far longer than the system takes in one call is copied whole,
// and with too few descriptors, whatever is missing is recorded.
void TestEnginePosix::deepTrees()
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

void TestEnginePosix::caseBlindDestination_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("all") << int(OverwriteAll);
    QTest::newRow("none") << int(OverwriteNone);
}

// On a disk that ignores letter case, two source names that fold into one land on one name: the
// second must fail, never replace the first or pass as already there.
void TestEnginePosix::caseBlindDestination()
{
    QFETCH(int, mode);
    MOUNT_STICK();
    const QStringList sources{"src/A.txt", "src/Sub/x.txt", "src/a.txt", "src/sub/x.txt",
                              "src/sub/y.txt"};
    QVERIFY(makeTree(sources));

    const Outcome outcome = runJob(*job(OverwriteMode(mode), "src", "stick/dst"));
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

// Where there are no unnamed files the copy bears its temporary name from the first byte;
// whatever already bears the next one is refused, never opened.
void TestEnginePosix::takenTemporaryName()
{
    MOUNT_STICK();
    QVERIFY(makeBig("src/a/big.bin", 32 << 20));
    QVERIFY(writeFile(path("src/next.txt"), Content));
    QVERIFY(writeFile(path("stick/dst/a/big.bin"), "old"));
    QVERIFY(writeFile(path("stick/dst/next.txt"), "old"));

    const auto processor = job(OverwriteAll, "src", "stick/dst");
    QVERIFY2(pauseInside(*processor, "big.bin"), "the copy never started");
    const QStringList temporaries = TestFiles::strayTemporaries(path("stick/dst"));
    QCOMPARE(temporaries.size(), 1);
    const QString prefix = QFileInfo(temporaries.first()).fileName().left(37);
    QVERIFY(QDir().mkpath(path("stick/dst/" + prefix + "next.txt")));
    processor->resume();
    const Outcome outcome = runJob(*processor);
    QCOMPARE(outcome.failures, QStringList{"1 src/next.txt"});
    QCOMPARE(readFile(path("stick/dst/next.txt")), QByteArray("old"));
    QVERIFY(sameContent(path("src/a/big.bin"), path("stick/dst/a/big.bin")));
}

// A failed file whose name is not valid text keeps its exact name, so its retry reaches it.
void TestEnginePosix::retryReachesNamesThatAreNotText()
{
    const QByteArray source = native("src/") + "caf\xe9.txt"; // Latin-1, not UTF-8
    const QByteArray target = native("dst/") + "caf\xe9.txt";
    QVERIFY(QDir().mkpath(path("src")) && QDir().mkpath(path("dst")));
    const int fd = ::open(source.constData(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(fd >= 0 && ::write(fd, Content.constData(), size_t(Content.size())) == Content.size());
    ::close(fd);
    // A folder where the file should go: the copy fails, and its text name is lossy.
    QCOMPARE(::mkdir(target.constData(), 0755), 0);
    const auto first = job();
    runJob(*first);
    const QList<CopyError> failures = first->failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.first().nativeFile(), source);

    QCOMPARE(::rmdir(target.constData()), 0);
    const auto retry = job();
    retry->setRetryFiles(failures);
    QCOMPARE(runJob(*retry).failures, QStringList());
    struct stat st;
    QCOMPARE(::stat(target.constData(), &st), 0);
    QCOMPARE(qint64(st.st_size), qint64(Content.size()));
}

// --- verified on the device --------------------------------------------------------------------

void TestEnginePosix::verifiedCopiesListNothing_data()
{
    QTest::addColumn<QString>("disk");
    QTest::newRow("tmpfs") << "tmpfs";
    QTest::newRow("ext4") << "ext4";
    QTest::newRow("exFAT") << "exFAT";
}

// Empty, sparse, small, large and nested files read back as they were read.
void TestEnginePosix::verifiedCopiesListNothing()
{
    QFETCH(QString, disk);
    if (disk == "exFAT")
        MOUNT_STICK_AT("disk");
    else if (disk == "ext4" ? !mountExt4("disk", "disk.img")
                            : !mount({"-t", "tmpfs", "-o", "size=64m", "tmpfs"}, path("disk")))
        QSKIP("the kernel offers no loop device or mount here");
    QVERIFY(makeTree({"src/empty.txt", "src/sub/deeper/note.txt"}));
    QVERIFY(QFile::resize(path("src/empty.txt"), 0));
    // Each way a file reaches the copy: the kernel's copy in one step, the buffer, the pipe.
    QVERIFY(makeBig("src/big.bin", 20 << 20) && makeBig("src/sub/mid.bin", 1 << 20) &&
            makeBig("src/sub/buffered.bin", 200 << 10));
    {
        QFile sparse(path("src/sparse.img"));
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.seek(4 << 20) &&
                sparse.write(randomBytes(5000)) == 5000 && sparse.resize(9 << 20));
    }

    const auto processor = verifyingJob("disk/copy");
    const Outcome outcome = runJob(*processor);
    QCOMPARE(outcome.failures, QStringList());
    const PhaseProgress verified = processor->progress(PhaseKind::Verify);
    QCOMPARE(verified.filesSucceeded, 6u);
    QCOMPARE(verified.filesTotal, 6u);
    QCOMPARE(verified.bytesDone, outcome.bytesTotal);
    QVERIFY(run("diff", {"-r", path("src"), path("disk/copy")}));
}

void TestEnginePosix::verifyReadsTheDevice_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("a block changed behind the file system") << false;
    QTest::newRow("cancelled while verifying") << true;
}

// After the flush the copy's pages are dropped: what the verify phase reads is what the device
// holds, here a block of the image changed behind the file system's back. A cancel leaves the
// copies in place.
void TestEnginePosix::verifyReadsTheDevice()
{
    QFETCH(bool, cancel);
    if (!mountExt4("disk", "disk.img"))
        QSKIP("the kernel offers no loop device here");
    QVERIFY(makeBig("src/big.bin", 32 << 20) && makeTree({"src/small.txt"}));
    const auto processor = verifyingJob("disk/copy");
    processor->start();
    QVERIFY2(spinUntil([&] {
                 return processor->isFinished() ||
                        (processor->phase() == PhaseKind::Verify &&
                         processor->currentFile() == "big.bin" && processor->currentFileDone() > 0);
             }),
             "the verify phase never began");
    processor->pause();
    QVERIFY(!processor->isFinished());
    if (cancel) {
        processor->cancel();
    } else {
        // The copy's last block, as the file system placed it in the image.
        QString extents;
        QVERIFY(run("filefrag", {"-e", "-b4096", path("disk/copy/big.bin")}, &extents));
        static const QRegularExpression extent(R"(\d+:\s+\d+\.\.\s*\d+:\s+\d+\.\.\s*(\d+):)");
        qint64 lastBlock = -1;
        for (auto match = extent.globalMatch(extents); match.hasNext();)
            lastBlock = match.next().captured(1).toLongLong();
        QFile image(path("disk.img"));
        QVERIFY(lastBlock > 0 && image.open(QIODevice::ReadWrite) && image.seek(lastBlock * 4096) &&
                image.write(randomBytes(4096)) == 4096);
        image.close();
        processor->resume();
    }
    const Outcome outcome = runJob(*processor);
    QCOMPARE(outcome.failures, cancel ? QStringList() : QStringList{"3 src/big.bin"});
    if (!cancel)
        QCOMPARE(processor->failures().constFirst().reason(),
                 "The copy on the device differs from the source");
    const PhaseProgress verified = processor->progress(PhaseKind::Verify);
    QVERIFY(verified.filesSucceeded < verified.filesTotal);
    QCOMPARE(treeOf(path("disk/copy")), QStringList({"big.bin", "small.txt"}));
    QCOMPARE(readFile(path("disk/copy/small.txt")), QByteArray("src/small.txt"));
}

void TestEnginePosix::lyingDeviceIsCaught_data()
{
    QTest::addColumn<bool>("verify");
    QTest::addColumn<qint64>("keeps"); // the bytes of each file the device keeps
    QTest::addColumn<QStringList>("caught");
    const QStringList pastMiB{"3 src/past.bin", "3 src/sub/past.bin"};
    QTest::newRow("verify copies") << true << qint64(1 << 20) << pastMiB;
    // Files past one step and within the buffer's reach go through the job's own buffer.
    QTest::newRow("verify copies, the device keeps 64 KiB")
        << true << qint64(64 << 10) << pastMiB + QStringList{"3 src/first.bin", "3 src/mid.bin"};
    QTest::newRow("without verifying") << false << qint64(1 << 20) << QStringList();
}

// A device that keeps only the first MiB of every file, like a counterfeit stick: without the
// verify phase the job ends complete, with it every file past that point is listed.
void TestEnginePosix::lyingDeviceIsCaught()
{
    QFETCH(bool, verify);
    QFETCH(qint64, keeps);
    QFETCH(QStringList, caught);
    TRASKO_REQUIRE(run("/usr/bin/python3", {"-c", "import fusepy"}), "python3-fusepy");
    if (!mountTestFs("lying", keeps))
        QSKIP("the kernel offers no FUSE here");
    QVERIFY(makeBig("src/first.bin", 1 << 20) && makeBig("src/past.bin", 3 << 20) &&
            makeBig("src/sub/past.bin", (1 << 20) + 1) && makeBig("src/mid.bin", 200 << 10) &&
            makeBig("src/step.bin", Processor::CopyBufferSize) && makeTree({"src/sub/small.txt"}));

    auto processor = job(OverwriteAll, "src", "lying/copy");
    if (verify)
        processor->setVerification(Processor::Verification::ReadBack);
    const Outcome outcome = runJob(*processor);
    QCOMPARE(outcome.filesDone, 6u);
    caught.sort();
    QCOMPARE(outcome.failures, caught);
    QCOMPARE(processor->progress(PhaseKind::Verify).filesSucceeded,
             verify ? quint64(6 - caught.size()) : 0u);
}

// A file system that does not say what its entries are, and will not describe one of them: the
// entry is listed with the system's words, never dropped.
void TestEnginePosix::entriesTheSystemWillNotDescribe()
{
    TRASKO_REQUIRE(run("/usr/bin/python3", {"-c", "import fusepy"}), "python3-fusepy");
    QVERIFY(makeTree({"backing/a.txt", "backing/eio-report.txt", "backing/eio-folder/b.txt"}));
    if (!mountTestFs("fs", 1 << 30))
        QSKIP("the kernel offers no FUSE here");
    // And a link to such an entry, from a folder that describes its own.
    QVERIFY(makeTree({"src/b.txt"}) &&
            QFile::link(path("fs/eio-report.txt"), path("src/link-to-report.txt")));
    for (const char *source : {"fs", "src"}) {
        const auto processor = job(OverwriteAll, source, "dst");
        runJob(*processor);
        QCOMPARE(notCopied(*processor),
                 source[0] == 'f' ? QStringList({"fs/eio-folder: Input/output error",
                                                 "fs/eio-report.txt: Input/output error"})
                                  : QStringList("src/link-to-report.txt: Input/output error"));
    }
    QCOMPARE(treeOf(path("dst")), QStringList({"a.txt", "b.txt"}));
}

// --- a backup to restore from ----------------------------------------------------------------

void TestEnginePosix::homeFolderComesBackWhole_data()
{
    QTest::addColumn<int>("umask");
    QTest::newRow("umask 022") << 022;
    QTest::newRow("umask 077") << 077;
}

// A home folder copied by its owner comes back working: private files stay private, programs
// and scripts run, a git working copy shows nothing changed, a virtual environment starts. A
// copy of a read-only folder can take the next job's files; set-user-ID is never carried.
void TestEnginePosix::homeFolderComesBackWhole()
{
    QFETCH(int, umask);
    TRASKO_REQUIRE(run("git", {"--version"}), "git");
    const QMap<QString, int> modes{{".ssh", 0700},
                                   {".ssh/id_ed25519", 0600},
                                   {"note.txt", 0600},
                                   {"bin/hello", 0755},
                                   {"project/tools/build.sh", 0750},
                                   {"true", 04755},
                                   {"ro", 0555},
                                   {"ro/kept.txt", 0444},
                                   {"public.txt", 0644}};
    QVERIFY(makeTree({"home/.ssh/id_ed25519", "home/note.txt", "home/ro/kept.txt",
                      "home/public.txt", "backup/"}));
    QVERIFY(writeFile(path("home/bin/hello"), "#!/bin/sh\necho hello\n") &&
            writeFile(path("home/project/tools/build.sh"), "#!/bin/sh\necho built\n") &&
            QFile::copy("/bin/true", path("home/true")));
    for (auto mode = modes.cbegin(); mode != modes.cend(); ++mode)
        QCOMPARE(::chmod(native("home/" + mode.key()).constData(), mode_t(mode.value())), 0);
    const QStringList git{"git",         "-C", path("home/project"), "-c",
                          "user.name=T", "-c", "user.email=t@t"};
    QVERIFY(run(git[0], git.mid(1) + QStringList{"init", "-q"}) &&
            run(git[0], git.mid(1) + QStringList{"add", "-A"}) &&
            run(git[0], git.mid(1) + QStringList{"commit", "-qm", "first"}));
    QVERIFY(run("/usr/bin/python3", {"-m", "venv", "--without-pip", path("home/venv")}));
    QVERIFY(run("chown", {"-R", "65534:65534", path("home"), path("backup")}));

    const QStringList asOwner =
        AsNobody +
        QStringList{
            "sh", "-c",
            QStringLiteral("umask %1 && exec \"$0\" \"$@\"").arg(umask, 3, 8, QLatin1Char('0'))};
    const Outcome outcome = runRunner(asOwner, {"--hidden", path("home"), path("backup/home")});
    QVERIFY2(outcome.ran, qPrintable(outcome.output));
    QCOMPARE(outcome.failures, QStringList());
    for (auto mode = modes.cbegin(); mode != modes.cend(); ++mode) {
        struct stat st;
        QCOMPARE(::stat(native("backup/home/" + mode.key()).constData(), &st), 0);
        const int folder = S_ISDIR(st.st_mode) ? 0300 : 0;
        QCOMPARE(int(st.st_mode & 07777), ((mode.value() & 0777) | folder) & ~umask);
    }
    QString said;
    QVERIFY(run(path("backup/home/bin/hello"), {}, &said) && said == "hello\n");
    QVERIFY(run(path("backup/home/true"), {}));
    const QStringList copiedGit = AsNobody + QStringList{"env", "HOME=/nonexistent", "git", "-C",
                                                         path("backup/home/project")};
    QVERIFY(run(copiedGit[0], copiedGit.mid(1) + QStringList{"status", "--porcelain"}, &said));
    QCOMPARE(said, QString());
    QVERIFY(run(copiedGit[0], copiedGit.mid(1) + QStringList{"fsck", "--strict"}, &said));
    QVERIFY(
        run(path("backup/home/venv/bin/python"), {"-c", "import sys; print(sys.prefix)"}, &said));
    QCOMPARE(said.trimmed(), path("backup/home/venv"));

    QVERIFY(writeFile(path("home/ro/new.txt"), "new") &&
            run("chown", {"65534:65534", path("home/ro/new.txt")}));
    const Outcome again =
        runRunner(asOwner, {"--hidden", "--mode", "1", path("home"), path("backup/home")});
    QCOMPARE(again.failures, QStringList());
    QCOMPARE(readFile(path("backup/home/ro/new.txt")), "new");

    // A replacement takes its source's bits, not the old file's.
    QCOMPARE(::chmod(native("backup/home/note.txt").constData(), 0666), 0);
    const Outcome replaced =
        runRunner(asOwner, {"--hidden", "--mode", "0", path("home"), path("backup/home")});
    QCOMPARE(replaced.failures, QStringList());
    struct stat st;
    QCOMPARE(::stat(native("backup/home/note.txt").constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0600);
}

// Not narrowed once written: the copy of a private file is private while it is being written.
void TestEnginePosix::copyIsPrivateFromItsFirstByte()
{
    QVERIFY(makeBig("src/secret.bin", 64 << 20));
    QCOMPARE(::chmod(native("src/secret.bin").constData(), 0600), 0);
    const auto processor = job();
    QVERIFY2(pauseInside(*processor, "secret.bin"), "the copy never started");
    const QString into = QFileInfo(path("dst")).canonicalFilePath() + u'/';
    int seen = 0;
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System)) {
        struct stat st;
        if (fd.symLinkTarget().startsWith(into) &&
            ::stat(QFile::encodeName(fd.filePath()), &st) == 0) {
            QCOMPARE(int(st.st_mode & 0777), 0600);
            ++seen;
        }
    }
    QCOMPARE(seen, 1);
    processor->resume();
    QCOMPARE(runJob(*processor).failures, QStringList());
    QVERIFY(QFile::permissions(path("dst/secret.bin")) ==
            (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser));
}

void TestEnginePosix::backupsOnSticks_data()
{
    QTest::addColumn<QString>("disk");
    QTest::addColumn<bool>("keepDates");
    for (const char *disk : {"exFAT", "FAT32"}) {
        QTest::addRow("%s, new dates", disk) << QString(disk) << false;
        QTest::addRow("%s, dates kept", disk) << QString(disk) << true;
    }
}

// The weekly backup onto a stick that keeps coarse times: dates as the stick stores them, nothing
// written again when nothing changed, exactly the edited files after an edit.
void TestEnginePosix::backupsOnSticks()
{
    QFETCH(QString, disk);
    QFETCH(bool, keepDates);
    mountDisk(disk, "stick");
    const QStringList entries{"a.txt", "b.txt", "e.txt", "sub", "sub/c.txt", "sub/d.txt"};
    QVERIFY(makeTree({"src/a.txt", "src/b.txt", "src/e.txt", "src/sub/c.txt", "src/sub/d.txt"}));
    constexpr qint64 Photo = 1561939201'987654321; // an odd second, and more than any stick keeps
    for (qsizetype i = entries.size() - 1; i >= 0; --i)
        QVERIFY(setModifiedNs(path("src/" + entries[i]), Photo + i * 1000000));
    // What the stick makes of a time, learnt as the engine does not: from a file of the test's.
    const auto stored = [this](qint64 ns) {
        return writeFile(path("stick/probe"), "") && setModifiedNs(path("stick/probe"), ns)
                   ? modifiedNs(path("stick/probe"))
                   : -1;
    };
    const auto backup = [&](OverwriteMode mode) {
        const auto processor = job(mode, "src", "stick/backup");
        if (keepDates)
            processor->setDates(Processor::Dates::Keep);
        return runJob(*processor);
    };
    const qint64 started = (QDateTime::currentSecsSinceEpoch() - 2) * 1000000000;
    QCOMPARE(backup(OverwriteAll).failures, QStringList());
    QMap<QString, qint64> dated;
    for (const QString &entry : entries) {
        dated[entry] = modifiedNs(path("stick/backup/" + entry));
        QVERIFY2(keepDates ? dated[entry] == stored(modifiedNs(path("src/" + entry)))
                           : dated[entry] >= started,
                 qPrintable(entry));
    }
    const Outcome unchanged = backup(OverwriteOlder);
    QCOMPARE(unchanged.filesTotal + unchanged.filesDone, 0u);
    for (const QString &entry : entries)
        QCOMPARE(modifiedNs(path("stick/backup/" + entry)), dated[entry]);

    const qint64 edited = (QDateTime::currentSecsSinceEpoch() / 2 + 1800) * 2000000000;
    for (const char *file : {"b.txt", "sub/c.txt", "e.txt"})
        QVERIFY(writeFile(path("src/") + file, "edited") &&
                setModifiedNs(path("src/") + file, edited));
    const Outcome again = backup(OverwriteOlder);
    QCOMPARE(again.failures, QStringList());
    QCOMPARE(again.filesTotal, 3u);
    for (const QString &entry : entries)
        QVERIFY(entry == "sub" || sameContent(path("src/" + entry), path("stick/backup/" + entry)));
}

void TestEnginePosix::interruptedBackupCompletes_data()
{
    QTest::addColumn<QString>("disk");
    QTest::addColumn<int>("mode");
    for (const char *disk : {"ext4", "exFAT"}) {
        QTest::addRow("%s, no files", disk) << QString(disk) << int(OverwriteNone);
        QTest::addRow("%s, older files", disk) << QString(disk) << int(OverwriteOlder);
    }
}

// A backup killed half-way, run again: it copies only what is missing, and nothing partial
// stays under any name, once the leftover is old enough to be no running job's.
void TestEnginePosix::interruptedBackupCompletes()
{
    QFETCH(QString, disk);
    QFETCH(int, mode);
    mountDisk(disk, "disk");
    // As much as the stick holds, saved an hour before the backup.
    const qint64 saved = (QDateTime::currentSecsSinceEpoch() - 3600) * 1000000000;
    for (int i = 0; i < 6; ++i)
        QVERIFY(makeBig(QStringLiteral("src/%1.bin").arg(i), (disk == "exFAT" ? 8 : 24) << 20) &&
                setModifiedNs(path("src/%1.bin").arg(i), saved));
    QProcess runner;
    runner.start(QStringLiteral(ENGINE_RUNNER), {path("src"), path("disk/backup")});
    QVERIFY(runner.waitForStarted());
    const QString into = QFileInfo(path("disk/backup")).absoluteFilePath() + u'/';
    const auto placed = [this] {
        return QDir(path("disk/backup"))
            .entryList(QDir::Files)
            .filter(QRegularExpression("^\\d\\.bin$"));
    };
    QVERIFY2(spinUntil([&] {
                 const QFileInfoList open =
                     QDir(QStringLiteral("/proc/%1/fd").arg(runner.processId()))
                         .entryInfoList(QDir::Files | QDir::System);
                 return runner.state() != QProcess::Running ||
                        (!placed().isEmpty() &&
                         std::any_of(open.cbegin(), open.cend(), [&](const QFileInfo &fd) {
                             return fd.symLinkTarget().startsWith(into) && fd.size() > 0;
                         }));
             }),
             "the copy never got under way");
    runner.kill();
    QVERIFY(runner.waitForFinished());
    const quint32 missing = quint32(6 - placed().size());
    QVERIFY(missing > 0);
    // As if the next backup came a week later: the leftover is no running job's.
    for (const QString &leftover : strayTemporaries())
        QVERIFY(setModifiedNs(leftover, (QDateTime::currentSecsSinceEpoch() - 3600) * 1000000000));

    const Outcome again = runJob(*job(OverwriteMode(mode), "src", "disk/backup"));
    QCOMPARE(again.failures, QStringList());
    QCOMPARE(again.filesTotal, missing);
    QVERIFY(run("diff", {"-r", path("src"), path("disk/backup")}));
    QCOMPARE(strayTemporaries(), QStringList());
}

// Where temporary files have names, another job's are left alone while it writes, and a stale
// one is cleared; a job whose own temporary file is taken from it lists the file, losing nothing.
void TestEnginePosix::leftoversOfOtherJobs()
{
    MOUNT_STICK();
    QVERIFY(makeBig("src/big.bin", 32 << 20) && makeTree({"other/next.txt"}));
    const QString stale = "stick/dst/0b7e1a52-7a1c-4f2e-9d6b-2f1e0c9a8b7d-photo.jpg";
    const QStringList kept{"big.bin", "0b7e1a52-7a1c-4f2e-9d6b-2f1e0c9a8b7d-folder/",
                           "notes-2019.txt"};
    QVERIFY(makeTree({"stick/dst/big.bin", "stick/dst/" + kept[1], "stick/dst/" + kept[2]}));
    const qint64 weekAgo = (QDateTime::currentSecsSinceEpoch() - 7 * 86400) * 1000000000;
    QVERIFY(setModifiedNs(path("stick/dst/" + kept[2]), weekAgo));

    const auto writing = job(OverwriteAll, "src", "stick/dst");
    QVERIFY2(pauseInside(*writing, "big.bin"), "the copy never started");
    const QStringList itsCopy = strayTemporaries();
    QCOMPARE(itsCopy.size(), 1);
    QVERIFY(writeFile(path(stale), "stale") && setModifiedNs(path(stale), weekAgo));
    QCOMPARE(runJob(*job(OverwriteAll, "other", "stick/dst")).failures, QStringList());
    QStringList now = kept + QStringList{"next.txt", QFileInfo(itsCopy.value(0)).fileName()};
    now.replaceInStrings("/", "");
    now.sort();
    QCOMPARE(QDir(path("stick/dst")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), now);

    QVERIFY(QFile::remove(itsCopy.value(0)));
    writing->resume();
    QCOMPARE(runJob(*writing).failures, QStringList{"5 src/big.bin"});
    QCOMPARE(readFile(path("stick/dst/big.bin")), "stick/dst/big.bin");
    QCOMPARE(strayTemporaries(), QStringList());
}

// --- where people copy -----------------------------------------------------------------------

void TestEnginePosix::clonesShareBlocks_data()
{
    QTest::addColumn<QStringList>("mkfs");
    QTest::newRow("btrfs") << QStringList{"mkfs.btrfs", "-q", "-f"};
    QTest::newRow("XFS with reflink") << QStringList{"mkfs.xfs", "-q", "-f", "-m", "reflink=1"};
}

// Within one file system that can share blocks, a copy is a clone: it takes no room, and is
// still a file of its own. The rules and the checks of a copy hold for it.
void TestEnginePosix::clonesShareBlocks()
{
    QFETCH(QStringList, mkfs);
    TRASKO_REQUIRE(!QStandardPaths::findExecutable(mkfs.first()).isEmpty(),
                   "btrfs-progs and xfsprogs");
    if (!run("truncate", {"-s", "1G", path("fs.img")}) ||
        !run(mkfs.first(), mkfs.mid(1) + QStringList{path("fs.img")}) ||
        !mount({"-o", "loop", path("fs.img")}, path("fs")))
        QSKIP("the kernel offers no loop device or no such file system here");
    QVERIFY(makeBig("fs/src/big.bin", 256 << 20) && makeBig("fs/src/sub/mid.bin", 3 << 20) &&
            makeTree({"fs/src/sub/small.txt", "fs/dst/sub/small.txt"}));
    QVERIFY(run("sync", {"-f", path("fs")}));
    const auto used = [this] {
        struct statvfs fs;
        return ::statvfs(native("fs").constData(), &fs) == 0
                   ? qint64(fs.f_blocks - fs.f_bfree) * qint64(fs.f_frsize)
                   : -1;
    };
    const qint64 before = used();
    const auto verified = job(OverwriteOlder, "fs/src", "fs/dst");
    verified->setVerification(Processor::Verification::ReadBack);
    const Outcome outcome = runJob(*verified);
    QCOMPARE(outcome.failures, QStringList());
    QCOMPARE(outcome.filesTotal, 2u); // the older small.txt is kept
    QCOMPARE(outcome.filesVerified, 2u);
    QVERIFY(run("sync", {"-f", path("fs")}));
    QVERIFY2(used() - before < (16 << 20), qPrintable(QString::number(used() - before)));
    QVERIFY(sameContent(path("fs/src/big.bin"), path("fs/dst/big.bin")));
    QCOMPARE(readFile(path("fs/dst/sub/small.txt")), "fs/dst/sub/small.txt");
    QCOMPARE(runJob(*job(OverwriteOlder, "fs/src", "fs/dst")).filesTotal, 0u);

    // A clone goes in ranges, each far beyond a step of reading, and a source that changes
    // meanwhile is not put in place.
    SystemError error;
    const NativeFs::Folder source = NativeFs::Folder::open(native("fs/src"), &error);
    const NativeFs::Folder target = NativeFs::Folder::open(native("fs/dst"), &error);
    NativeFs::TransferContext context;
    NativeFs::Transfer transfer(context);
    QCOMPARE(transfer.open(source, "big.bin", target, "cloning-big.bin", &error),
             NativeFs::Transfer::Result::Ok);
    qint64 advanced = 0;
    QCOMPARE(transfer.step(Processor::CopyBufferSize, &advanced, &error),
             NativeFs::Transfer::Result::Ok);
    QVERIFY2(advanced > (1 << 20), "no clone");
    QFile changed(path("fs/src/big.bin"));
    QVERIFY(changed.open(QIODevice::Append) && changed.write("more") == 4);
    changed.close();
    for (qint64 done = advanced; done < transfer.size(); done += advanced)
        QCOMPARE(transfer.step(Processor::CopyBufferSize, &advanced, &error),
                 NativeFs::Transfer::Result::Ok);
    QCOMPARE(transfer.finish(&error), NativeFs::Transfer::Result::SourceChanged);
}

void TestEnginePosix::manyFilesInFlightToANas_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("to its end") << "end";
    QTest::newRow("paused and resumed") << "pause";
    QTest::newRow("cancelled") << "cancel";
    QTest::newRow("the server gone") << "kill";
    // The server's own copy where it offers one, the system's otherwise: in steps all the same.
    QTest::newRow("within the share") << "within";
}

// A NAS, where each file costs round trips: many files in flight at once, and the promises of a
// copy kept all the same. Files whose names are taken by folders are listed once each; a cancel
// or a server gone leaves nothing half-placed under a real name, and every file not copied is
// listed; a pause holds every transfer.
void TestEnginePosix::manyFilesInFlightToANas()
{
    QFETCH(QString, ending);
    TRASKO_REQUIRE(!QStandardPaths::findExecutable("sshfs").isEmpty() &&
                       QFile::exists("/usr/lib/openssh/sftp-server") &&
                       !QStandardPaths::findExecutable("socat").isEmpty(),
                   "sshfs, socat and openssh-sftp-server");
    if (!mountNas("nas", "share"))
        QSKIP("the kernel offers no FUSE here");
    // Written where the server keeps them, read through the share.
    const bool within = ending == "within";
    const QString written = within ? "share/src/" : "src/";
    const QString source = within ? "nas/src" : "src";
    for (int i = 0; i < 240; ++i)
        QVERIFY(
            writeFile(path(written + "d%1/f%2.txt").arg(i % 6).arg(i), randomBytes(1000 + i * 13)));
    for (int i = 0; i < 6; ++i)
        QVERIFY(makeBig(path(written + "d%1/big.bin").arg(i), 6 << 20 << (within ? 1 : 0)));
    for (const char *taken : {"share/dst/d1/f1.txt/", "share/dst/d2/f2.txt/"})
        QVERIFY(makeTree({taken}));

    const auto processor = job(OverwriteAll, source, "nas/dst");
    processor->start();
    QVERIFY(spinUntil([&] { return processor->isFinished() || processor->filesDone() >= 40; }));
    if (ending == "pause") {
        processor->pause();
        QVERIFY2(!processor->isFinished(), "paused too late to hold anything");
        const quint64 held = processor->bytesDone();
        // Each file in flight may finish the step in hand: nothing more.
        const quint64 inFlight = quint64(CopyPhase::FilesInFlight) * Processor::CopyBufferSize;
        QVERIFY2(!spinUntil([&] { return processor->bytesDone() > held + inFlight; }, 1100),
                 "bytes moved while paused");
        processor->resume();
    } else if (ending == "cancel") {
        processor->cancel();
    } else if (ending == "kill") {
        QVERIFY(run("bash", {NAS_SCRIPT, "kill", path("nas")}));
    }
    QVERIFY2(processor->wait(QDeadlineTimer(30000)), "the job did not end");
    const Outcome outcome = runJob(*processor);

    // What bears a real name on the server is whole. Only a server gone may keep a temporary
    // file under its temporary name, for the next job into the folder to clear.
    const QStringList left = TestFiles::strayTemporaries(path("share"));
    QVERIFY2(left.isEmpty() || ending == "kill", qPrintable(left.join(u' ')));
    QStringList copied;
    for (const QString &entry : treeOf(path("share/dst"))) {
        if (entry.endsWith(u'/') || left.contains(path("share/dst/" + entry)))
            continue;
        QVERIFY2(sameContent(path(written + entry), path("share/dst/" + entry)), qPrintable(entry));
        copied += entry;
    }
    QStringList once = outcome.failures;
    once.removeDuplicates();
    QCOMPARE(once.size(), outcome.failures.size());
    if (ending == "end" || ending == "pause" || within) {
        QCOMPARE(outcome.failures,
                 QStringList({"4 " + source + "/d1/f1.txt", "4 " + source + "/d2/f2.txt"}));
        QCOMPARE(outcome.filesDone, 246u);
        QCOMPARE(copied.size(), 244);
    } else if (ending == "kill") {
        // Every file is copied or listed. One whose placing the server did without answering
        // is both; the destination's write-out fails too, and says so.
        const QStringList files = outcome.failures.filter(QRegularExpression("^\\d src/"));
        for (const QString &file : treeOf(path("src"))) {
            const bool listed =
                !files.filter(QRegularExpression(" src/" + QRegularExpression::escape(file) + "$"))
                     .isEmpty();
            QVERIFY2(file.endsWith(u'/') || copied.contains(file) || listed, qPrintable(file));
        }
        QVERIFY(files.size() > 100);
    }
}

void TestEnginePosix::toldBeforeTheFirstByte_data()
{
    QTest::addColumn<QString>("disk");
    QTest::addColumn<QString>("answer");
    QTest::newRow("a file FAT32 cannot hold") << "FAT32"
                                              << "";
    QTest::newRow("too little room, cancelled") << "tmpfs"
                                                << "cancel";
    QTest::newRow("too little room, copied anyway") << "tmpfs"
                                                    << "copy anyway";
    QTest::newRow("room once the old files are replaced") << "full tmpfs"
                                                          << "";
    QTest::newRow("an emptied file gives no room to a new one") << "shrinking tmpfs"
                                                                << "cancel";
}

// What cannot work is said after the count, before anything is written: a file the destination's
// file system cannot hold is listed and never begun; too little room is asked about, counting
// the room what is replaced gives back.
void TestEnginePosix::toldBeforeTheFirstByte()
{
    QFETCH(QString, disk);
    QFETCH(QString, answer);
    if (disk == "FAT32") {
        mountDisk(disk, "dst");
        QFile sparse(path("src/movie.mkv"));
        QVERIFY(QDir().mkpath(path("src")) && sparse.open(QIODevice::WriteOnly) &&
                sparse.resize(5LL << 30));
    } else if (!mount({"-t", "tmpfs", "-o", "size=16m", "tmpfs"}, path("dst"))) {
        QSKIP("needs root to mount a small tmpfs");
    }
    // On the full disk, the older files leave 6 MiB: enough for each new one in its turn. On the
    // shrinking one too, but the new file may come before the emptied one frees its room, while
    // the file of the same size keeps its old one until its copy is whole.
    const bool replacing = disk == "full tmpfs";
    const bool shrinking = disk == "shrinking tmpfs";
    for (int i = 0; i < 3; ++i) {
        const qint64 size = replacing   ? 5200 << 10
                            : shrinking ? (i == 0 ? 0 : 5 << 20)
                                        : 7000 << 10;
        QVERIFY((replacing && i == 2) || makeBig(path("src/%1.bin").arg(i), size));
        QVERIFY(!(replacing || shrinking) || i == 2 || makeBig(path("dst/%1.bin").arg(i), 5 << 20));
    }
    const QStringList before = treeOf(path("dst"));

    const auto processor = job(OverwriteAll);
    processor->start();
    QVERIFY(spinUntil([&] { return processor->isFinished() || processor->roomShort(); }));
    const std::optional<Processor::RoomShort> room = processor->roomShort();
    QCOMPARE(room.has_value(), !answer.isEmpty());
    if (room) {
        QVERIFY(room->needed >= (shrinking ? 10u << 20 : 21000u << 10) && room->free <= 16u << 20);
        QCOMPARE(treeOf(path("dst")), before);
        // Waiting for the answer is not running time, nor is a pause taken meanwhile.
        const qint64 asked = processor->elapsedMilliseconds();
        processor->pause();
        QTest::qWait(150);
        processor->resume();
        QTest::qWait(150);
        QCOMPARE(processor->elapsedMilliseconds(), asked);
        answer == "cancel" ? processor->cancel() : processor->copyAnyway();
    }
    const Outcome outcome = runJob(*processor);
    if (disk == "FAT32") {
        QCOMPARE(notCopied(*processor),
                 QStringList("src/movie.mkv: Too large for the destination's file system (FAT32 "
                             "holds files under 4 GB)"));
        QCOMPARE(outcome.filesTotal, 3u);
        QCOMPARE(treeOf(path("dst")), QStringList({"0.bin", "1.bin", "2.bin"}));
    } else if (answer == "cancel") {
        QCOMPARE(treeOf(path("dst")), before);
    } else if (answer.isEmpty()) {
        QCOMPARE(outcome.failures, QStringList());
    } else {
        QVERIFY2(outcome.failures.contains("3 src/2.bin") ||
                     outcome.failures.contains("3 src/1.bin"),
                 "the disk filled");
    }
    QCOMPARE(strayTemporaries(), QStringList());
}

QTEST_GUILESS_MAIN(TestEnginePosix)
#include "tst_engine_posix.moc"
