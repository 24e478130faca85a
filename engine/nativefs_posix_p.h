#pragma once

// What the files of the POSIX room share: its constants, small helpers, and the state of an open
// folder, of a job's transfers and of one file's transfer. Not for use outside nativefs_posix*.

#include "engine/nativefs.h"
#include "engine/nativefs_linux.h"

#include <memory>
#include <vector>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// macOS names the times of a file's status otherwise.
#ifdef __APPLE__
#define st_atim st_atimespec
#define st_mtim st_mtimespec
#define st_ctim st_ctimespec
#endif

namespace NativeFs {

// Data is held back until this much has gathered, then written in whole aligned pieces: writes
// that end mid-page cut the destination's page cache into fragments and cost far more than the
// data they carry.
constexpr qint64 GatherBytes = 512 * 1024;
constexpr qint64 WriteAlignment = 64 * 1024;
constexpr int PipeBytes = 1024 * 1024;
// A large file's copy and source leave the system's cache this far behind the copy, in pieces
// of at least ReleaseStep: far enough that the device has had time to take the data, near
// enough that a copy of many gigabytes holds little memory.
constexpr qint64 ReleaseLag = 8 * 1024 * 1024;
constexpr qint64 ReleaseStep = 1024 * 1024;
// Small files go through the buffer: their one write is aligned anyway.
constexpr qint64 PipeThreshold = GatherBytes;
// A clone is made in ranges of this much, each a fraction of a millisecond even for a file in
// many pieces, so that a pause or cancel answers as promptly as after a step of reading.
constexpr qint64 CloneStep = 64 * 1024 * 1024;
// The server's copy within one network share, in ranges of this much: tens of milliseconds each
// at a disk's speed, so that a pause or cancel still answers within a second.
constexpr qint64 ServerCopyStep = 8 * 1024 * 1024;

constexpr qint64 NsPerSecond = 1000000000;

EntryKind kindOf(mode_t mode);
qint64 nanoseconds(const timespec &time);
timespec timeOf(qint64 ns);
// Sets a file's modification time, and its own access time again: some file systems (FAT through
// FUSE) ignore a modification time set alone.
bool setModifiedTime(int fd, const timespec &modified, SystemError *error);
bool setModifiedTimeAt(int folder, const Path &name, const timespec &modified, SystemError *error);
// The descriptor is gone after close() whatever it returns; EINTR does not mean data was lost.
bool closeDescriptor(int fd, SystemError *error);
// A call the system or the file system does not offer.
bool isUnsupported(int error);
// pread(), asked again when a signal interrupts it.
inline ssize_t readFrom(int fd, void *into, size_t length, qint64 at)
{
    ssize_t got;
    do {
        got = ::pread(fd, into, length, at);
    } while (got < 0 && errno == EINTR);
    return got;
}
using Linux::heldInMemory;

struct Folder::Native
{
    explicit Native(int descriptor) : fd(descriptor) {}
    ~Native() { ::close(fd); }
    Native(const Native &) = delete;
    Native &operator=(const Native &) = delete;
    // The folder's descriptor, or -1 for a closed folder, whose every call then fails.
    static int of(const Folder &folder) { return folder.m_native ? folder.m_native->fd : -1; }
    // Takes over an opened descriptor; a closed folder when fd is not one.
    static Folder adopt(int fd, SystemError *error);
    const int fd;
};

struct TransferContext::State
{
    ~State() { closePipe(); }

