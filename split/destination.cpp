#include "split/destination.h"

#include <windows.h>

#include <cstring>

#include "split/names.h"
#include "split/own_files.h"
#include "split/source.h"
#include "state/report.h"
#include "state/split_state.h"

namespace {

const char ruleText[] = "Use, please, digits,latin letters and '_' only: ";
const char replaceQuestion[] = " already exists.\r\nDo you want to replace it?";
const char usedBySplitText[] = " is already used by this split.\r\nChoose another name for this piece.";
const char changedFileText[] =
    "%s\r\nis no longer the file made for this piece: another disk or another file is there now.\r\n"
    "%s Confirm the destination again.";
const char nothingDeletedText[] = "Nothing was written or deleted.";
const char failedPieceDeletedText[] =
    "Nothing was written there; the part of the piece written before it failed was deleted.";
const char folderText[] = "%s is a folder. Type a file name.";
constexpr UINT replaceStyle = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
constexpr UINT usedBySplitStyle = MB_OK | MB_ICONWARNING;
constexpr UINT changedFileStyle = MB_OK | MB_ICONWARNING;
constexpr UINT folderStyle = MB_OK | MB_ICONWARNING;

constexpr int maxLevels = 42;
constexpr int rootLevel = 2;          // the backslash after "C:", taken as given
constexpr int firstWalked = 3;        // the walk over the levels starts behind it
constexpr int refusalOffset = pathSize;  // refusal texts go behind the composed path
constexpr int maxComposedLength = pathSize - 1;

// Copies at most size - 1 characters and always ends the text.
void copyText(char *to, const char *from, size_t size)
{
    size_t length = strnlen(from, size - 1);
    memcpy(to, from, length);
    to[length] = 0;
}

// The Destination text made into a path: as typed when it names a drive, on the base
// folder's drive when it starts with a backslash, inside the base folder otherwise.
void composeDestination(const char *text, char *composed)
{
    composed[0] = 0;
    if (text[0] && text[1] == ':') {
        copyText(composed, text, pathSize);
        return;
    }
    if (text[0] == '\\') {
        copyText(composed, state.baseFolder, 3);
    } else {
        copyText(composed, state.baseFolder, pathSize);
        strcat(composed, "\\");
    }
    strncat(composed, text, pathSize);
}

int countLevels(const char *path)
{
    int levels = 1;
    for (int i = 0; path[i]; ++i)
        if (i >= firstWalked && path[i] == '\\') ++levels;
    return levels;
}

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, alone or with any extension: a "file" of
// such a name is a device, and a piece written there is gone.
int isDeviceName(const char *name)
{
    const char *plain[] = {"CON", "PRN", "AUX", "NUL"};
    const char *numbered[] = {"COM", "LPT"};
    int stem = 0;
    for (const char *p : plain)
        if (sameLetters(name, p, 3)) stem = 3;
    for (const char *p : numbered)
        if (sameLetters(name, p, 3) && name[3] >= '1' && name[3] <= '9') stem = 4;
    return stem && (resolvedLength(name, int(strlen(name))) == stem || name[stem] == '.');
}

int isPieceName(const char *name)
{
    int length = resolvedLength(name, int(strlen(name)));
    const char *at = state.pieceNames;
    const char *end = state.pieceNames + sizeof state.pieceNames;
    for (uint32_t n = 0; n < state.pieceCount && at < end && *at; ++n) {
        const char *blank = static_cast<const char *>(memchr(at, ' ', size_t(end - at)));
        if (!blank) blank = at + strnlen(at, size_t(end - at));
        if (resolvedLength(at, int(blank - at)) == length && sameLetters(at, name, length)) return 1;
        at = blank + 1;
    }
    return 0;
}

int isScriptName(const char *name)
{
    char script[sizeof state.sourceName + 4];
    return state.sourceName[0] && makeScriptName(state.sourceName, 1, script, sizeof script) &&
           sameFileName(script, name);
}

// The rejoin script finds every piece by its bare name in one folder and uses names
// of its own: a piece may not take any of them, nor the source's, which the script would
// take for the piece in the folder where the source lies.
int isUsedBySplit(const char *name)
{
    return name[0] && (isPieceName(name) || isScriptName(name) || isJoinTemporaryName(name) ||
                       (state.sourceName[0] && sameFileName(name, state.sourceName)));
}

int refuseName(const char *name)
{
    char *message = state.textBuffer + refusalOffset;
    wsprintfA(message, "%s%s", ruleText, name);
    return reportInfeasibleName(message);
}

int refuseUsedName(char *composed)
{
    strcat(composed, usedBySplitText);
    return tellUser(composed, usedBySplitStyle);
}

// Fills levels with the positions of the backslashes; 0 when two follow each other.
int fillLevelTable(const char *path, int *levels, int *count)
{
    levels[0] = rootLevel;
    *count = 1;
    for (int i = 0; path[i]; ++i) {
        if (i < firstWalked || path[i] != '\\') continue;
        if (i == levels[*count - 1] + 1) return 0;
        levels[(*count)++] = i;
    }
    return 1;
}

int isFound(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FindClose(search);
    return 1;
}

// Looks the folder up and creates it when missing; an existing file counts as present.
int ensureFolder(const char *folder)
{
    return isFound(folder) || CreateDirectoryA(folder, nullptr) ? 1 : 0;
}

// Creates every missing level and enters the piece's folder. 0 after reporting.
int makeFolders(char *composed, const int *levels, int count)
{
    if (count == 1) {
        char drive[3] = {composed[0], composed[1], 0};
        if (!enterFolder(drive)) return reportOpenError(composed);
        return 1;
    }
    for (int level = 1; level < count; ++level) {
        char *cut = composed + levels[level];
        *cut = 0;
        int present = ensureFolder(composed);
        int entered = present && (level < count - 1 || enterFolder(composed));
        *cut = '\\';
        if (!present) return reportInfeasibleName(composed);
        if (!entered) return reportOpenError(composed);
    }
    return 1;
}

// "C:xy\p1" names a folder of drive C's current one; once inside it, the same text would
// mean another place, so the piece keeps the full path taken before entering.
int fullDestination(const char *composed, char *full)
{
    if (composed[1] == ':' && composed[2] != '\\') {
        DWORD length = GetFullPathNameA(composed, pathSize, full, nullptr);
        if (length == 0 || length >= DWORD(pathSize)) return reportInfeasibleName(composed);
        return 1;
    }
    strcpy(full, composed);
    return 1;
}

int isFolder(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A folder can take no piece: refused before any question, since "Yes" could not replace it.
// A path ending in a backslash names no file at all, so no file can be made there.
int refuseFolder()
{
    size_t length = strlen(state.destPath);
    if (length > 0 && state.destPath[length - 1] == '\\') return reportOpenError(state.destPath);
    char *message = state.textBuffer + refusalOffset;
    wsprintfA(message, folderText, state.destPath);
    return tellUser(message, folderStyle);
}

int askToReplace(char *composed)
{
    strcat(composed, replaceQuestion);
    return MessageBoxA(state.mainWindow, composed, state.className, replaceStyle) == IDYES;
}

enum Claim { claimed, claimRefused, claimAgain };

// A new, empty piece file where there was none: never one that appeared meanwhile.
Claim createPieceFile()
{
    HANDLE piece = CreateFileA(state.destPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (piece != INVALID_HANDLE_VALUE) {
        state.destMade.store(1, std::memory_order_relaxed);
        return closeAndRecord(piece, state.destPath, &state.destIdentity) ? claimed : claimRefused;
    }
    DWORD error = GetLastError();
    // A file or folder that came meanwhile gets its question or its refusal.
    if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) &&
        GetFileAttributesA(state.destPath) != INVALID_FILE_ATTRIBUTES)
        return claimAgain;
    reportOpenError(state.destPath);
    return claimRefused;
}

// "Yes" is about the file the question named, and no other: a disk swapped while the
// question was open brings its own question. The file is only opened, to know that it can
// be written, and stays whole: the writer empties it when its piece starts, so "Change", a
// refusal or Cancel leave it as it was.
Claim replacePieceFile(char *composed)
{
    PieceIdentity asked;
    identityAt(state.destPath, &asked);
    if (!askToReplace(composed)) return claimRefused;
    PathHolds holds;
    HANDLE piece = openOwnFile(state.destPath, asked, &holds);
    if (piece == INVALID_HANDLE_VALUE) {
        if (holds != holdsFileInUse || isFolder(state.destPath)) return claimAgain;
        reportOpenError(state.destPath);
        return claimRefused;
    }
    state.destMade.store(0, std::memory_order_relaxed);
    if (closeAndRecord(piece, state.destPath, &state.destIdentity)) return claimed;
    reportOpenError(state.destPath);
    return claimRefused;
}

// The empty piece file at destPath, made or emptied with the user's yes; its identity is
// what every later write or delete there is held to.
int claimPieceFile(char *composed)
{
    size_t length = strlen(composed);
    int asks = isFound(state.destPath);
    for (;;) {
        if (isFolder(state.destPath)) return refuseFolder();
        composed[length] = 0;  // a question asked before is followed by the next one
        Claim claim = asks ? replacePieceFile(composed) : createPieceFile();
        if (claim != claimAgain) return claim == claimed;
        // A file that kept the piece from being made is asked about even where the search
        // does not see it (a folder that may not be listed), so the loop always waits for
        // the user between two tries.
        asks = !asks || isFound(state.destPath);
    }
}

void rememberPieceFolder()
{
    copyText(state.baseFolder, state.destPath, pathSize);
    char *slash = strrchr(state.baseFolder, '\\');
    if (slash) *slash = 0;
}

}  // namespace

