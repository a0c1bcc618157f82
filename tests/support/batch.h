// Runs a batch script with the platform's own cmd.exe, as the user would on the
// receiving side, with standard input fed so that a "cmd /k" ends.
#pragma once

#include <windows.h>

#include <string>

struct BatchRun {
    bool finished = false;  // false when the deadline passed and the process was ended
    DWORD exitCode = 0;
    std::string output;     // standard output and error together
};

BatchRun runBatch(const std::string &folder, const std::string &script,
                  const std::string &input = "exit\r\n", DWORD timeoutMs = 60000);
