#pragma once

#include "engine/nativefs.h"

// What jobs cut off by a crash, a kill or a pulled plug left behind, where a file system has no
// unnamed files: their copies under their temporary names, a UUID and a dash before the file's
// own name.
namespace Leftovers {

// Nothing has written to a job's temporary file for this long: the job is gone. A job that
// writes keeps its own fresh; one that finds its own gone lists the file and loses nothing.
inline constexpr qint64 StaleAfterNs = 10LL * 60 * 1000000000;

// True when name has the form of a job's temporary name.
bool isTemporaryName(const NativeFs::Path &name);

// Removes the stale leftovers of other jobs from folder, unannounced: they are no one's files.
void clear(const NativeFs::Folder &folder, const NativeFs::Path &ownPrefix);

} // namespace Leftovers
