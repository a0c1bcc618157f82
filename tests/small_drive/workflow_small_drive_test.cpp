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
        ASSERT_TRUE(drive && folderExists(std::string(drive) + "\\"))
            << "no small drive: KESTRAND_SMALL_DRIVE names none (the test runner mounts one)";
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

// While this thread holds the loader lock, a thread that the process starts waits before
// running any code of its own: a piece writer started meanwhile has written nothing yet.
class LoaderLock {
public:
    LoaderLock()
    {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        lock_ = reinterpret_cast<Lock>(reinterpret_cast<void *>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
        unlock_ = reinterpret_cast<Unlock>(reinterpret_cast<void *>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
        ULONG disposition = 0;
        held_ = lock_ && unlock_ && lock_(0, &disposition, &cookie_) == 0;
    }
    ~LoaderLock()
    {
        if (held_) unlock_(0, cookie_);
    }
    bool held() const { return held_; }

private:
    using Lock = LONG(WINAPI *)(ULONG, ULONG *, ULONG_PTR *);
    using Unlock = LONG(WINAPI *)(ULONG, ULONG_PTR);
    Lock lock_ = nullptr;
    Unlock unlock_ = nullptr;
    ULONG_PTR cookie_ = 0;
    bool held_ = false;
};

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

    std::string filler = place + "\\filler";
    typeInto(state.sizeEdit, std::to_string(bytes.size()));
    {
        // The piece fits when it is judged; then the drive fills up, a third of the way in.
        LoaderLock hold;
        ASSERT_TRUE(hold.held()) << "ntdll's loader lock cannot be taken";
        ASSERT_TRUE(press(state.okButton));
        ASSERT_EQ(state.writerRunning.load(), 1u);
        ASSERT_TRUE(fillDrive(filler, 1024 * 1024));
    }
    ASSERT_TRUE(pumpUntil([] { return state.writerRunning.load() == 0 || quitSeen(); }, 60000));

    ASSERT_FALSE(quitSeen()) << "the split ended although its last piece failed";
    EXPECT_EQ(state.copyState.load(), uint32_t(Failed));
    EXPECT_EQ(state.step, 3);
    EXPECT_EQ(enabledControls(), failedPhase);
    EXPECT_FALSE(fileExists(place + "\\data.bat"));
    EXPECT_TRUE(isZero(state.remaining));
    WIN32_FILE_ATTRIBUTE_DATA piece;
    ASSERT_TRUE(GetFileAttributesExA((place + "\\p01").c_str(), GetFileExInfoStandard, &piece));
    EXPECT_GT(piece.nFileSizeLow, 0u);
    EXPECT_LT(piece.nFileSizeLow, uint32_t(bytes.size()));

    ASSERT_TRUE(DeleteFileA(filler.c_str()));
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
    ASSERT_TRUE(fillDrive(place + "\\filler", 1024 * 1024));

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
