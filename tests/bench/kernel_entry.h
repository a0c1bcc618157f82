// How this 32-bit process enters the Linux kernel. Under Wine's 32-bit loader a PE program
// is an i386 Linux process, so it can time the two ways itself: int $0x80, which the
// root's i386 glibc takes for read and write once a process has had a second thread, and
// the vDSO's __kernel_vsyscall (sysenter or syscall), which it takes before that and which
// scripts/fast-syscalls.c keeps for good. Under qemu-i386 both are the emulator's.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/clock.h"
#include "bench/unix_cpu.h"

enum : long { i386_getpid = 20 };
enum : uint32_t { auxv_sysinfo = 32 };  // AT_SYSINFO: __kernel_vsyscall

inline long getpidByInt80()
{
    long pid;
    asm volatile("int $0x80" : "=a"(pid) : "0"(i386_getpid) : "memory");
    return pid;
}

// __kernel_vsyscall keeps every register but eax.
inline long getpidThrough(uintptr_t vsyscall)
{
    long pid;
    asm volatile("call *%1" : "=a"(pid) : "r"(vsyscall), "0"(i386_getpid) : "memory", "cc");
    return pid;
}

// This process's /proc folder as Wine shows it (Z:\proc\PID); its Linux id comes from the
// kernel itself.
inline std::string ownProcFolder()
{
    return "Z:\\proc\\" + std::to_string(getpidByInt80());
}

// The [start, end) ranges of the lines of /proc/PID/maps that contain `name`, tested with
// `inside`; true when one of them holds.
template <class Test>
bool anyMapping(const std::string &maps, const char *name, Test inside)
{
    size_t line = 0;
    while (line < maps.size()) {
        size_t end = maps.find('\n', line);
        if (end == std::string::npos) end = maps.size();
        std::string text = maps.substr(line, end - line);
        if (text.find(name) != std::string::npos) {
            char *rest = nullptr;
            uintptr_t from = strtoul(text.c_str(), &rest, 16);
            uintptr_t to = *rest == '-' ? strtoul(rest + 1, nullptr, 16) : 0;
            if (inside(from, to)) return true;
        }
        line = end + 1;
    }
    return false;
}

// Whether the shared object `name` is mapped into the process whose /proc folder is given.
inline bool libraryMapped(const std::string &procFolder, const char *name)
{
    return anyMapping(readProcFile(procFolder + "\\maps"), name, [](uintptr_t, uintptr_t) { return true; });
}

// __kernel_vsyscall's address from the kernel's auxiliary vector, or 0 when there is none
// or it lies outside the vDSO that is mapped.
inline uintptr_t vsyscallEntry()
{
    const std::string folder = ownProcFolder();
    const std::string auxv = readProcFile(folder + "\\auxv");
    uintptr_t entry = 0;
    for (size_t at = 0; at + 8 <= auxv.size(); at += 8) {
        uint32_t type, value;
        memcpy(&type, auxv.data() + at, 4);
        memcpy(&value, auxv.data() + at + 4, 4);
        if (type == auxv_sysinfo) entry = value;
    }
    if (entry == 0) return 0;
    bool inVdso = anyMapping(readProcFile(folder + "\\maps"), "[vdso]",
                             [entry](uintptr_t from, uintptr_t to) { return entry >= from && entry < to; });
    return inVdso ? entry : 0;
}

// Microseconds per call of `work`, the least over `rounds` rounds of `calls` calls: another
// process taking the core lengthens only the rounds it falls in.
template <class Work>
double leastMicroseconds(int rounds, int calls, Work work)
{
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        double start = now();
        for (int i = 0; i < calls; ++i) work();
        best = std::min(best, (now() - start) * 1e6 / calls);
    }
    return best;
}

// One kernel entry by int $0x80 and one through the vDSO, in microseconds (-1 where the
// process has no vDSO entry).
struct EntryCosts {
    double int80;
    double vdso;
};

inline EntryCosts kernelEntryCosts()
{
    EntryCosts costs{leastMicroseconds(10, 1000, [] { getpidByInt80(); }), -1};
    uintptr_t vsyscall = vsyscallEntry();
    if (vsyscall) costs.vdso = leastMicroseconds(10, 1000, [vsyscall] { getpidThrough(vsyscall); });
    return costs;
}
