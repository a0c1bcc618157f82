// Cancel and closing at every phase: exit code 0, no script, nothing touched that the
// user did not name.
#include <gtest/gtest.h>

#include "acceptance/session.h"

namespace {

enum class Phase { Source, Destination, Size, Writing, NextDestination };
enum class How { Cancel, Close };

struct EndCase {
    Phase phase;
    How how;
};

class Ending : public ::testing::TestWithParam<EndCase> {};

const char *phaseName(Phase p)
{
    switch (p) {
    case Phase::Source: return "Source";
    case Phase::Destination: return "Destination";
    case Phase::Size: return "Size";
    case Phase::Writing: return "Writing";
    case Phase::NextDestination: return "NextDestination";
    }
    return "";
}

}  // namespace

TEST_P(Ending, LeavesNoScriptAndOnlyTheFilesTheUserNamed)
{
    const EndCase c = GetParam();
    TempFolder folder;
    std::string source = folder / "big.bin";
    // Large enough that the piece is still being written when the request comes.
    const uint64_t size = c.phase == Phase::Writing ? 3000000000ull : 5000;
    writeSparseFile(source, size, {{0, randomBytes(4096, 3)}, {size - 10, "the end..."}});
    std::set<std::string> expected{"big.bin"};

    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    if (c.phase != Phase::Source) {
        ASSERT_TRUE(s.acceptSource(source));
    }
    if (c.phase == Phase::Size || c.phase == Phase::Writing) {
        ASSERT_TRUE(s.acceptDestination());
        expected.insert("Separation\\01");
    }
    if (c.phase == Phase::Writing) {
        s.type(SizeField, "999999999");
        s.press(OkButton);
        ASSERT_TRUE(s.waitPhase(writingPhase));
        ASSERT_TRUE(waitUntil([&] {
            WIN32_FILE_ATTRIBUTE_DATA data;
            return GetFileAttributesExA((folder / "Separation\\01").c_str(), GetFileExInfoStandard, &data) &&
                   data.nFileSizeLow > 20000000;
        }));
    }
    if (c.phase == Phase::NextDestination) {
        ASSERT_TRUE(s.acceptDestination());
        ASSERT_EQ(s.writePiece("1000"), Session::NextPiece);
        expected.insert("Separation\\01");
    }
    DWORD asked = GetTickCount();
    if (c.how == How::Cancel)
        s.press(CancelButton);
    else
        PostMessageA(s.window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(s.exitCode(30000), 0);
    EXPECT_GE(GetTickCount() - asked, 190u) << "the program waits 200 ms for a running copy";
    EXPECT_FALSE(anyScriptUnder(folder.path()));
    EXPECT_EQ(filesUnder(folder.path()), expected);
    if (c.phase == Phase::Writing) {
        // The piece stays as far as it was written: a true prefix of the source.
        std::string piece = folder / "Separation\\01";
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(piece.c_str(), GetFileExInfoStandard, &data));
        EXPECT_LT(data.nFileSizeLow, 999999999u);
        EXPECT_EQ(data.nFileSizeLow % 512, 0u);
        HANDLE f = CreateFileA(piece.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        std::string head(4096, 0);
        DWORD got = 0;
        ReadFile(f, &head[0], 4096, &got, nullptr);
        CloseHandle(f);
        EXPECT_EQ(head, randomBytes(4096, 3));
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryPhase, Ending,
    ::testing::Values(EndCase{Phase::Source, How::Cancel}, EndCase{Phase::Source, How::Close},
                      EndCase{Phase::Destination, How::Cancel}, EndCase{Phase::Destination, How::Close},
                      EndCase{Phase::Size, How::Cancel}, EndCase{Phase::Size, How::Close},
                      EndCase{Phase::Writing, How::Cancel}, EndCase{Phase::Writing, How::Close},
                      EndCase{Phase::NextDestination, How::Cancel}, EndCase{Phase::NextDestination, How::Close}),
    [](const ::testing::TestParamInfo<EndCase> &info) {
        return std::string(phaseName(info.param.phase)) + (info.param.how == How::Cancel ? "Cancel" : "Close");
    });
