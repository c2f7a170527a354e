// Sale and cancellation with retransmission, the status query and the two session
// queries, against satemu: its frames show what the library sent, its state how
// many documents were issued. N_TENT per test, TMP_TENT=03, deadlines of 2 s.
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

std::vector<std::string> split(const std::string& text) {
    return testsupport::split_fields(text);
}

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
    start(2, "", {"--cancel-answer-fields", "11"}); // the older firmware's answer
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

// ---- The attempt loops of the sale, the cancellation and the two session queries ----

enum class Call { Sale, Cancel, SessionQuery, LastFiscal };

struct Row {
    const char* name;
    int n_tent;
    std::vector<const char*> faults;
    Call call;
    const char* result; // the whole answer, or its first two fields (12 characters)
    const char* codes;  // command codes of every frame sent, in order
    int issued;         // fiscal documents the device issued; -1: not checked
    std::vector<const char*> logs = {};
    int sold = 0; // session of a sale made before the faults
};
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

#define BUSY "SAT em processamento. Tente novamente.||"
#define STORED "{sessao}|07000|0000|ok|||b64|20261206|CFe1|10.00|qr"
constexpr const char* kOk = "000042|06000";
constexpr const char* kRepaired = "000042|07000|0000|ok|||b64|20261206|CFe1|10.00||qr";

// clang-format off
const Row kRows[] = {
    {"SaleAnsweredAtOnce", 3, {}, Call::Sale, kOk, "03", 1, {"EnviarDadosVenda -> cod_ret: 06000"}},
    // The device never got the sale: the session query says so, resent in the same attempt.
    {"SaleNeverReceived", 3, {"1*03:ignore"}, Call::Sale, kOk, "03 08 03", 1,
     {"ConsultarNumeroSessao -> cod_ret: 11003",
      "Retransmissao -> EnviarDadosVenda: 000042|12345678|<CFe>"}},
    {"SaleDeviceBusyResentDirectly", 3, {"2*03:busy"}, Call::Sale, kOk, "03 03 03", 1,
     {"EnviarDadosVendas: possivel processo de atualizacao",
      "Retransmissao -> EnviarDadosVenda: "}},
    {"SaleDeviceBusyToTheEnd", 2, {"03:answer:{sessao}|06098|0000|Ocupado|||"}, Call::Sale,
     "000042|06098|0000|Ocupado|||", "03 03", -1},
    {"SaleSessionQueryBusyOnLastAttempt", 2, {"1*03:drop", "08:answer:{sessao}|11098|" BUSY},
     Call::Sale, "000042|11098|" BUSY, "03 08", -1,
     {"ConsultarNumeroSessao: possivel processo de atualizacao"}},
    // A stored answer of another family leads to a resend.
    {"SaleStoredAnswerOfOtherFamily", 2, {"1*03:ignore",
     "1*08:answer:{sessao}|07000|0000|Cupom cancelado|||"}, Call::Sale, kOk, "03 08 03", 1},
    // Nothing answered: the sale went out once, then only queries.
    {"SaleDeviceSilent", 3, {"all:ignore"}, Call::Sale, kSaleBusy, "03 08 08", 0},
    {"SaleSingleAttempt", 1, {"all:ignore"}, Call::Sale, kSaleBusy, "03", 0},
    // An answer obtained through the session check is never repaired.
    {"CancelFoundThroughSessionCheck", 3, {"1*04:answer:" STORED, "1*04:drop"}, Call::Cancel,
     "000042|07000|0000|ok|||b64|20261206|CFe1|10.00|qr", "04 08", -1,
     {"Cupom ja foi gerado. Sessao: 000042|07"}},
    {"CancelResentAfterBusy", 3, {"1*04:busy", "04:answer:" STORED}, Call::Cancel, kRepaired,
     "04 04", -1, {"CancelarUltimaVenda: possivel processo de atualizacao",
                   "CancelaUltimaVenda -> cod_ret: 07000"}},
    {"CancelResentAfterSessionCheck", 3, {"1*04:ignore", "04:answer:" STORED}, Call::Cancel,
     kRepaired, "04 08 04", -1},
    {"CancelBusyToTheEnd", 2, {"04:answer:{sessao}|07098|0000|ocupado|||b64|2026|CFe1|10.00|qr"},
     Call::Cancel, "000042|07098|0000|ocupado|||b64|2026|CFe1|10.00|qr", "04 04", -1},
    // Only an answer with exactly ten separators gains the empty field.
    {"CancelTenSeparators", 1, {"04:answer:" STORED}, Call::Cancel, kRepaired, "04", -1},
    {"CancelElevenSeparators", 1,
     {"04:answer:{sessao}|07000|0000|ok|||b64|20261206|CFe1|10.00||qr"}, Call::Cancel, kRepaired,
     "04", -1},
    {"CancelFewerSeparators", 1, {"04:answer:{sessao}|07002|0000|Cupom invalido||"}, Call::Cancel,
     "000042|07002|0000|Cupom invalido||", "04", -1},
    {"CancelDeviceSilent", 2, {"all:ignore"}, Call::Cancel, kCancelBusy, "04 08", -1},
    {"CancelSingleAttempt", 1, {"all:ignore"}, Call::Cancel, kCancelBusy, "04", -1},
    // ConsultarNumeroSessao(123, ..., 5 or the sale's session): an error answer ends the loop.
    {"SessionQueryErrorAnswer", 3, {}, Call::SessionQuery, "000123|11003", "08", -1},
    {"SessionQueryRetriesWhileBusy", 3, {"1*08:busy"}, Call::SessionQuery, "000077|06000",
     "03 08 08", -1, {}, 77},
    {"SessionQueryBusyEveryTime", 3, {"08:answer:{sessao}|11098|ocupado||"}, Call::SessionQuery,
     "000123|11098|ocupado||", "08 08 08", -1, {"ConsultarUltimaSessao -> cod_ret: 11098"}},
    {"SessionQueryRetriesAfterFailedExchange", 2, {"1*08:ignore"}, Call::SessionQuery,
     "000123|11003", "08 08", -1},
    {"LastFiscalSingleAttempt", 1, {"20:ignore"}, Call::LastFiscal,
     "000042|19098|" BUSY, "20", -1},
    // The stored answer of the sale.
    {"LastFiscalRetriesWhileBusy", 3, {"2*20:busy"}, Call::LastFiscal, "000077|06000",
     "03 20 20 20", -1, {"ConsultarUltimaSessaoFiscal -> cod_ret: 06000"}, 77},
    {"LastFiscalBusyToTheEnd", 2, {"20:busy"}, Call::LastFiscal, "000042|19098", "20 20", -1,
     {"ConsultarUltimaSessaoFiscal: possivel processo de atualizacao"}},
};
// clang-format on

