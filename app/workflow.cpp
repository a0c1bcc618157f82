#include "app/workflow.h"

#include <shellapi.h>

#include <cstring>

#include "split/destination.h"
#include "split/names.h"
#include "split/own_files.h"
#include "split/piece_writer.h"
#include "split/source.h"
#include "state/report.h"
#include "state/split_state.h"

namespace {

const char noDestinationText[] = "Destination file didn't defind";
const char tooLargeText[] = "The file being copied is too large for the destination drive.";
const char notStartedText[] = "The copy could not be started.";
const char lastPieceText[] = "Piece 20 must hold the rest of the file: %s bytes.";
const char leastPieceText[] =
    "Piece %d must hold at least %s bytes: the pieces after it, up to the 20th, hold at most "
    "999,999,999 bytes each.";

void enable(HWND control, BOOL on)
{
    EnableWindow(control, on);
}

void invalidate(const RECT &area)
{
    InvalidateRect(state.mainWindow, &area, TRUE);
}

uint32_t copyState()
{
    return state.copyState.load(std::memory_order_relaxed);
}

uint64_t freeBytes()
{
    return (uint64_t(state.pieceBytes.load(std::memory_order_relaxed)) << 32) | state.freeLow;
}

// The room the piece will find: the drive's free space, and the bytes of the file at
// destPath, which the writer empties before it writes (a file the user agreed to have
// replaced, or a failed attempt's). The figure shown and "Max" read it too.
void measureRoom()
{
    if (!queryFreeSpace() || whatPathHolds(state.destPath, state.destIdentity) != holdsOwnFile) return;
    uint64_t room = freeBytes() + (uint64_t(state.destIdentity.sizeHigh) << 32 | state.destIdentity.sizeLow);
    state.freeLow = uint32_t(room);
    state.pieceBytes.store(uint32_t(room >> 32), std::memory_order_relaxed);
    state.freeSpace = fromBytes(uint32_t(room >> 32), uint32_t(room));
}

// The room just measured, capped at 4 GiB - 1: any more means room for every size.
uint32_t roomForPiece()
{
    uint64_t room = freeBytes();
    return room > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(room);
}

// What is left of the source where this piece starts. After a failed attempt `remaining`
// has already lost the piece, which is cut again from its start.
uint64_t restAtPieceStart()
{
    LARGE_INTEGER size;
    if (copyState() == Failed && GetFileSizeEx(state.sourceHandle, &size) &&
        size.QuadPart >= state.pieceStart.QuadPart)
        return uint64_t(size.QuadPart - state.pieceStart.QuadPart);
    return countBytes(state.remaining);
}

// What the piece will really hold: the size typed, or the rest where that is smaller.
uint64_t pieceSize(uint32_t size)
{
    uint64_t rest = restAtPieceStart();
    return rest < size ? rest : size;
}

// No split is started that 20 pieces cannot finish: what this size leaves of the source
// must fit into the pieces after it. The refusal names the least size that does, which the
// source's limit and every earlier piece's test keep at most 999,999,999.
int leavesRoomForTheRest(uint32_t size)
{
    int piece = state.step / 2;
    uint64_t rest = restAtPieceStart();
    uint64_t later = uint64_t(maxPieces - piece) * largestPiece;
    if (rest <= later + size) return 1;
    char least[16];
    formatGrouped(uint32_t(rest - later), least);
    char text[sizeof leastPieceText + sizeof least];
    if (piece == maxPieces)
        wsprintfA(text, lastPieceText, least);
    else
        wsprintfA(text, leastPieceText, piece, least);
    return tellUser(text, MB_OK | MB_ICONWARNING);
}

// Back to the destination of the same piece, whose checks and question run again.
void backToDestinationStep()
{
    state.freeSpace = DecimalCount{0, 0, 0};
    invalidate(state.freeRect);
    enable(state.destEdit, TRUE);
    enable(state.sizeEdit, FALSE);
    enable(state.okButton, TRUE);
    --state.step;
}

// The size step's refusal. The piece file goes only after the message is read, and only
// if it is still the one made for the piece: the user may have changed disks meanwhile.
void refuseTooLargePiece()
{
    MessageBoxA(state.mainWindow, tooLargeText, nullptr, MB_ICONERROR);
    dropEmptyDestination();
    backToDestinationStep();
}

// The writer found another file, or none, where the piece's file was: nothing was written.
// The piece is given back to the source, and stays a renewed attempt, so that the file of
// an earlier failed attempt is still looked after.
void refuseChangedPieceFile()
{
    state.pieceFileChanged.store(0, std::memory_order_relaxed);
    if (rewindPiece()) invalidate(state.restRect);
    invalidate(state.gaugeRect);
    UpdateWindow(state.mainWindow);
    reportChangedDestination(state.failedPieceDropped);
    state.failedPieceDropped = 0;
    backToDestinationStep();
    SetFocus(state.destEdit);
}

// The size step's controls, as acceptDestination left them.
void backToSizeStep()
{
    enable(state.sizeEdit, TRUE);
    enable(state.changeButton, TRUE);
    enable(state.maxButton, TRUE);
    enable(state.okButton, TRUE);
}

// The piece's start is recorded before the piece is taken, so a failure to record it
// cannot take the piece twice. A renewed attempt after a failure cuts the piece again
// from its start, at the size the Dimension field holds now.
int setUpPiece(uint32_t size)
{
    int ready = copyState() == Active ? markPieceStart() : rewindPiece();
    if (!ready) return 0;
    state.failedPieceDropped = 0;
    takePiece(size);
    if (copyState() == Failed) dropFailedPiece();
    return 1;
}

void startPiece()
{
    state.copyState.store(Active, std::memory_order_relaxed);
    state.gaugeLevel.store(-1, std::memory_order_relaxed);
    if (!startPieceWriter()) {
        // The piece is taken; a later Ok copies it again as a renewed attempt.
        state.copyState.store(Failed, std::memory_order_relaxed);
        state.gaugeLevel.store(0, std::memory_order_relaxed);
        tellUser(notStartedText, MB_ICONERROR);
        backToSizeStep();
        return;
    }
    enable(state.sizeEdit, FALSE);
    invalidate(state.gaugeRect);
    UpdateWindow(state.mainWindow);
}

// Ok in the Piece-failed phase, the one phase of a failed piece with the Destination field
// open, reads that field: only the very file the failed attempt wrote, still at the path
// shown, is written again in place; any other text names a new place for the piece.
int failedPieceMoves()
{
    if (copyState() != Failed || !IsWindowEnabled(state.destEdit)) return 0;
    char text[fieldTextLimit];
    GetWindowTextA(state.destEdit, text, fieldTextLimit);
    return GetWindowTextLengthA(state.destEdit) >= fieldTextLimit || !namesDestinationFile(text) ||
           !failedPieceIsKept();
}

// The size step's judgement and the start of the piece.
void judgePieceSize()
{
    GetWindowTextA(state.sizeEdit, state.textBuffer, fieldTextLimit);
    uint32_t size = parsePieceSize(state.textBuffer);
    if (size == 0 || !leavesRoomForTheRest(size)) {
        SetFocus(state.sizeEdit);
        return;
    }
    enable(state.changeButton, FALSE);
    enable(state.maxButton, FALSE);
    enable(state.okButton, FALSE);
    measureRoom();
    if (pieceSize(size) > roomForPiece()) {
        refuseTooLargePiece();
        return;
    }
    if (!setUpPiece(size)) {
        enable(state.okButton, TRUE);
        return;
    }
    startPiece();
}

// The destination step for the new place, with all its checks and questions, then the
// size step at once. Refused, the piece stays failed where it was, and nothing is deleted.
void moveFailedPiece()
{
    char failedPath[pathSize];
    strcpy(failedPath, state.destPath);
    int destinationStep = --state.step;
    acceptDestination();
    if (state.step != destinationStep) {
        judgePieceSize();
        return;
    }
    state.step = destinationStep + 1;
    strcpy(state.destPath, failedPath);
    enterFolder(state.baseFolder);
}

void goToNextPiece()
{
    ++state.step;
    invalidate(state.restRect);
    invalidate(state.destNumberRect);
    invalidate(state.sizeNumberRect);
    invalidate(state.freeRect);
    invalidate(state.gaugeRect);
    UpdateWindow(state.mainWindow);
    enable(state.destEdit, TRUE);
    enable(state.sizeEdit, FALSE);
    enable(state.okButton, TRUE);
    if (stepDestinationName()) SetWindowTextA(state.destEdit, state.destPath);
    SetFocus(state.destEdit);
}

}  // namespace

