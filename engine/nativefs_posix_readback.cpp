// A copy read back from the device on POSIX systems, its pages dropped first so that the bytes
// come from the device and not from the memory they were written from.

#include "engine/nativefs_posix_p.h"

#include <cerrno>

namespace NativeFs {

struct ReadBack::File
{
    ~File()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int fd = -1;
    qint64 at = 0;
    bool release = false; // on a file system that reads from a device
    qint64 releasedTo = 0;
};

ReadBack::ReadBack(TransferContext &context) : m_context(context), m_file(std::make_unique<File>())
{
}

ReadBack::~ReadBack() = default;

bool ReadBack::open(const Folder &folder, const Path &name, SystemError *error)
{
    File &f = *m_file;
    f.fd = ::openat(Folder::Native::of(folder), name.constData(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (f.fd < 0 || ::fstat(f.fd, &st) != 0) {
        *error = SystemError::posix(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = SystemError::posix(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    m_size = st.st_size;
    // The copy's pages are clean since the flush: dropped, so that every read reaches the
    // device rather than the memory the copy was written from.
    Linux::dropCache(f.fd, 0, 0);
    Linux::readSequentially(f.fd);
    f.release = !heldInMemory(f.fd);
    if (!m_context.m_state->digester)
        m_context.m_state->digester = std::make_unique<Digester>();
    m_context.m_state->digester->reset();
    return true;
}

ReadBack::Result ReadBack::step(qint64 maxBytes, qint64 *advanced, SystemError *error)
{
    File &f = *m_file;
    TransferContext::State &context = *m_context.m_state;
    char *buffer = context.gatherBuffer();
    const ssize_t got = readFrom(f.fd, buffer, size_t(qMin<qint64>(maxBytes, GatherBytes)), f.at);
    *advanced = qMax<ssize_t>(got, 0);
    if (got < 0) {
        *error = SystemError::posix(errno);
        return Result::Failed;
    }
    if (got == 0)
        return Result::End;
    context.digester->add(buffer, size_t(got));
    f.at += got;
    // What is hashed is let go, for the reasons a large copy lets its pages go.
    if (f.release && f.at - f.releasedTo >= ReleaseStep) {
        Linux::dropCache(f.fd, f.releasedTo, f.at - f.releasedTo);
        f.releasedTo = f.at;
    }
    return Result::Ok;
}

Digest ReadBack::digest() const
{
    return m_context.m_state->digester->result();
}

} // namespace NativeFs
