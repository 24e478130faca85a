#include "engine/nativefs.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <qt_windows.h>

// Windows offers no calls relative to an open folder in its documented interface, so folders
// are reached by path (with the long-path prefix, so depth is no limit) while a handle held on
// each open folder keeps it from being deleted or renamed under the job. There are no unnamed
// files and no holes to skip: the copy is always a named temporary file.
namespace NativeFs {

namespace {

constexpr qint64 GatherBytes = 256 * 1024;
constexpr qint64 WriteAlignment = 64 * 1024;

QString wide(const Path &path)
{
    QString text = QDir::toNativeSeparators(QString::fromUtf8(path));
    if (!text.startsWith(QLatin1String("\\\\")))
        text.prepend(QLatin1String("\\\\?\\"));
    return text;
}

const wchar_t *chars(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// The engine speaks errno; these are the Windows errors it tells apart.
int lastError()
{
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    default:
        return EIO;
    }
}

HANDLE openHandle(const Path &path, DWORD access, DWORD flags)
{
    return ::CreateFileW(chars(wide(path)), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, flags, nullptr);
}

bool identify(HANDLE handle, FolderId *id)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info))
        return false;
    id->device = info.dwVolumeSerialNumber;
    id->inode = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

Status statusOf(const QFileInfo &info)
{
    Status status;
    status.exists = info.exists() || info.isSymLink();
    if (!status.exists)
        return status;
    status.isDir = info.isDir();
    status.isFile = info.isFile();
    status.kind = status.isDir ? EntryKind::Folder : status.isFile ? EntryKind::File : EntryKind::Unknown;
    status.replaceable = status.isFile || info.isSymLink();
    status.size = info.size();
    status.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    return status;
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

QString errorText(int error)
{
    char text[256] = {};
    ::strerror_s(text, sizeof text, error);
    return QString::fromLocal8Bit(text);
}

void prepareProcess() {}

// --- Folder ---------------------------------------------------------------------------------

Folder::~Folder()
{
    close();
}

Folder Folder::open(const Path &path, int *error)
{
    Folder folder;
    const HANDLE handle = openHandle(path, FILE_LIST_DIRECTORY, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = lastError();
        return folder;
    }
    if (!identify(handle, &folder.m_id)) {
        *error = lastError();
        ::CloseHandle(handle);
        return folder;
    }
    folder.m_handle = reinterpret_cast<qintptr>(handle);
    folder.m_path = QString::fromUtf8(path);
    return folder;
}

Folder Folder::openChild(const Path &name, bool followLinks, int *error) const
{
    const Path path = join(toNative(m_path), name);
    if (!followLinks) {
        const DWORD attributes = ::GetFileAttributesW(chars(wide(path)));
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            *error = ENOTDIR;
            return {};
        }
    }
    return open(path, error);
}

Folder Folder::openParent(int *error) const
{
    return open(toNative(QFileInfo(m_path).path()), error);
}

bool Folder::isOpen() const
{
    return m_handle != -1;
}

