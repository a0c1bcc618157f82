#include "app/display.h"

#include <cstring>

#include "count/decimal_count.h"
#include "state/split_state.h"

namespace {

// Client coordinates of the items that the workflow invalidates.
constexpr RECT destNumberArea{116, 53, 150, 68};
constexpr RECT sizeNumberArea{114, 85, 148, 100};
constexpr RECT restArea{166, 124, 296, 140};
constexpr RECT freeArea{156, 155, 376, 171};
constexpr RECT gaugeArea{396, 119, 433, 170};

const COLORREF emptyColour = RGB(0, 100, 30);
const COLORREF fillColour = RGB(80, 250, 120);
// Amber: the piece read back from its disk, told apart from both greens and the teal
// background at a glance.
const COLORREF checkColour = RGB(255, 160, 0);

constexpr int labelX = 14;
struct Label {
    int y;
    const char *text;
};
const Label labels[] = {
    {24, "Source file"},
    {53, "Destination file"},
    {84, "Dimension file"},
    {124, "The rest of the Source:"},
    {156, "The disk free Space:"},
};

const char pieceNumberFormat[] = "N%d";

// Combines a freshly made region into the gauge and lets it go at once.
void combineIntoGauge(HRGN part, int mode)
{
    if (!part) return;
    if (state.gaugeRegion) CombineRgn(state.gaugeRegion, state.gaugeRegion, part, mode);
    DeleteObject(part);
}

void fillBand(HDC dc, LONG top, LONG bottom, HBRUSH brush)
{
    RECT band{gaugeArea.left, top, gaugeArea.right, bottom};
    FillRect(dc, &band, brush);
}

// Band drawing from the piece writer's thread, on a device context of its own.
void fillOnWindow(LONG top, LONG bottom, HBRUSH brush)
{
    HDC dc = GetDC(state.mainWindow);
    if (!dc) return;
    SelectClipRgn(dc, state.gaugeRegion);
    fillBand(dc, top, bottom, brush);
    ReleaseDC(state.mainWindow, dc);
}

void drawLabels(HDC dc)
{
    for (const Label &label : labels) TextOutA(dc, labelX, label.y, label.text, int(strlen(label.text)));
}

// The figures are composed here, never in ioBuffer: a paint may come while a piece
// is being written.
void drawFigures(HDC dc)
{
    char text[countTextSize];
    if (!isZero(state.remaining)) {
        int length = formatBytes(state.remaining, text);
        TextOutA(dc, restArea.left + 1, restArea.top, text, length);
    }
    if (state.step <= 1) return;
    int length = wsprintfA(text, pieceNumberFormat, int(state.step / 2));
    TextOutA(dc, destNumberArea.left, destNumberArea.top, text, length);
    TextOutA(dc, sizeNumberArea.left, sizeNumberArea.top, text, length);
    if (state.step % 2 == 1) {
        length = formatBytes(state.freeSpace, text);
        TextOutA(dc, freeArea.left + 1, freeArea.top, text, length);
    }
}

}  // namespace

void setDisplayRects()
{
    state.destNumberRect = destNumberArea;
    state.sizeNumberRect = sizeNumberArea;
    state.restRect = restArea;
    state.freeRect = freeArea;
    state.gaugeRect = gaugeArea;
}

// A flask: a round belly cut flat at the gauge's bottom, and a neck hollowed by two
// circles so that it narrows in its middle.
void buildGauge()
{
    state.gaugeRegion = CreateEllipticRgn(396, 136, 434, 174);
    combineIntoGauge(CreateRectRgn(403, 170, 426, 175), RGN_DIFF);
    combineIntoGauge(CreateRectRgn(403, 119, 426, 140), RGN_OR);
    combineIntoGauge(CreateEllipticRgn(385, 118, 410, 143), RGN_DIFF);
    combineIntoGauge(CreateEllipticRgn(420, 118, 445, 143), RGN_DIFF);
    state.emptyBrush = CreateSolidBrush(emptyColour);
    state.fillBrush = CreateSolidBrush(fillColour);
    state.checkBrush = CreateSolidBrush(checkColour);
}

LRESULT paintWindow()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(state.mainWindow, &paint);
    if (!dc) return 0;
    SetBkMode(dc, TRANSPARENT);
    drawLabels(dc);
    drawFigures(dc);
    int32_t level = state.gaugeLevel.load(std::memory_order_relaxed);
    if (level != 0) drawGaugeLevel(dc, level);
    int32_t checked = state.checkLevel.load(std::memory_order_relaxed);
    if (checked > 0) drawCheckLevel(dc, checked);
    EndPaint(state.mainWindow, &paint);
    return 0;
}

// Level -1 is the empty flask; 1 to 51 fill that many rows from the bottom.
void drawGaugeLevel(HDC dc, int32_t level)
{
    SelectClipRgn(dc, state.gaugeRegion);
    fillBand(dc, gaugeArea.top, gaugeArea.bottom - level, state.emptyBrush);
    if (level > 0) fillBand(dc, gaugeArea.bottom - level, gaugeArea.bottom, state.fillBrush);
    SelectClipRgn(dc, nullptr);
}

void drawCheckLevel(HDC dc, int32_t level)
{
    SelectClipRgn(dc, state.gaugeRegion);
    fillBand(dc, gaugeArea.bottom - level, gaugeArea.bottom, state.checkBrush);
    SelectClipRgn(dc, nullptr);
}

void drawGaugeStep(int32_t oldLevel, int32_t newLevel)
{
    fillOnWindow(gaugeArea.bottom - newLevel, gaugeArea.bottom - oldLevel, state.fillBrush);
}

void drawGaugeFull()
{
    fillOnWindow(gaugeArea.top, gaugeArea.bottom, state.fillBrush);
}

// Level 0 is no row checked yet: the band starts at the flask's base.
void drawCheckStep(int32_t oldLevel, int32_t newLevel)
{
    fillOnWindow(gaugeArea.bottom - newLevel, gaugeArea.bottom - oldLevel, state.checkBrush);
}
