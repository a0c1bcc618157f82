// The dialogue on a small drive: refusals at the free space, and a disk that fills up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/batch.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/workflow_fixture.h"
#include "state/split_state.h"

class SmallDrive : public Workflow {
protected:
    void SetUp() override
    {
        Workflow::SetUp();
        const char *drive = getenv("KESTRAND_SMALL_DRIVE");
        if (!drive || !folderExists(std::string(drive) + "\\"))
            GTEST_SKIP() << "no small drive (scripts/test.sh mounts one when it may)";
        char name[64];
        wsprintfA(name, "%s\\wf%lu", drive, GetCurrentProcessId());
        place = name;
        CreateDirectoryA(place.c_str(), nullptr);
    }
    void TearDown() override
    {
        Workflow::TearDown();
        if (!place.empty()) removeTree(place);
    }
    uint64_t freeBytes()
    {
        ULARGE_INTEGER free;
        GetDiskFreeSpaceExA(place.c_str(), nullptr, nullptr, &free);
        return free.QuadPart;
    }
    std::string place;
};

TEST_F(SmallDrive, PieceOneByteOverTheFreeSpaceIsRefused)
{
    std::string source = folder / "data.bin";
    writeFile(source, std::string(100, 's'));
    BoxAnswerer answerer;
    acceptSource(source);
    typeInto(state.destEdit, place + "\\p01");
    acceptDestination();
    uint64_t free = freeBytes();
    ASSERT_LT(free, 999999999u);
    // The request is judged, not the rest of the source it would be cut to.
    typeInto(state.sizeEdit, std::to_string(free + 1));
    ASSERT_TRUE(press(state.okButton));
    EXPECT_EQ(state.step, 2);
    EXPECT_FALSE(fileExists(place + "\\p01"));
    EXPECT_TRUE(isZero(state.freeSpace));
    EXPECT_EQ(enabledControls(), destinationPhase);  // Change and Max stay off
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The file being copied is too large for the destination drive.");
    EXPECT_EQ(boxes[0].icon, UINT(MB_ICONERROR));
    EXPECT_EQ(boxes[0].owner, state.mainWindow);
    EXPECT_NE(boxes[0].caption, "Kestrand");  // the system's own caption

    acceptDestination();
    free = freeBytes();
    writePiece(std::to_string(free));  // equal to the free space: accepted
    EXPECT_TRUE(quitSeen());
    EXPECT_EQ(readFile(place + "\\p01"), std::string(100, 's'));
}