void Folder::close()
{
    if (m_handle != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

bool Folder::list(bool includeHidden, Listing &out, int *error) const
{
    out.clear();
    QDir folder(m_path);
    if (!folder.exists()) {
        *error = ENOENT;
        return false;
    }
    QDir::Filters filters = QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot;
    if (includeHidden)
        filters |= QDir::Hidden;
    for (const QFileInfo &info : folder.entryInfoList(filters, QDir::NoSort)) {
        const QByteArray name = info.fileName().toUtf8();
        out.add(info.isDir() ? EntryKind::Folder : EntryKind::File, name.constData(), name.size(),
                info.isSymLink());
    }
    return true;
}

Status Folder::status(const Path &name, bool) const
{
    return statusOf(QFileInfo(QString::fromUtf8(join(toNative(m_path), name))));
}

bool Folder::makeFolder(const Path &name, int *error) const
{
    if (::CreateDirectoryW(chars(wide(join(toNative(m_path), name))), nullptr))
        return true;
    *error = lastError();
    return false;
}

// Flushing a whole volume needs administrator rights here; the files were flushed one by one.
bool Folder::syncFileSystem(int *) const
{
    return true;
}

Folder Folder::duplicate() const
{
    int error = 0;
    return open(toNative(m_path), &error);
}

bool makePath(const Path &path, int *error)
{
    if (QDir().mkpath(QString::fromUtf8(path)))
        return true;
    *error = QFileInfo(QString::fromUtf8(path)).exists() ? ENOTDIR : EACCES;
    return false;
}

// --- Transfer -------------------------------------------------------------------------------

struct TransferContext::State
{
    QByteArray buffer = QByteArray(GatherBytes + 65536, Qt::Uninitialized);
};

TransferContext::TransferContext() : m_state(std::make_unique<State>()) {}

TransferContext::~TransferContext() = default;

struct Transfer::Files
{
    HANDLE source = INVALID_HANDLE_VALUE;
    HANDLE temporary = INVALID_HANDLE_VALUE;
    QString targetFolder;
    QString temporaryPath;
    qint64 held = 0;
    bool named = false;
    // The source as it was opened: a copy is whole only if it still is so at the end.
    BY_HANDLE_FILE_INFORMATION opened = {};

    bool drain(char *buffer, bool all, int *error)
    {
        qint64 amount = all ? held : held / WriteAlignment * WriteAlignment;
        qint64 written = 0;
        while (written < amount) {
            DWORD n = 0;
            if (!::WriteFile(temporary, buffer + written, DWORD(amount - written), &n, nullptr) ||
                n == 0) {
                *error = lastError();
                return false;
            }
            written += n;
        }
        held -= written;
        if (held > 0)
            std::memmove(buffer, buffer + written, size_t(held));
        return true;
    }
};

Transfer::Transfer(TransferContext &context)
    : m_context(context), m_files(std::make_unique<Files>())
{
}

Transfer::~Transfer()
{
    Files &f = *m_files;
    if (f.source != INVALID_HANDLE_VALUE)
        ::CloseHandle(f.source);
    if (f.temporary != INVALID_HANDLE_VALUE)
        ::CloseHandle(f.temporary);
    if (f.named)
        ::DeleteFileW(chars(f.temporaryPath));
}

Transfer::Result Transfer::open(const Folder &source, const Path &sourceName, const Folder &target,
                                const Path &temporaryName, int *error)
{
    Files &f = *m_files;
    f.source = ::CreateFileW(chars(wide(join(toNative(source.m_path), sourceName))), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f.source == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(f.source, &f.opened)) {
        *error = lastError();
        return Result::SourceOpenFailed;
    }
    m_size = (qint64(f.opened.nFileSizeHigh) << 32) | f.opened.nFileSizeLow;
    f.targetFolder = target.m_path;
    f.temporaryPath = wide(join(toNative(target.m_path), temporaryName));
    // CREATE_NEW: whatever already bears the name is refused, never opened.
    f.temporary = ::CreateFileW(chars(f.temporaryPath), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f.temporary == INVALID_HANDLE_VALUE) {
        *error = lastError();
        return Result::TargetOpenFailed;
    }
    f.named = true;
    return Result::Ok;
}

Transfer::Result Transfer::step(qint64 maxBytes, qint64 *advanced, int *error)
{
    Files &f = *m_files;
    char *buffer = m_context.m_state->buffer.data();
    *advanced = 0;
    DWORD got = 0;
    if (!::ReadFile(f.source, buffer + f.held, DWORD(maxBytes), &got, nullptr)) {
        *error = lastError();
        return Result::ReadFailed;
    }
    if (got == 0)
        return Result::SourceEnded;
    f.held += got;
    *advanced = got;
    if (f.held >= GatherBytes && !f.drain(buffer, false, error))
        return Result::WriteFailed;
    return Result::Ok;
}

Transfer::Result Transfer::finish(int *error)
{
    Files &f = *m_files;
    BY_HANDLE_FILE_INFORMATION now;
    if (!::GetFileInformationByHandle(f.source, &now)) {
        *error = lastError();
        return Result::ReadFailed;
    }
    if (now.nFileSizeHigh != f.opened.nFileSizeHigh || now.nFileSizeLow != f.opened.nFileSizeLow ||
        ::CompareFileTime(&now.ftLastWriteTime, &f.opened.ftLastWriteTime) != 0)
        return Result::SourceChanged;
    if (!f.drain(m_context.m_state->buffer.data(), true, error))
        return Result::WriteFailed;
    ::CloseHandle(f.source);
    f.source = INVALID_HANDLE_VALUE;
    // A removable disk must hold the data before the name says the file is complete.
    const bool flushed = ::FlushFileBuffers(f.temporary);
    if (!flushed)
        *error = lastError();
    ::CloseHandle(f.temporary);
    f.temporary = INVALID_HANDLE_VALUE;
    return flushed ? Result::Ok : Result::WriteFailed;
}

Transfer::Placed Transfer::place(const Path &name, bool replace, int *error)
{
    Files &f = *m_files;
    const QString target = wide(join(toNative(f.targetFolder), name));
    if (::MoveFileExW(chars(f.temporaryPath), chars(target),
                      replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
        f.named = false;
        return Placed::Done;
    }
    *error = lastError();
    return !replace && *error == EEXIST ? Placed::NameTaken : Placed::Failed;
}

} // namespace NativeFs