LRESULT onCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case browseButtonId: onBrowse(); return 0;
    case changeButtonId: onChange(); return 0;
    case maxButtonId: onMax(); return 0;
    case okButtonId: onOk(); return 0;
    case cancelButtonId: onCancel(); return 0;
    default: return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
    }
}

void onBrowse()
{
    if (chooseSource()) SetWindowTextA(state.sourceEdit, state.sourcePath);
    SetFocus(state.sourceEdit);
}

void onChange()
{
    --state.step;
    SetWindowTextA(state.sizeEdit, "");
    enable(state.destEdit, TRUE);
    enable(state.sizeEdit, FALSE);
    enable(state.changeButton, FALSE);
    enable(state.maxButton, FALSE);
    dropEmptyDestination();
}

void onMax()
{
    formatSizeField(state.freeSpace, state.ioBuffer);
    SetWindowTextA(state.sizeEdit, state.ioBuffer);
}

void onOk()
{
    if (state.step == 1)
        acceptSource();
    else if (state.step % 2 == 1)
        acceptPieceSize();
    else
        acceptDestination();
}

void onCancel()
{
    state.copyState.store(Stopped, std::memory_order_relaxed);
    Sleep(200);  // a running piece writer sees the stop after its current block
    DestroyWindow(state.mainWindow);
}

