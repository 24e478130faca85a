// One file of a job: the overwrite decision, the transfer in steps with its pause and cancel
// points, and putting the copy in its place.

#include "engine/copyphase.h"

#include "engine/reasons.h"

#include <cerrno>
#include <optional>

using NativeFs::Existing;
using NativeFs::Links;
using NativeFs::Path;
using NativeFs::Status;
using NativeFs::Transfer;

class CopyPhase::FileCopy
{
public:
    FileCopy(Job &job, TreeWalk &walk, ProgressRecord &record, Frame &frame, const Path &name,
             const Path *listed)
        : m_job(job), m_walk(walk), m_record(record), m_frame(frame), m_name(name), m_listed(listed)
    {
    }
    void run();

private:
    enum class Verdict
    {
        Copy,
        // The rules keep what bears the name.
        Leave,
        Failed
    };
    // Something bears the destination's name, before the copy or since it began.
    Verdict judge(const Status &target);
    bool open(std::optional<Transfer> &transfer);
    // True when the whole file went through, neither failed nor cancelled.
    bool moveBytes(Transfer &transfer);
    void finish(Transfer &transfer, const Status &target);
    void place(Transfer &transfer, const Status &judged);
    bool stillToBeReplaced(Status *target);
    void placed(const Transfer &transfer);
    void noteForReadBack(const Transfer &transfer);
    void fail(CopyErrorCode code, const QString &reason);

    // Looks at what bears the name before placing the copy, and attempts to place it.
    static constexpr int MaxLooks = 3;
    int m_retakes = 0;

    Job &m_job;
    TreeWalk &m_walk;
    ProgressRecord &m_record;
    Frame &m_frame;
    const Path &m_name;
    const Path *m_listed;
};

void CopyPhase::file(TreeWalk &walk, Frame &frame, const Path &name, const Path *listed)
{
    if (!m_job->cancelled() && !m_job->samePath)
        FileCopy(*m_job, walk, record(), frame, name, listed).run();
}

void CopyPhase::FileCopy::run()
{
    m_job.showFile(m_name, 0);

    Status target;
    if (!m_frame.targetNew) {
        target = m_frame.target.status(m_name, Links::Stay);
        if (target.exists && judge(target) != Verdict::Copy)
            return;
    }
    m_job.clearLeftovers(m_frame);
    std::optional<Transfer> transfer;
    if (!open(transfer))
        return;
    if (moveBytes(*transfer) && !m_job.cancelled())
        finish(*transfer, target);
    m_record.addFile();
}

CopyPhase::FileCopy::Verdict CopyPhase::FileCopy::judge(const Status &target)
{
    // Another source name of this job that folds into this one on this disk.
    if (m_frame.written.collides(m_name)) {
        fail(TargetOpenError, Reasons::system(SystemError::posix(EEXIST)));
        return Verdict::Failed;
    }
    const Status source = m_frame.source.status(m_name, Links::Follow);
    m_job.showFileSize(quint64(source.size));
    return m_job.rulesAllow(m_frame, source, target) ? Verdict::Copy : Verdict::Leave;
}

bool CopyPhase::FileCopy::open(std::optional<Transfer> &transfer)
{
    SystemError error;
    auto result = Transfer::Result::Ok;
    // Out of descriptors: the folders above the one in hand give theirs back, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        transfer.emplace(m_job.transfer);
        result = transfer->open(m_frame.source, m_name, m_frame.target,
                                NativeFs::temporaryName(m_job.tempPrefix(), m_name), &error);
        if (result == Transfer::Result::Ok || (!error.is(EMFILE) && !error.is(ENFILE)) ||
            !m_walk.stack().relieve(1))
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
bool CopyPhase::FileCopy::moveBytes(Transfer &transfer)
{
    const qint64 size = transfer.size();
    m_job.showFileSize(quint64(size));
    qint64 done = 0;
    while (done < size && !m_job.cancelled()) {
        qint64 advanced = 0;
        SystemError error;
        const Transfer::Result result = transfer.step(Processor::CopyBufferSize, &advanced, &error);
        if (advanced > 0) {
            done += advanced;
            m_record.addBytes(quint64(advanced));
            m_job.showFileDone(quint64(done));
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

void CopyPhase::FileCopy::finish(Transfer &transfer, const Status &target)
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
void CopyPhase::FileCopy::place(Transfer &transfer, const Status &judged)
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
        const Status newcomer = m_frame.target.status(m_name, Links::Stay);
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
bool CopyPhase::FileCopy::stillToBeReplaced(Status *target)
{
    for (int look = 0; look < MaxLooks; ++look) {
        const Status now = m_frame.target.status(m_name, Links::Stay);
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

void CopyPhase::FileCopy::placed(const Transfer &transfer)
{
    m_job.wroteAnything = true;
    m_record.addSucceeded();
    m_frame.written.note(m_frame.target, m_name);
    if (m_job.options().verification == CopyOptions::Verification::ReadBack)
        noteForReadBack(transfer);
}

// By the folder it went to, as the walk reached it, for the read-back to find it again.
void CopyPhase::FileCopy::noteForReadBack(const Transfer &transfer)
{
    VerifyList &list = m_job.verifyList;
    if (!list.inFolder(m_frame.targetId))
        list.enter(m_frame.targetId, m_walk.namesBelowRoot(), m_walk.path());
    list.add(m_name, transfer.size(), transfer.digest(), m_listed);
}

void CopyPhase::FileCopy::fail(CopyErrorCode code, const QString &reason)
{
    m_job.addFailure(m_listed ? *m_listed : NativeFs::join(m_walk.path(), m_name), code, reason);
}
