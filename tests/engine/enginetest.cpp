#include "tests/engine/enginetest.h"

#include "tests/support/filetree.h"
#include "tests/support/wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

bool run(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(60000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return ok;
}

bool sameContent(const QString &a, const QString &b)
{
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) ||
        first.size() != second.size())
        return false;
    while (!first.atEnd()) {
        if (first.read(1 << 20) != second.read(1 << 20))
            return false;
    }
    return true;
}

void EngineTest::setUpFolder()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    // Other users must reach the folder for the tests that drop privileges.
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ExeOwner | QFile::ReadOther |
                                                     QFile::ExeOther));
    m_cleanup = std::make_unique<Cleanup>();
}

void EngineTest::tearDownFolder()
{
    m_cleanup.reset(); // unmounts and clears attributes before the folder is removed
#ifdef Q_OS_UNIX
    // Trees deeper than a path can name, and names that are not text, are beyond QDir.
    run("rm", {"-rf", m_dir->path()});
#endif
    m_dir.reset();
}

QByteArray EngineTest::native(const QString &relative) const
{
    return QFile::encodeName(path(relative));
}

QString EngineTest::relative(const QString &file) const
{
    return QDir(m_dir->path()).relativeFilePath(file);
}

bool EngineTest::makeTree(const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (entry.endsWith(u'/') ? !QDir().mkpath(path(entry))
                                 : !TestFiles::writeFile(path(entry), entry.toUtf8()))
            return false;
    }
    return true;
}

bool EngineTest::makeBig(const QString &relative, qint64 size)
{
    if (!QDir().mkpath(QFileInfo(path(relative)).path()))
        return false;
    QFile file(path(relative));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block = TestFiles::randomBytes(1 << 20);
    for (qint64 written = 0; written < size; written += block.size()) {
        if (file.write(block.constData(), qMin<qint64>(block.size(), size - written)) < 0)
            return false;
    }
    return true;
}

bool EngineTest::mount(const QStringList &arguments, const QString &where)
{
    if (!QDir().mkpath(where) || !run("mount", arguments + QStringList{where}))
        return false;
    m_cleanup->add([where] { run("umount", {"-l", where}); });
    return true;
}

std::unique_ptr<Processor> EngineTest::job(OverwriteMode mode, const QString &source,
                                           const QString &target) const
{
    return std::make_unique<Processor>(path(source), path(target), mode, true, false);
}

Outcome EngineTest::runJob(Processor &processor) const
{
    Outcome outcome;
    if (!processor.isRunning() && !processor.isFinished())
        processor.start();
    // A job short of room waits to be told: these copy anyway, as a job always did.
    const QDeadlineTimer deadline(60000);
    while (!processor.wait(QDeadlineTimer(50)) && !deadline.hasExpired()) {
        if (processor.roomShort()) {
            outcome.shortOfRoom = true;
            processor.copyAnyway();
        }
    }
    outcome.ran = processor.isFinished();
    outcome.filesTotal = processor.filesTotal();
    outcome.filesDone = processor.filesDone();
    outcome.bytesTotal = processor.bytesTotal();
    outcome.bytesDone = processor.bytesDone();
    outcome.filesVerified = processor.progress(PhaseKind::Verify).filesSucceeded;
    for (const CopyError &failure : processor.failures()) {
        outcome.failures.append(
            QStringLiteral("%1 %2").arg(failure.code()).arg(relative(failure.file())));
        outcome.reasons.insert(outcome.failures.constLast(), failure.reason());
    }
    outcome.failures.sort();
    return outcome;
}

Outcome EngineTest::copy(OverwriteMode mode) const
{
    return runJob(*job(mode));
}

bool EngineTest::pauseInside(Processor &processor, const QString &name) const
{
    processor.start();
    // The name first: once it is this file's, the byte count read after it is too.
    const bool inside = spinUntil([&] {
        return processor.isFinished() ||
               (processor.currentFile() == name && processor.currentFileDone() > 0);
    });
    processor.pause();
    return inside && !processor.isFinished() &&
           processor.currentFileDone() < processor.currentFileSize();
}

Outcome EngineTest::runRunner(const QStringList &wrapper, const QStringList &arguments) const
{
    QStringList command = wrapper;
    command << QStringLiteral(ENGINE_RUNNER) << arguments;
    Outcome outcome;
    const QString program = command.takeFirst();
    outcome.ran = run(program, command, &outcome.output);
    const QHash<QString, quint64 *> counters{{"filesTotal", &outcome.filesTotal},
                                             {"filesDone", &outcome.filesDone},
                                             {"bytesTotal", &outcome.bytesTotal},
                                             {"bytesDone", &outcome.bytesDone},
                                             {"filesVerified", &outcome.filesVerified}};
    for (const QString &line : outcome.output.split(u'\n', Qt::SkipEmptyParts)) {
        const QString text = line.trimmed();
        if (text.startsWith(QLatin1String("failure "))) {
            const qsizetype space = text.indexOf(u' ', 8);
            outcome.failures.append(text.mid(8, space - 8) + u' ' + relative(text.mid(space + 1)));
        } else if (text.startsWith(QLatin1String("reason ")) && !outcome.failures.isEmpty()) {
            outcome.reasons.insert(outcome.failures.constLast(), text.mid(7));
        } else if (const qsizetype eq = text.indexOf(u'='); counters.contains(text.left(eq))) {
            *counters.value(text.left(eq)) = text.mid(eq + 1).toULongLong();
        }
    }
    outcome.failures.sort();
    return outcome;
}

QStringList EngineTest::strayTemporaries() const
{
    return TestFiles::strayTemporaries(m_dir->path());
}
