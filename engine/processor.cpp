#include "engine/processor.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QUuid>

#include <algorithm>
#include <chrono>

using NativeFs::Entry;
using NativeFs::Path;

namespace {

qint64 steadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The two roots in the form the walk uses for every path below them.
QString absoluteRoot(const QString &root)
{
    return QDir::cleanPath(QDir(root).absolutePath());
}

// A listed retry file belongs to the job only if it lies below the source root, compared
// component-wise after "." and ".." are resolved; blindly replacing its first characters could
// otherwise write anywhere. Below the root, the mapping is the plain replacement of the root.
bool mapRetryFile(const QString &file, const QString &sourceRoot, const QString &targetRoot,
                  Path *source, Path *target)
{
#ifdef Q_OS_WIN
    constexpr Qt::CaseSensitivity Case = Qt::CaseInsensitive;
#else
    constexpr Qt::CaseSensitivity Case = Qt::CaseSensitive;
#endif
    const QString path = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    if (!path.startsWith(sourceRoot, Case) || path.size() <= sourceRoot.size())
        return false;
    QString rest = path.mid(sourceRoot.size());
    if (!sourceRoot.endsWith(u'/')) {
        if (!rest.startsWith(u'/'))
            return false; // "/src2/a" is not below "/src"
    } else {
        rest.prepend(u'/');
    }
    QString base = targetRoot;
    if (base.endsWith(u'/'))
        base.chop(1);
    *source = NativeFs::toNative(path);
    *target = NativeFs::toNative(base + rest);
    return true;
}

} // namespace

struct Processor::Place
{
    Place(const Path &sourcePath, const Path &targetPath)
        : source(sourcePath), target(targetPath), samePath(sourcePath == targetPath)
    {
    }

    NativeFs::Folder source;
    NativeFs::Folder target;
    // Source and destination of every file here are one path: nothing to do.
    bool samePath;
    // The walk has just made the destination folder, so no file can lie in it yet.
    bool targetIsNew = false;
    // Cleared once the kernel refuses to copy between these two folders by itself.
    bool rangeCopy = true;
};

Processor::Processor(const QString &source, const QString &target, OverwriteMode mode,
                     bool includeSubFolders, bool includeHidden)
    : QThread(nullptr), m_source(source), m_target(target), m_overwriteMode(mode),
      m_includeSubFolders(includeSubFolders), m_includeHidden(includeHidden),
      m_tempPrefix(NativeFs::toNative(QUuid::createUuid().toString(QUuid::WithoutBraces) + u'-'))
{
}

Processor::~Processor()
{
    cancel();
    wait();
}

void Processor::pause()
{
    if (m_paused.load() || m_cancelled.load())
        return;
    m_pauseMutex.lock();
    m_paused.store(true);
    const qint64 start = m_runStartMs.load();
    if (start >= 0)
        m_elapsedBankedMs.fetch_add(steadyNowMs() - start);
}

void Processor::resume()
{
    if (!m_paused.load())
        return;
    m_runStartMs.store(steadyNowMs());
    m_paused.store(false);
    m_pauseMutex.unlock();
}

void Processor::cancel()
{
    m_cancelled.store(true);
    if (m_paused.load()) {
        // The paused stretch is not running time, whichever way the pause ends.
        m_runStartMs.store(steadyNowMs());
        m_paused.store(false);
        m_pauseMutex.unlock();
    }
}

bool Processor::isCancelled() const
{
    return m_cancelled.load();
}

quint32 Processor::filesTotal() const
{
    return m_filesTotal.load(std::memory_order_relaxed);
}

quint32 Processor::filesDone() const
{
    return m_filesDone.load(std::memory_order_relaxed);
}

quint64 Processor::bytesTotal() const
{
    return m_bytesTotal.load(std::memory_order_relaxed);
}

quint64 Processor::bytesDone() const
{
    return m_bytesDone.load(std::memory_order_relaxed);
}

QString Processor::currentFile() const
{
    Path name;
    {
        const QMutexLocker locker(&m_publishLock);
        name = m_currentFile;
    }
    return NativeFs::fromNative(name);
}

quint64 Processor::currentFileSize() const
{
    return m_currentFileSize.load(std::memory_order_relaxed);
}

