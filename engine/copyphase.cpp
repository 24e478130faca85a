#include "engine/copyphase.h"

void CopyPhase::run(Job &job)
{
    if (job.cancelled())
        return;
    m_job = &job;
    TreeWalk(job, Phase::Copy, *this).run();
    // The read-back's work was planned as all of the copy's; now it is known.
    if (job.options().verification == CopyOptions::Verification::ReadBack)
        job.record(PhaseKind::Verify).setWork(job.verifyList.files(), job.verifyList.bytes());
}
