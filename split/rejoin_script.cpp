#include "split/rejoin_script.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "split/own_files.h"
#include "split/names.h"
#include "state/split_state.h"

namespace {

// The script's text, one template per block, in the order the script holds them. The
// templates with a "%s" go through wvsprintfA, where "%%" stands for one "%" of the
// script; the others are taken as they stand.
// Extensions switched on for %~dp0 and %~z, delayed expansion off so that a "!" in the
// folder's path stays, whatever the registry says; then into the script's own folder, not
// the one the command window stands in, and out of it again on every way out. A path too
// long, or a network folder with no drive letter free, keeps it out: it says so.
const char headText[] =
    "@echo off\r\nsetlocal EnableExtensions DisableDelayedExpansion\r\npushd \"%~dp0\" || goto outside";
// Some interpreters (Wine's) expand a "%" in the folder's path again and land in another
// folder, maybe one with other files of the pieces' names: the script must find itself.
// The checks start again here once stopped pieces have their names back.
const char landingTest[] = "\r\nif not exist \"%~nx0\" goto elsewhere\r\n:again";
// Per piece: its name, its size as written and its number; its temporary name and size;
// its name, size and number again. A piece missing or of another size (a copy cut short,
// another file under its name) stops the script before anything is renamed, unless it
// stands whole under its temporary name, as a join that was stopped left it.
const char sizeTest[] =
    "\r\nfor %%%%s in (%s) do if \"%%%%~zs\"==\"%s\" goto %d\r\n"
    "for %%%%s in (%s) do if \"%%%%~zs\"==\"%s\" goto interrupted\r\n"
    "cmd /k \"echo In the folder is not exist file %s of %s bytes\"\r\n"
    "goto the_end\r\n\r\n:%d";
// Sizes cannot tell a piece whose bytes changed (failing flash, a stick that fakes its
// size, another split's piece of the same size): each piece's SHA-1 as written, where
// certutil (Windows 7 on) answers for the first one. Pieces joined on their sizes alone are
// kept (ku): only a piece checked by its size and its bytes is ever deleted.
const char checkNotice[] = "\r\necho Checking the pieces ...\r\nset ku=";
const char hashCall[] = "\r\ncall :sha1 %s";
const char certutilTest[] = "\r\nif not defined kh goto unchecked";
const char hashTest[] = "\r\nif /i not \"%%kh%%\"==\"%s\" goto damaged";
const char hashesChecked[] = "\r\ngoto checked";
const char hashesUnknown[] = "\r\ngoto unchecked";
const char checkEnd[] =
    "\r\n\r\n:unchecked\r\nset ku=1\r\n"
    "echo The contents of the pieces cannot be checked on this Windows, only their sizes: the pieces will be "
    "kept.\r\n:checked";
const char waitNotice[] = "\r\necho Please wait ...";
// Per temporary name: a file another join left under such a name would be joined as a
// piece and then deleted. With every piece under its own name, a joined file left alone
// is an unfinished join's, and goes on the user's word.
const char busyTest[] = "\r\nif exist %s goto busy";
const char leftoverTest[] = "\r\nif exist _z._9 goto leftover";
// Per piece: its name and its temporary name; back on the way out, the other way round.
const char renaming[] = "\r\nren %s %s";
// Per temporary name: a piece that could not be renamed is not joined.
const char renamedTest[] = "\r\nif not exist %s goto failed";
// The source's name: the join would replace a file of that name.
const char takenTest[] = "\r\nif exist %s goto taken";
const char joinStart[] = "\r\ncopy";
// Per temporary name, with " +" before every one but the first.
const char joinPart[] = "%s %s /b";
// The joined size and what else it may be shown as, then the source's name, twice. copy
// sets ERRORLEVEL 1 when it fails (a full disk) and 0 when it succeeds; the joined file
// must be whole and have its name before any piece is deleted, and a file that took the
// name while copy ran leaves _z._9 behind.
const char joinEnd[] =
    " _z._9 /b\r\nif errorlevel 1 goto failed\r\n"
    "for %%%%s in (_z._9) do if not \"%%%%~zs\"==\"%s\"%s goto failed\r\n"
    "ren _z._9 %s\r\nif exist _z._9 goto failed\r\nif not exist %s goto failed";
// From 4 GiB on, the joined size's low 32 bits: some interpreters (Wine's) show %~z so.
// Every piece is smaller than that, so its own size test stays exact.
const char shortSizeAlternative[] = " if not \"%%%%~zs\"==\"%lu\"";
const char keptTest[] = "\r\nif defined ku goto kept";
// Per temporary name; pieces copied from a CD are read-only.
const char deletion[] = "\r\ndel /f %s";
// Where a join that cannot be done goes: stopped before any renaming, or the partial
// joined file away and every piece back under its own name (:back, after the end),
// with a window that stays until the user has read why. A join stopped midway (the window
// closed, the computer asleep) left the pieces renamed: only the user can say that no
// other join of them still runs, so they get their names back on a Y alone, a name only
// where no file holds it. The answer is never expanded where its text could break a line.
const char recoveryStart[] =
    "\r\ngoto the_end\r\n\r\n:interrupted\r\n"
    "echo An earlier join of these pieces was stopped and left them renamed.\r\nset kr=\r\n"
    "set /p kr=If no other join of them is running now, type Y and Enter to give them their names back: \r\n"
    "call :yes\r\nif not defined kr goto unanswered";
// Per piece: its temporary name, its name, the temporary name and the name again.
const char recovery[] = "\r\nif exist %s if not exist %s ren %s %s";
// copy gives the joined file the read-only attribute of read-only pieces.
const char recoveryEnd[] = "\r\nif exist _z._9 del /f _z._9\r\ngoto again";
const char leftover[] =
    "\r\n\r\n:leftover\r\n"
    "echo An earlier join of these pieces was stopped and left its unfinished joined file _z._9.\r\nset kr=\r\n"
    "set /p kr=If no other join of them is running now, type Y and Enter to delete _z._9: \r\n"
    "call :yes\r\nif not defined kr goto unanswered\r\ndel /f _z._9\r\ngoto checked";
// Every way the script stops says why in a window that stays open.
const char stops[] =
    "\r\n\r\n:unanswered\r\ncmd /k \"echo Joining stopped: every file is left as it was\"\r\ngoto the_end\r\n\r\n"
    ":damaged\r\n"
    "cmd /k \"echo Joining stopped: %kp% cannot be read or does not hold the bytes it was written with. "
    "Every piece is kept.\"\r\ngoto the_end\r\n\r\n"
    ":elsewhere\r\ncmd /k \"echo Joining stopped: the script cannot find its own folder\"\r\ngoto the_end\r\n\r\n"
    ":busy\r\n"
    "cmd /k \"echo Joining stopped: this folder holds a temporary file _?._9 of another join\"\r\n"
    "goto the_end";
// The source's name. A piece that keeps its temporary name (held open by another program)
// is named (kb), as the user may move such files away.
const char keptNotice[] =
    "\r\n\r\n:kept\r\ncall :back\r\n"
    "cmd /k \"echo %s is joined on the sizes of its pieces alone, as this Windows cannot check their contents. "
    "The pieces are kept.%%kb%%\"\r\ngoto the_end";
// The source's name.
const char failedNotice[] =
    "\r\n\r\n:taken\r\necho A file %s is already in this folder\r\n"
    ":failed\r\nif exist _z._9 del /f _z._9\r\ncall :back\r\n"
    "if defined kb cmd /k \"echo Joining failed:%%kb%% Every piece is kept.\"\r\n"
    "if not defined kb cmd /k \"echo Joining failed: the pieces are kept under their own names\"";
const char theEnd[] =
    "\r\n:the_end\r\npopd\r\necho Process finished.\r\ngoto :eof\r\n\r\n"
    ":outside\r\ncmd /k \"echo Joining stopped: the script cannot go into its own folder\"\r\ngoto :eof";
// Every piece back to its own name; then per temporary name: the name it stands for and
// itself.
const char backStart[] = "\r\n\r\n:back\r\nset kb=";
const char heldTest[] = "\r\nif exist %s set \"kb= %s is in use and still named %s.\"";
const char backEnd[] = "\r\ngoto :eof";
// Y or y, whatever else may be typed: quotes and other marks are read only through
// delayed expansion, which no text can break.
const char yesText[] =
    "\r\n\r\n:yes\r\nsetlocal EnableDelayedExpansion\r\nif /i not \"!kr!\"==\"Y\" set kr=\r\n"
    "endlocal & set \"kr=%kr%\"\r\ngoto :eof";
// certutil -hashfile without an algorithm gives SHA-1 on every Windows that has it, with
// blanks between the bytes on Windows 7. Windows' own, by its full path: a certutil.bat
// beside the pieces would run first. The piece by its full path, which the child cmd
// expands once, inside quotes: an AutoRun command may change its folder or print lines.
// The outer quotes are the child's to remove.
const char sha1Text[] =
    "\r\n\r\n:sha1\r\nset kh=\r\nset kp=%1\r\nset \"kf=%~f1\"\r\n"
    "for /f \"delims=\" %%h in ('\"\"%SystemRoot%\\System32\\certutil.exe\" -hashfile \"%%kf%%\" 2>nul\"') do "
    "if not defined kh set \"kl=%%h\" & call :hexline\r\ngoto :eof";
// kh takes the first line that, without its blanks, is 40 hex digits; no other line is
// ever compared, so kh stays empty where certutil is missing, blocked or without -hashfile.
// Some interpreters (Wine's) take a substring past the end as the last character: the
// length is tested by cutting at 40 and 41.
const char hexLineText[] =
    "\r\n\r\n:hexline\r\nsetlocal EnableDelayedExpansion\r\nset \"kl=#!kl: =!\"\r\n"
    "set \"kc=!kl:0=!\" & set \"kc=!kc:1=!\" & set \"kc=!kc:2=!\" & set \"kc=!kc:3=!\" & "
    "set \"kc=!kc:4=!\" & set \"kc=!kc:5=!\" & set \"kc=!kc:6=!\" & set \"kc=!kc:7=!\"\r\n"
    "set \"kc=!kc:8=!\" & set \"kc=!kc:9=!\" & set \"kc=!kc:a=!\" & set \"kc=!kc:b=!\" & "
    "set \"kc=!kc:c=!\" & set \"kc=!kc:d=!\" & set \"kc=!kc:e=!\" & set \"kc=!kc:f=!\"\r\n"
    "if not \"!kc!\"==\"#\" goto :eof\r\nif not \"!kl:~0,41!\"==\"!kl!\" goto :eof\r\n"
    "if \"!kl:~0,40!\"==\"!kl!\" goto :eof\r\nendlocal & set \"kh=%kl:~1%\"\r\ngoto :eof";

const char openErrorCaption[] = "Error opening file";
// The script's full path, "file" or "folder", then its usual name.
const char otherNameNotice[] = "The joining script is %s, as a %s %s was already in this folder.";
// The usual name, the last numbered one and the folder.
const char namesTakenText[] =
    "No joining script was written: %s to %s are all taken in %s. The pieces are kept.";
// The script stops at a piece of another size everywhere, at one of other bytes only where
// certutil answers, and a piece touched without a change of its bytes joins as it was.
const char changedPiecesText[] =
    "These pieces have changed since this split wrote them. The joining script stops at a piece of "
    "another size, and at one of other bytes where this Windows lets it check them:";

// NAME.bat, then NAME_2.bat to NAME_99.bat; a folder with all of them taken is refused.
constexpr int maxScriptNumber = 99;
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

uint32_t pieceTotal()
{
    return state.pieceCount < maxPieces ? state.pieceCount : maxPieces;
}

// The size of piece n as written, in digits: %~z compares sizes as text.
void pieceSize(uint32_t n, char *digits)
{
    formatDigits(fromBytes(state.pieceIdentities[n].sizeHigh, state.pieceIdentities[n].sizeLow), digits);
}

// The joined size in digits, and in *alternative the test of its low 32 bits when it has more.
void joinedSize(char *digits, char *alternative)
{
    uint64_t total = 0;
    for (uint32_t n = 0; n < pieceTotal(); ++n)
        total += uint64_t(state.pieceIdentities[n].sizeHigh) << 32 | state.pieceIdentities[n].sizeLow;
    formatDigits(fromBytes(uint32_t(total >> 32), uint32_t(total)), digits);
    alternative[0] = 0;
    if (total >> 32) wsprintfA(alternative, shortSizeAlternative, (unsigned long)uint32_t(total));
}

void appendSizeTests(int *script)
{
    char name[pathSize];
    char size[countTextSize];
    char temporary[8];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        pieceName(n, name);
        pieceSize(n, size);
        temporaryName(n, temporary);
        appendFormatted(script, sizeTest, name, size, int(n + 1), temporary, size, name, size, int(n + 1));
    }
}

