// Drives Kestrand.exe as a separate process, the way a user would: finds its window,
// types with WM_SETTEXT, presses with a posted BM_CLICK, answers its message boxes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "support/message_boxes.h"

struct RemoteKestrand {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
    // The controls by id minus 21, taken once with the window: looking a child up by id
    // while the window is being destroyed can freeze Wine 10.0's server for good.
    HWND controls[9] = {};
    HWND control(int id) const { return id >= 21 && id <= 29 ? controls[id - 21] : nullptr; }
};

// Records the main window and its controls.
void takeWindow(RemoteKestrand &kestrand, HWND window);

bool waitUntil(const std::function<bool()> &done, DWORD timeoutMs = 20000);
// Starts exe with the command-line tail in folder and waits for its main window;
// `meanwhile` runs at every look, for boxes the program shows before its window.
bool launchKestrand(const std::string &exe, const std::string &tail, const std::string &folder,
                    RemoteKestrand &kestrand, DWORD timeoutMs = 20000,
                    const std::function<void()> &meanwhile = nullptr);
void postClick(HWND button);
void setText(HWND window, const std::string &text);
std::string getText(HWND window);
// The visible message box of that process, or null.
HWND messageBoxOf(DWORD processId);
// Waits for a message box of the process, reads it and presses `button`.
bool answerBox(DWORD processId, int button, SeenBox *seen = nullptr, DWORD timeoutMs = 20000);
// Waits for the process to end; returns its exit code, or -1 after the timeout.
long waitForExit(RemoteKestrand &kestrand, DWORD timeoutMs = 60000);
void closeRemote(RemoteKestrand &kestrand);
