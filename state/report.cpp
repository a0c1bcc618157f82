#include "state/report.h"

#include "state/split_state.h"

int reportOpenError(const char *path)
{
    MessageBoxA(state.mainWindow, path, "Error opening file", MB_ICONERROR);
    return 0;
}

int reportInfeasibleName(const char *text)
{
    MessageBoxA(state.mainWindow, text, "Infeasible name", MB_OK);
    return 0;
}

int tellUser(const char *text, UINT style)
{
    MessageBoxA(state.mainWindow, text, state.className, style);
    return 0;
}
