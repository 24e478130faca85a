#include "engine/processor.h"
#include "engine/reasons.h"

#include "engine/job_p.h"
#include "engine/leftovers.h"
#include "engine/pathcheck.h"

#include <QDir>
#include <QMutexLocker>
#include <QUuid>

#include <cerrno>
#include <chrono>
#include <cstring>

// Who does what
// -------------
// The GUI thread constructs the job, may hand it a retry list, starts it, and afterwards only
// calls pause(), resume(), cancel() and the accessors. The worker thread runs run(): the scan,
// which counts what the copy will do; the copy, which walks the same folders in the same order;
// and the flush, which waits until the copied data is on the device.
//
// Pausing: pause() locks m_pauseMutex and keeps it locked; the worker, at each pause point
// (waitWhilePaused, between files and between steps of a file), locks and unlocks it, so it
// waits exactly while the GUI holds it. cancel() sets m_cancelled, which every walk checks
// before each folder, file and step, and releases a pause still held. The destructor cancels
// and waits for the thread, so a job deleted mid-run ends cleanly.
//
// The counters are plain atomics the worker adds to and the GUI reads whole; their default
// (sequentially consistent) order is used throughout. Only m_currentFile and m_failures, which
// cannot be read whole, sit behind m_publishLock, held for the moment of a copy.

using NativeFs::Folder;
using NativeFs::Links;
using NativeFs::Path;

namespace {

qint64 steadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The two roots in the form the walk uses for every path below them.
Path absoluteRoot(const QString &root)
{
    return NativeFs::toNative(QDir::cleanPath(QDir(root).absolutePath()));
}

NativeFs::HiddenEntries hiddenEntries(bool include)
{
    return include ? NativeFs::HiddenEntries::Include : NativeFs::HiddenEntries::Skip;
}

} // namespace

Processor::Job::Job(Processor &processor)
    : p(processor), sourceRoot(absoluteRoot(processor.m_source)),
      targetRoot(absoluteRoot(processor.m_target)), samePath(sourceRoot == targetRoot),
      keepDates(processor.m_dates == Dates::Keep),
      transfer(processor.m_verification == Verification::ReadBack
                   ? NativeFs::TransferContext::Digests::On
                   : NativeFs::TransferContext::Digests::Off,
               keepDates ? NativeFs::TransferContext::Dates::Keep
                         : NativeFs::TransferContext::Dates::New)
{
}

// --- the job's interface ----------------------------------------------------------------------

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
    return m_filesTotal.load();
}

quint32 Processor::filesDone() const
{
    return m_filesDone.load();
}

quint32 Processor::filesCopied() const
{
    return m_filesCopied.load();
}

quint64 Processor::bytesTotal() const
{
    return m_bytesTotal.load();
}

quint64 Processor::bytesDone() const
{
    return m_bytesDone.load();
}

QString Processor::currentFile() const
{
    QByteArray name;
    {
        const QMutexLocker locker(&m_publishLock);
        name = m_currentFile;
    }
    return NativeFs::fromNative(name);
}

quint64 Processor::currentFileSize() const
{
    return m_currentFileSize.load();
}

