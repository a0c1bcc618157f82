// A real window on the test's own thread that stands in for the main window: it
// receives the piece-finished notification, records what the writer left behind, and
// can be shown so that what is drawn into it can be read back pixel by pixel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Notice {
    uint32_t copyState;
    uint32_t pieceCount;
    int32_t gaugeLevel;
    uint32_t pieceBytes;
};

// Pixels of a client area, row by row, as COLORREF values.
struct Pixels {
    int width = 0, height = 0;
    std::vector<COLORREF> colours;
    COLORREF at(int x, int y) const { return colours[size_t(y) * width + x]; }
};

class TestWindow {
public:
    enum Painting { Validate, PaintWindow };
    // Shown windows are top-most, placed near the screen's lower right corner, where no
    // other window of the suite goes. The window becomes state.mainWindow.
    explicit TestWindow(bool shown = false, Painting painting = Validate);
    ~TestWindow();
    TestWindow(const TestWindow &) = delete;
    TestWindow &operator=(const TestWindow &) = delete;

    HWND handle() const { return window_; }
    const std::vector<Notice> &notices() const { return notices_; }
    // Handles messages until `n` notifications have come in all or the timeout passes.
    bool waitForNotices(size_t n, DWORD timeoutMs = 60000);
    // Handles whatever is queued (paints included) and returns.
    void pump();
    // Fills the whole client area with one colour through a device context of its own.
    void fill(COLORREF colour);
    Pixels grab() const;

    static const COLORREF background;  // the main window's, RGB(0,196,188)
    // Runs while a notification is being handled, before the writer's send returns.
    std::function<void()> onNotice;

private:
    static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    HBRUSH brush_ = nullptr;
    Painting painting_;
    std::vector<Notice> notices_;
};
