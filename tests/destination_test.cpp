#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "split/destination.h"
#include "split/own_files.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/split_fixture.h"

namespace {

const char ruleText[] = "Use, please, digits,latin letters and '_' only: ";
const char replaceText[] = " already exists.\r\nDo you want to replace it?";
const char usedText[] = " is already used by this split.\r\nChoose another name for this piece.";

class Destination : public SplitFixture {
protected:
    void SetUp() override
    {
        SplitFixture::SetUp();
        state.destEdit = CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr,
                                         nullptr, nullptr);
        ASSERT_NE(state.destEdit, nullptr);
        SendMessageA(state.destEdit, EM_LIMITTEXT, 0, 0);
        strcpy(state.baseFolder, base_.path().c_str());
        SetCurrentDirectoryA(base_.path().c_str());
    }

    void TearDown() override
    {
        DestroyWindow(state.destEdit);
        if (state.mainWindow) DestroyWindow(state.mainWindow);
        SetCurrentDirectoryA(tempRoot().c_str());
        SplitFixture::TearDown();
    }

    int prepare(const std::string &text)
    {
        lstrcpynA(state.destPath, text.c_str(), fieldTextLimit);
        return prepareDestination();
    }

    std::string editText() const
    {
        char text[1024] = "";
        GetWindowTextA(state.destEdit, text, sizeof text);
        return text;
    }

    // A refusal shows one box; this checks it and that nothing was made on disk.
    void expectRefused(const std::string &text, const std::string &caption,
                       const std::string &message, UINT icon = 0)
    {
        std::string before = currentFolder();
        BoxAnswerer answerer({IDOK});
        EXPECT_EQ(prepare(text), 0) << text;
        auto boxes = answerer.boxes();
        ASSERT_EQ(boxes.size(), 1u) << text;
        EXPECT_EQ(boxes[0].caption, caption) << text;
        EXPECT_EQ(boxes[0].text, message) << text;
        EXPECT_EQ(boxes[0].icon, icon) << text;
        EXPECT_EQ(boxes[0].buttons, std::vector<int>{IDOK}) << text;
        EXPECT_EQ(currentFolder(), before) << text;
        EXPECT_STREQ(state.destPath, text.c_str()) << "the Destination text stays";
    }

    void expectInfeasible(const std::string &text, const std::string &composed)
    {
        expectRefused(text, "Infeasible name", composed);
        EXPECT_EQ(editText(), composed);
    }

    void expectRuleRefusal(const std::string &text, const std::string &name)
    {
        expectRefused(text, "Infeasible name", ruleText + name);
        EXPECT_EQ(std::string(state.textBuffer), editText()) << "the composed path comes first";
    }

    void expectUsed(const std::string &name)
    {
        expectRefused(base_ / name, "Kestrand", base_ / name + usedText, MB_ICONWARNING);
    }

    void expectPrepared(const std::string &text, const std::string &file, const std::string &folder)
    {
        BoxAnswerer answerer({IDOK});
        EXPECT_EQ(prepare(text), 1) << text;
        EXPECT_EQ(answerer.count(), 0u) << text;
        EXPECT_STREQ(state.destPath, file.c_str());
        EXPECT_EQ(editText(), file);
        ASSERT_TRUE(fileExists(file)) << file;
        EXPECT_EQ(readFile(file), "");
        // A bare drive as the base folder stands for its root.
        EXPECT_EQ(currentFolder(), folder.size() == 2 ? folder + "\\" : folder);
        EXPECT_EQ(std::string(state.baseFolder), folder);
    }

    TempFolder base_;
};

// The drive of the temp folder and the rest of its path.
std::string driveOf(const std::string &path) { return path.substr(0, 2); }
std::string withoutDrive(const std::string &path) { return path.substr(2); }

}  // namespace

TEST_F(Destination, ComposesFromDriveBackslashOrBaseFolder)
{
    TempFolder other;
    expectPrepared(other / "parts\\p1", other / "parts\\p1", other / "parts");

    strcpy(state.baseFolder, base_.path().c_str());
    std::string led = withoutDrive(other.path()) + "\\led\\p1";
    expectPrepared(led, other / "led\\p1", other / "led");

    strcpy(state.baseFolder, base_.path().c_str());
    expectPrepared("parts\\p1", base_ / "parts\\p1", base_ / "parts");
    // The next relative text is based on the folder of the piece just prepared.
    expectPrepared("p2", base_ / "parts\\p2", base_ / "parts");
}

