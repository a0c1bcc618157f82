#include <gtest/gtest.h>

#include <string>

#include "split/names.h"
#include "split/source.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/split_fixture.h"

namespace {

const char ruleText[] = "Use, please, digits,latin letters and '_' only: ";

void expectOpenError(const SeenBox &box, const std::string &path)
{
    EXPECT_EQ(box.caption, "Error opening file");
    EXPECT_EQ(box.text, path);
    EXPECT_EQ(box.icon, UINT(MB_ICONERROR));
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
}

void expectInfeasible(const SeenBox &box, const std::string &text)
{
    EXPECT_EQ(box.caption, "Infeasible name");
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, 0u);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
}

}  // namespace

TEST(NameRule, AcceptsExactlyDigitsLatinLettersUnderscoreAndFullStop)
{
    // Every byte but the zero inside a name; those that pass, in byte order.
    std::string passed;
    for (int c = 1; c < 256; ++c) {
        char path[] = "C:\\some dir\\ab?cd";
        path[14] = char(c);
        const char *name = nullptr;
        int accepted = followsNameRule(path, 0, &name);
        if (c == '\\') {
            // A backslash there ends the name part: "cd" alone is examined.
            EXPECT_EQ(accepted, 1);
            EXPECT_STREQ(name, "cd");
            continue;
        }
        EXPECT_STREQ(name, path + 12);
        if (accepted) passed += char(c);
    }
    EXPECT_EQ(passed, ".0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz");
}

TEST(NameRule, NeverExaminesTheFolders)
{
    const char *name = nullptr;
    EXPECT_EQ(followsNameRule("C:\\my data\\[x]~\xE9\\file.bin", 0, &name), 1);
    EXPECT_STREQ(name, "file.bin");
    EXPECT_EQ(followsNameRule("C:\\data\\my file.bin", 0, &name), 0);
    EXPECT_STREQ(name, "my file.bin");
    // Without a backslash the whole text is the name, the drive's colon included.
    EXPECT_EQ(followsNameRule("C:file.bin", 0, &name), 0);
    EXPECT_STREQ(name, "C:file.bin");
    EXPECT_EQ(followsNameRule("C:\\dir\\", 0, &name), 1);
    EXPECT_STREQ(name, "");
    // From index 1 on, the first character is not looked at.
    EXPECT_EQ(followsNameRule("-abc", 1, &name), 1);
    EXPECT_EQ(followsNameRule("-abc", 0, &name), 0);
}

class SourceTest : public SplitFixture {
protected:
    void SetUp() override
    {
        SplitFixture::SetUp();
        state.sourceEdit = CreateWindowExA(0, "edit", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr,
                                           nullptr, nullptr);
        ASSERT_NE(state.sourceEdit, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(state.sourceEdit);
        SplitFixture::TearDown();
    }
    void typeSource(const std::string &text) { SetWindowTextA(state.sourceEdit, text.c_str()); }
    // "Ok" at the first step: the three operations in their order.
    int acceptSourceText(const std::string &text)
    {
        typeSource(text);
        return checkSourceName() && checkSource(state.sourcePath) && openSource();
    }
    TempFolder folder;
};

TEST_F(SourceTest, EmptyFieldAndBadNamesAreRefusedBeforeAnyLookUp)
{
    BoxAnswerer answerer;
    typeSource("");
    EXPECT_EQ(checkSourceName(), 0);
    typeSource("C:\\data\\my file.bin");
    EXPECT_EQ(checkSourceName(), 0);
    typeSource("C:file.bin");
    EXPECT_EQ(checkSourceName(), 0);
    typeSource("C:\\my data\\file.bin");
    EXPECT_EQ(checkSourceName(), 1);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].caption, "Kestrand");
    EXPECT_EQ(boxes[0].text, "Source file didn't defind");
    EXPECT_EQ(boxes[0].icon, 0u);
    EXPECT_EQ(boxes[0].buttons, std::vector<int>{IDOK});
    expectInfeasible(boxes[1], std::string(ruleText) + "my file.bin");
    expectInfeasible(boxes[2], std::string(ruleText) + "C:file.bin");
}

TEST_F(SourceTest, FieldOver248CharactersIsRefusedNotCut)
{
    std::string longest(248, 'a');
    typeSource(longest);
    EXPECT_EQ(checkSourceName(), 1);
    EXPECT_EQ(std::string(state.sourcePath), longest);

    BoxAnswerer answerer;
    for (size_t length : {249u, 300u}) {
        typeSource(std::string(length, 'b'));
        EXPECT_EQ(checkSourceName(), 0) << length;
    }
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    expectOpenError(boxes[0], std::string(248, 'b'));
    expectOpenError(boxes[1], std::string(248, 'b'));
}

