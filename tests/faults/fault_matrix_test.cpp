// The fault matrix: every SAT function against every way a device or its line can
// fail. One table says what each fault does to each kind of function; every cell
// is a test of its own (a process of its own, so they run side by side), with its
// own satemu and its own settings:
//   deadlines of 2 s for every function, N_TENT=2, TMP_TENT=3.
// Each cell checks the answer, that the call came back within its deadlines plus
// the attempts and pauses it may make, that it left no descriptor open and the
// call lock free, and that a sale was never issued twice.
#include <chrono>
#include <optional>

#include "sat.h"
#include "satlib.h"

extern "C" int lib_lock;

namespace {

using namespace testsupport;

constexpr int kSession = 42;
constexpr int kDeadline = 2; // seconds, every function
constexpr int kAttempts = 2;
constexpr int kPause = 3;
constexpr const char* kOtherSession = "999999"; // an answer that belongs to someone else

// What a cell must return.
enum class Expect {
    Busy,     // the library's own busy answer, exactly
    Answer,   // the device's answer: our session, a result of the family, not busy
    Other,    // the injected answer of another session, as it came
    BusyCode, // the device's own busy answer (family + 098) passed on
};

struct Fault {
    const char* name;
    const char* rule_text; // satemu fault for the function's code "CC"; null: no device at all
    Expect single, fiscal, query;
    // Command codes the device receives for the call, in order ("CC" the function's
    // own), for a sale or cancellation and for a session query; single exchanges
    // always send one frame.
    const char* fiscal_frames;
    const char* query_frames;
    int extra_seconds; // beyond the deadlines: time the fault itself needs
    // ConsultarNumeroSessao, where it differs from the other query: it takes only
    // the stored answer of the session it asks for, or its own refusal.
    std::optional<Expect> asking = {};
    const char* asking_frames = nullptr;
};

// A lost answer of a sale or a cancellation is found by the next attempt's
// session check (08) when the device did process it (stray bytes, oversize,
// hang-up); it is never sent twice. A device that answered busy gets the
// command again. The session queries simply try again.
constexpr Fault kFaults[] = {
    {"no_device", nullptr, Expect::Busy, Expect::Busy, Expect::Busy, "", "", 0},
    {"never_answers", "CC:ignore", Expect::Busy, Expect::Busy, Expect::Busy, "CC 08 CC", "CC CC",
     0},
    // The late answer comes after the whole call, and the device answers in order:
    // a session check or a second query waits behind it as well.
    {"after_deadline", "CC:delay:9000", Expect::Busy, Expect::Busy, Expect::Busy, "CC 08", "CC CC",
     0},
    {"other_session", "CC:answer:999999|FF000|outra sessao||", Expect::Busy, Expect::Busy,
     Expect::Other, "CC 08", "CC", 0, Expect::Busy, "CC CC"},
    // A late answer of another session, then the call's own, in one write.
    {"late_answer_first", "CC:stale", Expect::Answer, Expect::Answer, Expect::Answer, "CC", "CC",
     0},
    {"in_pieces", "CC:split:4:150", Expect::Answer, Expect::Answer, Expect::Answer, "CC", "CC", 1},
    {"stray_bytes", "CC:noise", Expect::Busy, Expect::Answer, Expect::Busy, "CC 08", "CC CC", 0},
    {"etx_inside", "CC:etx-inside", Expect::Answer, Expect::Answer, Expect::Answer, "CC", "CC", 0},
    {"oversize", "CC:oversize:3200000", Expect::Busy, Expect::Answer, Expect::Busy, "CC 08",
     "CC CC", 20},
    // Once: the device comes back on a new line behind the same link.
    {"hang_up", "1*CC:hangup", Expect::Busy, Expect::Answer, Expect::Answer, "CC 08", "CC CC", 2},
    {"busy_code", "CC:busy", Expect::BusyCode, Expect::BusyCode, Expect::BusyCode, "CC CC", "CC CC",
     0},
};

std::string replace(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
        text.replace(at, what.size(), with);
    return text;
}

// Longest time a call of this kind may take: every exchange waits its deadline
// plus up to 2 s of silence in the last read; a sale or cancellation attempt may
// hold a session check and a resend; pauses come between attempts. Generous:
// this is a bound, the machine may be busy.
int bound_seconds(Kind kind, const Fault& fault) {
    const int exchange = kDeadline + 2;
    int total = exchange;
    if (kind == Kind::Fiscal) total = kAttempts * 2 * exchange + (kAttempts - 1) * kPause;
    if (kind == Kind::Query) total = kAttempts * exchange + (kAttempts - 1) * kPause;
    return total + fault.extra_seconds + 6;
}

struct Cell {
    const Function* function;
    const Fault* fault;
};

std::vector<Cell> cells() {
    std::vector<Cell> out;
    for (const Function& f : functions())
        for (const Fault& fault : kFaults)
            out.push_back({&f, &fault});
    return out;
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {};

TEST_P(FaultMatrix, AnswersInTimeAndLeavesNothingOpen) {
    const Function& f = *GetParam().function;
    const Fault& fault = *GetParam().fault;
    SAT_ENTER_SANDBOX(halvex);

    std::unique_ptr<Emulator> emu;
    if (fault.rule_text) {
        emu = std::make_unique<Emulator>(
            std::vector<std::string>{"--preset", "active", "--link", kLine});
        ASSERT_FALSE(emu->device().empty());
    }
    ASSERT_TRUE(write_file(halvex + "/sat.ini", settings(fault.rule_text ? kLine : kAbsent,
                                                         kAttempts, kPause, kDeadline)));
    // The first exchange of a process reads sat.ini and runs on built-in deadlines:
    // a cheap one, before the fault is in place.
    ConsultarSAT(1);

    const std::string other =
        replace(std::string(kOtherSession) + "|FF000|outra sessao||", "FF", f.family);
    if (fault.rule_text)
        emu->fault(replace(replace(fault.rule_text, "CC", f.code), "FF", f.family));

    Texts texts = default_texts(f);
    const int fds_before = open_descriptors();
    const auto start = std::chrono::steady_clock::now();
    const std::string answer = f.call(kSession, texts);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int fds_after = open_descriptors();

    const bool asking = fault.asking && std::string(f.code) == "08";
    const Expect expect = f.kind == Kind::Single   ? fault.single
                          : f.kind == Kind::Fiscal ? fault.fiscal
                          : asking                 ? *fault.asking
                                                   : fault.query;
    const std::string code = field(answer, 1);
    SCOPED_TRACE("answer: " + answer.substr(0, 200));
    switch (expect) {
    case Expect::Busy:
        EXPECT_EQ(answer, busy_answer(f, kSession));
        break;
    case Expect::Answer:
        EXPECT_EQ(field(answer, 0), "000042");
        ASSERT_EQ(code.size(), 5u);
        EXPECT_EQ(code.substr(0, 2), f.family);
        EXPECT_NE(code.substr(2), "098");
        break;
    case Expect::Other:
        EXPECT_EQ(answer, other);
        break;
    case Expect::BusyCode:
        EXPECT_EQ(field(answer, 0), "000042");
        EXPECT_EQ(code, std::string(f.family) + "098");
        break;
    }
    EXPECT_LT(seconds, bound_seconds(f.kind, fault));
    EXPECT_EQ(fds_after, fds_before) << "descriptors left open";
    EXPECT_EQ(lib_lock, 0) << "call lock still held";

    if (emu) {
        // What reached the device for this call: retries and session checks as
        // the function's kind allows, nothing more.
        const char* expected = f.kind == Kind::Single   ? "CC"
                               : f.kind == Kind::Fiscal ? fault.fiscal_frames
                               : asking                 ? fault.asking_frames
                                                        : fault.query_frames;
        EXPECT_EQ(emu->codes(kSession), replace(expected, "CC", f.code));
    }
    if (emu && std::string(f.name) == "EnviarDadosVenda") {
        // Whatever went wrong on the line, the device issued the sale at most once.
        EXPECT_LE(emu->issued(), 1);
    }
}

std::string cell_name(const ::testing::TestParamInfo<Cell>& info) {
    return std::string(info.param.function->name) + "_" + info.param.fault->name;
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix, ::testing::ValuesIn(cells()), cell_name);

} // namespace