TEST_F(Destination, CreatesEveryMissingLevel)
{
    CreateDirectoryA((base_ / "a").c_str(), nullptr);
    expectPrepared(base_ / "a\\b\\new folder\\d\\p1", base_ / "a\\b\\new folder\\d\\p1",
                   base_ / "a\\b\\new folder\\d");
    EXPECT_TRUE(folderExists(base_ / "a\\b"));
    EXPECT_TRUE(folderExists(base_ / "a\\b\\new folder"));
}

TEST_F(Destination, AFileUnderTheDrivesRootEntersTheRootItself)
{
    ASSERT_TRUE(folderExists("R:\\")) << "no drive R: (the test runner maps it)";
    TempFolder onR("R:");
    // Inside R: already, a bare "R:" would mean this folder rather than the root.
    SetCurrentDirectoryA(onR.path().c_str());
    std::string name = onR.path().substr(3) + ".p1";
    expectPrepared("R:\\" + name, "R:\\" + name, "R:");
    EXPECT_EQ(currentFolder(), "R:\\");
    EXPECT_STREQ(state.baseFolder, "R:");
    // A relative name then lies at the root too, not in "R:" + name.
    expectPrepared(name + "2", "R:\\" + name + "2", "R:");
    DeleteFileA(("R:\\" + name).c_str());
    DeleteFileA(("R:\\" + name + "2").c_str());
}

TEST_F(Destination, DriveRelativeFolderHoldsThePiece)
{
    std::string drive = driveOf(base_.path());
    expectInfeasible(drive + "x\\p1", drive + "x\\p1");  // "x" sits where the root's backslash is
    BoxAnswerer answerer({IDOK});
    ASSERT_EQ(prepare(drive + "xy\\p1"), 1);
    EXPECT_EQ(answerer.count(), 0u);
    EXPECT_TRUE(fileExists(base_ / "xy\\p1"));
    EXPECT_FALSE(folderExists(base_ / "xy\\xy"));
    EXPECT_STREQ(state.destPath, (base_ / "xy\\p1").c_str());
    EXPECT_EQ(editText(), base_ / "xy\\p1");
    EXPECT_EQ(currentFolder(), base_ / "xy");
}

TEST_F(Destination, ReplaceQuestionNoKeepsTheFileYesKeepsItWholeForTheWriter)
{
    std::string piece = base_ / "p1";
    writeFile(piece, "precious");
    {
        BoxAnswerer answerer({IDNO});
        EXPECT_EQ(prepare(piece), 0);
        auto boxes = answerer.boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Kestrand");
        EXPECT_EQ(boxes[0].text, piece + replaceText);
        EXPECT_EQ(boxes[0].icon, UINT(MB_ICONQUESTION));
        EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(boxes[0].defaultButton, IDNO);
        EXPECT_EQ(readFile(piece), "precious");
        EXPECT_STREQ(state.destPath, piece.c_str());
        EXPECT_EQ(std::string(state.textBuffer), piece + replaceText);
    }
    strcpy(state.baseFolder, "Z:\\unchanged");
    {
        BoxAnswerer answerer({IDNO});
        EXPECT_EQ(prepare(piece), 0);
        EXPECT_STREQ(state.baseFolder, "Z:\\unchanged") << "only a success moves the base";
    }
    {
        BoxAnswerer answerer({IDYES});
        EXPECT_EQ(prepare(piece), 1);
        EXPECT_EQ(answerer.count(), 1u);
        EXPECT_EQ(readFile(piece), "precious");
        EXPECT_EQ(state.destMade.load(), 0u);
        EXPECT_EQ(state.destIdentity.sizeLow, 8u) << "the file the writer is to empty";
    }
    // Going back does not delete it: it goes only by being written.
    BoxAnswerer answerer({IDOK});
    EXPECT_EQ(dropEmptyDestination(), 1);
    EXPECT_EQ(readFile(piece), "precious");
    EXPECT_EQ(answerer.count(), 0u);
}

TEST_F(Destination, MessagesAreOwnedByTheMainWindow)
{
    state.mainWindow = CreateWindowExA(0, "STATIC", "Kestrand", WS_OVERLAPPED, 0, 0, 100, 100,
                                       nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(state.mainWindow, nullptr);
    writeFile(base_ / "p1", "x");
    state.pieceCount = 1;
    strcpy(state.pieceNames, "p0 ");
    BoxAnswerer answerer({IDOK, IDOK, IDOK, IDNO});
    EXPECT_EQ(prepare(base_ / "p 1"), 0);
    EXPECT_EQ(prepare(base_ / "a\\\\p1"), 0);
    EXPECT_EQ(prepare(base_ / "p0"), 0);
    EXPECT_EQ(prepare(base_ / "p1"), 0);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 4u);
    for (const SeenBox &box : boxes) EXPECT_EQ(box.owner, state.mainWindow) << box.text;
}

