// The real piece writer run from a test, outside any dialogue, with its inputs set as the
// window sets them.
#pragma once

#include <string>

#include "support/split_fixture.h"
#include "support/test_window.h"

class PieceRunFixture : public SplitFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens `path` as the split's source, as the source check leaves it.
    void openSource(const std::string &path, DWORD access = GENERIC_READ);
    // One piece of `bytes` into `dest`; returns the notice the window received.
    Notice runPiece(TestWindow &window, const std::string &dest, uint32_t bytes);
    // Starts a piece and returns at once; finish it with finishPiece.
    void beginPiece(const std::string &dest, uint32_t bytes);
    // The empty piece file at dest, made and recorded as the destination step does.
    void makeDestination(const std::string &dest);
    // Starts the writer on the destination made last.
    void startPiece(uint32_t bytes);
    Notice finishPiece(TestWindow &window);

private:
    size_t expected_ = 0;
};
