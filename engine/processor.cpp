#include "engine/processor.h"

#include "engine/nativefs.h"
#include "engine/pathcheck.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QUuid>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <unordered_set>
#include <vector>

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
using NativeFs::FolderId;
using NativeFs::Path;
using NativeFs::Status;

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

qint64 floorToMs(qint64 ns)
{
    return ns >= 0 ? ns / 1000000 : -((-ns + 999999) / 1000000);
}

QString fileReason(int error)
{
    return error ? NativeFs::errorText(error) : QString();
}

// Folders open at once on each side of the walk; deeper ones are closed and found again on the
// way back, so that no depth of tree runs out of descriptors.
constexpr size_t MaxOpenFrames = 24;

const char *const DestinationInSource = "The destination folder is a folder being copied";
const char *const SourceCutShort = "The file became shorter while it was copied";
const char *const OutsideSource = "The file does not lie in the source folder";
const char *const SourceChangedWhileCopied = "The file changed while it was copied";
const char *const HoldsSource = "Link to a folder that holds the source: not followed";
const char *const MountHoldsSource = "A folder that holds the source, mounted inside it: not copied";
const char *const HoldsDestination = "Link to a folder that holds the destination: not followed";
const char *const IntoDestination = "Link into the destination: not followed";

// Why an entry that is not a folder or a plain file is not in the copy.
QString notCopiedReason(NativeFs::EntryKind kind, int error)
{
    using NativeFs::EntryKind;
    switch (kind) {
    case EntryKind::Pipe:
        return QStringLiteral("Not a regular file: pipe");
    case EntryKind::Socket:
        return QStringLiteral("Not a regular file: socket");
    case EntryKind::CharacterDevice:
        return QStringLiteral("Not a regular file: character device");
    case EntryKind::BlockDevice:
        return QStringLiteral("Not a regular file: block device");
    case EntryKind::BrokenLink:
        return QStringLiteral("Broken link");
    default:
        return error ? fileReason(error) : QStringLiteral("Not a regular file");
    }
}

using FolderIds = std::unordered_set<FolderId, NativeFs::FolderIdHash>;

// The folder at path, or the nearest one above it that exists, and every folder above that: the
// folders that hold path however they are reached.
FolderIds holdersOf(Path path)
{
    for (;;) {
        int error = 0;
        const Folder folder = Folder::open(path, &error);
        if (folder.isOpen()) {
            const std::vector<FolderId> ids = folder.ancestry();
            return FolderIds(ids.cbegin(), ids.cend());
        }
        const qsizetype cut = path.lastIndexOf('/');
        if (cut < 0 || path.size() <= 1)
            return {};
        path.truncate(qMax<qsizetype>(cut, 1));
    }
}

// Names the job wrote or entered in one destination folder, kept only where that folder turns
// out to ignore letter case: two source names that fold into one must not meet in one file.
class WrittenNames
{
public:
    void note(const Folder &folder, const Path &name)
    {
        if (m_mode == Mode::CaseSensitive)
            return;
        if (m_mode == Mode::Unknown) {
            // The name just written, in the other case: found only where case is ignored.
            Path swapped = name;
            for (char &c : swapped) {
                if (c >= 'a' && c <= 'z')
                    c = char(c - 'a' + 'A');
                else if (c >= 'A' && c <= 'Z')
                    c = char(c - 'A' + 'a');
            }
            if (swapped != name) {
                m_mode =
                    folder.status(swapped, false).exists ? Mode::CaseBlind : Mode::CaseSensitive;
                if (m_mode == Mode::CaseSensitive) {
                    m_folded.clear();
                    return;
                }
            }
        }
        m_folded.insert(fold(name));
    }
    // True when name, which is found in the folder, is one of the job's own under another case.
    bool collides(const Path &name) const
    {
        return m_mode != Mode::CaseSensitive && !m_folded.empty() &&
               m_folded.count(fold(name)) != 0;
    }

private:
    static size_t fold(const Path &name)
    {
        return qHash(
            QString::fromUtf8(name).normalized(QString::NormalizationForm_C).toCaseFolded());
    }
    enum class Mode
    {
        Unknown,
        CaseSensitive,
        CaseBlind
    };
    Mode m_mode = Mode::Unknown;
    std::unordered_set<size_t> m_folded;
};

