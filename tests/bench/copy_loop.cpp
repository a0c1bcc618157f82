// The baseline: the split's own work with nothing around it. The pieces are created in
// FOLDER as 01, 02, ..., each copied with 512-byte ReadFile/WriteFile calls (full blocks
// while more than 512 bytes are left, then the rest), flushed and closed, as the piece
// writer does. Timed from each piece's creation to its close.
//
// Each piece's bytes are hashed (SHA-1 through CryptoAPI, block by block once written), as
// the writer does for the joining script, and once closed the piece is read back past the
// system's cache (FILE_FLAG_NO_BUFFERING, 64 KiB reads into an aligned buffer), hashed
// again and compared, as the writer does before it lists a piece. Timed from each piece's
// creation to the end of its check.
//
// "threaded": the loop runs on a thread started with _beginthread, in a process with a
// window that pumps its messages meanwhile, as the split's writer does: like with like.
// "unchecked": the same without the read-back, to show what the check costs.
// "bare": the same without the hashing and without the read-back.
// "plain": the loop runs in a process that never starts a thread; on some hosts a 32-bit
// process enters the kernel far more slowly once it has had one, so this one also times
// the two ways of entering it (kernel_entry.h).
#include <windows.h>
#include <wincrypt.h>
#include <process.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/clock.h"
#include "bench/kernel_entry.h"
#include "bench/unix_cpu.h"

namespace {

char block[512];
bool hashing = true;
bool checking = true;
HCRYPTHASH hash = 0;
constexpr DWORD checkBytes = 65536;
alignas(8192) char checkBlock[checkBytes];

bool copyBytes(HANDLE in, HANDLE out, DWORD bytes)
{
    DWORD got = 0, put = 0;
    return ReadFile(in, block, bytes, &got, nullptr) && got == bytes &&
           WriteFile(out, block, bytes, &put, nullptr) && put == bytes &&
           (!hash || CryptHashData(hash, reinterpret_cast<const BYTE *>(block), bytes, 0));
}

double flushing = 0;
double checkingSeconds = 0;
HCRYPTPROV provider = 0;

bool startHash()
{
    return CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
           CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash);
}

bool finishHash(BYTE *value)
{
    DWORD size = 20;
    bool ok = hash && CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0);
    if (hash) CryptDestroyHash(hash);
    if (provider) CryptReleaseContext(provider, 0);
    hash = 0;
    provider = 0;
    return ok;
}

// The piece as its disk gives it back: its size and its SHA-1 against the written ones.
bool checkPiece(const std::string &path, unsigned long bytes, const BYTE *written)
{
    HANDLE piece = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (piece == INVALID_HANDLE_VALUE) return false;
    bool ok = startHash();
    unsigned long total = 0;
    for (DWORD got = checkBytes; ok && got == checkBytes;) {
        ok = ReadFile(piece, checkBlock, checkBytes, &got, nullptr) &&
             (got == 0 || CryptHashData(hash, reinterpret_cast<const BYTE *>(checkBlock), got, 0));
        total += got;
    }
    BYTE value[20];
    ok = finishHash(value) && ok && total == bytes && memcmp(value, written, sizeof value) == 0;
    return CloseHandle(piece) && ok;
}

bool copyPiece(HANDLE in, const std::string &path, unsigned long left)
{
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    const unsigned long bytes = left;
    bool ok = !hashing || startHash();
    for (; ok && left > sizeof block; left -= sizeof block) ok = copyBytes(in, out, sizeof block);
    if (ok && left > 0) ok = copyBytes(in, out, left);
    BYTE value[20];
    if (hashing) ok = finishHash(value) && ok;
    double start = now();
    ok = ok && FlushFileBuffers(out);
    flushing += now() - start;
    ok = CloseHandle(out) && ok;
    if (!ok || !checking) return ok;
    start = now();
    ok = checkPiece(path, bytes, value);
    checkingSeconds += now() - start;
    return ok;
}

// Whether an unbuffered read of FILE reaches the page cache: the bench looks at the file's
// cached pages before and after (fincore). "buffered" reads it the ordinary way, to show
// that the look sees a read at all.
int probe(const char *path, bool unbuffered)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              unbuffered ? FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN : 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return printf("copy_loop: cannot open %s (%lu)\n", path, GetLastError()), 1;
    unsigned long total = 0;
    DWORD got = checkBytes;
    while (got == checkBytes && ReadFile(file, checkBlock, checkBytes, &got, nullptr)) total += got;
    CloseHandle(file);
    printf("probe_read_bytes %lu\n", total);
    return 0;
}

