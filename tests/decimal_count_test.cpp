#include <gtest/gtest.h>

#include <random>
#include <string>

#include "count/decimal_count.h"
#include "support/message_boxes.h"
#include "support/split_fixture.h"

namespace {

uint64_t valueOf(const DecimalCount &c)
{
    return uint64_t(c.high) * 10000000000ull + uint64_t(c.mid) * 100000ull + c.low;
}

std::string formatted(const DecimalCount &c)
{
    char text[countTextSize];
    int n = formatBytes(c, text);
    EXPECT_EQ(size_t(n), strlen(text));
    EXPECT_LE(n, 26);
    return text;
}

std::string sizeField(const DecimalCount &c)
{
    char text[16];
    formatSizeField(c, text);
    return text;
}

void expectChunks(const DecimalCount &c, uint32_t high, uint32_t mid, uint32_t low)
{
    EXPECT_EQ(c.high, high);
    EXPECT_EQ(c.mid, mid);
    EXPECT_EQ(c.low, low);
}

bool keepsInvariant(const DecimalCount &c)
{
    return c.mid <= 99999 && ((c.high == 0 && c.mid == 0) || c.low <= 99999);
}

}  // namespace

TEST(FromBytes, WorkedExamples)
{
    expectChunks(fromBytes(0, 4294967295u), 0, 0, 4294967295u);
    expectChunks(fromBytes(0, 123456), 0, 0, 123456);  // the whole form is not split
    expectChunks(fromBytes(1, 0), 0, 42949, 67296);
    expectChunks(fromBytes(2, 1410065408u), 1, 0, 0);
    expectChunks(fromBytes(2874, 1942892530u), 1234, 56789, 1234);
    expectChunks(fromBytes(4294967295u, 4294967295u), 1844674407u, 37095, 51615);
}

TEST(FormatBytes, ShowsEveryFormWithPaddedChunks)
{
    EXPECT_EQ(formatted(fromBytes(0, 4294967295u)), "4294967295 bytes");
    EXPECT_EQ(formatted(fromBytes(1, 0)), "4294967296 bytes");
    EXPECT_EQ(formatted(fromBytes(2, 1410065408u)), "10000000000 bytes");
    EXPECT_EQ(formatted(fromBytes(2874, 1942892530u)), "12345678901234 bytes");
    EXPECT_EQ(formatted(fromBytes(4294967295u, 4294967295u)), "18446744073709551615 bytes");
    EXPECT_EQ(formatted(DecimalCount{1, 2, 3}), "10000200003 bytes");
    EXPECT_EQ(formatted(DecimalCount{0, 7, 5}), "700005 bytes");
    EXPECT_EQ(formatted(DecimalCount{0, 0, 0}), "0 bytes");
}

TEST(FormatSizeField, CapsAtNineNines)
{
    EXPECT_EQ(sizeField(DecimalCount{0, 0, 1000000000}), "999999999");
    EXPECT_EQ(sizeField(DecimalCount{0, 10000, 0}), "999999999");
    EXPECT_EQ(sizeField(DecimalCount{1, 0, 0}), "999999999");
    EXPECT_EQ(sizeField(DecimalCount{0, 9999, 99999}), "999999999");
    EXPECT_EQ(sizeField(DecimalCount{0, 0, 999999999}), "999999999");
    EXPECT_EQ(sizeField(DecimalCount{0, 5, 7}), "500007");
    EXPECT_EQ(sizeField(DecimalCount{0, 0, 0}), "0");
}

TEST(DecimalCountRandomized, MatchesExactArithmetic)
{
    std::mt19937_64 random(20261207);
    for (int i = 0; i < 1000000; ++i) {
        // Mix sizes so both forms, chunk edges and small requests are all common.
        uint64_t v = random();
        switch (i % 4) {
        case 0: v >>= (random() % 64); break;
        case 1: v &= 0xFFFFFFFFull; break;
        case 2: v = (uint64_t(1) << 32) + (v % 20000000000ull); break;
        default: break;
        }
        DecimalCount c = fromBytes(uint32_t(v >> 32), uint32_t(v));
        ASSERT_EQ(valueOf(c), v);
        ASSERT_TRUE(keepsInvariant(c));
        ASSERT_EQ(c.high == 0 && c.mid == 0, v < (uint64_t(1) << 32) || v < 100000);
        char text[countTextSize];
        formatBytes(c, text);
        ASSERT_EQ(std::string(text), std::to_string(v) + " bytes");
        char field[16];
        formatSizeField(c, field);
        ASSERT_EQ(std::string(field), std::to_string(v < 999999999 ? v : 999999999));

        uint32_t b = uint32_t(random() % 1000000000u);
        if (i % 3 == 0) b = uint32_t(random() % 200000u);
        if (b == 0) b = 1;
        state.remaining = c;
        takePiece(b);
        uint64_t piece = b < v ? b : v;
        ASSERT_EQ(state.pieceBytes.load(), piece) << v << " less " << b;
        ASSERT_EQ(valueOf(state.remaining), v - piece) << v << " less " << b;
        ASSERT_TRUE(keepsInvariant(state.remaining)) << v << " less " << b;
    }
}

