#include "split/read_back.h"

#include <cstring>

#include "app/display.h"
#include "split/own_files.h"
#include "split/piece_hash.h"
#include "split/piece_writer.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Past the system's cache, so that the disk itself answers. Windows then asks that every
// read's size and file offset be multiples of the volume's sector size, and the buffer be
// aligned to the physical sector: on 2000 and XP, which know one sector size, the logical
// one (512 bytes, or 2,048 on optical media); on Vista and later the physical one, 4,096
// bytes on 512e and 4Kn drives. checkBuffer is aligned to 8,192 bytes and every read asks
// for 64 KiB from a multiple of 64 KiB, so the only short read is the last, at the end of
// the file, which Windows allows.
constexpr DWORD pastTheCache = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;
constexpr DWORD throughTheCache = FILE_FLAG_SEQUENTIAL_SCAN;

int isActive()
{
    return state.copyState.load(relaxed) == Active;
}

// Unshared, so nobody writes the piece while it is checked. A scanner that grabbed the
// file just closed is waited for.
HANDLE openForCheck(DWORD flags, DWORD *error)
{
    DWORD started = GetTickCount();
    for (;;) {
        HANDLE file = CreateFileA(state.destPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, flags, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        *error = GetLastError();
        if (!waitOutPassingLock(*error, started)) return file;
    }
}

// Stored first, then drawn, as the copy's gauge is.
void raiseCheck(int32_t level)
{
    int32_t drawn = state.checkLevel.load(relaxed);
    if (level <= drawn) return;
    state.checkLevel.store(level, relaxed);
    drawCheckStep(drawn, level);
}

int sameHash(const PieceHash &read, const PieceHash &written)
{
    // Where the platform could not hash the piece as written, the size alone is held to.
    if (!written.known) return 1;
    return read.known && memcmp(read.bytes, written.bytes, hashSize) == 0;
}

CheckOutcome hashWhatIsRead(HANDLE file, uint32_t size, const PieceHash &written, DWORD *error)
{
    PieceHash read{};
    uint32_t total = 0;
    CheckOutcome outcome = checkMatches;
    startHash();
    for (;;) {
        if (!isActive()) {
            outcome = checkStopped;
            break;
        }
        DWORD got = 0;
        if (!ReadFile(file, state.checkBuffer, checkBufferSize, &got, nullptr)) {
            *error = GetLastError();
            outcome = checkError;
            break;
        }
        hashBytes(state.checkBuffer, got);
        total += got;
        if (total > size) {
            outcome = checkDiffers;  // longer than written: no need to read the rest
            break;
        }
        if (size) raiseCheck(progressLevel(size - total, size));  // an empty piece draws nothing
        if (got < checkBufferSize) break;  // the end of the file
    }
    finishHash(&read);
    if (outcome == checkMatches && (total != size || !sameHash(read, written))) outcome = checkDiffers;
    return outcome;
}

CheckOutcome readOnce(DWORD flags, uint32_t size, const PieceHash &written, DWORD *error)
{
    HANDLE file = openForCheck(flags, error);
    // A piece gone from its path is a read-back that failed; another file there does not
    // give back the bytes just written. Either way the piece was written, so the failed
    // road follows, whose Ok and new Destination hold every file to its identity.
    if (file == INVALID_HANDLE_VALUE) return isActive() ? checkError : checkStopped;
    PieceIdentity now;
    readIdentity(file, &now);
    CheckOutcome outcome = sameIdentity(now, state.destIdentity) ? hashWhatIsRead(file, size, written, error)
                                                                  : checkDiffers;
    CloseHandle(file);
    return outcome;
}

}  // namespace

CheckOutcome readBackPiece(uint32_t size, const PieceHash &written, DWORD *error)
{
    *error = 0;
    CheckOutcome outcome = readOnce(pastTheCache, size, written, error);
    // Refused for the sector rules (a sector larger than the buffer's alignment, or a
    // system that takes no unbuffered reads there): that is not the disk's fault. The
    // piece is read once more through the cache, which still catches a file that the
    // system could not keep, though a cache that still holds the bytes may answer
    // instead of the disk.
    if (outcome == checkError && *error == ERROR_INVALID_PARAMETER)
        outcome = readOnce(throughTheCache, size, written, error);
    return outcome;
}
