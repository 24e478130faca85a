#include "engine/writeoutphase.h"

#include "engine/job.h"
#include "engine/reasons.h"

WriteOutPhase::WriteOutPhase()
    : JobPhase(PhaseKind::WriteOut), m_atJobStart(NativeFs::writeBacklog())
{
}

void WriteOutPhase::run(Job &job)
{
    if (!job.wroteAnything)
        return;
    if (const std::optional<NativeFs::WriteBacklog> now = NativeFs::writeBacklog())
        m_writtenAtStart.store(now->writtenBytes);
    m_started.store(true);
    for (const NativeFs::Folder &folder : job.flushFolders) {
        SystemError error;
        if (!folder.syncFileSystem(&error))
            job.addFailure(job.targetRoot, TargetWriteError, Reasons::system(error));
    }
}

PhaseProgress WriteOutPhase::progress() const
{
    PhaseProgress progress{PhaseKind::WriteOut};
    // The kernel's counters are read only once there is something of this phase to show.
    if (!m_started.load() || !m_atJobStart)
        return progress;
    const std::optional<NativeFs::WriteBacklog> now = NativeFs::writeBacklog();
    if (!now)
        return progress;
    const quint64 others = m_atJobStart->pendingBytes;
    progress.bytesDone = now->writtenBytes - qMin(now->writtenBytes, m_writtenAtStart.load());
    progress.bytesTotal = progress.bytesDone + now->pendingBytes - qMin(now->pendingBytes, others);
    return progress;
}
