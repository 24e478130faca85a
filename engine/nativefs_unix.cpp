#include "engine/nativefs.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace NativeFs {

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// Data is held back until this much has gathered, then written in whole aligned pieces: writes
// that end mid-page cut the destination's page cache into fragments and cost far more than the
// data they carry.
constexpr qint64 GatherBytes = 512 * 1024;
constexpr qint64 WriteAlignment = 64 * 1024;
constexpr int PipeBytes = 1024 * 1024;
// Small files go through the buffer: their one write is aligned anyway.
constexpr qint64 PipeThreshold = GatherBytes;

EntryKind kindOf(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return EntryKind::Folder;
    case S_IFREG:
        return EntryKind::File;
    case S_IFIFO:
        return EntryKind::Pipe;
    case S_IFSOCK:
        return EntryKind::Socket;
    case S_IFCHR:
        return EntryKind::CharacterDevice;
    case S_IFBLK:
        return EntryKind::BlockDevice;
    default:
        return EntryKind::Unknown;
    }
}

// The kind the listing reports without a call of its own; Unknown where it does not say.
EntryKind kindOfEntry(unsigned char type)
{
    switch (type) {
    case DT_DIR:
        return EntryKind::Folder;
    case DT_REG:
        return EntryKind::File;
    case DT_FIFO:
        return EntryKind::Pipe;
    case DT_SOCK:
        return EntryKind::Socket;
    case DT_CHR:
        return EntryKind::CharacterDevice;
    case DT_BLK:
        return EntryKind::BlockDevice;
    default:
        return EntryKind::Unknown;
    }
}

// A link that leads nowhere, or round in a circle, as against one that may not be followed.
bool leadsNowhere(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

Status statusOf(const struct stat &st)
{
    Status status;
    status.kind = kindOf(st.st_mode);
    status.exists = true;
    status.isDir = S_ISDIR(st.st_mode);
    status.isFile = S_ISREG(st.st_mode);
    status.replaceable = status.isFile;
    status.size = st.st_size;
    status.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return status;
}

// A folder's descriptor keeps its identity: device and inode as the kernel reports them.
bool adopt(int fd, FolderId *id, int *error)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        *error = errno;
        ::close(fd);
        return false;
    }
    *id = FolderId{quint64(st.st_dev), quint64(st.st_ino)};
    return true;
}

// The descriptor is gone after close() whatever it returns; EINTR does not mean data was lost.
bool closeDescriptor(int fd, int *error)
{
    if (::close(fd) == 0 || errno == EINTR)
        return true;
    *error = errno;
    return false;
}

} // namespace

Path toNative(const QString &path)
{
    return QFile::encodeName(path);
}

QString fromNative(const Path &path)
{
    return QFile::decodeName(path);
}

QString errorText(int error)
{
    return qt_error_string(error);
}

void prepareProcess()
{
    static std::once_flag once;
    std::call_once(once, [] { ::signal(SIGXFSZ, SIG_IGN); });
}

// --- Folder ---------------------------------------------------------------------------------

Folder::~Folder()
{
    close();
}

Folder Folder::open(const Path &path, int *error)
{
    Folder folder;
    const int fd = ::open(path.constData(), FolderFlags);
    if (fd < 0)
        *error = errno;
    else if (adopt(fd, &folder.m_id, error))
        folder.m_handle = fd;
    return folder;
}

