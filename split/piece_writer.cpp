#include "split/piece_writer.h"

#include <windows.h>
#include <process.h>

#include <cstring>

#include "app/display.h"
#include "app/workflow.h"
#include "split/own_files.h"
#include "split/names.h"
#include "split/piece_hash.h"
#include "split/read_back.h"
#include "state/report.h"
#include "state/split_state.h"

namespace {

const char limitWarning[] = "Limit of Destination files number is 20";
constexpr uint32_t blockSize = 512;
constexpr int32_t fullLevel = 51;
// Below this many bytes left, left * 51 still fits in 32 bits.
constexpr uint32_t exactLevelLimit = 10000000;
constexpr uint32_t warningCount = 19;
// The slots of piecePaths: the listed pieces, then the attempt after them.
constexpr uint32_t recordSlots = maxPieces + 1;
constexpr DWORD sentMessagePollMs = 100;

constexpr auto relaxed = std::memory_order_relaxed;

int isActive()
{
    return state.copyState.load(relaxed) == Active;
}

// Only an active piece fails: a stop the window asked for meanwhile must stay a stop,
// or teardown would write a script for a split the user abandoned.
void failPiece()
{
    uint32_t expected = Active;
    state.copyState.compare_exchange_strong(expected, Failed, relaxed, relaxed);
}

// A failure the window will name to the user: what failed and the platform's word for it.
void failPieceFor(uint32_t kind, DWORD error)
{
    if (!isActive()) return;
    state.failureKind.store(kind, relaxed);
    state.failureError.store(error, relaxed);
    failPiece();
}

// A read or write that moved fewer bytes than asked but reported no error.
DWORD errorOrShort(BOOL done, DWORD shortError)
{
    return done ? shortError : GetLastError();
}

// One block from the source into the piece. A short read fails too, so no stale
// buffer bytes ever reach the piece.
int readBlock(uint32_t bytes)
{
    DWORD got = 0;
    BOOL done = ReadFile(state.sourceHandle, state.ioBuffer, bytes, &got, nullptr);
    if (done && got == bytes) return 1;
    failPieceFor(failedSourceRead, errorOrShort(done, ERROR_HANDLE_EOF));
    return 0;
}

int writeBlock(HANDLE piece, uint32_t bytes)
{
    DWORD written = 0;
    BOOL done = WriteFile(piece, state.ioBuffer, bytes, &written, nullptr);
    if (done && written == bytes) return 1;
    failPieceFor(failedWrite, errorOrShort(done, ERROR_WRITE_FAULT));
    return 0;
}

// A block is hashed once it is written: the hash covers exactly the bytes in the piece.
int copyBlock(HANDLE piece, uint32_t bytes)
{
    if (!readBlock(bytes) || !writeBlock(piece, bytes)) return 0;
    hashBytes(state.ioBuffer, bytes);
    return 1;
}

// The level is stored first: a paint that comes between the two then draws the new
// level itself instead of wiping the band about to be drawn.
void raiseGauge(int32_t level)
{
    int32_t drawn = state.gaugeLevel.load(relaxed);
    if (level <= drawn) return;
    state.gaugeLevel.store(level, relaxed);
    drawGaugeStep(drawn, level);
}

void copyFullBlocks(HANDLE piece, uint32_t total)
{
    while (state.pieceBytes.load(relaxed) > blockSize && isActive()) {
        if (!copyBlock(piece, blockSize)) return;
        uint32_t left = state.pieceBytes.load(relaxed) - blockSize;
        state.pieceBytes.store(left, relaxed);
        raiseGauge(progressLevel(left, total));
    }
}

// The last block is at most 512 bytes and leaves pieceBytes as it is.
void copyLastBlock(HANDLE piece)
{
    uint32_t bytes = state.pieceBytes.load(relaxed);
    if (bytes == 0 || !isActive() || !readBlock(bytes)) return;
    if (writeBlock(piece, bytes)) hashBytes(state.ioBuffer, bytes);
    state.gaugeLevel.store(fullLevel, relaxed);
    drawGaugeFull();
}

void copyPiece(HANDLE piece)
{
    uint32_t total = state.pieceBytes.load(relaxed);
    if (total > blockSize) copyFullBlocks(piece, total);
    copyLastBlock(piece);
}

void recordPiecePath(char *path)
{
    DWORD length = GetFullPathNameA(state.destPath, pathSize, path, nullptr);
    if (length != 0 && length < DWORD(pathSize)) return;
    size_t kept = strnlen(state.destPath, pathSize - 1);
    memcpy(path, state.destPath, kept);
    path[kept] = 0;
}

int appendPieceName()
{
    const char *slash = strrchr(state.destPath, '\\');
    const char *name = slash ? slash + 1 : state.destPath;
    // "piece01." is the file piece01: the script names it so.
    size_t used = strlen(state.pieceNames), length = size_t(resolvedLength(name, int(strlen(name))));
    if (used + length + 2 > sizeof state.pieceNames) return 0;
    memcpy(state.pieceNames + used, name, length);
    state.pieceNames[used + length] = ' ';
    state.pieceNames[used + length + 1] = 0;
    return 1;
}

// Every attempt's file is remembered in the slot after the listed pieces, a failed one
// too, so that it can be told and deleted later by identity.
void recordPiece(const PieceIdentity &identity, const PieceHash &hash)
{
    if (state.pieceCount >= recordSlots) return;
    recordPiecePath(state.piecePaths[state.pieceCount]);
    state.pieceIdentities[state.pieceCount] = identity;
    state.pieceHashes[state.pieceCount] = hash;
}

void listPiece()
{
    if (state.pieceCount >= uint32_t(maxPieces) || !appendPieceName()) return failPiece();
    ++state.pieceCount;
    if (state.pieceCount == warningCount) tellUser(limitWarning, MB_OK | MB_ICONWARNING);
}

// Users swap disks between pieces: a piece is announced only once it is on the medium,
// not in the system's write cache. What the file now is, a failed attempt's too, is what
// a renewed attempt or a delete will hold it to.
void closePiece(HANDLE piece)
{
    if (isActive() && !FlushFileBuffers(piece)) failPieceFor(failedWrite, GetLastError());
    if (!closeAndRecord(piece, state.destPath, &state.destIdentity)) failPieceFor(failedWrite, GetLastError());
    // A piece that cannot be told from another file could be neither joined nor looked after.
    if (!state.destIdentity.known) failPieceFor(failedWrite, ERROR_FILE_INVALID);
}

// A piece is listed only once its disk gives it back as written: flash that wears out and
// sticks that claim more room than they have keep a file's size but not its bytes.
void checkPiece(uint32_t size, const PieceHash &written)
{
    if (!isActive()) return;
    DWORD error = 0;
    switch (readBackPiece(size, written, &error)) {
    case checkMatches: return;
    case checkDiffers: return failPieceFor(failedReadBack, 0);
    case checkError: return failPieceFor(failedWrite, error);
    case checkStopped: return;
    }
}

// Held by another program for longer than a passing lock: this piece fails and the split
// goes on. The file made for it is remembered as a failed attempt's, so that Ok writes it
// again in place and a new Destination deletes it; a file of the user's that was agreed
// to be replaced is not the split's until it is written, and is not remembered.
void lockedPieceFails(DWORD error)
{
    if (!isActive()) return;
    if (state.destMade.load(relaxed)) recordPiece(state.destIdentity, PieceHash{});
    failPieceFor(failedWrite, error);
}

// The piece goes only into the file made for it at the destination step, or left by its
// failed attempt: another disk in the drive or another file at the path is not written.
HANDLE openPieceFile()
{
    PathHolds holds;
    DWORD started = GetTickCount(), error = 0;
    HANDLE piece;
    for (;;) {
        piece = openOwnFile(state.destPath, state.destIdentity, &holds);
        if (piece != INVALID_HANDLE_VALUE || holds != holdsFileInUse) break;
        error = GetLastError();
        if (!waitOutPassingLock(error, started)) break;
    }
    if (piece == INVALID_HANDLE_VALUE && holds == holdsFileInUse && isPassingLock(error)) {
        lockedPieceFails(error);
        return piece;
    }
    if (piece != INVALID_HANDLE_VALUE) {
        // The file made for the piece, a renewed attempt's, or the user's file agreed to be
        // replaced, kept whole until now: the piece starts in it from nothing.
        if (emptyOpenFile(piece)) {
            state.destMade.store(1, relaxed);
            return piece;
        }
        CloseHandle(piece);
        holds = holdsFileInUse;
    }
    if (holds == holdsFileInUse) {
        reportOpenError(state.destPath);
        state.copyState.store(Stopped, relaxed);
    } else {
        state.pieceFileChanged.store(1, relaxed);
        failPiece();
    }
    return INVALID_HANDLE_VALUE;
}

// Once the notification has been handled, the window may start the next writer or
// tear everything down: nothing shared is touched after it.
void endPieceWriter()
{
    SendMessageA(state.mainWindow, pieceFinishedMessage, 0, 0);
    _endthread();
}

}  // namespace

