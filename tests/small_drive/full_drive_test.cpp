// Tests that fill the small drive S: to the brim; they hold the drive to themselves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "split/rejoin_script.h"
#include "support/batch.h"
#include "support/files.h"
#include "support/piece_runs.h"

namespace {

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
    ASSERT_TRUE(drive && *drive) << "no small drive: KESTRAND_SMALL_DRIVE is not set (the test runner mounts one)";
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
    ASSERT_TRUE(fillDrive(pieces / "filler", 256 * 1024));
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

// The receiving side's disk has room for the pieces but not for the joined file.
TEST_F(FullDriveTest, AJoinWithoutRoomKeepsEveryPieceUnderItsOwnName)
{
    const char *drive = getenv("KESTRAND_SMALL_DRIVE");
    ASSERT_TRUE(drive && *drive) << "no small drive: KESTRAND_SMALL_DRIVE is not set (the test runner mounts one)";
    const std::string first = randomBytes(1024 * 1024 + 3, 31), second = randomBytes(700 * 1024 + 5, 32);
    TempFolder pieces(drive);
    writeFile(pieces / "p01", first);
    writeFile(pieces / "p02", second);
    strcpy(state.pieceNames, "p01 p02 ");
    state.pieceCount = 2;
    strcpy(state.sourceName, "data.bin");
    SetCurrentDirectoryA(pieces.path().c_str());
    int written = writeRejoinScript();
    SetCurrentDirectoryA(tempRoot().c_str());  // the folder must be removable at the end
    ASSERT_EQ(written, 1);
    ASSERT_TRUE(fillDrive(pieces / "filler", 600 * 1024));

    BatchRun run = runBatch(pieces.path(), "data.bat");
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_NE(run.output.find("Joining failed: the pieces are kept under their own names"), std::string::npos)
        << run.output;
    EXPECT_TRUE(fileBytes(pieces / "p01") == first);
    EXPECT_TRUE(fileBytes(pieces / "p02") == second);
    for (const char *left : {"data.bin", "_0._9", "_1._9", "_z._9"}) EXPECT_FALSE(fileExists(pieces / left)) << left;

    // Once there is room, the same script joins exactly.
    ASSERT_TRUE(DeleteFileA((pieces / "filler").c_str()));
    run = runBatch(pieces.path(), "data.bat");
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_TRUE(fileBytes(pieces / "data.bin") == first + second) << run.output;
    EXPECT_FALSE(fileExists(pieces / "p01"));
    EXPECT_FALSE(fileExists(pieces / "p02"));
}
