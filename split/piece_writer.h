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
// Starts writePiece; returns 0 when the thread could not be started (nothing reported).
int startPieceWriter();
// Waits until a running piece writer's notification has been handled, handling the
// messages sent to this thread meanwhile.
void waitForPieceWriter();
