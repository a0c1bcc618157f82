// Runs a batch script with the platform's own cmd.exe, as the user would on the
// receiving side, with standard input fed so that a "cmd /k" ends.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

struct BatchRun {
    bool finished = false;  // false when the deadline passed and the process was ended
    DWORD exitCode = 0;
    std::string output;     // standard output and error together
};

BatchRun runBatch(const std::string &folder, const std::string &script,
                  const std::string &input = "exit\r\n", DWORD timeoutMs = 60000);

// As runBatch, with the interpreter as this process's debuggee, stopped when it first calls
// MoveFileW to a name ending in `target` (the script's "ren ... target"): `atStop` runs
// then, before the rename is tried, so a test can put the folder into a given state at
// that exact point of the script. `stopped` tells whether the stop came.
BatchRun runBatchStoppedAtRename(const std::string &folder, const std::string &script, const std::string &target,
                                 const std::function<void()> &atStop, bool *stopped);
