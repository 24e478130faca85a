// One file of a job: the overwrite decision, the transfer in steps with its pause and cancel
// points, and putting the copy in its place.

#include "engine/job_p.h"
#include "engine/reasons.h"

#include <cerrno>
#include <optional>

using NativeFs::Existing;
using NativeFs::Links;
using NativeFs::Path;
using NativeFs::Status;
using NativeFs::Transfer;

class Processor::Job::FileCopy
{
public:
    FileCopy(Job &job, Frame &frame, const Path &name, const Path *listed)
        : m_job(job), m_p(job.p), m_frame(frame), m_name(name), m_listed(listed)
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
    void fail(CopyErrorCode code, const QString &reason);

    // Looks at what bears the name before placing the copy, and attempts to place it.
    static constexpr int MaxLooks = 3;
    int m_retakes = 0;

    Job &m_job;
    Processor &m_p;
    Frame &m_frame;
    const Path &m_name;
    const Path *m_listed;
};

void Processor::Job::scanFile(const Frame &frame, const Path &name)
{
    if (samePath)
        return;
    const Status source = frame.source.status(name, Links::Follow);
    if (!source.isFile())
        return; // gone since the listing, or no file; the copy will meet whatever is there then
    const Status target =
        frame.targetState == TargetState::Open ? frame.target.status(name, Links::Stay) : Status();
    if (target.exists && !rulesAllow(frame, source, target))
        return;
    p.m_filesTotal.fetch_add(1);
    p.m_bytesTotal.fetch_add(quint64(source.size));
}

void Processor::Job::copyFile(Frame &frame, const Path &name, const Path *listed)
{
    if (!cancelled() && !samePath)
        FileCopy(*this, frame, name, listed).run();
}

void Processor::Job::FileCopy::run()
{
    // The counts go first: a reader that sees the new name must not pair it with the bytes of
    // the file before.
    m_p.m_currentFileDone.store(0);
    m_p.m_currentFileSize.store(0);
    m_p.setCurrentFile(m_name);

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
    m_p.m_filesDone.fetch_add(1);
}

Processor::Job::FileCopy::Verdict Processor::Job::FileCopy::judge(const Status &target)
{
    // Another source name of this job that folds into this one on this disk.
    if (m_frame.written.collides(m_name)) {
        fail(TargetOpenError, Reasons::system(SystemError::posix(EEXIST)));
        return Verdict::Failed;
    }
    const Status source = m_frame.source.status(m_name, Links::Follow);
    m_p.m_currentFileSize.store(quint64(source.size));
    return m_job.rulesAllow(m_frame, source, target) ? Verdict::Copy : Verdict::Leave;
}

bool Processor::Job::FileCopy::open(std::optional<Transfer> &transfer)
{
    SystemError error;
    auto result = Transfer::Result::Ok;
    // Out of descriptors: the folders above the one in hand give theirs back, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        transfer.emplace(m_job.transfer);
        result = transfer->open(m_frame.source, m_name, m_frame.target,
                                NativeFs::temporaryName(m_p.m_tempPrefix, m_name), &error);
        if (result == Transfer::Result::Ok || (!error.is(EMFILE) && !error.is(ENFILE)) ||
            !m_job.stack.relieve(1))
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
bool Processor::Job::FileCopy::moveBytes(Transfer &transfer)
{
    const qint64 size = transfer.size();
    m_p.m_currentFileSize.store(quint64(size));
    qint64 done = 0;
    while (done < size && !m_job.cancelled()) {
        qint64 advanced = 0;
        SystemError error;
        const Transfer::Result result = transfer.step(Processor::CopyBufferSize, &advanced, &error);
        if (advanced > 0) {
            done += advanced;
            m_p.m_bytesDone.fetch_add(quint64(advanced));
            m_p.m_currentFileDone.store(quint64(done));
        }
        if (result == Transfer::Result::SourceEnded)
            fail(SourceReadError, Reasons::text(Reasons::Reason::SourceCutShort));
        else if (result == Transfer::Result::WriteFailed)
            fail(TargetWriteError, Reasons::system(error));
        else if (result != Transfer::Result::Ok)
            fail(SourceReadError, Reasons::system(error));
        if (result != Transfer::Result::Ok)
            return false;
        m_p.waitWhilePaused();
    }
    return done >= size;
}

void Processor::Job::FileCopy::finish(Transfer &transfer, const Status &target)
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
void Processor::Job::FileCopy::place(Transfer &transfer, const Status &judged)
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
bool Processor::Job::FileCopy::stillToBeReplaced(Status *target)
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

void Processor::Job::FileCopy::placed(const Transfer &transfer)
{
    m_job.wroteAnything = true;
    m_p.m_filesCopied.fetch_add(1);
    m_frame.written.note(m_frame.target, m_name);
    if (m_p.m_verification == Verification::ReadBack)
        m_job.noteCopied(m_frame, m_name, transfer.size(), transfer.digest(), m_listed);
}

void Processor::Job::FileCopy::fail(CopyErrorCode code, const QString &reason)
{
    m_job.addFailure(m_listed ? *m_listed : NativeFs::join(m_job.stack.path(), m_name), code,
                     reason);
}
