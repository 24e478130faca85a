#pragma once

#include <QString>

// How the window writes byte amounts and durations: "1.50 MB", "2 minutes 5 seconds". English
// as the window has always written them, with dots for decimals whatever the locale.
namespace Formats {

QString size(double bytes);
QString duration(quint32 seconds);

} // namespace Formats
