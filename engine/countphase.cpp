#include "engine/countphase.h"

using NativeFs::Links;

void CountPhase::run(Job &job)
{
    m_job = &job;
    TreeWalk(job, Phase::Scan, *this).run();
}

void CountPhase::file(TreeWalk &, Frame &frame, const NativeFs::Path &name, const NativeFs::Path *)
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
    job.record(PhaseKind::Copy).planWork(1, quint64(source.size));
    if (job.options().verification == CopyOptions::Verification::ReadBack)
        job.record(PhaseKind::Verify).planWork(1, quint64(source.size));
}
