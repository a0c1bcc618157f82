// Tests that fill the small drive S: to the brim; they hold the drive to themselves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "split/rejoin_script.h"
#include "support/batch.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/piece_runs.h"
#include "support/workflow_fixture.h"

namespace {

uint64_t freeBytes(const std::string &root)
{
    ULARGE_INTEGER available{};
    GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr);
    return available.QuadPart;
}

}  // namespace

class FullDriveTest : public SplitFixture {};
class FullDriveWorkflow : public Workflow {};

TEST_F(FullDriveWorkflow, MiddlePieceFailsOnAFullDriveAndIsWrittenWholeAfterSpaceIsFreed)
{
    const char *drive = getenv("KESTRAND_SMALL_DRIVE");
    ASSERT_TRUE(drive && *drive) << "no small drive: KESTRAND_SMALL_DRIVE is not set (the test runner mounts one)";
    const uint32_t firstBytes = 100 * 1024 + 3, secondBytes = 1024 * 1024 + 200;
    std::string source = randomBytes(firstBytes + secondBytes + 999, 23);
    writeFile(folder / "data.bin", source);
    TempFolder pieces(drive);
    BoxAnswerer answerer;
    acceptSource(folder / "data.bin");
    typeInto(state.destEdit, pieces / "01");
    acceptDestination();
    writePiece(std::to_string(firstBytes));
    ASSERT_EQ(state.step, 4);
    acceptDestination();

    // Leave a quarter of the second piece's room once its size has been judged (in another
    // folder for once), so that its writing fails on the way.
    ASSERT_GT(freeBytes(std::string(drive) + "\\"), uint64_t(secondBytes) + 512 * 1024)
        << "the small drive is too full already";
    ASSERT_TRUE(fillDrive(pieces / "filler", 256 * 1024));
    SetCurrentDirectoryA(folder.path().c_str());
    writePiece(std::to_string(secondBytes));
    SetCurrentDirectoryA(pieces.path().c_str());
    ASSERT_TRUE(pieceFailedShown());
    EXPECT_EQ(state.pieceCount, 1u);
    EXPECT_LT(fileSize(pieces / "02"), uint64_t(secondBytes));
    EXPECT_GT(fileSize(pieces / "02"), 0u);

    // Ok once more: the piece is cut again from its own start, not from where it stopped.
    ASSERT_TRUE(DeleteFileA((pieces / "filler").c_str()));
    writePiece(std::to_string(secondBytes));
    ASSERT_EQ(state.step, 6);
    EXPECT_TRUE(fileBytes(pieces / "02") == source.substr(firstBytes, secondBytes));

    acceptDestination();
    writePiece("999");
    EXPECT_TRUE(quitSeen());
    EXPECT_TRUE(fileBytes(pieces / "01") == source.substr(0, firstBytes));
    EXPECT_TRUE(fileBytes(pieces / "03") == source.substr(firstBytes + secondBytes));
    EXPECT_EQ(std::string(state.pieceNames), "01 02 03 ");
    EXPECT_TRUE(fileExists(pieces / "data.bat"));
    EXPECT_EQ(answerer.count(), 0u);
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
    state.pieceIdentities[0].sizeLow = DWORD(first.size());
    state.pieceIdentities[1].sizeLow = DWORD(second.size());
    strcpy(state.sourceName, "data.bin");
    SetCurrentDirectoryA(pieces.path().c_str());
    // A drive too full for the whole script keeps none of it, and the user is told.
    ASSERT_TRUE(fillDrive(pieces / "filler", 0));
    BoxAnswerer answerer({IDOK});
    EXPECT_EQ(writeRejoinScript(), 0);
    ASSERT_TRUE(answerer.waitFor(1));
    EXPECT_EQ(answerer.boxes()[0].text, pieces / "data.bat");
    EXPECT_FALSE(fileExists(pieces / "data.bat"));
    ASSERT_TRUE(DeleteFileA((pieces / "filler").c_str()));
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
    // Joined on the sizes alone (no certutil here): the pieces stay.
    EXPECT_TRUE(fileBytes(pieces / "p01") == first);
    EXPECT_TRUE(fileBytes(pieces / "p02") == second);
}
