// One file of a job: the overwrite decision, the transfer in steps with its pause and cancel
// points, and putting the copy in its place.

#include "engine/filecopy.h"

#include "engine/reasons.h"

#include <cerrno>

using NativeFs::Existing;
using NativeFs::Links;
using NativeFs::Path;
using NativeFs::Status;
using NativeFs::Transfer;

void FileTask::hold()
{
    if (!shared->heldTarget.isOpen()) {
        shared->heldSource = source->duplicate();
        shared->heldTarget = target->duplicate();
    }
    source = nullptr;
    target = nullptr;
    // The names may be views of the walk's listings.
    name = Path(name.constData(), name.size());
    if (listed)
        listed = Path(listed->constData(), listed->size());
    relieve = nullptr;
}

FileCopy::FileCopy(Job &job, ProgressRecord &record, FileTask &task,
                   NativeFs::TransferContext &context)
    : m_job(job), m_record(record), m_task(task), m_context(context), m_source(task.sourceFolder()),
      m_target(task.targetFolder()), m_name(task.name), m_shown(job.showFile(task.name, 0))
{
}

void FileCopy::run()
{
    // Listed by the count, never begun, whatever its size now: one that has grown too large
    // since fails as it is written, with the system's reason.
    if (m_job.listedAnyAsTooLarge() && m_job.listedAsTooLarge(m_task.recordPath()))
        return;
    // Nothing can lie in a folder the job made: neither a file of the name nor a leftover.
    Status target;
    if (!m_task.targetNew) {
        target = m_target.status(m_name, Links::Stay);
        if (target.exists && judge(target) != Verdict::Copy)
            return;
        m_job.clearLeftovers(m_target, *m_task.shared);
    }
    std::optional<Transfer> transfer;
    if (!open(transfer))
        return;
    if (moveBytes(*transfer) && !m_job.cancelled())
        finish(*transfer, target);
    m_record.addFile();
}

FileCopy::Verdict FileCopy::judge(const Status &target)
{
    // Another source name of this job that folds into this one on this disk.
    if (m_task.shared->written.collides(m_name)) {
        fail(TargetOpenError, Reasons::system(SystemError::posix(EEXIST)));
        return Verdict::Failed;
    }
    const Status source = m_source.status(m_name, Links::Follow);
    m_shown.setSize(quint64(source.size));
    return m_job.rulesAllow(m_target, source, target) ? Verdict::Copy : Verdict::Leave;
}

bool FileCopy::open(std::optional<Transfer> &transfer)
{
    SystemError error;
    auto result = Transfer::Result::Ok;
    // Out of descriptors: the folders above the one in hand give theirs back, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        transfer.emplace(m_context);
        result = transfer->open(m_source, m_name, m_target,
                                NativeFs::temporaryName(m_job.tempPrefix(), m_name), &error);
        if (result == Transfer::Result::Ok || (!error.is(EMFILE) && !error.is(ENFILE)) ||
            !m_task.relieve || !m_task.relieve())
            break;
    }
    if (result == Transfer::Result::SourceOpenFailed)
        fail(SourceOpenError, error.isSet() ? Reasons::system(error)
                                            : Reasons::notCopied(transfer->sourceKind(), {}));
    else if (result == Transfer::Result::TargetOpenFailed)
        fail(TargetOpenError, Reasons::system(error));
    return result == Transfer::Result::Ok;
}

// The size when the file was opened is its end: a file that ends sooner is a failed read, not a
// short copy, and one that changed meanwhile is caught when it is finished.
bool FileCopy::moveBytes(Transfer &transfer)
{
    const qint64 size = transfer.size();
    m_shown.setSize(quint64(size));
    qint64 done = 0;
    while (done < size && !m_job.cancelled()) {
        qint64 advanced = 0;
        SystemError error;
        const Transfer::Result result = transfer.step(Processor::CopyBufferSize, &advanced, &error);
        if (advanced > 0) {
            done += advanced;
            m_record.addBytes(quint64(advanced));
            m_shown.setDone(quint64(done));
        }
        if (result == Transfer::Result::SourceEnded)
            fail(SourceReadError, Reasons::text(Reasons::Reason::SourceCutShort));
        else if (result == Transfer::Result::WriteFailed)
            fail(TargetWriteError, Reasons::system(error));
        else if (result != Transfer::Result::Ok)
            fail(SourceReadError, Reasons::system(error));
        if (result != Transfer::Result::Ok)
            return false;
        m_job.waitWhilePaused();
    }
    return done >= size;
}

void FileCopy::finish(Transfer &transfer, const Status &target)
{
    SystemError error;
    switch (transfer.finish(&error)) {
    case Transfer::Result::Ok:
        place(transfer, target);
        return;
    case Transfer::Result::SourceChanged:
        fail(SourceReadError, Reasons::text(Reasons::Reason::SourceChanged));
        return;
    case Transfer::Result::ReadFailed:
        fail(SourceReadError, Reasons::system(error));
        return;
    default:
        fail(TargetWriteError, Reasons::system(error));
        return;
    }
}

// What bears the name may have changed while the file was copied, or something may have taken
// a free name meanwhile: the rules then decide again, against what is there now, so that "no
// files" never replaces a newcomer and "older files" never a destination saved again meanwhile.
void FileCopy::place(Transfer &transfer, const Status &judged)
{
    // A name found free needs no second look: the placing itself refuses to take it.
    Status target = judged;
    if (target.exists && !stillToBeReplaced(&target))
        return;
    // A folder bears the name, say, or (on Windows) a read-only file, which cannot be deleted.
    if (target.exists && !target.replaceable) {
        fail(TargetRemoveError, Reasons::system(SystemError::posix(
                                    target.kind == NativeFs::EntryKind::Folder ? EISDIR : EACCES)));
        return;
    }
    SystemError error;
    switch (transfer.place(m_name, target.exists ? Existing::Replace : Existing::Keep, &error)) {
    case Transfer::Placed::Done:
        placed(transfer);
        return;
    case Transfer::Placed::NameTaken: {
        const Status newcomer = m_target.status(m_name, Links::Stay);
        if (++m_retakes == MaxLooks)
            fail(TargetOpenError, Reasons::system(SystemError::posix(EEXIST)));
        else if (!newcomer.exists || judge(newcomer) == Verdict::Copy)
            place(transfer, newcomer);
        return;
    }
    case Transfer::Placed::WriteFailed:
        fail(TargetWriteError, Reasons::system(error));
        return;
    case Transfer::Placed::Failed:
        fail(TargetReplaceError, Reasons::system(error));
        return;
    }
}

// False when the rules now keep what bears the name, or it failed; *target is then what was
// judged last.
bool FileCopy::stillToBeReplaced(Status *target)
{
    for (int look = 0; look < MaxLooks; ++look) {
        const Status now = m_target.status(m_name, Links::Stay);
        if (now.sameAs(*target) || !now.exists) {
            *target = now;
            return true;
        }
        if (judge(now) != Verdict::Copy)
            return false;
        *target = now;
    }
    return true;
}

void FileCopy::placed(const Transfer &transfer)
{
    m_job.wroteAnything = true;
    m_record.addSucceeded();
    m_task.shared->written.note(m_target, m_name);
    // By the folder it went to, as the walk reached it, for the read-back to find it again.
    if (m_job.verifies())
        m_job.noteCopied(m_target.id(), *m_task.shared->namesBelowRoot, m_task.sourcePath, m_name,
                         transfer.size(), transfer.digest(), m_task.listed);
}

void FileCopy::fail(CopyErrorCode code, const QString &reason)
{
    m_job.addFailure(m_task.recordPath(), code, reason);
}
