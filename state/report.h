// The message boxes through which every operation reports to the user.
#pragma once

#include <windows.h>

// Each returns 0, so an operation can end with `return reportX(...)`.
int reportOpenError(const char *path);          // "Error opening file", error icon
int reportInfeasibleName(const char *text);     // "Infeasible name", OK only
int tellUser(const char *text, UINT style);     // caption Kestrand
// The platform's text for `error` on one line, without its full stop, into `text` of
// `size` bytes; the error's number where the platform has no text for it.
void systemText(DWORD error, char *text, int size);
// The message for the piece that just failed, by failureKind; none when none was recorded.
void reportFailedPiece();
