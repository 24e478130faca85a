#include "engine/pathcheck.h"

#include "engine/nativefs.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace PathCheck {

namespace {

// The same folder under another name: a bind mount, or letters in another case on a file
// system that ignores case. Names cannot tell; device and inode can.
bool folderIsOrHolds(const QString &outer, const QString &inner)
{
    SystemError error;
    const NativeFs::Folder outerFolder = NativeFs::Folder::open(NativeFs::toNative(outer), &error);
    if (!outerFolder.isOpen())
        return false;
    const std::vector<NativeFs::FolderId> holders = NativeFs::ancestryOf(NativeFs::toNative(inner));
    return std::find(holders.cbegin(), holders.cend(), outerFolder.id()) != holders.cend();
}

QList<QByteArray> cleanNames(const QByteArray &path)
{
    QList<QByteArray> names;
    for (const QByteArray &name : path.split('/')) {
        if (name == "..") {
            if (!names.isEmpty())
                names.removeLast();
        } else if (!name.isEmpty() && name != ".") {
            names.append(name);
        }
    }
    return names;
}

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
    if (inner.compare(outer, NativeFs::NameCase) == 0)
        return true;
    const QString prefix = outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/');
    return inner.startsWith(prefix, NativeFs::NameCase);
}

bool isSameOrInside(const QString &folder, const QString &candidate)
{
    const QString outer = resolvedFolder(folder);
    const QString inner = resolvedFolder(candidate);
    return isSameOrBelow(outer, inner) || folderIsOrHolds(outer, inner);
}

} // namespace PathCheck

namespace PathCheck {

bool namesBelow(const QByteArray &root, const QByteArray &path, QList<QByteArray> *names)
{
    const QList<QByteArray> rootNames = cleanNames(root);
    const QList<QByteArray> pathNames = cleanNames(path);
    if (pathNames.size() <= rootNames.size())
        return false;
    for (qsizetype i = 0; i < rootNames.size(); ++i) {
        const bool same =
            NativeFs::NameCase == Qt::CaseSensitive
                ? rootNames.at(i) == pathNames.at(i)
                : QString::fromUtf8(rootNames.at(i))
                          .compare(QString::fromUtf8(pathNames.at(i)), NativeFs::NameCase) == 0;
        if (!same)
            return false;
    }
    *names = pathNames.mid(rootNames.size());
    return true;
}

} // namespace PathCheck