int prepareDestination()
{
    char *composed = state.textBuffer;
    composeDestination(state.destPath, composed);
    SetWindowTextA(state.destEdit, composed);

    if (int(strlen(composed)) > maxComposedLength || countLevels(composed) > maxLevels)
        return reportInfeasibleName(composed);
    const char *name;
    if (!followsNameRule(composed, 1, &name) || isDeviceName(name)) return refuseName(name);
    int levels[maxLevels];
    int count;
    if (!fillLevelTable(composed, levels, &count)) return reportInfeasibleName(composed);
    if (isUsedBySplit(name)) return refuseUsedName(composed);

    char full[pathSize];
    if (!fullDestination(composed, full)) return 0;
    int resolved = strcmp(full, composed) != 0;
    if (!makeFolders(composed, levels, count)) return 0;

    strcpy(state.destPath, full);
    if (!claimPieceFile(composed)) return 0;
    if (resolved) SetWindowTextA(state.destEdit, full);
    rememberPieceFolder();
    return 1;
}

// By identity, not by name: another drive letter, a share or a junction may lead to the
// same file under another name.
int namesDestinationFile(const char *text)
{
    char composed[2 * pathSize + 1];
    composeDestination(text, composed);
    PieceIdentity typed, current;
    identityAt(composed, &typed);
    identityAt(state.destPath, &current);
    return sameFile(typed, current);
}

int dropEmptyDestination()
{
    // A file the user agreed to have replaced goes only by being written.
    if (!state.destMade.load(std::memory_order_relaxed)) return 1;
    if (deleteOwnFile(state.destPath, state.destIdentity) != holdsOtherFile) return 1;
    return reportChangedDestination(0);
}

int reportChangedDestination(int failedPieceDeleted)
{
    wsprintfA(state.textBuffer, changedFileText, state.destPath,
              failedPieceDeleted ? failedPieceDeletedText : nothingDeletedText);
    return tellUser(state.textBuffer, changedFileStyle);
}
