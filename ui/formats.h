#pragma once

#include <QString>

// How the window writes byte amounts and durations: "1.50 MB", "2 minutes 5 seconds". Sizes and
// numbers in one form whatever the language, with dots for decimals; the words of a duration in
// the language of the window.
namespace Formats {

QString size(double bytes);
QString duration(quint32 seconds);

} // namespace Formats