enum class Phase
{
    Scan,
    Copy
};

enum class TargetState
{
    Open,
    // Nothing there yet (scan only).
    Absent,
    // Files cannot be written here; each gets a failure record with the reason.
    Unreachable
};

// One folder of the walk: the source folder and its destination, with what is left to do.
struct Frame
{
    Path name; // in its parent; empty for the roots
    qsizetype pathLength = 0;
    Folder source;
    FolderId sourceId;
    bool sourceByLink = false;
    Folder target;
    FolderId targetId;
    TargetState targetState = TargetState::Absent;
    QString unreachableReason;
    // Made by this job: nothing can lie in it yet.
    bool targetNew = false;
    NativeFs::Listing listing;
    size_t nextFolder = 0;
    bool filesDone = false;
    WrittenNames written;
};

} // namespace

struct Processor::Job
{
    explicit Job(Processor &processor)
        : p(processor), sourceRoot(absoluteRoot(processor.m_source)),
          targetRoot(absoluteRoot(processor.m_target)), samePath(sourceRoot == targetRoot)
    {
    }

    bool cancelled() const { return p.m_cancelled.load(); }
    void addFailure(const Path &path, CopyErrorCode code, const QString &reason)
    {
        p.addFailure(path, code, reason);
    }

    bool shouldCopy(const Status &source, const Status &target) const;
    // The job never writes into its own source, whatever name leads there.
    bool isSourceFolder(const FolderId &id) const
    {
        return id == sourceRootId || scanned.count(id) != 0 || copied.count(id) != 0;
    }

    // The two phases, over the tree from the two roots or over the retry list.
    void scanJob();
    void scanFolder();
    void scanRetryFiles();
    void copyJob();
    void copyFolder();
    void copyRetryFiles();

    void walk(Phase phase);
    void findHolders();
    // Why the job does not enter a folder the walk or a retry reached, or nothing when it may.
    std::optional<QString> refusedFolder(const Folder &folder, bool mayBeLink) const;
    void listNotCopied(const Frame &frame);
    // Why a retried entry is no file to copy, or nothing when the transfer may try it.
    std::optional<QString> notAFile(const Folder &folder, const Path &name) const;
    bool enterFolder(Frame &frame, Phase phase);
    void openTarget(Frame &frame, Frame *parent, Phase phase);
    void descend(Phase phase);
    void leaveFolder();
    void limitOpenFolders();
    bool relieveDescriptors(size_t keepFrom);
    bool reopen(size_t index, Folder Frame::*side, FolderId Frame::*id, bool isSource, int *error);

    void scanFile(const Frame &frame, const Path &name);
    // listed: the path a retry was given, which its records name; otherwise the walk's own.
    void copyFile(Frame &frame, const Path &name, const Path *listed);

    void walkRetryFiles(Phase phase);
    bool openRetryFolders(const QList<Path> &folders, Phase phase, Frame &frame, int *error,
                          bool *sourceFailed);

    void keepForFlush(const Folder &folder);
    void flush();

    Processor &p;
    const Path sourceRoot;
    const Path targetRoot;
    // Source and destination of every file are one path: nothing to do.
    const bool samePath;

