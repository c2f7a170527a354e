// Sale and cancellation with retransmission, the status query and the two session
// queries, against satemu. The emulator's frames show exactly what the library
// sent; its device state shows how many fiscal documents were issued.
//
// Settings: N_TENT per test, TMP_TENT=03 and deadlines of two seconds, so a lost
// answer costs about two seconds and every further attempt three more.
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "emulator.h"
#include "fields.h"
#include "sandbox.h"
#include "sat.h"

extern "C" int init_lib(void);

namespace {

using testsupport::Emulator;

constexpr const char* kCode = "12345678"; // activation code of the emulator's active preset
// The emulator's line behind a symbolic link, in a private /dev/shm, so the library
// finds it again when the emulator hangs up and opens a new line.
constexpr const char* kLine = "/dev/shm/satline";
constexpr const char* kSaleBusy = "000042|06098|0000|SAT em processamento. Tente novamente.||";
constexpr const char* kCancelBusy = "000042|07098|0000|SAT em processamento. Tente novamente.||";

// A sale that the active preset issues (one item).
std::string sale_document(const std::string& extra_info = "Obrigado") {
    return "<CFe><infCFe versaoDadosEnt=\"0.07\"><ide><CNPJ>08317492000155</CNPJ><signAC>"
           "mNUR/sFFp91Ri8/e5lljvD4FdKLRTg93f6RS26GjJrpn/Ob3++y3yYHVtq9PZTQ0+tgqE7FEImOsp1qGAHv8"
           "BbujOvgv/vqWROyDg+ODwIsy2ku2vPylhqrzEjJ6EYzSxhfmvrDnHm0aTHhmcWG7LATWByaRBg3AzEYzHnlT43"
           "cZWx26Du/i7tAkqg3o0huYIwJxcaHC9DokaT3QY8CeVn0c9i9+PV+LMQI2dWKay8iwbY5sPZ6E+sPBlr0jH+UP"
           "kTZhiLwACqyu/"
           "2YBhHaUgXJhXgCyUehf7ONUTI+JgFTBw4mIW3pwm3keg8uox5TJJ2wOhvmGoeGJe8Rrz9U1HA=="
           "</signAC><numeroCaixa>001</numeroCaixa></ide><emit><CNPJ>47291583000110</CNPJ>"
           "<IE>111222333444</IE><indRatISSQN>N</indRatISSQN></emit><dest/><det nItem=\"1\"><prod>"
           "<cProd>1</cProd><xProd>Cafe</xProd><NCM>09012100</NCM><CFOP>5102</CFOP><uCom>UN</uCom>"
           "<qCom>1.0000</qCom><vUnCom>10.00</vUnCom><indRegra>A</indRegra></prod><imposto><ICMS>"
           "<ICMS40><Orig>0</Orig><CST>40</CST></ICMS40></ICMS></imposto></det><total/><pgto><MP>"
           "<cMP>01</cMP><vMP>10.00</vMP></MP></pgto><infAdic><infCpl>" +
           extra_info + "</infCpl></infAdic></infCFe></CFe>";
}

std::vector<std::string> split(const std::string& text) { return testsupport::split_fields(text); }

std::string field(const std::string& text, size_t i) {
    auto f = split(text);
    return i < f.size() ? f[i] : std::string();
}

class Retry : public ::testing::Test {
  protected:
    void SetUp() override {
        SAT_ENTER_SANDBOX(halvex);
        halvex_ = halvex;
        const std::string shm = halvex + "/shm";
        ASSERT_TRUE(mkdir(shm.c_str(), 0755) == 0 || errno == EEXIST);
        if (mount(shm.c_str(), "/dev/shm", nullptr, MS_BIND, nullptr) != 0)
            GTEST_SKIP() << "cannot lay a private /dev/shm: " << std::strerror(errno);
    }

    // Starts the emulator and writes sat.ini. With `read_now` the settings are read
    // before the first call, as after an earlier call of the process.
    void start(int n_tent, const std::string& more_default = "",
               std::vector<std::string> emu_args = {}, bool read_now = true) {
        std::vector<std::string> args = {"--preset", "active", "--link", kLine};
        args.insert(args.end(), emu_args.begin(), emu_args.end());
        emu_ = std::make_unique<Emulator>(args);
        ASSERT_FALSE(emu_->device().empty());
        write_ini(kLine, n_tent, more_default);
        if (read_now) init_lib();
    }