namespace {

struct Filler {
    std::string piece;
    std::string path;
    HANDLE thread = nullptr;
};

// Takes all free space of the drive once the piece has started, as another program
// writing to the same disk would.
DWORD WINAPI fillWhenPieceGrows(void *param)
{
    Filler *filler = static_cast<Filler *>(param);
    DWORD start = GetTickCount();
    // The moment the writer is started, after the free space was judged.
    while (state.writerRunning.load() == 0)
        if (GetTickCount() - start > 20000) return 1;
    HANDLE f = CreateFileA(filler->path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    static char block[4096];
    DWORD written = 0;
    while (WriteFile(f, block, sizeof block, &written, nullptr) && written == sizeof block) {
    }
    while (WriteFile(f, block, 1, &written, nullptr) && written == 1) {
    }
    CloseHandle(f);
    return 0;
}

}  // namespace

TEST_F(SmallDrive, LastPieceThatFailsIsOfferedAgainAndTheScriptWaitsForIt)
{
    std::string bytes = randomBytes(3 * 1024 * 1024, 11);
    std::string source = folder / "data.bin";
    writeFile(source, bytes);
    BoxAnswerer answerer;
    acceptSource(source);
    typeInto(state.destEdit, place + "\\p01");
    acceptDestination();

    Filler filler{place + "\\p01", place + "\\filler", nullptr};
    filler.thread = CreateThread(nullptr, 0, fillWhenPieceGrows, &filler, 0, nullptr);
    writePiece(std::to_string(bytes.size()));
    WaitForSingleObject(filler.thread, INFINITE);
    CloseHandle(filler.thread);

    // On a busy machine the writer may finish before the filler gets in; then there was no
    // failure to judge, and the piece must simply be whole.
    if (quitSeen() && readFile(place + "\\p01") == bytes) GTEST_SKIP() << "the disk filled only after the piece";
    ASSERT_FALSE(quitSeen()) << "the split ended although its last piece failed";
    EXPECT_EQ(state.copyState.load(), uint32_t(Failed));
    EXPECT_EQ(state.step, 3);
    EXPECT_EQ(enabledControls(), failedPhase);
    EXPECT_FALSE(fileExists(place + "\\data.bat"));
    EXPECT_TRUE(isZero(state.remaining));

    ASSERT_TRUE(DeleteFileA(filler.path.c_str()));
    ASSERT_TRUE(press(state.okButton));
    // While it runs again, Enter in the still enabled Destination field starts nothing.
    pressEnter(state.destEdit);
    ASSERT_TRUE(pumpUntil([] { return quitSeen(); }));
    EXPECT_EQ(readFile(place + "\\p01"), bytes);
    EXPECT_TRUE(fileExists(place + "\\data.bat"));
    EXPECT_EQ(state.pieceCount, 1u);
    EXPECT_EQ(answerer.count(), 0u);
}

namespace {

// A file that takes all of the drive's free space but `room` bytes.
void fillAllBut(const std::string &path, uint64_t free, uint64_t room)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << path;
    static char block[1 << 16];
    uint64_t left = free - room;
    DWORD written = 1;
    while (left > 0 && written > 0) {
        DWORD chunk = DWORD(left < sizeof block ? left : sizeof block);
        if (!WriteFile(f, block, chunk, &written, nullptr)) break;
        left -= written;
    }
    CloseHandle(f);
    ASSERT_EQ(left, 0u) << "the filler did not fit";
}

bool focusOnAnEnabledControlOrNowhere()
{
    HWND focus = GetFocus();
    return focus == nullptr || IsWindowEnabled(focus);
}

}  // namespace

TEST_F(SmallDrive, RenewedAttemptCopiesTheSmallerSizeTypedForIt)
{
    std::string bytes = randomBytes(2500000, 12);
    std::string source = folder / "data.bin";
    writeFile(source, bytes);
    BoxAnswerer answerer;
    ASSERT_TRUE(press(state.okButton));  // an empty Source first: a box while the field has the focus
    acceptSource(source);
    std::string piece = place + "\\p01";
    typeInto(state.destEdit, piece);
    acceptDestination();
    fillAllBut(place + "\\filler", freeBytes(), 1024 * 1024);

    // The room is measured in the current folder; taken elsewhere for once, it lets a piece
    // too large for this drive start, and the piece fails as on a disk that fills up.
    SetCurrentDirectoryA(folder.path().c_str());
    writePiece("2000000");
    SetCurrentDirectoryA(place.c_str());
    ASSERT_TRUE(pieceFailedShown());
    EXPECT_EQ(state.step, 3);

    // Ok offers the same size again, which the drive cannot take: back to the destination.
    ASSERT_TRUE(press(state.okButton));
    EXPECT_EQ(state.step, 2);
    EXPECT_EQ(enabledControls(), destinationPhase);
    EXPECT_TRUE(focusOnAnEnabledControlOrNowhere());
    acceptDestination();
    writePiece("600000");
    ASSERT_EQ(state.step, 4) << "the renewed attempt did not copy the size typed for it";
    EXPECT_TRUE(readFile(piece) == bytes.substr(0, 600000));
    EXPECT_EQ(state.remaining.low, 1900000u);

    typeInto(state.destEdit, folder / "p02");
    acceptDestination();
    writePiece("999999999");
    ASSERT_TRUE(quitSeen());
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Source file didn't defind");
    EXPECT_EQ(boxes[1].text, "The file being copied is too large for the destination drive.");

    ASSERT_TRUE(MoveFileExA(piece.c_str(), (folder / "p01").c_str(), MOVEFILE_COPY_ALLOWED));
    BatchRun run = runBatch(folder.path(), "data.bat");
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_TRUE(readFile(folder / "data.bin") == bytes) << run.output;
}
