#include "split/name_stepping.h"

#include <cstring>

#include "state/split_state.h"

namespace {

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
