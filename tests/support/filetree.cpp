#include "tests/support/filetree.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#else
#include <qt_windows.h>
#endif

namespace TestFiles {

#ifndef Q_OS_UNIX
// 100 ns ticks from 1601 to 1970.
constexpr qint64 WindowsEpochTicks = 116444736000000000;
#endif

bool writeFile(const QString &path, const QByteArray &data)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray data((size + 3) / 4 * 4, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()),
                                          data.size() / 4);
    data.truncate(size);
    return data;
}

bool setModified(const QString &path, qint64 secondsSinceEpoch)
{
    return setModifiedNs(path, secondsSinceEpoch * 1000000000);
}

bool setModifiedNs(const QString &path, qint64 nanosecondsSinceEpoch)
{
#ifdef Q_OS_UNIX
    // Both times: FAT through FUSE ignores a modification time set alone.
    const timespec time = {time_t(nanosecondsSinceEpoch / 1000000000),
                           long(nanosecondsSinceEpoch % 1000000000)};
    const timespec times[2] = {time, time};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
#else
    // Folders too: Windows opens them for their times with backup semantics.
    const HANDLE handle =
        ::CreateFileW(qUtf16Printable(QDir::toNativeSeparators(path)), FILE_WRITE_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const quint64 ticks = quint64(nanosecondsSinceEpoch / 100 + WindowsEpochTicks);
    const FILETIME written{DWORD(ticks & 0xffffffffU), DWORD(ticks >> 32)};
    const bool set =
        handle != INVALID_HANDLE_VALUE && ::SetFileTime(handle, nullptr, nullptr, &written);
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return set;
#endif
}

qint64 modifiedNs(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#else
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(qUtf16Printable(QDir::toNativeSeparators(path)),
                                GetFileExInfoStandard, &data))
        return -1;
    const qint64 ticks = qint64((quint64(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                data.ftLastWriteTime.dwLowDateTime);
    return (ticks - WindowsEpochTicks) * 100;
#endif
}

QStringList strayTemporaries(const QString &root)
{
    static const QRegularExpression prefix(
        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}-"));
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (prefix.match(it.fileName()).hasMatch())
            found.append(it.filePath());
    }
    return found;
}

QStringList treeOf(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString relative = QDir(root).relativeFilePath(it.filePath());
        entries.append(it.fileInfo().isDir() && !it.fileInfo().isSymLink() ? relative + u'/'
                                                                           : relative);
    }
    entries.sort();
    return entries;
}

} // namespace TestFiles
