#include "support/piece_runs.h"

#include <gtest/gtest.h>

#include <cstring>

#include "split/own_files.h"
#include "split/piece_writer.h"
#include "support/files.h"

void PieceRunFixture::SetUp()
{
    SplitFixture::SetUp();
    // No dialogue runs around these pieces: as after teardown, the window's own handling of
    // a notification lets the writer go and does nothing more.
    state.tornDown = 1;
}

void PieceRunFixture::TearDown()
{
    waitForPieceWriter();
    SplitFixture::TearDown();
}

void PieceRunFixture::openSource(const std::string &path, DWORD access)
{
    lstrcpynA(state.sourcePath, path.c_str(), sizeof state.sourcePath);
    state.sourceHandle = CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(state.sourceHandle, INVALID_HANDLE_VALUE) << path;
}

void PieceRunFixture::makeDestination(const std::string &dest)
{
    lstrcpynA(state.destPath, dest.c_str(), sizeof state.destPath);
    HANDLE file = CreateFileA(dest.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << dest;
    ASSERT_EQ(closeAndRecord(file, state.destPath, &state.destIdentity), 1);
}

void PieceRunFixture::beginPiece(const std::string &dest, uint32_t bytes)
{
    makeDestination(dest);
    startPiece(bytes);
}

void PieceRunFixture::startPiece(uint32_t bytes)
{
    state.pieceBytes.store(bytes);
    state.copyState.store(Active);
    state.gaugeLevel.store(-1);
    ASSERT_EQ(startPieceWriter(), 1);
}

Notice PieceRunFixture::finishPiece(TestWindow &window)
{
    ++expected_;
    EXPECT_TRUE(window.waitForNotices(expected_)) << "no piece-finished notification";
    waitForPieceWriter();
    EXPECT_EQ(state.writerRunning.load(), 0u);
    if (window.notices().size() < expected_) return Notice{~0u, ~0u, 99};
    return window.notices()[expected_ - 1];
}

Notice PieceRunFixture::runPiece(TestWindow &window, const std::string &dest, uint32_t bytes)
{
    beginPiece(dest, bytes);
    return finishPiece(window);
}
