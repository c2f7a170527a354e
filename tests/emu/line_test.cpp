// satemu as a process, through a raw terminal client and the test harness.
#include <gtest/gtest.h>

#include "emulator.h"
#include "raw_client.h"

using emutest::answer;
using testsupport::Emulator;

TEST(EmulatorLine, AnswersQueryAndRecordsFrames) {
    Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    EXPECT_EQ(emu.control("ping"), "ok");
    EXPECT_EQ(answer(emu.device(), "|05|000123"), "000123|08000|SAT em operação||");
    auto frames = emu.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], "|05|000123|\x03");
    EXPECT_NE(emu.transcript().find("<- |05|000123|\\x03"), std::string::npos);
}
