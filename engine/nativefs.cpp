#include "engine/nativefs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <qt_windows.h>
#endif

namespace NativeFs {

namespace {

#ifdef Q_OS_UNIX
constexpr char Separator = '/';
constexpr qsizetype MaxNameLength = NAME_MAX; // bytes
#else
constexpr QChar Separator = u'/';
constexpr qsizetype MaxNameLength = 255; // UTF-16 code units
#endif

// Cuts a name to at most limit units without splitting a character.
qsizetype characterBoundary(const Path &name, qsizetype limit)
{
    if (limit >= name.size())
        return name.size();
    qsizetype cut = qMax<qsizetype>(limit, 0);
#ifdef Q_OS_UNIX
    // UTF-8 continuation bytes are 10xxxxxx; a character starts at any other byte.
    while (cut > 0 && (static_cast<unsigned char>(name.at(cut)) & 0xC0) == 0x80)
        --cut;
#else
    if (cut > 0 && name.at(cut - 1).isHighSurrogate())
        --cut;
#endif
    return cut;
}

} // namespace

Path toNative(const QString &path)
{
#ifdef Q_OS_UNIX
    return QFile::encodeName(path);
#else
    return QDir::fromNativeSeparators(path);
#endif
}

QString fromNative(const Path &path)
{
#ifdef Q_OS_UNIX
    return QFile::decodeName(path);
#else
    return path;
#endif
}

Path join(const Path &folder, const Path &name)
{
    Path result;
    result.reserve(folder.size() + 1 + name.size());
    result.append(folder);
    if (!folder.endsWith(Separator))
        result.append(Separator);
    result.append(name);
    return result;
}

void split(const Path &path, Path *folder, Path *name)
{
    const qsizetype at = path.lastIndexOf(Separator);
    if (at < 0) {
        *folder = toNative(QStringLiteral("."));
        *name = path;
        return;
    }
    *folder = at == 0 ? path.left(1) : path.left(at);
#ifndef Q_OS_UNIX
    if (folder->size() == 2 && folder->at(1) == u':')
        folder->append(Separator); // "C:" alone means the current folder of drive C
#endif
    *name = path.mid(at + 1);
}

Path temporaryName(const Path &prefix, const Path &name)
{
    Path result;
    result.reserve(prefix.size() + name.size());
    result.append(prefix);
    result.append(name.left(characterBoundary(name, MaxNameLength - prefix.size())));
    return result;
}

#ifdef Q_OS_UNIX

namespace {

Status statusOf(const struct stat &st)
{
    Status status;
    status.exists = true;
    status.isDir = S_ISDIR(st.st_mode);
    status.isFile = S_ISREG(st.st_mode);
    status.replaceable = status.isFile;
    status.size = st.st_size;
    status.modifiedMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return status;
}

// The descriptor is gone after close() whatever it returns; EINTR does not mean data was lost.
bool closeDescriptor(int fd)
{
    return ::close(fd) == 0 || errno == EINTR;
}

} // namespace

Folder::Folder(const Path &path) : m_path(path)
{
    m_fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_id.device = st.st_dev;
    m_id.inode = st.st_ino;
}

Folder::~Folder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Folder::isOpen() const
{
    return m_fd >= 0;
}

bool Folder::isWithin(const FolderId &ancestor) const
{
    if (m_fd < 0)
        return false;
    // Up through "..", which names the real parent however this folder was reached, until the
    // root, whose parent is itself.
    FolderId current = m_id;
    int fd = ::dup(m_fd);
    for (int depth = 0; fd >= 0 && depth < 4096; ++depth) {
        if (current == ancestor) {
            ::close(fd);
            return true;
        }
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0)
            break;
        const FolderId up{quint64(st.st_dev), quint64(st.st_ino)};
        if (up == current)
            break;
        current = up;
    }
    if (fd >= 0)
        ::close(fd);
    return false;
}

void Folder::list(Listing kind, bool includeHidden, std::vector<Entry> &out) const
{
    out.clear();
    if (m_fd < 0)
        return;
    // The stream gets its own descriptor, rewound: the folder's may be listed more than once.
    const int streamFd = ::dup(m_fd);
    if (streamFd < 0)
        return;
    DIR *stream = ::fdopendir(streamFd);
    if (!stream) {
        ::close(streamFd);
        return;
    }
    ::rewinddir(stream);
    const bool wantFolders = kind == Listing::SubFolders;
    while (const dirent *entry = ::readdir(stream)) {
        const char *name = entry->d_name;
        if (name[0] == '.') {
            if (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))
                continue;
            if (!includeHidden)
                continue;
        }
        bool isDir = false;
        bool isFile = false;
        Status status;
        bool hasStatus = false;
#ifdef _DIRENT_HAVE_D_TYPE
        const unsigned char type = entry->d_type;
#else
        const unsigned char type = DT_UNKNOWN;
#endif
        if (type == DT_DIR) {
            isDir = true;
        } else if (type == DT_REG) {
            isFile = true;
        } else if (type == DT_LNK || type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(m_fd, name, &st, 0) != 0)
                continue; // a broken link, or gone already
            status = statusOf(st);
            hasStatus = true;
            isDir = status.isDir;
            isFile = status.isFile;
        }
        if (wantFolders ? !isDir : !isFile)
            continue;
        out.push_back(Entry{Path(name), status, hasStatus, type == DT_LNK || type == DT_UNKNOWN});
    }
    ::closedir(stream);
}

