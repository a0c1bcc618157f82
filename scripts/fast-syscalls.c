/* Preloaded into the 32-bit Wine processes of make test, make bench and make run where
 * the kernel runs i386 code itself (wine-root.sh builds it; KESTRAND_FAST_SYSCALLS=0 leaves
 * it out).
 *
 * The root's i386 glibc makes read, write, pread64 and pwrite64 through the vDSO only while
 * the process has never had a second thread. From the first thread on (Wine starts one for
 * _beginthread, for the Open dialog, ...) it takes its cancellable path, which on i386
 * enters the kernel with int $0x80, and on some virtual machines that costs a hundred times
 * the vDSO's entry: the split's writer thread then pays it twice per 512-byte block.
 *
 * These four make the same system call through glibc's syscall(), which enters through the
 * vDSO and sets errno as the originals do. What they give up is only being cancellation
 * points, and nothing these processes load cancels a thread: no library of Wine's calls
 * pthread_cancel; in the root only libavformat and libsrt do, for media streams that
 * neither Kestrand nor its tests open.
 *
 * Built twice from this file: for i386, and empty for x86-64, so that LD_PRELOAD can name
 * it through ld.so's $LIB and the 64-bit processes of a run load a twin that does nothing. */
#if defined(__i386__)

typedef __SIZE_TYPE__ size_t;
typedef int ssize_t;
typedef long long off64_t;

long syscall(long number, ...);

/* The i386 system call numbers (arch/x86/entry/syscalls/syscall_32.tbl). */
enum { i386_read = 3, i386_write = 4, i386_pread64 = 180, i386_pwrite64 = 181 };

ssize_t read(int fd, void *buffer, size_t count)
{
    return syscall(i386_read, fd, buffer, count);
}

ssize_t write(int fd, const void *buffer, size_t count)
{
    return syscall(i386_write, fd, buffer, count);
}

/* The kernel takes the 64-bit offset as two words, low one first. */
ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset)
{
    return syscall(i386_pread64, fd, buffer, count, (unsigned long)offset,
                   (unsigned long)((unsigned long long)offset >> 32));
}

ssize_t pwrite64(int fd, const void *buffer, size_t count, off64_t offset)
{
    return syscall(i386_pwrite64, fd, buffer, count, (unsigned long)offset,
                   (unsigned long)((unsigned long long)offset >> 32));
}

#endif
