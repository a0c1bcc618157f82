#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/display.h"
#include "count/decimal_count.h"
#include "support/split_fixture.h"
#include "support/test_window.h"

namespace {

const COLORREF darkGreen = RGB(0, 100, 30);
const COLORREF lightGreen = RGB(80, 250, 120);
const COLORREF amber = RGB(255, 160, 0);
const COLORREF background = RGB(0, 196, 188);
const COLORREF untouched = RGB(200, 10, 90);  // nothing of the program draws this colour
constexpr int width = 544, height = 190;
constexpr int gaugeBottom = 170;

// A 32-bit top-down memory bitmap to draw into, filled with one colour.
class MemoryCanvas {
public:
    explicit MemoryCanvas(COLORREF colour)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        HBRUSH brush = CreateSolidBrush(colour);
        RECT all{0, 0, width, height};
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }
    ~MemoryCanvas()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    Pixels pixels() const
    {
        GdiFlush();
        Pixels p;
        p.width = width;
        p.height = height;
        const uint32_t *raw = static_cast<const uint32_t *>(bits_);
        for (int i = 0; i < width * height; ++i)
            p.colours.push_back(RGB((raw[i] >> 16) & 0xFF, (raw[i] >> 8) & 0xFF, raw[i] & 0xFF));
        return p;
    }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    void *bits_ = nullptr;
};

class DisplayTest : public SplitFixture {
protected:
    void SetUp() override
    {
        SplitFixture::SetUp();
        setDisplayRects();
        buildGauge();
        // The program's flask, held to the probe points by RegionIsAFlaskWithFlatBaseAndWaistedNeck.
        inside_.resize(size_t(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) inside_[size_t(y) * width + x] = PtInRegion(state.gaugeRegion, x, y) != 0;
    }
    void TearDown() override
    {
        DeleteObject(state.gaugeRegion);
        DeleteObject(state.emptyBrush);
        DeleteObject(state.fillBrush);
        DeleteObject(state.checkBrush);
        SplitFixture::TearDown();
    }
    bool inside(int x, int y) const { return inside_[size_t(y) * width + x]; }

    // Every pixel: outside the flask untouched; inside, rows from `fillTop` down to
    // `fillBottom` light green and, when `darkAbove`, the rows above them dark green.
    void expectFlask(const Pixels &p, int fillTop, int fillBottom, bool darkAbove, COLORREF elsewhere,
                     const char *what)
    {
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                COLORREF want = elsewhere;
                if (inside(x, y) && y >= fillTop && y < fillBottom) want = lightGreen;
                else if (inside(x, y) && darkAbove && y < fillTop) want = darkGreen;
                if (p.at(x, y) != want && wrong++ < 3)
                    ADD_FAILURE() << what << ": pixel (" << x << "," << y << ") is " << std::hex
                                  << p.at(x, y) << ", expected " << want;
            }
        EXPECT_EQ(wrong, 0) << what;
    }

    std::vector<bool> inside_;
};

std::string levelName(int level)
{
    return "level " + std::to_string(level);
}

}  // namespace

TEST_F(DisplayTest, RectanglesAreTheDisplayAreas)
{
    auto same = [](const RECT &r, LONG l, LONG t, LONG rr, LONG b) {
        return r.left == l && r.top == t && r.right == rr && r.bottom == b;
    };
    EXPECT_TRUE(same(state.destNumberRect, 116, 53, 150, 68));
    EXPECT_TRUE(same(state.sizeNumberRect, 114, 85, 148, 100));
    EXPECT_TRUE(same(state.restRect, 166, 124, 296, 140));
    EXPECT_TRUE(same(state.freeRect, 156, 155, 376, 171));
    EXPECT_TRUE(same(state.gaugeRect, 396, 119, 433, 170));
}

