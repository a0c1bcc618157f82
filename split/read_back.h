// Reading a piece back from its disk once it is written and flushed, and holding it to
// the size and SHA-1 written.
#pragma once

#include <windows.h>

#include <cstdint>

#include "state/split_state.h"

enum CheckOutcome {
    checkMatches,    // the disk gave back the piece as written
    checkDiffers,    // other bytes or another size
    checkError,      // the file could not be opened or read: the error says why
    checkStopped,    // the user stopped the split meanwhile
};

// Reads the piece at destPath, the file destIdentity names, of `size` bytes and SHA-1
// `written`, raising checkLevel as it goes. *error is the platform's code of a checkError.
CheckOutcome readBackPiece(uint32_t size, const PieceHash &written, DWORD *error);
