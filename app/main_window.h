// The process, the main window and its end.
#pragma once

#include <windows.h>

int processEntry();
// The command line after the program's own name, unchanged.
const char *commandLineTail(const char *commandLine);
int runKestrand(HINSTANCE instance, const char *tail, int showCommand);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK editEnterHook(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
void teardown();
