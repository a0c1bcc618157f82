#include "support/remote_window.h"

#include <vector>

namespace {

struct WindowSearch {
    DWORD processId;
    const char *windowClass;
    HWND found;
};

BOOL CALLBACK findTopWindow(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<WindowSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->processId || !IsWindowVisible(window)) return TRUE;
    if (search->windowClass) {
        char name[64] = "";
        GetClassNameA(window, name, sizeof name);
        if (lstrcmpA(name, search->windowClass) != 0) return TRUE;
    } else if (!isMessageBox(window)) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

}  // namespace

bool waitUntil(const std::function<bool()> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

bool launchKestrand(const std::string &exe, const std::string &tail, const std::string &folder,
                    RemoteKestrand &kestrand, DWORD timeoutMs, const std::function<void()> &meanwhile)
{
    std::string line = "\"" + exe + "\"" + (tail.empty() ? "" : " " + tail);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &kestrand.process))
        return false;
    DWORD pid = kestrand.process.dwProcessId;
    return waitUntil(
        [&] {
            if (meanwhile) meanwhile();
            WindowSearch search{pid, "Kestrand", nullptr};
            EnumWindows(findTopWindow, reinterpret_cast<LPARAM>(&search));
            if (search.found) takeWindow(kestrand, search.found);
            return kestrand.window != nullptr;
        },
        timeoutMs);
}

void takeWindow(RemoteKestrand &kestrand, HWND window)
{
    kestrand.window = window;
    for (int id = 21; id <= 29; ++id) kestrand.controls[id - 21] = GetDlgItem(window, id);
}

void postClick(HWND button)
{
    PostMessageA(button, BM_CLICK, 0, 0);
}

void setText(HWND window, const std::string &text)
{
    SendMessageA(window, WM_SETTEXT, 0, (LPARAM)text.c_str());
}

std::string getText(HWND window)
{
    char text[1024] = "";
    SendMessageA(window, WM_GETTEXT, sizeof text, (LPARAM)text);
    return text;
}

HWND messageBoxOf(DWORD processId)
{
    WindowSearch search{processId, nullptr, nullptr};
    EnumWindows(findTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool answerBox(DWORD processId, int button, SeenBox *seen, DWORD timeoutMs)
{
    HWND box = nullptr;
    if (!waitUntil([&] { return (box = messageBoxOf(processId)) != nullptr; }, timeoutMs)) return false;
    Sleep(20);  // let the box finish its own set-up
    if (seen) *seen = readMessageBox(box);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
    return waitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, timeoutMs);
}

long waitForExit(RemoteKestrand &kestrand, DWORD timeoutMs)
{
    if (WaitForSingleObject(kestrand.process.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(kestrand.process.hProcess, &code);
    return long(code);
}

void closeRemote(RemoteKestrand &kestrand)
{
    if (!kestrand.process.hProcess) return;
    if (WaitForSingleObject(kestrand.process.hProcess, 0) != WAIT_OBJECT_0)
        TerminateProcess(kestrand.process.hProcess, 99);
    WaitForSingleObject(kestrand.process.hProcess, 10000);
    CloseHandle(kestrand.process.hProcess);
    CloseHandle(kestrand.process.hThread);
    kestrand.process = PROCESS_INFORMATION{};
}