    void write_ini(const std::string& serial, int n_tent, const std::string& more_default) {
        // The first of two equal keys counts: the test's own lines come first.
        const std::string ini = "[DEFAULT]\n" + more_default + "DEBUG=true\nSERIAL=" + serial +
                                "\nNO_POPUP=true\nN_TENT=" + std::to_string(n_tent) +
                                "\nTMP_TENT=03\n" +
                                "[TIMEOUT]\n"
                                "T_ENVIAR_DADOS_VENDA=00:02\n"
                                "T_CANCELAR_ULTIMA_VENDA=00:02\n"
                                "T_CONSULTAR_SAT=00:02\n"
                                "T_CONSULTAR_STATUS_OPERACIONAL=00:02\n"
                                "T_CONSULTAR_NUMERO_SESSAO=00:02\n"
                                "T_CONSULTAR_ULTIMA_SESSAO_FISCAL=00:02\n";
        ASSERT_TRUE(testsupport::write_file(halvex_ + "/sat.ini", ini));
    }

    // Frames the library sent with this command code ("03") and session, in order.
    int count(const std::string& code, int session = 42) {
        char head[32];
        std::snprintf(head, sizeof head, "|%s|%06d", code.c_str(), session);
        int n = 0;
        for (const auto& f : emu_->frames())
            if (f.rfind(head, 0) == 0) ++n;
        return n;
    }
    // Command codes of every frame, in order: "03 08 03".
    std::string codes() {
        std::string out;
        for (const auto& f : emu_->frames())
            out += (out.empty() ? "" : " ") + f.substr(1, 2);
        return out;
    }
    // Number of fiscal documents the device has issued.
    long issued() {
        const std::string s = emu_->control("state");
        const auto at = s.find("counter=");
        return at == std::string::npos ? -1 : std::atol(s.c_str() + at + 8);
    }
    // Runs `then` on another thread as soon as the first frame with `code` has come.
    std::thread after_first(const std::string& code, std::function<void()> then) {
        return std::thread([this, code, then] {
            for (int i = 0; i < 500 && count(code) < 1; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            then();
        });
    }
    std::string log() { return testsupport::read_file(halvex_ + "/lib_torvane_halvex.log"); }

    std::string sell(int session = 42, std::string doc = sale_document()) {
        return EnviarDadosVenda(session, const_cast<char*>(kCode), doc.data());
    }
    std::string cancel(const std::string& key, int session = 42) {
        std::string doc = "<CFeCanc><infCFe chCanc=\"" + key +
                          "\"><ide><CNPJ>08317492000155</CNPJ><signAC>x</signAC>"
                          "<numeroCaixa>001</numeroCaixa></ide><emit/><dest/><total/></infCFe>"
                          "</CFeCanc>";
        return CancelarUltimaVenda(session, const_cast<char*>(kCode),
                                   const_cast<char*>(key.c_str()), doc.data());
    }

    std::string halvex_;
    std::unique_ptr<Emulator> emu_;
};

// ---- Sale: one row of the attempt loop's state table after another ----

TEST_F(Retry, SaleAnsweredAtOnceIsSentOnce) {
    start(3);
    const std::string r = sell();
    EXPECT_EQ(field(r, 0), "000042");
    EXPECT_EQ(field(r, 1), "06000");
    EXPECT_EQ(split(r).size(), 12u) << r; // a sale answer is never repaired
    EXPECT_EQ(codes(), "03");
    EXPECT_EQ(issued(), 1);
    EXPECT_NE(log().find("EnviarDadosVenda -> cod_ret: 06000"), std::string::npos);
}

// The answer never reached the library although the device issued the receipt
// (lost, too late for the deadline, or cut by a pulled cable): the session query
// finds the stored answer and the sale is not sent again.
class LostAnswer : public Retry, public ::testing::WithParamInterface<const char*> {};

TEST_P(LostAnswer, IsFoundThroughSessionQuery) {
    start(3, "NO_POPUP=false\n");
    emu_->fault(GetParam());
    testing::internal::CaptureStdout();
    const std::string r = sell();
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(field(r, 0), "000042");
    EXPECT_EQ(field(r, 1), "06000") << r;
    EXPECT_EQ(split(r).size(), 12u);
    EXPECT_EQ(codes(), "03 08");
    EXPECT_EQ(emu_->frames().at(1), std::string("|08|000042|12345678|000042|\x03"));
    EXPECT_EQ(issued(), 1);
    EXPECT_NE(log().find("Cupom ja foi gerado. Sessao: 000042|06"), std::string::npos);
    EXPECT_NE(out.find("EnviarDadosVenda -> Tentativa: 2\n"), std::string::npos);
    EXPECT_NE(out.find("chr_numsessao: 000042|06\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Faults, LostAnswer,
                         ::testing::Values("1*03:drop", "1*03:delay:3500", "1*03:hangup"));

// The device never got the sale: the session query says so and the sale is resent
// in the same attempt.
TEST_F(Retry, SaleNeverReceivedIsSentAgain) {
    start(3);
    emu_->fault("1*03:ignore");
    const std::string r = sell();
    EXPECT_EQ(field(r, 1), "06000") << r;
    EXPECT_EQ(codes(), "03 08 03");
    EXPECT_EQ(issued(), 1);
    const std::string l = log();
    EXPECT_NE(l.find("ConsultarNumeroSessao -> cod_ret: 11003"), std::string::npos);
    EXPECT_NE(l.find("Retransmissao -> EnviarDadosVenda: 000042|12345678|<CFe>"),
              std::string::npos);
}

TEST_F(Retry, DeviceBusyIsResentDirectly) {
    start(3);
    emu_->fault("2*03:busy");
    const std::string r = sell();
    EXPECT_EQ(field(r, 1), "06000") << r;
    EXPECT_EQ(codes(), "03 03 03"); // no session query
    EXPECT_EQ(issued(), 1);
    const std::string l = log();
    EXPECT_NE(l.find("EnviarDadosVendas: possivel processo de atualizacao"), std::string::npos);
    EXPECT_NE(l.find("Retransmissao -> EnviarDadosVenda: "), std::string::npos);
}

// Once the device said busy, a failed send keeps the direct resend going.
TEST_F(Retry, DirectResendSurvivesDeviceMissing) {
    start(3);
    emu_->fault("1*03:busy");
    // While the library pauses after the busy answer, the line disappears for one attempt.
    std::thread unplug = after_first("03", [] {
        std::rename(kLine, "/dev/shm/unplugged");
        std::this_thread::sleep_for(std::chrono::milliseconds(4500));
        std::rename("/dev/shm/unplugged", kLine);
    });
    const std::string r = sell();
    unplug.join();
    EXPECT_EQ(field(r, 1), "06000") << r;
    EXPECT_EQ(codes(), "03 03");
    EXPECT_EQ(issued(), 1);
}

// After the device said busy, a resent sale whose answer is lost may have been
// issued: the next attempt asks for the stored answer instead of sending a third time.
TEST_F(Retry, LostAnswerOfDirectResendIsNotSentAgain) {
    start(3);
    emu_->fault("1*03:busy");
    std::thread arm = after_first("03", [this] { emu_->fault("1*03:drop"); });
    const std::string r = sell();
    arm.join();
    EXPECT_EQ(field(r, 1), "06000") << r;
    EXPECT_EQ(codes(), "03 03 08");
    EXPECT_EQ(issued(), 1);
}

TEST_F(Retry, DeviceBusyToTheEndReturnsItsBusyAnswer) {
    start(2);
    emu_->fault("03:answer:{sessao}|06098|0000|Ocupado|||");
    const std::string r = sell();
    EXPECT_EQ(r, "000042|06098|0000|Ocupado|||");
    EXPECT_EQ(codes(), "03 03");
}

TEST_F(Retry, SessionQueryBusyOnLastAttemptIsTheResult) {
    start(2);
    emu_->fault("1*03:drop");
    emu_->fault("08:answer:{sessao}|11098|SAT em processamento. Tente novamente.||");
    const std::string r = sell();
    EXPECT_EQ(r, "000042|11098|SAT em processamento. Tente novamente.||");
    EXPECT_EQ(codes(), "03 08");
    EXPECT_NE(log().find("ConsultarNumeroSessao: possivel processo de atualizacao"),
              std::string::npos);
}

// A session-query answer that belongs to another family or session leads to a resend.
TEST_F(Retry, StoredAnswerOfOtherFamilyLeadsToResend) {
    start(2);
    emu_->fault("1*03:ignore");
    emu_->fault("1*08:answer:{sessao}|07000|0000|Cupom cancelado|||");
    const std::string r = sell();
    EXPECT_EQ(field(r, 1), "06000") << r;
    EXPECT_EQ(codes(), "03 08 03");
    EXPECT_EQ(issued(), 1);
}

// Attempts exhausted with nothing answered: the sale went out once, then only queries.
TEST_F(Retry, DeviceSilentReturnsLibraryBusyAnswer) {
    start(3);
    emu_->fault("all:ignore");
    const std::string r = sell();
    EXPECT_EQ(r, kSaleBusy);
    EXPECT_EQ(codes(), "03 08 08");
    EXPECT_EQ(issued(), 0);
}

// One attempt: the busy answer at once, without a session query.
TEST_F(Retry, SingleAttemptFailsAtOnce) {
    start(1);
    emu_->fault("all:ignore");
    EXPECT_EQ(sell(), kSaleBusy);
    EXPECT_EQ(cancel("CFe1"), kCancelBusy);
    EXPECT_EQ(codes(), "03 04");
    write_ini("/dev/shm/nenhum", 1, ""); // no device at all
    init_lib();
    EXPECT_EQ(sell(), kSaleBusy);
    EXPECT_EQ(cancel("CFe1"), kCancelBusy);
}

// ---- Correction of the sale document ----

TEST_F(Retry, CorrectedDocumentIsSentAndLeftInCallersBuffer) {
    start(2, "CORRECAO=true\n");
    emu_->fault("1*03:busy");
    std::string doc = sale_document("Caf&#xE9; &#x41;&#x27;");
    const std::string r = EnviarDadosVenda(42, const_cast<char*>(kCode), doc.data());
    EXPECT_EQ(field(r, 1), "06000") << r;
    const std::string corrected = sale_document("Caf&#xE9;      A     `");
    EXPECT_EQ(std::string(doc.c_str()), corrected);
    const auto frames = emu_->frames();
    ASSERT_EQ(frames.size(), 2u);
    for (const auto& f : frames) // every attempt sends the corrected text
        EXPECT_EQ(f, "|03|000042|12345678|" + corrected + "|\x03");
}

// The first call of a process corrects nothing (the settings are read inside its
// first send) while N_TENT and TMP_TENT from the file already govern its attempts.
TEST_F(Retry, FirstCallOfProcessSendsUncorrected) {
    start(2, "CORRECAO=true\n", {}, false);
    emu_->fault("1*03:busy");
    std::string doc = sale_document("&#x41;");
    const std::string original = doc;
    const std::string r = EnviarDadosVenda(42, const_cast<char*>(kCode), doc.data());
    EXPECT_EQ(field(r, 1), "06000") << r;
    EXPECT_EQ(std::string(doc.c_str()), original);
    EXPECT_EQ(count("03"), 2); // the second attempt exists only with N_TENT=2
    for (const auto& f : emu_->frames())
        EXPECT_NE(f.find("&#x41;"), std::string::npos);
}

// ---- The call lock covers every attempt and pause ----

TEST_F(Retry, OtherCallsWaitForTheWholeRetry) {
    start(3);
    emu_->fault("2*03:busy");
    std::string other;
    std::thread second = after_first("03", [&other] { other = ConsultarSAT(7); });
    const std::string r = sell();
    second.join();
    EXPECT_EQ(field(r, 1), "06000");
    EXPECT_EQ(field(other, 1), "08000");
    EXPECT_EQ(codes(), "03 03 03 05");
}

// ---- Cancellation ----

TEST_F(Retry, CancellationOfIssuedSaleGainsTwelfthField) {
    start(2);
    const std::string sale = sell(41);
    ASSERT_EQ(field(sale, 1), "06000") << sale;
    const std::string key = field(sale, 8);
    const std::string r = cancel(key);
    EXPECT_EQ(field(r, 1), "07000") << r;
    auto f = split(r);
    ASSERT_EQ(f.size(), 12u) << r;
    EXPECT_EQ(f[10], ""); // the inserted field
    EXPECT_FALSE(f[11].empty());
    EXPECT_EQ(issued(), 2);
    EXPECT_NE(log().find("CancelarUltimaVenda -> cod_ret: 07000"), std::string::npos);
}

TEST_F(Retry, CancellationAnswersRepairedOnlyWithTenSeparators) {
    const struct {
        const char* device;
        const char* result;
    } cases[] = {
        {"000042|07000|0000|ok|||b64|20261206|CFe1|10.00|qr",
         "000042|07000|0000|ok|||b64|20261206|CFe1|10.00||qr"},
        {"000042|07000|0000|ok|||b64|20261206|CFe1|10.00||qr",
         "000042|07000|0000|ok|||b64|20261206|CFe1|10.00||qr"},
        {"000042|07002|0000|Cupom invalido||", "000042|07002|0000|Cupom invalido||"},
    };
    start(1);
    for (const auto& c : cases) {
        emu_->clear_faults();
        emu_->fault(std::string("04:answer:") + c.device);
        EXPECT_EQ(cancel("CFe1"), c.result);
    }
}

TEST_F(Retry, CancellationFoundThroughSessionCheckIsNotRepaired) {
    start(3);
    // The device stores this answer, then the answer is lost on the way.
    emu_->fault("1*04:answer:{sessao}|07000|0000|ok|||b64|20261206|CFe1|10.00|qr");
    emu_->fault("1*04:drop");
    const std::string r = cancel("CFe1");
    EXPECT_EQ(r, "000042|07000|0000|ok|||b64|20261206|CFe1|10.00|qr");
    EXPECT_EQ(codes(), "04 08");
    EXPECT_NE(log().find("Cupom ja foi gerado. Sessao: 000042|07"), std::string::npos);
}

TEST_F(Retry, CancellationResentAfterBusyIsRepaired) {
    start(3);
    emu_->fault("1*04:busy");
    emu_->fault("04:answer:{sessao}|07000|0000|ok|||b64|20261206|CFe1|10.00|qr");
    const std::string r = cancel("CFe1");
    EXPECT_EQ(r, "000042|07000|0000|ok|||b64|20261206|CFe1|10.00||qr");
    EXPECT_EQ(codes(), "04 04");
    const std::string l = log();
    EXPECT_NE(l.find("CancelarUltimaVenda: possivel processo de atualizacao"), std::string::npos);
    EXPECT_NE(l.find("CancelaUltimaVenda -> cod_ret: 07000"), std::string::npos);
}

TEST_F(Retry, CancellationResentAfterSessionCheckIsRepaired) {
    start(3);
    emu_->fault("1*04:ignore");
    emu_->fault("04:answer:{sessao}|07000|0000|ok|||b64|20261206|CFe1|10.00|qr");
    const std::string r = cancel("CFe1");
    EXPECT_EQ(r, "000042|07000|0000|ok|||b64|20261206|CFe1|10.00||qr");
    EXPECT_EQ(codes(), "04 08 04");
}

TEST_F(Retry, CancellationBusyToTheEndIsNotRepaired) {
    start(2);
    emu_->fault("04:answer:{sessao}|07098|0000|ocupado|||b64|2026|CFe1|10.00|qr");
    EXPECT_EQ(cancel("CFe1"), "000042|07098|0000|ocupado|||b64|2026|CFe1|10.00|qr");
    EXPECT_EQ(codes(), "04 04");
}

TEST_F(Retry, CancellationDeviceSilentReturnsLibraryBusyAnswer) {
    start(2);
    emu_->fault("all:ignore");
    EXPECT_EQ(cancel("CFe1"), kCancelBusy);
    EXPECT_EQ(codes(), "04 08");
}

// ---- Status query ----

TEST_F(Retry, StatusSubstitutionOnlyWhenSwitchedOn) {
    for (bool on : {false, true}) {
        SCOPED_TRACE(on ? "RET_10001=true" : "RET_10001=false");
        emu_.reset();
        start(1, on ? "RET_10001=true\n" : "", {"--status-wrong-code", "10099"});
        char wrong[] = "00000000";
        const std::string r = ConsultarStatusOperacional(123, wrong);
        if (on)
            EXPECT_EQ(r, "000123|10001|Codigo de ativacao invalido||");
        else
            EXPECT_EQ(field(r, 1), "10099") << r;
        // Other answers pass unchanged either way.
        const std::string ok = ConsultarStatusOperacional(124, const_cast<char*>(kCode));
        EXPECT_EQ(field(ok, 1), "10000");
        EXPECT_EQ(split(ok).size(), 28u);
    }
}

TEST_F(Retry, StatusBusyAnswerIsNeverSubstituted) {
    write_ini("/dev/shm/nenhum", 1, "RET_10001=true\n");
    init_lib();
    char code[] = "12345678";
    EXPECT_EQ(std::string(ConsultarStatusOperacional(123, code)),
              "000123|10098|SAT em processamento. Tente novamente.||");
}

// ---- Session queries ----

TEST_F(Retry, SessionQueryAsksForTheGivenSession) {
    start(3);
    const std::string r = ConsultarNumeroSessao(123, const_cast<char*>(kCode), 5);
    EXPECT_EQ(field(r, 1), "11003"); // an error answer ends the loop
    ASSERT_EQ(emu_->frames().size(), 1u);
    EXPECT_EQ(emu_->frames()[0], std::string("|08|000123|12345678|000005|\x03"));
}

TEST_F(Retry, SessionQueryRetriesWhileBusy) {
    start(3);
    ASSERT_EQ(field(sell(77), 1), "06000");
    emu_->fault("1*08:busy");
    const std::string r = ConsultarNumeroSessao(123, const_cast<char*>(kCode), 77);
    EXPECT_EQ(field(r, 0), "000077") << r;
    EXPECT_EQ(field(r, 1), "06000");
    EXPECT_EQ(count("08", 123), 2);
}

TEST_F(Retry, SessionQueryBusyEveryTime) {
    start(3);
    emu_->fault("08:answer:{sessao}|11098|ocupado||");
    EXPECT_EQ(std::string(ConsultarNumeroSessao(123, const_cast<char*>(kCode), 5)),
              "000123|11098|ocupado||");
    EXPECT_EQ(count("08", 123), 3);
    EXPECT_NE(log().find("ConsultarUltimaSessao -> cod_ret: 11098"), std::string::npos);
}

TEST_F(Retry, SessionQueryRetriesAfterFailedExchange) {
    start(2);
    emu_->fault("1*08:ignore");
    const std::string r = ConsultarNumeroSessao(123, const_cast<char*>(kCode), 5);
    EXPECT_EQ(field(r, 1), "11003") << r;
    EXPECT_EQ(count("08", 123), 2);
}

TEST_F(Retry, LastFiscalSessionSingleAttemptWithoutAnswer) {
    start(1);
    emu_->fault("20:ignore");
    EXPECT_EQ(std::string(ConsultarUltimaSessaoFiscal(42, const_cast<char*>(kCode))),
              "000042|19098|SAT em processamento. Tente novamente.||");
    EXPECT_EQ(codes(), "20");
}

TEST_F(Retry, LastFiscalSessionRetriesWhileBusy) {
    start(3);
    ASSERT_EQ(field(sell(77), 1), "06000");
    emu_->fault("2*20:busy");
    const std::string r = ConsultarUltimaSessaoFiscal(42, const_cast<char*>(kCode));
    EXPECT_EQ(field(r, 0), "000077") << r; // the stored answer of the sale
    EXPECT_EQ(field(r, 1), "06000");
    EXPECT_EQ(count("20"), 3);
    EXPECT_NE(log().find("ConsultarUltimaSessaoFiscal -> cod_ret: 06000"), std::string::npos);
}

TEST_F(Retry, LastFiscalSessionBusyToTheEnd) {
    start(2);
    emu_->fault("20:busy");
    const std::string r = ConsultarUltimaSessaoFiscal(42, const_cast<char*>(kCode));
    EXPECT_EQ(field(r, 1), "19098") << r;
    EXPECT_EQ(count("20"), 2);
    EXPECT_NE(log().find("ConsultarUltimaSessaoFiscal: possivel processo de atualizacao"),
              std::string::npos);
}

} // namespace
