#include "state/split_state.h"

#include <new>

SplitState state{};

void resetSplitState()
{
    state.~SplitState();
    new (&state) SplitState{};
}