// An empty piece has no bytes to check, and certutil is said to refuse empty files.
int pieceIsEmpty(uint32_t n)
{
    return state.pieceIdentities[n].sizeHigh == 0 && state.pieceIdentities[n].sizeLow == 0;
}

// 40 lowercase hex digits, as certutil shows them once the blanks are gone.
void hashDigits(uint32_t n, char *digits)
{
    for (int i = 0; i < hashSize; ++i) wsprintfA(digits + 2 * i, "%02x", unsigned(state.pieceHashes[n].bytes[i]));
}

// Every piece with bytes is checked, or, with one hash unknown, none: the script then
// says that it checks the sizes alone.
void appendHashChecks(int *script)
{
    append(script, checkNotice);
    int checked = 0;
    for (uint32_t n = 0; n < pieceTotal(); ++n)
        if (!pieceIsEmpty(n) && !state.pieceHashes[n].known) {
            append(script, hashesUnknown);
            append(script, checkEnd);
            return;
        }
    char name[pathSize];
    char digits[2 * hashSize + 1];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        if (pieceIsEmpty(n)) continue;
        pieceName(n, name);
        hashDigits(n, digits);
        appendFormatted(script, hashCall, name);
        if (!checked++) append(script, certutilTest);
        appendFormatted(script, hashTest, digits);
    }
    append(script, hashesChecked);
    append(script, checkEnd);
}

