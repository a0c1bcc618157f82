// The message boxes through which every operation reports to the user.
#pragma once

#include <windows.h>

// Each returns 0, so an operation can end with `return reportX(...)`.
int reportOpenError(const char *path);          // "Error opening file", error icon
int reportInfeasibleName(const char *text);     // "Infeasible name", OK only
int tellUser(const char *text, UINT style);     // caption Kestrand
