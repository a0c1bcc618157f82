#include "count/decimal_count.h"

#include <windows.h>

#include "state/report.h"
#include "state/split_state.h"

namespace {

constexpr uint32_t chunk = 100000;
constexpr uint32_t maxSizeField = 999999999;
constexpr uint32_t lastSafeValue = 99999999;  // one more digit stays below 10^9

}  // namespace

DecimalCount fromBytes(uint32_t hi, uint32_t lo)
{
    if (hi == 0) return DecimalCount{0, 0, lo};
    // 2^32 = 42949 * 10^5 + 67296
    uint64_t p = uint64_t(hi) * 67296u;
    uint64_t s = uint64_t(hi) * 42949u + p / chunk;
    uint32_t h = uint32_t(s / chunk), m0 = uint32_t(s % chunk);
    uint32_t l = lo % chunk + uint32_t(p % chunk);
    uint32_t carry = 0;
    if (l > chunk - 1) {
        l -= chunk;
        carry = 1;
    }
    uint32_t m = m0 + lo / chunk + carry;
    if (m > chunk - 1) {
        m -= chunk;
        ++h;
    }
    return DecimalCount{h, m, l};
}

int isZero(const DecimalCount &count)
{
    return count.high == 0 && count.mid == 0 && count.low == 0;
}

uint64_t countBytes(const DecimalCount &count)
{
    return uint64_t(count.high) * 10000000000ull + uint64_t(count.mid) * chunk + count.low;
}

int formatDigits(const DecimalCount &c, char *text)
{
    if (c.high != 0)
        return wsprintfA(text, "%lu%05lu%05lu", (unsigned long)c.high, (unsigned long)c.mid, (unsigned long)c.low);
    if (c.mid != 0) return wsprintfA(text, "%lu%05lu", (unsigned long)c.mid, (unsigned long)c.low);
    return wsprintfA(text, "%lu", (unsigned long)c.low);
}

int formatBytes(const DecimalCount &c, char *text)
{
    int length = formatDigits(c, text);
    return length + wsprintfA(text + length, " bytes");
}

void formatGrouped(uint32_t count, char *text)
{
    char digits[11];
    int length = wsprintfA(digits, "%lu", (unsigned long)count);
    int at = 0;
    for (int i = 0; i < length; ++i) {
        if (i > 0 && (length - i) % 3 == 0) text[at++] = ',';
        text[at++] = digits[i];
    }
    text[at] = 0;
}

void formatSizeField(const DecimalCount &c, char *text)
{
    if (c.high != 0 || c.mid > 9999 || (c.mid == 0 && c.low > maxSizeField))
        wsprintfA(text, "%lu", (unsigned long)maxSizeField);
    else if (c.mid != 0)
        wsprintfA(text, "%lu%05lu", (unsigned long)c.mid, (unsigned long)c.low);
    else
        wsprintfA(text, "%lu", (unsigned long)c.low);
}

uint32_t parsePieceSize(const char *text)
{
    for (const char *p = text; *p; ++p)
        if (*p < '0' || *p > '9') return tellUser("Use digits only for the number of bytes.", MB_OK);
    uint32_t value = 0;
    for (const char *p = text; *p; ++p) {
        value = value * 10 + uint32_t(*p - '0');
        if (p[1] && value > lastSafeValue) return tellUser("Number of Bytes less 1000000000!", MB_OK);
    }
    return value;
}

int queryFreeSpace()
{
    ULARGE_INTEGER free;
    if (!GetDiskFreeSpaceExA(nullptr, nullptr, nullptr, &free)) {
        state.freeLow = 0;
        state.pieceBytes.store(0, std::memory_order_relaxed);
        state.freeSpace = DecimalCount{0, 0, 0};
        return 0;
    }
    state.freeLow = free.LowPart;
    state.pieceBytes.store(free.HighPart, std::memory_order_relaxed);
    state.freeSpace = fromBytes(free.HighPart, free.LowPart);
    return 1;
}

void takePiece(uint32_t b)
{
    DecimalCount &r = state.remaining;
    uint32_t f = r.high, h = r.mid, d = r.low;
    if (b <= d) {
        r.low = d - b;
        state.pieceBytes.store(b, std::memory_order_relaxed);
        return;
    }
    uint32_t g = b / chunk, e = b % chunk;
    if (f == 0 && (h < g || (h == g && d <= e))) {
        // The piece covers all that remains.
        state.pieceBytes.store(h * chunk + d, std::memory_order_relaxed);
        r.mid = 0;
        r.low = 0;
        return;
    }
    if (e > d) {
        r.low = d - e + chunk;
        if (h > 0) {
            --h;
        } else {
            r.high = f - 1;
            h = chunk - 1;
        }
    } else {
        r.low = d - e;
    }
    if (g > h) {
        --r.high;
        r.mid = h - g + chunk;
    } else {
        r.mid = h - g;
    }
    state.pieceBytes.store(b, std::memory_order_relaxed);
}
