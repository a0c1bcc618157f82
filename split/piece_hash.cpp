#include "split/piece_hash.h"

void startHash()
{
    state.pieceHash = 0;
    state.hashProvider = 0;
    if (!CryptAcquireContextA(&state.hashProvider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        state.hashProvider = 0;
        return;
    }
    if (!CryptCreateHash(state.hashProvider, CALG_SHA1, 0, 0, &state.pieceHash)) state.pieceHash = 0;
}

void hashBytes(const char *bytes, uint32_t count)
{
    if (state.pieceHash && !CryptHashData(state.pieceHash, reinterpret_cast<const BYTE *>(bytes), count, 0)) {
        CryptDestroyHash(state.pieceHash);
        state.pieceHash = 0;
    }
}

void finishHash(PieceHash *hash)
{
    DWORD size = hashSize;
    hash->known = state.pieceHash && CryptGetHashParam(state.pieceHash, HP_HASHVAL, hash->bytes, &size, 0) &&
                  size == DWORD(hashSize);
    if (state.pieceHash) CryptDestroyHash(state.pieceHash);
    if (state.hashProvider) CryptReleaseContext(state.hashProvider, 0);
    state.pieceHash = 0;
    state.hashProvider = 0;
}
