// Hosts the real main window in the test process and drives it with real messages.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The start-up sequence, as the program runs it, with `tail` as the command line, on a
// fresh SplitState: whatever an earlier test left goes first (see endWindow).
bool startWindow(const std::string &tail = "");
// Ends what a test left of the window, so that one process can run every window test:
// the window (stopped, so no script is written), a quit message still queued, the
// window class and the state.
void endWindow();
// Handles this thread's messages until done() holds, the quit message arrives or the
// time runs out; returns done()'s last answer.
bool pumpUntil(const std::function<bool()> &done, DWORD timeoutMs = 20000);
bool quitSeen();
void pump(DWORD ms);

// The enabled state of sourceEdit, destEdit, sizeEdit, Browse, Change, Max, Ok, Cancel.
std::string enabledControls();
std::string windowText(HWND window);
void typeInto(HWND edit, const std::string &text);
// Presses a button the way a user would: only when it is enabled.
bool press(HWND button);
void pressEnter(HWND edit);
int stepNow();
