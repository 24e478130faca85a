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

bool Job::rulesAllow(const NativeFs::Folder &target, const NativeFs::Status &source,
                     const NativeFs::Status &targetStatus)
{
    // The destination's steps are learnt only where a time decides.
    const OverwriteMode mode = options().overwrite;
    const qint64 step = mode == OverwriteOlder ? timeStep(target) : CopyRules::Millisecond;
    return CopyRules::shouldCopy(mode, source, targetStatus, step);
}

qint64 Job::timeStep(const NativeFs::Folder &target)
{
    if (!keepsDates())
        return CopyRules::Millisecond;
    const std::lock_guard locker(m_timeStepsLock);
    const quint64 device = target.id().device;
    if (const auto known = m_timeSteps.constFind(device); known != m_timeSteps.cend())
        return *known;
    // Learnt once per device; a folder that cannot be written to teaches nothing, and the next
    // one is asked.
    const qint64 kept =
        target.timeResolutionNs(NativeFs::temporaryName(tempPrefix(), QByteArrayLiteral("time")));
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
    const qint64 step = timeStep(frame.target);
    if (CopyRules::floorTo(frame.target.modifiedNs(), step) == CopyRules::floorTo(sourceNs, step))
        return;
    SystemError error;
    if (!frame.target.setModified(sourceNs, &error))
        addFailure(record, TargetWriteError, Reasons::system(error));
}

void Job::clearLeftovers(const NativeFs::Folder &target, FolderShared &shared)
{
    std::call_once(shared.leftoversCleared, [&] { Leftovers::clear(target, tempPrefix()); });
}

void Job::noteCopied(const NativeFs::FolderId &folder, const std::vector<Path> &namesBelowRoot,
                     const Path &sourceFolder, const Path &name, qint64 size, const Digest &digest,
                     const std::optional<Path> &listed)
{
    const std::lock_guard locker(m_verifyListLock);
    if (!verifyList.inFolder(folder))
        verifyList.enter(folder, namesBelowRoot, sourceFolder);
    verifyList.add(name, size, digest, listed ? &*listed : nullptr);
}

void Job::keepForFlush(const NativeFs::Folder &folder)
{
    for (const NativeFs::Folder &kept : flushFolders) {
        if (kept.id().device == folder.id().device)
            return;
    }
    flushFolders.push_back(folder.duplicate());
}

void Job::listTooLarge(const Path &path)
{
    m_tooLarge.push_back(path);
    addFailure(path, TargetWriteError, Reasons::text(Reasons::Reason::TooLargeForFat32));
}
