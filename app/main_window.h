// The process, the main window and its end.
#pragma once

#include <windows.h>

int processEntry();
// The command line after the program's own name, unchanged.
const char *commandLineTail(const char *commandLine);
int runKestrand(HINSTANCE instance, const char *tail, int showCommand);
// The start-up sequence up to the shown window; 0 when the window could not be made.
int startKestrand(HINSTANCE instance, const char *tail, int showCommand);
// Until the quit message; returns its code.
int runMessageLoop();
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK editEnterHook(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
void teardown();
