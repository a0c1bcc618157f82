// Everything drawn in the main window that is not a control, and the flask gauge.
#pragma once

#include <windows.h>

#include <cstdint>

void setDisplayRects();
void buildGauge();
LRESULT paintWindow();
void drawGaugeLevel(HDC dc, int32_t level);
// The rows read back and checked, over the full flask.
void drawCheckLevel(HDC dc, int32_t level);
// Called from the piece writer's thread.
void drawGaugeStep(int32_t oldLevel, int32_t newLevel);
void drawGaugeFull();
void drawCheckStep(int32_t oldLevel, int32_t newLevel);