class AttemptLoop : public Retry, public ::testing::WithParamInterface<Row> {};

TEST_P(AttemptLoop, Row) {
    const Row& row = GetParam();
    start(row.n_tent);
    if (row.sold) {
        ASSERT_EQ(field(sell(row.sold), 1), "06000");
    }
    for (const char* f : row.faults)
        emu_->fault(f);
    char* code = const_cast<char*>(kCode);
    std::string r;
    switch (row.call) {
    case Call::Sale:
        r = sell();
        break;
    case Call::Cancel:
        r = cancel("CFe1");
        break;
    case Call::SessionQuery:
        r = ConsultarNumeroSessao(123, code, row.sold ? row.sold : 5);
        break;
    case Call::LastFiscal:
        r = ConsultarUltimaSessaoFiscal(42, code);
        break;
    }
    const std::string want = row.result;
    if (want.size() == 12) {
        EXPECT_EQ(r.substr(0, 12), want) << r;
        if (row.call == Call::Sale) {
            EXPECT_EQ(split(r).size(), 12u) << r; // never repaired
        }
    } else {
        EXPECT_EQ(r, want);
    }
    EXPECT_EQ(codes(), row.codes);
    if (row.issued >= 0) {
        EXPECT_EQ(issued(), row.issued);
    }
    const std::string l = log();
    for (const char* line : row.logs)
        EXPECT_NE(l.find(line), std::string::npos) << line;
}

std::string row_name(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Rows, AttemptLoop, ::testing::ValuesIn(kRows), row_name);

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

} // namespace