TEST_F(SourceTest, MissingPathAndTrailingBackslashAreReported)
{
    BoxAnswerer answerer;
    state.remaining = DecimalCount{0, 0, 77};
    std::string missing = folder / "absent.bin";
    EXPECT_EQ(checkSource(missing.c_str()), 0);
    std::string trailing = folder.path() + "\\";
    EXPECT_EQ(checkSource(trailing.c_str()), 0);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    expectOpenError(boxes[0], missing);
    expectOpenError(boxes[1], trailing);
    EXPECT_EQ(state.remaining.low, 77u);
}

// Windows' listing may show an older size than the file has (written through another of
// its links); Wine's never does, so these cases pin the order instead: the size is read
// from the handle the split reads the pieces through, never by the look-up before it.
TEST_F(SourceTest, SizeIsTheOpenFilesNotTheLookUps)
{
    std::string file = folder / "data.bin";
    writeFile(file, std::string(123456, 'x'));
    state.remaining = DecimalCount{0, 0, 3};
    typeSource(file);
    ASSERT_EQ(checkSourceName(), 1);
    EXPECT_EQ(checkSource(file.c_str()), 1);
    EXPECT_EQ(state.remaining.low, 3u) << "the look-up loads no size";
    // The file grows between the look-up and the open.
    writeFile(file, std::string(234567, 'y'));
    ASSERT_EQ(openSource(), 1);
    EXPECT_EQ(state.remaining.high, 0u);
    EXPECT_EQ(state.remaining.mid, 0u);
    EXPECT_EQ(state.remaining.low, 234567u);
}

TEST_F(SourceTest, TooLargeSourceIsLetGoAndNothingIsSetUp)
{
    BoxAnswerer answerer;
    std::string before = currentFolder();
    strcpy(state.destPath, "untouched");
    state.remaining = DecimalCount{0, 0, 4};
    // 19,999,999,981 bytes, one more than 20 full pieces: a file of holes.
    std::string over = folder / "over.bin";
    makeSparseFile(over, 19999999981ull);
    EXPECT_EQ(acceptSourceText(over), 0);

    EXPECT_EQ(state.sourceHandle, nullptr);
    EXPECT_EQ(state.remaining.low, 4u);
    EXPECT_STREQ(state.destPath, "untouched");
    EXPECT_STREQ(state.sourceName, "");
    EXPECT_STREQ(state.baseFolder, "");
    EXPECT_EQ(currentFolder(), before);
    // Not held: anyone may open it again.
    HANDLE other = CreateFileA(over.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Kestrand");
    EXPECT_EQ(boxes[0].text, over + " is too large to split: 20 pieces of at most 999,999,999 bytes hold at most "
                                    "19,999,999,980 bytes.");
    EXPECT_EQ(boxes[0].icon, UINT(MB_ICONWARNING));
}

TEST_F(SourceTest, OpensTheSourceAndProposesTheDefaultDestination)
{
    std::string file = folder / "big.bin";
    writeFile(file, std::string(1000, 'k'));
    ASSERT_EQ(acceptSourceText(file), 1);
    EXPECT_NE(state.sourceHandle, nullptr);
    EXPECT_STREQ(state.sourceName, "big.bin");
    EXPECT_EQ(std::string(state.destPath), folder.path() + "\\Separation\\01");
    EXPECT_EQ(std::string(state.textBuffer), folder.path());
    EXPECT_EQ(std::string(state.baseFolder), folder.path());
    EXPECT_EQ(currentFolder(), folder.path());
    EXPECT_EQ(state.remaining.low, 1000u);
    // Held without sharing: no one else may open it while the split runs.
    HANDLE other = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
}

TEST_F(SourceTest, ZeroLengthSourceIsAccepted)
{
    std::string file = folder / "empty";
    writeFile(file, "");
    state.remaining = DecimalCount{0, 0, 5};
    ASSERT_EQ(acceptSourceText(file), 1);
    EXPECT_TRUE(isZero(state.remaining));
    EXPECT_STREQ(state.sourceName, "empty");
}

TEST_F(SourceTest, RelativePathOpensTheFileThatWasFound)
{
    CreateDirectoryA((folder / "sub").c_str(), nullptr);
    writeFile(folder / "sub\\part.bin", "right");
    // A decoy where the relative text would point once the current folder has moved.
    CreateDirectoryA((folder / "sub\\sub").c_str(), nullptr);
    writeFile(folder / "sub\\sub\\part.bin", "wrong!");
    ASSERT_TRUE(SetCurrentDirectoryA(folder.path().c_str()));
    ASSERT_EQ(acceptSourceText("sub\\part.bin"), 1);
    char bytes[16] = "";
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(state.sourceHandle, bytes, sizeof bytes, &got, nullptr));
    EXPECT_EQ(std::string(bytes, got), "right");
    EXPECT_EQ(currentFolder(), folder / "sub");
    EXPECT_EQ(std::string(state.destPath), folder / "sub\\Separation\\01");
}

