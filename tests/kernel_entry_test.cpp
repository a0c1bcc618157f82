// The test platform itself: where the runner preloads scripts/fast-syscalls.c into Wine's
// 32-bit processes, reads cost no more after a process's first thread than before it.
// Without the preload, on hosts where int $0x80 is slow, they cost many times more; that
// is the host's, so it is printed, not asserted.
#include <gtest/gtest.h>
#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/kernel_entry.h"
#include "support/files.h"

namespace {

const char preloadName[] = "libkestrand-fast-syscalls.so";
constexpr int blocksPerRound = 500;

unsigned __stdcall emptyThread(void *)
{
    return 0;
}

// Microseconds per 512-byte ReadFile, the least over rounds of reading the file once.
double readMicroseconds(HANDLE file)
{
    char block[512];
    int failures = 0;
    double perRound = leastMicroseconds(20, 1, [&] {
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        for (int i = 0; i < blocksPerRound; ++i) {
            DWORD got = 0;
            if (!ReadFile(file, block, sizeof block, &got, nullptr) || got != sizeof block) ++failures;
        }
    });
    EXPECT_EQ(failures, 0);
    return perRound / blocksPerRound;
}

}  // namespace

TEST(KernelEntry, ReadsAfterAFirstThreadCostWhatTheyDidBeforeWithThePreload)
{
    TempFolder folder;
    const std::string path = folder / "blocks.bin";
    writeFile(path, randomBytes(512 * blocksPerRound, 21));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    const double before = readMicroseconds(file);
    HANDLE thread = HANDLE(_beginthreadex(nullptr, 0, emptyThread, nullptr, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    const double after = readMicroseconds(file);
    CloseHandle(file);

    const bool preloaded = libraryMapped(ownProcFolder(), preloadName);
    const EntryCosts entry = kernelEntryCosts();
    printf("512-byte read: %.2f us before a first thread, %.2f us after it (%.1f times); "
           "kernel entry: int $0x80 %.3f us, vDSO %.3f us; preload %s\n",
           before, after, after / before, entry.int80, entry.vdso, preloaded ? "in force" : "not in force");

    // The runner names the preload only where it has built it for this process's loader.
    const char *named = getenv("LD_PRELOAD");
    if (named && strstr(named, preloadName)) {
        EXPECT_TRUE(preloaded) << "LD_PRELOAD=" << named;
    }
    if (preloaded) {
        EXPECT_LE(after, 2 * before);
    }
}