// The pieces of the command line, in order; their times go out as MODE_loop_... lines.
struct Job {
    const char *mode;
    HANDLE in;
    std::string folder;
    char **sizes;
    int count;
    double seconds[20];
    int failed;  // the piece that failed, or 0
    DWORD error;
};

Job job;

void copyPieces()
{
    for (int i = 0; i < job.count && i < 20; ++i) {
        char name[8];
        snprintf(name, sizeof name, "\\%02d", i + 1);
        double start = now();
        if (!copyPiece(job.in, job.folder + name, strtoul(job.sizes[i], nullptr, 10))) {
            job.failed = i + 1;
            job.error = GetLastError();
            return;
        }
        job.seconds[i] = now() - start;
    }
}

std::atomic<int> threadDone{0};
HWND window;

void __cdecl copyOnThread(void *)
{
    copyPieces();
    threadDone.store(1);
    PostMessageA(window, WM_NULL, 0, 0);  // wakes the pump
    _endthread();
}

// A window of its own, shown, and the loop on a thread while this one pumps messages.
bool copyOnThreadBesideWindow()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KestrandCopyLoop";
    if (!RegisterClassA(&windowClass)) return false;
    window = CreateWindowExA(0, windowClass.lpszClassName, "copy loop", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                             400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) return false;
    if (_beginthread(copyOnThread, 0, nullptr) == uintptr_t(-1)) return false;
    MSG message;
    while (threadDone.load() == 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
    DestroyWindow(window);
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && (strcmp(argv[1], "unbuffered") == 0 || strcmp(argv[1], "buffered") == 0))
        return probe(argv[2], argv[1][0] == 'u');
    const bool bare = argc >= 5 && strcmp(argv[1], "bare") == 0;
    const bool unchecked = argc >= 5 && strcmp(argv[1], "unchecked") == 0;
    const bool threaded = argc >= 5 && (strcmp(argv[1], "threaded") == 0 || bare || unchecked);
    if (argc < 5 || argc > 24 || (!threaded && strcmp(argv[1], "plain") != 0)) {
        printf("usage: copy_loop threaded|unchecked|bare|plain SOURCE FOLDER PIECE_BYTES...\n"
               "       copy_loop unbuffered|buffered FILE\n");
        return 2;
    }
    hashing = !bare;
    checking = !bare && !unchecked;
    job.mode = argv[1];
    job.folder = argv[3];
    job.sizes = argv + 4;
    job.count = argc - 4;
    const std::string self = ownStat();
    job.in = CreateFileA(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (job.in == INVALID_HANDLE_VALUE) return printf("copy_loop: cannot open %s\n", argv[2]), 1;
    if (!CreateDirectoryA(job.folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return printf("copy_loop: cannot create %s\n", job.folder.c_str()), 1;
    double cpuStart = unixCpuSeconds(self);
    if (threaded) {
        if (!copyOnThreadBesideWindow()) return printf("copy_loop: no window or thread (%lu)\n", GetLastError()), 1;
    } else {
        copyPieces();
    }
    double cpu = self.empty() ? -1 : unixCpuSeconds(self) - cpuStart;
    CloseHandle(job.in);
    if (job.failed) return printf("copy_loop: piece %d failed (%lu)\n", job.failed, job.error), 1;
    double total = 0;
    for (int i = 0; i < job.count; ++i) {
        printf("%s_loop_piece%d_seconds %.4f\n", job.mode, i + 1, job.seconds[i]);
        total += job.seconds[i];
    }
    printf("%s_loop_cpu_seconds %.4f\n", job.mode, cpu);
    printf("%s_loop_seconds %.4f\n", job.mode, total);
    printf("%s_loop_flush_seconds %.4f\n", job.mode, flushing);
    printf("%s_loop_check_seconds %.4f\n", job.mode, checkingSeconds);
    if (strcmp(job.mode, "plain") == 0) {
        EntryCosts costs = kernelEntryCosts();
        printf("int80_us %.3f\n", costs.int80);
        printf("vdso_us %.3f\n", costs.vdso);
    }
    return 0;
}
