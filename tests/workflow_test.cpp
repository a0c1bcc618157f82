// The dialogue driven through the real window hosted in the test process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "count/decimal_count.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/window_host.h"
#include "state/split_state.h"

namespace {

// sourceEdit destEdit sizeEdit Browse Change Max Ok Cancel
const char destinationPhase[] = "01000011";
const char sizePhase[] = "00101111";
const char writingPhase[] = "00000001";
const char failedPhase[] = "01000011";

class Workflow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startWindow()); }
    void TearDown() override
    {
        if (IsWindow(state.mainWindow) && !quitSeen()) {
            SendMessageA(state.mainWindow, WM_CLOSE, 0, 0);
            pumpUntil([] { return quitSeen(); });
        }
        SetCurrentDirectoryA(tempRoot().c_str());
    }

    void acceptSource(const std::string &path)
    {
        typeInto(state.sourceEdit, path);
        ASSERT_TRUE(press(state.okButton));
        ASSERT_EQ(state.step, 2);
    }
    void acceptDestination()
    {
        int step = state.step;
        ASSERT_TRUE(press(state.okButton));
        ASSERT_EQ(state.step, step + 1);
    }
    // Ok at the size step, then wait until the piece writer has reported.
    void writePiece(const std::string &size)
    {
        int step = state.step;
        typeInto(state.sizeEdit, size);
        ASSERT_TRUE(press(state.okButton));
        ASSERT_TRUE(pumpUntil([&] { return state.step != step || quitSeen() || pieceFailedShown(); }));
    }
    static bool pieceFailedShown()
    {
        return state.copyState.load() == Failed && state.writerRunning.load() == 0 &&
               IsWindowEnabled(state.okButton);
    }

    TempFolder folder;
};

}  // namespace

TEST_F(Workflow, WholeSplitWithDefaultNames)
{
    std::string bytes = randomBytes(2500, 7);
    std::string source = folder / "data.bin";
    writeFile(source, bytes);
    BoxAnswerer answerer;

    acceptSource(source);
    EXPECT_EQ(windowText(state.destEdit), folder / "Separation\\01");
    EXPECT_EQ(enabledControls(), destinationPhase);
    EXPECT_EQ(GetFocus(), state.destEdit);
    EXPECT_EQ(state.remaining.low, 2500u);

    acceptDestination();
    EXPECT_EQ(enabledControls(), sizePhase);
    EXPECT_EQ(GetFocus(), state.sizeEdit);
    EXPECT_TRUE(fileExists(folder / "Separation\\01"));

    writePiece("1000");
    EXPECT_EQ(state.step, 4);
    EXPECT_EQ(windowText(state.destEdit), folder / "Separation\\02");
    EXPECT_EQ(enabledControls(), destinationPhase);
    EXPECT_EQ(GetFocus(), state.destEdit);
    EXPECT_EQ(state.remaining.low, 1500u);
    EXPECT_EQ(state.gaugeLevel.load(), 0);

    acceptDestination();
    EXPECT_EQ(windowText(state.sizeEdit), "1000");  // the last size stays offered
    typeInto(state.sizeEdit, "");
    pressEnter(state.sizeEdit);  // Enter with an empty field does nothing
    EXPECT_EQ(state.step, 5);
    writePiece("1000");
    EXPECT_EQ(windowText(state.destEdit), folder / "Separation\\03");

    acceptDestination();
    ASSERT_TRUE(press(state.maxButton));
    char expected[16];
    formatSizeField(state.freeSpace, expected);
    EXPECT_EQ(windowText(state.sizeEdit), expected);
    ASSERT_TRUE(press(state.okButton));
    ASSERT_TRUE(pumpUntil([] { return quitSeen(); }));

    EXPECT_EQ(answerer.count(), 0u);
    EXPECT_EQ(readFile(folder / "Separation\\01"), bytes.substr(0, 1000));
    EXPECT_EQ(readFile(folder / "Separation\\02"), bytes.substr(1000, 1000));
    EXPECT_EQ(readFile(folder / "Separation\\03"), bytes.substr(2000));
    std::string script = readFile(folder / "Separation\\data.bat");
    EXPECT_NE(script.find("if exist 03 goto 3"), std::string::npos);
    EXPECT_NE(script.find("ren _z._9 data.bin"), std::string::npos);
}

