// Tests that fill the small drive S: to the brim; they hold the drive to themselves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/files.h"
#include "support/piece_runs.h"

namespace {

// A file of `bytes` bytes of no content of note.
void makeFiller(const std::string &path, uint64_t bytes)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << path;
    static char block[1 << 16];
    uint64_t done = 0;
    while (done < bytes) {
        DWORD chunk = DWORD(bytes - done < sizeof block ? bytes - done : sizeof block), written = 0;
        if (!WriteFile(f, block, chunk, &written, nullptr) || written == 0) break;
        done += written;
    }
    CloseHandle(f);
    ASSERT_EQ(done, bytes) << "the filler did not fit";
}

uint64_t freeBytes(const std::string &root)
{
    ULARGE_INTEGER available{};
    GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr);
    return available.QuadPart;
}

}  // namespace

class FullDriveTest : public PieceRunFixture {};

TEST_F(FullDriveTest, PieceFailsOnAFullDriveAndIsWholeAfterSpaceIsFreed)
{
    const char *drive = getenv("KESTRAND_SMALL_DRIVE");
    if (!drive || !*drive) GTEST_SKIP() << "no small drive: KESTRAND_SMALL_DRIVE is not set (mounting a tmpfs was not allowed)";
    const std::string root = std::string(drive) + "\\";
    const uint32_t firstBytes = 100 * 1024 + 3, secondBytes = 1024 * 1024 + 200;
    TempFolder here;
    std::string source = randomBytes(firstBytes + secondBytes + 999, 23);
    writeFile(here / "data.bin", source);
    openSource(here / "data.bin");
    TempFolder pieces(drive);
    TestWindow window;

    Notice notice = runPiece(window, pieces / "01", firstBytes);
    ASSERT_EQ(notice.copyState, uint32_t(Active));

    // Leave a quarter of the second piece's room, so its writing fails halfway.
    uint64_t space = freeBytes(root);
    ASSERT_GT(space, uint64_t(secondBytes) + 512 * 1024) << "the small drive is too full already";
    makeFiller(pieces / "filler", space - 256 * 1024);
    notice = runPiece(window, pieces / "02", secondBytes);
    EXPECT_EQ(notice.copyState, uint32_t(Failed));
    EXPECT_EQ(notice.pieceCount, 1u);
    EXPECT_LT(fileSize(pieces / "02"), uint64_t(secondBytes));
    EXPECT_GT(fileSize(pieces / "02"), 0u);

    ASSERT_TRUE(DeleteFileA((pieces / "filler").c_str()));
    notice = runPiece(window, pieces / "02", secondBytes, true);
    EXPECT_EQ(notice.copyState, uint32_t(Active));
    EXPECT_TRUE(fileBytes(pieces / "02") == source.substr(firstBytes, secondBytes));

    notice = runPiece(window, pieces / "03", 999);
    EXPECT_EQ(notice.copyState, uint32_t(Active));
    EXPECT_TRUE(fileBytes(pieces / "01") == source.substr(0, firstBytes));
    EXPECT_TRUE(fileBytes(pieces / "03") == source.substr(firstBytes + secondBytes));
    EXPECT_EQ(std::string(state.pieceNames), "01 02 03 ");
}
