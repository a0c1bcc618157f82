// Byte counts of up to 64 bits held as three 32-bit chunks of decimal digits, so that
// every count is compared, reduced and printed with 32-bit arithmetic.
#pragma once

#include <cstdint>

struct DecimalCount {
    uint32_t high;  // count div 10^10
    uint32_t mid;   // (count div 10^5) mod 10^5
    uint32_t low;   // count mod 10^5, or the whole count below 2^32
};

constexpr int countTextSize = 32;  // room for formatBytes' at most 26 characters

DecimalCount fromBytes(uint32_t hi, uint32_t lo);
int isZero(const DecimalCount &count);
// The count as one 64-bit number, for the few sums that span pieces.
uint64_t countBytes(const DecimalCount &count);
// Writes "<digits> bytes" into text (countTextSize bytes); returns its length.
int formatBytes(const DecimalCount &count, char *text);
// Writes the count's digits alone into text (at least 21 bytes); returns their number.
int formatDigits(const DecimalCount &count, char *text);
// Writes a 32-bit count with its thousands grouped, "1,234,567", into text (at least 14 bytes).
void formatGrouped(uint32_t count, char *text);
// Writes min(count, 999999999) in digits into text (at least 10 bytes).
void formatSizeField(const DecimalCount &count, char *text);
// The piece size typed into the Dimension field; 0 means there is nothing to do.
uint32_t parsePieceSize(const char *text);
int queryFreeSpace();
void takePiece(uint32_t request);