TEST(TakePiece, WorkedExamples)
{
    struct Case {
        DecimalCount before;
        uint32_t request;
        DecimalCount after;
        uint32_t piece;
    } cases[] = {
        {{0, 0, 3000000000u}, 999999999, {0, 0, 2000000001u}, 999999999},
        {{0, 0, 500}, 1000, {0, 0, 0}, 500},
        {{0, 50000, 0}, 1, {0, 49999, 99999}, 1},
        {{1, 0, 0}, 1, {0, 99999, 99999}, 1},
        {{2, 0, 5}, 999999999, {1, 90000, 6}, 999999999},
        {{0, 3, 5}, 300006, {0, 0, 0}, 300005},
        {{0, 9999, 1}, 999999999, {0, 0, 0}, 999900001},
        {{0, 0, 0}, 12345, {0, 0, 0}, 0},
    };
    for (const Case &c : cases) {
        state.remaining = c.before;
        takePiece(c.request);
        expectChunks(state.remaining, c.after.high, c.after.mid, c.after.low);
        EXPECT_EQ(state.pieceBytes.load(), c.piece);
    }
}

class ParsePieceSize : public SplitFixture {};

TEST_F(ParsePieceSize, DigitsBelowOneBillionPassSilently)
{
    BoxAnswerer answerer;
    EXPECT_EQ(parsePieceSize("999999999"), 999999999u);
    EXPECT_EQ(parsePieceSize("0000000000123"), 123u);
    EXPECT_EQ(parsePieceSize("1"), 1u);
    EXPECT_EQ(parsePieceSize(""), 0u);
    EXPECT_EQ(parsePieceSize("0"), 0u);
    Sleep(50);
    EXPECT_EQ(answerer.count(), 0u);
}

TEST_F(ParsePieceSize, OneBillionOrMoreIsRefusedWithItsMessage)
{
    BoxAnswerer answerer;
    EXPECT_EQ(parsePieceSize("1000000000"), 0u);
    EXPECT_EQ(parsePieceSize("99999999999999999999"), 0u);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const SeenBox &box : boxes) {
        EXPECT_EQ(box.caption, "Kestrand");
        EXPECT_EQ(box.text, "Number of Bytes less 1000000000!");
        EXPECT_EQ(box.icon, 0u);
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    }
}

TEST_F(ParsePieceSize, PastedNonDigitsAreRefused)
{
    BoxAnswerer answerer;
    const char *texts[] = {"12a", "-5", " 7", "3.5", "1e9", "\xB9"};
    for (const char *text : texts) EXPECT_EQ(parsePieceSize(text), 0u) << text;
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), std::size(texts));
    for (const SeenBox &box : boxes) {
        EXPECT_EQ(box.caption, "Kestrand");
        EXPECT_EQ(box.text, "Use digits only for the number of bytes.");
        EXPECT_EQ(box.icon, 0u);
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    }
}

class QueryFreeSpace : public SplitFixture {};

TEST_F(QueryFreeSpace, MeasuresTheCurrentFoldersDrive)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    ASSERT_TRUE(SetCurrentDirectoryA(folder));
    ULARGE_INTEGER avail, total, free;
    ASSERT_TRUE(GetDiskFreeSpaceExA(folder, &avail, &total, &free));
    ASSERT_EQ(queryFreeSpace(), 1);
    // Other processes write too; the figures agree to within a few MiB.
    uint64_t measured = (uint64_t(state.pieceBytes.load()) << 32) | state.freeLow;
    EXPECT_NEAR(double(measured), double(free.QuadPart), 64.0 * 1024 * 1024);
    EXPECT_EQ(valueOf(state.freeSpace), measured);
}