Folder Folder::openChild(const Path &name, bool followLinks, int *error) const
{
    Folder folder;
    const int fd =
        ::openat(int(m_handle), name.constData(), FolderFlags | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        // A refused link reads "Too many levels of symbolic links"; what stands there is
        // simply not a folder to enter.
        *error = errno == ELOOP && !followLinks ? ENOTDIR : errno;
    else if (adopt(fd, &folder.m_id, error))
        folder.m_handle = fd;
    return folder;
}

Folder Folder::openParent(int *error) const
{
    return openChild("..", true, error);
}

bool Folder::isOpen() const
{
    return m_handle >= 0;
}

void Folder::close()
{
    if (m_handle >= 0)
        ::close(int(m_handle));
    m_handle = -1;
}

bool Folder::list(bool includeHidden, Listing &out, int *error) const
{
    out.clear();
    const int fd = int(m_handle);
    // The folder's own descriptor is read directly, rewound, so no second descriptor is needed.
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        *error = errno;
        return false;
    }
    alignas(8) std::array<char, 32768> buffer;
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer.data(), buffer.size());
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        for (ssize_t at = 0; at < got;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer.data() + at);
            at += entry->d_reclen;
            const char *name = entry->d_name;
            if (name[0] == '.') {
                if (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))
                    continue;
                if (!includeHidden)
                    continue;
            }
            EntryKind kind = kindOfEntry(entry->d_type);
            bool mayBeLink = entry->d_type == DT_LNK;
            int reason = 0;
            struct stat st;
            if (kind == EntryKind::Unknown && !mayBeLink) {
                // The file system does not say: ask, without following a link.
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue; // gone already
                mayBeLink = S_ISLNK(st.st_mode);
                kind = kindOf(st.st_mode);
            }
            if (mayBeLink) {
                if (::fstatat(fd, name, &st, 0) == 0) {
                    kind = kindOf(st.st_mode);
                } else if (leadsNowhere(errno)) {
                    // Gone, or a link to nothing: only the link itself tells them apart.
                    if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                        continue;
                    kind = EntryKind::BrokenLink;
                } else {
                    reason = errno;
                }
            }
            out.add(kind, name, qsizetype(std::strlen(name)), mayBeLink, reason);
        }
    }
}

