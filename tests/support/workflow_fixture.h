// The real main window hosted in the test process, driven through its dialogue.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/window_host.h"
#include "state/split_state.h"

// sourceEdit destEdit sizeEdit Browse Change Max Ok Cancel
inline const char destinationPhase[] = "01000011";
inline const char sizePhase[] = "00101111";
inline const char writingPhase[] = "00000001";
inline const char failedPhase[] = "01000011";

class Workflow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startWindow()); }
    void TearDown() override
    {
        if (IsWindow(state.mainWindow) && !quitSeen()) {
            SendMessageA(state.mainWindow, WM_CLOSE, 0, 0);
            pumpUntil([] { return quitSeen(); });
        }
        endWindow();
        SetCurrentDirectoryA(tempRoot().c_str());
    }

    void acceptSource(const std::string &path)
    {
        typeInto(state.sourceEdit, path);
        ASSERT_TRUE(press(state.okButton));
        ASSERT_EQ(state.step, 2);
    }
    void acceptDestination()
    {
        int step = state.step;
        ASSERT_TRUE(press(state.okButton));
        ASSERT_EQ(state.step, step + 1);
    }
    // Ok at the size step, then wait until the piece writer has reported.
    void writePiece(const std::string &size)
    {
        int step = state.step;
        typeInto(state.sizeEdit, size);
        ASSERT_TRUE(press(state.okButton));
        ASSERT_TRUE(pumpUntil([&] { return state.step != step || quitSeen() || pieceFailedShown(); }));
    }
    static bool pieceFailedShown()
    {
        return state.copyState.load() == Failed && state.writerRunning.load() == 0 &&
               IsWindowEnabled(state.okButton);
    }

    TempFolder folder;
};

