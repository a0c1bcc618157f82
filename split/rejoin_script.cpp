#include "split/rejoin_script.h"

#include <windows.h>

#include <cstring>

#include "state/split_state.h"

namespace {

const char headText[] = "@echo off";
const char presenceTest[] =
    "\r\nif exist %s goto %d\r\ncmd /k \"echo In the folder is not exist file %s\"\r\n"
    "goto the_end\r\n\r\n:%d";
const char waitNotice[] = "\r\necho Please wait ...";
const char joinedName[] = "_z._9";
const char takenTest[] = "\r\nif exist %s goto taken";
const char failedTest[] = "\r\nif errorlevel 1 goto failed";
// Where a join that cannot be done goes: the partial joined file away, every piece back
// under its own name, and a window that stays until the user has read why.
const char takenNotice[] =
    "\r\ngoto the_end\r\n\r\n:taken\r\necho A file %s is already in this folder\r\n"
    ":failed\r\nif exist _z._9 del _z._9";
const char failedNotice[] =
    "\r\ncmd /k \"echo Joining failed: the pieces are kept under their own names\"";
const char tailText[] = "\r\n:the_end\r\necho Process finished.";
const char scriptExtension[] = ".bat";
const char openErrorCaption[] = "Error opening file";

constexpr int maxNameLength = pathSize - 1;

constexpr int spoilt = -1;  // the script's length once an append did not fit

// The script text grows in textBuffer; *script is its length so far.
void append(int *script, const char *text)
{
    if (*script == spoilt) return;
    int length = int(strlen(text));
    if (length > int(sizeof state.textBuffer) - 1 - *script) {
        *script = spoilt;
        return;
    }
    memcpy(state.textBuffer + *script, text, size_t(length) + 1);
    *script += length;
}

// The n-th name of pieceNames (from 0), cut at its blank into name.
void pieceName(uint32_t n, char *name)
{
    const char *at = state.pieceNames;
    const char *end = state.pieceNames + sizeof state.pieceNames;
    for (uint32_t i = 0; i < n && at < end; ++i) {
        const char *blank = static_cast<const char *>(memchr(at, ' ', size_t(end - at)));
        at = blank ? blank + 1 : end;
    }
    int length = 0;
    while (at + length < end && at[length] && at[length] != ' ' && length < maxNameLength) ++length;
    memcpy(name, at, size_t(length));
    name[length] = 0;
}

// "_0._9" to "_9._9" for pieces 1 to 10, then "_a._9" to "_j._9".
void temporaryName(uint32_t n, char *name)
{
    name[0] = '_';
    name[1] = n < 10 ? char('0' + n) : char('a' + n - 10);
    strcpy(name + 2, "._9");
}

uint32_t pieceTotal()
{
    return state.pieceCount < maxPieces ? state.pieceCount : maxPieces;
}

void appendPresenceTests(int *script)
{
    char name[pathSize];
    char block[3 * pathSize];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        pieceName(n, name);
        wsprintfA(block, presenceTest, name, int(n + 1), name, int(n + 1));
        append(script, block);
    }
}

void appendRenamings(int *script)
{
    char name[pathSize];
    char temporary[8];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        pieceName(n, name);
        temporaryName(n, temporary);
        append(script, "\r\nren ");
        append(script, name);
        append(script, " ");
        append(script, temporary);
    }
}

// After the renamings: a file named like the source would be replaced by the join.
void appendTakenTest(int *script)
{
    char line[sizeof takenTest + sizeof state.sourceName];
    wsprintfA(line, takenTest, state.sourceName);
    append(script, line);
}

void appendJoin(int *script)
{
    char temporary[8];
    append(script, "\r\ncopy");
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        temporaryName(n, temporary);
        if (n > 0) append(script, " +");
        append(script, " ");
        append(script, temporary);
        append(script, " /b");
    }
    append(script, " ");
    append(script, joinedName);
    append(script, " /b");
    // copy sets ERRORLEVEL 1 when it fails (a full disk) and 0 when it succeeds.
    append(script, failedTest);
    append(script, "\r\nren ");
    append(script, joinedName);
    append(script, " ");
    append(script, state.sourceName);
}

void appendDeletions(int *script)
{
    char temporary[8];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        temporaryName(n, temporary);
        append(script, "\r\ndel ");
        append(script, temporary);
    }
}

void appendWayBack(int *script)
{
    char line[sizeof takenNotice + sizeof state.sourceName];
    wsprintfA(line, takenNotice, state.sourceName);
    append(script, line);
    char name[pathSize];
    char temporary[8];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        pieceName(n, name);
        temporaryName(n, temporary);
        append(script, "\r\nren ");
        append(script, temporary);
        append(script, " ");
        append(script, name);
    }
    append(script, failedNotice);
}

// The main window is going away when the script is written, so no window owns this.
int reportScriptFailure()
{
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(state.sourceName, sizeof full, full, nullptr);
    const char *shown = length > 0 && length < sizeof full ? full : state.sourceName;
    MessageBoxA(nullptr, shown, openErrorCaption, MB_ICONERROR);
    return 0;
}

// A source named like its script, split into its own folder, would be overwritten.
int wouldReplaceSource()
{
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(state.sourceName, sizeof full, full, nullptr);
    return length > 0 && length < sizeof full && lstrcmpiA(full, state.sourceFullPath) == 0;
}

int saveScript(int script)
{
    if (wouldReplaceSource()) return reportScriptFailure();
    HANDLE file = CreateFileA(state.sourceName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return reportScriptFailure();
    DWORD written = 0;
    BOOL wrote = WriteFile(file, state.textBuffer, DWORD(script), &written, nullptr) &&
                 written == DWORD(script) && FlushFileBuffers(file);
    if (!CloseHandle(file)) wrote = FALSE;
    if (wrote) return 1;
    // A cut script could rename the pieces and stop before joining them.
    DeleteFileA(state.sourceName);
    return reportScriptFailure();
}

}  // namespace

int makeScriptName(const char *sourceName, char *scriptName, int size)
{
    int length = int(strlen(sourceName));
    int stem = length;
    for (int i = length - 1; i >= 1; --i)
        if (sourceName[i] == '.') {
            stem = i;
            break;
        }
    if (stem + int(sizeof scriptExtension) > size) return 0;
    memmove(scriptName, sourceName, size_t(stem));
    strcpy(scriptName + stem, scriptExtension);
    return 1;
}

int writeRejoinScript()
{
    int script = 0;
    state.textBuffer[0] = 0;
    append(&script, headText);
    appendPresenceTests(&script);
    append(&script, waitNotice);
    appendRenamings(&script);
    appendTakenTest(&script);
    appendJoin(&script);
    appendDeletions(&script);
    appendWayBack(&script);
    append(&script, tailText);
    if (script == spoilt ||
        !makeScriptName(state.sourceName, state.sourceName, int(sizeof state.sourceName)))
        return reportScriptFailure();
    return saveScript(script);
}
