// satemu as a process, through a raw terminal client and its control socket.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <thread>

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
        EXPECT_EQ(transact(emu.device(), "|05|000001", 400, true).text, expected) << rule;
        EXPECT_EQ(answer(emu.device(), "|05|000003"), "000003|08000|" + kOk) << "once only";
    }
}

TEST(EmulatorLine, HangupComesBackBehindTheLinkThatIsRemovedOnExit) {
    std::string link = make_temp_dir("satemu-link") + "/ttyQZ0";
    auto emu =
        std::make_unique<Emulator>(std::vector<std::string>{"--preset", "active", "--link", link});
    ASSERT_FALSE(emu->device().empty());
    EXPECT_EQ(link_target(link), emu->device());
    emu->fault("1*05:hangup");
    auto r = transact(emu->device(), "|05|000001", 500);
    EXPECT_EQ(r.text.find('\x03'), std::string::npos);
    // The new line may well reuse the old number: wait until it is announced.
    auto announced = [&] {
        std::string t = emu->transcript();
        size_t first = t.find("-- device at ");
        return first != std::string::npos &&
               t.find("-- device at ", first + 1) != std::string::npos;
    };
    for (int i = 0; i < 100 && !announced(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(announced());
    EXPECT_EQ(answer(link, "|05|000002"), "000002|08000|" + kOk);
    emu.reset();
    EXPECT_TRUE(link_target(link).empty());
}

TEST(EmulatorLine, StateKeptAcrossARestart) {
    std::string state = make_temp_dir("satemu-state") + "/device.state";
    std::string sale;
    {
        Emulator emu({"--preset", "active", "--state", state});
        ASSERT_FALSE(emu.device().empty());
        sale = answer(emu.device(), "|03|000100|12345678|" + sale_document());
        ASSERT_EQ(field(sale, 1), "06000") << sale;
        EXPECT_EQ(answer(emu.device(), "|13|000105|12345678"),
                  "000105|16000|Equipamento SAT bloqueado com sucesso||");
    }
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
        int status =
            std::system((std::string(std::getenv("SATEMU")) + bad + " >/dev/null 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << bad;
    }
}
