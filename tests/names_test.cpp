#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "split/names.h"
#include "support/split_fixture.h"

namespace {

class NameStepping : public SplitFixture {
protected:
    // Steps `before` once; returns the result and leaves the text in after_.
    int step(const std::string &before)
    {
        strcpy(state.destPath, before.c_str());
        int changed = stepDestinationName();
        after_ = state.destPath;
        return changed;
    }

    void expectStep(const std::string &before, const std::string &after)
    {
        EXPECT_EQ(step(before), 1) << before;
        EXPECT_EQ(after_, after) << before;
    }

    void expectUnchanged(const std::string &before)
    {
        EXPECT_EQ(step(before), 0) << before;
        EXPECT_EQ(after_, before);
    }

    std::string after_;
};

}  // namespace

TEST_F(NameStepping, WorkedExamplesThatStep)
{
    expectStep("C:\\Dir\\Separation\\01", "C:\\Dir\\Separation\\02");
    expectStep("C:\\Dir\\Separation\\09", "C:\\Dir\\Separation\\10");
    expectStep("C:\\Dir\\Separation\\19", "C:\\Dir\\Separation\\20");
    expectStep("C:\\Dir\\piece01.dat", "C:\\Dir\\piece02.dat");
    expectStep("C:\\Dir\\piece09.dat", "C:\\Dir\\piece10.dat");
    expectStep("C:\\Dir\\piece099.dat", "C:\\Dir\\piece100.dat");
    expectStep("C:\\Dir\\x199", "C:\\Dir\\x200");
    expectStep("C:\\Dir\\piece01.", "C:\\Dir\\piece02.");
    expectStep("C:\\Dir\\a1.b2", "C:\\Dir\\a1.b3");
    expectStep("C:\\Dir\\79.z", "C:\\Dir\\80.z");
    expectStep("C:\\Dir\\899.q", "C:\\Dir\\900.q");
    expectStep("C:\\Set2.1\\part", "C:\\Set3.1\\part");
}

TEST_F(NameStepping, WorkedExamplesLeftAsTheyAre)
{
    expectUnchanged("C:\\Dir\\piece9.dat");
    expectUnchanged("C:\\Dir\\piece99.dat");
    expectUnchanged("C:\\Dir\\piece999.dat");
    expectUnchanged("C:\\Dir\\x0999");
    expectUnchanged("C:\\Dir\\piece.dat");
    expectUnchanged("C:\\Dir\\piece");
    expectUnchanged("C:\\Dir\\file.tar.gz");
    expectUnchanged("C:\\Dir\\my.dir\\part");
    expectUnchanged("C:\\my.dir\\part");
}

TEST_F(NameStepping, EdgesOfTheText)
{
    expectStep("5", "6");
    expectUnchanged("9");
    expectUnchanged("99");
    expectUnchanged("999");
    expectStep("199", "200");
    expectUnchanged(".a");  // a full stop at the very start does not count
    expectStep(".5", ".6");
    expectStep("1.", "2.");  // a trailing full stop counts, the digit before it is the units
    expectUnchanged("");
    expectUnchanged("C:\\Dir\\\xB9\xB2.dat");  // bytes above 0x7F are never digits
    expectStep("C:\\Dir\\a\xB9" "1", "C:\\Dir\\a\xB9" "2");
}

TEST_F(NameStepping, SteppingItsOwnOutputCountsOn)
{
    strcpy(state.destPath, "C:\\Dir\\Separation\\08");
    EXPECT_EQ(stepDestinationName(), 1);
    EXPECT_STREQ(state.destPath, "C:\\Dir\\Separation\\09");
    EXPECT_EQ(stepDestinationName(), 1);
    EXPECT_STREQ(state.destPath, "C:\\Dir\\Separation\\10");
    for (int n = 11; n <= 99; ++n) ASSERT_EQ(stepDestinationName(), 1) << n;
    EXPECT_STREQ(state.destPath, "C:\\Dir\\Separation\\99");
    EXPECT_EQ(stepDestinationName(), 0);
    EXPECT_STREQ(state.destPath, "C:\\Dir\\Separation\\99");
}

TEST_F(NameStepping, RandomPathsKeepTheirLengthAndOnlyDigitsChange)
{
    std::mt19937 random(20240611);
    const char alphabet[] = "0123456789999.._\\aZ:\x80\xB9";
    for (int round = 0; round < 20000; ++round) {
        std::string before;
        size_t length = random() % 12;
        for (size_t i = 0; i < length; ++i) before += alphabet[random() % (sizeof alphabet - 1)];
        int changed = step(before);
        ASSERT_EQ(after_.size(), before.size()) << before;
        int differences = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            if (before[i] == after_[i]) continue;
            ++differences;
            EXPECT_TRUE(isdigit((unsigned char)before[i]) && isdigit((unsigned char)after_[i]))
                << before << " -> " << after_;
        }
        EXPECT_EQ(changed != 0, differences != 0) << before;
        EXPECT_LE(differences, 3) << before;
    }
}
