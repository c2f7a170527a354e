// Receiving: pieces, an end marker inside a piece, answers of other sessions,
// deadlines, an answer too large, a hang-up, and several threads at once.
#include "device_fixture.h"

#include <sstream>
#include <thread>

namespace {

TEST_F(DeviceTest, PiecesAndInnerEndMarkers) {
    start();
    if (HasFatalFailure()) return;
    emu->fault("1*05:split:4:150");
    EXPECT_EQ(std::string(ConsultarSAT(12)).substr(0, 12), "000012|08000");
    emu->fault("1*05:etx-inside");
    std::string answer = ConsultarSAT(13);
    EXPECT_EQ(answer.substr(0, 12), "000013|08000");
    EXPECT_NE(answer.find('\x03'), std::string::npos) << "kept as it came";
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
    T_Cons[1] = 1;
    emu->fault("1*05:ignore");
    EXPECT_EQ(std::string(ConsultarSAT(14)), busy(14, "08098"));
    emu->fault("1*05:answer:999999|08000|SAT em operação||");
    EXPECT_EQ(std::string(ConsultarSAT(15)), busy(15, "08098"));
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

TEST_F(DeviceTest, HangupGivesTheBusyAnswer) {
    start();
    if (HasFatalFailure()) return;
    T_Cons[1] = 2;
    emu->fault("1*05:hangup");
    EXPECT_EQ(std::string(ConsultarSAT(21)), busy(21, "08098"));
}

// The transcript shows every frame followed by its own answer: no two exchanges
// of the host's threads overlapped.
TEST_F(DeviceTest, LockSerialisesThreads) {
    start();
    if (HasFatalFailure()) return;
    emu->fault("05:delay:60");
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 3; ++i)
                ConsultarSAT(100 + t * 10 + i);
        });
    for (auto& th : threads)
        th.join();
    std::istringstream in(emu->transcript());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string date, time, tag, body;
        fields >> date >> time >> tag >> body;
        if (tag == "<-") lines.push_back(body.substr(4, 6));
        if (tag == "->") lines.push_back("=" + body.substr(0, 6));
    }
    ASSERT_EQ(lines.size(), 18u) << emu->transcript();
    for (std::size_t i = 0; i < lines.size(); i += 2)
        EXPECT_EQ("=" + lines[i], lines[i + 1]);
}

} // namespace
