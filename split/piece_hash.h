// The SHA-1 of a piece, through CryptoAPI: of the bytes written, then of the bytes read back.
#pragma once

#include <cstdint>

#include "state/split_state.h"

// Where the platform cannot compute it, the split goes on without: `known` stays 0.
void startHash();
void hashBytes(const char *bytes, uint32_t count);
// The hash into `hash`, and the handles released.
void finishHash(PieceHash *hash);