TEST_F(DisplayTest, RegionIsAFlaskWithFlatBaseAndWaistedNeck)
{
    for (const FlaskProbe &p : flaskProbes) EXPECT_EQ(inside(p.x, p.y), p.inside) << p.x << "," << p.y;
    RECT box;
    GetRgnBox(state.gaugeRegion, &box);
    EXPECT_GE(box.left, 396);
    EXPECT_GE(box.top, 119);
    EXPECT_LE(box.right, 433);
    EXPECT_LE(box.bottom, 170);
    LOGBRUSH brush;
    GetObjectA(state.emptyBrush, sizeof brush, &brush);
    EXPECT_EQ(brush.lbColor, darkGreen);
    GetObjectA(state.fillBrush, sizeof brush, &brush);
    EXPECT_EQ(brush.lbColor, lightGreen);
    GetObjectA(state.checkBrush, sizeof brush, &brush);
    EXPECT_EQ(brush.lbColor, amber);
    // The check's colour stands apart from both greens and the background: more than 180
    // apart from each over its three channels.
    for (COLORREF other : {darkGreen, lightGreen, background}) {
        int apart = abs(GetRValue(amber) - GetRValue(other)) + abs(GetGValue(amber) - GetGValue(other)) +
                    abs(GetBValue(amber) - GetBValue(other));
        EXPECT_GT(apart, 180) << std::hex << other;
    }
}

TEST_F(DisplayTest, EveryLevelFillsFromTheBottomInsideTheFlaskOnly)
{
    for (int level = -1; level <= 51; ++level) {
        if (level == 0) continue;
        MemoryCanvas canvas(untouched);
        drawGaugeLevel(canvas.dc(), level);
        int fillTop = level > 0 ? gaugeBottom - level : gaugeBottom;
        expectFlask(canvas.pixels(), fillTop, gaugeBottom, true, untouched, levelName(level).c_str());
    }
    // The worked examples, read directly.
    MemoryCanvas canvas(untouched);
    drawGaugeLevel(canvas.dc(), 20);
    Pixels p = canvas.pixels();
    EXPECT_EQ(p.at(415, 119), darkGreen);
    EXPECT_EQ(p.at(415, 149), darkGreen);
    EXPECT_EQ(p.at(415, 150), lightGreen);
    EXPECT_EQ(p.at(415, 169), lightGreen);
    EXPECT_EQ(p.at(415, 170), untouched);
}

TEST_F(DisplayTest, BandsAndFullFillDrawOnTheWindowInsideTheFlaskOnly)
{
    TestWindow window(true);
    struct Band {
        int from, to;
    };
    for (Band band : {Band{-1, 3}, Band{-1, 1}, Band{-1, 51}, Band{17, 34}, Band{50, 51}, Band{0, 26}}) {
        window.fill(untouched);
        drawGaugeStep(band.from, band.to);
        std::string what = "band " + std::to_string(band.from) + " to " + std::to_string(band.to);
        expectFlask(window.grab(), gaugeBottom - band.to, gaugeBottom - band.from, false, untouched,
                    what.c_str());
    }
    window.fill(untouched);
    drawGaugeStep(-1, 3);
    Pixels p = window.grab();
    EXPECT_EQ(p.at(415, 166), untouched);
    EXPECT_EQ(p.at(415, 167), lightGreen);
    EXPECT_EQ(p.at(415, 169), lightGreen);

    window.fill(untouched);
    drawGaugeFull();
    expectFlask(window.grab(), 0, gaugeBottom, false, untouched, "full");
    RECT r = state.gaugeRect;
    EXPECT_TRUE(r.left == 396 && r.top == 119 && r.right == 433 && r.bottom == 170);
}