quint64 Processor::currentFileDone() const
{
    return m_currentFileDone.load();
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

bool Processor::isVerifying() const
{
    return m_verifying.load();
}

quint32 Processor::filesToVerify() const
{
    return m_filesToVerify.load();
}

quint32 Processor::filesVerified() const
{
    return m_filesVerified.load();
}

quint64 Processor::bytesToVerify() const
{
    return m_bytesToVerify.load();
}

quint64 Processor::bytesVerified() const
{
    return m_bytesVerified.load();
}

void Processor::setVerification(Verification verification)
{
    m_verification = verification;
}

void Processor::setDates(Dates dates)
{
    m_dates = dates;
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
    m_retryFiles.clear();
    for (const QString &file : files)
        m_retryFiles.append(NativeFs::toNative(file));
    m_retryMode = true;
}

void Processor::setRetryFiles(const QList<CopyError> &failures)
{
    m_retryFiles.clear();
    for (const CopyError &failure : failures) {
        const QByteArray native = failure.nativeFile();
        m_retryFiles.append(native.isEmpty() ? NativeFs::toNative(failure.file()) : native);
    }
    m_retryMode = true;
}

void Processor::waitWhilePaused()
{
    if (m_paused.load()) {
        m_pauseMutex.lock();
        m_pauseMutex.unlock();
    }
}

void Processor::setCurrentFile(const QByteArray &name)
{
    const QMutexLocker locker(&m_publishLock);
    // A deep copy into the buffer already held: the name may be a view of the worker's listing.
    m_currentFile.resize(name.size());
    std::memcpy(m_currentFile.data(), name.constData(), size_t(name.size()));
}

void Processor::addFailure(const QByteArray &path, CopyErrorCode code, const QString &reason)
{
    const QString text = NativeFs::fromNative(path);
    // The exact name is kept only where the text cannot carry it back to the same file.
    const QByteArray native = NativeFs::toNative(text) == path ? QByteArray() : path;
    int count;
    {
        const QMutexLocker locker(&m_publishLock);
        m_failures.append(CopyError(text, code, reason, native));
        count = int(m_failures.size());
    }
    m_failureCount.store(count);
}

void Processor::run()
{
    NativeFs::prepareProcess();
    {
        const QMutexLocker locker(&m_publishLock);
        m_failures.clear();
    }
    m_failureCount.store(0);
    m_elapsedBankedMs.store(0);
    m_runStartMs.store(steadyNowMs());

    Job job(*this);
    job.scanJob();
    job.copyJob();
    job.flush();
    job.verify();
}

// --- the phases ------------------------------------------------------------------------------

void Processor::Job::scanJob()
{
    // The totals first, zeroed for both kinds of job.
    p.m_filesTotal.store(0);
    p.m_filesDone.store(0);
    p.m_filesCopied.store(0);
    p.m_bytesTotal.store(0);
    p.m_bytesDone.store(0);
    p.setCurrentFile({});
    p.m_currentFileSize.store(0);
    p.m_currentFileDone.store(0);
    if (p.m_retryMode)
        scanRetryFiles();
    else
        scanFolder();
}

void Processor::Job::copyJob()
{
    if (p.m_retryMode)
        copyRetryFiles();
    else
        copyFolder();
}

void Processor::Job::scanFolder()
{
    walk(Phase::Scan);
}

void Processor::Job::scanRetryFiles()
{
    walkRetryFiles(Phase::Scan);
}

void Processor::Job::copyFolder()
{
    walk(Phase::Copy);
}

void Processor::Job::copyRetryFiles()
{
    walkRetryFiles(Phase::Copy);
}

// --- the walk ----------------------------------------------------------------------------------

// The scan and the copy walk the same folders in the same order and skip the same ones, so
// that the totals measure what the copy does. Within a folder, sub-folders come before files.
void Processor::Job::walk(Phase phase)
{
    if (cancelled() || samePath)
        return;
    p.waitWhilePaused();
    if (openRoot(phase))
        walkStack(phase);
}

// Down the folders from the one in hand, each one's sub-folders before its files.
void Processor::Job::walkStack(Phase phase)
{
    while (!stack.empty() && !cancelled()) {
        Frame &frame = stack.top();
        if (frame.hasFoldersLeft()) {
            descend(phase);
        } else if (!frame.filesDone) {
            frame.filesDone = true;
            walkFiles(frame, phase);
        } else {
            leaveFolder(phase);
        }
    }
    stack.clear();
}

bool Processor::Job::openRoot(Phase phase)
{
    bounds.find(sourceRoot, targetRoot);
    Frame root;
    SystemError error;
    root.source = Folder::open(sourceRoot, &error);
    if (!root.source.isOpen()) {
        // Nothing to copy is not the same as nothing there: the job must not end as complete.
        if (phase == Phase::Copy)
            addFailure(sourceRoot, SourceOpenError, Reasons::system(error));
        return false;
    }
    root.sourceId = root.source.id();
    bounds.setSourceRoot(root.sourceId);
    bounds.visit(phase, root.sourceId);
    stack.pushRoot(std::move(root), sourceRoot);
    if (!enterFolder(stack.top(), phase))
        stack.clear();
    return !stack.empty();
}

void Processor::Job::descend(Phase phase)
{
    Frame &parent = stack.top();
    const NativeFs::Listing::Item item = parent.folders.folders().at(parent.nextFolder++);
    p.waitWhilePaused();
    if (cancelled())
        return;

    Frame child;
    child.name = parent.folders.name(item);
    child.sourceByLink = item.mayBeLink;
    // A folder listed as one is entered as one: a link put in its place since is not followed.
    const Links links = item.mayBeLink ? Links::Follow : Links::Stay;
    SystemError error;
    child.source = parent.source.openChild(child.name, links, &error);
    if (!child.source.isOpen() && stack.relieve(1))
        child.source = stack.top().source.openChild(child.name, links, &error);
    if (!child.source.isOpen()) {
        if (phase == Phase::Copy)
            addFailure(NativeFs::join(stack.path(), child.name), SourceOpenError,
                       Reasons::system(error));
        return;
    }
    child.sourceId = child.source.id();
    const Reached reached = item.mayBeLink ? Reached::MaybeByLink : Reached::Directly;
    if (const std::optional<QString> refused = bounds.refusedFolder(child.source, reached)) {
        if (phase == Phase::Copy && !refused->isEmpty())
            addFailure(NativeFs::join(stack.path(), child.name), SourceOpenError, *refused);
        return;
    }
    // However many links lead to a folder, it is copied once.
    if (!bounds.visit(phase, child.sourceId))
        return;
    stack.push(std::move(child));
    if (!enterFolder(stack.top(), phase))
        stack.top().abandon();
}

// Lists the source folder's sub-folders and, once it could be read, opens or makes its
// destination.
bool Processor::Job::enterFolder(Frame &frame, Phase phase)
{
    SystemError error;
    NativeFs::FolderReader reader(frame.source, hiddenEntries(p.m_includeHidden));
    NativeFs::Listing batch;
    while (reader.next(batch, &error)) {
        if (p.m_includeSubFolders) {
            for (const NativeFs::Listing::Item &item : batch.folders())
                frame.folders.add(batch, item);
        }
    }
    if (error.isSet()) {
        // No empty folder in its place that would pass for a complete copy.
        if (phase == Phase::Copy)
            addFailure(stack.path(), SourceOpenError, Reasons::system(error));
        frame.folders.clear();
        return false;
    }
    openTarget(frame, stack.parentOfTop(), phase);
    return true;
}

// The folder's files, and in the copy what it holds that no copy can, read a batch at a time.
void Processor::Job::walkFiles(Frame &frame, Phase phase)
{
    p.waitWhilePaused();
    SystemError error;
    NativeFs::FolderReader reader(frame.source, hiddenEntries(p.m_includeHidden));
    NativeFs::Listing batch;
    while (!cancelled() && reader.next(batch, &error)) {
        for (const NativeFs::Listing::Item &item : batch.files()) {
            if (cancelled())
                return;
            p.waitWhilePaused();
            const Path name = batch.name(item);
            if (phase == Phase::Scan)
                scanFile(frame, name);
            else if (frame.targetState == TargetState::Unreachable)
                addFailure(NativeFs::join(stack.path(), name), TargetOpenError,
                           frame.unreachableReason);
            else
                copyFile(frame, name, nullptr);
        }
        for (const NativeFs::Listing::Item &item : batch.others()) {
            if (phase == Phase::Copy)
                addFailure(NativeFs::join(stack.path(), batch.name(item)), SourceOpenError,
                           Reasons::notCopied(item.kind, item.error));
        }
    }
    // Read only in part: what was not reached is not copied.
    if (error.isSet() && phase == Phase::Copy)
        addFailure(stack.path(), SourceOpenError, Reasons::system(error));
}

void Processor::Job::leaveFolder(Phase phase)
{
    // Everything below it is done: nothing the job does changes the folder again.
    if (phase == Phase::Copy && keepDates && stack.top().source.isOpen())
        keepFolderDate(stack.top(), stack.top().source.modifiedNs(), stack.path());
    const FolderStack::Lost lost = stack.pop();
    if (lost.source && phase == Phase::Copy)
        addFailure(lost.path, SourceOpenError, Reasons::system(lost.error));
}

void Processor::Job::openTarget(Frame &frame, Frame *parent, Phase phase)
{
    // Only the copy makes folders.
    const NativeFs::Permissions permissions =
        phase == Phase::Copy ? frame.source.permissionsForCopy() : NativeFs::Permissions();
    if (!parent)
        openRootTarget(frame, permissions, phase);
    else if (parent->targetState == TargetState::Unreachable)
        frame.makeUnreachable(parent->unreachableReason);
    else if (parent->targetState == TargetState::Open)
        openChildTarget(frame, *parent, permissions, phase);
}

void Processor::Job::openRootTarget(Frame &frame, NativeFs::Permissions permissions, Phase phase)
{
    SystemError error;
    bool made = false;
    if (phase == Phase::Copy && !NativeFs::makePath(targetRoot, permissions, &made, &error)) {
        frame.makeUnreachable(Reasons::system(error));
        return;
    }
    // A folder the person chose keeps its own date; one the job made is a copy like any other.
    frame.targetNew = made;
    frame.keepsDate = made;
    frame.target = Folder::open(targetRoot, &error);
    if (!frame.target.isOpen()) {
        if (phase == Phase::Copy)
            frame.makeUnreachable(Reasons::system(error));
        return;
    }
    bounds.setTargetRoot(frame.target.id());
    if (phase == Phase::Copy && frame.target.isWithin(bounds.sourceRoot())) {
        frame.makeUnreachable(Reasons::text(Reasons::Reason::DestinationInSource));
        return;
    }
    adoptTarget(frame, phase);
}

void Processor::Job::openChildTarget(Frame &frame, Frame &parent, NativeFs::Permissions permissions,
                                     Phase phase)
{
    SystemError error;
    if (phase == Phase::Copy) {
        frame.targetNew = parent.target.makeFolder(frame.name, permissions, &error);
        if (!frame.targetNew && !error.is(EEXIST)) {
            frame.makeUnreachable(Reasons::system(error));
            return;
        }
        // The folder of another source name that folds into this one on this disk.
        if (!frame.targetNew && parent.written.collides(frame.name)) {
            frame.makeUnreachable(Reasons::system(SystemError::posix(EEXIST)));
            return;
        }
        wroteAnything = wroteAnything || frame.targetNew;
    }
    // Never through a link: what the job enters below its root is a folder of the copy.
    frame.target = parent.target.openChild(frame.name, Links::Stay, &error);
    if (!frame.target.isOpen() && (error.is(EMFILE) || error.is(ENFILE)) && stack.relieve(2))
        frame.target = parent.target.openChild(frame.name, Links::Stay, &error);
    if (!frame.target.isOpen()) {
        if (phase == Phase::Copy)
            frame.makeUnreachable(Reasons::system(error));
        return;
    }
    if (phase == Phase::Copy)
        parent.written.note(parent.target, frame.name);
    adoptTarget(frame, phase);
}

void Processor::Job::adoptTarget(Frame &frame, Phase phase)
{
    frame.targetId = frame.target.id();
    frame.targetState = TargetState::Open;
    if (phase != Phase::Copy)
        return;
    if (bounds.isSourceFolder(frame.targetId)) {
        frame.makeUnreachable(Reasons::text(Reasons::Reason::DestinationInSource));
        return;
    }
    keepForFlush(frame.target);
}

// --- retry -------------------------------------------------------------------------------------

// A listed file belongs to the job only if it lies below the source root; blindly replacing its
// first characters could otherwise write anywhere. Its destination folders are made below the
// target root, as in a first copy.
void Processor::Job::walkRetryFiles(Phase phase)
{
    if (cancelled())
        return;
    bounds.find(sourceRoot, targetRoot);
    SystemError error;
    if (const Folder root = Folder::open(sourceRoot, &error); root.isOpen()) {
        bounds.setSourceRoot(root.id());
        bounds.visit(Phase::Scan, root.id());
    }
    retryFrameReady = false;
    for (const Path &listed : std::as_const(p.m_retryFiles)) {
        if (cancelled())
            break;
        p.waitWhilePaused();
        retryFile(listed, phase);
    }
}

void Processor::Job::retryFile(const Path &listed, Phase phase)
{
    // The source root's own record (it could not be read): the whole tree again.
    if (listed == sourceRoot) {
        walk(phase);
        return;
    }
    QList<Path> folders;
    if (!PathCheck::namesBelow(sourceRoot, listed, &folders)) {
        if (phase == Phase::Copy)
            addFailure(listed, TargetOpenError, Reasons::text(Reasons::Reason::OutsideSource));
        return;
    }
    const Path name = folders.takeLast();
    if (!retryFrameReady || folders != retryFolders)
        openRetryFolders(folders, phase);
    Frame &frame = retryFrame;
    if (retrySourceFailure) {
        if (phase == Phase::Copy)
            addFailure(listed, SourceOpenError, *retrySourceFailure);
        return;
    }
    Path target = targetRoot;
    for (const Path &folder : std::as_const(folders))
        target = NativeFs::join(target, folder);
    if (NativeFs::join(target, name) == listed)
        return; // the same path: nothing to do
    const std::optional<QString> reason = bounds.notAFile(frame.source, name);
    const NativeFs::Status status = frame.source.status(name, Links::Stay);
    if (!reason && status.kind == NativeFs::EntryKind::Folder) {
        retryFolder(listed, name, status.isLink, phase);
    } else if (phase == Phase::Scan) {
        scanFile(frame, name);
    } else if (reason) {
        addFailure(listed, SourceOpenError, *reason);
    } else if (frame.targetState != TargetState::Open) {
        addFailure(listed, TargetOpenError, frame.unreachableReason);
    } else {
        WrittenNames &written = retryWritten[target];
        std::swap(frame.written, written);
        copyFile(frame, name, &listed);
        std::swap(frame.written, written);
        // No walk leaves this folder: its date is given back file by file.
        if (keepDates)
            keepFolderDate(frame, frame.source.modifiedNs(),
                           listed.left(listed.size() - name.size() - 1));
    }
}

// The folders of a retried file, on both sides, made below the target root as the walk makes
// them. A folder the retry made a folder in gets its date back at once, with "Keep dates": no
// walk leaves it later.
bool Processor::Job::openRetryFolders(const QList<Path> &folders, Phase phase)
{
    retryFolders = folders;
    retryFrame = Frame();
    retryFrameReady = true;
    retrySourceFailure.reset();
    std::vector<SourceLevel> levels;
    if (!openRetrySource(folders, phase, &levels))
        return false;
    Frame down;
    openRootTarget(down, levels.front().permissions, phase);
    Path source = sourceRoot;
    for (qsizetype i = 0; i < folders.size() && down.targetState == TargetState::Open; ++i) {
        Frame child;
        child.name = folders.at(i);
        openChildTarget(child, down, levels[size_t(i) + 1].permissions, phase);
        if (child.targetNew && keepDates)
            keepFolderDate(down, levels[size_t(i)].modifiedNs, source);
        down = std::move(child);
        source = NativeFs::join(source, folders.at(i));
    }
    Frame &frame = retryFrame;
    frame.target = std::move(down.target);
    frame.targetId = down.targetId;
    frame.targetState = down.targetState;
    frame.unreachableReason = down.unreachableReason;
    frame.targetNew = down.targetNew;
    frame.keepsDate = down.keepsDate;
    return frame.targetState == TargetState::Open;
}

// A folder on the list (one that could not be read before, say) is copied as the walk copies
// one, below the folders of the retry.
void Processor::Job::retryFolder(const Path &listed, const Path &name, bool isLink, Phase phase)
{
    Frame parent = std::move(retryFrame);
    retryFrameReady = false; // its folders go with the walk
    parent.sourceId = parent.source.id();
    parent.filesDone = true;
    parent.folders.add(NativeFs::EntryKind::Folder, name.constData(), name.size(), isLink);
    stack.pushRoot(std::move(parent), listed.left(listed.size() - name.size() - 1));
    walkStack(phase);
}

// Below the root every folder lies in the tree, unless a link leads out of it.
bool Processor::Job::openRetrySource(const QList<Path> &folders, Phase phase,
                                     std::vector<SourceLevel> *levels)
{
    Frame &frame = retryFrame;
    SystemError error;
    frame.source = Folder::open(sourceRoot, &error);
    for (const Path &name : folders) {
        if (!frame.source.isOpen())
            break;
        levels->push_back({frame.source.permissionsForCopy(), frame.source.modifiedNs()});
        frame.source = frame.source.openChild(name, Links::Follow, &error);
        if (!frame.source.isOpen())
            break;
        const std::optional<QString> refused =
            bounds.refusedFolder(frame.source, Reached::MaybeByLink);
        if (refused && !refused->isEmpty()) {
            retrySourceFailure = *refused;
            return false;
        }
        bounds.visit(phase, frame.source.id());
    }
    if (!frame.source.isOpen()) {
        retrySourceFailure = Reasons::system(error);
        return false;
    }
    levels->push_back({frame.source.permissionsForCopy(), frame.source.modifiedNs()});
    return true;
}

// --- the end -----------------------------------------------------------------------------------

void Processor::Job::keepForFlush(const Folder &folder)
{
    for (const Folder &kept : flushFolders) {
        if (kept.id().device == folder.id().device)
            return;
    }
    flushFolders.push_back(folder.duplicate());
}

bool Processor::Job::rulesAllow(const Frame &frame, const NativeFs::Status &source,
                                const NativeFs::Status &target)
{
    // The destination's steps are learnt only where a time decides.
    const qint64 step =
        p.m_overwriteMode == OverwriteOlder ? timeStep(frame) : CopyRules::Millisecond;
    return CopyRules::shouldCopy(p.m_overwriteMode, source, target, step);
}

qint64 Processor::Job::timeStep(const Frame &frame)
{
    if (!keepDates)
        return CopyRules::Millisecond;
    const quint64 device = frame.targetId.device;
    if (const auto known = timeSteps.constFind(device); known != timeSteps.cend())
        return *known;
    // Learnt once per device; a folder that cannot be written to teaches nothing, and the next
    // one is asked.
    const qint64 kept = frame.target.timeResolutionNs(
        NativeFs::temporaryName(p.m_tempPrefix, QByteArrayLiteral("time")));
    if (kept > 0)
        timeSteps.insert(device, qMax(kept, CopyRules::Millisecond));
    return qMax(kept, CopyRules::Millisecond);
}

void Processor::Job::keepFolderDate(const Frame &frame, qint64 sourceNs, const Path &record)
{
    if (!frame.keepsDate || frame.targetState != TargetState::Open || sourceNs == 0)
        return;
    // A time the destination already holds is not written again: an unchanged folder on a
    // stick is not written to at all.
    const qint64 step = timeStep(frame);
    if (CopyRules::floorTo(frame.target.modifiedNs(), step) == CopyRules::floorTo(sourceNs, step))
        return;
    SystemError error;
    if (!frame.target.setModified(sourceNs, &error))
        addFailure(record, TargetWriteError, Reasons::system(error));
}

void Processor::Job::clearLeftovers(Frame &frame)
{
    if (frame.targetNew || frame.leftoversCleared)
        return;
    frame.leftoversCleared = true;
    Leftovers::clear(frame.target, p.m_tempPrefix);
}

// "Complete" must mean on the device: a disk unplugged at that word keeps the copy.
void Processor::Job::flush()
{
    if (!wroteAnything)
        return;
    p.m_flushing.store(true);
    for (const Folder &folder : flushFolders) {
        SystemError error;
        if (!folder.syncFileSystem(&error))
            addFailure(targetRoot, TargetWriteError, Reasons::system(error));
    }
    p.m_flushing.store(false);
}
