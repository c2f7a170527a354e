// satemu as a process, through a raw terminal client and its control socket.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

#include "emulator.h"
#include "fields.h"
#include "sandbox.h"

using namespace testsupport;

namespace {

const std::string kOk = "SAT em operação||";

std::string link_target(const std::string& path) {
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

} // namespace

// A fault from the command line, and the bytes of the two faults the library's
// tests do not tell apart by their effect (the rest: tests/faults, tests/retry).
TEST(EmulatorLine, FaultsAndTheBytesTheLineThenCarries) {
    Emulator emu({"--preset", "active", "--fault", "1*all:busy"});
    ASSERT_FALSE(emu.device().empty());
    EXPECT_EQ(answer(emu.device(), "|11|000009|12345678"),
              "000009|14098|SAT em processamento. Tente novamente.||");
    for (const char* bad : {"fault 16:drop", "fault 03:nonsense", "launch"})
        EXPECT_EQ(emu.control(bad).rfind("error: ", 0), 0u) << bad;
    const std::string ok = "000001|08000|" + kOk + "\x03";
    for (auto [rule, expected] :
         {std::pair<const char*, std::string>{"1*05:stale", "000002|08000|" + kOk + "\x03" + ok},
          {"1*05:noise",
           std::string("\x00\xff~\x1b", 4) + ok + std::string("\x00~noise~\xfe", 9)}}) {
        emu.fault(rule);
        EXPECT_EQ(transact(emu.device(), "|05|000001", 400, true), expected) << rule;
        EXPECT_EQ(answer(emu.device(), "|05|000003"), "000003|08000|" + kOk) << "once only";
    }
}

// The state file, and the link to the line that is removed on exit (coming back
// behind the link after a hang-up: tests/faults).
TEST(EmulatorLine, StateKeptAcrossARestartAndLinkRemovedOnExit) {
    const std::string dir = make_temp_dir("satemu-state"), state = dir + "/device.state";
    std::string sale;
    {
        Emulator emu({"--preset", "active", "--state", state, "--link", dir + "/ttyQZ0"});
        ASSERT_FALSE(emu.device().empty());
        EXPECT_EQ(link_target(dir + "/ttyQZ0"), emu.device());
        sale = answer(emu.device(), "|03|000100|12345678|" + sale_document());
        ASSERT_EQ(field(sale, 1), "06000") << sale;
        EXPECT_EQ(answer(emu.device(), "|13|000105|12345678"),
                  "000105|16000|Equipamento SAT bloqueado com sucesso||");
    }
    EXPECT_TRUE(link_target(dir + "/ttyQZ0").empty());
    Emulator again({"--state", state});
    ASSERT_FALSE(again.device().empty());
    EXPECT_EQ(answer(again.device(), "|08|000200|12345678|000100"), sale);
    EXPECT_EQ(answer(again.device(), "|14|000201|12345678"),
              "000201|17000|Equipamento SAT desbloqueado com sucesso||");
    std::string second = answer(again.device(), "|03|000202|12345678|" + sale_document());
    EXPECT_EQ(field(second, 8).substr(34, 6), "000002"); // the CF-e counter went on
}

TEST(EmulatorLine, RefusesBadOptions) {
    for (const char* bad : {" --fault 03:wobble", " --serial 12", " --preset dormant", " --bogus",
                            " --link", " --cancel-answer-fields 10"}) {
        const int status =
            std::system((std::string(std::getenv("SATEMU")) + bad + " >/dev/null 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << bad;
    }
}
