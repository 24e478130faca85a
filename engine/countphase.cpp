#include "engine/countphase.h"

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
        job.listTooLarge(listed ? *listed : NativeFs::join(walk.path(), name));
        return;
    }
    Job::Room &room = job.room;
    const bool sameDevice = frame.source.id().device == job.destination.device;
    const quint64 replaced = target.exists && target.isFile() ? quint64(target.size) : 0;
    room.written.add(quint64(source.size), replaced);
    room.cloned.add(sameDevice ? 0 : quint64(source.size), replaced);
    room.fromSameDevice = room.fromSameDevice || sameDevice;
    job.record(PhaseKind::Copy).planWork(1, quint64(source.size));
    if (job.verifies())
        job.record(PhaseKind::Verify).planWork(1, quint64(source.size));
}
