#include "support/split_fixture.h"

#include <cstring>

#include "support/files.h"

void SplitFixture::SetUp()
{
    resetSplitState();
    strcpy(state.className, "Kestrand");
    savedFolder_ = currentFolder();
}

void SplitFixture::TearDown()
{
    if (state.sourceHandle) CloseHandle(state.sourceHandle);
    state.sourceHandle = nullptr;
    SetCurrentDirectoryA(savedFolder_.c_str());
}
