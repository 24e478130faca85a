#include "engine/nativefs_linux.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace NativeFs {

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

namespace Linux {

bool heldInMemory(int fd)
{
    struct statfs fs;
    return ::fstatfs(fd, &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
}

namespace {

// FUSE says only that a mount is FUSE's; its kind in the mount table says which ("fuse.sshfs").
QByteArray mountKind(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return {};
    const QByteArray device =
        QByteArray::number(major(st.st_dev)) + ':' + QByteArray::number(minor(st.st_dev));
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    // "id parent major:minor root mountpoint options ... - fstype source ..."
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() > 2 && fields.at(2) == device && dash > 0 && dash + 1 < fields.size())
            return fields.at(dash + 1);
    }
    return {};
}

bool fuseOverNetwork(int fd)
{
    static const QList<QByteArray> network = {"fuse.sshfs",      "fuse.rclone",    "fuse.s3fs",
                                              "fuse.gcsfuse",    "fuse.curlftpfs", "fuse.smbnetfs",
                                              "fuse.gvfsd-fuse", "fuse.glusterfs", "fuse.ceph-fuse",
                                              "fuse.davfs",      "fuse.juicefs",   "fuse.blobfuse"};
    return network.contains(mountKind(fd));
}

} // namespace

bool isFat(int fd)
{
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return false;
    if (fs.f_type == MSDOS_SUPER_MAGIC)
        return true;
    return fs.f_type == FUSE_SUPER_MAGIC && mountKind(fd) == "fuse.fusefat";
}

bool sharesBlocksByKind(int fd)
{
    struct statfs fs;
    return ::fstatfs(fd, &fs) == 0 && fs.f_type == BTRFS_SUPER_MAGIC;
}

bool isRemote(int fd)
{
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return false;
    switch (quint32(fs.f_type)) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case V9FS_MAGIC:
    case CEPH_SUPER_MAGIC:
    case AFS_SUPER_MAGIC:
    case CODA_SUPER_MAGIC:
        return true;
    case FUSE_SUPER_MAGIC:
        return fuseOverNetwork(fd);
    default:
        return false;
    }
}

bool syncFileSystem(int fd, SystemError *error)
{
    if (::syncfs(fd) == 0)
        return true;
    *error = SystemError::posix(errno);
    return false;
}

bool readEntries(int fd, char *buffer, size_t size,
                 const std::function<void(const char *name, unsigned char type)> &each,
                 SystemError *error)
{
    ssize_t got;
    do {
        got = ::getdents64(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        if (got < 0)
            *error = SystemError::posix(errno);
        return false;
    }
    for (ssize_t at = 0; at < got;) {
        const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
        at += entry->d_reclen;
        each(entry->d_name, entry->d_type);
    }
    return true;
}

int openUnnamed(int folder, mode_t mode)
{
    return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

int linkUnnamed(int fd, int folder, const char *name, LinkWays *ways)
{
    int linked = -1;
    if (ways->emptyPath) {
        linked = ::linkat(fd, "", folder, name, AT_EMPTY_PATH);
        // Linking a descriptor directly needs a privilege most users lack.
        if (linked != 0 && (errno == ENOENT || errno == EPERM))
            ways->emptyPath = false;
    }
    if (linked != 0 && !ways->emptyPath && ways->procFd) {
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        linked = ::linkat(AT_FDCWD, proc, folder, name, AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0)
            ways->procFd = false;
    }
    return linked;
}

bool openPipe(int pipe[2], int bytes)
{
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    // A pipe smaller than the gathered amount would fill before it is written out.
    if (::fcntl(pipe[1], F_SETPIPE_SZ, bytes) >= bytes)
        return true;
    ::close(pipe[0]);
    ::close(pipe[1]);
    return false;
}

ssize_t spliceIn(int source, qint64 *at, int pipeIn, size_t length)
{
    loff_t offset = *at;
    const ssize_t got =
        ::splice(source, &offset, pipeIn, nullptr, length, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    *at = offset;
    return got;
}

ssize_t spliceOut(int pipeOut, int target, qint64 at, size_t length)
{
    loff_t offset = at;
    return ::splice(pipeOut, nullptr, target, &offset, length, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
}

ssize_t copyRange(int source, int target, qint64 at, size_t length)
{
    loff_t in = at;
    loff_t out = at;
    ssize_t got;
    do {
        got = ::copy_file_range(source, &in, target, &out, length, 0);
    } while (got < 0 && errno == EINTR);
    return got;
}

int cloneRange(int source, int target, qint64 at, qint64 length)
{
    file_clone_range range{source, quint64(at), quint64(length), quint64(at)};
    int cloned;
    do {
        cloned = ::ioctl(target, FICLONERANGE, &range);
    } while (cloned < 0 && errno == EINTR);
    return cloned;
}

void startWriteOut(int fd, qint64 at, qint64 length)
{
    ::sync_file_range(fd, at, length, SYNC_FILE_RANGE_WRITE);
}

int waitWrittenOut(int fd, qint64 at, qint64 length)
{
    return ::sync_file_range(fd, at, length,
                             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                 SYNC_FILE_RANGE_WAIT_AFTER);
}

void dropCache(int fd, qint64 at, qint64 length)
{
    ::posix_fadvise(fd, at, length, POSIX_FADV_DONTNEED);
}

void readSequentially(int fd)
{
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

int renameNoReplace(int folder, const char *from, const char *to)
{
    return ::renameat2(folder, from, folder, to, RENAME_NOREPLACE);
}

} // namespace Linux

} // namespace NativeFs