quint64 Processor::currentFileDone() const
{
    return m_currentFileDone.load(std::memory_order_relaxed);
}

quint32 Processor::elapsedSeconds() const
{
    return quint32(elapsedMilliseconds() / 1000);
}

qint64 Processor::elapsedMilliseconds() const
{
    const qint64 start = m_runStartMs.load();
    if (start < 0)
        return 0;
    qint64 ms = m_elapsedBankedMs.load();
    if (!m_paused.load())
        ms += steadyNowMs() - start;
    return qMax<qint64>(ms, 0);
}

bool Processor::isFlushing() const
{
    return m_flushing.load();
}

int Processor::failureCount() const
{
    return m_failureCount.load();
}

QList<CopyError> Processor::failures() const
{
    const QMutexLocker locker(&m_publishLock);
    return m_failures;
}

void Processor::setRetryFiles(const QStringList &files)
{
    m_retryFiles = files;
    m_retryMode = true;
}

void Processor::setRetryFiles(const QList<CopyError> &failures)
{
    QStringList files;
    files.reserve(failures.size());
    for (const CopyError &failure : failures)
        files.append(failure.file());
    setRetryFiles(files);
}

void Processor::run()
{
    {
        const QMutexLocker locker(&m_publishLock);
        m_failures.clear();
    }
    m_failureCount.store(0);
    m_elapsedBankedMs.store(0);
    m_runStartMs.store(steadyNowMs());

    scanJob();
    copyJob();
}

void Processor::resetCounters()
{
    m_filesTotal.store(0);
    m_filesDone.store(0);
    m_bytesTotal.store(0);
    m_bytesDone.store(0);
    setCurrentFile(Path());
    m_currentFileSize.store(0);
    m_currentFileDone.store(0);
}

bool Processor::isCancelRequested() const
{
    return m_cancelled.load(std::memory_order_relaxed);
}

void Processor::waitWhilePaused()
{
    if (m_paused.load(std::memory_order_acquire)) {
        m_pauseMutex.lock();
        m_pauseMutex.unlock();
    }
}

void Processor::setCurrentFile(const Path &name)
{
    const QMutexLocker locker(&m_publishLock);
    m_currentFile = name;
}

void Processor::addFailure(const QString &file, CopyErrorCode code)
{
    int count;
    {
        const QMutexLocker locker(&m_publishLock);
        m_failures.append(CopyError(file, code));
        count = int(m_failures.size());
    }
    m_failureCount.store(count);
}

bool Processor::shouldCopy(const NativeFs::Status &source, const NativeFs::Status &target) const
{
    if (!target.exists)
        return true;
    switch (m_overwriteMode) {
    case OverwriteNone:
        return false;
    case OverwriteOlder:
        return target.modifiedMs < source.modifiedMs;
    case OverwriteSmaller:
        return target.size < source.size;
    case OverwriteAll:
    default:
        return true;
    }
}

bool Processor::isOnWalk(const NativeFs::FolderId &folder) const
{
    if (m_hasTargetRootId && folder == m_targetRootId)
        return true;
    return std::find(m_walkPath.cbegin(), m_walkPath.cend(), folder) != m_walkPath.cend();
}

