// Processor time of a process as Linux counts it, read from /proc through Wine's Z:
// drive. Wine's GetProcessTimes answers with the caller's own times whatever process
// it is asked about, so the time of another Wine process has to come from here. Not
// from /proc/self: Wine's server opens the files, so that would be the server's.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The whole of a small /proc file; empty when it cannot be read.
inline std::string readProcFile(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return text;
}

// User and system time in seconds from a /proc stat file ("Z:\proc\PID\stat"), or -1.
inline double unixCpuSeconds(const std::string &statPath)
{
    std::string stat = readProcFile(statPath);
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    // After the name: state, then fields 4 to 13, then utime and stime (fields 14, 15).
    const char *at = stat.c_str() + close + 2;
    for (int field = 3; field < 14 && at; ++field) {
        at = strchr(at, ' ');
        if (at) ++at;
    }
    if (!at) return -1;
    char *end = nullptr;
    unsigned long long user = strtoull(at, &end, 10);
    unsigned long long system = strtoull(end, nullptr, 10);
    return double(user + system) / 100.0;  // USER_HZ is 100 on Linux
}

// The stat file of the live Wine process whose program is `exe` (its Windows path, as
// Wine puts it first in the process's command line), or "" when there is none.
inline std::string findWineProcessStat(const std::string &exe)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return "";
    std::string result;
    do {
        const char *name = found.cFileName;
        if (!*name || strspn(name, "0123456789") != strlen(name)) continue;
        std::string folder = std::string("Z:\\proc\\") + name;
        std::string line = readProcFile(folder + "\\cmdline");
        if (lstrcmpiA(line.c_str(), exe.c_str()) == 0) {
            result = folder + "\\stat";
            break;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return result;
}

// The stat file of this very program. Started by another Wine program, its command line
// begins with its Windows path; started from Linux, with the path Linux was given, which
// is the same one under the Z: drive.
inline std::string ownStat()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return "";
    std::string stat = findWineProcessStat(path);
    if (!stat.empty() || strncmp(path, "Z:\\", 3) != 0) return stat;
    std::string unixPath = path + 2;
    for (char &c : unixPath)
        if (c == '\\') c = '/';
    return findWineProcessStat(unixPath);
}
