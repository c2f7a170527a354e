// Sale and cancellation with retransmission, the status query and the two session
// queries, against satemu: its frames show what the library sent, its state how
// many documents were issued. TMP_TENT=03, deadlines of 2 s.
#include <cstdio>
#include <thread>

#include "sat.h"
#include "satlib.h"

extern "C" int init_lib(void);

namespace {

using namespace testsupport;

constexpr const char* kSaleBusy = "000042|06098|0000|SAT em processamento. Tente novamente.||";
constexpr const char* kCancelBusy = "000042|07098|0000|SAT em processamento. Tente novamente.||";

std::string sell(int session = 42, std::string doc = sale_document()) {
    return EnviarDadosVenda(session, const_cast<char*>(kCode), doc.data());
}
std::string cancel(const std::string& key, int session = 42) {
    std::string doc = cancel_document(key);
    return CancelarUltimaVenda(session, const_cast<char*>(kCode), const_cast<char*>(key.c_str()),
                               doc.data());
}
using Retry = LibTest;

// The answer never reached the library although the device issued the receipt
// (lost, or too late for the deadline: waiting on the line before the query, or
// arriving with the query's answer, in one read or 0.2 s before it): the session
// query finds the stored answer, handed back once and alone, and the sale is not
// sent again.
class LostAnswer : public LibTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LostAnswer, IsFoundThroughSessionQuery) {
    start(3, "NO_POPUP=false\n");
    if (HasFatalFailure()) return;
    emu->fault(GetParam());
    testing::internal::CaptureStdout();
    const std::string r = sell();
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.substr(0, 12), "000042|06000") << r;
    EXPECT_EQ(split_fields(r).size(), 12u);
    EXPECT_EQ(emu->codes(), "03 08");
    EXPECT_EQ(emu->frames().at(1), std::string("|08|000042|12345678|000042|\x03"));
    EXPECT_EQ(emu->issued(), 1);
    for (const char* line : {"Cupom ja foi gerado. Sessao: 000042|06", "le_usb - bytes: "})
        EXPECT_NE(log().find(line), std::string::npos) << line;
    // A late answer already waiting is read off the line, and logged, before the query.
    EXPECT_EQ(log().find("EnviaParaSat: descartado antes do envio: ") != std::string::npos,
              std::string(GetParam()).find("delay") != std::string::npos);
    for (const char* line :
         {"EnviarDadosVenda -> Tentativa: 2\n", "chr_numsessao: 000042|06\n", "le_usb -> bytes: "})
        EXPECT_NE(out.find(line), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Faults, LostAnswer,
                         ::testing::Values("1*03:drop", "1*03:delay:3500", "1*03:hold:0",
                                           "1*03:hold:200"));

// After the device said busy, a resent sale whose answer is lost may have been
// issued: the next attempt asks for the stored answer instead of sending a third time.
TEST_F(Retry, LostAnswerOfDirectResendIsNotSentAgain) {
    start(3);
    if (HasFatalFailure()) return;
    emu->fault("1*03:busy");
    std::thread arm([this] { // the resend's answer is lost once the busy answer has gone out
        for (int i = 0; i < 500 && emu->codes().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        emu->fault("1*03:drop");
    });
    const std::string r = sell();
    arm.join();
    EXPECT_EQ(field(r, 1), "06000") << r;
    EXPECT_EQ(emu->codes(), "03 03 08");
    EXPECT_EQ(emu->issued(), 1);
}

// The attempt loops of the sale, the cancellation and the two session queries.

// The call of a row: the sale's key and session (0: no sale before) as it needs them.
using Call = std::string (*)(const std::string& key, int sold);
std::string Sale(const std::string&, int) {
    return sell();
}
std::string Cancel(const std::string& key, int) {
    return cancel(key);
}
std::string SessionQuery(const std::string&, int sold) {
    return ConsultarNumeroSessao(123, const_cast<char*>(kCode), sold ? sold : 5);
}
// A ConsultarSAT whose answer comes only after the query has been sent.
std::string SessionQueryAfterLateAnswer(const std::string& key, int sold) {
    ConsultarSAT(777);
    return SessionQuery(key, sold);
}
std::string LastFiscal(const std::string&, int) {
    return ConsultarUltimaSessaoFiscal(42, const_cast<char*>(kCode));
}

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
    {"SaleAnsweredAtOnce", 3, {}, Sale, kOk, "03", 1,
     {": EnviarDadosVenda: 000042|12345678|<?xml", "EnviarDadosVenda -> cod_ret: 06000"}},
    // The device never got the sale: the session query says so, resent in the same attempt.
    {"SaleNeverReceived", 3, {"1*03:ignore"}, Sale, kOk, "03 08 03", 1,
     {"ConsultarNumeroSessao -> cod_ret: 11003",
      "Retransmissao -> EnviarDadosVenda: 000042|12345678|<?xml"}},
    {"SaleDeviceBusyResentDirectly", 3, {"2*03:busy"}, Sale, kOk, "03 03 03", 1,
     {"EnviarDadosVendas: possivel processo de atualizacao",
      "Retransmissao -> EnviarDadosVenda: "}},
    {"SaleSessionQueryBusyOnLastAttempt", 2, {"1*03:drop", "08:answer:{sessao}|11098|" BUSY},
     Sale, "000042|11098|" BUSY, "03 08", -1,
     {"ConsultarNumeroSessao: possivel processo de atualizacao"}},
    // A stored answer of another family leads to a resend.
    {"SaleStoredAnswerOfOtherFamily", 2, {"1*03:ignore",
     "1*08:answer:{sessao}|07000|0000|Cupom cancelado|||"}, Sale, kOk, "03 08 03", 1},
    // Nothing answered: the sale went out once, then only queries.
    {"SaleDeviceSilent", 3, {"all:ignore"}, Sale, kSaleBusy, "03 08 08", 0},
    // An answer obtained through the session check is never repaired.
    {"CancelFoundThroughSessionCheck", 3, {"1*04:answer:" STORED, "1*04:drop"}, Cancel,
     "000042|07000|0000|ok|||b64|20261206|CFe1|10.00|qr", "04 08", -1,
     {"Cupom ja foi gerado. Sessao: 000042|07"}},
    {"CancelResentAfterBusy", 3, {"1*04:busy", "04:answer:" STORED}, Cancel, kRepaired,
     "04 04", -1, {"CancelarUltimaVenda: possivel processo de atualizacao",
                   "CancelaUltimaVenda -> cod_ret: 07000"}},
    {"CancelResentAfterSessionCheck", 3, {"1*04:ignore", "04:answer:" STORED}, Cancel,
     kRepaired, "04 08 04", -1},
    // The older firmware's answer to the cancellation of an issued sale gains its empty
    // field (the rule itself: its fuzz target).
    {"CancelOfIssuedSaleTenSeparators", 2, {}, Cancel, "000042|07000", "03 04", 2,
     {"CancelarUltimaVenda -> cod_ret: 07000"}, 41},
    {"CancelSingleAttempt", 1, {"all:ignore"}, Cancel, kCancelBusy, "04", -1},
    // ConsultarNumeroSessao(123, ..., 5 or the sale's session): an error answer ends the loop.
    {"SessionQueryErrorAnswer", 3, {}, SessionQuery, "000123|11003", "08", -1},
    // The late answer of session 777 comes first: it is not the stored answer asked for.
    {"SessionQueryLateAnswerOfAnotherSession", 1, {"1*05:hold:200"},
     SessionQueryAfterLateAnswer, "000123|11003", "05 08", -1,
     {"   .........   ........."}},
    {"SessionQueryRetriesWhileBusy", 3, {"1*08:busy"}, SessionQuery, "000077|06000",
     "03 08 08", -1, {}, 77},
    // The stored answer of the sale.
    {"LastFiscalRetriesWhileBusy", 3, {"2*20:busy"}, LastFiscal, "000077|06000",
     "03 20 20 20", -1, {"ConsultarUltimaSessaoFiscal -> cod_ret: 06000"}, 77},
};
// clang-format on

