// The baseline: the split's own work with nothing around it. The pieces are created in
// FOLDER as 01, 02, ..., each copied with 512-byte ReadFile/WriteFile calls (full blocks
// while more than 512 bytes are left, then the rest), flushed and closed, as the piece
// writer does. Timed from each piece's creation to its close.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/clock.h"
#include "bench/unix_cpu.h"

namespace {

char block[512];

bool copyBytes(HANDLE in, HANDLE out, DWORD bytes)
{
    DWORD got = 0, put = 0;
    return ReadFile(in, block, bytes, &got, nullptr) && got == bytes &&
           WriteFile(out, block, bytes, &put, nullptr) && put == bytes;
}

double flushing = 0;

bool copyPiece(HANDLE in, const std::string &path, unsigned long left)
{
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (; ok && left > sizeof block; left -= sizeof block) ok = copyBytes(in, out, sizeof block);
    if (ok && left > 0) ok = copyBytes(in, out, left);
    double start = now();
    ok = ok && FlushFileBuffers(out);
    flushing += now() - start;
    return CloseHandle(out) && ok;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        printf("usage: copy_loop SOURCE FOLDER PIECE_BYTES...\n");
        return 2;
    }
    std::string folder = argv[2];
    const std::string self = ownStat();
    HANDLE in = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return printf("copy_loop: cannot open %s\n", argv[1]), 1;
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return printf("copy_loop: cannot create %s\n", folder.c_str()), 1;
    double total = 0, cpuStart = unixCpuSeconds(self);
    for (int i = 3; i < argc; ++i) {
        char name[8];
        snprintf(name, sizeof name, "\\%02d", i - 2);
        double start = now();
        if (!copyPiece(in, folder + name, strtoul(argv[i], nullptr, 10)))
            return printf("copy_loop: piece %d failed (%lu)\n", i - 2, GetLastError()), 1;
        double seconds = now() - start;
        printf("loop_piece%d_seconds %.4f\n", i - 2, seconds);
        total += seconds;
    }
    double cpu = self.empty() ? -1 : unixCpuSeconds(self) - cpuStart;
    CloseHandle(in);
    printf("loop_cpu_seconds %.4f\n", cpu);
    printf("loop_seconds %.4f\n", total);
    printf("loop_flush_seconds %.4f\n", flushing);
    return 0;
}
