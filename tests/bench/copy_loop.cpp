// The baseline: the split's own work with nothing around it. The pieces are created in
// FOLDER as 01, 02, ..., each copied with 512-byte ReadFile/WriteFile calls (full blocks
// while more than 512 bytes are left, then the rest), flushed and closed, as the piece
// writer does. Timed from each piece's creation to its close.
//
// Each piece's bytes are hashed (SHA-1 through CryptoAPI, block by block once written), as
// the writer does for the joining script; "bare" leaves that out, to show what it costs.
//
// "threaded": the loop runs on a thread started with _beginthread, in a process with a
// window that pumps its messages meanwhile, as the split's writer does: like with like.
// "bare": the same without the hashing.
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
HCRYPTHASH hash = 0;

bool copyBytes(HANDLE in, HANDLE out, DWORD bytes)
{
    DWORD got = 0, put = 0;
    return ReadFile(in, block, bytes, &got, nullptr) && got == bytes &&
           WriteFile(out, block, bytes, &put, nullptr) && put == bytes &&
           (!hash || CryptHashData(hash, reinterpret_cast<const BYTE *>(block), bytes, 0));
}

double flushing = 0;

bool copyPiece(HANDLE in, const std::string &path, unsigned long left)
{
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    HCRYPTPROV provider = 0;
    if (hashing) {
        ok = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
             CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash);
    }
    for (; ok && left > sizeof block; left -= sizeof block) ok = copyBytes(in, out, sizeof block);
    if (ok && left > 0) ok = copyBytes(in, out, left);
    if (hashing) {
        BYTE value[20];
        DWORD size = sizeof value;
        ok = ok && CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0);
        if (hash) CryptDestroyHash(hash);
        if (provider) CryptReleaseContext(provider, 0);
        hash = 0;
    }
    double start = now();
    ok = ok && FlushFileBuffers(out);
    flushing += now() - start;
    return CloseHandle(out) && ok;
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
    const bool bare = argc >= 5 && strcmp(argv[1], "bare") == 0;
    const bool threaded = argc >= 5 && (strcmp(argv[1], "threaded") == 0 || bare);
    if (argc < 5 || argc > 24 || (!threaded && strcmp(argv[1], "plain") != 0)) {
        printf("usage: copy_loop threaded|bare|plain SOURCE FOLDER PIECE_BYTES...\n");
        return 2;
    }
    hashing = !bare;
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
    if (strcmp(job.mode, "plain") == 0) {
        EntryCosts costs = kernelEntryCosts();
        printf("int80_us %.3f\n", costs.int80);
        printf("vdso_us %.3f\n", costs.vdso);
    }
    return 0;
}
