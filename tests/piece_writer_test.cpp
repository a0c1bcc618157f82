#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/display.h"
#include "split/own_files.h"
#include "split/piece_writer.h"
#include "split/read_back.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/piece_runs.h"
#include "support/remote_window.h"

namespace {

const COLORREF lightGreen = RGB(80, 250, 120);
const COLORREF amber = RGB(255, 160, 0);
const COLORREF untouched = RGB(200, 10, 90);

std::string pieceName(int k)
{
    char name[8];
    wsprintfA(name, "%02d", k);
    return name;
}

}  // namespace

TEST(ProgressLevel, WorkedExamples)
{
    EXPECT_EQ(progressLevel(512, 1024), 26);
    EXPECT_EQ(progressLevel(1024, 1536), 17);
    EXPECT_EQ(progressLevel(512, 1536), 34);
    EXPECT_EQ(progressLevel(1, 513), 51);
    // 20,000,000 bytes: level 1 after the first block, 51 from 392,156 bytes left on.
    EXPECT_EQ(progressLevel(19999488, 20000000), 1);
    EXPECT_EQ(progressLevel(392448, 20000000), 50);
    EXPECT_EQ(progressLevel(392157, 20000000), 50);
    EXPECT_EQ(progressLevel(392156, 20000000), 51);
    EXPECT_EQ(progressLevel(391936, 20000000), 51);
    EXPECT_EQ(progressLevel(256, 20000000), 51);
    // From 10,000,000 bytes left on, the level step avoids a product beyond 32 bits.
    EXPECT_EQ(progressLevel(10000000, 20000000), 26);
    EXPECT_EQ(progressLevel(9999999, 20000000), 26);
    EXPECT_EQ(progressLevel(999999487, 999999999), 1);
    EXPECT_EQ(progressLevel(500000000, 999999999), 26);
    EXPECT_EQ(progressLevel(19607843, 999999999), 50);
    EXPECT_EQ(progressLevel(19607842, 999999999), 51);
}

TEST(ProgressLevel, StaysInsideTheFlaskAndNeverFallsOnBothSidesOfTheThreshold)
{
    for (uint32_t total : {514u, 1000u, 51u * 512u, 9999999u, 10000000u, 10000512u, 10200000u,
                           123456789u, 999999999u}) {
        int32_t before = 1;
        for (uint32_t left = total - 512; left > 0; left = left > 512 ? left - 512 : 0) {
            int32_t level = progressLevel(left, total);
            ASSERT_TRUE(level >= before && level <= 51) << total << " with " << left << " left";
            before = level;
        }
    }
}

class PieceWriterTest : public PieceRunFixture {
protected:
    TempFolder folder;
};

TEST_F(PieceWriterTest, ConsecutivePiecesReproduceTheSourceByteForByte)
{
    const std::vector<uint32_t> sizes = {0, 1, 511, 512, 513, 1025, 3 * 1048576 + 7};
    size_t whole = 0;
    for (uint32_t s : sizes) whole += s;
    std::string source = randomBytes(whole, 7);
    writeFile(folder / "data.bin", source);
    openSource(folder / "data.bin");
    writeFile(folder / "04", std::string(5000, 'j'));  // an older, longer file is truncated
    TestWindow window;

    std::string names;
    size_t offset = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string dest = folder / pieceName(int(i) + 1);
        Notice notice = runPiece(window, dest, sizes[i]);
        EXPECT_EQ(notice.copyState, uint32_t(Active)) << dest;
        EXPECT_EQ(notice.gaugeLevel, 0) << dest;
        EXPECT_EQ(notice.pieceCount, i + 1) << dest;
        EXPECT_TRUE(fileBytes(dest) == source.substr(offset, sizes[i])) << dest;
        EXPECT_STREQ(state.piecePaths[i], dest.c_str());
        names += pieceName(int(i) + 1) + " ";
        offset += sizes[i];
    }
    EXPECT_EQ(std::string(state.pieceNames), names);
    EXPECT_EQ(state.pieceCount, sizes.size());
    char probe;
    DWORD got = 1;
    EXPECT_TRUE(ReadFile(state.sourceHandle, &probe, 1, &got, nullptr));
    EXPECT_EQ(got, 0u) << "the pieces did not end at the source's end";
}

