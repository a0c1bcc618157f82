#include "support/test_window.h"

#include <stdexcept>

#include "app/display.h"
#include "app/main_window.h"
#include "state/split_state.h"

namespace {

const char windowClass[] = "KestrandTestWindow";
constexpr int clientWidth = 544, clientHeight = 190;
// Near the lower right corner of the 1024 x 768 test screen.
constexpr int shownX = 1024 - clientWidth - 10, shownY = 768 - clientHeight - 40;

}  // namespace

const COLORREF TestWindow::background = RGB(0, 196, 188);

TestWindow::TestWindow(bool shown, Painting painting) : painting_(painting)
{
    brush_ = CreateSolidBrush(background);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = brush_;
    wc.lpszClassName = windowClass;
    RegisterClassExA(&wc);  // fails harmlessly when a previous window registered it
    DWORD exStyle = shown ? WS_EX_TOPMOST | WS_EX_TOOLWINDOW : 0;
    window_ = CreateWindowExA(exStyle, windowClass, "test", WS_POPUP, shownX, shownY, clientWidth,
                              clientHeight, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window_) throw std::runtime_error("cannot create the test window");
    SetWindowLongPtrA(window_, GWLP_USERDATA, LONG_PTR(this));
    state.mainWindow = window_;
    if (shown) {
        ShowWindow(window_, SW_SHOWNOACTIVATE);
        UpdateWindow(window_);
        pump();
    }
}

TestWindow::~TestWindow()
{
    if (state.mainWindow == window_) state.mainWindow = nullptr;
    DestroyWindow(window_);
    // The class keeps pointing at the brush until it is unregistered.
    UnregisterClassA(windowClass, GetModuleHandleA(nullptr));
    DeleteObject(brush_);
}

LRESULT CALLBACK TestWindow::proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TestWindow *self = reinterpret_cast<TestWindow *>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_USER) {
        self->notices_.push_back(Notice{state.copyState.load(), state.pieceCount, state.gaugeLevel.load(),
                                                 state.failureKind.load(), state.failureError.load()});
        LRESULT handled = mainWindowProc(window, message, wParam, lParam);
        if (self->onNotice) self->onNotice();
        return handled;
    }
    if (self && message == WM_PAINT) {
        if (self->painting_ == PaintWindow) return paintWindow();
        ValidateRect(window, nullptr);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool TestWindow::waitForNotices(size_t n, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (notices_.size() < n) {
        DWORD passed = GetTickCount() - start;
        if (passed >= timeoutMs) return false;
        // Short slices, so a wake-up that slipped between the pump and the wait costs little.
        DWORD slice = timeoutMs - passed < 50 ? timeoutMs - passed : 50;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
        pump();
    }
    return true;
}

void TestWindow::pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void TestWindow::fill(COLORREF colour)
{
    HDC dc = GetDC(window_);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT all{0, 0, clientWidth, clientHeight};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(window_, dc);
}

Pixels TestWindow::grab() const
{
    Pixels pixels;
    RECT client;
    GetClientRect(window_, &client);
    pixels.width = client.right;
    pixels.height = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = pixels.width;
    info.bmiHeader.biHeight = -pixels.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC windowDc = GetDC(window_);
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, pixels.width, pixels.height, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t *raw = static_cast<const uint32_t *>(bits);
    pixels.colours.resize(size_t(pixels.width) * pixels.height);
    for (size_t i = 0; i < pixels.colours.size(); ++i) {
        uint32_t v = raw[i];
        pixels.colours[i] = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window_, windowDc);
    return pixels;
}
