// The platform layer on POSIX systems: folders and their listing, opening, names and errors.
// One file's transfer is in nativefs_posix_transfer.cpp, putting it in place in
// nativefs_posix_place.cpp, reading it back in nativefs_posix_readback.cpp; Linux's own calls,
// where the system has them, come through nativefs_linux.h.

#include "engine/nativefs_posix_p.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <dirent.h>
#include <sys/statvfs.h>

namespace NativeFs {

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The kind the listing reports without a call of its own, read as a mode would be; Unknown where
// it does not say.
EntryKind kindOfEntry(unsigned char type)
{
    return kindOf(DTTOIF(type));
}

// A link that leads nowhere, or round in a circle, as against one that may not be followed.
bool leadsNowhere(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
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

} // namespace

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

// The descriptor is gone after close() whatever it returns; EINTR does not mean data was lost.
bool closeDescriptor(int fd, SystemError *error)
{
    if (::close(fd) == 0 || errno == EINTR)
        return true;
    *error = SystemError::posix(errno);
    return false;
}

bool isUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

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

// --- Folder ---------------------------------------------------------------------------------

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

bool Folder::isRemote() const
{
    return Linux::isRemote(Native::of(*this));
}

qint64 Folder::largestFile() const
{
    return Linux::isFat(Native::of(*this)) ? (qint64(1) << 32) - 1 : -1;
}

std::optional<quint64> Folder::freeBytes() const
{
    struct statvfs fs;
    // A file system of no size says nothing (FAT through FUSE reports none).
    if (::fstatvfs(Native::of(*this), &fs) != 0 || fs.f_blocks == 0)
        return std::nullopt;
    return quint64(fs.f_bavail) * quint64(fs.f_frsize);
}

bool Folder::sharesBlocks(const Path &probeName) const
{
    const int folder = Native::of(*this);
    if (Linux::sharesBlocksByKind(folder))
        return true;
    // One block written, cloned into a second file: the file system says what it can.
    const Path second = probeName + "-clone";
    const int from = ::openat(folder, probeName.constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int to = ::openat(folder, second.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const char block[4096] = {};
    const bool shares = from >= 0 && to >= 0 &&
                        ::pwrite(from, block, sizeof block, 0) == ssize_t(sizeof block) &&
                        Linux::cloneRange(from, to, 0, sizeof block) == 0;
    for (const auto &[fd, name] : {std::pair{from, probeName}, {to, second}}) {
        if (fd >= 0) {
            ::close(fd);
            ::unlinkat(folder, name.constData(), 0);
        }
    }
    return shares;
}

bool Folder::syncFileSystem(SystemError *error) const
{
    return Linux::syncFileSystem(Native::of(*this), error);
}

Folder Folder::duplicate() const
{
    SystemError error;
    return Native::adopt(::fcntl(Native::of(*this), F_DUPFD_CLOEXEC, 0), &error);
}

// --- FolderReader -----------------------------------------------------------------------------

struct FolderReader::State
{
    ~State()
    {
        if (dir)
            ::closedir(dir);
    }
    // The next batch through readdir, where the system has no batches of its own.
    bool readDirectory(Listing &batch, SystemError *error);
    // An entry of the listing, unless it is "." or "..", or hidden and left out.
    void offer(const char *name, unsigned char type, Listing &batch) const;

    int fd;
    HiddenEntries hidden;
    SystemError rewound; // why the folder could not be read from its start
    DIR *dir = nullptr;
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
        m_state->rewound = SystemError::posix(errno);
}

FolderReader::~FolderReader() = default;

bool FolderReader::next(Listing &batch, SystemError *error)
{
    State &state = *m_state;
    batch.clear();
    if (state.rewound.isSet()) {
        *error = state.rewound;
        return false;
    }
    const auto take = [&state, &batch](const char *name, unsigned char type) {
        state.offer(name, type, batch);
    };
    if (!state.dir) {
        SystemError failed;
        if (Linux::readEntries(state.fd, state.buffer.data(), state.buffer.size(), take, &failed))
            return true;
        if (!failed.is(ENOSYS)) {
            *error = failed;
            return false;
        }
        // A second descriptor on the same open folder, at the same place: readdir's own.
        state.dir = ::fdopendir(::fcntl(state.fd, F_DUPFD_CLOEXEC, 0));
        if (!state.dir) {
            *error = SystemError::posix(errno);
            return false;
        }
    }
    return state.readDirectory(batch, error);
}

bool FolderReader::State::readDirectory(Listing &batch, SystemError *error)
{
    constexpr int BatchEntries = 1024;
    for (int count = 0; count < BatchEntries; ++count) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                *error = SystemError::posix(errno);
            return count > 0 && errno == 0;
        }
        offer(entry->d_name, entry->d_type, batch);
    }
    return true;
}

void FolderReader::State::offer(const char *name, unsigned char type, Listing &batch) const
{
    const bool dots = name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]));
    if (!dots && (name[0] != '.' || hidden == HiddenEntries::Include))
        classify(name, type, batch);
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

} // namespace NativeFs