TEST_F(PieceWriterTest, StopRequestLeavesATruncatedUnlistedPiece)
{
    const uint32_t big = 48u << 20;
    std::string source = randomBytes(1000 + big, 3);
    writeFile(folder / "data.bin", source);
    openSource(folder / "data.bin");
    TestWindow window;
    runPiece(window, folder / "01", 1000);

    beginPiece(folder / "02", big);
    DWORD start = GetTickCount();
    while (state.pieceBytes.load() > big - 64 * 512 && GetTickCount() - start < 20000) Sleep(0);
    state.copyState.store(Stopped);
    Notice notice = finishPiece(window);

    EXPECT_EQ(notice.copyState, uint32_t(Stopped));
    EXPECT_EQ(notice.gaugeLevel, 0);
    EXPECT_EQ(notice.pieceCount, 1u);
    EXPECT_EQ(std::string(state.pieceNames), "01 ");
    std::string written = fileBytes(folder / "02");
    EXPECT_GT(written.size(), 0u);
    EXPECT_LT(written.size(), size_t(big));
    EXPECT_EQ(written.size() % 512, 0u);
    EXPECT_TRUE(written == source.substr(1000, written.size()));
}

TEST_F(PieceWriterTest, ReadFailuresEndThePieceFailedWithoutStaleBytes)
{
    TestWindow window;
    std::string source = randomBytes(700, 11);
    writeFile(folder / "data.bin", source);

    {
        SCOPED_TRACE("a source that cannot be read at all");
        openSource(folder / "data.bin", GENERIC_WRITE);
        Notice notice = runPiece(window, folder / "01", 2000);
        EXPECT_EQ(notice.copyState, uint32_t(Failed));
        EXPECT_EQ(notice.gaugeLevel, 0);
        EXPECT_EQ(notice.failureKind, uint32_t(failedSourceRead));
        EXPECT_EQ(notice.failureError, uint32_t(ERROR_ACCESS_DENIED));
        EXPECT_EQ(fileSize(folder / "01"), 0u);
        CloseHandle(state.sourceHandle);
    }
    {
        SCOPED_TRACE("a full block that reads short");
        openSource(folder / "data.bin");
        Notice notice = runPiece(window, folder / "01", 2000);
        EXPECT_EQ(notice.copyState, uint32_t(Failed));
        EXPECT_EQ(notice.failureKind, uint32_t(failedSourceRead));
        EXPECT_EQ(notice.failureError, uint32_t(ERROR_HANDLE_EOF));
        EXPECT_TRUE(fileBytes(folder / "01") == source.substr(0, 512));
        CloseHandle(state.sourceHandle);
    }
    {
        SCOPED_TRACE("a last block that reads short");
        openSource(folder / "data.bin");
        Notice notice = runPiece(window, folder / "01", 800);
        EXPECT_EQ(notice.copyState, uint32_t(Failed));
        EXPECT_TRUE(fileBytes(folder / "01") == source.substr(0, 512));
    }
    EXPECT_EQ(state.pieceCount, 0u);
    EXPECT_EQ(std::string(state.pieceNames), "");
}

TEST_F(PieceWriterTest, GaugeFillsOnlyAsFarAsThePieceGot)
{
    buildGauge();
    TestWindow window(true);
    // A source shorter than the piece fails it at the first block that reads short; the
    // flask then shows the level of the last full block, filled from row `fillTop` down.
    // A whole piece is then read back: its check fills the flask again, in amber.
    struct Case {
        uint32_t piece, available;
        uint32_t outcome;
        int fillTop;
    };
    const Case cases[] = {
        {0, 0, Active, 170},       // an empty piece draws nothing
        {512, 511, Failed, 170},   // a lone last block draws no band
        {513, 512, Failed, 119},   // level 51 after its one full block
        {1024, 1000, Failed, 144}, // level 26
        {1536, 1000, Failed, 153}, // level 17
        {1536, 1500, Failed, 136}, // level 34
        {1536, 1536, Active, 0},   // whole: the flask is full, and checked
        {1976, 1964, Failed, 130}, // level 40, with 440 of 1,976 bytes left
    };
    int k = 0;
    for (const Case &c : cases) {
        std::string what = std::to_string(c.piece) + " bytes from " + std::to_string(c.available);
        std::string source = folder / ("source" + std::to_string(++k));
        writeFile(source, randomBytes(c.available, k));
        openSource(source);
        window.fill(untouched);
        Notice notice = runPiece(window, folder / pieceName(k), c.piece);
        CloseHandle(state.sourceHandle);
        state.sourceHandle = nullptr;
        EXPECT_EQ(notice.copyState, c.outcome) << what;
        Pixels p = window.grab();
        int wrong = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                bool lit = PtInRegion(state.gaugeRegion, x, y) && y >= c.fillTop && y < 170;
                COLORREF shown = c.outcome == Active && c.piece > 0 ? amber : lightGreen;
                wrong += p.at(x, y) != (lit ? shown : untouched);
            }
        EXPECT_EQ(wrong, 0) << what;
    }
    DeleteObject(state.gaugeRegion);
    DeleteObject(state.emptyBrush);
    DeleteObject(state.fillBrush);
    DeleteObject(state.checkBrush);
}

