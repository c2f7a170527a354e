// satemu as a process, through a raw terminal client and the test harness.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sys/wait.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <thread>

#include "emulator.h"
#include "fields.h"
#include "raw_client.h"
#include "sandbox.h"

using emutest::answer;
using emutest::sale_document;
using emutest::transact;
using testsupport::Emulator;

namespace {

const std::string kSale = "|03|000100|12345678|";

std::string field(const std::string& answer, size_t n) {
    auto f = testsupport::split_fields(answer);
    return n < f.size() ? f[n] : std::string();
}

std::string link_target(const std::string& path) {
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

} // namespace

TEST(EmulatorLine, AnswersQueryRecordsFramesAndControlRequests) {
    Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    EXPECT_EQ(emu.control("ping"), "ok");
    EXPECT_EQ(answer(emu.device(), "|05|000123"), "000123|08000|SAT em operação||");
    auto frames = emu.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], "|05|000123|\x03");
    std::string t = emu.transcript();
    EXPECT_NE(t.find("<- |05|000123|\\x03"), std::string::npos);
    EXPECT_NE(t.find("-> 000123|08000|SAT em operação||\\x03"), std::string::npos);
    EXPECT_EQ(emu.control("reset-frames"), "ok");
    EXPECT_TRUE(emu.frames().empty());
    for (const char* bad : {"fault 16:drop", "fault 03:nonsense", "launch"})
        EXPECT_EQ(emu.control(bad).rfind("error: ", 0), 0u) << bad;
    EXPECT_EQ(emu.control("state").rfind("ok ", 0), 0u);
    EXPECT_NE(emu.control("state").find("activated=1"), std::string::npos);
    emu.fault("2*05:busy");
    EXPECT_EQ(emu.control("faults"), "ok 1\n2*05:busy (2 left)");
    emu.clear_faults();
    EXPECT_EQ(emu.control("faults"), "ok 0");
}

// Each fault, set through the control socket, and the answer that the line then carries.
TEST(EmulatorFaults, ShapeOfTheAnswerOnTheLine) {
    struct Case {
        const char* rule_text;
        std::string expected; // every byte read within 400 ms
    } cases[] = {
        {"1*05:busy", "000001|08098|SAT em processamento. Tente novamente.||\x03"},
        {"1*05:answer:{sessao}|08000|x||", "000001|08000|x||\x03"},
        {"1*05:stale", "000002|08000|SAT em operação||\x03"
                       "000001|08000|SAT em operação||\x03"},
        {"1*05:etx-inside", "000001|08000|\x03SAT em operação||\x03"},
        {"1*05:noise", std::string("\x00\xff~\x1b", 4) + "000001|08000|SAT em operação||\x03" +
                           std::string("\x00~noise~\xfe", 9)},
        {"1*05:split:3:20", "000001|08000|SAT em operação||\x03"},
        {"1*05:ignore", ""},
        {"1*05:drop", ""},
    };
    Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    for (const auto& c : cases) {
        emu.fault(c.rule_text);
        EXPECT_EQ(transact(emu.device(), "|05|000001", 400, true).text, c.expected) << c.rule_text;
        // The rule was for one frame only.
        EXPECT_EQ(answer(emu.device(), "|05|000003"), "000003|08000|SAT em operação||")
            << c.rule_text;
    }
}

TEST(EmulatorFaults, OversizeDelayAndSplitTiming) {
    Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    emu.fault("1*07:oversize:100000");
    auto r = transact(emu.device(), "|07|000001|12345678");
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.text.size(), 100000u);
    EXPECT_EQ(r.text.rfind("000001|10000|", 0), 0u);

    emu.fault("1*05:oversize:10");
    EXPECT_EQ(transact(emu.device(), "|05|000002").text, "000002|08\x03");

    // An answer that comes after the client gave up is not there in time, but comes.
    emu.fault("2*05:delay:500");
    EXPECT_FALSE(transact(emu.device(), "|05|000003", 100).complete);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(answer(emu.device(), "|05|000004", 3000), "000004|08000|SAT em operação||");

    emu.fault("1*05:split:2:400");
    auto part = transact(emu.device(), "|05|000005", 150);
    EXPECT_FALSE(part.complete);
    EXPECT_EQ(part.text, "000005|08000|SAT"); // the first 16 of 33 bytes
}

TEST(EmulatorFaults, DropProcessesAndIgnoreDoesNot) {
    Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    emu.fault("1*03:drop");
    EXPECT_FALSE(transact(emu.device(), kSale + sale_document(), 300).complete);
    std::string stored = answer(emu.device(), "|08|000101|12345678|000100");
    EXPECT_EQ(field(stored, 0), "000100");
    EXPECT_EQ(field(stored, 1), "06000");

    emu.fault("1*03:ignore");
    EXPECT_FALSE(transact(emu.device(), "|03|000200|12345678|" + sale_document(), 300).complete);
    EXPECT_EQ(answer(emu.device(), "|08|000201|12345678|000200"),
              "000201|11003|Sessão não existe||");

    emu.fault("1*03:busy");
    EXPECT_EQ(answer(emu.device(), "|03|000300|12345678|" + sale_document()),
              "000300|06098|0000|SAT em processamento. Tente novamente.||");
    EXPECT_NE(emu.control("state").find("counter=1 "), std::string::npos);
    EXPECT_EQ(emu.frames().size(), 5u);
}