void Processor::walkFolder(Phase phase, const Path &source, const Path &target, bool reachedByLink)
{
    if (isCancelRequested())
        return;
    waitWhilePaused();

    const bool isRoot = m_walkPath.empty();
    bool targetIsNew = false;
    if (phase == Phase::Copy && isRoot) {
        if (NativeFs::makePath(target, &targetIsNew)) {
            const NativeFs::Folder root(target);
            m_targetRootId = root.id();
            m_hasTargetRootId = root.isOpen();
        } else {
            phase = Phase::Unreachable;
        }
    }

    NativeFs::FolderId id;
    std::vector<Entry> folders;
    {
        const NativeFs::Folder folder(source);
        if (folder.isOpen() && isOnWalk(id = folder.id()))
            return; // a link back up the walk, or into the copy being made
        // A link into a folder below the target would copy the copy, level after level.
        if (reachedByLink && m_hasTargetRootId && folder.isWithin(m_targetRootId))
            return;
        if (phase != Phase::Copy && !folder.isOpen())
            return;
        // Skipping the files below silently would end the job as complete with them missing.
        if (phase == Phase::Copy && !isRoot && !NativeFs::makePath(target, &targetIsNew))
            phase = Phase::Unreachable;
        if (m_includeSubFolders)
            folder.list(NativeFs::Listing::SubFolders, m_includeHidden, folders);
        if (!folder.isOpen())
            return; // nothing listed below a source folder that is not there
    }

    // Held folders stay closed while the walk is below them: a deep tree must not run out of
    // descriptors.
    m_walkPath.push_back(id);
    for (const Entry &entry : folders) {
        const Path childSource = NativeFs::join(source, entry.name);
        const Path childTarget = NativeFs::join(target, entry.name);
        if (isCancelRequested())
            break;
        waitWhilePaused();
        if (phase == Phase::Scan)
            scanFolder(childSource, childTarget, entry.mayBeLink);
        else if (phase == Phase::Copy)
            copyFolder(childSource, childTarget, entry.mayBeLink);
        else
            walkFolder(phase, childSource, childTarget, entry.mayBeLink);
    }
    if (isCancelRequested()) {
        m_walkPath.pop_back();
        return;
    }
    waitWhilePaused();

    Place place(source, target);
    // Looking for what cannot be there is skipped only where any answer would copy anyway:
    // other modes must still notice two names that fold into one on a case-blind file system.
    place.targetIsNew = targetIsNew && m_overwriteMode != OverwriteNone &&
                        m_overwriteMode != OverwriteOlder && m_overwriteMode != OverwriteSmaller;
    place.source.list(NativeFs::Listing::Files, m_includeHidden, m_fileListing);
    for (const Entry &entry : m_fileListing) {
        if (isCancelRequested())
            break;
        waitWhilePaused();
        if (phase == Phase::Scan)
            scanFile(place, entry);
        else if (phase == Phase::Copy)
            copyFile(place, entry, nullptr);
        else
            addFailure(NativeFs::fromNative(NativeFs::join(source, entry.name)), TargetOpenError);
    }
    m_fileListing.clear();
    m_walkPath.pop_back();
}

void Processor::walkRetryFiles(Phase phase)
{
    if (isCancelRequested())
        return;
    const QString sourceRoot = absoluteRoot(m_source);
    const QString targetRoot = absoluteRoot(m_target);
    for (const QString &file : m_retryFiles) {
        Path source;
        Path target;
        const bool mapped = mapRetryFile(file, sourceRoot, targetRoot, &source, &target);
        if (isCancelRequested())
            break;
        waitWhilePaused();
        if (!mapped) {
            // Nothing may be written outside the job's target.
            if (phase == Phase::Copy)
                addFailure(file, TargetOpenError);
            continue;
        }
        Path sourceFolder;
        Path targetFolder;
        Entry entry;
        Path targetName;
        NativeFs::split(source, &sourceFolder, &entry.name);
        NativeFs::split(target, &targetFolder, &targetName);
        Place place(sourceFolder, targetFolder);
        place.samePath = source == target;
        if (phase == Phase::Scan)
            scanFile(place, entry);
        else
            copyFile(place, entry, &file);
    }
}

void Processor::scanJob()
{
    resetCounters();
    if (m_retryMode) {
        scanRetryFiles();
        return;
    }
    const Path target = NativeFs::toNative(absoluteRoot(m_target));
    const NativeFs::Folder root(target);
    m_targetRootId = root.id();
    m_hasTargetRootId = root.isOpen();
    scanFolder(NativeFs::toNative(absoluteRoot(m_source)), target);
}

void Processor::scanFolder(const Path &source, const Path &target, bool reachedByLink)
{
    walkFolder(Phase::Scan, source, target, reachedByLink);
}

void Processor::scanRetryFiles()
{
    walkRetryFiles(Phase::Scan);
}

