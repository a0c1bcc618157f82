#include "split/rejoin_script.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "split/source.h"
#include "state/split_state.h"

namespace {

// The script's text, one template per block, in the order the script holds them.
const char headText[] = "@echo off";
// Per piece: its name and number, twice. A missing piece stops the script before anything
// is renamed.
const char presenceTest[] =
    "\r\nif exist %s goto %d\r\ncmd /k \"echo In the folder is not exist file %s\"\r\n"
    "goto the_end\r\n\r\n:%d";
const char waitNotice[] = "\r\necho Please wait ...";
// Per temporary name, then the joined file's: a file another join left under such a name
// would be joined as a piece and then deleted.
const char busyTest[] = "\r\nif exist %s goto busy";
// Per piece: its name and its temporary name; back on the way out, the other way round.
const char renaming[] = "\r\nren %s %s";
// Per temporary name: a piece that could not be renamed is not joined.
const char renamedTest[] = "\r\nif not exist %s goto failed";
// The source's name: the join would replace a file of that name.
const char takenTest[] = "\r\nif exist %s goto taken";
const char joinStart[] = "\r\ncopy";
// Per temporary name, with " +" before every one but the first.
const char joinPart[] = "%s %s /b";
// The source's name, twice. copy sets ERRORLEVEL 1 when it fails (a full disk) and 0 when
// it succeeds; the joined file must have its name before any piece is deleted.
const char joinEnd[] =
    " _z._9 /b\r\nif errorlevel 1 goto failed\r\nren _z._9 %s\r\nif not exist %s goto failed";
// Per temporary name.
const char deletion[] = "\r\ndel %s";
// The source's name. Where a join that cannot be done goes: stopped before any renaming,
// or the partial joined file away and every piece back under its own name (the renamings
// back follow), with a window that stays until the user has read why.
const char wayBack[] =
    "\r\ngoto the_end\r\n\r\n:busy\r\n"
    "cmd /k \"echo Joining stopped: this folder holds a temporary file _?._9 of another join\"\r\n"
    "goto the_end\r\n\r\n:taken\r\necho A file %s is already in this folder\r\n"
    ":failed\r\nif exist _z._9 del _z._9";
const char failedNotice[] =
    "\r\ncmd /k \"echo Joining failed: the pieces are kept under their own names\"";
const char tailText[] = "\r\n:the_end\r\necho Process finished.";

const char joinedName[] = "_z._9";
const char scriptExtension[] = ".bat";
const char openErrorCaption[] = "Error opening file";

constexpr int maxNameLength = pathSize - 1;
constexpr int maxFormatted = 1024;  // what wvsprintfA writes at most; every block fits

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

// Names are at most 255 characters and the source's 98, so no block is cut here.
void appendFormatted(int *script, const char *format, ...)
{
    char text[maxFormatted + 1];
    va_list values;
    va_start(values, format);
    wvsprintfA(text, format, values);
    va_end(values);
    append(script, text);
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
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        pieceName(n, name);
        appendFormatted(script, presenceTest, name, int(n + 1), name, int(n + 1));
    }
}

void appendBusyTests(int *script)
{
    char temporary[8];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        temporaryName(n, temporary);
        appendFormatted(script, busyTest, temporary);
    }
    appendFormatted(script, busyTest, joinedName);
}

// Every piece to its temporary name, or back to its own name.
void appendRenamings(int *script, int back)
{
    char name[pathSize];
    char temporary[8];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        pieceName(n, name);
        temporaryName(n, temporary);
        if (back)
            appendFormatted(script, renaming, temporary, name);
        else
            appendFormatted(script, renaming, name, temporary);
    }
}

void appendRenamedTests(int *script)
{
    char temporary[8];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        temporaryName(n, temporary);
        appendFormatted(script, renamedTest, temporary);
    }
}

void appendJoin(int *script)
{
    char temporary[8];
    appendFormatted(script, takenTest, state.sourceName);
    append(script, joinStart);
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        temporaryName(n, temporary);
        appendFormatted(script, joinPart, n > 0 ? " +" : "", temporary);
    }
    appendFormatted(script, joinEnd, state.sourceName, state.sourceName);
}

void appendDeletions(int *script)
{
    char temporary[8];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        temporaryName(n, temporary);
        appendFormatted(script, deletion, temporary);
    }
}

void appendWayBack(int *script)
{
    appendFormatted(script, wayBack, state.sourceName);
    appendRenamings(script, 1);
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

// The script takes another name than the source's; this guards the source all the same.
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

int isJoinTemporaryName(const char *name)
{
    char temporary[8];
    for (uint32_t n = 0; n < maxPieces; ++n) {
        temporaryName(n, temporary);
        if (sameFileName(name, temporary)) return 1;
    }
    return sameFileName(name, joinedName);
}

int makeScriptName(const char *sourceName, char *scriptName, int size)
{
    int length = int(strlen(sourceName));
    int stem = length;
    for (int i = length - 1; i >= 1; --i)
        if (sourceName[i] == '.') {
            stem = i;
            break;
        }
    // "run.bat" would be its own script: the script then takes the whole name.
    if (stem < length && sameFileName(sourceName + stem, scriptExtension)) stem = length;
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
    appendBusyTests(&script);
    appendRenamings(&script, 0);
    appendRenamedTests(&script);
    appendJoin(&script);
    appendDeletions(&script);
    appendWayBack(&script);
    append(&script, tailText);
    if (script == spoilt ||
        !makeScriptName(state.sourceName, state.sourceName, int(sizeof state.sourceName)))
        return reportScriptFailure();
    return saveScript(script);
}
