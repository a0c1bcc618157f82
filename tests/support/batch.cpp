#include "support/batch.h"

#include <stdexcept>

namespace {

void drain(HANDLE pipe, std::string &into)
{
    DWORD waiting = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0) return;
        into.append(buffer, got);
    }
}

}  // namespace

BatchRun runBatch(const std::string &folder, const std::string &script, const std::string &input,
                  DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) throw std::runtime_error("no pipe");
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) throw std::runtime_error("no pipe");
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = inRead;
    start.hStdOutput = outWrite;
    start.hStdError = outWrite;
    std::string command = "cmd.exe /c " + script;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                  nullptr, folder.c_str(), &start, &process);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (!started) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        throw std::runtime_error("cannot start cmd.exe");
    }
    DWORD written = 0;
    WriteFile(inWrite, input.data(), DWORD(input.size()), &written, nullptr);
    CloseHandle(inWrite);

    BatchRun run;
    DWORD begin = GetTickCount();
    for (;;) {
        drain(outRead, run.output);
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
            run.finished = true;
            break;
        }
        if (GetTickCount() - begin > timeoutMs) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    drain(outRead, run.output);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(outRead);
    return run;
}
