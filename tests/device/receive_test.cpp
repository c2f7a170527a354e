// Receiving: an end marker inside a piece, answers of other sessions, deadlines
// and an answer too large. Threads under the lock: tests/faults/threads_test.cpp.
#include "device_fixture.h"

namespace {

// Answers in pieces and the rest of the deadlines are cells of the fault matrix;
// here what the matrix does not see: an inner 0x03 is kept as it came.
TEST_F(DeviceTest, InnerEndMarkerIsKept) {
    start();
    if (HasFatalFailure()) return;
    emu->fault("1*05:etx-inside");
    std::string answer = ConsultarSAT(13);
    EXPECT_EQ(answer.substr(0, 12), "000013|08000");
    EXPECT_NE(answer.find('\x03'), std::string::npos);
}

// The late answer of an earlier command arrives while the next one waits.
TEST_F(DeviceTest, AnswersOfOtherSessionsAreDiscarded) {
    start();
    if (HasFatalFailure()) return;
    emu->fault("2*05:delay:2500");
    T_Cons[1] = 1;
    EXPECT_EQ(std::string(ConsultarSAT(30)), busy(30, "08098"));
    T_Cons[1] = 9;
    EXPECT_EQ(std::string(ConsultarSAT(31)).substr(0, 12), "000031|08000") << emu->transcript();
}

TEST_F(DeviceTest, DeadlinesGiveTheBusyAnswer) {
    start();
    if (HasFatalFailure()) return;
    T_Cons[1] = 0; // already passed: the command goes out, nothing is awaited
    EXPECT_EQ(std::string(ConsultarSAT(16)), busy(16, "08098"));
    EXPECT_EQ(last_frame(), "|05|000016|\x03");
    // Seven digits go out in full, but answers are matched on six characters.
    T_Cons[1] = 1;
    EXPECT_EQ(std::string(ConsultarSAT(1234567)), busy(1234567, "08098"));
    EXPECT_EQ(fdUSB, -1);
}

TEST_F(DeviceTest, AnswerTooLargeIsDroppedAndTheLineStaysUsable) {
    start();
    if (HasFatalFailure()) return;
    T_Logs[1] = 30;
    emu->fault("1*12:oversize:3200000");
    EXPECT_EQ(std::string(ExtrairLogs(18, text("12345678"))), busy(18, "15098"));
    EXPECT_LE(BC.NumBytes, 3145727);
    EXPECT_EQ(std::string(ConsultarSAT(19)).substr(0, 12), "000019|08000");
    emu->fault("1*12:oversize:3000000");
    EXPECT_GE(std::string(ExtrairLogs(20, text("12345678"))).size(), 2999990u);
}

} // namespace