TEST(EmulatorFaults, FromTheCommandLineForAllCodes) {
    Emulator emu({"--preset", "active", "--fault", "2*all:busy", "--fault",
                  "1*20:answer:{sessao}|19003|z||"});
    ASSERT_FALSE(emu.device().empty());
    EXPECT_EQ(answer(emu.device(), "|05|000001"),
              "000001|08098|SAT em processamento. Tente novamente.||");
    EXPECT_EQ(answer(emu.device(), "|11|000002|12345678"),
              "000002|14098|SAT em processamento. Tente novamente.||");
    EXPECT_EQ(answer(emu.device(), "|20|000003|12345678"), "000003|19003|z||");
    EXPECT_EQ(answer(emu.device(), "|05|000004"), "000004|08000|SAT em operação||");
}

TEST(EmulatorFaults, HangupComesBackBehindTheLinkThatIsRemovedOnExit) {
    std::string link = testsupport::make_temp_dir("satemu-link") + "/ttyQZ0";
    auto emu_ptr =
        std::make_unique<Emulator>(std::vector<std::string>{"--preset", "active", "--link", link});
    Emulator& emu = *emu_ptr;
    ASSERT_FALSE(emu.device().empty());
    EXPECT_EQ(link_target(link), emu.device());
    emu.fault("1*05:hangup");
    auto r = transact(emu.device(), "|05|000001", 500);
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.text.find('\x03'), std::string::npos);
    // The new line may well reuse the old number: wait until it is announced.
    auto announced = [&] {
        std::string t = emu.transcript();
        size_t first = t.find("-- device at ");
        return first != std::string::npos &&
               t.find("-- device at ", first + 1) != std::string::npos;
    };
    for (int i = 0; i < 100 && !announced(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(announced());
    EXPECT_EQ(answer(link, "|05|000002"), "000002|08000|SAT em operação||");
    EXPECT_FALSE(link_target(link).empty());
    EXPECT_NE(emu.transcript().find("hang-up"), std::string::npos);
    emu_ptr.reset();
    EXPECT_TRUE(link_target(link).empty());
}

TEST(EmulatorProcess, SellQueryCancelExtractLogAndKeepTheStateAcrossARestart) {
    std::string state = testsupport::make_temp_dir("satemu-state") + "/device.state";
    std::string sale;
    {
        Emulator emu({"--preset", "active", "--state", state});
        ASSERT_FALSE(emu.device().empty());
        sale = answer(emu.device(), kSale + sale_document());
        ASSERT_EQ(field(sale, 1), "06000") << sale;
        EXPECT_EQ(answer(emu.device(), "|08|000101|12345678|000100"), sale);
        std::string key = field(sale, 8);
        std::string c =
            answer(emu.device(), "|04|000102|12345678|" + key + "|" + emutest::cancel_doc(key));
        EXPECT_EQ(field(c, 1), "07000") << c;
        EXPECT_EQ(answer(emu.device(), "|20|000103|12345678"), c);
        EXPECT_EQ(field(answer(emu.device(), "|12|000104|12345678|3.0.0.3_x86"), 1), "15000");
        EXPECT_NE(emu.control("state").find("counter=2"), std::string::npos);
        EXPECT_EQ(answer(emu.device(), "|13|000105|12345678"),
                  "000105|16000|Equipamento SAT bloqueado com sucesso||");
    }
    Emulator again({"--state", state});
    ASSERT_FALSE(again.device().empty());
    EXPECT_EQ(answer(again.device(), "|08|000200|12345678|000100"), sale);
    EXPECT_EQ(answer(again.device(), "|14|000201|12345678"),
              "000201|17000|Equipamento SAT desbloqueado com sucesso||");
    std::string second = answer(again.device(), "|03|000202|12345678|" + sale_document());
    EXPECT_EQ(field(second, 8).substr(34, 6), "000003"); // the CF-e counter went on
}

TEST(EmulatorProcess, RefusesBadOptionsAndDocumentsEveryOption) {
    const char* exe = std::getenv("SATEMU");
    ASSERT_NE(exe, nullptr);
    for (const char* bad : {" --fault 03:wobble", " --serial 12", " --preset dormant", " --bogus",
                            " --link", " --cancel-answer-fields 10"}) {
        int status = std::system((std::string(exe) + bad + " >/dev/null 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << bad;
    }
    std::string help = testsupport::make_temp_dir("satemu-help") + "/help.txt";
    ASSERT_EQ(std::system((std::string(exe) + " --help >" + help).c_str()), 0);
    std::string text = testsupport::read_file(help);
    for (const char* opt :
         {"--link", "--preset", "--code", "--serial", "--emergency-code", "--status-wrong-code",
          "--unique-sessions", "--cancel-answer-fields", "--state", "--control", "--transcript",
          "--fault", "--help", "47291583000110", "08317492000155"})
        EXPECT_NE(text.find(opt), std::string::npos) << opt;
}
