#!/usr/bin/python3
# A file system that lies as a counterfeit USB stick does: it keeps what is written, but once a
# file has been written and closed, every byte past a given offset reads back as other bytes.
# Its listings do not say what an entry is, and it will not describe one whose name begins with
# "eio-", as a failing disk would not.
# Usage: lyingfs.py BACKING MOUNTPOINT OFFSET
import errno
import os
import sys

from fusepy import FUSE, FuseOSError, Operations


class Lying(Operations):
    def __init__(self, root, offset):
        self.root = root
        self.offset = offset
        self.writing = set()  # handles written through
        self.lying = set()  # inodes written and closed

    def _at(self, path):
        return os.path.join(self.root, path.lstrip('/'))

    def getattr(self, path, fh=None):
        if os.path.basename(path).startswith('eio-'):
            raise FuseOSError(errno.EIO)
        st = os.lstat(self._at(path))
        keys = ('st_mode', 'st_nlink', 'st_size', 'st_uid', 'st_gid', 'st_atime', 'st_mtime',
                'st_ctime', 'st_ino')
        return {key: getattr(st, key) for key in keys}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._at(path))

    def statfs(self, path):
        st = os.statvfs(self._at(path))
        return {key: getattr(st, key) for key in ('f_bsize', 'f_frsize', 'f_blocks', 'f_bfree',
                                                   'f_bavail', 'f_files', 'f_ffree', 'f_namemax')}

    def mkdir(self, path, mode):
        os.mkdir(self._at(path), mode)

    def unlink(self, path):
        os.unlink(self._at(path))

    def rename(self, old, new):
        os.rename(self._at(old), self._at(new))

    def link(self, target, source):
        os.link(self._at(source), self._at(target))

    def chmod(self, path, mode):
        os.chmod(self._at(path), mode)

    def utimens(self, path, times=None):
        os.utime(self._at(path), times)

    def truncate(self, path, length, fh=None):
        os.truncate(self._at(path), length)

    def create(self, path, mode, fi=None):
        return os.open(self._at(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def open(self, path, flags):
        return os.open(self._at(path), flags & ~os.O_NOFOLLOW)

    def write(self, path, data, offset, fh):
        self.writing.add(fh)
        return os.pwrite(fh, data, offset)

    def read(self, path, size, offset, fh):
        data = os.pread(fh, size, offset)
        if os.fstat(fh).st_ino in self.lying and offset + len(data) > self.offset:
            cut = max(0, self.offset - offset)
            data = data[:cut] + bytes(byte ^ 0xff for byte in data[cut:])
        return data

    def release(self, path, fh):
        if fh in self.writing:
            self.writing.discard(fh)
            self.lying.add(os.fstat(fh).st_ino)
        os.close(fh)

    def fsync(self, path, datasync, fh):
        return 0


if __name__ == '__main__':
    FUSE(Lying(sys.argv[1], int(sys.argv[3])), sys.argv[2], foreground=True, nothreads=True)