int32_t progressLevel(uint32_t left, uint32_t total)
{
    if (total == 0) return fullLevel;
    uint32_t q = left < exactLevelLimit ? left * 51 / total : left / (total / 51 ? total / 51 : 1);
    if (q > uint32_t(fullLevel)) q = fullLevel;
    return fullLevel - int32_t(q);
}

void __cdecl writePiece(void *)
{
    state.failureKind.store(failedNot, relaxed);
    state.checkLevel.store(0, relaxed);
    uint32_t size = state.pieceBytes.load(relaxed);
    HANDLE piece = openPieceFile();
    if (piece != INVALID_HANDLE_VALUE) {
        // Every attempt hashes from the piece's start.
        PieceHash hash{};
        startHash();
        copyPiece(piece);
        finishHash(&hash);
        closePiece(piece);
        recordPiece(state.destIdentity, hash);
        checkPiece(size, hash);
        if (isActive()) listPiece();
    }
    state.checkLevel.store(0, relaxed);
    state.gaugeLevel.store(0, relaxed);
    endPieceWriter();
}

int markPieceStart()
{
    LARGE_INTEGER here{};
    if (!SetFilePointerEx(state.sourceHandle, here, &state.pieceStart, FILE_CURRENT))
        return reportOpenError(state.sourcePath);
    return 1;
}

