// One file's transfer on POSIX systems: the bytes moved in steps through a buffer, or the kernel's
// pipe or copy, holes passed over, writes gathered and aligned, the page cache let go behind a
// large copy, the digest handed the bytes read, and the source compared at the end.

#include "engine/nativefs_posix_p.h"

#include <cerrno>
#include <cstring>

namespace NativeFs {

TransferContext::TransferContext(Digests digests, Dates dates)
    : m_state(std::make_unique<State>()), m_digests(digests), m_dates(dates)
{
    m_state->keepDates = dates == Dates::Keep;
    if (digests == Digests::On) {
        m_state->digester = std::make_unique<Digester>();
        m_state->follower = std::make_unique<FollowingDigest>();
    }
}

TransferContext::~TransferContext() = default;

Transfer::Transfer(TransferContext &context)
    : m_context(context), m_files(std::make_unique<Files>())
{
}

Transfer::~Transfer()
{
    Files &f = *m_files;
    // The digest's thread reads the source: it lets go before the source is closed.
    if (f.following)
        m_context.m_state->follower->abandon();
    // Data left in the pipe belongs to this file only; the next must start with it empty.
    if (f.viaPipe && f.held > 0)
        m_context.m_state->closePipe();
    if (f.source >= 0)
        ::close(f.source);
    if (f.temporary >= 0)
        ::close(f.temporary);
    if (f.named)
        ::unlinkat(f.targetFolder, f.temporaryName.constData(), 0);
}

Transfer::Result Transfer::open(const Folder &source, const Path &sourceName, const Folder &target,
                                const Path &temporaryName, SystemError *error)
{
    Files &f = *m_files;
    TransferContext::State &context = *m_context.m_state;
    // Non-blocking, so that a pipe put in the file's place since it was listed cannot hold the
    // job; it has no effect on a plain file.
    f.source = ::openat(Folder::Native::of(source), sourceName.constData(),
                        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (f.source < 0) {
        *error = SystemError::posix(errno);
        return Result::SourceOpenFailed;
    }
    struct stat &st = f.opened;
    if (::fstat(f.source, &st) != 0) {
        *error = SystemError::posix(errno);
        return Result::SourceOpenFailed;
    }
    m_sourceKind = kindOf(st.st_mode);
    if (m_sourceKind != EntryKind::File) {
        *error = m_sourceKind == EntryKind::Folder ? SystemError::posix(EISDIR) : SystemError();
        return Result::SourceOpenFailed;
    }
    m_size = st.st_size;
    // Fewer blocks than the size needs: there may be holes, which are not written.
    f.sparse = m_size > 0 && qint64(st.st_blocks) * 512 < m_size;
    f.dataEnd = f.sparse ? 0 : m_size;
    f.viaPipe = m_size > PipeThreshold && context.ensurePipe();
    f.beginDigest(context, m_size);
    if (m_size > PipeThreshold)
        Linux::readSequentially(f.source);

    f.targetFolder = Folder::Native::of(target);
    f.releaseSource = f.viaPipe && !heldInMemory(f.source);
    f.releaseCopy = f.viaPipe && !heldInMemory(f.targetFolder);
    f.targetDevice = target.id().device;
    f.sourceDevice = quint64(st.st_dev);
    f.cloning = !context.refusesClones(f.sourceDevice, f.targetDevice);
    // Within one share the server copies: the bytes need not come down and go back up.
    f.serverCopy = !f.sparse && f.sourceDevice == f.targetDevice &&
                   context.serverCopies(f.targetDevice) &&
                   context.isRemote(f.targetDevice, f.targetFolder);
    f.temporaryName = temporaryName;
    // The source's permission bits from the first moment: a private file's copy is never
    // readable by others, not even while it is written.
    const mode_t mode = st.st_mode & 0777;
    if (!context.refusesUnnamed(f.targetDevice) && context.linkWays.any()) {
        // Without a name until it is complete: a crash leaves nothing behind.
        f.temporary = Linux::openUnnamed(f.targetFolder, mode);
        if (f.temporary >= 0) {
            f.unnamed = true;
            return Result::Ok;
        }
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL || errno == ENOSYS)
            context.noUnnamed.push_back(f.targetDevice);
    }
    // The name carries the job's random prefix; whatever already bears it (a stale file, a
    // link, a pipe planted there) is refused rather than followed or waited on.
    f.temporary = ::openat(f.targetFolder, temporaryName.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (f.temporary < 0) {
        *error = SystemError::posix(errno);
        return Result::TargetOpenFailed;
    }
    f.named = true;
    return Result::Ok;
}

Transfer::Result Transfer::step(qint64 maxBytes, qint64 *advanced, SystemError *error)
{
    Files &f = *m_files;
    TransferContext::State &context = *m_context.m_state;
    *advanced = 0;
    // A clone keeps the source's holes as they are.
    if (f.cloning && f.cloneStep(context, m_size, advanced))
        return Result::Ok;
    if (f.serverCopy && f.serverCopyStep(context, m_size, advanced))
        return Result::Ok;
    if (f.sparse && f.readAt >= f.dataEnd) {
        const Result hole = f.passHole(context, m_size, advanced, error);
        if (hole != Result::Ok || *advanced > 0)
            return hole;
    }
    const size_t want = size_t(qMin(maxBytes, qMax<qint64>(f.dataEnd - f.readAt, 1)));
    // A file of one step in one call: the kernel moves the bytes without a trip through the
    // job. Any failure is asked again the plain way, which tells reading from writing apart.
    if (f.readAt == 0 && qint64(want) == m_size && f.held == 0 && context.rangeCopy &&
        f.copyInOne(context, want, advanced))
        return Result::Ok;
    ssize_t got = -1;
    const Result read = f.viaPipe ? f.readIntoPipe(context, want, &got, error) : Result::Ok;
    if (read != Result::Ok)
        return read;
    if (!f.viaPipe) {
        char *into = context.gatherBuffer() + f.held;
        got = readFrom(f.source, into, want, f.readAt);
        if (got < 0) {
            *error = SystemError::posix(errno);
            return Result::ReadFailed;
        }
        if (context.digester && !f.following)
            context.digester->add(into, size_t(got));
    }
    if (got == 0)
        return Result::SourceEnded;
    f.readAt += got;
    f.held += got;
    *advanced = got;
    if (f.following)
        context.follower->readTo(f.readAt);
    if (f.held >= GatherBytes && !f.drain(context, Files::Drain::Aligned, error))
        return Result::WriteFailed;
    return Result::Ok;
}

// At the end of a run of data: passes over the hole that follows, if any (*advanced is then its
// length), and learns where the next run ends.
Transfer::Result Transfer::Files::passHole(TransferContext::State &context, qint64 size,
                                           qint64 *advanced, SystemError *error)
{
    off_t data = ::lseek(source, readAt, SEEK_DATA);
    if (data < 0 && errno == ENXIO) {
        // Nothing but a hole up to the end, unless the file is shorter than it was.
        struct stat st;
        if (::fstat(source, &st) != 0 || st.st_size < size)
            return Result::SourceEnded;
        data = size;
    } else if (data < 0) {
        sparse = false; // the file system cannot tell; copy it all
        dataEnd = size;
        data = readAt;
    }
    data = qMin<qint64>(data, size);
    if (data > readAt) {
        if (!drain(context, Drain::All, error))
            return Result::WriteFailed;
        *advanced = data - readAt;
        if (context.digester && !following)
            context.digester->addZeros(*advanced);
        readAt = writeAt = data;
        return Result::Ok;
    }
    if (sparse) {
        const off_t hole = ::lseek(source, data, SEEK_HOLE);
        dataEnd = hole < 0 ? size : qMin<qint64>(hole, size);
    }
    return Result::Ok;
}

bool Transfer::Files::copyInOne(TransferContext::State &context, size_t want, qint64 *advanced)
{
    const ssize_t got = Linux::copyRange(source, temporary, 0, want);
    if (got > 0)
        return passedBy(context, got, advanced);
    // Refused between these file systems, or not at all: not asked again in this job.
    if (got < 0 && (isUnsupported(errno) || errno == EXDEV || errno == EPERM || errno == EBADF))
        context.rangeCopy = false;
    return false;
}

// Where source and copy lie on one file system that can share blocks (btrfs, XFS with reflink),
// the copy shares the source's: it takes no room and no time, and is still a file of its own.
bool Transfer::Files::cloneStep(TransferContext::State &context, qint64 size, qint64 *advanced)
{
    const qint64 length = qMin(CloneStep, size - readAt);
    if (Linux::cloneRange(source, temporary, readAt, length) != 0) {
        cloning = false;
        // Refused between these file systems, or by the destination's: not asked again.
        if (readAt == 0 && (isUnsupported(errno) || errno == EXDEV || errno == ENOTTY ||
                            errno == EPERM || errno == EBADF))
            context.noClones.emplace_back(sourceDevice, targetDevice);
        return false;
    }
    cloning = passedBy(context, length, advanced);
    return cloning;
}

bool Transfer::Files::serverCopyStep(TransferContext::State &context, qint64 size, qint64 *advanced)
{
    const ssize_t got =
        Linux::copyRange(source, temporary, readAt, size_t(qMin(ServerCopyStep, size - readAt)));
    if (got > 0 && passedBy(context, got, advanced))
        return true;
    // The plain way from here; it also tells a source cut short from a failure.
    serverCopy = false;
    if (got < 0 && readAt == 0 && (isUnsupported(errno) || errno == EXDEV || errno == EBADF))
        context.noServerCopy.push_back(targetDevice);
    return false;
}

bool Transfer::Files::passedBy(TransferContext::State &context, qint64 length, qint64 *advanced)
{
    // The range shows the job no byte: the digest reads them from the source.
    if (context.digester && !following && !hashSource(context, readAt, length)) {
        readAt = writeAt = releasedTo = sourceReleasedTo = 0;
        if (sparse)
            dataEnd = 0; // its runs of data are found again from the start
        return false;
    }
    readAt = writeAt = readAt + length;
    // Nothing passed through memory: letting the range go would only push out the source's
    // pages that others have read, at a cost measured in tenths of a second a gigabyte.
    releasedTo = sourceReleasedTo = readAt;
    dataEnd = qMax(dataEnd, readAt);
    *advanced = length;
    if (following)
        context.follower->readTo(readAt);
    return true;
}

bool TransferContext::State::isRemote(quint64 device, int folder)
{
    for (const auto &[known, isShare] : remote) {
        if (known == device)
            return isShare;
    }
    remote.emplace_back(device, Linux::isRemote(folder));
    return remote.back().second;
}

void Transfer::Files::beginDigest(TransferContext::State &context, qint64 size)
{
    if (!context.digester)
        return;
    context.digester->reset();
    following = size > PipeThreshold;
    if (following)
        context.follower->begin([fd = source](qint64 at, char *into, qint64 length) {
            return qint64(readFrom(fd, into, size_t(length), at));
        });
}

// The digest of bytes the job did not read. Should the source fail to give them, the digest holds
// a part of the range: it is begun again, and the caller copies the file again from its first
// byte the plain way, which reads and hashes the same bytes.
bool Transfer::Files::hashSource(TransferContext::State &context, qint64 from, qint64 length)
{
    char *buffer = context.gatherBuffer();
    for (qint64 done = 0; done < length;) {
        const ssize_t got =
            readFrom(source, buffer, size_t(qMin(length - done, GatherBytes)), from + done);
        if (got <= 0) {
            context.digester->reset();
            return false;
        }
        context.digester->add(buffer, size_t(got));
        done += got;
    }
    return true;
}

// Moves the next bytes into the job's pipe, from which drain() writes them; a source that
// cannot feed a pipe turns the job to its buffer.
Transfer::Result Transfer::Files::readIntoPipe(TransferContext::State &context, size_t want,
                                               ssize_t *got, SystemError *error)
{
    while (viaPipe) {
        qint64 at = readAt;
        *got = Linux::spliceIn(source, &at, context.pipe[1], want);
        if (*got >= 0)
            return Result::Ok;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN && held > 0) {
            if (!drain(context, Drain::All, error))
                return Result::WriteFailed;
            continue;
        }
        if (!isUnsupported(errno)) {
            *error = SystemError::posix(errno);
            return Result::ReadFailed;
        }
        if (!drain(context, Drain::All, error))
            return Result::WriteFailed;
        viaPipe = false;
        context.splice = false;
        context.closePipe();
    }
    return Result::Ok;
}

bool Transfer::Files::drain(TransferContext::State &context, Drain how, SystemError *error)
{
    qint64 amount = held;
    if (how == Drain::Aligned)
        amount = (writeAt + held) / WriteAlignment * WriteAlignment - writeAt;
    qint64 written = 0;
    while (written < amount) {
        ssize_t n;
        if (viaPipe) {
            n = Linux::spliceOut(context.pipe[0], temporary, writeAt + written,
                                 size_t(amount - written));
        } else {
            n = ::pwrite(temporary, context.gatherBuffer() + written, size_t(amount - written),
                         writeAt + written);
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = SystemError::posix(n < 0 ? errno : EIO);
            return false;
        }
        written += n;
    }
    // Large files go to the device while the rest is still being copied, so that the wait for
    // the device at the job's end is short, and dirty memory does not pile up. Only a start: a
    // failure to write out shows at that wait.
    if (viaPipe && written > 0)
        Linux::startWriteOut(temporary, writeAt, written);
    writeAt += written;
    held -= written;
    if (!viaPipe && held > 0)
        std::memmove(context.gatherBuffer(), context.gatherBuffer() + written, size_t(held));
    return !viaPipe || releaseBehind(context, error);
}

// Lets a large file's pages go once they are on the device. A copy of many gigabytes then does
// not push every other program's data out of memory, and each new piece reuses pages just let
// go rather than taking fresh ones: on a virtual machine, where fresh pages come from the host
// one fault at a time, that was measured to make the difference between 1 and 3 seconds for a
// gigabyte. The wait is for data whose write-out began ReleaseLag ago, so it paces the copy to
// the device without stalling it. The digest's thread reads the source behind the copy: the
// source is let go only as far as it has been hashed.
bool Transfer::Files::releaseBehind(TransferContext::State &context, SystemError *error)
{
    const qint64 to = writeAt - ReleaseLag;
    if (to - releasedTo < ReleaseStep)
        return true;
    // Waiting here takes in a write-out failure: a later flush of this file would not see it
    // again, so it fails the copy now.
    if (releaseCopy && Linux::waitWrittenOut(temporary, releasedTo, to - releasedTo) != 0) {
        if (!isUnsupported(errno) && errno != ESPIPE) {
            *error = SystemError::posix(errno);
            return false;
        }
        releaseCopy = false;
    }
    if (releaseCopy)
        Linux::dropCache(temporary, releasedTo, to - releasedTo);
    releasedTo = to;
    if (!releaseSource)
        return true;
    const qint64 sourceTo = following ? qMin(to, context.follower->hashedTo()) : to;
    if (sourceTo > sourceReleasedTo) {
        Linux::dropCache(source, sourceReleasedTo, sourceTo - sourceReleasedTo);
        sourceReleasedTo = sourceTo;
    }
    return true;
}

Transfer::Result Transfer::finish(SystemError *error)
{
    Files &f = *m_files;
    // The pipe holds the source's own pages, not copies of them: the source is compared with
    // what it was only once the last of them is written out.
    if (!f.drain(*m_context.m_state, Files::Drain::All, error))
        return Result::WriteFailed;
    // A hole at the end is not written: the size makes it.
    if (f.sparse && ::ftruncate(f.temporary, m_size) != 0) {
        *error = SystemError::posix(errno);
        return Result::WriteFailed;
    }
    if (f.following) {
        f.following = false;
        int hashed = 0;
        if (!m_context.m_state->follower->finish(m_size, &f.digest, &hashed)) {
            *error = SystemError::posix(hashed);
            return Result::ReadFailed;
        }
    } else if (m_context.m_state->digester) {
        f.digest = m_context.m_state->digester->result();
    }
    const Result source = f.sourceUnchanged(error);
    if (source != Result::Ok)
        return source;
    ::close(f.source);
    f.source = -1;
    // A full disk may only show when a named copy is closed; an unnamed one needs its
    // descriptor to be given a name, and is closed after.
    if (f.named) {
        const int fd = f.temporary;
        f.temporary = -1;
        if (!closeDescriptor(fd, error))
            return Result::WriteFailed;
    }
    // After the last write, which would move it, and before the copy bears its name. A named
    // copy gets it once closed: some file systems (FAT through FUSE) date a file when it is.
    const bool keepDate = m_context.m_state->keepDates;
    struct stat dated;
    if (keepDate && f.named &&
        (!setModifiedTimeAt(f.targetFolder, f.temporaryName, f.opened.st_mtim, error) ||
         ::fstatat(f.targetFolder, f.temporaryName.constData(), &dated, AT_SYMLINK_NOFOLLOW) != 0))
        return Result::WriteFailed;
    if (keepDate && f.named)
        f.dated = dated.st_mtim;
    if (keepDate && !f.named && !setModifiedTime(f.temporary, f.opened.st_mtim, error))
        return Result::WriteFailed;
    return Result::Ok;
}

Transfer::Result Transfer::Files::sourceUnchanged(SystemError *error) const
{
    struct stat now;
    if (::fstat(source, &now) != 0) {
        *error = SystemError::posix(errno);
        return Result::ReadFailed;
    }
    const auto same = [](const timespec &a, const timespec &b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return now.st_size == opened.st_size && same(now.st_mtim, opened.st_mtim) &&
                   same(now.st_ctim, opened.st_ctim)
               ? Result::Ok
               : Result::SourceChanged;
}

Digest Transfer::digest() const
{
    return m_files->digest;
}

} // namespace NativeFs