class AttemptLoop : public LibTest, public ::testing::WithParamInterface<Row> {};

TEST_P(AttemptLoop, Row) {
    const Row& row = GetParam();
    start(row.n_tent, "", {"--preset", "active", "--cancel-answer-fields", "11"});
    if (HasFatalFailure()) return;
    std::string key = "CFe1";
    if (row.sold) {
        const std::string sale = sell(row.sold);
        ASSERT_EQ(field(sale, 1), "06000");
        key = field(sale, 8);
    }
    for (const char* f : row.faults)
        emu->fault(f);
    const std::string r = row.call(key, row.sold), want = row.result;
    if (want.size() == 12) {
        EXPECT_EQ(r.substr(0, 12), want) << r;
        if (row.call == Sale || row.call == Cancel) {
            // A sale's answer is never repaired; a cancellation's is completed.
            const auto f = split_fields(r);
            ASSERT_EQ(f.size(), 12u) << r;
            EXPECT_TRUE(row.call == Sale || (f[10].empty() && !f[11].empty())) << r;
        }
    } else {
        EXPECT_EQ(r, want);
    }
    EXPECT_EQ(emu->codes(), row.codes);
    if (row.issued >= 0) {
        EXPECT_EQ(emu->issued(), row.issued);
    }
    const std::string l = log();
    for (const char* line : row.logs)
        EXPECT_NE(l.find(line), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Rows, AttemptLoop, ::testing::ValuesIn(kRows),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Retry, StatusSubstitutionOnlyWhenSwitchedOn) {
    for (bool on : {false, true}) {
        SCOPED_TRACE(on ? "RET_10001=true" : "RET_10001=false");
        emu.reset();
        start(1, on ? "RET_10001=true\n" : "",
              {"--preset", "active", "--status-wrong-code", "10099"});
        if (HasFatalFailure()) return;
        char wrong[] = "00000000";
        const std::string r = ConsultarStatusOperacional(123, wrong);
        if (on)
            EXPECT_EQ(r, "000123|10001|Codigo de ativacao invalido||");
        else
            EXPECT_EQ(field(r, 1), "10099") << r;
        // Other answers pass unchanged either way.
        const std::string ok = ConsultarStatusOperacional(124, const_cast<char*>(kCode));
        EXPECT_EQ(field(ok, 1), "10000");
        EXPECT_EQ(split_fields(ok).size(), 28u);
    }
    // Nor is the library's own busy answer.
    ASSERT_TRUE(write_file(halvex + "/sat.ini", settings(kAbsent, 1, 3, 1, "RET_10001=true\n")));
    init_lib();
    EXPECT_EQ(std::string(ConsultarStatusOperacional(123, const_cast<char*>(kCode))),
              busy_answer(functions()[6], 123));
}

} // namespace
