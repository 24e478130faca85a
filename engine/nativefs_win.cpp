#include "engine/nativefs_win_p.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

// Windows offers no calls relative to an open folder in its documented interface, so folders
// are reached by path (with the long-path prefix, so depth is no limit): the path the system
// resolved the folder to when it was opened, which runs through no link, while a handle held on
// each open folder, shared for reading and writing but not for deleting, keeps it and the
// folders above it from being deleted or renamed under the job. There are no unnamed files and no
// holes to skip: the copy is always a named temporary file.
//
// Links are what the system marks as reparse points of the link kinds (symbolic links and
// junctions); a shell shortcut (.lnk) is an ordinary file and is copied as one.
namespace NativeFs {

QString wide(const Path &path)
{
    QString text = QDir::toNativeSeparators(QString::fromUtf8(path));
    if (text.startsWith(QLatin1String("\\\\?\\")))
        return text;
    if (text.startsWith(QLatin1String("\\\\")))
        return text.replace(0, 2, QLatin1String("\\\\?\\UNC\\"));
    return text.prepend(QLatin1String("\\\\?\\"));
}

const wchar_t *chars(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

SystemError errorOf(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return SystemError::posix(ENOENT);
    // A file another program holds is not a matter of permissions: those keep their own words.
    case ERROR_ACCESS_DENIED:
        return SystemError::posix(EACCES);
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return SystemError::posix(EEXIST);
    case ERROR_TOO_MANY_OPEN_FILES:
        return SystemError::posix(EMFILE);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return SystemError::posix(ENOSPC);
    case ERROR_DIRECTORY:
        return SystemError::posix(ENOTDIR);
    case ERROR_NOT_SAME_DEVICE:
        return SystemError::posix(EXDEV);
    default:
        return code == 0 ? SystemError::posix(EIO) : SystemError::windows(int(code));
    }
}

SystemError lastError()
{
    return errorOf(::GetLastError());
}

namespace {

// Entries handed out per batch by a folder reader.
constexpr int BatchEntries = 1024;
// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr qint64 EpochOffset = 116444736000000000LL;

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isLinkTag(DWORD tag)
{
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// Of a handle on the name itself: whether a link stands there. A reparse point of another kind
// (a file kept in the cloud, say) is what it is.
bool isLink(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag;
    return ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && isLinkTag(tag.ReparseTag);
}

bool isLink(const QString &path)
{
    const HANDLE handle =
        ::CreateFileW(chars(path), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool link = isLink(handle);
    ::CloseHandle(handle);
    return link;
}

// Why a link could not be followed: it leads nowhere (or round in a circle), or something
// else, which keeps its reason.
bool leadsNowhere(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
           code == ERROR_CANT_RESOLVE_FILENAME;
}

qint64 nanoseconds(const FILETIME &time)
{
    const qint64 ticks = (qint64(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (ticks - EpochOffset) * 100;
}

FILETIME fileTime(qint64 ns)
{
    const qint64 ticks = ns / 100 + EpochOffset;
    return {DWORD(quint64(ticks) & 0xffffffffU), DWORD(quint64(ticks) >> 32)};
}

Status statusOf(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME &written)
{
    Status status;
    status.exists = true;
    status.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
    // Deleting a read-only file fails on Windows, and so does replacing it.
    status.replaceable = status.isFile() && !(attributes & FILE_ATTRIBUTE_READONLY);
    status.size = (qint64(sizeHigh) << 32) | sizeLow;
    status.modifiedNs = nanoseconds(written);
    return status;
}

// What a name leads to, through any link in its place.
bool followedInfo(const QString &path, BY_HANDLE_FILE_INFORMATION *info)
{
    const HANDLE handle = ::CreateFileW(chars(path), FILE_READ_ATTRIBUTES, ShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::GetFileInformationByHandle(handle, info);
    ::CloseHandle(handle);
    return ok;
}

} // namespace

Path toNative(const QString &path)
{
    return QDir::fromNativeSeparators(path).toUtf8();
}

QString fromNative(const Path &path)
{
    return QString::fromUtf8(path);
}

QString errorText(const SystemError &error)
{
    if (error.domain == SystemError::Domain::Windows) {
        wchar_t *text = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, DWORD(error.code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
        const QString message =
            QString::fromWCharArray(text, int(length)).trimmed().remove(QLatin1Char('\r'));
        ::LocalFree(text);
        if (!message.isEmpty())
            return message;
        return QStringLiteral("Error %1").arg(error.code);
    }
    char text[256] = {};
    ::strerror_s(text, sizeof text, error.code);
    return QString::fromLocal8Bit(text);
}

void prepareProcess() {}

// Windows publishes no counters of what it still has to write.
std::optional<WriteBacklog> writeBacklog()
{
    return std::nullopt;
}

// --- Folder ---------------------------------------------------------------------------------

Folder::Folder() = default;
Folder::~Folder() = default;
Folder::Folder(Folder &&other) noexcept = default;
Folder &Folder::operator=(Folder &&other) noexcept = default;

namespace {

// Held for listing, not shared for deleting: a folder in the walk cannot be renamed away.
HANDLE openFolderHandle(const Path &path, Links links)
{
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (links == Links::Stay ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return ::CreateFileW(chars(wide(path)), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                         nullptr);
}

// The path the system resolved the handle to, links and all.
Path finalPath(HANDLE handle)
{
    wchar_t buffer[32768];
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, buffer, DWORD(std::size(buffer)), FILE_NAME_NORMALIZED);
    if (length == 0 || length >= std::size(buffer))
        return {};
    QString path = QString::fromWCharArray(buffer, int(length));
    if (path.startsWith(QLatin1String("\\\\?\\UNC\\")))
        path = QLatin1String("\\\\") + path.mid(8);
    else if (path.startsWith(QLatin1String("\\\\?\\")))
        path = path.mid(4);
    return toNative(path);
}

// A drive ("C:", "C:/") or a share ("//server/share"): nothing above it can be made.
bool isRoot(const Path &path)
{
    if (path.startsWith("//"))
        return path.count('/') <= 3 && !path.endsWith('/');
    return path.size() <= 3 && path.indexOf(':') == 1;
}

} // namespace

Folder Folder::Native::adopt(HANDLE handle, const Path &path, Links links, SystemError *error)
{
    Folder folder;
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &info)) {
        *error = lastError();
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        return folder;
    }
    // Where links are not followed, one is not a folder to enter, whatever it leads to.
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (links == Links::Stay && isLink(handle))) {
        ::CloseHandle(handle);
        *error = SystemError::posix(ENOTDIR);
        return folder;
    }
    const Path real = finalPath(handle);
    folder.m_native = std::make_unique<Native>(handle, real.isEmpty() ? path : real);
    folder.m_id = FolderId{info.dwVolumeSerialNumber,
                           (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return folder;
}

Folder Folder::open(const Path &path, SystemError *error)
{
    return Native::adopt(openFolderHandle(path, Links::Follow), path, Links::Follow, error);
}

Folder Folder::openChild(const Path &name, Links links, SystemError *error) const
{
    const Path path = join(Native::pathOf(*this), name);
    return Native::adopt(openFolderHandle(path, links), path, links, error);
}

// The folder's path is the one the system resolved it to, so its parent there is the real one,
// however this folder was reached. A root is its own parent.
Folder Folder::openParent(SystemError *error) const
{
    const Path path = Native::pathOf(*this);
    return open(isRoot(path) ? path : toNative(QFileInfo(fromNative(path)).path()), error);
}

void Folder::close()
{
    m_native.reset();
}

Status Folder::status(const Path &name, Links links) const
{
    const QString path = wide(join(Native::pathOf(*this), name));
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(chars(path), GetFileExInfoStandard, &data))
        return {};
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !isLink(path))
        return statusOf(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                        data.ftLastWriteTime);
    BY_HANDLE_FILE_INFORMATION info;
    const bool leads = followedInfo(path, &info);
    Status status;
    if (leads)
        status = statusOf(info.dwFileAttributes, info.nFileSizeHigh, info.nFileSizeLow,
                          info.ftLastWriteTime);
    if (links == Links::Follow)
        return status;
    // A link may be replaced whatever it leads to; its target's times and size still decide.
    status.exists = true;
    status.replaceable = true;
    status.isLink = true;
    return status;
}

qint64 Folder::modifiedNs() const
{
    BY_HANDLE_FILE_INFORMATION info;
    return ::GetFileInformationByHandle(Native::of(*this), &info)
               ? nanoseconds(info.ftLastWriteTime)
               : 0;
}

// The folder's own handle may list but not write attributes: a second one, for the moment.
bool Folder::setModified(qint64 ns, SystemError *error) const
{
    const HANDLE handle =
        ::CreateFileW(chars(wide(Native::pathOf(*this))), FILE_WRITE_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const FILETIME written = fileTime(ns);
    const bool set =
        handle != INVALID_HANDLE_VALUE && ::SetFileTime(handle, nullptr, nullptr, &written);
    if (!set)
        *error = lastError();
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return set;
}

// A new folder takes the access rules of the one it is made in, as Explorer's copies do.
Permissions Folder::permissionsForCopy() const
{
    return {};
}

bool Folder::removeFile(const Path &name, SystemError *error) const
{
    if (::DeleteFileW(chars(wide(join(Native::pathOf(*this), name)))))
        return true;
    *error = lastError();
    return false;
}

QString fileSystemOf(HANDLE handle)
{
    wchar_t name[MAX_PATH + 1] = {};
    return ::GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, nullptr, name,
                                           MAX_PATH + 1)
               ? QString::fromWCharArray(name)
               : QString();
}

// The file system's kind tells: FAT keeps two seconds, exFAT 10 ms, NTFS, ReFS and network
// shares 100 ns.
qint64 Folder::timeResolutionNs(const Path &) const
{
    const QString kind = fileSystemOf(Native::of(*this));
    if (kind.isEmpty())
        return 0;
    if (kind.startsWith(QLatin1String("FAT"), Qt::CaseInsensitive))
        return 2000000000;
    if (kind.compare(QLatin1String("exFAT"), Qt::CaseInsensitive) == 0)
        return 10000000;
    return 100;
}

bool Folder::makeFolder(const Path &name, Permissions, SystemError *error) const
{
    if (::CreateDirectoryW(chars(wide(join(Native::pathOf(*this), name))), nullptr))
        return true;
    *error = lastError();
    return false;
}

qint64 Folder::largestFile() const
{
    return fileSystemOf(Native::of(*this)).startsWith(QLatin1String("FAT"), Qt::CaseInsensitive)
               ? (qint64(1) << 32) - 1
               : -1;
}

std::optional<quint64> Folder::freeBytes() const
{
    ULARGE_INTEGER free{};
    if (!::GetDiskFreeSpaceExW(chars(wide(Native::pathOf(*this))), &free, nullptr, nullptr))
        return std::nullopt;
    return quint64(free.QuadPart);
}

// ReFS shares blocks between files of one volume.
bool Folder::sharesBlocks(const Path &) const
{
    return fileSystemOf(Native::of(*this)) == QLatin1String("ReFS");
}

// A share named by its server, or a drive letter given to one.
bool Folder::isRemote() const
{
    const Path path = Native::pathOf(*this);
    if (path.startsWith("//"))
        return true;
    wchar_t volume[MAX_PATH + 1] = {};
    return ::GetVolumePathNameW(chars(wide(path)), volume, MAX_PATH + 1) &&
           ::GetDriveTypeW(volume) == DRIVE_REMOTE;
}

// Flushing a whole volume needs administrator rights here; the files were flushed one by one.
bool Folder::syncFileSystem(SystemError *) const
{
    return true;
}

Folder Folder::duplicate() const
{
    Folder folder;
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (m_native &&
        ::DuplicateHandle(::GetCurrentProcess(), m_native->handle, ::GetCurrentProcess(), &copy, 0,
                          FALSE, DUPLICATE_SAME_ACCESS)) {
        folder.m_native = std::make_unique<Native>(copy, m_native->path);
        folder.m_id = m_id;
    }
    return folder;
}

// Folder by folder from the deepest one that exists, so that a failure keeps the system's
// reason: a name it refuses, a file in the way, a drive that is not there.
// A new folder takes the access rules of the one it is made in: the permissions carry nothing.
bool makePath(const Path &path, Permissions, bool *made, SystemError *error)
{
    *made = false;
    const QString target = wide(path);
    DWORD attributes = ::GetFileAttributesW(chars(target));
    if (attributes == INVALID_FILE_ATTRIBUTES && !isRoot(path)) {
        const qsizetype at = path.lastIndexOf('/');
        const Path parent = path.left(at > 0 && path.at(at - 1) == ':' ? at + 1 : at);
        bool parentMade = false;
        if (at > 0 && !makePath(parent, Permissions(), &parentMade, error))
            return false;
        if (::CreateDirectoryW(chars(target), nullptr)) {
            *made = true;
            return true;
        }
        const DWORD refused = ::GetLastError();
        attributes = ::GetFileAttributesW(chars(target));
        if (refused != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES) {
            *error = errorOf(refused);
            return false;
        }
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *error = lastError();
        return false;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = SystemError::posix(ENOTDIR);
        return false;
    }
    return true;
}

// --- FolderReader -----------------------------------------------------------------------------

struct FolderReader::State
{
    ~State()
    {
        if (find != INVALID_HANDLE_VALUE)
            ::FindClose(find);
    }
    // Adds the entry in data to batch, unless it is one to leave out.
    void add(Listing &batch) const;

    Path folder;
    HiddenEntries hidden = HiddenEntries::Skip;
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data;
    bool started = false;
    bool pending = false; // data holds an entry not yet handed out
    SystemError error;
};

FolderReader::FolderReader(const Folder &folder, HiddenEntries hidden)
    : m_state(std::make_unique<State>())
{
    m_state->folder = Folder::Native::pathOf(folder);
    m_state->hidden = hidden;
}

FolderReader::~FolderReader() = default;

bool FolderReader::next(Listing &batch, SystemError *error)
{
    State &state = *m_state;
    batch.clear();
    if (!state.started) {
        state.started = true;
        // join() adds no second separator after a root such as "E:/".
        state.find =
            ::FindFirstFileExW(chars(wide(join(state.folder, "*"))), FindExInfoBasic, &state.data,
                               FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        state.pending = state.find != INVALID_HANDLE_VALUE;
        if (!state.pending && ::GetLastError() != ERROR_FILE_NOT_FOUND)
            state.error = lastError();
    }
    int count = 0;
    for (; state.pending && count < BatchEntries; ++count) {
        state.add(batch);
        state.pending = ::FindNextFileW(state.find, &state.data);
        if (!state.pending && ::GetLastError() != ERROR_NO_MORE_FILES)
            state.error = lastError();
    }
    if (count > 0)
        return true;
    if (state.error.isSet())
        *error = state.error;
    return false;
}

void FolderReader::State::add(Listing &batch) const
{
    const QString name = QString::fromWCharArray(data.cFileName);
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return;
    const DWORD attributes = data.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_HIDDEN) && hidden == HiddenEntries::Skip)
        return;
    const QByteArray bytes = name.toUtf8();
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && isLinkTag(data.dwReserved0);
    EntryKind kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
    SystemError reason;
    BY_HANDLE_FILE_INFORMATION info;
    if (link && followedInfo(wide(join(folder, bytes)), &info)) {
        kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder
                                                                  : EntryKind::File;
    } else if (link) {
        // Listed either way, never dropped: as a broken link, or with the system's reason.
        const DWORD code = ::GetLastError();
        kind = leadsNowhere(code) ? EntryKind::BrokenLink : EntryKind::Unknown;
        reason = leadsNowhere(code) ? SystemError() : errorOf(code);
    }
    batch.add(kind, bytes.constData(), bytes.size(), link, reason);
}

} // namespace NativeFs