// While a piece is read back, the full flask fills again from the bottom in amber: the
// writer's bands and the paint pass's picture are the same.
TEST_F(DisplayTest, CheckFillsTheFullFlaskAgainFromTheBottomInAmber)
{
    auto expectCheck = [&](const Pixels &p, int checkTop, int lightTop, COLORREF elsewhere, const std::string &what) {
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                COLORREF want = elsewhere;
                if (inside(x, y) && y >= checkTop && y < gaugeBottom) want = amber;
                else if (inside(x, y) && y >= lightTop && y < gaugeBottom) want = lightGreen;
                if (p.at(x, y) != want && wrong++ < 3)
                    ADD_FAILURE() << what << ": pixel (" << x << "," << y << ") is " << std::hex << p.at(x, y)
                                  << ", expected " << want;
            }
        EXPECT_EQ(wrong, 0) << what;
    };
    for (int level : {1, 20, 51}) {
        MemoryCanvas canvas(untouched);
        drawGaugeLevel(canvas.dc(), 51);
        drawCheckLevel(canvas.dc(), level);
        expectCheck(canvas.pixels(), gaugeBottom - level, 0, untouched, "check level " + std::to_string(level));
    }
    MemoryCanvas canvas(untouched);
    drawGaugeLevel(canvas.dc(), 51);
    drawCheckLevel(canvas.dc(), 20);
    Pixels p = canvas.pixels();
    EXPECT_EQ(p.at(415, 149), lightGreen);
    EXPECT_EQ(p.at(415, 150), amber);
    EXPECT_EQ(p.at(415, 169), amber);
    EXPECT_EQ(p.at(415, 170), untouched);

    // The writer's bands: from nothing checked to 3 rows, then on to 26, then to the top.
    TestWindow window(true);
    window.fill(untouched);
    drawCheckStep(0, 3);
    expectCheck(window.grab(), 167, gaugeBottom, untouched, "band 0 to 3");
    drawCheckStep(3, 26);
    expectCheck(window.grab(), 144, gaugeBottom, untouched, "band 3 to 26");
    drawCheckStep(26, 51);
    expectCheck(window.grab(), 0, gaugeBottom, untouched, "band 26 to 51");

    // A repaint mid-check draws the same: the light flask and the rows checked so far.
    TestWindow painted(true, TestWindow::PaintWindow);
    state.step = 3;
    state.gaugeLevel.store(51);
    state.checkLevel.store(20);
    InvalidateRect(painted.handle(), &state.gaugeRect, TRUE);
    UpdateWindow(painted.handle());
    p = painted.grab();
    int wrong = 0;
    for (int y = 119; y < 171; ++y)
        for (int x = 396; x < 433; ++x) {
            COLORREF want = !inside(x, y) ? TestWindow::background : y >= 150 ? amber : lightGreen;
            wrong += p.at(x, y) != want;
        }
    EXPECT_EQ(wrong, 0) << "paint at check level 20";
    EXPECT_EQ(p.at(415, 149), lightGreen);
    EXPECT_EQ(p.at(415, 150), amber);
}