    NativeFs::TransferContext transfer;
    std::vector<Frame> frames;
    // The source path of the folder in hand, for the records.
    Path path;
    FolderId sourceRootId;
    FolderId targetRootId;
    bool hasTargetRoot = false;
    // Every source folder of the job: no file is written into one of them, and none is copied
    // twice however many links lead to it.
    FolderIds scanned;
    FolderIds copied;
    // The folders above the source root, and the destination root with those above it: a link
    // to one of them would copy the source's surroundings, or the copy into itself.
    FolderIds sourceHolders;
    FolderIds targetHolders;
    // One folder on each destination file system written to, opened before the writes, for
    // the flush at the end.
    std::vector<Folder> flushFolders;
    bool wroteAnything = false;
    // Retry jobs: the names written per destination folder.
    QHash<Path, WrittenNames> retryWritten;
};

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

bool Processor::Job::shouldCopy(const Status &source, const Status &target) const
{
    if (!target.exists)
        return true;
    switch (p.m_overwriteMode) {
    case OverwriteNone:
        return false;
    case OverwriteOlder:
        // To the millisecond: a time set by a program that keeps no finer is the same time.
        return floorToMs(target.modifiedNs) < floorToMs(source.modifiedNs);
    case OverwriteSmaller:
        return target.size < source.size;
    case OverwriteAll:
    default:
        return true;
    }
}

// The scan and the copy walk the same folders in the same order and skip the same ones, so
// that the totals measure what the copy does. Within a folder, sub-folders come before files.
void Processor::Job::walk(Phase phase)
{
    if (cancelled() || samePath)
        return;
    p.waitWhilePaused();
    frames.clear();
    path = sourceRoot;

    findHolders();
    Frame root;
    root.pathLength = path.size();
    int error = 0;
    root.source = Folder::open(sourceRoot, &error);
    if (!root.source.isOpen()) {
        // Nothing to copy is not the same as nothing there: the job must not end as complete.
        if (phase == Phase::Copy)
            addFailure(sourceRoot, SourceOpenError, fileReason(error));
        return;
    }
    root.sourceId = sourceRootId = root.source.id();
    (phase == Phase::Scan ? scanned : copied).insert(sourceRootId);
    frames.push_back(std::move(root));
    if (!enterFolder(frames.back(), phase))
        frames.clear();

    while (!frames.empty() && !cancelled()) {
        Frame &frame = frames.back();
        if (frame.nextFolder < frame.listing.folders().size()) {
            descend(phase);
            continue;
        }
        if (!frame.filesDone) {
            frame.filesDone = true;
            p.waitWhilePaused();
            for (const NativeFs::Listing::Item &item : frame.listing.files()) {
                if (cancelled())
                    break;
                p.waitWhilePaused();
                const Path name = frame.listing.name(item);
                if (phase == Phase::Scan)
                    scanFile(frame, name);
                else if (frame.targetState == TargetState::Unreachable)
                    addFailure(NativeFs::join(path, name), TargetOpenError,
                               frame.unreachableReason);
                else
                    copyFile(frame, name, nullptr);
            }
            if (phase == Phase::Copy && !cancelled())
                listNotCopied(frame);
            continue;
        }
        leaveFolder();
    }
    frames.clear();
}

void Processor::Job::descend(Phase phase)
{
    Frame &parent = frames.back();
    const NativeFs::Listing::Item item = parent.listing.folders().at(parent.nextFolder++);
    p.waitWhilePaused();
    if (cancelled())
        return;

    Frame child;
    child.name = parent.listing.name(item);
    child.sourceByLink = item.mayBeLink;
    int error = 0;
    child.source = parent.source.openChild(child.name, true, &error);
    if (!child.source.isOpen() && relieveDescriptors(frames.size() - 1))
        child.source = frames.back().source.openChild(child.name, true, &error);
    const Path childPath = NativeFs::join(path, child.name);
    if (!child.source.isOpen()) {
        if (phase == Phase::Copy)
            addFailure(childPath, SourceOpenError, fileReason(error));
        return;
    }
    child.sourceId = child.source.id();
    if (const std::optional<QString> refused = refusedFolder(child.source, item.mayBeLink)) {
        // A link back up the walk or to a folder elsewhere in the tree is no loss: that folder
        // is copied under its own name.
        if (phase == Phase::Copy && !refused->isEmpty())
            addFailure(childPath, SourceOpenError, *refused);
        return;
    }
    // However many links lead to a folder, it is copied once.
    auto &visited = phase == Phase::Scan ? scanned : copied;
    if (!visited.insert(child.sourceId).second)
        return;

    path = childPath;
    child.pathLength = path.size();
    frames.push_back(std::move(child));
    limitOpenFolders();
    Frame &entered = frames.back();
    if (!enterFolder(entered, phase)) {
        entered.filesDone = true;
        entered.listing.clear();
    }
}

