#pragma once

// Linux's own calls, with which the POSIX room (nativefs_posix.cpp) copies faster and leaves
// nothing behind a crash: files without a name until complete, the kernel moving bytes itself,
// the page cache let go behind a large copy, the file system's own write-out. Each says when it
// could not; the POSIX way is then taken. Built from nativefs_linux.cpp where the system has
// them (CMake checks each call), else from nativefs_linux_stub.cpp, where none can.

#include "engine/nativefs.h"

#include <functional>

#include <sys/types.h>

namespace NativeFs::Linux {

// The file system keeps its files in memory (tmpfs, ramfs): letting their pages go frees
// nothing.
bool heldInMemory(int fd);
// The file system lies across a network (NFS, SMB, 9p, SSHFS and other network file systems
// through FUSE).
bool isRemote(int fd);
// The file system is FAT's (the kernel's vfat or msdos, or FAT through FUSE).
bool isFat(int fd);
// The file system can share blocks between files as a kind: btrfs; XFS only where it was made
// with reflink, which its kind does not tell (false then: the caller asks the file system).
bool sharesBlocksByKind(int fd);
// Waits until what was written to fd's file system is on the device.
bool syncFileSystem(int fd, SystemError *error);

// The next of the kernel's own batches of fd's entries, each handed to each() with its type
// (DT_UNKNOWN where the file system does not say). False at the end, and on a failure, which
// sets *error; ENOSYS where there is no such call.
bool readEntries(int fd, char *buffer, size_t size,
                 const std::function<void(const char *name, unsigned char type)> &each,
                 SystemError *error);

// A file without a name in folder, made with mode: a crash leaves nothing of it. -1 with errno
// where the system or the file system has none.
int openUnnamed(int folder, mode_t mode);
// The ways to give an unnamed file a name that still work in this job.
struct LinkWays
{
    bool emptyPath = true;
    bool procFd = true;
    bool any() const { return emptyPath || procFd; }
};
// Gives the unnamed file fd the name in folder; 0, or -1 with errno.
int linkUnnamed(int fd, int folder, const char *name, LinkWays *ways);

// A pipe of at least bytes, non-blocking, for the kernel to move a file's pages through.
bool openPipe(int pipe[2], int bytes);
// From source at *at into the pipe; from the pipe into target at at. The count, or -1.
ssize_t spliceIn(int source, qint64 *at, int pipeIn, size_t length);
ssize_t spliceOut(int pipeOut, int target, qint64 at, size_t length);
// The kernel's copy of length bytes from source at at to target at the same place; on a network
// file system the server's own (NFS 4.2, SMB 3, SFTP's copy-data), no byte crossing the network.
ssize_t copyRange(int source, int target, qint64 at, size_t length);
// Makes a range of target share source's blocks at the same place (a clone): no data is read
// or written, and nothing more is used until either file changes. 0, or -1 with errno (EXDEV
// between file systems, EOPNOTSUPP or EINVAL where the file system cannot share blocks).
int cloneRange(int source, int target, qint64 at, qint64 length);

// Starts writing a range of fd out; waits until a range is on the device (0, or -1 with
// errno: a write-out failure of that range shows here).
void startWriteOut(int fd, qint64 at, qint64 length);
int waitWrittenOut(int fd, qint64 at, qint64 length);
// Lets what the system holds of a range of fd in memory go; the file is read from its start
// to its end.
void dropCache(int fd, qint64 at, qint64 length);
void readSequentially(int fd);

// Renames from to to within folder, never replacing what bears to; 0, or -1 with errno.
int renameNoReplace(int folder, const char *from, const char *to);

} // namespace NativeFs::Linux
