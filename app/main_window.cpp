#include "app/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "app/display.h"
#include "app/workflow.h"
#include "split/piece_writer.h"
#include "split/rejoin_script.h"
#include "split/source.h"
#include "state/report.h"
#include "state/split_state.h"

namespace {

const char programName[] = "Kestrand";
const COLORREF backgroundColour = RGB(0, 196, 188);
constexpr DWORD windowStyle = WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int windowX = 70, windowY = 100, windowWidth = 544, windowHeight = 220;

constexpr DWORD editStyle = WS_CHILD | WS_VISIBLE | WS_DLGFRAME | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD buttonStyle = WS_CHILD | WS_VISIBLE | WS_DLGFRAME;
constexpr int editX = 150, buttonX = 440, controlY = 16, rowHeight = 32;
constexpr int editWidth = 290, buttonWidth = 80, controlHeight = 26;

// Five captions in fields of ten characters, cut apart in ioBuffer.
const char buttonCaptions[] = "Browse... Change    Max       Ok        Cancel";
const int captionCuts[] = {9, 16, 23, 32};

// The title, each character raised by the next value of a cycle of five.
const char scrambledTitle[] =
    "\x4e\x6c\x74\x7d\x76\x64\x75\x65\x29\x31\x23\x6a\x76\x7d\x77\x23\x68\x21\x6b\x6d\x6a\x27\x67\x72"
    "\x70\x68\x27\x6a\x77\x78\x72\x27\x71\x72\x69\x66\x6c\x74\x29\x78\x72\x27\x64\x6a\x76\x75\x80";
const char titleCycle[5] = {3, 7, 1, 9, 4};
constexpr int titleLength = 47;
static_assert(sizeof scrambledTitle == titleLength + 1, "the title is 47 characters");

void unscrambleTitle()
{
    memcpy(state.textBuffer, scrambledTitle, sizeof scrambledTitle);
    for (int i = 0; i < titleLength; ++i) state.textBuffer[i] = char(state.textBuffer[i] - titleCycle[i % 5]);
}

int registerWindowClass()
{
    WNDCLASSEXA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = state.instance;
    windowClass.hIcon = LoadIconA(state.instance, "MyIcon1");
    windowClass.hIconSm = LoadIconA(state.instance, "MyIcon2");
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = state.backgroundBrush;
    windowClass.lpszClassName = state.className;
    return RegisterClassExA(&windowClass) != 0;
}

void createEditFont()
{
    LOGFONTA font;
    memset(&font, 0, sizeof font);
    font.lfHeight = 16;
    font.lfWidth = 8;
    font.lfWeight = 500;
    font.lfCharSet = DEFAULT_CHARSET;
    strcpy(font.lfFaceName, "MS Sans Serif");
    state.editFont = CreateFontIndirectA(&font);
}

HWND createControl(const char *windowClass, const char *caption, DWORD style, int x, int row, int width,
                   int id)
{
    return CreateWindowExA(0, windowClass, caption, style, x, controlY + row * rowHeight, width,
                           controlHeight, state.mainWindow, (HMENU)(INT_PTR)id, state.instance, nullptr);
}

void createEditFields()
{
    HWND *fields[] = {&state.sourceEdit, &state.destEdit, &state.sizeEdit};
    DWORD style = editStyle;
    for (int k = 0; k < 3; ++k) {
        HWND edit = createControl("edit", nullptr, style, editX, k, editWidth, sourceEditId + k);
        *fields[k] = edit;
        SendMessageA(edit, WM_SETFONT, (WPARAM)state.editFont, FALSE);
        if (k > 0) EnableWindow(edit, FALSE);
        state.oldEditProcs[k] = (WNDPROC)SetWindowLongPtrA(edit, GWLP_WNDPROC, (LONG_PTR)editEnterHook);
        if (k == 1) style |= ES_NUMBER;  // only the Dimension field takes digits alone
    }
}

void createButtons()
{
    HWND *buttons[] = {&state.browseButton, &state.changeButton, &state.maxButton, &state.okButton,
                       &state.cancelButton};
    memcpy(state.ioBuffer, buttonCaptions, sizeof buttonCaptions);
    for (int cut : captionCuts) state.ioBuffer[cut] = 0;
    for (int k = 0; k < 5; ++k)
        *buttons[k] = createControl("button", state.ioBuffer + 10 * k, buttonStyle, buttonX, k,
                                    buttonWidth, browseButtonId + k);
}

void showCommandLineSource()
{
    if (state.sourcePath[0] == 0) return;
    if (state.tailTooLong) {
        reportOpenError(state.sourcePath);
        return;
    }
    if (checkSource(state.sourcePath)) SetWindowTextA(state.sourceEdit, state.sourcePath);
}

void setStartingValues()
{
    setDisplayRects();
    state.remaining = DecimalCount{0, 0, 0};
    state.step = 1;
    state.sourceHandle = nullptr;
    state.copyState.store(Active, std::memory_order_relaxed);
    state.gaugeLevel.store(0, std::memory_order_relaxed);
    state.pieceCount = 0;
}

LRESULT onCreate(HWND window)
{
    state.mainWindow = window;
    setupOpenDialog();
    createEditFont();
    createEditFields();
    createButtons();
    EnableWindow(state.changeButton, FALSE);
    EnableWindow(state.maxButton, FALSE);
    showCommandLineSource();
    setStartingValues();
    SetFocus(state.sourceEdit);
    DragAcceptFiles(window, TRUE);
    return 0;
}

// The whole path goes into the field, so that Ok refuses one that is too long instead
// of taking it cut.
LRESULT onDropFiles(HDROP drop)
{
    DragQueryFileA(drop, 0, state.textBuffer, sizeof state.textBuffer);
    lstrcpynA(state.sourcePath, state.textBuffer, fieldTextLimit);
    SetWindowTextA(state.sourceEdit, state.textBuffer);
    SetFocus(state.sourceEdit);
    DragFinish(drop);
    return 0;
}

// A message box takes the focus away; give it back to the control that had it, so a
// refusal leaves the user where they were. A control disabled meanwhile does not get
// it: keys typed into it would still reach editEnterHook.
LRESULT onActivate(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus)) state.lastFocus = focus;
        return 0;
    }
    if (state.lastFocus && IsWindow(state.lastFocus)) {
        if (IsWindowEnabled(state.lastFocus)) SetFocus(state.lastFocus);
        return 0;
    }
    return DefWindowProcA(window, WM_ACTIVATE, wParam, lParam);
}

