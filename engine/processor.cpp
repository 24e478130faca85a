#include "engine/processor.h"

#include "engine/copyphase.h"
#include "engine/countphase.h"
#include "engine/job.h"
#include "engine/roomphase.h"
#include "engine/verifyphase.h"
#include "engine/writeoutphase.h"

#include <QMutexLocker>
#include <QUuid>

#include <chrono>

// Who does what
// -------------
// The GUI thread constructs the job, may hand it a retry list, starts it, and afterwards only
// calls pause(), resume(), cancel() and the accessors. The worker thread runs run(): the job's
// phases in turn, each in a file of its own (countphase, copyphase, writeoutphase,
// verifyphase), sharing the worker's state of the job (job.h).
//
// Pausing: pause() locks m_pauseMutex and keeps it locked; the worker, at each pause point
// (waitWhilePaused, between files and between steps of a file), locks and unlocks it, so it
// waits exactly while the GUI holds it. cancel() sets m_cancelled, which every phase checks
// before each folder, file and step, and releases a pause still held. The destructor cancels
// and waits for the thread, so a job deleted mid-run ends cleanly.
//
// The counters are plain atomics the worker adds to and the GUI reads whole; their default
// (sequentially consistent) order is used throughout. Only m_currentFile and m_failures, which
// cannot be read whole, sit behind m_publishLock, held for the moment of a copy.

namespace {

qint64 steadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

CopyOptions optionsOf(OverwriteMode mode, bool includeSubFolders, bool includeHidden)
{
    CopyOptions options;
    options.overwrite = mode;
    options.includeSubFolders = includeSubFolders;
    options.includeHidden = includeHidden;
    return options;
}

} // namespace

Processor::Processor(const QString &source, const QString &target, OverwriteMode mode,
                     bool includeSubFolders, bool includeHidden)
    : Processor(source, target, optionsOf(mode, includeSubFolders, includeHidden))
{
}

Processor::Processor(const QString &source, const QString &target, const CopyOptions &options)
    : QThread(nullptr), m_source(source), m_target(target), m_options(options),
      m_tempPrefix(NativeFs::toNative(QUuid::createUuid().toString(QUuid::WithoutBraces) + u'-'))
{
    // The job's phases, in the order they run.
    m_phases.push_back(std::make_unique<CountPhase>());
    m_phases.push_back(std::make_unique<RoomPhase>());
    m_phases.push_back(std::make_unique<CopyPhase>());
    m_phases.push_back(std::make_unique<WriteOutPhase>());
    m_phases.push_back(std::make_unique<VerifyPhase>());
}

Processor::~Processor()
{
    cancel();
    wait();
}

void Processor::run()
{
    NativeFs::prepareProcess();
    {
        const QMutexLocker locker(&m_publishLock);
        m_failures.clear();
    }
    m_failureCount.store(0);
    {
        const std::lock_guard locker(m_clockLock);
        m_elapsedBankedMs = 0;
        m_runStartMs = steadyNowMs();
    }

    Job job(*this);
    for (const std::unique_ptr<JobPhase> &phase : m_phases) {
        m_phase.store(phase->kind());
        phase->run(job);
    }
}

// --- the job's interface ----------------------------------------------------------------------

void Processor::pause()
{
    if (m_paused.load() || m_cancelled.load())
        return;
    m_pauseMutex.lock();
    m_paused.store(true);
    stopClock();
}

void Processor::resume()
{
    if (!m_paused.load())
        return;
    startClock();
    m_paused.store(false);
    m_pauseMutex.unlock();
}

void Processor::cancel()
{
    {
        const std::lock_guard locker(m_roomLock);
        m_cancelled.store(true);
    }
    m_roomAnswered.notify_all();
    if (m_paused.load()) {
        // The paused stretch is not running time, whichever way the pause ends.
        startClock();
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
    return quint32(progress(PhaseKind::Copy).filesTotal);
}

quint32 Processor::filesDone() const
{
    return quint32(progress(PhaseKind::Copy).filesDone);
}

quint64 Processor::bytesTotal() const
{
    return progress(PhaseKind::Copy).bytesTotal;
}

quint64 Processor::bytesDone() const
{
    return progress(PhaseKind::Copy).bytesDone;
}

QString Processor::currentFile() const
{
    return NativeFs::fromNative(m_filesInHand.shown().name);
}

quint64 Processor::currentFileSize() const
{
    return m_filesInHand.shown().size;
}

quint64 Processor::currentFileDone() const
{
    return m_filesInHand.shown().done;
}

quint32 Processor::elapsedSeconds() const
{
    return quint32(elapsedMilliseconds() / 1000);
}

qint64 Processor::elapsedMilliseconds() const
{
    const std::lock_guard locker(m_clockLock);
    if (m_runStartMs < 0)
        return 0;
    qint64 ms = m_elapsedBankedMs;
    if (m_clockStops == 0)
        ms += steadyNowMs() - m_runStartMs;
    return qMax<qint64>(ms, 0);
}

PhaseKind Processor::phase() const
{
    return m_phase.load();
}

QList<PhaseProgress> Processor::progress() const
{
    QList<PhaseProgress> phases;
    for (const std::unique_ptr<JobPhase> &phase : m_phases)
        phases.append(phase->progress());
    return phases;
}

PhaseProgress Processor::progress(PhaseKind kind) const
{
    return phaseOf(kind).progress();
}

JobPhase &Processor::phaseOf(PhaseKind kind) const
{
    for (const std::unique_ptr<JobPhase> &phase : m_phases) {
        if (phase->kind() == kind)
            return *phase;
    }
    Q_UNREACHABLE();
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

void Processor::setVerification(Verification verification)
{
    m_options.verification = verification;
}

void Processor::setDates(Dates dates)
{
    m_options.dates = dates;
}

std::optional<Processor::RoomShort> Processor::roomShort() const
{
    const std::lock_guard locker(m_roomLock);
    return m_roomShort;
}

void Processor::copyAnyway()
{
    {
        const std::lock_guard locker(m_roomLock);
        m_roomShort.reset();
    }
    m_roomAnswered.notify_all();
}

// Waiting for the answer is no running time, as a pause is not.
void Processor::askForRoom(quint64 needed, quint64 free)
{
    std::unique_lock locker(m_roomLock);
    if (m_cancelled.load())
        return;
    stopClock();
    m_roomShort = RoomShort{needed, free};
    m_roomAnswered.wait(locker, [this] { return !m_roomShort || m_cancelled.load(); });
    m_roomShort.reset();
    startClock();
}

void Processor::stopClock()
{
    const std::lock_guard locker(m_clockLock);
    if (m_clockStops++ == 0 && m_runStartMs >= 0)
        m_elapsedBankedMs += steadyNowMs() - m_runStartMs;
}

void Processor::startClock()
{
    const std::lock_guard locker(m_clockLock);
    if (--m_clockStops == 0)
        m_runStartMs = steadyNowMs();
}

void Processor::waitWhilePaused()
{
    if (m_paused.load()) {
        m_pauseMutex.lock();
        m_pauseMutex.unlock();
    }
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