TEST_F(PieceWriterTest, PieceFileThatCannotBeOpenedStopsTheSplit)
{
    writeFile(folder / "data.bin", "abc");
    openSource(folder / "data.bin");
    TestWindow window;
    // A queued Ok may start the next writer as soon as the notification is handled.
    window.onNotice = [] { state.writerRunning.store(1); };
    std::string dest = folder / "01";
    makeDestination(dest);
    // A folder took the piece file's place: it cannot be opened to be written, and no
    // waiting makes it so.
    ASSERT_TRUE(DeleteFileA(dest.c_str()));
    ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
    startPiece(3);
    // The box is shown on the writer's own thread: hold that thread to see what it does
    // after its notification.
    HWND shown = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        window.pump();
        return (shown = messageBoxOf(GetCurrentProcessId())) != nullptr;
    }));
    SeenBox box = readMessageBox(shown);
    HANDLE writer = OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(shown, nullptr));
    ASSERT_NE(writer, nullptr);
    PostMessageA(shown, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(shown, IDOK));
    ASSERT_TRUE(window.waitForNotices(1));
    EXPECT_EQ(WaitForSingleObject(writer, 20000), WAIT_OBJECT_0);
    CloseHandle(writer);
    EXPECT_TRUE(folderExists(dest));
    RemoveDirectoryA(dest.c_str());
    EXPECT_EQ(state.writerRunning.load(), 1u) << "the ended writer cleared the next writer's guard";
    state.writerRunning.store(0);
    Notice notice = window.notices()[0];
    EXPECT_EQ(notice.copyState, uint32_t(Stopped));
    EXPECT_EQ(notice.pieceCount, 0u);
    EXPECT_EQ(state.pieceFileChanged.load(), 0u);
    EXPECT_EQ(box.caption, "Error opening file");
    EXPECT_EQ(box.text, dest);
    EXPECT_EQ(box.icon, UINT(MB_ICONERROR));
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(box.owner, window.handle());
    EXPECT_EQ(std::string(state.pieceNames), "");
}

// Between the destination step and the writer the user may change disks: the piece goes
// only into the file made for it, never into one that took its path, and nothing is made.
TEST_F(PieceWriterTest, AnotherFileAtThePiecesPathIsNeitherWrittenNorEmptied)
{
    writeFile(folder / "data.bin", "abcdef");
    openSource(folder / "data.bin");
    TestWindow window;
    BoxAnswerer answerer({IDOK});
    std::string dest = folder / "01";
    const char *roads[] = {"gone", "another file", "rewritten in place"};
    for (const char *road : roads) {
        makeDestination(dest);
        if (std::string(road) == "gone") {
            ASSERT_TRUE(DeleteFileA(dest.c_str()));
        } else if (std::string(road) == "another file") {
            ASSERT_TRUE(DeleteFileA(dest.c_str()));
            writeFile(dest, "another disk's file");
        } else {
            // Same file, same size, written again: only its last-write time tells.
            HANDLE file = CreateFileA(dest.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            FILETIME earlier = {0x5A3E4000u, 0x01C0F0F0u};
            ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &earlier));
            CloseHandle(file);
        }
        startPiece(6);
        Notice notice = finishPiece(window);
        EXPECT_EQ(notice.copyState, uint32_t(Failed)) << road;
        EXPECT_EQ(state.pieceFileChanged.load(), 1u) << road;
        state.pieceFileChanged.store(0);
        EXPECT_EQ(notice.pieceCount, 0u) << road;
        const char *left = std::string(road) == "gone" ? "<missing>" : std::string(road) == "another file" ? "another disk's file" : "";
        EXPECT_EQ(fileBytes(dest), left) << road;
        DeleteFileA(dest.c_str());
    }
    EXPECT_EQ(answerer.count(), 0u);
    EXPECT_EQ(std::string(state.pieceNames), "");

    // The file made for it is written.
    makeDestination(dest);
    EXPECT_EQ(runPiece(window, dest, 6).copyState, uint32_t(Active));
    EXPECT_EQ(fileBytes(dest), "abcdef");
}

