// Where the piece writer's time goes. The real main window is hosted in this process and
// driven through one piece of FIRST_PIECE_BYTES; the same piece is copied by a bare loop
// in the same process first; then the costs around the copy are timed one by one on the
// same window: starting a thread, a band of the gauge, the full gauge, a message sent
// from another thread, a repaint of the whole window.
#include <windows.h>
#include <wincrypt.h>
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/display.h"
#include "bench/clock.h"
#include "bench/unix_cpu.h"
#include "state/split_state.h"
#include "support/window_host.h"

namespace {

double medianOf(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

char block[512];

// The bare loop: full blocks while more than 512 bytes are left, the rest, each hashed
// once written as the writer does, flush, close.
bool copyPiece(HANDLE in, const std::string &path, unsigned long left, double *flushSeconds)
{
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool ok = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash);
    while (ok && left > 0) {
        DWORD n = left > sizeof block ? DWORD(sizeof block) : DWORD(left), got = 0, put = 0;
        ok = ReadFile(in, block, n, &got, nullptr) && got == n && WriteFile(out, block, n, &put, nullptr) &&
             put == n && CryptHashData(hash, reinterpret_cast<const BYTE *>(block), n, 0);
        left -= n;
    }
    BYTE value[20];
    DWORD size = sizeof value;
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0);
    if (hash) CryptDestroyHash(hash);
    if (provider) CryptReleaseContext(provider, 0);
    double start = now();
    ok = ok && FlushFileBuffers(out);
    *flushSeconds = now() - start;
    return CloseHandle(out) && ok;
}

std::atomic<double> threadEntered{0};

void __cdecl markEntry(void *)
{
    threadEntered.store(now());
    _endthread();
}

// From _beginthread to the first instruction of the new thread.
double threadStartMicroseconds()
{
    std::vector<double> times;
    for (int i = 0; i < 50; ++i) {
        threadEntered.store(0);
        double start = now();
        if (_beginthread(markEntry, 0, nullptr) == uintptr_t(-1)) return -1;
        while (threadEntered.load() == 0) Sleep(0);
        times.push_back((threadEntered.load() - start) * 1e6);
        Sleep(2);
    }
    return medianOf(times);
}

std::atomic<int> sendsDone{0};
std::vector<double> sendTimes;

void __cdecl sendMessages(void *)
{
    for (int i = 0; i < 50; ++i) {
        double start = now();
        SendMessageA(state.mainWindow, WM_NULL, 0, 0);
        sendTimes.push_back((now() - start) * 1e6);
    }
    sendsDone.store(1);
    _endthread();
}

// A message sent from another thread to the window and answered, as the piece-finished
// notification is, without its handler's own work.
double sendMicroseconds()
{
    if (_beginthread(sendMessages, 0, nullptr) == uintptr_t(-1)) return -1;
    pumpUntil([] { return sendsDone.load() == 1; }, 20000);
    return medianOf(sendTimes);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        printf("usage: writer_profile SOURCE FOLDER FIRST_PIECE_BYTES\n");
        return 2;
    }
    std::string source = argv[1], folder = argv[2];
    const std::string self = ownStat();
    unsigned long first = strtoul(argv[3], nullptr, 10);

    // The bare loop first: the window keeps the source open, unshared, until it ends.
    HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return printf("profile: cannot open the source\n"), 1;
    CreateDirectoryA(folder.c_str(), nullptr);
    double flush = 0, start = now(), cpuStart = unixCpuSeconds(self);
    if (!copyPiece(in, folder + "\\loop01", first, &flush)) return printf("profile: the loop failed\n"), 1;
    double loopSeconds = now() - start, loopCpu = self.empty() ? -1 : unixCpuSeconds(self) - cpuStart;
    CloseHandle(in);
    DeleteFileA((folder + "\\loop01").c_str());

    if (!startWindow(source)) return printf("profile: no window\n"), 1;
    press(state.okButton);
    if (state.step != 2 || !press(state.okButton) || state.step != 3)
        return printf("profile: the destination was refused\n"), 1;
    typeInto(state.sizeEdit, std::to_string(first));
    // The gauge level is read whenever the pump wakes (at least every 5 ms); a band is
    // drawn about every 2 % of the piece, far apart at that rate.
    std::vector<int32_t> levels;
    start = now();
    cpuStart = unixCpuSeconds(self);
    press(state.okButton);
    bool done = pumpUntil(
        [&] {
            int32_t level = state.gaugeLevel.load(std::memory_order_relaxed);
            if (level > 0 && (levels.empty() || level > levels.back())) levels.push_back(level);
            return state.step == 4;
        },
        600000);
    double writerSeconds = now() - start, writerCpu = self.empty() ? -1 : unixCpuSeconds(self) - cpuStart;
    if (!done) return printf("profile: the piece did not finish\n"), 1;

    std::vector<double> bands;
    for (int32_t level = 1; level <= 51; ++level) {
        double t = now();
        drawGaugeStep(level - 1, level);
        bands.push_back((now() - t) * 1e6);
    }
    double t = now();
    drawGaugeFull();
    double fullMicroseconds = (now() - t) * 1e6;
    std::vector<double> repaints;
    for (int i = 0; i < 20; ++i) {
        t = now();
        InvalidateRect(state.mainWindow, nullptr, TRUE);
        UpdateWindow(state.mainWindow);
        repaints.push_back((now() - t) * 1e6);
    }
    double threadMicroseconds = threadStartMicroseconds();
    double sendUs = sendMicroseconds();
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);

    printf("profile_wow64 %d\n", wow64 ? 1 : 0);
    printf("profile_loop_seconds %.4f\n", loopSeconds);
    printf("profile_loop_cpu_seconds %.4f\n", loopCpu);
    printf("profile_loop_flush_seconds %.4f\n", flush);
    printf("profile_loop_block_us %.3f\n", loopSeconds / double(first / 512 + 1) * 1e6);
    printf("profile_writer_seconds %.4f\n", writerSeconds);
    printf("profile_writer_cpu_seconds %.4f\n", writerCpu);
    printf("profile_band_levels_seen %u\n", unsigned(levels.size()));
    printf("profile_last_level_seen %d\n", levels.empty() ? 0 : int(levels.back()));
    printf("profile_band_us %.1f\n", medianOf(bands));
    printf("profile_full_gauge_us %.1f\n", fullMicroseconds);
    printf("profile_repaint_us %.1f\n", medianOf(repaints));
    printf("profile_thread_start_us %.1f\n", threadMicroseconds);
    printf("profile_send_us %.1f\n", sendUs);

    state.copyState.store(Stopped, std::memory_order_relaxed);
    DestroyWindow(state.mainWindow);
    pumpUntil([] { return quitSeen(); }, 10000);
    return 0;
}