LRESULT onClose()
{
    state.copyState.store(Stopped, std::memory_order_relaxed);
    Sleep(200);  // a running piece writer sees the stop after its current block
    teardown();
    return 0;
}

template <typename Handle>
void deleteObject(Handle &object)
{
    if (object) DeleteObject(object);
    object = nullptr;
}

}  // namespace

const char *commandLineTail(const char *line)
{
    while (*line == ' ' || *line == '\t') ++line;
    if (*line == '"') {
        ++line;
        while (*line && *line != '"') ++line;
        if (*line == '"') ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t') ++line;
    }
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

int processEntry()
{
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    const char *tail = commandLineTail(GetCommandLineA());
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    return runKestrand(GetModuleHandleA(nullptr), tail, show);
}

int startKestrand(HINSTANCE instance, const char *tail, int showCommand)
{
    strcpy(state.className, programName);
    state.backgroundBrush = CreateSolidBrush(backgroundColour);
    state.instance = instance;
    if (!registerWindowClass()) return 0;
    // A tail that does not fit is refused at window creation, never cut and used.
    state.tailTooLong = strlen(tail) >= size_t(fieldTextLimit);
    lstrcpynA(state.sourcePath, tail, fieldTextLimit);
    unscrambleTitle();
    buildGauge();
    if (!CreateWindowExA(0, state.className, state.textBuffer, windowStyle, windowX, windowY,
                         windowWidth, windowHeight, nullptr, nullptr, instance, nullptr))
        return 0;
    InitCommonControls();
    ShowWindow(state.mainWindow, showCommand);
    UpdateWindow(state.mainWindow);
    return 1;
}

int runMessageLoop()
{
    MSG message;
    int got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return got == 0 ? int(message.wParam) : 1;
}

int runKestrand(HINSTANCE instance, const char *tail, int showCommand)
{
    if (!startKestrand(instance, tail, showCommand)) return 1;
    return runMessageLoop();
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return onCreate(window);
    case WM_PAINT: return paintWindow();
    case WM_COMMAND: return onCommand(window, wParam, lParam);
    case pieceFinishedMessage: return onPieceFinished();
    case WM_DROPFILES: return onDropFiles((HDROP)wParam);
    case WM_ACTIVATE: return onActivate(window, wParam, lParam);
    case WM_CLOSE: return onClose();
    case WM_DESTROY: teardown(); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK editEnterHook(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    int id = int(GetWindowLongPtrA(edit, GWLP_ID));
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        SendMessageA(state.mainWindow, WM_COMMAND, okButtonId, 0);
        return 0;
    }
    return CallWindowProcA(state.oldEditProcs[id - sourceEditId], edit, message, wParam, lParam);
}

void teardown()
{
    if (state.tornDown) return;
    state.tornDown = 1;
    DragAcceptFiles(state.mainWindow, FALSE);
    // The writer may still be inside a block after the pause; it must not find the source,
    // the region or the brushes gone.
    waitForPieceWriter();
    if (state.sourceHandle) CloseHandle(state.sourceHandle);
    state.sourceHandle = nullptr;
    deleteObject(state.backgroundBrush);
    deleteObject(state.emptyBrush);
    deleteObject(state.fillBrush);
    deleteObject(state.editFont);
    if (state.copyState.load(std::memory_order_relaxed) != Stopped) writeRejoinScript();
    deleteObject(state.gaugeRegion);
    PostQuitMessage(0);
}
