#include "engine/job.h"

#include "engine/jobphase.h"
#include "engine/leftovers.h"
#include "engine/reasons.h"

#include <QDir>

namespace {

// The two roots in the form the walk uses for every path below them.
NativeFs::Path absoluteRoot(const QString &root)
{
    return NativeFs::toNative(QDir::cleanPath(QDir(root).absolutePath()));
}

} // namespace

Job::Job(Processor &processor)
    : sourceRoot(absoluteRoot(processor.m_source)), targetRoot(absoluteRoot(processor.m_target)),
      samePath(sourceRoot == targetRoot),
      transfer(processor.m_options.verification == CopyOptions::Verification::ReadBack
                   ? NativeFs::TransferContext::Digests::On
                   : NativeFs::TransferContext::Digests::Off,
               processor.m_options.dates == CopyOptions::Dates::Keep
                   ? NativeFs::TransferContext::Dates::Keep
                   : NativeFs::TransferContext::Dates::New),
      m_p(processor)
{
}

ProgressRecord &Job::record(PhaseKind kind)
{
    return m_p.phaseOf(kind).record();
}

void Job::showFile(const Path &name, quint64 size)
{
    // The counts go first: a reader that sees the new name must not pair it with the bytes of
    // the file before.
    m_p.m_currentFileDone.store(0);
    m_p.m_currentFileSize.store(0);
    m_p.setCurrentFile(name);
    m_p.m_currentFileSize.store(size);
}

bool Job::rulesAllow(const Frame &frame, const NativeFs::Status &source,
                     const NativeFs::Status &target)
{
    // The destination's steps are learnt only where a time decides.
    const OverwriteMode mode = options().overwrite;
    const qint64 step = mode == OverwriteOlder ? timeStep(frame) : CopyRules::Millisecond;
    return CopyRules::shouldCopy(mode, source, target, step);
}

qint64 Job::timeStep(const Frame &frame)
{
    if (!keepsDates())
        return CopyRules::Millisecond;
    const quint64 device = frame.targetId.device;
    if (const auto known = m_timeSteps.constFind(device); known != m_timeSteps.cend())
        return *known;
    // Learnt once per device; a folder that cannot be written to teaches nothing, and the next
    // one is asked.
    const qint64 kept = frame.target.timeResolutionNs(
        NativeFs::temporaryName(tempPrefix(), QByteArrayLiteral("time")));
    if (kept > 0)
        m_timeSteps.insert(device, qMax(kept, CopyRules::Millisecond));
    return qMax(kept, CopyRules::Millisecond);
}

void Job::keepFolderDate(const Frame &frame, qint64 sourceNs, const Path &record)
{
    if (!keepsDates() || !frame.keepsDate || frame.targetState != TargetState::Open ||
        sourceNs == 0)
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

void Job::clearLeftovers(Frame &frame)
{
    if (frame.targetNew || frame.leftoversCleared)
        return;
    frame.leftoversCleared = true;
    Leftovers::clear(frame.target, tempPrefix());
}

void Job::keepForFlush(const NativeFs::Folder &folder)
{
    for (const NativeFs::Folder &kept : flushFolders) {
        if (kept.id().device == folder.id().device)
            return;
    }
    flushFolders.push_back(folder.duplicate());
}
