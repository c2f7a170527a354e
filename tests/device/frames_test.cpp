// What goes over the line for each single-exchange SAT function, and what comes back.
#include "device_fixture.h"

#include <cstring>
#include <functional>

namespace {

struct FrameCase {
    const char* name;
    std::function<char*()> call;
    const char* frame; // without the "|\x03" that ends every frame
    const char* family;
};

std::vector<FrameCase> frame_cases() {
    static char ac[] = "12345678";
    return {
        {"AtivarSAT", [] { return AtivarSAT(1, 1, ac, text("47291583000110"), 35); },
         "|01|000001|1|12345678|47291583000110|35", "04"},
        {"AtivarSAT_cUF5", [] { return AtivarSAT(2, 2, ac, text("47291583000110"), 5); },
         "|01|000002|2|12345678|47291583000110| 5", "04"},
        {"ComunicarCertificadoICPBRASIL",
         [] { return ComunicarCertificadoICPBRASIL(3, ac, text("CERTIFICADO")); },
         "|02|000003|12345678|CERTIFICADO", "05"},
        {"ConsultarSAT", [] { return ConsultarSAT(123); }, "|05|000123", "08"},
        {"TesteFimAFim", [] { return TesteFimAFim(6, ac, text("<CFe/>")); },
         "|06|000006|12345678|<CFe/>", "09"},
        {"ConfigurarInterfaceDeRede",
         [] { return ConfigurarInterfaceDeRede(9, ac, text("<config/>")); },
         "|09|000009|12345678|<config/>", "12"},
        {"AssociarAssinatura",
         [] {
             return AssociarAssinatura(10, ac, text("0831749200015547291583000110"), text("sig"));
         },
         "|10|000010|12345678|0831749200015547291583000110|sig", "13"},
        {"AtualizarSoftwareSAT", [] { return AtualizarSoftwareSAT(11, ac); }, "|11|000011|12345678",
         "14"},
        {"ExtrairLogs", [] { return ExtrairLogs(7, ac); }, "|12|000007|12345678|3.0.0.3_x86", "15"},
        {"BloquearSAT", [] { return BloquearSAT(13, ac); }, "|13|000013|12345678", "16"},
        {"DesbloquearSAT", [] { return DesbloquearSAT(14, ac); }, "|14|000014|12345678", "17"},
        {"TrocarCodigoDeAtivacao",
         [] { return TrocarCodigoDeAtivacao(15, ac, 1, text("11112222"), text("11112222")); },
         "|15|000015|12345678|1|11112222|11112222", "18"},
    };
}

TEST_F(DeviceTest, EverySingleExchangeFunctionFramesAndAnswers) {
    start();
    if (HasFatalFailure()) return;
    for (const FrameCase& c : frame_cases()) {
        SCOPED_TRACE(c.name);
        emu->control("reset-frames");
        std::string answer = c.call();
        EXPECT_EQ(last_frame(), std::string(c.frame) + "|\x03");
        // The device's answer: the session number of the call, then its family's code.
        std::string session = std::string(c.frame).substr(4, std::string(c.frame).find('|', 4) - 4);
        EXPECT_EQ(answer.substr(0, session.size() + 3), session + "|" + c.family) << answer;
        EXPECT_EQ(answer.find("SAT em processamento"), std::string::npos) << answer;
    }
}

// Seven digits go out in full; the answer is matched on its first six characters,
// as the device writes session numbers, so it is never taken.
TEST_F(DeviceTest, SessionNumberAboveSixDigits) {
    start();
    if (HasFatalFailure()) return;
    T_Cons[1] = 1;
    EXPECT_EQ(std::string(ConsultarSAT(1234567)), busy(1234567, "08098"));
    EXPECT_EQ(last_frame(), "|05|1234567|\x03");
}

TEST_F(DeviceTest, NullTextsAreSentEmpty) {
    start();
    if (HasFatalFailure()) return;
    AssociarAssinatura(21, nullptr, nullptr, nullptr);
    EXPECT_EQ(last_frame(), "|10|000021||||\x03");
    AtivarSAT(22, 1, nullptr, nullptr, 35);
    EXPECT_EQ(last_frame(), "|01|000022|1|||35|\x03");
}

TEST_F(DeviceTest, AnswersArePassedOnUnchanged) {
    start();
    if (HasFatalFailure()) return;
    emu->fault("1*05:answer:{sessao}|08099|Erro desconhecido|0001|aviso|campo extra");
    char* first = ConsultarSAT(42);
    EXPECT_STREQ(first, "000042|08099|Erro desconhecido|0001|aviso|campo extra");
    char* second = ConsultarSAT(43);
    EXPECT_EQ(first, second) << "one response buffer";
    EXPECT_EQ(std::string(second).substr(0, 12), "000043|08000");
    EXPECT_EQ(second, BC.Dados);
}

TEST_F(DeviceTest, BusyAnswerForASilentDevice) {
    start();
    if (HasFatalFailure()) return;
    T_Cons[1] = 1;
    T_Logs[1] = 1;
    emu->fault("05:ignore");
    emu->fault("12:drop");
    EXPECT_EQ(std::string(ConsultarSAT(77)), busy(77, "08098"));
    EXPECT_EQ(std::string(ExtrairLogs(78, text("12345678"))), busy(78, "15098"));
    EXPECT_EQ(emu->frames().size(), 2u) << "each command was sent once";
    EXPECT_EQ(fdUSB, -1) << "closed after the exchange";
}

TEST_F(DeviceTest, BusyAnswersOfEveryFunctionForAMissingDevice) {
    ASSERT_EQ(set("SERIAL", "/dev/sat-missing-device"), "OK");
    ASSERT_EQ(set("LOCK", "false"), "OK");
    static char ac[] = "1";
    EXPECT_EQ(std::string(AtivarSAT(1, 1, ac, ac, 35)), busy(1, "04098"));
    EXPECT_EQ(std::string(ComunicarCertificadoICPBRASIL(2, ac, ac)), busy(2, "05098"));
    EXPECT_EQ(std::string(ConsultarSAT(5)), busy(5, "08098"));
    EXPECT_EQ(std::string(TesteFimAFim(6, ac, ac)), busy(6, "09098"));
    EXPECT_EQ(std::string(ConfigurarInterfaceDeRede(9, ac, ac)), busy(9, "12098"));
    EXPECT_EQ(std::string(AssociarAssinatura(10, ac, ac, ac)), busy(10, "13098"));
    EXPECT_EQ(std::string(AtualizarSoftwareSAT(11, ac)), busy(11, "14098"));
    EXPECT_EQ(std::string(ExtrairLogs(12, ac)), busy(12, "15098"));
    EXPECT_EQ(std::string(BloquearSAT(13, ac)), busy(13, "16098"));
    EXPECT_EQ(std::string(DesbloquearSAT(14, ac)), busy(14, "17098"));
    EXPECT_EQ(std::string(TrocarCodigoDeAtivacao(15, ac, 1, ac, ac)), busy(15, "18098"));
}

// A command larger than the usual 1.5 MiB buffer reaches the device whole; every
// byte written is drained to the device, none is flushed away.
TEST_F(DeviceTest, LargeCommandArrivesWhole) {
    start();
    if (HasFatalFailure()) return;
    T_Fim[0] = 1;
    std::string sale = "<CFe>" + std::string(1700000, 'a') + "</CFe>";
    TesteFimAFim(31, text("12345678"), sale.data());
    std::string frame = last_frame();
    EXPECT_EQ(frame.size(), std::strlen("|06|000031|12345678|") + sale.size() + 2);
    EXPECT_EQ(frame, "|06|000031|12345678|" + sale + "|\x03");
}

} // namespace
