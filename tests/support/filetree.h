#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// File helpers shared by the tests that check what a copy left on disk.
namespace TestFiles {

// Creates missing parent folders.
bool writeFile(const QString &path, const QByteArray &data);
QByteArray readFile(const QString &path);
QByteArray randomBytes(qsizetype size);
bool setModified(const QString &path, qint64 secondsSinceEpoch);
// Files and folders, to the nanosecond where the system keeps it (on Windows to 100 ns).
bool setModifiedNs(const QString &path, qint64 nanosecondsSinceEpoch);
// As the system keeps it; -1 when it will not say.
qint64 modifiedNs(const QString &path);

// Files named by a job's prefix: 36 characters of UUID and a hyphen.
QStringList strayTemporaries(const QString &root);
// Relative paths of everything below root, sorted, folders with a trailing slash.
QStringList treeOf(const QString &root);

} // namespace TestFiles
