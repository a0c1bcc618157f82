// The baseline: the same byte range copied with bare 512-byte ReadFile/WriteFile calls.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 4) {
        printf("usage: copy_loop SOURCE DEST BYTES\n");
        return 2;
    }
    unsigned long long left = strtoull(argv[3], nullptr, 10);
    HANDLE in = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE out = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) return 1;
    static char block[512];
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    while (left > 0) {
        DWORD n = left < sizeof block ? DWORD(left) : DWORD(sizeof block), got = 0, put = 0;
        if (!ReadFile(in, block, n, &got, nullptr) || got != n) return 1;
        if (!WriteFile(out, block, n, &put, nullptr) || put != n) return 1;
        left -= n;
    }
    QueryPerformanceCounter(&t1);
    CloseHandle(in);
    CloseHandle(out);
    printf("copy_seconds %.4f\n", double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart));
    return 0;
}