int rewindPiece()
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(state.sourceHandle, &size) || size.QuadPart < state.pieceStart.QuadPart ||
        !SetFilePointerEx(state.sourceHandle, state.pieceStart, nullptr, FILE_BEGIN))
        return reportOpenError(state.sourcePath);
    uint64_t rest = uint64_t(size.QuadPart - state.pieceStart.QuadPart);
    state.remaining = fromBytes(uint32_t(rest >> 32), uint32_t(rest));
    return 1;
}

int failedPieceIsKept()
{
    return state.pieceCount < recordSlots &&
           whatPathHolds(state.piecePaths[state.pieceCount], state.pieceIdentities[state.pieceCount]) ==
               holdsOwnFile;
}

void dropFailedPiece()
{
    if (state.pieceCount >= recordSlots || !state.piecePaths[state.pieceCount][0]) return;
    // The new place may be the failed attempt's own file, reached by another path.
    if (!sameFile(state.destIdentity, state.pieceIdentities[state.pieceCount]))
        state.failedPieceDropped =
            deleteOwnFile(state.piecePaths[state.pieceCount], state.pieceIdentities[state.pieceCount]) == holdsOwnFile;
    state.piecePaths[state.pieceCount][0] = 0;
}

int startPieceWriter()
{
    state.writerRunning.store(1, relaxed);
    if (_beginthread(writePiece, 0, nullptr) == uintptr_t(-1)) {
        state.writerRunning.store(0, relaxed);
        return 0;
    }
    return 1;
}

// The writer's last act is a synchronous message to this thread, and handling it is
// what clears writerRunning: so the wait handles sent messages as they come.
void waitForPieceWriter()
{
    while (state.writerRunning.load(relaxed) == 1) {
        DWORD woken = MsgWaitForMultipleObjects(0, nullptr, FALSE, sentMessagePollMs, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0) {
            MSG message;
            PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        } else if (woken == WAIT_FAILED) {
            Sleep(10);
        }
    }
}
