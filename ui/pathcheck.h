#pragma once

#include <QString>

namespace PathCheck {

// The folder as the file system resolves it: absolute, cleaned, with links followed as far as
// the path exists. A part that does not exist yet is appended as written.
QString resolvedFolder(const QString &path);

// True when candidate is folder itself or lies anywhere below it, however either is written.
bool isSameOrInside(const QString &folder, const QString &candidate);

} // namespace PathCheck
