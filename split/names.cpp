#include "split/names.h"

#include <windows.h>

#include <cstring>

#include "state/split_state.h"

namespace {

const char scriptExtension[] = ".bat";

// Names that pass the name rule are plain ASCII, so case is folded without a locale.
char upperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// A position before the start of the text never holds a digit.
int isDigitAt(const char *text, int at)
{
    return at >= 0 && text[at] >= '0' && text[at] <= '9';
}

int isSteppableAt(const char *text, int at)
{
    return isDigitAt(text, at) && text[at] != '9';
}

// The units digit: the last character, or the one before the last full stop.
int unitsPosition(const char *text, int length)
{
    if (isDigitAt(text, length - 1)) return length - 1;
    int dot = length - 1;
    while (dot >= 1 && text[dot] != '.') --dot;
    if (dot < 1 || !isDigitAt(text, dot - 1)) return -1;
    return dot - 1;
}

}  // namespace

int isNameChar(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           c == '.';
}

int followsNameRule(const char *path, int lowest, const char **namePart)
{
    const char *slash = strrchr(path, '\\');
    *namePart = slash ? slash + 1 : path;
    for (int i = int(strlen(path)) - 1; i >= lowest && path[i] != '\\'; --i)
        if (!isNameChar((unsigned char)path[i])) return 0;
    return 1;
}

int resolvedLength(const char *name, int length)
{
    while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) --length;
    return length;
}

int sameLetters(const char *a, const char *b, int length)
{
    for (int i = 0; i < length; ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return 0;
    return 1;
}

int sameFileName(const char *a, const char *b)
{
    int length = resolvedLength(a, int(strlen(a)));
    return length == resolvedLength(b, int(strlen(b))) && sameLetters(a, b, length);
}

void temporaryName(uint32_t n, char *name)
{
    name[0] = '_';
    name[1] = n < 10 ? char('0' + n) : char('a' + n - 10);
    strcpy(name + 2, "._9");
}

int isJoinTemporaryName(const char *name)
{
    char temporary[8];
    for (uint32_t n = 0; n < maxPieces; ++n) {
        temporaryName(n, temporary);
        if (sameFileName(name, temporary)) return 1;
    }
    return sameFileName(name, joinedName);
}

int makeScriptName(const char *sourceName, int number, char *scriptName, int size)
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
    char ending[16];
    if (number > 1)
        wsprintfA(ending, "_%d%s", number, scriptExtension);
    else
        strcpy(ending, scriptExtension);
    if (stem + int(strlen(ending)) + 1 > size) return 0;
    memmove(scriptName, sourceName, size_t(stem));
    strcpy(scriptName + stem, ending);
    return 1;
}

int stepDestinationName()
{
    char *text = state.destPath;
    int length = int(strnlen(text, sizeof state.destPath));
    int u = unitsPosition(text, length);
    if (u < 0) return 0;
    // The carry runs over at most three digits; the number never grows longer.
    for (int carried = 0; carried < 3; ++carried) {
        int at = u - carried;
        if (isSteppableAt(text, at)) {
            ++text[at];
            for (int below = at + 1; below <= u; ++below) text[below] = '0';
            return 1;
        }
        if (!isDigitAt(text, at)) return 0;
    }
    return 0;
}
