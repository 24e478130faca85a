#include "ui/writebacklog.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

std::optional<WriteBacklog::Reading> WriteBacklog::read()
{
#ifdef Q_OS_LINUX
    QFile file(QStringLiteral("/proc/vmstat"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Counted in pages: dirty, under write-out now, and written out since boot.
    quint64 dirty = 0, writeback = 0, written = 0;
    int found = 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const QByteArray &name = fields.first();
        quint64 *counter = name == "nr_dirty"       ? &dirty
                           : name == "nr_writeback" ? &writeback
                           : name == "nr_written"   ? &written
                                                    : nullptr;
        bool ok = false;
        if (counter && fields.size() == 2)
            *counter = fields.last().toULongLong(&ok);
        found += ok ? 1 : 0;
    }
    if (found != 3)
        return std::nullopt;
    const quint64 page = quint64(::sysconf(_SC_PAGESIZE));
    return Reading{(dirty + writeback) * page, written * page};
#else
    return std::nullopt;
#endif
}
