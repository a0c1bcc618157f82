// One timed split of a large file into two pieces through the real window of Kestrand.exe,
// driven from this separate process, with the window's answer time sampled while the
// pieces are copied. Each piece is timed from the press of "Ok" at its size to the next
// destination offered, the last one to the window's end (its joining script written).
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/remote_window.h"

namespace {

double now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

struct Samples {
    std::vector<double> answerMs;
    SIZE_T peakWorkingSet = 0;
};

// Until done() holds: every 10 ms, how long the window takes to answer a message.
void sampleWhileCopying(RemoteKestrand &k, const std::function<bool()> &done, Samples &samples)
{
    while (!done()) {
        double start = now();
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(k.window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result))
            samples.answerMs.push_back((now() - start) * 1000.0);
        PROCESS_MEMORY_COUNTERS memory{};
        if (GetProcessMemoryInfo(k.process.hProcess, &memory, sizeof memory))
            samples.peakWorkingSet = std::max(samples.peakWorkingSet, memory.PeakWorkingSetSize);
        Sleep(10);
    }
}

// User and kernel time of a process so far, in seconds: the work it did, whatever else
// the machine's cores were busy with meanwhile.
double cpuSeconds(HANDLE process)
{
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return -1;
    auto seconds = [](FILETIME t) { return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}

double median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        printf("usage: split_bench KESTRAND_EXE SOURCE FIRST_PIECE_BYTES\n");
        return 2;
    }
    std::string exe = argv[1], source = argv[2];
    uint32_t first = uint32_t(strtoul(argv[3], nullptr, 10));
    RemoteKestrand k;
    if (!launchKestrand(exe, source, "", k)) return printf("bench: no window\n"), 1;
    HWND dest = k.control(22), size = k.control(23), ok = k.control(28);
    postClick(ok);
    Samples samples;
    double copying = 0, pieces[2] = {0, 0}, cpu = 0, ownCpu = 0;
    for (int piece = 1; piece <= 2; ++piece) {
        waitUntil([&] { return IsWindowEnabled(dest) != 0; });
        std::string name = getText(dest);
        postClick(ok);
        waitUntil([&] { return IsWindowEnabled(size) != 0; });
        setText(size, std::to_string(first));
        double start = now(), cpuStart = cpuSeconds(k.process.hProcess), ownStart = cpuSeconds(GetCurrentProcess());
        postClick(ok);
        // Finished: the next destination is offered, or the window is gone.
        auto finished = [&] {
            if (!IsWindow(k.window)) return true;
            return IsWindowEnabled(dest) && getText(dest) != name;
        };
        waitUntil([&] { return !IsWindowEnabled(size); });
        sampleWhileCopying(k, finished, samples);
        pieces[piece - 1] = now() - start;
        copying += pieces[piece - 1];
        ownCpu += cpuSeconds(GetCurrentProcess()) - ownStart;
        if (piece == 2) waitForExit(k, 60000);
        cpu += cpuSeconds(k.process.hProcess) - cpuStart;
    }
    long code = waitForExit(k, 60000);
    closeRemote(k);
    double maxAnswer = samples.answerMs.empty() ? 0
                                                : *std::max_element(samples.answerMs.begin(), samples.answerMs.end());
    printf("split_piece1_seconds %.4f\n", pieces[0]);
    printf("split_piece2_seconds %.4f\n", pieces[1]);
    printf("split_seconds %.4f\n", copying);
    printf("split_cpu_seconds %.4f\n", cpu);
    printf("driver_cpu_seconds %.4f\n", ownCpu);
    printf("answer_median_ms %.3f\n", median(samples.answerMs));
    printf("answer_max_ms %.3f\n", maxAnswer);
    printf("answer_samples %u\n", unsigned(samples.answerMs.size()));
    printf("peak_working_set %lu\n", (unsigned long)samples.peakWorkingSet);
    printf("exit_code %ld\n", code);
    return code == 0 ? 0 : 1;
}
