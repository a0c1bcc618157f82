// The one record that holds everything Kestrand knows while it runs.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <wincrypt.h>

#include <atomic>
#include <cstdint>

#include "count/decimal_count.h"

// copyState values; the piece writer reads and writes them from its own thread.
enum : uint32_t { Stopped = 0, Active = 1, Failed = 2 };

constexpr int maxPieces = 20;
constexpr uint32_t largestPiece = 999999999;  // the most bytes the Dimension field takes

// What tells a file this split made from any other file that later takes its path. The
// last-write time tells a file rewritten in place, which keeps its index.
struct PieceIdentity {
    DWORD volume;
    DWORD indexHigh, indexLow;
    DWORD sizeHigh, sizeLow;
    FILETIME lastWrite;
    int known;  // 0 when the platform could not say: such a file is never touched
};
// A piece's SHA-1 as written, which the joining script checks where certutil answers.
constexpr int hashSize = 20;
struct PieceHash {
    BYTE bytes[hashSize];
    int known;  // 0 when the platform could not compute it
};
constexpr int fieldTextLimit = 249;  // bytes read from an edit field, zero included
constexpr int pathSize = 256;

struct SplitState {
    HINSTANCE instance;
    char className[16];
    HWND mainWindow;
    HWND sourceEdit, destEdit, sizeEdit;
    HWND browseButton, changeButton, maxButton, okButton, cancelButton;
    WNDPROC oldEditProcs[3];
    HFONT editFont;
    HBRUSH backgroundBrush;
    HRGN gaugeRegion;
    HBRUSH emptyBrush, fillBrush;
    RECT destNumberRect, sizeNumberRect, restRect, freeRect, gaugeRect;
    int32_t step;
    std::atomic<uint32_t> copyState;   // shared with the piece writer
    std::atomic<int32_t> gaugeLevel;   // shared with the piece writer
    DecimalCount remaining;
    DecimalCount freeSpace;
    uint32_t freeLow;
    std::atomic<uint32_t> pieceBytes;  // shared with the piece writer
    char sourcePath[pathSize];
    char sourceName[99];
    char destPath[pathSize];
    char textBuffer[64000];  // the joining script of 20 long-named pieces is about 45 KB
    char ioBuffer[512];
    HANDLE sourceHandle;
    char pieceNames[8000];
    uint32_t pieceCount;
    OPENFILENAMEA openDialog;

    // The folder that a relative Destination text is based on: the source's folder,
    // then the folder of the latest piece whose destination was prepared.
    char baseFolder[pathSize];
    // Full paths of the pieces written, in the order of pieceNames, and what each file
    // was when written, so that a piece changed since is told before the script is written.
    char piecePaths[maxPieces + 1][pathSize];
    PieceIdentity pieceIdentities[maxPieces + 1];
    PieceHash pieceHashes[maxPieces + 1];
    // The writer's CryptoAPI handles while it hashes a piece; no other thread uses them.
    HCRYPTPROV hashProvider;
    HCRYPTHASH pieceHash;
    // The file at destPath as this split made, emptied or last wrote it: the only file
    // there that it writes or deletes.
    PieceIdentity destIdentity;
    // 1 when this split made the file at destPath or has written into it; 0 while it is a
    // file the user agreed to have replaced, which stays whole until the writer empties it.
    // Set by the writer when it empties such a file; the window reads it between pieces.
    std::atomic<uint32_t> destMade;
    // Where the current piece starts in the source, so a renewed attempt after a
    // failure can cut it again from there.
    LARGE_INTEGER pieceStart;
    // Set by the window when it starts a piece writer and cleared by the window when
    // it handles that writer's notification; the writer itself never touches it.
    std::atomic<uint32_t> writerRunning;
    // Set by the writer when destPath no longer held destIdentity's file, so nothing was
    // written; the window clears it when it handles the notification.
    std::atomic<uint32_t> pieceFileChanged;
    int tornDown;          // teardown has run; it runs once
    int tailTooLong;       // the command-line tail did not fit sourcePath
    HWND lastFocus;        // the control to give the focus back to on reactivation

    // 1 once a renewed attempt elsewhere has deleted the failed attempt's file, so that a
    // refusal of the new place does not say that nothing was deleted. Window thread only.
    int failedPieceDropped;
};

extern SplitState state;

// Back to the zeroed record of process start; for tests that run many splits.
void resetSplitState();