void appendBusyTests(int *script)
{
    char temporary[8];
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        temporaryName(n, temporary);
        appendFormatted(script, busyTest, temporary);
    }
    append(script, leftoverTest);
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
    char size[countTextSize];
    char alternative[sizeof shortSizeAlternative + countTextSize];
    joinedSize(size, alternative);
    appendFormatted(script, joinEnd, size, alternative, state.sourceName, state.sourceName);
}

void appendDeletions(int *script)
{
    char temporary[8];
    append(script, keptTest);
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        temporaryName(n, temporary);
        appendFormatted(script, deletion, temporary);
    }
}

void appendRecovery(int *script)
{
    char name[pathSize];
    char temporary[8];
    append(script, recoveryStart);
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        pieceName(n, name);
        temporaryName(n, temporary);
        appendFormatted(script, recovery, temporary, name, temporary, name);
    }
    append(script, recoveryEnd);
    append(script, leftover);
}

void appendWayBack(int *script)
{
    append(script, stops);
    appendFormatted(script, keptNotice, state.sourceName);
    appendFormatted(script, failedNotice, state.sourceName);
    append(script, theEnd);
}

void appendBack(int *script)
{
    char name[pathSize];
    char temporary[8];
    append(script, backStart);
    appendRenamings(script, 1);
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        pieceName(n, name);
        temporaryName(n, temporary);
        appendFormatted(script, heldTest, temporary, name, temporary);
    }
    append(script, backEnd);
}

