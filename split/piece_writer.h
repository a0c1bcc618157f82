// Copying one piece on a thread of its own.
#pragma once

#include <cstdint>

// The thread procedure; ends with the piece-finished notification to mainWindow.
void __cdecl writePiece(void *);
// The gauge level after a full block, with `left` bytes of `total` still to copy.
int32_t progressLevel(uint32_t left, uint32_t total);
// First attempt at a piece: remember where it starts in the source.
int markPieceStart();
// Renewed attempt after a failure: the source back at the piece's start and `remaining`
// as it was before the piece, ready for the piece to be cut again.
int rewindPiece();
// After a failed attempt: whether the file it wrote is still at its path, unchanged.
int failedPieceIsKept();
// Before the piece is copied again into another file: the failed attempt's file is
// deleted, if it is still the file written.
void dropFailedPiece();
// Starts writePiece; returns 0 when the thread could not be started (nothing reported).
int startPieceWriter();
// Waits until a running piece writer's notification has been handled, handling the
// messages sent to this thread meanwhile.
void waitForPieceWriter();
