#include "ui/formats.h"

#include <QCoreApplication>

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

    enum Unit
    {
        Day,
        Hour,
        Minute,
        Second
    };
    // One and many apart: the languages shipped make no other difference.
    static const char *const one[] = {
        QT_TRANSLATE_NOOP("Formats", "%1 day"), QT_TRANSLATE_NOOP("Formats", "%1 hour"),
        QT_TRANSLATE_NOOP("Formats", "%1 minute"), QT_TRANSLATE_NOOP("Formats", "%1 second")};
    static const char *const many[] = {
        QT_TRANSLATE_NOOP("Formats", "%1 days"), QT_TRANSLATE_NOOP("Formats", "%1 hours"),
        QT_TRANSLATE_NOOP("Formats", "%1 minutes"), QT_TRANSLATE_NOOP("Formats", "%1 seconds")};
    const auto part = [](quint32 count, Unit unit) {
        return QCoreApplication::translate("Formats", count == 1 ? one[unit] : many[unit])
            .arg(count);
    };
    const auto join = [&part](quint32 major, Unit majorUnit, quint32 minor, Unit minorUnit) {
        QString text = part(major, majorUnit);
        if (minor > 0)
            text += QLatin1Char(' ') + part(minor, minorUnit);
        return text;
    };

    if (days > 0)
        return join(days, Day, hours, Hour);
    if (hours > 0)
        return join(hours, Hour, minutes, Minute);
    if (minutes > 0)
        return join(minutes, Minute, secs, Second);
    return part(secs, Second);
}

} // namespace Formats