Status Folder::status(const Path &name, bool examineName) const
{
    struct stat st;
    if (m_fd < 0)
        return {};
    if (examineName) {
        if (::fstatat(m_fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return {};
        if (!S_ISLNK(st.st_mode))
            return statusOf(st);
    }
    Status status;
    if (::fstatat(m_fd, name.constData(), &st, 0) == 0)
        status = statusOf(st);
    if (examineName)
        status.replaceable = true; // a link, whatever it points to
    return status;
}

bool makePath(const Path &path, bool *created)
{
    *created = false;
    if (::mkdir(path.constData(), 0777) == 0) {
        *created = true;
        return true;
    }
    struct stat st;
    if (errno == EEXIST)
        return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
    if (errno != ENOENT)
        return false;
    Path parent;
    Path name;
    split(path, &parent, &name);
    if (parent == path || name.isEmpty())
        return false;
    bool parentCreated = false;
    if (!makePath(parent, &parentCreated))
        return false;
    if (::mkdir(path.constData(), 0777) == 0) {
        *created = true;
        return true;
    }
    return errno == EEXIST && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

Transfer::Open Transfer::open(const Folder &source, const Path &sourceName, const Folder &target,
                              const Path &temporaryName, bool *allowRangeCopy)
{
    // Non-blocking, so that a pipe put in the file's place cannot hold the job forever; it has
    // no effect on a plain file.
    m_source = ::openat(source.descriptor(), sourceName.constData(),
                        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_source < 0)
        return Open::SourceFailed;
    struct stat st;
    if (::fstat(m_source, &st) != 0 || !S_ISREG(st.st_mode)) {
        close();
        return Open::SourceFailed;
    }
    m_size = st.st_size;
    // The name carries the job's random prefix, so nothing but a stale file of ours can bear
    // it; never follow a link put there.
    m_temporary = ::openat(target.descriptor(), temporaryName.constData(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (m_temporary < 0) {
        close();
        return Open::TargetFailed;
    }
    m_target = &target;
    m_temporaryName = temporaryName;
    m_temporaryExists = true;
    m_rangeCopy = allowRangeCopy;
    if (m_size > 4 * 16000)
        ::posix_fadvise(m_source, 0, 0, POSIX_FADV_SEQUENTIAL);
    return Open::Ok;
}

Transfer::Chunk Transfer::copyChunk(char *buffer, qint64 maxBytes, qint64 *moved)
{
    *moved = 0;
#ifdef Q_OS_LINUX
    if (m_rangeCopy && *m_rangeCopy) {
        ssize_t n;
        do {
            n = ::copy_file_range(m_source, nullptr, m_temporary, nullptr, size_t(maxBytes), 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            *moved = n;
            return Chunk::Ok;
        }
        // Anything else, a refusal or a real failure, is asked again the plain way, which
        // tells a read failure from a write failure and confirms an early end.
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                      errno == EBADF || errno == EPERM))
            *m_rangeCopy = false;
    }
#endif
    ssize_t got;
    do {
        got = ::read(m_source, buffer, size_t(maxBytes));
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return Chunk::ReadFailed;
#ifdef Q_OS_LINUX
    if (got > 0 && m_rangeCopy && *m_rangeCopy)
        *m_rangeCopy = false; // the kernel saw an end that is not there: do not ask it again
#endif
    ssize_t written = 0;
    while (written < got) {
        const ssize_t n = ::write(m_temporary, buffer + written, size_t(got - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    *moved = written;
    return written == got ? Chunk::Ok : Chunk::WriteFailed;
}

bool Transfer::close()
{
    if (m_source >= 0)
        ::close(m_source);
    m_source = -1;
    bool ok = true;
    if (m_temporary >= 0)
        ok = closeDescriptor(m_temporary);
    m_temporary = -1;
    return ok;
}

namespace {

bool replaceName(const Folder &folder, const Path &from, const Path &to)
{
    const int fd = folder.descriptor();
    return ::renameat(fd, from.constData(), fd, to.constData()) == 0;
}

void removeName(const Folder &folder, const Path &name)
{
    ::unlinkat(folder.descriptor(), name.constData(), 0);
}

} // namespace

#else // Qt and Win32

namespace {

Status statusOf(const QFileInfo &info)
{
    Status status;
    status.exists = info.exists();
    if (!status.exists)
        return status;
    status.isDir = info.isDir();
    status.isFile = info.isFile();
    status.replaceable = status.isFile || info.isSymLink();
    status.size = info.size();
    status.modifiedMs = info.lastModified().toMSecsSinceEpoch();
    return status;
}

} // namespace

struct Transfer::Files
{
    QFile source;
    QFile temporary;
};

Folder::Folder(const Path &path) : m_path(path)
{
    const QFileInfo info(path);
    m_open = info.isDir();
    if (m_open)
        m_id.canonicalPath = info.canonicalFilePath();
}

Folder::~Folder() = default;

bool Folder::isOpen() const
{
    return m_open;
}

bool Folder::isWithin(const FolderId &ancestor) const
{
    if (!m_open || m_id.canonicalPath.isEmpty() || ancestor.canonicalPath.isEmpty())
        return false;
    const QString &root = ancestor.canonicalPath;
    if (m_id.canonicalPath.compare(root, Qt::CaseInsensitive) == 0)
        return true;
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    return m_id.canonicalPath.startsWith(prefix, Qt::CaseInsensitive);
}

void Folder::list(Listing kind, bool includeHidden, std::vector<Entry> &out) const
{
    out.clear();
    if (!m_open)
        return;
    QDir::Filters filters = QDir::NoDotAndDotDot;
    filters |= kind == Listing::SubFolders ? QDir::Dirs : QDir::Files;
    if (includeHidden)
        filters |= QDir::Hidden;
    for (const QString &name : QDir(m_path).entryList(filters, QDir::NoSort))
        out.push_back(Entry{name, {}, false, kind == Listing::SubFolders});
}

Status Folder::status(const Path &name, bool) const
{
    if (!m_open)
        return {};
    return statusOf(QFileInfo(join(m_path, name)));
}

bool makePath(const Path &path, bool *created)
{
    *created = !QFileInfo::exists(path);
    return QDir().mkpath(path);
}

Transfer::Open Transfer::open(const Folder &source, const Path &sourceName, const Folder &target,
                              const Path &temporaryName, bool *)
{
    m_files = std::make_unique<Files>();
    m_files->source.setFileName(join(source.path(), sourceName));
    if (!source.isOpen() || !m_files->source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Open::SourceFailed;
    m_size = m_files->source.size();
    m_files->temporary.setFileName(join(target.path(), temporaryName));
    if (!target.isOpen() ||
        !m_files->temporary.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        close();
        return Open::TargetFailed;
    }
    m_target = &target;
    m_temporaryName = temporaryName;
    m_temporaryExists = true;
    return Open::Ok;
}

Transfer::Chunk Transfer::copyChunk(char *buffer, qint64 maxBytes, qint64 *moved)
{
    *moved = 0;
    const qint64 got = m_files->source.read(buffer, maxBytes);
    if (got < 0)
        return Chunk::ReadFailed;
    const qint64 written = got > 0 ? m_files->temporary.write(buffer, got) : 0;
    *moved = qMax<qint64>(written, 0);
    return written == got ? Chunk::Ok : Chunk::WriteFailed;
}

bool Transfer::close()
{
    if (!m_files)
        return true;
    m_files->source.close();
    if (!m_files->temporary.isOpen())
        return true;
    m_files->temporary.close();
    return m_files->temporary.error() == QFileDevice::NoError;
}

namespace {

bool replaceName(const Folder &folder, const Path &from, const Path &to)
{
    const QString source = QDir::toNativeSeparators(join(folder.path(), from));
    const QString target = QDir::toNativeSeparators(join(folder.path(), to));
    return ::MoveFileExW(reinterpret_cast<const wchar_t *>(source.utf16()),
                         reinterpret_cast<const wchar_t *>(target.utf16()),
                         MOVEFILE_REPLACE_EXISTING);
}

void removeName(const Folder &folder, const Path &name)
{
    QFile::remove(join(folder.path(), name));
}

} // namespace

#endif

Transfer::Transfer() = default;

Transfer::~Transfer()
{
    close();
    discard();
}

bool Transfer::replace(const Path &targetName)
{
    if (!m_temporaryExists || !replaceName(*m_target, m_temporaryName, targetName))
        return false;
    m_temporaryExists = false;
    return true;
}

void Transfer::discard()
{
    if (!m_temporaryExists)
        return;
    removeName(*m_target, m_temporaryName);
    m_temporaryExists = false;
}

} // namespace NativeFs
