#!/usr/bin/python3
# A disk that claims more room than it keeps, as fake sticks do: statfs says CLAIMS bytes,
# but the 4 KiB blocks of files are handed out in write order round a ring of KEEPS bytes,
# so data written past KEEPS lands on earlier data while every file keeps its size.
# Mounted direct_io: every read is answered here, never from the kernel's cache.
# Files named eio*: a read that reaches 64 KiB or past fails with EIO; writes succeed.
# Files named slow*: the first such read (again once the file is emptied) creates /slowread,
# then waits for /slowgo (at most 120 s) and answers normally.
# Usage, as root: /usr/bin/python3 fake_disk.py MOUNTPOINT KEEPS CLAIMS
import ctypes, errno, itertools, stat, sys, threading, time
from fusepy import FUSE, FuseOSError, Operations

B, LIMIT = 4096, 64 * 1024
up = lambda n: -(-n // B)  # blocks that n bytes take
parent = lambda path: path.rsplit('/', 1)[0] or '/'

class FakeDisk(Operations):
    def __init__(self, keeps, claims):
        self.ring, self.claims, self.turn, self.mutex = bytearray(keeps), claims, 0, threading.Lock()
        self.inos = itertools.count(1)  # a file's number for life, renames included: its identity
        self.nodes = {'/': self.node(stat.S_IFDIR | 0o777)}

    def node(self, mode):
        t = time.time()
        return dict(st_mode=mode, st_ino=next(self.inos), st_nlink=1, st_size=0, st_atime=t, st_mtime=t, st_ctime=t,
                    blocks={}, waited=False)

    def __call__(self, op, path, *args):
        if op == 'read': self.wait_if_slow(path, *args[:2])
        with self.mutex: return super().__call__(op, path, *args)

    def get(self, path):
        if path not in self.nodes: raise FuseOSError(errno.ENOENT)
        return self.nodes[path]

    def past_limit(self, path, word, size, offset):
        f = self.nodes.get(path)
        return f and path.rsplit('/', 1)[1].lower().startswith(word) and min(offset + size, f['st_size']) > LIMIT

    def wait_if_slow(self, path, size, offset):
        with self.mutex:
            if not self.past_limit(path, 'slow', size, offset) or self.nodes[path]['waited']: return
            self.nodes[path]['waited'], self.nodes['/slowread'] = True, self.node(stat.S_IFREG | 0o666)
        for _ in range(1200):
            if '/slowgo' in self.nodes: return
            time.sleep(0.1)

    def add(self, path, mode):
        if not self.get(parent(path))['st_mode'] & stat.S_IFDIR: raise FuseOSError(errno.ENOTDIR)
        self.nodes[path] = self.node(mode)
        return 0

    def create(self, path, mode, fi=None): return self.add(path, stat.S_IFREG | 0o666)
    def mkdir(self, path, mode): return self.add(path, stat.S_IFDIR | 0o777)
    def getattr(self, path, fh=None): return self.get(path)
    def open(self, path, flags): return self.get(path) and 0
    def chmod(self, path, mode): return self.get(path) and 0
    def chown(self, path, uid, gid): return self.get(path) and 0
    def utimens(self, path, times=None): self.get(path).update(zip(('st_atime', 'st_mtime'), times or (time.time(),) * 2))
    def readdir(self, path, fh): return ['.', '..'] + [p.rsplit('/', 1)[1] for p in self.nodes if p != '/' and parent(p) == path]
    def unlink(self, path): del self.nodes[self.get(path) and path]

    def rmdir(self, path):
        if self.readdir(self.get(path) and path, 0)[2:]: raise FuseOSError(errno.ENOTEMPTY)
        del self.nodes[path]

    def rename(self, old, new):
        if self.get(old) and new in self.nodes and self.readdir(new, 0)[2:]: raise FuseOSError(errno.ENOTEMPTY)
        for p in [p for p in self.nodes if p == old or p.startswith(old + '/')]: self.nodes[new + p[len(old):]] = self.nodes.pop(p)

    def statfs(self, path):
        free = max(0, up(self.claims) - sum(up(f['st_size']) for f in self.nodes.values()))
        return dict(f_bsize=B, f_frsize=B, f_blocks=up(self.claims), f_bfree=free, f_bavail=free, f_namemax=255)

    def truncate(self, path, length, fh=None):
        f, b, o = self.get(path), *divmod(length, B)
        f['blocks'] = {k: s for k, s in f['blocks'].items() if k * B < length}
        if o and b in f['blocks']: self.ring[f['blocks'][b] * B + o:(f['blocks'][b] + 1) * B] = bytes(B - o)
        f['st_size'], f['waited'], f['st_mtime'] = length, f['waited'] and length > 0, time.time()

    def write(self, path, data, offset, fh):
        f, done = self.get(path), 0
        if up(offset + len(data)) - up(f['st_size']) > self.statfs(path)['f_bfree']: raise FuseOSError(errno.ENOSPC)
        while done < len(data):
            b, o = divmod(offset + done, B)
            n = min(B - o, len(data) - done)
            if b not in f['blocks']:
                f['blocks'][b], self.turn = self.turn, (self.turn + 1) % (len(self.ring) // B)
                self.ring[f['blocks'][b] * B:(f['blocks'][b] + 1) * B] = bytes(B)
            self.ring[f['blocks'][b] * B + o:f['blocks'][b] * B + o + n] = data[done:done + n]
            done += n
        f['st_size'], f['st_mtime'] = max(f['st_size'], offset + len(data)), time.time()
        return len(data)

    def read(self, path, size, offset, fh):
        f, out = self.get(path), bytearray()
        if self.past_limit(path, 'eio', size, offset): raise FuseOSError(errno.EIO)
        end = min(offset + size, f['st_size'])
        while offset + len(out) < end:
            b, o = divmod(offset + len(out), B)
            s, n = f['blocks'].get(b), min(B - o, end - offset - len(out))
            out += bytes(n) if s is None else self.ring[s * B + o:s * B + o + n]
        return bytes(out)

if __name__ == '__main__':
    ctypes.CDLL(None).prctl(1, 9)  # PR_SET_PDEATHSIG: ends with the runner, even a killed one
    FUSE(FakeDisk(int(sys.argv[2]), int(sys.argv[3])), sys.argv[1], foreground=True, allow_other=True,
         direct_io=True, use_ino=True, fsname='kestrand-fake-disk')
