// The files this split made, known by their identity. Every empty, write in place and
// delete of the program goes through here: a path alone may name another disk's file
// by then (users swap disks while a message is open), and such a file is never touched.
#pragma once

#include <windows.h>

#include "state/split_state.h"

// What a path names now, against the file this split made there. A file in use is one
// that cannot be opened to be written, whichever it is.
enum PathHolds { holdsNothing, holdsOwnFile, holdsOtherFile, holdsFileInUse };

// The identity of an open file; `known` is 0 when the platform cannot say.
void readIdentity(HANDLE file, PieceIdentity *identity);
int sameIdentity(const PieceIdentity &a, const PieceIdentity &b);
// The identity of the file at path now; `known` is 0 when there is none.
void identityAt(const char *path, PieceIdentity *identity);
PathHolds whatPathHolds(const char *path, const PieceIdentity &made);
// Closes a file this split has just made or written and records what it is. Read after
// the close, as Windows may settle the last-write time only then; checked against the
// handle, so a file that took the path meanwhile is never taken for it. 0 when the
// close failed.
int closeAndRecord(HANDLE file, const char *path, PieceIdentity *identity);
// Opens the file at path to write it in place, neither creating nor emptying it, when it
// is `made`. Otherwise returns INVALID_HANDLE_VALUE with *holds saying what is there.
HANDLE openOwnFile(const char *path, const PieceIdentity &made, PathHolds *holds);
// Cuts an open file to nothing.
int emptyOpenFile(HANDLE file);
// Deletes the file at path only when it is `made`, and says what the path held:
// holdsOwnFile once it is deleted, holdsFileInUse when it is `made` but was kept.
PathHolds deleteOwnFile(const char *path, const PieceIdentity &made);
// Whether a and b are one file, however they were reached: its volume and index.
int sameFile(const PieceIdentity &a, const PieceIdentity &b);
// Marks a file opened with DELETE access to go when that handle closes: through
// SetFileInformationByHandle where Windows has it (Vista on), else NtSetInformationFile.
int deleteThroughHandle(HANDLE file);
int deleteThroughHandleByKernel32(HANDLE file);
int deleteThroughHandleByNtdll(HANDLE file);
