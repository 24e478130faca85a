#include "engine/copyphase.h"

#include "engine/filecopy.h"
#include "engine/filesinhand.h"
#include "engine/transferpool.h"

// The window shows each file in flight from a slot of its own.
static_assert(FilesInHand::Slots >= CopyPhase::FilesInFlight);

CopyPhase::CopyPhase() : JobPhase(PhaseKind::Copy) {}

CopyPhase::~CopyPhase() = default;

void CopyPhase::run(Job &job)
{
    if (job.cancelled())
        return;
    m_job = &job;
    TreeWalk(job, Phase::Copy, *this).run();
    m_pool.reset(); // every file in flight done
    // The read-back's work was planned as all of the copy's; now it is known.
    if (job.verifies())
        job.record(PhaseKind::Verify).setWork(job.verifyList.files(), job.verifyList.bytes());
}

void CopyPhase::file(TreeWalk &walk, Frame &frame, const NativeFs::Path &name,
                     const NativeFs::Path *listed)
{
    Job &job = *m_job;
    if (job.cancelled() || job.samePath)
        return;
    FileTask task;
    task.source = &frame.source;
    task.target = &frame.target;
    task.targetNew = frame.targetNew;
    task.shared = frame.shared;
    task.name = name;
    if (listed)
        task.listed = *listed;
    task.sourcePath = walk.path();
    if (job.verifies() && !frame.shared->namesBelowRoot)
        frame.shared->namesBelowRoot = walk.namesBelowRoot();
    if (manyInFlight(frame)) {
        if (!m_pool) {
            m_pool = std::make_unique<TransferPool>(
                FilesInFlight, job.transfer.digests(), job.transfer.dates(),
                [this](FileTask &inFlight, NativeFs::TransferContext &context) {
                    // Files still waiting when the job is cancelled are not begun.
                    if (!m_job->cancelled())
                        FileCopy(*m_job, record(), inFlight, context).run();
                });
        }
        task.hold();
        m_pool->submit(std::move(task));
        return;
    }
    task.relieve = [&walk] { return walk.stack().relieve(1); };
    FileCopy(job, record(), task, job.transfer).run();
}

// A folder's date is given back once nothing is being copied into it any more.
void CopyPhase::settle()
{
    if (m_pool)
        m_pool->drain();
}

bool CopyPhase::manyInFlight(const Frame &frame)
{
    return isRemote(frame.target) || isRemote(frame.source);
}

bool CopyPhase::isRemote(const NativeFs::Folder &folder)
{
    const quint64 device = folder.id().device;
    if (const auto known = m_remote.constFind(device); known != m_remote.cend())
        return *known;
    return *m_remote.insert(device, folder.isRemote());
}
