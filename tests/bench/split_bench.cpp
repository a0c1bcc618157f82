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

#include "bench/clock.h"
#include "bench/unix_cpu.h"
#include "support/remote_window.h"

namespace {

struct Samples {
    std::vector<double> answerMs;
    SIZE_T peakWorkingSet = 0;
    std::string cpuStat;     // Kestrand.exe's /proc stat file
    double lastCpu = -1;     // its processor time at the latest sample
};

// Until done() holds: every 10 ms, how long the window takes to answer a message.
void sampleWhileCopying(RemoteKestrand &k, const std::function<bool()> &done, Samples &samples)
{
    while (!done()) {
        double start = now();
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(k.window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result))
            samples.answerMs.push_back((now() - start) * 1000.0);
        double cpu = unixCpuSeconds(samples.cpuStat);
        if (cpu >= 0) samples.lastCpu = cpu;
        PROCESS_MEMORY_COUNTERS memory{};
        if (GetProcessMemoryInfo(k.process.hProcess, &memory, sizeof memory))
            samples.peakWorkingSet = std::max(samples.peakWorkingSet, memory.PeakWorkingSetSize);
        Sleep(10);
    }
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
    const std::string self = ownStat();
    RemoteKestrand k;
    if (!launchKestrand(exe, source, "", k)) return printf("bench: no window\n"), 1;
    HWND dest = k.control(22), size = k.control(23), ok = k.control(28);
    postClick(ok);
    Samples samples;
    samples.cpuStat = findWineProcessStat(exe);
    double copying = 0, pieces[2] = {0, 0}, cpu = 0, ownCpu = 0;
    for (int piece = 1; piece <= 2; ++piece) {
        waitUntil([&] { return IsWindowEnabled(dest) != 0; });
        std::string name = getText(dest);
        postClick(ok);
        waitUntil([&] { return IsWindowEnabled(size) != 0; });
        setText(size, std::to_string(first));
        double start = now(), cpuStart = unixCpuSeconds(samples.cpuStat), ownStart = unixCpuSeconds(self);
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
        ownCpu += unixCpuSeconds(self) - ownStart;
        // After the last piece the process may be gone: then its last sample counts.
        double cpuEnd = unixCpuSeconds(samples.cpuStat);
        cpu += (cpuEnd >= 0 ? cpuEnd : samples.lastCpu) - cpuStart;
    }
    long code = waitForExit(k, 60000);
    closeRemote(k);
    double maxAnswer = samples.answerMs.empty() ? 0
                                                : *std::max_element(samples.answerMs.begin(), samples.answerMs.end());
    printf("split_piece1_seconds %.4f\n", pieces[0]);
    printf("split_piece2_seconds %.4f\n", pieces[1]);
    printf("split_seconds %.4f\n", copying);
    if (samples.cpuStat.empty()) printf("bench: Kestrand.exe not found in /proc\n");
    printf("split_cpu_seconds %.4f\n", samples.cpuStat.empty() ? -1.0 : cpu);
    printf("driver_cpu_seconds %.4f\n", self.empty() ? -1.0 : ownCpu);
    printf("answer_median_ms %.3f\n", median(samples.answerMs));
    printf("answer_max_ms %.3f\n", maxAnswer);
    printf("answer_samples %u\n", unsigned(samples.answerMs.size()));
    printf("peak_working_set %lu\n", (unsigned long)samples.peakWorkingSet);
    printf("exit_code %ld\n", code);
    return code == 0 ? 0 : 1;
}