TEST_F(SourceTest, BareNameInTheCurrentFolder)
{
    writeFile(folder / "file.bin", "abc");
    ASSERT_TRUE(SetCurrentDirectoryA(folder.path().c_str()));
    ASSERT_EQ(acceptSourceText("file.bin"), 1);
    EXPECT_STREQ(state.sourceName, "file.bin");
    EXPECT_EQ(currentFolder(), folder.path());
}

TEST_F(SourceTest, SourceAtTheRootOfADrive)
{
    ASSERT_TRUE(folderExists("R:\\")) << "no drive R: (the test runner maps it)";
    char name[32];
    wsprintfA(name, "R:\\root%lu.bin", GetCurrentProcessId());
    writeFile(name, "rooted");
    ASSERT_EQ(acceptSourceText(name), 1);
    EXPECT_STREQ(state.textBuffer, "R:");
    EXPECT_STREQ(state.destPath, "R:\\Separation\\01");
    EXPECT_EQ(currentFolder(), "R:\\");
    CloseHandle(state.sourceHandle);
    state.sourceHandle = nullptr;
    DeleteFileA(name);
}

TEST_F(SourceTest, FolderAndLockedFileFailToOpen)
{
    BoxAnswerer answerer;
    std::string sub = folder / "folder";
    CreateDirectoryA(sub.c_str(), nullptr);
    state.remaining = DecimalCount{0, 0, 9};
    std::string before = currentFolder();
    strcpy(state.destPath, "untouched");
    EXPECT_EQ(acceptSourceText(sub), 0);
    EXPECT_EQ(state.remaining.low, 9u) << "no size is loaded for a source not opened";
    EXPECT_EQ(state.sourceHandle, nullptr);

    std::string locked = folder / "locked.bin";
    writeFile(locked, "held");
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(acceptSourceText(locked), 0);
    CloseHandle(holder);
    EXPECT_EQ(state.sourceHandle, nullptr);
    // Nothing of the split was set up for a source that did not open.
    EXPECT_EQ(currentFolder(), before);
    EXPECT_STREQ(state.destPath, "untouched");
    EXPECT_STREQ(state.sourceName, "");

    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    expectOpenError(boxes[0], sub);
    expectOpenError(boxes[1], locked);
}

TEST_F(SourceTest, PathsThatDoNotFitAreRefusedBeforeAnythingChanges)
{
    BoxAnswerer answerer;
    std::string before = currentFolder();
    strcpy(state.destPath, "untouched");

    // A bare name of 95 characters leaves no room for ".bat".
    std::string longName = folder / std::string(95, 'n');
    writeFile(longName, "x");
    EXPECT_EQ(acceptSourceText(longName), 0);
    std::string okName = folder / std::string(94, 'n');
    writeFile(okName, "x");

    // A folder so deep that "\Separation\01" no longer fits the Destination field.
    std::string deep = folder.path();
    while (deep.size() < 236) deep += "\\" + std::string(std::min<size_t>(40, 236 - deep.size() - 1), 'd');
    std::string mid = deep.substr(0, deep.rfind('\\'));
    // Create the chain of folders.
    for (size_t i = folder.path().size() + 1; i <= deep.size(); ++i)
        if (i == deep.size() || deep[i] == '\\') CreateDirectoryA(deep.substr(0, i).c_str(), nullptr);
    ASSERT_TRUE(folderExists(deep));
    std::string deepFile = deep + "\\f";
    writeFile(deepFile, "x");
    EXPECT_EQ(acceptSourceText(deepFile), 0);

    EXPECT_EQ(currentFolder(), before);
    EXPECT_STREQ(state.destPath, "untouched");
    EXPECT_EQ(state.sourceHandle, nullptr);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    expectInfeasible(boxes[0], longName);
    expectInfeasible(boxes[1], deepFile);

    ASSERT_EQ(acceptSourceText(okName), 1);
    EXPECT_EQ(strlen(state.sourceName), 94u);
}

TEST_F(SourceTest, OpenDialogRecordIsTheOlderForm)
{
    ASSERT_TRUE(SetCurrentDirectoryA(folder.path().c_str()));
    setupOpenDialog();
    const OPENFILENAMEA &d = state.openDialog;
    EXPECT_EQ(std::string(state.destPath), folder.path());
    // The older form, without the trailing fields: 76 bytes in the 32-bit program (136 in
    // the x86-64 build that hosts without a 32-bit mode run instead).
    EXPECT_EQ(d.lStructSize, sizeof(void *) == 4 ? 76u : 136u);
    EXPECT_EQ(d.hwndOwner, state.mainWindow);
    EXPECT_EQ(d.lpstrFilter, nullptr);
    EXPECT_EQ(d.lpstrFile, state.sourcePath);
    EXPECT_EQ(d.nMaxFile, 249u);
    EXPECT_EQ(d.lpstrFileTitle, state.sourceName);
    EXPECT_EQ(d.nMaxFileTitle, 99u);
    EXPECT_EQ(d.lpstrInitialDir, state.destPath);
    EXPECT_EQ(d.lpstrTitle, nullptr);
    EXPECT_EQ(d.Flags, 0u);
}
