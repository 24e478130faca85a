#include "ui/pathcheck.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace PathCheck {

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

bool isSameOrInside(const QString &folder, const QString &candidate)
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    const QString outer = resolvedFolder(folder);
    const QString inner = resolvedFolder(candidate);
    if (inner.compare(outer, cs) == 0)
        return true;
    // "/data2" must not count as inside "/data": compare whole folder names.
    const QString prefix = outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/');
    return inner.startsWith(prefix, cs);
}

} // namespace PathCheck