// Lists the source folder and, once it could be listed, opens or makes its destination.
bool Processor::Job::enterFolder(Frame &frame, Phase phase)
{
    int error = 0;
    if (!frame.source.list(p.m_includeHidden, frame.listing, &error)) {
        // No empty folder in its place that would pass for a complete copy.
        if (phase == Phase::Copy)
            addFailure(path, SourceOpenError, fileReason(error));
        return false;
    }
    if (!p.m_includeSubFolders)
        frame.nextFolder = frame.listing.folders().size();
    Frame *parent = frames.size() > 1 ? &frames[frames.size() - 2] : nullptr;
    openTarget(frame, parent, phase);
    return true;
}

void Processor::Job::openTarget(Frame &frame, Frame *parent, Phase phase)
{
    int error = 0;
    const auto unreachable = [&frame](const QString &reason) {
        frame.target.close();
        frame.targetState = TargetState::Unreachable;
        frame.unreachableReason = reason;
    };

    if (!parent) {
        if (phase == Phase::Copy && !NativeFs::makePath(targetRoot, &error)) {
            unreachable(fileReason(error));
            return;
        }
        frame.target = Folder::open(targetRoot, &error);
        if (frame.target.isOpen()) {
            targetRootId = frame.target.id();
            hasTargetRoot = true;
            if (phase == Phase::Copy && frame.target.isWithin(sourceRootId)) {
                unreachable(QString::fromLatin1(DestinationInSource));
                return;
            }
        }
    } else if (parent->targetState == TargetState::Unreachable) {
        unreachable(parent->unreachableReason);
        return;
    } else if (parent->targetState == TargetState::Open) {
        if (phase == Phase::Copy) {
            frame.targetNew = parent->target.makeFolder(frame.name, &error);
            if (!frame.targetNew && error != EEXIST) {
                unreachable(fileReason(error));
                return;
            }
            // The folder of another source name that folds into this one on this disk.
            if (!frame.targetNew && parent->written.collides(frame.name)) {
                unreachable(fileReason(EEXIST));
                return;
            }
            wroteAnything = wroteAnything || frame.targetNew;
        }
        // Never through a link: what the job enters below its root is a folder of the copy.
        frame.target = parent->target.openChild(frame.name, false, &error);
        if (!frame.target.isOpen() && (error == EMFILE || error == ENFILE) &&
            relieveDescriptors(frames.size() - 2))
            frame.target = parent->target.openChild(frame.name, false, &error);
        if (frame.target.isOpen() && phase == Phase::Copy)
            parent->written.note(parent->target, frame.name);
    }

    if (!frame.target.isOpen()) {
        if (phase == Phase::Copy)
            unreachable(fileReason(error));
        else
            frame.targetState = TargetState::Absent;
        return;
    }
    frame.targetId = frame.target.id();
    frame.targetState = TargetState::Open;
    if (phase == Phase::Copy) {
        if (isSourceFolder(frame.targetId)) {
            unreachable(QString::fromLatin1(DestinationInSource));
            return;
        }
        keepForFlush(frame.target);
    }
}