// The read-back holds the piece to the file written at its path: a piece gone from it is
// a read-back that failed, another file there (the same bytes even) does not give back the
// piece, and either fails it on the failed road.
TEST_F(PieceWriterTest, ReadBackTellsAPieceGoneOrReplacedSinceItWasWritten)
{
    TestWindow window;
    std::string dest = folder / "01", other = folder / "other";
    makeDestination(dest);
    writeFile(dest, "abcdef");
    identityAt(dest.c_str(), &state.destIdentity);
    state.copyState.store(Active);
    const PieceHash unknown{};  // no written hash: the size alone is held to
    DWORD error = 0;
    EXPECT_EQ(readBackPiece(6, unknown, &error), checkMatches);
    EXPECT_EQ(readBackPiece(5, unknown, &error), checkDiffers);
    writeFile(other, "abcdef");
    ASSERT_TRUE(DeleteFileA(dest.c_str()));
    EXPECT_EQ(readBackPiece(6, unknown, &error), checkError);
    EXPECT_EQ(error, DWORD(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(MoveFileA(other.c_str(), dest.c_str()));
    EXPECT_EQ(readBackPiece(6, unknown, &error), checkDiffers);
}

// A renewed attempt elsewhere deletes the failed attempt's file first, but never when the
// new place is that very file under another path (another drive, a share, a junction).
TEST_F(PieceWriterTest, AFailedAttemptsFileIsDroppedOnlyForAnotherFile)
{
    std::string failed = folder / "01", elsewhere = folder / "02";
    writeFile(failed, "abc");
    PieceIdentity written;
    identityAt(failed.c_str(), &written);
    ASSERT_EQ(written.known, 1);
    auto goTo = [&](const std::string &dest) {
        state.pieceCount = 0;
        lstrcpynA(state.piecePaths[0], failed.c_str(), pathSize);
        state.pieceIdentities[0] = written;
        lstrcpynA(state.destPath, dest.c_str(), pathSize);
        identityAt(state.destPath, &state.destIdentity);
        dropFailedPiece();
        EXPECT_STREQ(state.piecePaths[0], "") << dest;
    };
    std::string other = byRootDrive(failed);
    ASSERT_EQ(other.substr(0, 3), "Z:\\") << failed;
    goTo(other);
    EXPECT_EQ(fileBytes(failed), "abc") << "the same file by another drive";
    goTo(failed);
    EXPECT_EQ(fileBytes(failed), "abc") << "the same file by its own name";
    writeFile(elsewhere, "");
    goTo(elsewhere);
    EXPECT_EQ(fileBytes(failed), "<missing>");
    EXPECT_EQ(fileBytes(elsewhere), "");
}

// The window starts no split that 20 pieces cannot finish; a 21st piece handed to the
// writer all the same is not listed, and no piece is deleted.
TEST_F(PieceWriterTest, WarnsAfterTheNineteenthAndListsNoMoreThanTwenty)
{
    std::string source = randomBytes(21 * 3, 17);
    TempFolder first(folder.path()), second(folder.path());
    writeFile(folder / "data.bin", source);
    openSource(folder / "data.bin");
    TestWindow window;
    BoxAnswerer answerer({IDOK});

    std::string names;
    for (int k = 1; k <= 21; ++k) {
        std::string dest = (k <= 10 ? first : second) / pieceName(k);
        Notice notice = runPiece(window, dest, 3);
        if (k < 19) {
            EXPECT_EQ(answerer.count(), 0u) << "after piece " << k;
        }
        if (k <= 20) {
            EXPECT_EQ(notice.copyState, uint32_t(Active)) << "piece " << k;
            EXPECT_EQ(notice.pieceCount, uint32_t(k));
            names += pieceName(k) + " ";
        } else {
            EXPECT_EQ(notice.copyState, uint32_t(Failed));
            EXPECT_EQ(notice.pieceCount, 20u);
        }
    }
    ASSERT_EQ(answerer.count(), 1u);
    SeenBox box = answerer.boxes()[0];
    EXPECT_EQ(box.caption, "Kestrand");
    EXPECT_EQ(box.text, "Limit of Destination files number is 20");
    EXPECT_EQ(box.icon, UINT(MB_ICONWARNING));
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(box.owner, window.handle());

    for (int k = 1; k <= 21; ++k)
        EXPECT_EQ(fileBytes((k <= 10 ? first : second) / pieceName(k)), source.substr(size_t(k - 1) * 3, 3))
            << "piece " << k;
    EXPECT_EQ(std::string(state.pieceNames), names);
}

TEST_F(PieceWriterTest, WaitingForTheWriterHandlesItsNotificationInsteadOfDeadlocking)
{
    std::string source = randomBytes(4u << 20, 19);
    writeFile(folder / "data.bin", source);
    openSource(folder / "data.bin");
    TestWindow window;
    beginPiece(folder / "01", 4u << 20);
    // As a teardown would: no message loop, only the wait.
    waitForPieceWriter();
    EXPECT_EQ(state.writerRunning.load(), 0u);
    ASSERT_EQ(window.notices().size(), 1u);
    EXPECT_EQ(window.notices()[0].copyState, uint32_t(Active));
    EXPECT_TRUE(fileBytes(folder / "01") == source);
    finishPiece(window);
}

namespace {

std::string hashText(const PieceHash &hash)
{
    if (!hash.known) return "unknown";
    std::string hex;
    for (BYTE b : hash.bytes) {
        char digits[3];
        wsprintfA(digits, "%02x", b);
        hex += digits;
    }
    return hex;
}

}  // namespace

// Each piece carries the SHA-1 of exactly its own bytes (the published test values),
// also after an attempt at it that was stopped halfway.
TEST_F(PieceWriterTest, EachPieceCarriesTheSHA1OfItsBytes)
{
    writeFile(folder / "data.bin", "abc" + std::string(1000000, 'a'));
    openSource(folder / "data.bin");
    TestWindow window;
    runPiece(window, folder / "01", 3);
    EXPECT_EQ(hashText(state.pieceHashes[0]), "a9993e364706816aba3e25717850c26c9cd0d89d");

    beginPiece(folder / "02", 1000000);
    DWORD start = GetTickCount();
    while (state.pieceBytes.load() > 1000000 - 64 * 512 && GetTickCount() - start < 20000) Sleep(0);
    state.copyState.store(Stopped);
    ASSERT_EQ(finishPiece(window).copyState, uint32_t(Stopped));
    LARGE_INTEGER pieceStart;
    pieceStart.QuadPart = 3;
    ASSERT_TRUE(SetFilePointerEx(state.sourceHandle, pieceStart, nullptr, FILE_BEGIN));
    state.copyState.store(Active);
    EXPECT_EQ(runPiece(window, folder / "02", 1000000).copyState, uint32_t(Active));
    EXPECT_EQ(hashText(state.pieceHashes[1]), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");

    runPiece(window, folder / "03", 0);
    EXPECT_EQ(hashText(state.pieceHashes[2]), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(state.pieceCount, 3u);
}

// A scanner or a sync client holding the new piece file: a moment is waited out; a hold
// longer than that fails the piece alone, and the split goes on.
TEST_F(PieceWriterTest, APieceFileHeldByAnotherProgramIsWaitedForThenFails)
{
    std::string source = randomBytes(3000, 41);
    writeFile(folder / "data.bin", source);
    openSource(folder / "data.bin");
    TestWindow window;
    BoxAnswerer answerer({IDOK});  // a box of the writer's would be a stopped split's
    std::string dest = folder / "01";
    makeDestination(dest);
    state.destMade.store(1);
    HANDLE held = CreateFileA(dest.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DWORD started = GetTickCount();
    startPiece(1000);
    Notice notice = finishPiece(window);
    DWORD waited = GetTickCount() - started;
    CloseHandle(held);
    EXPECT_EQ(notice.copyState, uint32_t(Failed));
    EXPECT_EQ(notice.failureKind, uint32_t(failedWrite));
    EXPECT_EQ(notice.failureError, uint32_t(ERROR_SHARING_VIOLATION));
    EXPECT_GE(waited, 2000u) << "the lock was not waited for";
    EXPECT_EQ(notice.pieceCount, 0u);
    EXPECT_EQ(fileSize(dest), 0u);
    EXPECT_EQ(failedPieceIsKept(), 1) << "Ok could not write the piece again in place";

    // Released while the writer waits: the piece is written, read back and listed.
    ASSERT_TRUE(SetFilePointerEx(state.sourceHandle, LARGE_INTEGER{}, nullptr, FILE_BEGIN));
    makeDestination(dest);
    held = CreateFileA(dest.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    startPiece(1000);
    Sleep(300);
    CloseHandle(held);
    notice = finishPiece(window);
    EXPECT_EQ(notice.copyState, uint32_t(Active));
    EXPECT_EQ(notice.failureKind, uint32_t(failedNot));
    EXPECT_EQ(notice.pieceCount, 1u);
    EXPECT_TRUE(fileBytes(dest) == source.substr(0, 1000));
    EXPECT_EQ(answerer.count(), 0u);
}
