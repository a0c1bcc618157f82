#include "state/report.h"

#include <cstring>

#include "state/split_state.h"

namespace {

const char differsText[] =
    "Piece %d on %s does not give back the bytes just written to it: the disk may be failing, or smaller "
    "than it claims. Ok writes the piece again; a new Destination writes it elsewhere.";
const char notWrittenText[] =
    "Piece %d could not be written to %s: %s. Ok writes the piece again; a new Destination writes it elsewhere.";
const char notReadText[] = "Piece %d could not be read from the file being split: %s. Ok tries again.";
const char errorNumberText[] = "error %lu";
// wsprintfA writes at most 1,024 bytes: a path of 248 and the longest text leave this much.
constexpr int systemTextSize = 400;

int isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

void makeOneLine(char *text)
{
    for (char *c = text; *c; ++c)
        if (isLineEnd(*c)) *c = ' ';
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '.')) text[--length] = 0;
}

}  // namespace

int reportOpenError(const char *path)
{
    MessageBoxA(state.mainWindow, path, "Error opening file", MB_ICONERROR);
    return 0;
}

int reportInfeasibleName(const char *text)
{
    MessageBoxA(state.mainWindow, text, "Infeasible name", MB_OK);
    return 0;
}

int tellUser(const char *text, UINT style)
{
    MessageBoxA(state.mainWindow, text, state.className, style);
    return 0;
}

void systemText(DWORD error, char *text, int size)
{
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, DWORD(size), nullptr);
    if (length == 0 || length >= DWORD(size)) {
        wsprintfA(text, errorNumberText, error);
        return;
    }
    text[length] = 0;
    makeOneLine(text);
    if (!text[0]) wsprintfA(text, errorNumberText, error);
}

// Shown on the window's thread as it handles the failed piece's notification.
void reportFailedPiece()
{
    uint32_t kind = state.failureKind.exchange(failedNot, std::memory_order_relaxed);
    if (kind == failedNot) return;
    char system[systemTextSize];
    systemText(state.failureError.load(std::memory_order_relaxed), system, systemTextSize);
    int piece = state.step / 2;
    char *text = state.textBuffer;
    if (kind == failedReadBack)
        wsprintfA(text, differsText, piece, state.destPath);
    else if (kind == failedWrite)
        wsprintfA(text, notWrittenText, piece, state.destPath, system);
    else
        wsprintfA(text, notReadText, piece, system);
    tellUser(text, MB_OK | MB_ICONWARNING);
}