TEST_F(Workflow, EmptyFieldsAreRefusedWhereTheyStand)
{
    std::string source = folder / "data.bin";
    writeFile(source, "0123456789");
    BoxAnswerer answerer;
    acceptSource(source);

    typeInto(state.destEdit, "");
    SetFocus(state.okButton);
    ASSERT_TRUE(press(state.okButton));
    EXPECT_EQ(state.step, 2);
    EXPECT_EQ(GetFocus(), state.destEdit);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Kestrand");
    EXPECT_EQ(boxes[0].text, "Destination file didn't defind");
    EXPECT_EQ(boxes[0].icon, 0u);
    EXPECT_EQ(boxes[0].owner, state.mainWindow);

    typeInto(state.destEdit, folder / "p01");
    acceptDestination();
    SetFocus(state.okButton);
    ASSERT_TRUE(press(state.okButton));  // empty size: nothing but the focus
    EXPECT_EQ(state.step, 3);
    EXPECT_EQ(GetFocus(), state.sizeEdit);
    EXPECT_EQ(enabledControls(), sizePhase);
    EXPECT_EQ(answerer.count(), 1u);
}

TEST_F(Workflow, ChangeGoesBackAndRemovesTheEmptyPiece)
{
    std::string source = folder / "data.bin";
    writeFile(source, "0123456789");
    acceptSource(source);
    acceptDestination();
    typeInto(state.sizeEdit, "5");
    ASSERT_TRUE(press(state.changeButton));
    EXPECT_EQ(state.step, 2);
    EXPECT_EQ(windowText(state.sizeEdit), "");
    EXPECT_EQ(enabledControls(), destinationPhase);
    EXPECT_FALSE(fileExists(folder / "Separation\\01"));
    EXPECT_TRUE(folderExists(folder / "Separation"));

    typeInto(state.destEdit, folder / "other\\p1");
    acceptDestination();
    writePiece("10");
    EXPECT_TRUE(quitSeen());
    EXPECT_EQ(readFile(folder / "other\\p1"), "0123456789");
    EXPECT_TRUE(fileExists(folder / "other\\data.bat"));
}

TEST_F(Workflow, CancelWhileAPieceIsWrittenLeavesNoScript)
{
    // Sparse, so it is quick to make and long to copy.
    std::string source = folder / "large.bin";
    HANDLE f = CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 600000000;
    SetFilePointerEx(f, size, nullptr, FILE_BEGIN);
    SetEndOfFile(f);
    CloseHandle(f);

    acceptSource(source);
    acceptDestination();
    typeInto(state.sizeEdit, "999999999");
    ASSERT_TRUE(press(state.okButton));
    EXPECT_EQ(enabledControls(), writingPhase);
    ASSERT_TRUE(pumpUntil([] { return state.gaugeLevel.load() >= 2; }));
    ASSERT_TRUE(press(state.cancelButton));
    ASSERT_TRUE(pumpUntil([] { return quitSeen(); }));
    EXPECT_EQ(state.writerRunning.load(), 0u);
    EXPECT_EQ(state.pieceCount, 0u);
    WIN32_FILE_ATTRIBUTE_DATA piece;
    ASSERT_TRUE(GetFileAttributesExA((folder / "Separation\\01").c_str(), GetFileExInfoStandard, &piece));
    EXPECT_GT(piece.nFileSizeLow, 0u);
    EXPECT_LT(piece.nFileSizeLow, 600000000u);
    EXPECT_FALSE(fileExists(folder / "Separation\\large.bat"));
}

TEST_F(Workflow, ClosingWhileAPieceIsWrittenWaitsForTheWriter)
{
    std::string source = folder / "large.bin";
    HANDLE f = CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 600000000;
    SetFilePointerEx(f, size, nullptr, FILE_BEGIN);
    SetEndOfFile(f);
    CloseHandle(f);

    acceptSource(source);
    acceptDestination();
    typeInto(state.sizeEdit, "999999999");
    ASSERT_TRUE(press(state.okButton));
    ASSERT_TRUE(pumpUntil([] { return state.gaugeLevel.load() >= 1; }));
    SendMessageA(state.mainWindow, WM_CLOSE, 0, 0);
    // When the close returns, the writer has let go of everything teardown released.
    EXPECT_EQ(state.writerRunning.load(), 0u);
    EXPECT_EQ(state.sourceHandle, nullptr);
    ASSERT_TRUE(pumpUntil([] { return quitSeen(); }));
    EXPECT_FALSE(fileExists(folder / "Separation\\large.bat"));
}

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
    EXPECT_EQ(enabledControls(), "01000010");  // Change and Max stay off
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

// Takes all free space of the drive once the piece has started to grow, as another
// program writing to the same disk would.
DWORD WINAPI fillWhenPieceGrows(void *param)
{
    Filler *filler = static_cast<Filler *>(param);
    DWORD start = GetTickCount();
    for (;;) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(filler->piece.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 0)
            break;
        if (GetTickCount() - start > 20000) return 1;
    }
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