// A link to the root of either side is no holder: one to the source root leads into the tree,
// one to the destination root into the copy.
void Processor::Job::findHolders()
{
    int error = 0;
    sourceHolders = holdersOf(sourceRoot);
    sourceHolders.erase(Folder::open(sourceRoot, &error).id());
    targetHolders = holdersOf(targetRoot);
    if (const Folder root = Folder::open(targetRoot, &error); root.isOpen()) {
        targetRootId = root.id();
        hasTargetRoot = true;
        targetHolders.erase(targetRootId);
    }
}

// An empty reason: not entered, but nothing is lost.
std::optional<QString> Processor::Job::refusedFolder(const Folder &folder, bool mayBeLink) const
{
    const FolderId id = folder.id();
    if (sourceHolders.count(id) != 0)
        return QString::fromLatin1(mayBeLink ? HoldsSource : MountHoldsSource);
    if (targetHolders.count(id) != 0)
        return QString::fromLatin1(HoldsDestination);
    if (!mayBeLink)
        return std::nullopt;
    if (folder.isWithin(sourceRootId))
        return QString();
    if (hasTargetRoot && folder.isWithin(targetRootId))
        return QString::fromLatin1(IntoDestination);
    return std::nullopt;
}

std::optional<QString> Processor::Job::notAFile(const Folder &folder, const Path &name) const
{
    using NativeFs::EntryKind;
    const Status status = folder.status(name, true);
    if (!status.exists)
        return folder.status(name, false).exists ? notCopiedReason(EntryKind::BrokenLink, 0)
                                                 : std::optional<QString>();
    if (status.kind == EntryKind::Folder) {
        int error = 0;
        const Folder entered = folder.openChild(name, true, &error);
        std::optional<QString> refused;
        if (entered.isOpen())
            refused = refusedFolder(entered, true);
        return refused && !refused->isEmpty() ? refused : std::nullopt;
    }
    return status.kind == EntryKind::File ? std::nullopt
                                          : std::optional(notCopiedReason(status.kind, 0));
}

void Processor::Job::listNotCopied(const Frame &frame)
{
    for (const NativeFs::Listing::Item &item : frame.listing.others())
        addFailure(NativeFs::join(path, frame.listing.name(item)), SourceOpenError,
                   notCopiedReason(item.kind, item.error));
}

void Processor::Job::limitOpenFolders()
{
    size_t open = 0;
    for (const Frame &frame : frames)
        open += frame.source.isOpen() ? 1 : 0;
    // The root stays open: it holds the job's ends.
    for (size_t i = 1; open > MaxOpenFrames && i + 1 < frames.size(); ++i) {
        if (frames[i].source.isOpen()) {
            frames[i].source.close();
            --open;
        }
        frames[i].target.close();
    }
}

// Out of descriptors: closes the folders between the root and keepFrom, which the walk finds
// again on its way back. True when there was any to close.
bool Processor::Job::relieveDescriptors(size_t keepFrom)
{
    bool closed = false;
    for (size_t i = 1; i < keepFrom && i < frames.size(); ++i) {
        closed = closed || frames[i].source.isOpen() || frames[i].target.isOpen();
        frames[i].source.close();
        frames[i].target.close();
    }
    return closed;
}

void Processor::Job::leaveFolder()
{
    const size_t index = frames.size() - 1;
    if (index > 0) {
        Frame &parent = frames[index - 1];
        int error = ENOENT;
        if (!parent.source.isOpen() &&
            !reopen(index - 1, &Frame::source, &Frame::sourceId, true, &error)) {
            // Not the folder the walk left: what was left of it is not copied.
            addFailure(path.left(parent.pathLength), SourceOpenError, fileReason(error));
            parent.filesDone = true;
            parent.nextFolder = parent.listing.folders().size();
        }
        if (parent.targetState == TargetState::Open && !parent.target.isOpen() &&
            !reopen(index - 1, &Frame::target, &Frame::targetId, false, &error)) {
            parent.targetState = TargetState::Unreachable;
            parent.unreachableReason = fileReason(error);
        }
    }
    frames.pop_back();
    if (!frames.empty())
        path.truncate(frames.back().pathLength);
}