TEST_F(Destination, NameRuleHoldsOnlyTheLastComponent)
{
    expectRuleRefusal(base_ / "p 1", "p 1");
    expectRuleRefusal(base_ / "p-1", "p-1");
    expectRuleRefusal(base_ / "\xE9t\xE9", "\xE9t\xE9");
    expectRuleRefusal("p1?", "p1?");
    EXPECT_EQ(editText(), base_ / "p1?");
    EXPECT_FALSE(fileExists(base_ / "p 1"));
}

TEST_F(Destination, DeviceNamesAreRefusedLikeBadNames)
{
    const char *devices[] = {"CON", "con", "Prn", "AUX", "nul", "NUL.txt", "COM1", "com9.dat",
                             "LPT1", "lpt9.a.b", "CON."};
    for (const char *device : devices) expectRuleRefusal(base_ / device, device);
    const char *ordinary[] = {"CONX", "COM0", "LPT", "con_1", "NULL", "xcon"};
    for (const char *name : ordinary)
        expectPrepared(base_ / name, base_ / name, base_.path());
}

TEST_F(Destination, TwoBackslashesInARowAreRefused)
{
    std::string drive = driveOf(base_.path());
    expectInfeasible(base_ / "parts\\\\p1", base_ / "parts\\\\p1");
    expectInfeasible("\\\\server\\share\\p1", drive + "\\\\server\\share\\p1");
    expectInfeasible(drive + "\\\\p1", drive + "\\\\p1");
    EXPECT_FALSE(folderExists(base_ / "parts"));
}

TEST_F(Destination, NamesUsedByThisSplitAreRefusedBeforeTheQuestion)
{
    strcpy(state.pieceNames, "p01 P02 later ");
    state.pieceCount = 2;
    strcpy(state.sourceName, "data.bin");
    writeFile(base_ / "p01", "piece one");
    // Windows drops trailing dots and blanks: "p01." is the file p01.
    // The script's names, and the source's: in the source's folder the script would join
    // the source itself for such a piece.
    const char *used[] = {"p01", "P01", "p02", "p01.", "P02..", "DATA.BAT", "data.bat", "data.bat.",
                          "_z._9", "_0._9", "_0._9.", "_J._9", "data.bin", "DATA.BIN."};
    for (const char *name : used) expectUsed(name);
    EXPECT_EQ(readFile(base_ / "p01"), "piece one");
    EXPECT_EQ(std::string(state.textBuffer), base_ / "DATA.BIN." + usedText);
    EXPECT_FALSE(folderExists(base_ / "sub"));
    expectUsed("sub\\p02");
    EXPECT_FALSE(folderExists(base_ / "sub")) << "refused before any folder is made";

    const char *free[] = {"later", "p0", "p011", "data", "data.bin2", "_ab._9", "_z._90", "_z.9", "_k._9"};
    for (const char *name : free) expectPrepared(base_ / name, base_ / name, base_.path());

    // The script of a source named run.bat is run.bat.bat.
    strcpy(state.sourceName, "run.bat");
    expectUsed("RUN.BAT.bat.");
    expectUsed("Run.Bat");
    expectPrepared(base_ / "run", base_ / "run", base_.path());
}

TEST_F(Destination, OverlongPathsAreRefusedBeforeAnyFolder)
{
    std::string deep = base_.path();
    int backslashes = 0;
    for (char c : deep) backslashes += c == '\\';
    // A relative text of the field's length lands beyond 255 once the base is in front.
    std::string relative = std::string(100, 'a') + "\\" + std::string(130, 'b') + "\\p1";
    expectInfeasible(relative, base_ / relative);
    EXPECT_FALSE(folderExists(base_ / std::string(100, 'a')));

    std::string levels;
    for (int n = backslashes; n < 41; ++n) levels += "f\\";
    expectPrepared(levels + "p1", base_ / levels + "p1", base_ / levels.substr(0, levels.size() - 1));
    SetCurrentDirectoryA(base_.path().c_str());
    strcpy(state.baseFolder, base_.path().c_str());
    expectInfeasible("g\\" + levels + "p1", base_ / "g\\" + levels + "p1");
    EXPECT_FALSE(folderExists(base_ / "g"));
}

