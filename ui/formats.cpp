#include "ui/formats.h"

namespace Formats {

QString size(double bytes)
{
    static const char *const units[] = {" KB", " MB", " GB"};
    if (bytes < 1024)
        return QString::number(bytes, 'f', 0) + QStringLiteral(" Bytes");
    double scaled = bytes;
    for (const char *unit : units) {
        scaled /= 1024;
        if (scaled < 1024)
            return QString::number(scaled, 'f', 2) + QLatin1String(unit);
    }
    return QString::number(scaled / 1024, 'f', 2) + QStringLiteral(" TB");
}

QString duration(quint32 seconds)
{
    const quint32 secs = seconds % 60;
    const quint32 minutes = (seconds / 60) % 60;
    const quint32 hours = (seconds / 3600) % 24;
    const quint32 days = seconds / 86400;

    const auto part = [](quint32 count, const char *unit) {
        QString text = QString::number(count) + QLatin1Char(' ') + QLatin1String(unit);
        if (count != 1)
            text += QLatin1Char('s');
        return text;
    };
    const auto join = [&part](quint32 major, const char *majorUnit, quint32 minor,
                              const char *minorUnit) {
        QString text = part(major, majorUnit);
        if (minor > 0)
            text += QLatin1Char(' ') + part(minor, minorUnit);
        return text;
    };

    if (days > 0)
        return join(days, "day", hours, "hour");
    if (hours > 0)
        return join(hours, "hour", minutes, "minute");
    if (minutes > 0)
        return join(minutes, "minute", secs, "second");
    return part(secs, "second");
}

} // namespace Formats
