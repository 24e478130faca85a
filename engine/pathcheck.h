#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Whether one folder is another or lies inside it. The window refuses such a destination, and
// the job keeps a retried file's path below its source root by the same rule.
namespace PathCheck {

// The folder as the file system resolves it: absolute, cleaned, with links followed as far as
// the path exists. A part that does not exist yet is appended as written.
QString resolvedFolder(const QString &path);

// The rule on the texts alone, for two absolute, cleaned paths: whole names are compared, so
// "/data2" is not inside "/data".
bool isSameOrBelow(const QString &outer, const QString &inner);

// True when candidate is folder itself or lies anywhere below it, however either is written.
bool isSameOrInside(const QString &folder, const QString &candidate);

// The names between root and path, two absolute native paths, when path lies strictly below
// root once "." and ".." are resolved by name; false otherwise.
bool namesBelow(const QByteArray &root, const QByteArray &path, QList<QByteArray> *names);

} // namespace PathCheck