TEST_F(Destination, TrailingBackslashMakesFoldersThenFailsToCreate)
{
    BoxAnswerer answerer({IDOK});
    EXPECT_EQ(prepare(base_ / "parts\\"), 0);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error opening file");
    EXPECT_EQ(boxes[0].text, base_ / "parts\\");
    EXPECT_EQ(boxes[0].icon, UINT(MB_ICONERROR));
    EXPECT_TRUE(folderExists(base_ / "parts"));
}

TEST_F(Destination, FoldersThatAreFilesOrCannotBeMade)
{
    writeFile(base_ / "f", "a file, not a folder");
    {
        BoxAnswerer answerer({IDOK});
        EXPECT_EQ(prepare(base_ / "f\\p1"), 0);
        auto boxes = answerer.boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Error opening file");
        EXPECT_EQ(boxes[0].text, base_ / "f\\p1");
        EXPECT_EQ(boxes[0].icon, UINT(MB_ICONERROR));
    }
    // No folder can be made under a file.
    expectInfeasible(base_ / "f\\sub\\p1", base_ / "f\\sub\\p1");
    EXPECT_EQ(readFile(base_ / "f"), "a file, not a folder");
    // A level the file system refuses: the levels made before it stay.
    expectInfeasible(base_ / "new\\bad*name\\p1", base_ / "new\\bad*name\\p1");
    EXPECT_TRUE(folderExists(base_ / "new"));
}

TEST_F(Destination, ChangeDeletesOnlyTheFileMadeForThePiece)
{
    ASSERT_EQ(prepare(base_ / "p1"), 1);
    BoxAnswerer answerer({IDOK});
    EXPECT_EQ(dropEmptyDestination(), 1);
    EXPECT_FALSE(fileExists(base_ / "p1"));
    EXPECT_EQ(dropEmptyDestination(), 1);  // missing: nothing happens
    EXPECT_EQ(answerer.count(), 0u);

    // Another disk's file, even an empty one, and the file made but written again since.
    for (const char *road : {"other", "other empty", "rewritten"}) {
        ASSERT_EQ(prepare(base_ / "p2"), 1) << road;
        std::string left = std::string(road) == "other" ? "content" : "";
        if (std::string(road) == "rewritten") {
            HANDLE file = CreateFileA((base_ / "p2").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            FILETIME earlier = {0x5A3E4000u, 0x01C0F0F0u};
            ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &earlier));
            CloseHandle(file);
        } else {
            ASSERT_TRUE(DeleteFileA((base_ / "p2").c_str()));
            writeFile(base_ / "p2", left);
        }
        EXPECT_EQ(dropEmptyDestination(), 0) << road;
        EXPECT_EQ(fileBytes(base_ / "p2"), left) << road;
        ASSERT_TRUE(DeleteFileA((base_ / "p2").c_str()));
    }
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].caption, "Kestrand");
    EXPECT_EQ(boxes[0].text, base_ / "p2" + "\r\nis no longer the file made for this piece: another disk or another "
                                            "file is there now.\r\nNothing was written or deleted. Confirm the "
                                            "destination again.");
    EXPECT_EQ(boxes[0].icon, UINT(MB_ICONWARNING));
}

// The user who notices the wrong disk from the question changes it while the question is
// open: "Yes" was said about the file asked about, not about the one there now.
TEST_F(Destination, YesIsAboutOnlyTheFileTheQuestionWasAbout)
{
    std::string piece = base_ / "p1";
    writeFile(piece, "asked about");
    {
        BoxAnswerer answerer({IDYES, IDNO}, [&](size_t n) {
            if (n > 0) return;
            DeleteFileA(piece.c_str());
            writeFile(piece, "another disk's");
        });
        EXPECT_EQ(prepare(piece), 0);
        auto boxes = answerer.boxes();
        ASSERT_EQ(boxes.size(), 2u) << "asked again about the file there now";
        EXPECT_EQ(boxes[1].text, piece + replaceText);
        EXPECT_EQ(readFile(piece), "another disk's");
    }
    {
        // The file gone meanwhile: a new one is made, and is the split's own.
        BoxAnswerer answerer({IDYES}, [&](size_t n) {
            if (n == 0) DeleteFileA(piece.c_str());
        });
        EXPECT_EQ(prepare(piece), 1);
        EXPECT_EQ(answerer.count(), 1u);
        EXPECT_EQ(fileBytes(piece), "");
        EXPECT_EQ(state.destMade.load(), 1u);
    }
    {
        // Rewritten in place while the question is open: its index stays, its size not.
        BoxAnswerer answerer({IDYES, IDYES}, [&](size_t n) {
            if (n == 0) writeFile(piece, "written while asked");
        });
        writeFile(piece, "asked about");
        EXPECT_EQ(prepare(piece), 1);
        EXPECT_EQ(answerer.count(), 2u);
        EXPECT_EQ(fileBytes(piece), "written while asked");
        EXPECT_EQ(state.destIdentity.sizeLow, 19u);
    }
}