// Finds a closed folder of the walk again: through ".." from its child, which names the real
// parent unless the child was reached by a link, or else down by name from the nearest open
// folder above it. Either way it must be the very folder it was.
bool Processor::Job::reopen(size_t index, Folder Frame::*side, FolderId Frame::*id, bool isSource,
                            int *error)
{
    const Frame &child = frames[index + 1];
    Folder &folder = frames[index].*side;
    if ((child.*side).isOpen() && !(isSource && child.sourceByLink))
        folder = (child.*side).openParent(error);
    if (folder.isOpen() && folder.id() == frames[index].*id)
        return true;
    folder.close();
    size_t first = index;
    while (first > 0 && !(frames[first - 1].*side).isOpen())
        --first;
    for (size_t i = qMax<size_t>(first, 1); i <= index; ++i) {
        Folder &reopened = frames[i].*side;
        reopened = (frames[i - 1].*side).openChild(frames[i].name, isSource, error);
        if (reopened.isOpen() && reopened.id() != frames[i].*id) {
            reopened.close();
            *error = ENOENT;
        }
        if (!reopened.isOpen())
            return false;
    }
    return folder.isOpen();
}

// --- one file ----------------------------------------------------------------------------------

void Processor::Job::scanFile(const Frame &frame, const Path &name)
{
    if (samePath)
        return;
    const Status source = frame.source.status(name, true);
    if (source.kind != NativeFs::EntryKind::File)
        return; // gone since the listing, or no file; the copy will meet whatever is there then
    const Status target =
        frame.targetState == TargetState::Open ? frame.target.status(name, false) : Status();
    if (!shouldCopy(source, target))
        return;
    p.m_filesTotal.fetch_add(1);
    p.m_bytesTotal.fetch_add(quint64(source.size));
}

