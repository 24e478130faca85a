#include "engine/countphase.h"

#include "engine/reasons.h"

using NativeFs::Links;

void CountPhase::run(Job &job)
{
    m_job = &job;
    // Closed before the walk: a deep tree may need every descriptor.
    if (const NativeFs::Folder destination = NativeFs::nearestFolder(job.targetRoot);
        destination.isOpen())
        job.destination = {destination.id().device, destination.largestFile()};
    TreeWalk(job, Phase::Scan, *this).run();
}

void CountPhase::file(TreeWalk &walk, Frame &frame, const NativeFs::Path &name,
                      const NativeFs::Path *listed)
{
    Job &job = *m_job;
    if (job.samePath)
        return;
    const NativeFs::Status source = frame.source.status(name, Links::Follow);
    if (!source.isFile())
        return; // gone since the listing, or no file; the copy will meet whatever is there then
    const NativeFs::Status target = frame.targetState == TargetState::Open
                                        ? frame.target.status(name, Links::Stay)
                                        : NativeFs::Status();
    if (target.exists && !job.rulesAllow(frame.target, source, target))
        return;
    if (job.tooLarge(source.size)) {
        job.addFailure(listed ? *listed : NativeFs::join(walk.path(), name), TargetWriteError,
                       Reasons::text(Reasons::Reason::TooLargeForFat32));
        return;
    }
    Job::Room &room = job.room;
    (frame.sourceId.device == job.destination.device ? room.fromSameDevice : room.toWrite) +=
        quint64(source.size);
    if (target.exists && target.isFile()) {
        room.replaced += quint64(target.size);
        room.largestReplaced = qMax(room.largestReplaced, quint64(target.size));
    }
    job.record(PhaseKind::Copy).planWork(1, quint64(source.size));
    if (job.options().verification == CopyOptions::Verification::ReadBack)
        job.record(PhaseKind::Verify).planWork(1, quint64(source.size));
}
