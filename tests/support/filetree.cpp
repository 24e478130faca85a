#include "tests/support/filetree.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace TestFiles {

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
    QByteArray data(size, Qt::Uninitialized);
    // Whole 32-bit words first, then the odd tail.
    const qsizetype words = size / 4;
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), words);
    for (qsizetype i = words * 4; i < size; ++i)
        data[i] = char(QRandomGenerator::global()->bounded(256));
    return data;
}

bool setModified(const QString &path, qint64 secondsSinceEpoch)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) &&
           file.setFileTime(QDateTime::fromSecsSinceEpoch(secondsSinceEpoch),
                            QFileDevice::FileModificationTime);
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

QString treeDifference(const QString &expected, const QString &actual)
{
    const QStringList want = treeOf(expected);
    const QStringList have = treeOf(actual);
    if (want != have)
        return QStringLiteral("entries differ: expected [%1], found [%2]")
            .arg(want.join(u' '), have.join(u' '));
    for (const QString &entry : want) {
        if (entry.endsWith(u'/'))
            continue;
        if (readFile(expected + u'/' + entry) != readFile(actual + u'/' + entry))
            return entry + QStringLiteral(" differs");
    }
    return {};
}

} // namespace TestFiles
