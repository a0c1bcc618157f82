// A drive of a few MiB (a tmpfs that scripts/test.sh maps to S:): its free space, the
// refusal of a piece that does not fit, and a disk that fills up while a piece is written.
#include <gtest/gtest.h>

#include <memory>

#include "acceptance/session.h"

namespace {

class SmallDrive : public ::testing::Test {
protected:
    void SetUp() override
    {
        drive = smallDrive();
        ASSERT_FALSE(drive.empty()) << "no small drive: KESTRAND_SMALL_DRIVE names none (the test runner mounts one)";
        place.reset(new DriveFolder(drive, "small"));
    }
    uint64_t freeBytes() const
    {
        ULARGE_INTEGER free;
        GetDiskFreeSpaceExA((drive + "\\").c_str(), nullptr, nullptr, &free);
        return free.QuadPart;
    }
    // A split of `bytes` (data.bin in `folder`) whose first piece, 3,000,000 bytes into p01
    // on the small drive, fails halfway: the drive fills up as the writer starts. With
    // `replacing`, p01 is a file of the user's that "Yes" gives to the piece.
    void failFirstPiece(Session &s, const TempFolder &folder, const std::string &bytes, const std::string &piece,
                        bool replacing = false)
    {
        writeFile(folder / "data.bin", bytes);
        if (replacing) writeFile(piece, "the user's");
        ASSERT_TRUE(s.start("", folder.path()));
        ASSERT_TRUE(s.acceptSource(folder / "data.bin"));
        s.type(DestField, piece);
        s.press(OkButton);
        if (replacing) {
            ASSERT_EQ(s.answer(IDYES).caption, "Kestrand");
        }
        ASSERT_TRUE(s.waitPhase(sizePhase));
        bool filled = false;
        Session::Outcome outcome = s.writePiece("3000000", 120000, [&] { filled = fillDrive(*place / "filler", 1500000); });
        ASSERT_TRUE(filled) << "the piece writer was not caught at its start, or the drive could not be filled";
        ASSERT_EQ(outcome, Session::Failed) << "the piece was finished although the disk filled up";
        ASSERT_LT(readFile(piece).size(), 3000000u);
    }
    std::string drive;
    std::unique_ptr<DriveFolder> place;
};

}  // namespace

