// The main window hosted in the test process: start-up, the command line, Enter, drops.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include "app/main_window.h"
#include "support/files.h"
#include "support/message_boxes.h"
#include "support/window_host.h"
#include "state/split_state.h"

namespace {

const char sourcePhase[] = "10010011";

std::string className(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct ControlSpec {
    int id;
    const char *windowClass;
    const char *caption;
    int x, y;
    DWORD style;
};

// A real shell drop handle for the given paths, as the shell builds one.
HDROP makeDrop(const std::vector<std::string> &paths)
{
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string &p : paths) size += p.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, size);
    auto *drop = static_cast<DROPFILES *>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    char *names = reinterpret_cast<char *>(drop + 1);
    for (const std::string &p : paths) {
        memcpy(names, p.c_str(), p.size() + 1);
        names += p.size() + 1;
    }
    *names = 0;
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// Nothing of one test's window reaches the next.
class MainWindow : public ::testing::Test {
protected:
    void TearDown() override
    {
        endWindow();
        SetCurrentDirectoryA(tempRoot().c_str());
    }
};

}  // namespace

TEST_F(MainWindow, StartsWithItsClassTitleFrameAndControls)
{
    BoxAnswerer answerer;
    ASSERT_TRUE(startWindow());
    HWND w = state.mainWindow;
    EXPECT_EQ(className(w), "Kestrand");
    EXPECT_EQ(windowText(w), "Kestrand - cuts a big file into pieces to carry");
    EXPECT_EQ(windowText(w).size(), 47u);
    // The system adds WS_CLIPSIBLINGS to every top-level window.
    EXPECT_EQ(DWORD(GetWindowLongPtrA(w, GWL_STYLE)) & ~DWORD(WS_VISIBLE | WS_CLIPSIBLINGS), 0x02CA0000u);
    RECT frame;
    GetWindowRect(w, &frame);
    EXPECT_EQ(frame.left, 70);
    EXPECT_EQ(frame.top, 100);
    EXPECT_EQ(frame.right - frame.left, 544);
    EXPECT_EQ(frame.bottom - frame.top, 220);

    const ControlSpec controls[] = {
        {21, "Edit", "", 150, 16, 0x50410080}, {22, "Edit", "", 150, 48, 0x50410080},
        {23, "Edit", "", 150, 80, 0x50412080}, {25, "Button", "Browse...", 440, 16, 0x50400000},
        {26, "Button", "Change", 440, 48, 0x50400000}, {27, "Button", "Max", 440, 80, 0x50400000},
        {28, "Button", "Ok", 440, 112, 0x50400000}, {29, "Button", "Cancel", 440, 144, 0x50400000},
    };
    for (const ControlSpec &c : controls) {
        HWND control = GetDlgItem(w, c.id);
        ASSERT_NE(control, nullptr) << c.id;
        EXPECT_STRCASEEQ(className(control).c_str(), c.windowClass) << c.id;
        EXPECT_EQ(windowText(control), c.caption) << c.id;
        // Disabled fields carry WS_DISABLED on top of their style.
        EXPECT_EQ(DWORD(GetWindowLongPtrA(control, GWL_STYLE)) & ~DWORD(WS_DISABLED), c.style) << c.id;
        RECT r;
        GetWindowRect(control, &r);
        POINT corner{r.left, r.top};
        ScreenToClient(w, &corner);
        EXPECT_EQ(corner.x, c.x) << c.id;
        EXPECT_EQ(corner.y, c.y) << c.id;
        EXPECT_EQ(r.right - r.left, c.id < 25 ? 290 : 80) << c.id;
        EXPECT_EQ(r.bottom - r.top, 26) << c.id;
    }
    EXPECT_EQ(GetDlgItem(w, 21), state.sourceEdit);
    EXPECT_EQ(GetDlgItem(w, 29), state.cancelButton);
    EXPECT_EQ(enabledControls(), sourcePhase);
    EXPECT_EQ(GetFocus(), state.sourceEdit);
    EXPECT_EQ(state.step, 1);
    EXPECT_EQ(state.copyState.load(), uint32_t(Active));
    EXPECT_NE(GetWindowLongPtrA(w, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
    pump(50);
    EXPECT_EQ(answerer.count(), 0u);
    DestroyWindow(w);
    EXPECT_TRUE(pumpUntil([] { return quitSeen(); }));
}

TEST_F(MainWindow, CommandLineTailIsEverythingAfterTheProgramName)
{
    EXPECT_STREQ(commandLineTail("kestrand.exe C:\\a b\\c.bin"), "C:\\a b\\c.bin");
    EXPECT_STREQ(commandLineTail("  \"C:\\Program Files\\k.exe\"   \"x y\" z"), "\"x y\" z");
    EXPECT_STREQ(commandLineTail("\"C:\\unclosed quote"), "");
    EXPECT_STREQ(commandLineTail("k.exe\t\tfile"), "file");
    EXPECT_STREQ(commandLineTail("k.exe"), "");
}

TEST_F(MainWindow, ExistingFileOnTheCommandLineIsShownNotOpened)
{
    TempFolder folder;
    std::string file = folder / "with blank\\data.bin";
    CreateDirectoryA((folder / "with blank").c_str(), nullptr);
    writeFile(file, std::string(700, 'd'));
    BoxAnswerer answerer;
    ASSERT_TRUE(startWindow(file));
    EXPECT_EQ(windowText(state.sourceEdit), file);
    EXPECT_EQ(state.sourceHandle, nullptr);
    EXPECT_TRUE(isZero(state.remaining));
    EXPECT_EQ(state.step, 1);
    // Not held: anyone may still open it.
    HANDLE other = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
    EXPECT_EQ(answerer.count(), 0u);
    DestroyWindow(state.mainWindow);
}

TEST_F(MainWindow, QuotedOrMissingTailIsReportedBeforeTheWindowShows)
{
    TempFolder folder;
    std::string file = folder / "data.bin";
    writeFile(file, "x");
    std::string quoted = "\"" + file + "\"";
    BoxAnswerer answerer;
    ASSERT_TRUE(startWindow(quoted));
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error opening file");
    EXPECT_EQ(boxes[0].text, quoted);
    EXPECT_EQ(boxes[0].icon, UINT(MB_ICONERROR));
    EXPECT_EQ(boxes[0].owner, state.mainWindow);
    EXPECT_EQ(windowText(state.sourceEdit), "");
    EXPECT_EQ(enabledControls(), sourcePhase);
    DestroyWindow(state.mainWindow);
}

TEST_F(MainWindow, TooLongTailIsRefusedNotCut)
{
    TempFolder folder;
    // A real file whose name starts like the cut tail, so cutting would find it.
    std::string tail = folder.path() + "\\" + std::string(300 - folder.path().size() - 1, 'z');
    std::string cut = tail.substr(0, 248);
    writeFile(cut, "x");
    BoxAnswerer answerer;
    ASSERT_TRUE(startWindow(tail));
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error opening file");
    EXPECT_EQ(boxes[0].text, cut);
    EXPECT_EQ(boxes[0].icon, UINT(MB_ICONERROR));
    EXPECT_EQ(windowText(state.sourceEdit), "");
    DestroyWindow(state.mainWindow);
}

TEST_F(MainWindow, EnterInEveryFieldIsOk)
{
    BoxAnswerer answerer;
    ASSERT_TRUE(startWindow());
    // At the first step Ok with an empty Source field gives its message, whichever field.
    HWND fields[] = {state.sourceEdit, state.destEdit, state.sizeEdit};
    for (HWND field : fields) pressEnter(field);
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    for (const SeenBox &box : boxes) {
        EXPECT_EQ(box.caption, "Kestrand");
        EXPECT_EQ(box.text, "Source file didn't defind");
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    }
    EXPECT_EQ(state.step, 1);
    // The focus comes back once the window is active again.
    EXPECT_TRUE(pumpUntil([] { return GetFocus() == state.sourceEdit; }, 3000));
    DestroyWindow(state.mainWindow);
}

TEST_F(MainWindow, DropTakesTheFirstFileOnlyAndOnlyBeforeTheSourceIsAccepted)
{
    TempFolder folder;
    std::string first = folder / "one.bin", second = folder / "two.bin", third = folder / "three.bin";
    for (const std::string &f : {first, second, third}) writeFile(f, "abc");
    BoxAnswerer answerer;
    ASSERT_TRUE(startWindow());
    SendMessageA(state.mainWindow, WM_DROPFILES, (WPARAM)makeDrop({first, second, third}), 0);
    EXPECT_EQ(windowText(state.sourceEdit), first);
    EXPECT_EQ(GetFocus(), state.sourceEdit);
    ASSERT_TRUE(press(state.okButton));
    EXPECT_EQ(state.step, 2);
    EXPECT_EQ(GetWindowLongPtrA(state.mainWindow, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
    EXPECT_EQ(answerer.count(), 0u);
    DestroyWindow(state.mainWindow);
}

TEST_F(MainWindow, ClosingAtTheFirstStepWaitsAndEndsWithoutScript)
{
    TempFolder folder;
    ASSERT_TRUE(SetCurrentDirectoryA(folder.path().c_str()));
    ASSERT_TRUE(startWindow());
    DWORD start = GetTickCount();
    SendMessageA(state.mainWindow, WM_CLOSE, 0, 0);
    EXPECT_GE(GetTickCount() - start, 190u);
    EXPECT_TRUE(pumpUntil([] { return quitSeen(); }));
    EXPECT_EQ(state.copyState.load(), uint32_t(Stopped));
    EXPECT_EQ(state.gaugeRegion, nullptr);
    EXPECT_EQ(state.editFont, nullptr);
    // A destruction after the close releases nothing twice.
    DestroyWindow(state.mainWindow);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder / "*.bat").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    SetCurrentDirectoryA(tempRoot().c_str());
}