void Processor::Job::copyFile(Frame &frame, const Path &name, const Path *listed)
{
    if (cancelled() || samePath)
        return;
    const auto fail = [&](CopyErrorCode code, const QString &reason) {
        addFailure(listed ? *listed : NativeFs::join(path, name), code, reason);
    };
    // The counts go first: a reader that sees the new name must not pair it with the bytes of
    // the file before.
    p.m_currentFileDone.store(0);
    p.m_currentFileSize.store(0);
    p.setCurrentFile(name);

    Status target;
    if (!frame.targetNew) {
        target = frame.target.status(name, false);
        if (target.exists) {
            // Another source name of this job that folds into this one on this disk.
            if (frame.written.collides(name)) {
                fail(TargetOpenError, fileReason(EEXIST));
                return;
            }
            const Status source = frame.source.status(name, true);
            p.m_currentFileSize.store(quint64(source.size));
            if (!shouldCopy(source, target))
                return;
        }
    }

    std::optional<NativeFs::Transfer> opened;
    int error = 0;
    auto result = NativeFs::Transfer::Result::Ok;
    for (int attempt = 0; attempt < 2; ++attempt) {
        opened.emplace(this->transfer);
        result = opened->open(frame.source, name, frame.target,
                              NativeFs::temporaryName(p.m_tempPrefix, name), &error);
        if (result == NativeFs::Transfer::Result::Ok || (error != EMFILE && error != ENFILE) ||
            !relieveDescriptors(frames.size() - 1))
            break;
    }
    NativeFs::Transfer &transfer = *opened;
    switch (result) {
    case NativeFs::Transfer::Result::SourceOpenFailed:
        fail(SourceOpenError, error ? fileReason(error) : notCopiedReason(opened->sourceKind(), 0));
        return;
    case NativeFs::Transfer::Result::TargetOpenFailed:
        fail(TargetOpenError, fileReason(error));
        return;
    default:
        break;
    }

    // The size when the file was opened is its end: a file still growing is copied as it was
    // then, and one that ends sooner is a failed read, not a short copy.
    const qint64 size = transfer.size();
    p.m_currentFileSize.store(quint64(size));
    qint64 done = 0;
    bool failed = false;
    while (done < size && !failed && !cancelled()) {
        qint64 advanced = 0;
        switch (transfer.step(CopyBufferSize, &advanced, &error)) {
        case NativeFs::Transfer::Result::Ok:
            break;
        case NativeFs::Transfer::Result::SourceEnded:
            fail(SourceReadError, QString::fromLatin1(SourceCutShort));
            failed = true;
            break;
        case NativeFs::Transfer::Result::WriteFailed:
            fail(TargetWriteError, fileReason(error));
            failed = true;
            break;
        default:
            fail(SourceReadError, fileReason(error));
            failed = true;
            break;
        }
        if (advanced > 0) {
            done += advanced;
            p.m_bytesDone.fetch_add(quint64(advanced));
            p.m_currentFileDone.store(quint64(done));
        }
        p.waitWhilePaused();
    }

    if (!failed && !cancelled()) {
        const NativeFs::Transfer::Result finished = transfer.finish(&error);
        if (finished == NativeFs::Transfer::Result::SourceChanged) {
            fail(SourceReadError, QString::fromLatin1(SourceChangedWhileCopied));
        } else if (finished == NativeFs::Transfer::Result::ReadFailed) {
            fail(SourceReadError, fileReason(error));
        } else if (finished != NativeFs::Transfer::Result::Ok) {
            fail(TargetWriteError, fileReason(error));
        } else if (target.exists && !target.replaceable) {
            fail(TargetRemoveError, fileReason(EISDIR)); // a folder, say
        } else {
            auto placed = transfer.place(name, target.exists, &error);
            if (placed == NativeFs::Transfer::Placed::NameTaken) {
                // Something took the name while the file was copied: the rules decide again,
                // and "no files" never replaces it.
                const Status newcomer = frame.target.status(name, false);
                if (frame.written.collides(name))
                    fail(TargetOpenError, fileReason(EEXIST));
                else if (!shouldCopy(frame.source.status(name, true), newcomer))
                    ; // theirs stays
                else if (!newcomer.replaceable)
                    fail(TargetRemoveError, fileReason(EISDIR));
                else
                    placed = transfer.place(name, true, &error);
            }
            if (placed == NativeFs::Transfer::Placed::Failed)
                fail(TargetReplaceError, fileReason(error));
            if (placed == NativeFs::Transfer::Placed::WriteFailed)
                fail(TargetWriteError, fileReason(error));
            if (placed == NativeFs::Transfer::Placed::Done) {
                wroteAnything = true;
                p.m_filesCopied.fetch_add(1);
                frame.written.note(frame.target, name);
            }
        }
    }
    p.m_filesDone.fetch_add(1);
}

// --- retry -------------------------------------------------------------------------------------

