#include "support/batch.h"

#include <cstring>
#include <cwchar>
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

struct BatchProcess {
    PROCESS_INFORMATION process = {};
    HANDLE output = nullptr;
};

BatchProcess startBatch(const std::string &folder, const std::string &script, const std::string &input,
                        DWORD flags)
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
    BatchProcess batch;
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW | flags, nullptr,
                                  folder.c_str(), &start, &batch.process);
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
    batch.output = outRead;
    return batch;
}

void endBatch(BatchProcess &batch, BatchRun &run)
{
    drain(batch.output, run.output);
    GetExitCodeProcess(batch.process.hProcess, &run.exitCode);
    CloseHandle(batch.process.hProcess);
    CloseHandle(batch.process.hThread);
    CloseHandle(batch.output);
}

std::wstring remoteText(HANDLE process, DWORD at)
{
    std::wstring text;
    for (;;) {
        wchar_t c = 0;
        if (!ReadProcessMemory(process, reinterpret_cast<void *>(uintptr_t(at + 2 * text.size())), &c, sizeof c,
                               nullptr) ||
            c == 0 || text.size() > MAX_PATH)
            return text;
        text += c;
    }
}

bool endsWith(const std::wstring &text, const std::string &tail)
{
    std::wstring wide(tail.begin(), tail.end());
    return text.size() >= wide.size() && _wcsicmp(text.c_str() + text.size() - wide.size(), wide.c_str()) == 0;
}

// Carries out the first instruction of the function at entry for the stopped thread, so
// that it goes on past the breakpoint there: "push ebp" or "mov edi, edi", the prologues
// the breakpoint is put on.
void stepOverPrologue(HANDLE process, const BYTE *entry, CONTEXT &context)
{
    if (entry[0] == 0x55) {
        context.Esp -= 4;
        WriteProcessMemory(process, reinterpret_cast<void *>(uintptr_t(context.Esp)), &context.Ebp,
                           sizeof context.Ebp, nullptr);
        context.Eip = DWORD(uintptr_t(entry + 1));
    } else {
        context.Eip = DWORD(uintptr_t(entry + 2));
    }
}

}  // namespace

BatchRun runBatch(const std::string &folder, const std::string &script, const std::string &input,
                  DWORD timeoutMs)
{
    BatchProcess batch = startBatch(folder, script, input, 0);
    BatchRun run;
    DWORD begin = GetTickCount();
    for (;;) {
        drain(batch.output, run.output);
        if (WaitForSingleObject(batch.process.hProcess, 20) == WAIT_OBJECT_0) {
            run.finished = true;
            break;
        }
        if (GetTickCount() - begin > timeoutMs) {
            TerminateProcess(batch.process.hProcess, 1);
            WaitForSingleObject(batch.process.hProcess, 5000);
            break;
        }
    }
    endBatch(batch, run);
    return run;
}

// A breakpoint on MoveFileW's first byte, put in once the loader has stopped in its own
// breakpoint (every DLL mapped, the script not begun). Both processes are 32-bit and map
// the system DLLs at one address; the bytes there are compared before anything is written.
// Calls to other names go on with the breakpoint kept: its instruction is carried out here.
BatchRun runBatchStoppedAtRename(const std::string &folder, const std::string &script, const std::string &target,
                                 const std::function<void()> &atStop, bool *stopped)
{
    *stopped = false;
    const DWORD timeoutMs = 60000;
    const BYTE *entry =
        reinterpret_cast<const BYTE *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "MoveFileW"));
    const bool knownPrologue = entry && (entry[0] == 0x55 || (entry[0] == 0x8B && entry[1] == 0xFF));
    BatchProcess batch = startBatch(folder, script, "exit\r\n", DEBUG_ONLY_THIS_PROCESS);
    HANDLE process = batch.process.hProcess;
    BatchRun run;
    bool armed = false;
    DWORD begin = GetTickCount();
    DEBUG_EVENT event;
    while (!run.finished) {
        drain(batch.output, run.output);
        if (GetTickCount() - begin > timeoutMs) {
            TerminateProcess(process, 1);
            break;
        }
        if (!WaitForDebugEvent(&event, 20)) continue;
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: CloseHandle(event.u.CreateProcessInfo.hFile); break;
        case LOAD_DLL_DEBUG_EVENT: CloseHandle(event.u.LoadDll.hFile); break;
        // The "cmd /k" that a failed join opens may be reported too: only the script's own
        // interpreter ends the run.
        case EXIT_PROCESS_DEBUG_EVENT: run.finished = event.dwProcessId == batch.process.dwProcessId; break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD &record = event.u.Exception.ExceptionRecord;
            const BYTE *at = static_cast<const BYTE *>(record.ExceptionAddress);
            if (record.ExceptionCode == EXCEPTION_INVALID_HANDLE) {
                // Raised only for a debugger, where the interpreter closes a handle that is
                // not one: without a debugger that close just fails.
            } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            } else if (event.dwProcessId != batch.process.dwProcessId) {
                // the loader's breakpoint in a "cmd /k" the script opens
            } else if (!armed) {
                BYTE there[2] = {};
                const BYTE breakpoint = 0xCC;
                armed = knownPrologue && ReadProcessMemory(process, entry, there, 2, nullptr) &&
                        memcmp(there, entry, 2) == 0 &&
                        WriteProcessMemory(process, const_cast<BYTE *>(entry), &breakpoint, 1, nullptr) &&
                        FlushInstructionCache(process, entry, 1);
            } else if (at == entry || at == entry + 1) {
                // Reported at the breakpoint or just after it, as the platform has it.
                HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
                CONTEXT context = {};
                context.ContextFlags = CONTEXT_CONTROL;
                GetThreadContext(thread, &context);
                DWORD arguments[3] = {};  // return address, source, destination
                ReadProcessMemory(process, reinterpret_cast<void *>(uintptr_t(context.Esp)), arguments,
                                  sizeof arguments, nullptr);
                if (!*stopped && endsWith(remoteText(process, arguments[2]), target)) {
                    *stopped = true;
                    atStop();
                }
                stepOverPrologue(process, entry, context);
                SetThreadContext(thread, &context);
                CloseHandle(thread);
            }
            break;
        }
        default: break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    endBatch(batch, run);
    return run;
}