void Processor::scanFile(const Place &place, const Entry &entry)
{
    if (place.samePath)
        return;
    const NativeFs::Status source =
        entry.hasStatus ? entry.status : place.source.status(entry.name);
    if (!source.exists)
        return; // gone since the listing; the copy will meet whatever is there then
    if (!shouldCopy(source, place.target.status(entry.name)))
        return;
    m_filesTotal.store(m_filesTotal.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    m_bytesTotal.store(m_bytesTotal.load(std::memory_order_relaxed) + quint64(source.size),
                       std::memory_order_relaxed);
}

void Processor::copyJob()
{
    m_hasTargetRootId = false;
    if (m_retryMode)
        copyRetryFiles();
    else
        copyFolder(NativeFs::toNative(absoluteRoot(m_source)),
                   NativeFs::toNative(absoluteRoot(m_target)));
}

void Processor::copyFolder(const Path &source, const Path &target, bool reachedByLink)
{
    walkFolder(Phase::Copy, source, target, reachedByLink);
}

void Processor::copyRetryFiles()
{
    walkRetryFiles(Phase::Copy);
}

void Processor::copyFile(Place &place, const Entry &entry, const QString *listedPath)
{
    if (isCancelRequested() || place.samePath)
        return;
    const auto recordedPath = [&] {
        return listedPath ? *listedPath
                          : NativeFs::fromNative(NativeFs::join(place.source.path(), entry.name));
    };

    // The counts go first: a reader that sees the new name must not pair it with the bytes of
    // the file before.
    m_currentFileDone.store(0, std::memory_order_relaxed);
    m_currentFileSize.store(entry.hasStatus ? quint64(entry.status.size) : 0,
                            std::memory_order_relaxed);
    setCurrentFile(entry.name);
    const NativeFs::Status target =
        place.targetIsNew ? NativeFs::Status() : place.target.status(entry.name, true);
    if (target.exists) {
        const NativeFs::Status source =
            entry.hasStatus ? entry.status : place.source.status(entry.name);
        m_currentFileSize.store(quint64(source.size), std::memory_order_relaxed);
        if (!shouldCopy(source, target))
            return;
    }

    NativeFs::Transfer transfer;
    switch (transfer.open(place.source, entry.name, place.target,
                          NativeFs::temporaryName(m_tempPrefix, entry.name), &place.rangeCopy)) {
    case NativeFs::Transfer::Open::SourceFailed:
        addFailure(recordedPath(), SourceOpenError);
        return;
    case NativeFs::Transfer::Open::TargetFailed:
        addFailure(recordedPath(), TargetOpenError);
        return;
    case NativeFs::Transfer::Open::Ok:
        break;
    }

    // The size when the file was opened is its end: a file still growing is copied as it was
    // then, and one that ends sooner is a failed read, not a short copy.
    const qint64 size = transfer.sourceSize();
    m_currentFileSize.store(quint64(size), std::memory_order_relaxed);
    if (!m_buffer)
        m_buffer = std::make_unique_for_overwrite<char[]>(CopyBufferSize);
    quint64 jobDone = m_bytesDone.load(std::memory_order_relaxed);
    qint64 done = 0;
    bool failed = false;
    while (done < size && !failed && !isCancelRequested()) {
        qint64 moved = 0;
        const auto chunk =
            transfer.copyChunk(m_buffer.get(), qMin(CopyBufferSize, size - done), &moved);
        if (chunk == NativeFs::Transfer::Chunk::ReadFailed ||
            (chunk == NativeFs::Transfer::Chunk::Ok && moved == 0)) {
            addFailure(recordedPath(), SourceReadError);
            failed = true;
        } else if (chunk == NativeFs::Transfer::Chunk::WriteFailed) {
            addFailure(recordedPath(), TargetWriteError);
            failed = true;
        }
        if (moved > 0) {
            done += moved;
            jobDone += quint64(moved);
            m_bytesDone.store(jobDone, std::memory_order_relaxed);
            m_currentFileDone.store(quint64(done), std::memory_order_relaxed);
        }
        waitWhilePaused();
    }

    // A full disk may only show when the data is flushed at close.
    const bool closed = transfer.close();
    if (!failed && !isCancelRequested()) {
        if (!closed)
            addFailure(recordedPath(), TargetWriteError);
        else if (target.exists && !target.replaceable)
            addFailure(recordedPath(), TargetRemoveError); // a folder, say, bears the name
        else if (!transfer.replace(entry.name))
            addFailure(recordedPath(), TargetReplaceError);
    }
    transfer.discard();
    m_filesDone.store(m_filesDone.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}