    bool ensurePipe()
    {
        if (pipe[0] >= 0)
            return true;
        splice = splice && Linux::openPipe(pipe, PipeBytes);
        return splice;
    }
    void closePipe()
    {
        for (int &fd : pipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    char *gatherBuffer()
    {
        if (!buffer)
            buffer = std::make_unique_for_overwrite<char[]>(size_t(GatherBytes + 65536));
        return buffer.get();
    }
    bool refusesClones(quint64 from, quint64 to) const
    {
        return std::find(noClones.cbegin(), noClones.cend(), std::pair(from, to)) !=
               noClones.cend();
    }
    bool refusesUnnamed(quint64 device) const
    {
        return std::find(noUnnamed.cbegin(), noUnnamed.cend(), device) != noUnnamed.cend();
    }

    int pipe[2] = {-1, -1};
    std::unique_ptr<char[]> buffer;
    bool splice = true;
    bool rangeCopy = true;
    Linux::LinkWays linkWays;
    bool noReplaceRename = true;
    bool hardLinks = true;
    bool keepDates = false;
    std::vector<quint64> noUnnamed; // devices whose file system cannot make unnamed files
    // Pairs of source and destination devices between which files cannot share blocks.
    std::vector<std::pair<quint64, quint64>> noClones;
    // Devices known to be network shares, or not, and those whose server will not copy.
    std::vector<std::pair<quint64, bool>> remote;
    std::vector<quint64> noServerCopy;
    bool isRemote(quint64 device, int folder);
    bool serverCopies(quint64 device) const
    {
        return std::find(noServerCopy.cbegin(), noServerCopy.cend(), device) == noServerCopy.cend();
    }
    // Of the file in hand, with digests on: small files are hashed as they are read, large ones
    // by a thread of their own behind the copy.
    std::unique_ptr<Digester> digester;
    std::unique_ptr<FollowingDigest> follower;
};

struct Transfer::Files
{
    int source = -1;
    int temporary = -1;
    int targetFolder = -1;
    quint64 sourceDevice = 0;
    quint64 targetDevice = 0;
    Path temporaryName;
    bool unnamed = false;
    bool named = false; // a file bears the temporary name
    bool viaPipe = false;
    // On the way to a clone of the source: no byte of it passes through the job.
    bool cloning = false;
    // Within one network share, copied by its server: no byte of it crosses the network.
    bool serverCopy = false;
    bool sparse = false;
    // The source as it was opened: a copy is whole only if it still is so at the end.
    struct stat opened = {};
    qint64 readAt = 0;           // next source byte to read
    qint64 writeAt = 0;          // where the data held back begins in the copy
    qint64 held = 0;             // bytes gathered and not yet written
    bool releaseCopy = false;    // large, and on a file system that writes to a device
    bool releaseSource = false;  // large, and on a file system that reads from one
    qint64 releasedTo = 0;       // the copy is on the device and out of the cache up to here
    qint64 sourceReleasedTo = 0; // the source is out of the cache up to here
    qint64 dataEnd = 0;          // end of the source's current run of data
    // The digest is taken behind the copy, on the digest's own thread; and what it came to.
    bool following = false;
    Digest digest;

    // Writes out the data held back: all of it, or only what ends on an aligned offset.
    enum class Drain
    {
        // Only what ends on an aligned offset; the rest waits for more.
        Aligned,
        All
    };
    bool drain(TransferContext::State &context, Drain how, SystemError *error);
    bool releaseBehind(TransferContext::State &context, SystemError *error);
    Transfer::Result passHole(TransferContext::State &context, qint64 size, qint64 *advanced,
                              SystemError *error);
    bool copyInOne(TransferContext::State &context, size_t want, qint64 *advanced);
    // The next range of the clone; false, with nothing cloned, where there can be no clone.
    bool cloneStep(TransferContext::State &context, qint64 size, qint64 *advanced);
    // The next range of the server's copy; false, with nothing copied, where it will not.
    bool serverCopyStep(TransferContext::State &context, qint64 size, qint64 *advanced);
    // Past a range that did not pass through the job: the digest and the cache follow.
    bool passedBy(TransferContext::State &context, qint64 length, qint64 *advanced);
    void beginDigest(TransferContext::State &context, qint64 size);
    bool hashSource(TransferContext::State &context, qint64 from, qint64 length);
    Transfer::Result readIntoPipe(TransferContext::State &context, size_t want, ssize_t *got,
                                  SystemError *error);
    Transfer::Result sourceUnchanged(SystemError *error) const;
    enum class Naming
    {
        // The copy takes the temporary name, on its way to replace the destination.
        Temporary,
        Final
    };
    Transfer::Placed giveName(TransferContext::State &context, Naming naming, const char *name,
                              SystemError *error);
    Transfer::Placed renameKeeping(TransferContext::State &context, const char *name,
                                   SystemError *error);
    Transfer::Placed placeAs(TransferContext::State &context, const Path &name, Existing existing,
                             SystemError *error);
    // With dates kept: the time a named copy bore under its temporary name.
    timespec dated = {};
};

} // namespace NativeFs
