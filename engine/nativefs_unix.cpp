#include "engine/nativefs.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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
// A large file's copy and source leave the system's cache this far behind the copy, in pieces
// of at least ReleaseStep: far enough that the device has had time to take the data, near
// enough that a copy of many gigabytes holds little memory.
constexpr qint64 ReleaseLag = 8 * 1024 * 1024;
constexpr qint64 ReleaseStep = 1024 * 1024;
// Small files go through the buffer: their one write is aligned anyway.
constexpr qint64 PipeThreshold = GatherBytes;

// A file system whose files live in memory: letting their pages go frees nothing, and only
// costs the calls.
bool heldInMemory(int fd)
{
    struct statfs fs;
    return ::fstatfs(fd, &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
}

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

constexpr qint64 NsPerSecond = 1000000000;

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * NsPerSecond + time.tv_nsec;
}

timespec timeOf(qint64 ns)
{
    qint64 seconds = ns / NsPerSecond;
    qint64 rest = ns % NsPerSecond;
    if (rest < 0) {
        --seconds;
        rest += NsPerSecond;
    }
    return {time_t(seconds), long(rest)};
}

// An odd second, and nanoseconds that no coarser step divides: what a file system keeps of it
// tells its step, whether it cuts a time down or rounds it.
constexpr qint64 TimeProbe = 1000000001 * NsPerSecond + 987654321;

qint64 resolutionShown(qint64 kept)
{
    // From the coarsest: FAT's two seconds, whole seconds, exFAT's 10 ms, and the finer ones.
    static constexpr qint64 Steps[] = {
        2 * NsPerSecond, NsPerSecond, 10000000, 1000000, 1000, 100, 1};
    for (const qint64 step : Steps) {
        if (kept % step == 0 && std::abs(kept - TimeProbe) < step)
            return step;
    }
    return 0; // the time set did not stay: nothing can be learnt
}

// Access times are never carried: the file's own is set again with the new modification time,
// since some file systems (FAT through FUSE) ignore a modification time set alone.
bool setModifiedTime(int fd, const timespec &modified, SystemError *error)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || ::futimens(fd, std::array{st.st_atim, modified}.data()) != 0) {
        *error = SystemError::posix(errno);
        return false;
    }
    return true;
}

bool setModifiedTimeAt(int folder, const Path &name, const timespec &modified, SystemError *error)
{
    struct stat st;
    if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::utimensat(folder, name.constData(), std::array{st.st_atim, modified}.data(),
                    AT_SYMLINK_NOFOLLOW) != 0) {
        *error = SystemError::posix(errno);
        return false;
    }
    return true;
}

Status statusOf(const struct stat &st)
{
    Status status;
    status.kind = kindOf(st.st_mode);
    status.exists = true;
    status.replaceable = status.isFile();
    status.size = st.st_size;
    status.modifiedNs = nanoseconds(st.st_mtim);
    return status;
}

