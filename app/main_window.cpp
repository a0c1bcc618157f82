#include "app/main_window.h"

#include "state/split_state.h"

int processEntry()
{
    return 0;
}