TEST_F(SmallDrive, MaxShowsTheRoomForThePieceAndOneByteMoreIsRefused)
{
    TempFolder folder;
    std::string source = folder / "data.bin";
    // More than the whole drive holds, so that the size typed is what the piece will hold.
    std::string bytes = randomBytes(5 * 1024 * 1024, 21);
    writeFile(source, bytes);
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(source));
    std::string piece = *place / "p01";
    ASSERT_TRUE(s.acceptDestination(piece));
    uint64_t free = freeBytes();
    ASSERT_LT(free, 10u * 1024 * 1024);
    s.press(MaxButton);
    EXPECT_TRUE(waitUntil([&] { return s.text(SizeField) == std::to_string(free); })) << s.text(SizeField);

    s.type(SizeField, std::to_string(free + 1));
    s.press(OkButton);
    SeenBox box = s.answer();
    EXPECT_EQ(box.text, "The file being copied is too large for the destination drive.");
    EXPECT_EQ(box.icon, UINT(MB_ICONERROR));
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_NE(box.caption, "Kestrand");
    EXPECT_NE(box.caption, "<none>");
    ASSERT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_FALSE(fileExists(piece)) << "the empty piece file is removed again";
    EXPECT_EQ(s.text(DestField), piece) << "back at the same piece";
    EXPECT_EQ(s.text(SizeField), std::to_string(free + 1));

    // The disk changed while the refusal is read: the file there now is not the one made.
    ASSERT_TRUE(s.acceptDestination());
    s.type(SizeField, std::to_string(free + 1));
    s.press(OkButton);
    s.answer(IDOK, 20000, [&] {
        DeleteFileA(piece.c_str());
        writeFile(piece, std::string(5000, 'y'));
    });
    box = s.answer();
    EXPECT_NE(box.text.find("is no longer the file made for this piece"), std::string::npos) << box.text;
    ASSERT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_EQ(readFile(piece), std::string(5000, 'y'));

    // That file, replaced on "Yes": the room is the free space with its 5,000 bytes, which
    // the piece will have; one byte more is refused, and the file is kept whole.
    s.press(OkButton);
    EXPECT_EQ(s.answer(IDYES).caption, "Kestrand");
    ASSERT_TRUE(s.waitPhase(sizePhase));
    uint64_t room = freeBytes() + 5000;
    s.press(MaxButton);
    EXPECT_TRUE(waitUntil([&] { return s.text(SizeField) == std::to_string(room); })) << s.text(SizeField);
    s.type(SizeField, std::to_string(room + 1));
    s.press(OkButton);
    EXPECT_EQ(s.answer().text, "The file being copied is too large for the destination drive.");
    ASSERT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_EQ(readFile(piece), std::string(5000, 'y')) << "a too-large size after Yes";

    s.press(OkButton);
    EXPECT_EQ(s.answer(IDYES).caption, "Kestrand");
    ASSERT_TRUE(s.waitPhase(sizePhase));
    ASSERT_EQ(s.writePiece(std::to_string(room)), Session::NextPiece);  // equal: accepted
    EXPECT_TRUE(s.boxes.empty());
    EXPECT_EQ(readFile(piece), bytes.substr(0, size_t(room)));
    ASSERT_TRUE(s.acceptDestination(folder / "p02"));
    ASSERT_EQ(s.writePiece("999999999"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    ASSERT_TRUE(MoveFileExA(piece.c_str(), (folder / "p01").c_str(), MOVEFILE_COPY_ALLOWED));
    std::string output = rejoin(folder.path(), "data.bat");
    EXPECT_EQ(sha256File(folder / "data.bin"), sha256(bytes)) << output;
}

// The piece holds the size typed or the rest of the file, whichever is smaller, and only
// that is held against the room: any size at least as large as the rest will do.
TEST_F(SmallDrive, TheLastPieceIsJudgedByTheRestItHolds)
{
    TempFolder folder;
    std::string bytes = randomBytes(150000, 25);
    writeFile(folder / "data.bin", bytes);
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(folder / "data.bin"));
    ASSERT_TRUE(s.acceptDestination(*place / "p01"));
    ASSERT_EQ(s.writePiece("50000"), Session::NextPiece);
    ASSERT_TRUE(s.acceptDestination(*place / "p02"));
    ASSERT_LT(freeBytes(), 999999999u);
    ASSERT_EQ(s.writePiece("999999999"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    for (const SeenBox &box : s.boxes) ADD_FAILURE() << box.text;
    EXPECT_EQ(readFile(*place / "p02"), bytes.substr(50000));
    std::string output = rejoin(place->path(), "data.bat");
    EXPECT_EQ(sha256File(*place / "data.bin"), sha256(bytes)) << output;
}

TEST_F(SmallDrive, DiskFillingUpDuringAPieceIsOfferedAgain)
{
    TempFolder folder;
    std::string bytes = randomBytes(3 * 1024 * 1024 + 777, 22);
    std::string piece = *place / "p01";
    Session s;
    // The piece fits when it is judged; then the drive fills up, halfway through it. The
    // user's file it replaced was emptied for it, so what is there now is the piece's.
    failFirstPiece(s, folder, bytes, piece, true);
    if (HasFatalFailure()) return;
    EXPECT_EQ(s.text(DestField), piece);
    EXPECT_EQ(s.text(SizeField), "3000000");
    EXPECT_TRUE(s.boxes.empty());

    // The same size again does not fit the full drive: back to the piece's destination, the
    // failed attempt's file gone, and the piece is cut again from its start at the smaller
    // size typed for it.
    s.press(OkButton);
    EXPECT_EQ(s.answer().text, "The file being copied is too large for the destination drive.");
    ASSERT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_FALSE(fileExists(piece));
    ASSERT_TRUE(s.acceptDestination(piece));
    ASSERT_EQ(s.writePiece("600000"), Session::NextPiece);
    EXPECT_EQ(readFile(piece), bytes.substr(0, 600000));
    std::string rest = folder / "p02";
    ASSERT_TRUE(s.acceptDestination(rest));
    ASSERT_EQ(s.writePiece("999999999"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_EQ(readFile(rest), bytes.substr(600000));

    // The script is beside the last piece; with the first brought there it joins exactly.
    ASSERT_TRUE(fileExists(folder / "data.bat"));
    ASSERT_TRUE(MoveFileExA(piece.c_str(), (folder / "p01").c_str(), MOVEFILE_COPY_ALLOWED));
    std::string output = rejoin(folder.path(), "data.bat");
    EXPECT_EQ(sha256File(folder / "data.bin"), sha256(bytes)) << output;
}

TEST_F(SmallDrive, LastPieceFailingLeavesNoScriptUntilItIsWritten)
{
    TempFolder folder;
    std::string source = folder / "data.bin";
    std::string bytes = randomBytes(3 * 1024 * 1024 + 100000, 23);
    writeFile(source, bytes);
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    ASSERT_TRUE(s.acceptSource(source));
    ASSERT_TRUE(s.acceptDestination(folder / "p01"));
    ASSERT_EQ(s.writePiece("100000"), Session::NextPiece);

    std::string piece = *place / "p02";
    ASSERT_TRUE(s.acceptDestination(piece));
    std::string filler = *place / "filler";
    bool filled = false;
    Session::Outcome outcome = s.writePiece("3500000", 120000, [&] { filled = fillDrive(filler, 1500000); });
    ASSERT_TRUE(filled) << "the piece writer was not caught at its start, or the drive could not be filled";
    ASSERT_EQ(outcome, Session::Failed) << "the split ended although its last piece failed";
    EXPECT_LT(readFile(piece).size(), bytes.size() - 100000);
    EXPECT_FALSE(anyScriptUnder(place->path()));
    EXPECT_FALSE(anyScriptUnder(folder.path()));

    ASSERT_TRUE(DeleteFileA(filler.c_str()));
    s.press(OkButton);
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_EQ(readFile(piece), bytes.substr(100000));
    ASSERT_TRUE(fileExists(*place / "data.bat"));
    // The small drive has no room for the joined file: bring the script and the piece over.
    ASSERT_TRUE(MoveFileExA((*place / "data.bat").c_str(), (folder / "data.bat").c_str(), MOVEFILE_COPY_ALLOWED));
    ASSERT_TRUE(MoveFileExA(piece.c_str(), (folder / "p02").c_str(), MOVEFILE_COPY_ALLOWED));
    std::string output = rejoin(folder.path(), "data.bat");
    EXPECT_EQ(sha256File(folder / "data.bin"), sha256(bytes)) << output;
}

// The disk fails mid-piece and the user names another place: the piece goes there whole
// and nothing of it stays on the small drive. A place refused leaves everything as it was.
TEST_F(SmallDrive, AFailedPieceGoesToTheDestinationTypedAfterIt)
{
    TempFolder folder;
    DriveFolder other("R:", "moved");
    std::string bytes = randomBytes(3 * 1024 * 1024 + 555, 24);
    std::string piece = *place / "p01";
    Session s;
    failFirstPiece(s, folder, bytes, piece);
    if (HasFatalFailure()) return;
    std::string partial = readFile(piece);

    std::string taken = other / "taken";
    writeFile(taken, "the user's");
    s.type(DestField, taken);
    s.press(OkButton);
    EXPECT_EQ(withoutCarriageReturns(s.answer(IDNO).text), taken + " already exists.\nDo you want to replace it?");
    ASSERT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_EQ(readFile(taken), "the user's");
    EXPECT_TRUE(readFile(piece) == partial);

    std::string moved = other / "new\\part1";
    s.type(DestField, moved);
    s.press(OkButton);
    ASSERT_TRUE(waitUntil([&] { return s.enabled() == destinationPhase && s.text(DestField) == other / "new\\part2"; },
                          60000));
    EXPECT_EQ(readFile(moved), bytes.substr(0, 3000000));
    EXPECT_EQ(filesUnder(place->path()), std::set<std::string>{"filler"});
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("999999999"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    std::string output = rejoin(other / "new", "data.bat");
    EXPECT_EQ(sha256File(other / "new\\data.bin"), sha256(bytes)) << output;
}

// The new place is prepared and the failed attempt's part deleted for it; then, as the
// writer starts, another disk's file takes the new place. Nothing is written there, and
// the message says what was deleted.
TEST_F(SmallDrive, AMovedPieceRefusedAtItsNewPlaceSaysItsFailedPartWasDeleted)
{
    TempFolder folder;
    DriveFolder other("R:", "moved");
    std::string bytes = randomBytes(3 * 1024 * 1024 + 444, 27);
    std::string piece = *place / "p01";
    Session s;
    failFirstPiece(s, folder, bytes, piece);
    if (HasFatalFailure()) return;
    std::string moved = other / "part1";
    s.type(DestField, moved);
    s.pressOkCatchingWriter([&] {
        DeleteFileA(moved.c_str());
        writeFile(moved, "another disk's");
    });
    SeenBox box = s.answer(IDOK, 60000);
    EXPECT_EQ(box.caption, "Kestrand");
    EXPECT_EQ(withoutCarriageReturns(box.text),
              moved + "\nis no longer the file made for this piece: another disk or another file is there now.\n"
                      "Nothing was written there; the part of the piece written before it failed was deleted. "
                      "Confirm the destination again.");
    ASSERT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_FALSE(fileExists(piece));
    EXPECT_EQ(readFile(moved), "another disk's");

    // Confirmed at another place, the piece is written there whole, from its start.
    std::string again = other / "part2";
    ASSERT_TRUE(s.acceptDestination(again));
    ASSERT_EQ(s.writePiece("3000000"), Session::NextPiece);
    EXPECT_EQ(readFile(again), bytes.substr(0, 3000000));
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("999999999"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_EQ(readFile(moved), "another disk's");
    std::string output = rejoin(other.path(), "data.bat");
    EXPECT_EQ(sha256File(other / "data.bin"), sha256(bytes)) << output;
}

// The failed piece's own file named by another path (here Z:, the same tmpfs as S:): the
// piece is written again into that file, with no question about replacing it and nothing
// deleted.
TEST_F(SmallDrive, AFailedPieceNamedByAnotherPathIsWrittenAgainInItsOwnFile)
{
    TempFolder folder;
    std::string bytes = randomBytes(3 * 1024 * 1024 + 333, 26);
    std::string piece = *place / "p01";
    Session s;
    failFirstPiece(s, folder, bytes, piece);
    if (HasFatalFailure()) return;
    std::string other = byRootDrive(piece);
    ASSERT_EQ(other.substr(0, 3), "Z:\\") << piece;
    ASSERT_EQ(other.find(':', 2), std::string::npos) << "a path a user could type: " << other;
    ASSERT_TRUE(DeleteFileA((*place / "filler").c_str()));

    s.type(DestField, other);
    s.press(OkButton);
    ASSERT_TRUE(waitUntil([&] { return messageBoxOf(s.pid()) || s.text(DestField) == *place / "p02"; }, 60000));
    ASSERT_FALSE(messageBoxOf(s.pid())) << s.answer(IDNO).text;
    ASSERT_TRUE(s.waitPhase(destinationPhase));
    EXPECT_EQ(readFile(piece), bytes.substr(0, 3000000));
    EXPECT_EQ(filesUnder(place->path()), std::set<std::string>{"p01"});
    ASSERT_TRUE(s.acceptDestination());
    ASSERT_EQ(s.writePiece("999999999"), Session::Ended);
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_EQ(readFile(*place / "p02"), bytes.substr(3000000));
    // The small drive has no room for the joined file: bring the script and the pieces over.
    for (const char *name : {"data.bat", "p01", "p02"})
        ASSERT_TRUE(MoveFileExA((*place / name).c_str(), (folder / name).c_str(), MOVEFILE_COPY_ALLOWED)) << name;
    std::string output = rejoin(folder.path(), "data.bat");
    EXPECT_EQ(sha256File(folder / "data.bin"), sha256(bytes)) << output;
}

// The disk that fakes its size (F:), as the read-back's tests rely on it: past what it keeps
// it gives back other bytes at their full size, within it the bytes written, never from a
// cache; it claims 64 MiB; eio* files fail reads from 64 KiB on; slow* files wait to be told.
namespace {

// With `again`, the bytes are read back through the same handle, where a cache would
// answer if one did.
bool writeAndFlush(const std::string &path, const std::string &bytes, std::string *again = nullptr)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool done = WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size() &&
                FlushFileBuffers(f);
    if (again) {
        again->assign(bytes.size(), '\0');
        DWORD got = 0;
        done = done && SetFilePointer(f, 0, nullptr, FILE_BEGIN) == 0 &&
               ReadFile(f, &(*again)[0], DWORD(bytes.size()), &got, nullptr) && got == bytes.size();
    }
    return CloseHandle(f) && done;
}

// Reads the file past the system's cache, 64 KiB at a time into an aligned buffer; false
// when a read fails, with what came before it in `back`.
bool readUnbuffered(const std::string &path, std::string &back)
{
    alignas(4096) static char buffer[64 * 1024];
    back.clear();
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    bool ok;
    while ((ok = ReadFile(f, buffer, sizeof buffer, &got, nullptr)) && got > 0) back.append(buffer, got);
    CloseHandle(f);
    return ok;
}

uint64_t freeOn(const std::string &drive)
{
    ULARGE_INTEGER free{};
    GetDiskFreeSpaceExA((drive + "\\").c_str(), nullptr, nullptr, &free);
    return free.QuadPart;
}

struct SlowRead {
    std::string path, back;
};

// The file's number on its volume, as the writer's identity check takes it; 0 if none.
uint64_t fileIndex(const std::string &path)
{
    HANDLE f = CreateFileA(path.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    bool got = f != INVALID_HANDLE_VALUE && GetFileInformationByHandle(f, &info);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return got ? uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow : 0;
}

DWORD WINAPI readSlowFile(void *read) { return readUnbuffered(((SlowRead *)read)->path, ((SlowRead *)read)->back); }

}  // namespace

TEST(FakeDrive, GivesBackOtherBytesPastWhatItKeepsAndClaimsItsSize)
{
    const std::string drive = fakeDrive();
    EXPECT_EQ(fakeDriveClaims(), 67108864u);
    EXPECT_EQ(fakeDriveKeeps(), 2097152u);
    DriveFolder place(drive, "fake");
    const uint64_t free = freeOn(drive);
    EXPECT_GT(free, 60000000u);
    std::string back, big = randomBytes(2097152 + 500000, 41), small = randomBytes(500000, 42);

    std::string again;
    ASSERT_TRUE(writeAndFlush(place / "big.bin", big, &again));
    EXPECT_FALSE(again == big) << "a read through the writing handle came from the system's cache";
    EXPECT_EQ(free - freeOn(drive), 2600960u);  // 635 blocks of 4 KiB
    EXPECT_EQ(fileSize(place / "big.bin"), 2597152u);
    ASSERT_TRUE(readUnbuffered(place / "big.bin", back));
    EXPECT_EQ(back.size(), 2597152u);
    EXPECT_FALSE(back == big) << "the fake disk gave back what was written past what it keeps";
    ASSERT_TRUE(DeleteFileA((place / "big.bin").c_str()));

    ASSERT_TRUE(writeAndFlush(place / "small.bin", small));
    ASSERT_TRUE(readUnbuffered(place / "small.bin", back));
    EXPECT_TRUE(back == small);
    // Renamed, over another file only when asked to, it keeps its number and its bytes.
    const uint64_t index = fileIndex(place / "small.bin");
    EXPECT_NE(index, 0u);
    writeFile(place / "moved.bin", "x");
    ASSERT_TRUE(MoveFileExA((place / "small.bin").c_str(), (place / "moved.bin").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(fileIndex(place / "moved.bin"), index);
    writeFile(place / "taken.bin", "y");
    EXPECT_FALSE(MoveFileA((place / "moved.bin").c_str(), (place / "taken.bin").c_str()));
    EXPECT_EQ(readFile(place / "taken.bin"), "y");
    ASSERT_TRUE(MoveFileA((place / "moved.bin").c_str(), (place / "renamed.bin").c_str()));
    EXPECT_TRUE(readFile(place / "renamed.bin") == small);

    ASSERT_TRUE(writeAndFlush(place / "EIO.bin", small));
    EXPECT_FALSE(readUnbuffered(place / "EIO.bin", back)) << "a read past 64 KiB of an eio file succeeded";
    EXPECT_EQ(back.size(), 65536u);
}

TEST(FakeDrive, SlowFileHoldsItsFirstReadPast64KiBUntilTold)
{
    const std::string drive = fakeDrive();
    const std::string small = randomBytes(500000, 43);
    ASSERT_TRUE(writeAndFlush(drive + "\\slow.bin", small));
    SlowRead read{drive + "\\slow.bin", ""};
    HANDLE reader = CreateThread(nullptr, 0, readSlowFile, &read, 0, nullptr);
    ASSERT_NE(reader, nullptr);
    bool asked = false;
    for (int i = 0; i < 600 && !(asked = fileExists(drive + "\\slowread")); ++i) Sleep(50);
    EXPECT_TRUE(asked) << "no slowread at the read past 64 KiB";
    EXPECT_EQ(WaitForSingleObject(reader, 0), DWORD(WAIT_TIMEOUT)) << "the read did not wait for slowgo";
    writeFile(drive + "\\slowgo", "");
    EXPECT_EQ(WaitForSingleObject(reader, 60000), DWORD(WAIT_OBJECT_0));
    DWORD readOk = 0;
    GetExitCodeThread(reader, &readOk);
    CloseHandle(reader);
    EXPECT_EQ(readOk, 1u);
    EXPECT_TRUE(read.back == small);
    for (const char *name : {"\\slow.bin", "\\slowread", "\\slowgo"}) EXPECT_TRUE(DeleteFileA((drive + name).c_str())) << name;
}