// The descriptor is gone after close() whatever it returns; EINTR does not mean data was lost.
bool closeDescriptor(int fd, SystemError *error)
{
    if (::close(fd) == 0 || errno == EINTR)
        return true;
    *error = SystemError::posix(errno);
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

QString errorText(const SystemError &error)
{
    return qt_error_string(error.code);
}

void prepareProcess()
{
    static std::once_flag once;
    std::call_once(once, [] { ::signal(SIGXFSZ, SIG_IGN); });
}

std::optional<WriteBacklog> writeBacklog()
{
    QFile file(QStringLiteral("/proc/vmstat"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Counted in pages: dirty, under write-out now, and written out since boot.
    quint64 dirty = 0, writeback = 0, written = 0;
    int found = 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const QByteArray &name = fields.first();
        quint64 *counter = name == "nr_dirty"       ? &dirty
                           : name == "nr_writeback" ? &writeback
                           : name == "nr_written"   ? &written
                                                    : nullptr;
        bool ok = false;
        if (counter && fields.size() == 2)
            *counter = fields.last().toULongLong(&ok);
        found += ok ? 1 : 0;
    }
    if (found != 3)
        return std::nullopt;
    const quint64 page = quint64(::sysconf(_SC_PAGESIZE));
    return WriteBacklog{(dirty + writeback) * page, written * page};
}

// --- Folder ---------------------------------------------------------------------------------

struct Folder::Native
{
    explicit Native(int descriptor) : fd(descriptor) {}
    ~Native() { ::close(fd); }
    Native(const Native &) = delete;
    Native &operator=(const Native &) = delete;
    // The folder's descriptor, or -1 for a closed folder, whose every call then fails.
    static int of(const Folder &folder) { return folder.m_native ? folder.m_native->fd : -1; }
    // Takes over an opened descriptor; a closed folder when fd is not one.
    static Folder adopt(int fd, SystemError *error);
    const int fd;
};

Folder::Folder() = default;
Folder::~Folder() = default;
Folder::Folder(Folder &&other) noexcept = default;
Folder &Folder::operator=(Folder &&other) noexcept = default;

Folder Folder::open(const Path &path, SystemError *error)
{
    return Native::adopt(::open(path.constData(), FolderFlags), error);
}

Folder Folder::openChild(const Path &name, Links links, SystemError *error) const
{
    const bool follow = links == Links::Follow;
    const int fd =
        ::openat(Native::of(*this), name.constData(), FolderFlags | (follow ? 0 : O_NOFOLLOW));
    // A refused link reads "Too many levels of symbolic links"; what stands there is simply
    // not a folder to enter.
    if (fd < 0 && errno == ELOOP && !follow)
        errno = ENOTDIR;
    return Native::adopt(fd, error);
}

Folder Folder::openParent(SystemError *error) const
{
    return openChild("..", Links::Follow, error);
}

// A folder's descriptor keeps its identity: device and inode as the kernel reports them.
Folder Folder::Native::adopt(int fd, SystemError *error)
{
    Folder folder;
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        *error = SystemError::posix(errno);
        if (fd >= 0)
            ::close(fd);
        return folder;
    }
    folder.m_native = std::make_unique<Native>(fd);
    folder.m_id = FolderId{quint64(st.st_dev), quint64(st.st_ino)};
    return folder;
}

void Folder::close()
{
    m_native.reset();
}

Status Folder::status(const Path &name, Links links) const
{
    const int fd = Native::of(*this);
    struct stat st;
    const bool follow = links == Links::Follow;
    if (::fstatat(fd, name.constData(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    if (follow || !S_ISLNK(st.st_mode))
        return statusOf(st);
    // A link may be replaced whatever it points to; its target's times and size still decide.
    Status status;
    if (::fstatat(fd, name.constData(), &st, 0) == 0)
        status = statusOf(st);
    status.exists = true;
    status.replaceable = true;
    status.isLink = true;
    return status;
}

qint64 Folder::modifiedNs() const
{
    struct stat st;
    return ::fstat(Native::of(*this), &st) == 0 ? nanoseconds(st.st_mtim) : 0;
}

bool Folder::setModified(qint64 ns, SystemError *error) const
{
    return setModifiedTime(Native::of(*this), timeOf(ns), error);
}

Permissions Folder::permissionsForCopy() const
{
    struct stat st;
    if (::fstat(Native::of(*this), &st) != 0)
        return {};
    return {quint32(st.st_mode & 0777) | S_IWUSR | S_IXUSR};
}

bool Folder::makeFolder(const Path &name, Permissions permissions, SystemError *error) const
{
    if (::mkdirat(Native::of(*this), name.constData(), mode_t(permissions.bits)) == 0)
        return true;
    *error = SystemError::posix(errno);
    return false;
}

bool Folder::removeFile(const Path &name, SystemError *error) const
{
    if (::unlinkat(Native::of(*this), name.constData(), 0) == 0)
        return true;
    *error = SystemError::posix(errno);
    return false;
}

qint64 Folder::timeResolutionNs(const Path &probeName) const
{
    const int folder = Native::of(*this);
    const int fd =
        ::openat(folder, probeName.constData(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    SystemError error;
    struct stat st;
    const bool kept = setModifiedTime(fd, timeOf(TimeProbe), &error) && ::fstat(fd, &st) == 0;
    ::close(fd);
    ::unlinkat(folder, probeName.constData(), 0);
    return kept ? resolutionShown(nanoseconds(st.st_mtim)) : 0;
}

bool Folder::syncFileSystem(SystemError *error) const
{
    if (::syncfs(Native::of(*this)) == 0)
        return true;
    *error = SystemError::posix(errno);
    return false;
}

Folder Folder::duplicate() const
{
    SystemError error;
    return Native::adopt(::fcntl(Native::of(*this), F_DUPFD_CLOEXEC, 0), &error);
}

// --- FolderReader -----------------------------------------------------------------------------

struct FolderReader::State
{
    int fd;
    HiddenEntries hidden;
    SystemError error; // from rewinding
    alignas(8) std::array<char, 32768> buffer;

    // What bears the name, asking the system where the listing does not say; false when it is
    // gone already.
    bool classify(const char *name, unsigned char type, Listing &batch) const;
};

FolderReader::FolderReader(const Folder &folder, HiddenEntries hidden)
    : m_state(std::make_unique<State>())
{
    m_state->fd = Folder::Native::of(folder);
    m_state->hidden = hidden;
    // The folder's own descriptor is read directly, rewound, so no second one is needed.
    if (::lseek(m_state->fd, 0, SEEK_SET) != 0)
        m_state->error = SystemError::posix(errno);
}

FolderReader::~FolderReader() = default;

bool FolderReader::next(Listing &batch, SystemError *error)
{
    State &state = *m_state;
    batch.clear();
    if (state.error.isSet()) {
        *error = state.error;
        return false;
    }
    ssize_t got;
    do {
        got = ::getdents64(state.fd, state.buffer.data(), state.buffer.size());
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        if (got < 0)
            *error = SystemError::posix(errno);
        return false;
    }
    for (ssize_t at = 0; at < got;) {
        const auto *entry = reinterpret_cast<const dirent64 *>(state.buffer.data() + at);
        at += entry->d_reclen;
        const char *name = entry->d_name;
        const bool dots = name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
        if (!dots && (name[0] != '.' || state.hidden == HiddenEntries::Include))
            state.classify(name, entry->d_type, batch);
    }
    return true;
}

bool FolderReader::State::classify(const char *name, unsigned char type, Listing &batch) const
{
    EntryKind kind = kindOfEntry(type);
    bool mayBeLink = type == DT_LNK;
    SystemError reason;
    struct stat st;
    // An entry the system will not describe is listed with its reason, never dropped; only
    // one gone since the listing is.
    if (kind == EntryKind::Unknown && !mayBeLink) {
        // The file system does not say: ask, without following a link.
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                return false;
            reason = SystemError::posix(errno);
        } else {
            mayBeLink = S_ISLNK(st.st_mode);
            kind = kindOf(st.st_mode);
        }
    }
    if (mayBeLink) {
        if (::fstatat(fd, name, &st, 0) == 0) {
            kind = kindOf(st.st_mode);
        } else if (leadsNowhere(errno)) {
            // Gone, or a link to nothing: only the link itself tells them apart.
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
                return false;
            kind = EntryKind::BrokenLink;
        } else {
            reason = SystemError::posix(errno);
        }
    }
    batch.add(kind, name, qsizetype(std::strlen(name)), mayBeLink, reason);
    return true;
}

bool makePath(const Path &path, Permissions permissions, bool *made, SystemError *error)
{
    *made = false;
    if (::mkdir(path.constData(), mode_t(permissions.bits)) == 0) {
        *made = true;
        return true;
    }
    const int refused = errno;
    if (refused == ENOENT) {
        const qsizetype at = path.lastIndexOf('/');
        bool parentMade = false;
        // The folders above are no copies of anything: the system's defaults.
        if (at <= 0 || !makePath(path.left(at), Permissions(), &parentMade, error))
            return false;
        if (::mkdir(path.constData(), mode_t(permissions.bits)) == 0) {
            *made = true;
            return true;
        }
        if (errno != EEXIST) {
            *error = SystemError::posix(errno);
            return false;
        }
    } else if (refused != EEXIST) {
        *error = SystemError::posix(refused);
        return false;
    }
    struct stat st;
    if (::stat(path.constData(), &st) != 0) {
        *error = SystemError::posix(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = SystemError::posix(ENOTDIR);
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
    bool keepDates = false;
    std::vector<quint64> noUnnamed; // devices whose file system cannot make unnamed files
    // Of the file in hand, with digests on: small files are hashed as they are read, large ones
    // by a thread of their own behind the copy.
    std::unique_ptr<Digester> digester;
    std::unique_ptr<FollowingDigest> follower;
};

TransferContext::TransferContext(Digests digests, Dates dates) : m_state(std::make_unique<State>())
{
    m_state->keepDates = dates == Dates::Keep;
    if (digests == Digests::On) {
        m_state->digester = std::make_unique<Digester>();
        m_state->follower = std::make_unique<FollowingDigest>();
    }
}

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
    qint64 readAt = 0;           // next source byte to read
    qint64 writeAt = 0;          // where the data held back begins in the copy
    qint64 held = 0;             // bytes gathered and not yet written
    bool releaseCopy = false;    // large, and on a file system that writes to a device
    bool releaseSource = false;  // large, and on a file system that reads from one
    qint64 releasedTo = 0;       // the copy is on the device and out of the cache up to here
    qint64 sourceReleasedTo = 0; // the source is out of the cache up to here
    qint64 dataEnd = 0;          // end of the source's current run of data
    // The digest is taken behind the copy, on the digest's own thread; and what it came to.
    bool following = false;
    Digest digest;

    // Writes out the data held back: all of it, or only what ends on an aligned offset.
    enum class Drain
    {
        // Only what ends on an aligned offset; the rest waits for more.
        Aligned,
        All
    };
    bool drain(TransferContext::State &context, Drain how, SystemError *error);
    bool releaseBehind(TransferContext::State &context, SystemError *error);
    Transfer::Result passHole(TransferContext::State &context, qint64 size, qint64 *advanced,
                              SystemError *error);
    bool copyInOne(TransferContext::State &context, size_t want, qint64 *advanced);
    void beginDigest(TransferContext::State &context, qint64 size);
    bool hashSource(TransferContext::State &context, qint64 length);
    Transfer::Result readIntoPipe(TransferContext::State &context, size_t want, ssize_t *got,
                                  SystemError *error);
    Transfer::Result sourceUnchanged(SystemError *error) const;
    enum class Naming
    {
        // The copy takes the temporary name, on its way to replace the destination.
        Temporary,
        Final
    };
    Transfer::Placed giveName(TransferContext::State &context, Naming naming, const char *name,
                              SystemError *error);
    Transfer::Placed renameKeeping(TransferContext::State &context, const char *name,
                                   SystemError *error);
    Transfer::Placed placeAs(TransferContext::State &context, const Path &name, Existing existing,
                             SystemError *error);
    // With dates kept: the time a named copy bore under its temporary name.
    timespec dated = {};
};

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
        ::posix_fadvise(f.source, 0, 0, POSIX_FADV_SEQUENTIAL);

    f.targetFolder = Folder::Native::of(target);
    f.releaseSource = f.viaPipe && !heldInMemory(f.source);
    f.releaseCopy = f.viaPipe && !heldInMemory(f.targetFolder);
    f.targetDevice = target.id().device;
    f.temporaryName = temporaryName;
    // The source's permission bits from the first moment: a private file's copy is never
    // readable by others, not even while it is written.
    const mode_t mode = st.st_mode & 0777;
    if (!context.refusesUnnamed(f.targetDevice) && (context.emptyPathLink || context.procLink)) {
        // Without a name until it is complete: a crash leaves nothing behind.
        f.temporary = ::openat(f.targetFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
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
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (f.temporary < 0) {
        *error = SystemError::posix(errno);
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

Transfer::Result Transfer::step(qint64 maxBytes, qint64 *advanced, SystemError *error)
{
    Files &f = *m_files;
    TransferContext::State &context = *m_context.m_state;
    *advanced = 0;
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
        do {
            got = ::pread(f.source, into, want, f.readAt);
        } while (got < 0 && errno == EINTR);
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
    loff_t in = 0;
    loff_t out = 0;
    ssize_t got;
    do {
        got = ::copy_file_range(source, &in, temporary, &out, want, 0);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        readAt = writeAt = got;
        *advanced = got;
        // The kernel's copy shows the job no byte: the digest reads them from the cache.
        if (context.digester && !following && !hashSource(context, got))
            readAt = writeAt = *advanced = 0;
        return *advanced > 0;
    }
    // Refused between these file systems, or not at all: not asked again in this job.
    if (got < 0 && (isUnsupported(errno) || errno == EXDEV || errno == EPERM || errno == EBADF))
        context.rangeCopy = false;
    return false;
}

void Transfer::Files::beginDigest(TransferContext::State &context, qint64 size)
{
    if (!context.digester)
        return;
    context.digester->reset();
    following = size > PipeThreshold;
    if (following)
        context.follower->begin([fd = source](qint64 at, char *into, qint64 length) {
            ssize_t got;
            do {
                got = ::pread(fd, into, size_t(length), at);
            } while (got < 0 && errno == EINTR);
            return qint64(got);
        });
}

// The file's first bytes, as the kernel just copied them.
bool Transfer::Files::hashSource(TransferContext::State &context, qint64 length)
{
    char *buffer = context.gatherBuffer();
    for (qint64 done = 0; done < length;) {
        const ssize_t got = ::pread(source, buffer, size_t(qMin(length - done, GatherBytes)), done);
        if (got <= 0)
            return false;
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
        loff_t at = readAt;
        *got = ::splice(source, &at, context.pipe[1], nullptr, want,
                        SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
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
            *error = SystemError::posix(n < 0 ? errno : EIO);
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
    if (releaseCopy && ::sync_file_range(temporary, releasedTo, to - releasedTo,
                                         SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                             SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
        if (!isUnsupported(errno) && errno != ESPIPE) {
            *error = SystemError::posix(errno);
            return false;
        }
        releaseCopy = false;
    }
    if (releaseCopy)
        ::posix_fadvise(temporary, releasedTo, to - releasedTo, POSIX_FADV_DONTNEED);
    releasedTo = to;
    if (!releaseSource)
        return true;
    const qint64 sourceTo = following ? qMin(to, context.follower->hashedTo()) : to;
    if (sourceTo > sourceReleasedTo) {
        ::posix_fadvise(source, sourceReleasedTo, sourceTo - sourceReleasedTo, POSIX_FADV_DONTNEED);
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

Transfer::Placed Transfer::place(const Path &name, Existing existing, SystemError *error)
{
    Files &f = *m_files;
    TransferContext::State &context = *m_context.m_state;
    const bool createdNamed = !f.unnamed;
    const Placed placed = f.placeAs(context, name, existing, error);
    // Some file systems (FAT through FUSE) date a file again when it is renamed; the date the
    // copy had under its temporary name is given back. Only what the system refuses is lost.
    struct stat st;
    if (placed == Placed::Done && createdNamed && context.keepDates &&
        ::fstatat(f.targetFolder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        nanoseconds(st.st_mtim) != nanoseconds(f.dated)) {
        SystemError ignored;
        setModifiedTimeAt(f.targetFolder, name, f.opened.st_mtim, &ignored);
    }
    return placed;
}

Transfer::Placed Transfer::Files::placeAs(TransferContext::State &context, const Path &name,
                                          Existing existing, SystemError *error)
{
    const bool replace = existing == Existing::Replace;
    if (unnamed) {
        // A replace goes through the temporary name: a link cannot take a name that is taken.
        const Placed given =
            replace ? giveName(context, Naming::Temporary, temporaryName.constData(), error)
                    : giveName(context, Naming::Final, name.constData(), error);
        if (given != Placed::Done || !replace)
            return given == Placed::NameTaken && replace ? Placed::Failed : given;
    }
    if (!replace)
        return renameKeeping(context, name.constData(), error);
    if (::renameat(targetFolder, temporaryName.constData(), targetFolder, name.constData()) != 0) {
        *error = SystemError::posix(errno);
        return Placed::Failed;
    }
    named = false;
    return Placed::Done;
}

// Links the unnamed copy in under name, then closes it: a full disk may only show then.
Transfer::Placed Transfer::Files::giveName(TransferContext::State &context, Naming naming,
                                           const char *name, SystemError *error)
{
    int linked = -1;
    if (context.emptyPathLink) {
        linked = ::linkat(temporary, "", targetFolder, name, AT_EMPTY_PATH);
        // Linking a descriptor directly needs a privilege most users lack.
        if (linked != 0 && (errno == ENOENT || errno == EPERM))
            context.emptyPathLink = false;
    }
    if (linked != 0 && !context.emptyPathLink && context.procLink) {
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", temporary);
        linked = ::linkat(AT_FDCWD, proc, targetFolder, name, AT_SYMLINK_FOLLOW);
    }
    if (linked != 0) {
        *error = SystemError::posix(errno);
        return errno == EEXIST ? Placed::NameTaken : Placed::Failed;
    }
    const int fd = temporary;
    temporary = -1;
    unnamed = false;
    named = naming == Naming::Temporary;
    if (!closeDescriptor(fd, error)) {
        ::unlinkat(targetFolder, name, 0);
        named = false;
        return Placed::WriteFailed;
    }
    return Placed::Done;
}

// From the temporary name to name, never replacing what bears it, by the best means the file
// system offers.
Transfer::Placed Transfer::Files::renameKeeping(TransferContext::State &context, const char *name,
                                                SystemError *error)
{
    const char *from = temporaryName.constData();
    if (context.noReplaceRename) {
        if (::renameat2(targetFolder, from, targetFolder, name, RENAME_NOREPLACE) == 0) {
            named = false;
            return Placed::Done;
        }
        if (errno == EEXIST)
            return Placed::NameTaken;
        if (!isUnsupported(errno)) {
            *error = SystemError::posix(errno);
            return Placed::Failed;
        }
        context.noReplaceRename = false;
    }
    if (context.hardLinks) {
        // A second name, then the temporary one dropped: never replaces anything.
        if (::linkat(targetFolder, from, targetFolder, name, 0) == 0) {
            // Should the temporary name stay, the destructor tries once more to drop it.
            named = ::unlinkat(targetFolder, from, 0) != 0;
            return Placed::Done;
        }
        if (errno == EEXIST)
            return Placed::NameTaken;
        if (!isUnsupported(errno) && errno != EPERM && errno != EMLINK) {
            *error = SystemError::posix(errno);
            return Placed::Failed;
        }
        context.hardLinks = false;
    }
    // A file system with neither: look, then rename; only a file made in between is at risk.
    struct stat st;
    if (::fstatat(targetFolder, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return Placed::NameTaken;
    if (::renameat(targetFolder, from, targetFolder, name) != 0) {
        *error = SystemError::posix(errno);
        return Placed::Failed;
    }
    named = false;
    return Placed::Done;
}

Digest Transfer::digest() const
{
    return m_files->digest;
}

// --- ReadBack ---------------------------------------------------------------------------------

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
    ::posix_fadvise(f.fd, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(f.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
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
    ssize_t got;
    do {
        got = ::pread(f.fd, buffer, size_t(qMin<qint64>(maxBytes, GatherBytes)), f.at);
    } while (got < 0 && errno == EINTR);
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
        ::posix_fadvise(f.fd, f.releasedTo, f.at - f.releasedTo, POSIX_FADV_DONTNEED);
        f.releasedTo = f.at;
    }
    return Result::Ok;
}

Digest ReadBack::digest() const
{
    return m_context.m_state->digester->result();
}

} // namespace NativeFs
