// Each single-exchange function on the line, its busy answer, and what the
// device answers handed back unchanged.
#include "device_fixture.h"

#include <dirent.h>

#include <functional>

namespace {

char ac[] = "12345678";

struct Call {
    std::function<char*(int)> call;
    const char* frame; // after the session number, without the closing "|\x03"
    const char* code;  // command code in the frame
    int family;
};

const Call kCalls[] = {
    {[](int s) { return AtivarSAT(s, 1, ac, text("47291583000110"), 35); },
     "|1|12345678|47291583000110|35", "01", 4},
    {[](int s) { return AtivarSAT(s, 2, ac, text("47291583000110"), 5); },
     "|2|12345678|47291583000110| 5", "01", 4},
    {[](int s) { return ComunicarCertificadoICPBRASIL(s, ac, text("CERT")); }, "|12345678|CERT",
     "02", 5},
    {[](int s) { return ConsultarSAT(s); }, "", "05", 8},
    {[](int s) { return TesteFimAFim(s, ac, text("<CFe/>")); }, "|12345678|<CFe/>", "06", 9},
    {[](int s) { return ConfigurarInterfaceDeRede(s, ac, text("<config/>")); },
     "|12345678|<config/>", "09", 12},
    {[](int s) {
         return AssociarAssinatura(s, ac, text("0831749200015547291583000110"), text("x"));
     },
     "|12345678|0831749200015547291583000110|x", "10", 13},
    {[](int s) { return AtualizarSoftwareSAT(s, ac); }, "|12345678", "11", 14},
    {[](int s) { return ExtrairLogs(s, ac); }, "|12345678|3.0.0.3_x86", "12", 15},
    {[](int s) { return BloquearSAT(s, ac); }, "|12345678", "13", 16},
    {[](int s) { return DesbloquearSAT(s, ac); }, "|12345678", "14", 17},
    {[](int s) { return TrocarCodigoDeAtivacao(s, ac, 1, text("11112222"), text("11112222")); },
     "|12345678|1|11112222|11112222", "15", 18},
};

TEST_F(DeviceTest, FramesAndAnswersOfEverySingleExchangeFunction) {
    start();
    if (HasFatalFailure()) return;
    int session = 100;
    for (const Call& c : kCalls) {
        ++session;
        std::string answer = c.call(session);
        char head[16];
        std::snprintf(head, sizeof head, "|%s|%06d", c.code, session);
        EXPECT_EQ(last_frame(), head + std::string(c.frame) + "|\x03");
        std::snprintf(head, sizeof head, "%06d|%02d", session, c.family);
        EXPECT_EQ(answer.substr(0, 9), head) << answer;
        EXPECT_EQ(answer.find("processamento"), std::string::npos) << answer;
    }
}

TEST_F(DeviceTest, AnswersAreHandedBackUnchanged) {
    start();
    if (HasFatalFailure()) return;
    emu->fault("1*05:answer:{sessao}|08099|Erro desconhecido|0001|aviso|extra");
    char* first = ConsultarSAT(42);
    EXPECT_STREQ(first, "000042|08099|Erro desconhecido|0001|aviso|extra");
    char* second = ConsultarSAT(43);
    EXPECT_EQ(first, second) << "one response buffer";
    EXPECT_EQ(std::string(second).substr(0, 12), "000043|08000");
}

// A command above the 1.5 MiB buffer goes out whole, every byte drained.
TEST_F(DeviceTest, LargeCommandArrivesWhole) {
    start();
    if (HasFatalFailure()) return;
    std::string sale = "<CFe>" + std::string(1700000, 'a') + "</CFe>";
    TesteFimAFim(31, ac, sale.data());
    EXPECT_EQ(last_frame(), "|06|000031|12345678|" + sale + "|\x03");
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

// /dev/full opens but refuses every write: each failed send closes the device.
TEST_F(DeviceTest, FailedSendClosesTheDevice) {
    ASSERT_EQ(set("SERIAL", "/dev/full"), "OK");
    ASSERT_EQ(set("LOCK", "false"), "OK");
    ASSERT_EQ(set("NO_POPUP", "false"), "OK");
    testing::internal::CaptureStdout();
    EXPECT_EQ(std::string(ConsultarSAT(1)), busy(1, "08098"));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "EnviaparaSat: (TX) Perda de comunicação com o SAT.\n");
    int before = open_descriptors();
    set("NO_POPUP", "true");
    for (int i = 0; i < 50; ++i)
        ConsultarSAT(i);
    EXPECT_EQ(open_descriptors(), before);
}

// Without SetDriver the first call starts the library inside its send: its
// deadline comes from the built-in pair, the file's pair applies from the next.
TEST_F(DeviceTest, FirstExchangeUsesTheBuiltInDeadline) {
    emu = std::make_unique<testsupport::Emulator>();
    ASSERT_TRUE(testsupport::write_file(halvex + "/sat.ini",
                                        "[TIMEOUT]\nT_CONSULTAR_SAT=00:01\n[DEFAULT]\nDEBUG=true\n"
                                        "SERIAL=" +
                                            emu->device() + "\n"));
    emu->fault("1*05:delay:2500");
    EXPECT_EQ(std::string(ConsultarSAT(1)).substr(0, 12), "000001|08000"); // within 4 s
    emu->fault("1*05:delay:3500");
    EXPECT_EQ(std::string(ConsultarSAT(2)), busy(2, "08098")); // not within 1 s
    std::string log = testsupport::read_file(halvex + "/lib_torvane_halvex.log");
    for (const char* line :
         {": ConsultarSAT: 000002\n", ": EnviarParaSat: inicio do envio ...\n",
          ": EnviarParaSat: final do envio. \n", ": RecebeDoSat: inicio da recepção ...\n",
          ": Erro ao receber dados do SAT \n", ": RecebeDoSat: final da recepção. \n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(log.find(": ConsultarSAT: 000001\n"), std::string::npos) << "logging began later";
}

} // namespace