Status Folder::status(const Path &name, bool followLinks) const
{
    struct stat st;
    if (m_handle < 0 ||
        ::fstatat(int(m_handle), name.constData(), &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    if (followLinks || !S_ISLNK(st.st_mode))
        return statusOf(st);
    // A link may be replaced whatever it points to; its target's times and size still decide.
    Status status;
    if (::fstatat(int(m_handle), name.constData(), &st, 0) == 0)
        status = statusOf(st);
    status.exists = true;
    status.replaceable = true;
    return status;
}

bool Folder::makeFolder(const Path &name, int *error) const
{
    if (::mkdirat(int(m_handle), name.constData(), 0777) == 0)
        return true;
    *error = errno;
    return false;
}

bool Folder::syncFileSystem(int *error) const
{
    if (::syncfs(int(m_handle)) == 0)
        return true;
    *error = errno;
    return false;
}

Folder Folder::duplicate() const
{
    Folder copy;
    copy.m_handle = ::fcntl(int(m_handle), F_DUPFD_CLOEXEC, 0);
    copy.m_id = m_id;
    return copy;
}

bool makePath(const Path &path, int *error)
{
    struct stat st;
    if (::mkdir(path.constData(), 0777) == 0)
        return true;
    const int made = errno;
    if (made == ENOENT) {
        const qsizetype at = path.lastIndexOf('/');
        if (at > 0 && makePath(path.left(at), error)) {
            if (::mkdir(path.constData(), 0777) == 0)
                return true;
            if (errno != EEXIST) {
                *error = errno;
                return false;
            }
        } else if (at > 0) {
            return false;
        }
    } else if (made != EEXIST) {
        *error = made;
        return false;
    }
    if (::stat(path.constData(), &st) != 0) {
        *error = errno;
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = ENOTDIR;
        return false;
    }
    return true;
}

// --- Transfer -------------------------------------------------------------------------------

struct TransferContext::State
{
    ~State() { closePipe(); }

    bool ensurePipe()
    {
        if (pipe[0] >= 0)
            return true;
        if (!splice || ::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            splice = false;
            return false;
        }
        // A pipe smaller than the gathered amount would fill before it is written out.
        if (::fcntl(pipe[1], F_SETPIPE_SZ, PipeBytes) < PipeBytes) {
            closePipe();
            splice = false;
            return false;
        }
        return true;
    }
    void closePipe()
    {
        for (int &fd : pipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    char *gatherBuffer()
    {
        if (!buffer)
            buffer = std::make_unique_for_overwrite<char[]>(size_t(GatherBytes + 65536));
        return buffer.get();
    }
    bool refusesUnnamed(quint64 device) const
    {
        return std::find(noUnnamed.cbegin(), noUnnamed.cend(), device) != noUnnamed.cend();
    }

    int pipe[2] = {-1, -1};
    std::unique_ptr<char[]> buffer;
    bool splice = true;
    bool rangeCopy = true;
    bool emptyPathLink = true;
    bool procLink = ::access("/proc/self/fd", F_OK) == 0;
    bool noReplaceRename = true;
    bool hardLinks = true;
    std::vector<quint64> noUnnamed; // devices whose file system cannot make unnamed files
};

TransferContext::TransferContext() : m_state(std::make_unique<State>()) {}

TransferContext::~TransferContext() = default;

struct Transfer::Files
{
    int source = -1;
    int temporary = -1;
    int targetFolder = -1;
    quint64 targetDevice = 0;
    Path temporaryName;
    bool unnamed = false;
    bool named = false; // a file bears the temporary name
    bool viaPipe = false;
    bool sparse = false;
    // The source as it was opened: a copy is whole only if it still is so at the end.
    struct stat opened = {};
    qint64 readAt = 0;  // next source byte to read
    qint64 writeAt = 0; // where the data held back begins in the copy
    qint64 held = 0;    // bytes gathered and not yet written
    qint64 dataEnd = 0; // end of the source's current run of data

    // Writes out the data held back: all of it, or only what ends on an aligned offset.
    bool drain(TransferContext::State &context, bool all, int *error);
};

Transfer::Transfer(TransferContext &context)
    : m_context(context), m_files(std::make_unique<Files>())
{
}

Transfer::~Transfer()
{
    Files &f = *m_files;
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
                                const Path &temporaryName, int *error)
{
    Files &f = *m_files;
    TransferContext::State &context = *m_context.m_state;
    // Non-blocking, so that a pipe put in the file's place since it was listed cannot hold the
    // job; it has no effect on a plain file.
    f.source = ::openat(int(source.m_handle), sourceName.constData(),
                        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (f.source < 0) {
        *error = errno;
        return Result::SourceOpenFailed;
    }
    struct stat &st = f.opened;
    if (::fstat(f.source, &st) != 0) {
        *error = errno;
        return Result::SourceOpenFailed;
    }
    m_sourceKind = kindOf(st.st_mode);
    if (m_sourceKind != EntryKind::File) {
        *error = m_sourceKind == EntryKind::Folder ? EISDIR : 0;
        return Result::SourceOpenFailed;
    }
    m_size = st.st_size;
    // Fewer blocks than the size needs: there may be holes, which are not written.
    f.sparse = m_size > 0 && qint64(st.st_blocks) * 512 < m_size;
    f.dataEnd = f.sparse ? 0 : m_size;
    f.viaPipe = m_size > PipeThreshold && context.ensurePipe();
    if (m_size > PipeThreshold)
        ::posix_fadvise(f.source, 0, 0, POSIX_FADV_SEQUENTIAL);

    f.targetFolder = int(target.m_handle);
    f.targetDevice = target.id().device;
    f.temporaryName = temporaryName;
    if (!context.refusesUnnamed(f.targetDevice) && (context.emptyPathLink || context.procLink)) {
        // Without a name until it is complete: a crash leaves nothing behind.
        f.temporary = ::openat(f.targetFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (f.temporary >= 0) {
            f.unnamed = true;
            return Result::Ok;
        }
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            context.noUnnamed.push_back(f.targetDevice);
    }
    // The name carries the job's random prefix; whatever already bears it (a stale file, a
    // link, a pipe planted there) is refused rather than followed or waited on.
    f.temporary = ::openat(f.targetFolder, temporaryName.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (f.temporary < 0) {
        *error = errno;
        return Result::TargetOpenFailed;
    }
    f.named = true;
    return Result::Ok;
}

namespace {

bool isUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

} // namespace

Transfer::Result Transfer::step(qint64 maxBytes, qint64 *advanced, int *error)
{
    Files &f = *m_files;
    TransferContext::State &context = *m_context.m_state;
    *advanced = 0;
    if (f.sparse && f.readAt >= f.dataEnd) {
        off_t data = ::lseek(f.source, f.readAt, SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            // Nothing but a hole up to the end, unless the file is shorter than it was.
            struct stat st;
            if (::fstat(f.source, &st) != 0 || st.st_size < m_size)
                return Result::SourceEnded;
            data = m_size;
        } else if (data < 0) {
            f.sparse = false; // the file system cannot tell; copy it all
            f.dataEnd = m_size;
            data = f.readAt;
        }
        data = qMin<qint64>(data, m_size);
        if (data > f.readAt) {
            if (!f.drain(context, true, error))
                return Result::WriteFailed;
            *advanced = data - f.readAt;
            f.readAt = f.writeAt = data;
            return Result::Ok;
        }
        if (f.sparse) {
            const off_t hole = ::lseek(f.source, data, SEEK_HOLE);
            f.dataEnd = hole < 0 ? m_size : qMin<qint64>(hole, m_size);
        }
    }
    const size_t want = size_t(qMin(maxBytes, qMax<qint64>(f.dataEnd - f.readAt, 1)));
    ssize_t got = -1;
    // A file of one step in one call: the kernel moves the bytes without a trip through the
    // job. Any failure is asked again the plain way, which tells reading from writing apart.
    if (f.readAt == 0 && qint64(want) == m_size && f.held == 0 && context.rangeCopy) {
        loff_t in = 0;
        loff_t out = 0;
        do {
            got = ::copy_file_range(f.source, &in, f.temporary, &out, want, 0);
        } while (got < 0 && errno == EINTR);
        if (got > 0) {
            f.readAt = f.writeAt = got;
            *advanced = got;
            return Result::Ok;
        }
        // Refused between these file systems, or not at all: not asked again in this job.
        if (got < 0 && (isUnsupported(errno) || errno == EXDEV || errno == EPERM || errno == EBADF))
            context.rangeCopy = false;
    }
    while (f.viaPipe) {
        loff_t at = f.readAt;
        got = ::splice(f.source, &at, context.pipe[1], nullptr, want,
                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (got >= 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN && f.held > 0) {
            if (!f.drain(context, true, error))
                return Result::WriteFailed;
            continue;
        }
        if (!isUnsupported(errno)) {
            *error = errno;
            return Result::ReadFailed;
        }
        // This source cannot feed a pipe: on through the buffer, for this job.
        if (!f.drain(context, true, error))
            return Result::WriteFailed;
        f.viaPipe = false;
        context.splice = false;
        context.closePipe();
    }
    if (!f.viaPipe) {
        do {
            got = ::pread(f.source, context.gatherBuffer() + f.held, want, f.readAt);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            *error = errno;
            return Result::ReadFailed;
        }
    }
    if (got == 0)
        return Result::SourceEnded;
    f.readAt += got;
    f.held += got;
    *advanced = got;
    if (f.held >= GatherBytes && !f.drain(context, false, error))
        return Result::WriteFailed;
    return Result::Ok;
}

bool Transfer::Files::drain(TransferContext::State &context, bool all, int *error)
{
    qint64 amount = held;
    if (!all)
        amount = (writeAt + held) / WriteAlignment * WriteAlignment - writeAt;
    qint64 written = 0;
    while (written < amount) {
        ssize_t n;
        if (viaPipe) {
            loff_t at = writeAt + written;
            n = ::splice(context.pipe[0], nullptr, temporary, &at, size_t(amount - written),
                         SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        } else {
            n = ::pwrite(temporary, context.gatherBuffer() + written, size_t(amount - written),
                         writeAt + written);
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : EIO;
            return false;
        }
        written += n;
    }
    // Large files go to the device while the rest is still being copied, so that the wait for
    // the device at the job's end is short, and dirty memory does not pile up. Only a start: a
    // failure to write out shows at that wait.
    if (viaPipe && written > 0)
        ::sync_file_range(temporary, writeAt, written, SYNC_FILE_RANGE_WRITE);
    writeAt += written;
    held -= written;
    if (!viaPipe && held > 0)
        std::memmove(context.gatherBuffer(), context.gatherBuffer() + written, size_t(held));
    return true;
}

Transfer::Result Transfer::finish(int *error)
{
    Files &f = *m_files;
    struct stat now;
    if (::fstat(f.source, &now) != 0) {
        *error = errno;
        return Result::ReadFailed;
    }
    const auto same = [](const timespec &a, const timespec &b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    if (now.st_size != f.opened.st_size || !same(now.st_mtim, f.opened.st_mtim) ||
        !same(now.st_ctim, f.opened.st_ctim))
        return Result::SourceChanged;
    if (!f.drain(*m_context.m_state, true, error))
        return Result::WriteFailed;
    // A hole at the end is not written: the size makes it.
    if (f.sparse && ::ftruncate(f.temporary, m_size) != 0) {
        *error = errno;
        return Result::WriteFailed;
    }
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
    return Result::Ok;
}

Transfer::Placed Transfer::place(const Path &name, bool replace, int *error)
{
    Files &f = *m_files;
    TransferContext::State &context = *m_context.m_state;
    const char *target = name.constData();
    if (f.unnamed) {
        // A replace goes through the temporary name: a link cannot take a name that is taken.
        const char *linkName = replace ? f.temporaryName.constData() : target;
        int linked = -1;
        if (context.emptyPathLink) {
            linked = ::linkat(f.temporary, "", f.targetFolder, linkName, AT_EMPTY_PATH);
            // Linking a descriptor directly needs a privilege most users lack.
            if (linked != 0 && (errno == ENOENT || errno == EPERM))
                context.emptyPathLink = false;
        }
        if (linked != 0 && !context.emptyPathLink && context.procLink) {
            char proc[64];
            std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", f.temporary);
            linked = ::linkat(AT_FDCWD, proc, f.targetFolder, linkName, AT_SYMLINK_FOLLOW);
        }
        if (linked != 0) {
            *error = errno;
            return errno == EEXIST && !replace ? Placed::NameTaken : Placed::Failed;
        }
        const int fd = f.temporary;
        f.temporary = -1;
        f.unnamed = false;
        if (!closeDescriptor(fd, error)) {
            ::unlinkat(f.targetFolder, linkName, 0);
            return Placed::WriteFailed;
        }
        if (!replace)
            return Placed::Done;
        f.named = true;
    }
    const char *from = f.temporaryName.constData();
    if (replace) {
        if (::renameat(f.targetFolder, from, f.targetFolder, target) != 0) {
            *error = errno;
            return Placed::Failed;
        }
        f.named = false;
        return Placed::Done;
    }
    if (context.noReplaceRename) {
        if (::renameat2(f.targetFolder, from, f.targetFolder, target, RENAME_NOREPLACE) == 0) {
            f.named = false;
            return Placed::Done;
        }
        if (errno == EEXIST)
            return Placed::NameTaken;
        if (!isUnsupported(errno)) {
            *error = errno;
            return Placed::Failed;
        }
        context.noReplaceRename = false;
    }
    if (context.hardLinks) {
        // A second name, then the temporary one dropped: never replaces anything.
        if (::linkat(f.targetFolder, from, f.targetFolder, target, 0) == 0) {
            ::unlinkat(f.targetFolder, from, 0);
            f.named = false;
            return Placed::Done;
        }
        if (errno == EEXIST)
            return Placed::NameTaken;
        if (!isUnsupported(errno) && errno != EPERM && errno != EMLINK) {
            *error = errno;
            return Placed::Failed;
        }
        context.hardLinks = false;
    }
    // A file system with neither: look, then rename; only a file made in between is at risk.
    struct stat st;
    if (::fstatat(f.targetFolder, target, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return Placed::NameTaken;
    if (::renameat(f.targetFolder, from, f.targetFolder, target) != 0) {
        *error = errno;
        return Placed::Failed;
    }
    f.named = false;
    return Placed::Done;
}

} // namespace NativeFs
