// Copying one piece on a thread of its own.
#pragma once

#include <cstdint>

// The thread procedure; ends with the piece-finished notification to mainWindow.
void __cdecl writePiece(void *);
// The gauge level after a full block, with `left` bytes of `total` still to copy.
int32_t progressLevel(uint32_t left, uint32_t total);
// First attempt at a piece: remember where it starts in the source and how long it is.
int markPieceStart();
// Renewed attempt after a failure: the source back at the piece's start, the whole count.
int rewindPiece();
// Starts writePiece; returns 0 when the thread could not be started (nothing reported).
int startPieceWriter();
// Waits for a running piece writer to end, handling the messages sent to this thread.
void waitForPieceWriter();