namespace {

struct Text {
    int x, y;
    std::string text;
};

// What a paint pass must show: the window background, the given texts in the default
// font, and the gauge at `level`: dark green above the lowest `level` rows, light green in them.
Pixels expectedPaint(const std::vector<Text> &texts, int level)
{
    MemoryCanvas canvas(TestWindow::background);
    SetBkMode(canvas.dc(), TRANSPARENT);
    for (const Text &t : texts) TextOutA(canvas.dc(), t.x, t.y, t.text.c_str(), int(t.text.size()));
    Pixels p = canvas.pixels();
    if (level == 0) return p;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (PtInRegion(state.gaugeRegion, x, y))
                p.colours[size_t(y) * width + x] = level > 0 && y >= gaugeBottom - level ? lightGreen : darkGreen;
    return p;
}

const std::vector<Text> labelTexts = {
    {14, 24, "Source file"},
    {14, 53, "Destination file"},
    {14, 84, "Dimension file"},
    {14, 124, "The rest of the Source:"},
    {14, 156, "The disk free Space:"},
};

std::vector<Text> withLabels(std::vector<Text> more)
{
    std::vector<Text> all = labelTexts;
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

}  // namespace

TEST_F(DisplayTest, PaintPassDrawsLabelsFiguresAndGaugeAtTheirPlaces)
{
    TestWindow window(true, TestWindow::PaintWindow);
    memset(state.ioBuffer, 'x', sizeof state.ioBuffer);
    struct Case {
        const char *what;
        int32_t step;
        DecimalCount remaining, freeSpace;
        int32_t level;
        std::vector<Text> texts;
    };
    const std::vector<Case> cases = {
        {"step 1, nothing left", 1, {0, 0, 0}, {0, 0, 0}, 0, {}},
        {"step 1, chunked rest", 1, {1, 2, 3}, {0, 0, 0}, 0, {{167, 124, "10000200003 bytes"}}},
        {"step 2", 2, {0, 0, 5000}, {0, 0, 777}, 0,
         {{167, 124, "5000 bytes"}, {116, 53, "N1"}, {114, 85, "N1"}}},
        {"step 3", 3, {0, 0, 5000}, {0, 12, 34}, 0,
         {{167, 124, "5000 bytes"}, {116, 53, "N1"}, {114, 85, "N1"}, {157, 155, "1200034 bytes"}}},
        {"step 3, no free space", 3, {0, 0, 5000}, {0, 0, 0}, 0,
         {{167, 124, "5000 bytes"}, {116, 53, "N1"}, {114, 85, "N1"}, {157, 155, "0 bytes"}}},
        {"step 21", 21, {0, 0, 0}, {0, 0, 9}, 0,
         {{116, 53, "N10"}, {114, 85, "N10"}, {157, 155, "9 bytes"}}},
        {"empty gauge", 3, {0, 0, 0}, {0, 0, 9}, -1,
         {{116, 53, "N1"}, {114, 85, "N1"}, {157, 155, "9 bytes"}}},
        {"gauge at 20", 3, {0, 0, 0}, {0, 0, 9}, 20,
         {{116, 53, "N1"}, {114, 85, "N1"}, {157, 155, "9 bytes"}}},
        {"full gauge", 3, {0, 0, 0}, {0, 0, 9}, 51,
         {{116, 53, "N1"}, {114, 85, "N1"}, {157, 155, "9 bytes"}}},
    };
    for (const Case &c : cases) {
        state.step = c.step;
        state.remaining = c.remaining;
        state.freeSpace = c.freeSpace;
        state.gaugeLevel.store(c.level);
        InvalidateRect(window.handle(), nullptr, TRUE);
        UpdateWindow(window.handle());
        Pixels shown = window.grab();
        Pixels wanted = expectedPaint(withLabels(c.texts), c.level);
        int wrong = 0;
        for (size_t i = 0; i < shown.colours.size(); ++i) wrong += shown.colours[i] != wanted.colours[i];
        EXPECT_EQ(wrong, 0) << c.what;
    }
    // The figures never borrowed the writer's buffer.
    EXPECT_EQ(std::string(state.ioBuffer, sizeof state.ioBuffer), std::string(sizeof state.ioBuffer, 'x'));
}

TEST_F(DisplayTest, ItemsInvalidatedAloneAreRepaintedFromTheState)
{
    TestWindow window(true, TestWindow::PaintWindow);
    state.step = 3;
    state.remaining = DecimalCount{0, 0, 5000};
    state.freeSpace = DecimalCount{0, 0, 9};
    state.gaugeLevel.store(20);
    InvalidateRect(window.handle(), nullptr, TRUE);
    UpdateWindow(window.handle());
    // The piece is done: the rest shrinks and the gauge goes; only those areas repaint.
    state.remaining = DecimalCount{0, 0, 4000};
    state.gaugeLevel.store(0);
    InvalidateRect(window.handle(), &state.restRect, TRUE);
    InvalidateRect(window.handle(), &state.gaugeRect, TRUE);
    UpdateWindow(window.handle());
    Pixels wanted = expectedPaint(
        withLabels({{167, 124, "4000 bytes"}, {116, 53, "N1"}, {114, 85, "N1"}, {157, 155, "9 bytes"}}), 0);
    Pixels shown = window.grab();
    int wrong = 0;
    for (size_t i = 0; i < shown.colours.size(); ++i) wrong += shown.colours[i] != wanted.colours[i];
    EXPECT_EQ(wrong, 0);
}
