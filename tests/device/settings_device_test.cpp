// Settings that show on the line: the first exchange of a process and the
// [TIMEOUT] deadlines, the debug log of an exchange, SetDriver's device path.
#include "device_fixture.h"

#include <sstream>

namespace {

std::vector<std::string> log_details(const std::string& halvex) {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::read_file(halvex + "/lib_torvane_halvex.log"));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line.size() >= 21 ? line.substr(21) : line);
    return lines;
}

// Without SetDriver the first call starts the library inside its send: its
// deadline comes from the built-in pair, the file's pair applies from the next one.
TEST_F(DeviceTest, FirstExchangeUsesTheBuiltInDeadline) {
    emu = std::make_unique<testsupport::Emulator>();
    ASSERT_FALSE(emu->device().empty());
    ASSERT_TRUE(
        testsupport::write_file(halvex + "/sat.ini", "[DEFAULT]\nSERIAL=" + emu->device() +
                                                         "\n[TIMEOUT]\nT_CONSULTAR_SAT=00:30\n"));
    long before = tick();
    EXPECT_EQ(std::string(ConsultarSAT(1)).substr(0, 12), "000001|08000");
    EXPECT_LE(Tempo_Tout, tick() + 4);
    EXPECT_GE(Tempo_Tout, before + 4);
    before = tick();
    EXPECT_EQ(std::string(ConsultarSAT(2)).substr(0, 12), "000002|08000");
    EXPECT_GE(Tempo_Tout, before + 30);
}

TEST_F(DeviceTest, ShortDeadlineFromTheFileAppliesToTheSecondExchange) {
    emu = std::make_unique<testsupport::Emulator>();
    ASSERT_FALSE(emu->device().empty());
    ASSERT_TRUE(testsupport::write_file(
        halvex + "/sat.ini",
        "[TIMEOUT]\nT_CONSULTAR_SAT=00:01\n[DEFAULT]\nSERIAL=" + emu->device() + "\n"));
    emu->fault("1*05:delay:2500");
    // 2.5 s is within the built-in 4 s of the first exchange ...
    EXPECT_EQ(std::string(ConsultarSAT(1)).substr(0, 12), "000001|08000");
    // ... but not within the file's 1 s of the second.
    emu->fault("1*05:delay:3500");
    EXPECT_EQ(std::string(ConsultarSAT(2)), busy(2, "08098"));
}

TEST_F(DeviceTest, DebugLogOfAnExchange) {
    start({"--preset", "active"}, "[DEFAULT]\nDEBUG=true\n");
    if (HasFatalFailure()) return;
    ConsultarSAT(123);
    auto lines = log_details(halvex);
    std::string dev = emu->device();
    std::vector<std::string> expected_tail = {
        "ConsultarSAT: 000123",
        "EnviarParaSat: inicio do envio ...",
        "Abrindo comunicacao com: " + dev,
        "EnviarParaSat: final do envio. ",
        "RecebeDoSat: inicio da recepção ...",
    };
    auto first = std::find(lines.begin(), lines.end(), expected_tail[0]);
    ASSERT_NE(first, lines.end()) << testsupport::read_file(halvex + "/lib_torvane_halvex.log");
    std::vector<std::string> got(first, first + std::min<std::ptrdiff_t>(5, lines.end() - first));
    EXPECT_EQ(got, expected_tail);
    EXPECT_NE(std::find_if(
                  lines.begin(), lines.end(),
                  [](const std::string& l) { return l.rfind("le_usb - bytes lidos: ", 0) == 0; }),
              lines.end());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "RecebeDoSat: final da recepção. ");
    EXPECT_EQ(lines.back().substr(0, 39), "Resposta de ConsultarSAT: 000123|08000|");
}

TEST_F(DeviceTest, ConsoleMessagesOfAReceive) {
    start({"--preset", "active"}, "[DEFAULT]\nNO_POPUP=false\n");
    if (HasFatalFailure()) return;
    testing::internal::CaptureStdout();
    ConsultarSAT(5);
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("le_usb -> bytes: "), std::string::npos) << out;
    EXPECT_NE(out.find("le_usb -> bytes lidos: "), std::string::npos) << out;
}

TEST_F(DeviceTest, SetDriverSwitchesTheDevice) {
    start();
    if (HasFatalFailure()) return;
    testsupport::Emulator second;
    ASSERT_FALSE(second.device().empty());
    ConsultarSAT(1);
    ASSERT_EQ(set("SERIAL", second.device()), "OK");
    ConsultarSAT(2);
    EXPECT_EQ(emu->frames().size(), 1u);
    ASSERT_EQ(second.frames().size(), 1u);
    EXPECT_EQ(second.frames()[0], "|05|000002|\x03");
    // A path without "/dev/" gets it: pts/N names the same node.
    ASSERT_EQ(set("SERIAL", emu->device().substr(5)), "OK");
    ConsultarSAT(3);
    EXPECT_EQ(emu->frames().size(), 2u);
}

} // namespace
