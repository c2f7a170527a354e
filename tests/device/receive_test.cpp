// Receiving: answers in pieces, an end marker inside a piece, answers of other
// sessions, deadlines, an answer too large for the buffer, a device that hangs up.
#include "device_fixture.h"

#include <dirent.h>

#include <cstring>
#include <sstream>
#include <thread>

namespace {

TEST_F(DeviceTest, AnswerInPiecesIsJoined) {
    start();
    if (HasFatalFailure()) return;
    emu->fault("05:split:4:150");
    std::string answer = ConsultarSAT(12);
    EXPECT_EQ(answer.substr(0, 12), "000012|08000") << answer;
    EXPECT_EQ(answer.find('\x03'), std::string::npos);
    EXPECT_EQ(BC.NumBytes, static_cast<int>(answer.size()) + 1) << "the end marker was stored";
}

TEST_F(DeviceTest, EndMarkerInsideAPieceDoesNotEndTheAnswer) {
    start();
    if (HasFatalFailure()) return;
    emu->fault("05:etx-inside");
    std::string answer = ConsultarSAT(13);
    EXPECT_EQ(answer.substr(0, 12), "000013|08000") << answer;
    EXPECT_NE(answer.find('\x03'), std::string::npos) << "kept as it came";
}

// The late answer of an earlier command arrives while the next one waits: it is
// discarded, and the answer with the call's own session number is taken.
TEST_F(DeviceTest, AnswersOfOtherSessionsAreDiscarded) {
    start();
    if (HasFatalFailure()) return;
    ASSERT_EQ(set("DEBUG", "true"), "OK");
    emu->fault("2*05:delay:2500");
    T_Cons[1] = 1;
    EXPECT_EQ(std::string(ConsultarSAT(30)), busy(30, "08098"));
    T_Cons[1] = 9;
    std::string answer = ConsultarSAT(31);
    EXPECT_EQ(answer.substr(0, 12), "000031|08000") << answer << emu->transcript();
    std::string log = testsupport::read_file(halvex + "/lib_torvane_halvex.log");
    EXPECT_NE(log.find(":    .........   ......... \n"), std::string::npos) << log;
    EXPECT_NE(emu->transcript().find("-> 000030|08000"), std::string::npos);
}

TEST_F(DeviceTest, OnlyAnotherSessionBeforeTheDeadlineIsBusy) {
    start();
    if (HasFatalFailure()) return;
    T_Cons[1] = 1;
    emu->fault("05:answer:999999|08000|SAT em operação||");
    EXPECT_EQ(std::string(ConsultarSAT(15)), busy(15, "08098"));
}

TEST_F(DeviceTest, PassedDeadlineSendsButDoesNotWait) {
    start();
    if (HasFatalFailure()) return;
    T_Cons[1] = 0;
    EXPECT_EQ(std::string(ConsultarSAT(16)), busy(16, "08098"));
    EXPECT_EQ(last_frame(), "|05|000016|\x03") << "the command itself went out";
}

TEST_F(DeviceTest, SlowAnswerWithinTheDeadline) {
    start();
    if (HasFatalFailure()) return;
    T_Cons[1] = 3;
    emu->fault("05:delay:1200");
    EXPECT_EQ(std::string(ConsultarSAT(17)).substr(0, 12), "000017|08000");
}

TEST_F(DeviceTest, AnswerTooLargeForTheBufferIsDropped) {
    start();
    if (HasFatalFailure()) return;
    T_Logs[1] = 30;
    emu->fault("1*12:oversize:3200000");
    std::string answer = ExtrairLogs(18, text("12345678"));
    EXPECT_EQ(answer, busy(18, "15098"));
    EXPECT_LE(BC.NumBytes, 3145727);
    // The line is clean afterwards: the next exchange gets its own answer.
    EXPECT_EQ(std::string(ConsultarSAT(19)).substr(0, 12), "000019|08000");
}

TEST_F(DeviceTest, LargestAnswerThatFitsIsTaken) {
    start();
    if (HasFatalFailure()) return;
    T_Logs[1] = 30;
    emu->fault("1*12:oversize:3000000");
    std::string answer = ExtrairLogs(20, text("12345678"));
    EXPECT_EQ(answer.substr(0, 7), "000020|");
    EXPECT_GE(answer.size(), 2999990u);
    EXPECT_LT(answer.size(), 3000001u);
}

TEST_F(DeviceTest, HangupGivesTheBusyAnswer) {
    start();
    if (HasFatalFailure()) return;
    T_Cons[1] = 2;
    emu->fault("1*05:hangup");
    EXPECT_EQ(std::string(ConsultarSAT(21)), busy(21, "08098"));
    EXPECT_EQ(fdUSB, -1);
}

TEST_F(DeviceTest, ReceiveWithoutAnOpenDeviceReportsItAtOnce) {
    ASSERT_EQ(set("NO_POPUP", "false"), "OK");
    Tempo_Tout = static_cast<int>(tick() + 30);
    fdUSB = -1;
    std::strcpy(BC.Dados, "old");
    testing::internal::CaptureStdout();
    EXPECT_EQ(RecebeDoSat3(), -1);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "RecebeDoSat: Erro ao receber dados do SAT(1)\n");
    EXPECT_EQ(BC.Dados[0], '\0');
}

int open_descriptors() {
    int count = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++count;
        closedir(d);
    }
    return count;
}

// /dev/full opens but refuses every write: a failed send closes the device.
TEST_F(DeviceTest, FailedSendClosesTheDevice) {
    ASSERT_EQ(set("SERIAL", "/dev/full"), "OK");
    ASSERT_EQ(set("LOCK", "false"), "OK");
    ASSERT_EQ(set("NO_POPUP", "false"), "OK");
    testing::internal::CaptureStdout();
    EXPECT_EQ(std::string(ConsultarSAT(1)), busy(1, "08098"));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "EnviaparaSat: (TX) Perda de comunicação com o SAT.\n");
    ASSERT_EQ(set("NO_POPUP", "true"), "OK");
    int before = open_descriptors();
    for (int i = 0; i < 50; ++i)
        ConsultarSAT(i);
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(fdUSB, -1);
}

// Several threads of a host: the call lock lets one exchange at a time reach the
// device, so the transcript shows every frame followed by its own answer.
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
    std::string line;
    std::vector<std::string> exchange;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string date, time, tag, body;
        fields >> date >> time >> tag;
        if (tag != "<-" && tag != "->") continue;
        std::getline(fields, body);
        exchange.push_back(tag + body);
    }
    ASSERT_EQ(exchange.size(), 18u) << emu->transcript();
    for (std::size_t i = 0; i < exchange.size(); i += 2) {
        ASSERT_EQ(exchange[i].substr(0, 2), "<-") << exchange[i];
        ASSERT_EQ(exchange[i + 1].substr(0, 2), "->") << exchange[i + 1];
        // "<- |05|000123|\x03" is answered by "-> 000123|08000|...".
        EXPECT_EQ(exchange[i].substr(7, 6), exchange[i + 1].substr(3, 6)) << exchange[i];
    }
    EXPECT_EQ(lib_lock, 0);
}

} // namespace
