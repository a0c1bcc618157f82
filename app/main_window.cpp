#include "app/main_window.h"

#include <commctrl.h>

#include "state/split_state.h"

int processEntry()
{
    InitCommonControls();
    return 0;
}
