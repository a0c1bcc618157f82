// A fresh SplitState for every test, with the program name that captions use, and the
// current folder put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "state/split_state.h"

class SplitFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    std::string savedFolder_;
};
