// The Linux speed-ups on a system without them: each says it could not, and the POSIX room takes
// its own way. The copy is then slower, and a crash leaves its temporary file under its name for
// the next job to clear.

#include "engine/nativefs_linux.h"

#include <cerrno>

#include <unistd.h>

namespace NativeFs {

// The system publishes no counters of what it still has to write.
std::optional<WriteBacklog> writeBacklog()
{
    return std::nullopt;
}

namespace Linux {

namespace {

int unsupported()
{
    errno = ENOSYS;
    return -1;
}

} // namespace

bool heldInMemory(int)
{
    return false;
}

bool isRemote(int)
{
    return false;
}

bool isFat(int)
{
    return false;
}

bool sharesBlocksByKind(int)
{
    return false;
}

// POSIX has no call for one file system: all of them, which returns once they are written.
bool syncFileSystem(int, SystemError *)
{
    ::sync();
    return true;
}

bool readEntries(int, char *, size_t, const std::function<void(const char *, unsigned char)> &,
                 SystemError *error)
{
    *error = SystemError::posix(ENOSYS);
    return false;
}

int openUnnamed(int, mode_t)
{
    return unsupported();
}

int linkUnnamed(int, int, const char *, LinkWays *ways)
{
    *ways = {false, false};
    return unsupported();
}

bool openPipe(int[2], int)
{
    return false;
}

ssize_t spliceIn(int, qint64 *, int, size_t)
{
    return unsupported();
}

ssize_t spliceOut(int, int, qint64, size_t)
{
    return unsupported();
}

ssize_t copyRange(int, int, qint64, size_t)
{
    return unsupported();
}

int cloneRange(int, int, qint64, qint64)
{
    return unsupported();
}

void startWriteOut(int, qint64, qint64) {}

int waitWrittenOut(int, qint64, qint64)
{
    return unsupported();
}

void dropCache(int, qint64, qint64) {}

void readSequentially(int) {}

int renameNoReplace(int, const char *, const char *)
{
    return unsupported();
}

} // namespace Linux

} // namespace NativeFs
