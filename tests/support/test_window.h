// A real window on the test's own thread that stands in for the main window: it records
// what the writer left behind at the piece-finished notification and hands the
// notification to the main window's own procedure; it can be shown so that what is drawn
// into it can be read back pixel by pixel.
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
    uint32_t failureKind = 0;  // what the writer said failed, and the platform's code for it
    uint32_t failureError = 0;
};

// Pixels of a client area, row by row, as COLORREF values.
struct Pixels {
    int width = 0, height = 0;
    std::vector<COLORREF> colours;
    COLORREF at(int x, int y) const { return colours[size_t(y) * width + x]; }
};

// Points of the flask as designed, and whether each lies inside it: a belly of diameter
// 38 centred on (415, 155) and cut flat at y = 170, under a neck from x = 403 to 425 and
// y = 119, hollowed at each side by a circle of diameter 25 centred on y = 130.5.
struct FlaskProbe {
    int x, y;
    bool inside;
};
inline constexpr FlaskProbe flaskProbes[] = {
    {415, 155, true},  {415, 169, true},  {415, 170, false},  // the belly's centre, lowest row, cut
    {397, 155, true},  {395, 155, false}, {432, 155, true},  {434, 155, false},  // its sides
    {403, 119, true},  {425, 119, true},  {426, 119, false}, {415, 118, false},  // the mouth
    {403, 130, false}, {425, 130, false}, {414, 130, true},   // the hollows narrow the neck
    {396, 119, false}, {432, 119, false}, {396, 169, false}, {432, 169, false},  // the gauge's corners
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
    // Runs after the main window's procedure has handled a notification, before the
    // writer's send returns.
    std::function<void()> onNotice;

private:
    static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    HBRUSH brush_ = nullptr;
    Painting painting_;
    std::vector<Notice> notices_;
};