// The same file by another path (a subst, a mapped share): told by what it is, not its name.
TEST_F(Destination, TheSameFileByAnotherDriveIsTheFileAtDestPath)
{
    std::string other = byRootDrive(base_.path());
    ASSERT_EQ(other.substr(0, 3), "Z:\\") << base_.path();
    ASSERT_EQ(prepare(base_ / "p1"), 1);
    writeFile(base_ / "p2", "");
    EXPECT_EQ(namesDestinationFile((base_ / "p1").c_str()), 1);
    EXPECT_EQ(namesDestinationFile((other + "\\p1").c_str()), 1);
    EXPECT_EQ(namesDestinationFile("p1"), 1) << "in the base folder";
    EXPECT_EQ(namesDestinationFile((other + "\\p2").c_str()), 0);
    EXPECT_EQ(namesDestinationFile((other + "\\p3").c_str()), 0) << "no file there";
    PieceIdentity byOther;
    identityAt((other + "\\p1").c_str(), &byOther);
    EXPECT_TRUE(sameFile(byOther, state.destIdentity));
    // A file that is gone is no file at all.
    ASSERT_TRUE(DeleteFileA((base_ / "p1").c_str()));
    EXPECT_EQ(namesDestinationFile((base_ / "p1").c_str()), 0);
}

// Held by another program, as one holds a file it means to rename: the piece file is kept,
// never deleted under that program's hands, nor the file that may take its name.
TEST_F(Destination, ChangeKeepsAPieceFileAnotherProgramHolds)
{
    std::string piece = base_ / "p1";
    ASSERT_EQ(prepare(piece), 1);
    BoxAnswerer answerer({IDOK});
    for (DWORD access : {DWORD(DELETE), DWORD(GENERIC_READ), DWORD(GENERIC_WRITE)}) {
        HANDLE holder = CreateFileA(piece.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        EXPECT_EQ(deleteOwnFile(piece.c_str(), state.destIdentity), holdsFileInUse) << access;
        EXPECT_EQ(dropEmptyDestination(), 1) << access;
        CloseHandle(holder);
        EXPECT_TRUE(fileExists(piece)) << access;
    }
    EXPECT_EQ(answerer.count(), 0u);
    EXPECT_EQ(deleteOwnFile(piece.c_str(), state.destIdentity), holdsOwnFile);
    EXPECT_FALSE(fileExists(piece));
    EXPECT_EQ(deleteOwnFile(piece.c_str(), state.destIdentity), holdsNothing);
}

// Both of Windows' roads delete the file through the handle: a file held so goes when the
// handle closes, and a file that took its name meanwhile is never hit, as a delete by
// name would hit it. (Windows deletes the renamed file itself; Wine keeps it, so nothing
// is said of it here.) Wine has both calls; 2000 and XP have only ntdll's.
TEST_F(Destination, DeletesGoThroughTheHandleOnBothRoads)
{
    const char *roads[] = {"kernel32", "ntdll", "chosen"};
    auto mark = [&](const char *road, HANDLE file) {
        return road == roads[0]   ? deleteThroughHandleByKernel32(file)
               : road == roads[1] ? deleteThroughHandleByNtdll(file)
                                  : deleteThroughHandle(file);
    };
    std::string held = base_ / "held", moved = base_ / "moved";
    for (const char *road : roads) {
        writeFile(held, "checked");
        HANDLE file = CreateFileA(held.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << road;
        EXPECT_EQ(mark(road, file), 1) << road;
        CloseHandle(file);
        EXPECT_FALSE(fileExists(held)) << road;

        writeFile(held, "checked");
        file = CreateFileA(held.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << road;
        ASSERT_TRUE(MoveFileA(held.c_str(), moved.c_str())) << road;
        writeFile(held, "took its name");
        EXPECT_EQ(mark(road, file), 1) << road;
        CloseHandle(file);
        EXPECT_EQ(fileBytes(held), "took its name") << road;
        ASSERT_TRUE(DeleteFileA(held.c_str())) << road;
        DeleteFileA(moved.c_str());
    }
}
