// What a user sees of the window at each phase, read from screenshots of the display.
#include <gtest/gtest.h>

#include <algorithm>

#include "acceptance/session.h"
#include "app/display.h"
#include "state/split_state.h"
#include "support/test_window.h"

namespace {

// The program's own flask, built in this process; the display tests hold it to the
// written-down probe points.
bool insideFlask(int x, int y)
{
    static HRGN flask = [] {
        buildGauge();
        return state.gaugeRegion;
    }();
    return PtInRegion(flask, x, y) != 0;
}

// Points of the client area where nothing but the background may show.
const POINT backgroundPoints[] = {{5, 5}, {60, 112}, {528, 5}, {300, 182}, {140, 140}};

class Screens : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(screenshotsAvailable()) << "no screenshot watcher: run the suite through the test runner";
    }
    Shot shoot(Session &s, const std::string &name)
    {
        Shot shot;
        EXPECT_TRUE(takeShot(s.window(), name, shot)) << name;
        if (shot.width < 530 || shot.height < 185) ADD_FAILURE() << name << ": shot of " << shot.width << "x" << shot.height;
        return shot;
    }
    static void expectBackground(const Shot &shot, const std::string &name)
    {
        if (shot.rgb.empty()) return;
        for (POINT p : backgroundPoints)
            EXPECT_EQ(shot.at(p.x, p.y), backgroundColour) << name << " at " << p.x << "," << p.y;
    }
    // Around the gauge, outside the flask, only the background; inside it, `inside` colours;
    // at the flask's probe points the same, so that the flask itself is the right one.
    static void expectGauge(const Shot &shot, const std::string &name, const std::vector<uint32_t> &inside)
    {
        if (shot.rgb.empty()) return;
        auto among = [](uint32_t c, const std::vector<uint32_t> &colours) {
            return std::find(colours.begin(), colours.end(), c) != colours.end();
        };
        int wrongOutside = 0, wrongInside = 0;
        for (int y = 114; y < 176; ++y)
            for (int x = 391; x < 439; ++x) {
                uint32_t c = shot.at(x, y);
                if (!insideFlask(x, y))
                    wrongOutside += c != backgroundColour;
                else
                    wrongInside += !among(c, inside);
            }
        EXPECT_EQ(wrongOutside, 0) << name << ": drawn outside the flask";
        EXPECT_EQ(wrongInside, 0) << name << ": unexpected colours inside the flask";
        for (const FlaskProbe &p : flaskProbes)
            EXPECT_TRUE(p.inside ? among(shot.at(p.x, p.y), inside) : shot.at(p.x, p.y) == backgroundColour)
                << name << ": " << (p.inside ? "inside" : "outside") << " the flask at " << p.x << "," << p.y;
    }
    // Filled rows, counted up from the flask's bottom row 169, which must form one band.
    static int filledRows(const Shot &shot, const std::string &name)
    {
        if (shot.rgb.empty()) return -1;
        int rows = 0;
        while (rows < 51 && shot.at(415, 169 - rows) == fillColour) ++rows;
        for (int y = 119; y < 170 - rows; ++y)
            EXPECT_EQ(shot.at(415, y), emptyColour) << name << ": not one band, row " << y;
        return rows;
    }
};

}  // namespace

TEST_F(Screens, EveryPhaseShowsTheBackgroundAndTheFlaskOnlyWhileAPieceIsWritten)
{
    TempFolder folder;
    std::string source = folder / "film.bin";
    writeSparseFile(source, 2000000000ull, {{0, randomBytes(4096, 8)}});
    Session s;
    ASSERT_TRUE(s.start("", folder.path()));
    placeForShots(s.window(), 470, 540);
    const std::vector<uint32_t> none{backgroundColour};
    const std::vector<uint32_t> flask{emptyColour, fillColour};

    Shot shot = shoot(s, "1-source");
    expectBackground(shot, "1-source");
    expectGauge(shot, "1-source", none);

    ASSERT_TRUE(s.acceptSource(source));
    shot = shoot(s, "2-destination");
    expectBackground(shot, "2-destination");
    expectGauge(shot, "2-destination", none);

    ASSERT_TRUE(s.acceptDestination());
    shot = shoot(s, "3-size");
    expectBackground(shot, "3-size");
    expectGauge(shot, "3-size", none);

    ASSERT_EQ(s.writePiece("100000"), Session::NextPiece);
    shot = shoot(s, "4-between-pieces");
    expectBackground(shot, "4-between-pieces");
    expectGauge(shot, "4-between-pieces", none);

    ASSERT_TRUE(s.acceptDestination());
    s.type(SizeField, "999999999");
    s.press(OkButton);
    ASSERT_TRUE(s.waitPhase(writingPhase));
    shot = shoot(s, "5-piece-started");
    expectBackground(shot, "5-piece-started");
    expectGauge(shot, "5-piece-started", flask);
    int early = filledRows(shot, "5-piece-started");
    EXPECT_LT(early, 40) << "the flask is mostly dark green while the piece starts";
    if (!shot.rgb.empty()) {
        EXPECT_EQ(shot.at(414, 122), emptyColour);
    }

    // The light green rises as the piece is copied.
    std::string piece = folder / "Separation\\02";
    ASSERT_TRUE(waitUntil(
        [&] {
            WIN32_FILE_ATTRIBUTE_DATA data;
            return GetFileAttributesExA(piece.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 400000000;
        },
        120000));
    shot = shoot(s, "6-piece-rising");
    expectGauge(shot, "6-piece-rising", flask);
    int later = filledRows(shot, "6-piece-rising");
    EXPECT_GT(later, early);
    EXPECT_GE(later, 20);

    s.press(CancelButton);
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_FALSE(anyScriptUnder(folder.path()));
}