// A listed file belongs to the job only if it lies below the source root; blindly replacing its
// first characters could otherwise write anywhere. Its destination folders are made below the
// target root, as in a first copy.
void Processor::Job::walkRetryFiles(Phase phase)
{
    if (cancelled())
        return;
    findHolders();
    int error = 0;
    Folder sourceRootFolder = Folder::open(sourceRoot, &error);
    if (sourceRootFolder.isOpen()) {
        sourceRootId = sourceRootFolder.id();
        scanned.insert(sourceRootId);
    }
    Frame frame;
    QList<Path> frameFolders;
    bool frameReady = false;
    bool frameSourceFailed = false;
    int frameError = 0;
    for (const Path &listed : std::as_const(p.m_retryFiles)) {
        if (cancelled())
            break;
        p.waitWhilePaused();
        QList<Path> components;
        if (!PathCheck::namesBelow(sourceRoot, listed, &components)) {
            if (phase == Phase::Copy)
                addFailure(listed, TargetOpenError, QString::fromLatin1(OutsideSource));
            continue;
        }
        const Path name = components.takeLast();
        if (!frameReady || components != frameFolders) {
            frameFolders = components;
            frame = Frame();
            frameReady = true;
            frameSourceFailed = false;
            frameError = 0;
            openRetryFolders(components, phase, frame, &frameError, &frameSourceFailed);
        }
        if (frameSourceFailed) {
            if (phase == Phase::Copy)
                addFailure(listed, SourceOpenError,
                           frameError ? fileReason(frameError) : frame.unreachableReason);
            continue;
        }
        Path target = targetRoot;
        for (const Path &folder : std::as_const(components))
            target = NativeFs::join(target, folder);
        if (NativeFs::join(target, name) == listed)
            continue; // the same path: nothing to do
        if (phase == Phase::Scan) {
            scanFile(frame, name);
        } else if (const std::optional<QString> reason = notAFile(frame.source, name)) {
            addFailure(listed, SourceOpenError, *reason);
        } else if (frame.targetState != TargetState::Open) {
            addFailure(listed, TargetOpenError, frame.unreachableReason);
        } else {
            WrittenNames &written = retryWritten[target];
            std::swap(frame.written, written);
            copyFile(frame, name, &listed);
            std::swap(frame.written, written);
        }
    }
}

bool Processor::Job::openRetryFolders(const QList<Path> &folders, Phase phase, Frame &frame,
                                      int *error, bool *sourceFailed)
{
    frame.source = Folder::open(sourceRoot, error);
    for (const Path &name : folders) {
        if (!frame.source.isOpen())
            break;
        frame.source = frame.source.openChild(name, true, error);
        if (!frame.source.isOpen())
            break;
        // Below the root every folder lies in the tree, unless a link leads out of it.
        if (const std::optional<QString> refused = refusedFolder(frame.source, true);
            refused && !refused->isEmpty()) {
            frame.source.close();
            frame.unreachableReason = *refused;
            *sourceFailed = true;
            return false;
        }
        (phase == Phase::Scan ? scanned : copied).insert(frame.source.id());
    }
    if (!frame.source.isOpen()) {
        *sourceFailed = true;
        return false;
    }

    int targetError = 0;
    const auto unreachable = [&frame, phase](int reason) {
        frame.target.close();
        frame.targetState = phase == Phase::Copy ? TargetState::Unreachable : TargetState::Absent;
        frame.unreachableReason = fileReason(reason);
        return false;
    };
    if (phase == Phase::Copy && !NativeFs::makePath(targetRoot, &targetError))
        return unreachable(targetError);
    frame.target = Folder::open(targetRoot, &targetError);
    for (const Path &name : folders) {
        if (!frame.target.isOpen())
            break;
        if (phase == Phase::Copy && frame.target.makeFolder(name, &targetError))
            wroteAnything = true;
        frame.target = frame.target.openChild(name, false, &targetError);
    }
    if (!frame.target.isOpen())
        return unreachable(targetError);
    frame.targetState = TargetState::Open;
    if (phase == Phase::Copy) {
        if (isSourceFolder(frame.target.id())) {
            frame.target.close();
            frame.targetState = TargetState::Unreachable;
            frame.unreachableReason = QString::fromLatin1(DestinationInSource);
            return false;
        }
        keepForFlush(frame.target);
    }
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

// "Complete" must mean on the device: a disk unplugged at that word keeps the copy.
void Processor::Job::flush()
{
    if (!wroteAnything)
        return;
    p.m_flushing.store(true);
    for (const Folder &folder : flushFolders) {
        int error = 0;
        if (!folder.syncFileSystem(&error))
            addFailure(targetRoot, TargetWriteError, fileReason(error));
    }
    p.m_flushing.store(false);
}