// The name's full path in the current folder, or the name itself if that cannot be had.
const char *shownPath(const char *name, char *full)
{
    DWORD length = GetFullPathNameA(name, MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? full : name;
}

// The main window is going away when the script is written, so no window owns these.
int reportScriptFailure(const char *scriptName)
{
    char full[MAX_PATH];
    MessageBoxA(nullptr, shownPath(scriptName, full), openErrorCaption, MB_ICONERROR);
    return 0;
}

void tellOtherScriptName(const char *scriptName)
{
    char usual[pathSize] = "";
    char full[MAX_PATH];
    makeScriptName(state.sourceName, 1, usual, sizeof usual);
    DWORD attributes = GetFileAttributesA(usual);
    int folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    char text[sizeof otherNameNotice + sizeof full + sizeof usual];
    wsprintfA(text, otherNameNotice, shownPath(scriptName, full), folder ? "folder" : "file", usual);
    MessageBoxA(nullptr, text, state.className, MB_OK | MB_ICONINFORMATION);
}

int reportNamesTaken(const char *lastName)
{
    char usual[pathSize] = "";
    char folder[MAX_PATH] = "";
    makeScriptName(state.sourceName, 1, usual, sizeof usual);
    if (!GetCurrentDirectoryA(MAX_PATH, folder)) folder[0] = 0;
    char text[sizeof namesTakenText + 2 * pathSize + MAX_PATH];
    wsprintfA(text, namesTakenText, usual, lastName, folder);
    MessageBoxA(nullptr, text, state.className, MB_OK | MB_ICONWARNING);
    return 0;
}

// A file or folder of the script's name may be a user's own or another split's joiner: it
// is never replaced. The script takes the first name that is free; any other failure ends
// the search, with scriptName the name that failed. *taken says that every name was.
HANDLE createScriptFile(char *scriptName, int *taken)
{
    *taken = 0;
    for (int number = 1; number <= maxScriptNumber; ++number) {
        if (!makeScriptName(state.sourceName, number, scriptName, pathSize)) break;
        HANDLE file = CreateFileA(scriptName, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        // A folder of the name refuses the file with "access denied" on Windows.
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
            GetFileAttributesA(scriptName) == INVALID_FILE_ATTRIBUTES)
            break;
        *taken = number == maxScriptNumber;
    }
    return INVALID_HANDLE_VALUE;
}

int saveScript(int script)
{
    char scriptName[pathSize];
    int taken;
    HANDLE file = createScriptFile(scriptName, &taken);
    if (file == INVALID_HANDLE_VALUE) return taken ? reportNamesTaken(scriptName) : reportScriptFailure(scriptName);
    DWORD written = 0;
    BOOL wrote = WriteFile(file, state.textBuffer, DWORD(script), &written, nullptr) &&
                 written == DWORD(script) && FlushFileBuffers(file);
    PieceIdentity made;
    if (!closeAndRecord(file, scriptName, &made)) wrote = FALSE;
    if (!wrote) {
        // A cut script could rename the pieces and stop before joining them.
        deleteOwnFile(scriptName, made);
        return reportScriptFailure(scriptName);
    }
    char usual[pathSize];
    if (!makeScriptName(state.sourceName, 1, usual, sizeof usual) || !sameFileName(usual, scriptName))
        tellOtherScriptName(scriptName);
    return 1;
}

// Each piece still at its path on the volume it was written to must be the file written
// there: one changed since (another split's "Yes", an edit) is named, as the script may
// stop at it, or join it as it now is. A piece whose disk is out of the drive cannot be
// looked at.
void tellChangedPieces()
{
    char text[sizeof changedPiecesText + maxPieces * (pathSize + 2)];
    strcpy(text, changedPiecesText);
    int changed = 0;
    for (uint32_t n = 0; n < pieceTotal(); ++n) {
        PieceIdentity now;
        identityAt(state.piecePaths[n], &now);
        if (!now.known || now.volume != state.pieceIdentities[n].volume ||
            sameIdentity(now, state.pieceIdentities[n]))
            continue;
        strcat(text, "\r\n");
        strcat(text, state.piecePaths[n]);
        changed = 1;
    }
    if (changed) MessageBoxA(nullptr, text, state.className, MB_OK | MB_ICONWARNING);
}

}  // namespace

int writeRejoinScript()
{
    tellChangedPieces();
    int script = 0;
    state.textBuffer[0] = 0;
    append(&script, headText);
    append(&script, landingTest);
    appendSizeTests(&script);
    appendHashChecks(&script);
    append(&script, waitNotice);
    appendBusyTests(&script);
    appendRenamings(&script, 0);
    appendRenamedTests(&script);
    appendJoin(&script);
    appendDeletions(&script);
    appendRecovery(&script);
    appendWayBack(&script);
    appendBack(&script);
    append(&script, yesText);
    append(&script, sha1Text);
    append(&script, hexLineText);
    if (script == spoilt) {
        char scriptName[pathSize] = "";
        makeScriptName(state.sourceName, 1, scriptName, sizeof scriptName);
        return reportScriptFailure(scriptName);
    }
    return saveScript(script);
}