void acceptSource()
{
    if (!checkSourceName()) return;
    if (!checkSource(state.sourcePath)) return;
    if (!openSource()) return;
    enable(state.browseButton, FALSE);
    enable(state.sourceEdit, FALSE);
    enable(state.destEdit, TRUE);
    SetFocus(state.destEdit);
    SetWindowTextA(state.destEdit, state.destPath);
    invalidate(state.restRect);
    state.step = 2;
    invalidate(state.destNumberRect);
    invalidate(state.sizeNumberRect);
    DragAcceptFiles(state.mainWindow, FALSE);
}

void acceptDestination()
{
    if (!readFieldText(state.destEdit, state.destPath)) return;
    if (state.destPath[0] == 0) {
        tellUser(noDestinationText, MB_OK);
        SetFocus(state.destEdit);
        return;
    }
    if (!prepareDestination()) return;
    measureRoom();
    invalidate(state.freeRect);
    enable(state.destEdit, FALSE);
    enable(state.sizeEdit, TRUE);
    SetFocus(state.sizeEdit);
    enable(state.changeButton, TRUE);
    enable(state.maxButton, TRUE);
    enable(state.okButton, TRUE);
    ++state.step;
}

void acceptPieceSize()
{
    // Enter in the Destination field during a renewed attempt reaches here too.
    if (state.writerRunning.load(std::memory_order_relaxed)) return;
    if (failedPieceMoves()) {
        moveFailedPiece();
        return;
    }
    judgePieceSize();
}

LRESULT onPieceFinished()
{
    // The writer is blocked in this notification and touches nothing after it.
    state.writerRunning.store(0, std::memory_order_relaxed);
    if (state.tornDown) return 0;
    uint32_t outcome = copyState();
    if (outcome == Stopped) {
        DestroyWindow(state.mainWindow);
        return 0;
    }
    if (outcome == Failed && state.pieceFileChanged.load(std::memory_order_relaxed)) {
        refuseChangedPieceFile();
        return 0;
    }
    // A failed piece is offered again even when it was the last: the script must never
    // join a piece that was not written whole.
    if (outcome == Failed) {
        invalidate(state.freeRect);
        invalidate(state.gaugeRect);
        UpdateWindow(state.mainWindow);
        enable(state.destEdit, TRUE);
        enable(state.okButton, TRUE);
        return 0;
    }
    if (isZero(state.remaining)) {
        DestroyWindow(state.mainWindow);
        return 0;
    }
    goToNextPiece();
    return 0;
}
