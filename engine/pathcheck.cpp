#include "engine/pathcheck.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <QFile>

#include <sys/stat.h>
#endif

namespace PathCheck {

namespace {

#ifdef Q_OS_UNIX
// The same folder under another name: a bind mount, or letters in another case on a file
// system that ignores case. Names cannot tell; device and inode can.
bool folderIsOrHolds(const QString &outer, const QString &inner)
{
    struct stat outerStat;
    if (::stat(QFile::encodeName(outer).constData(), &outerStat) != 0)
        return false;
    QString current = inner;
    for (;;) {
        struct stat st;
        if (::stat(QFile::encodeName(current).constData(), &st) == 0 &&
            st.st_dev == outerStat.st_dev && st.st_ino == outerStat.st_ino)
            return true;
        const QString parent = QFileInfo(current).path();
        if (parent == current)
            return false;
        current = parent;
    }
}
#else
bool folderIsOrHolds(const QString &, const QString &)
{
    return false;
}
#endif

} // namespace

QString resolvedFolder(const QString &path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    // Walk up to the deepest part that exists so that links in it are resolved.
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        missing.prepend(QFileInfo(existing).fileName());
        existing = parent;
    }
    QString resolved = QFileInfo(existing).canonicalFilePath();
    if (resolved.isEmpty())
        resolved = existing;
    for (const QString &part : std::as_const(missing))
        resolved = QDir(resolved).filePath(part);
    return QDir::cleanPath(resolved);
}

bool isSameOrBelow(const QString &outer, const QString &inner)
{
    if (inner.compare(outer, NameCase) == 0)
        return true;
    const QString prefix = outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/');
    return inner.startsWith(prefix, NameCase);
}

bool isSameOrInside(const QString &folder, const QString &candidate)
{
    const QString outer = resolvedFolder(folder);
    const QString inner = resolvedFolder(candidate);
    return isSameOrBelow(outer, inner) || folderIsOrHolds(outer, inner);
}

} // namespace PathCheck
