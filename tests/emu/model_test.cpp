// The device model, frame assembly, fault rules and the state file, in-process.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "cfe.h"
#include "device.h"
#include "fault.h"
#include "frame.h"
#include "raw_client.h"
#include "statefile.h"
#include "util.h"

using namespace satemu;

namespace {

[[maybe_unused]] std::string example_sale() {
    return emutest::read_text_file(EMU_EXAMPLES_DIR "/venda.xml");
}

[[maybe_unused]] std::string cancel_doc(const std::string& key_field) {
    return "<CFeCanc><infCFe chCanc=\"" + key_field +
           "\"><ide><CNPJ>08317492000155</CNPJ><signAC>x</signAC><numeroCaixa>001</numeroCaixa>"
           "</ide><emit/><dest/><total/></infCFe></CFeCanc>";
}

// A device with the active preset and a fixed clock.
struct Fixture : ::testing::Test {
    Device dev;
    std::time_t now = 1800000000; // 2027-01-15
    Fixture() {
        dev.clock = [this] { return now; };
        dev.random_cnf = [] { return 123456L; };
        dev.apply_preset("12345678");
    }
    std::string run(const std::string& text) {
        auto cmd = parse_command(text + "|\x03");
        EXPECT_TRUE(cmd) << text;
        return cmd ? dev.handle(*cmd) : std::string();
    }
    std::vector<std::string> fields(const std::string& text) { return split(run(text), '|'); }
};

using DeviceModel = Fixture;

} // namespace

// ---- frames -------------------------------------------------------------------------

TEST(Frames, AssemblesPiecesAndSeveralFramesPerRead) {
    struct Case {
        std::vector<std::string> pieces;
        std::vector<std::string> frames;
        size_t pending;
    } cases[] = {
        {{"|05|000001|\x03"}, {"|05|000001|\x03"}, 0},
        {{"|05|00", "0001|", "\x03"}, {"|05|000001|\x03"}, 0},
        {{"|05|000001|\x03|05|000002|\x03"}, {"|05|000001|\x03", "|05|000002|\x03"}, 0},
        {{"|05|000001|\x03|05|0"}, {"|05|000001|\x03"}, 5},
        // A 0x03 that does not follow '|' is content, not an end.
        {{"|03|000001|a\x03b|\x03"}, {"|03|000001|a\x03b|\x03"}, 0},
        {{"|05|000001|"}, {}, 11},
    };
    for (const auto& c : cases) {
        FrameAssembler a;
        std::vector<std::string> out;
        for (const auto& p : c.pieces)
            a.feed(p, out);
        EXPECT_EQ(out, c.frames);
        EXPECT_EQ(a.pending(), c.pending);
    }
}

TEST(Frames, OversizedFrameIsDiscardedAndNextOneIsRead) {
    FrameAssembler a;
    std::vector<std::string> out;
    std::string big(kMaxFrame + 10, 'x');
    a.feed(big, out);
    a.feed("|\x03|05|000007|\x03", out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], "|05|000007|\x03");
    EXPECT_EQ(a.discarded(), 1u);
}

TEST(Frames, ParsesCommands) {
    auto c = parse_command("|15|000042|code|1|new||\x03");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->code, "15");
    EXPECT_EQ(c->session, 42);
    EXPECT_EQ(c->fields, (std::vector<std::string>{"code", "1", "new", ""}));
    auto big = parse_command("|05|1234567|\x03");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->session_field(), "1234567");
    EXPECT_EQ(parse_command("|05|7|\x03")->session_field(), "000007");
    for (const char* bad :
         {"05|000001|\x03", "|5|000001|\x03", "|05|12a|\x03", "|xx|000001|\x03", ""})
        EXPECT_FALSE(parse_command(bad)) << bad;
}

TEST(Frames, EscapesRoundTrip) {
    std::string bytes = std::string("a|\x03\x00\\\x7f", 6) + "é";
    std::string esc = escape_bytes(bytes);
    EXPECT_EQ(esc, "a|\\x03\\x00\\x5C\\x7Fé");
    EXPECT_EQ(unescape_bytes(esc), bytes);
    EXPECT_FALSE(unescape_bytes("\\x4"));
    EXPECT_EQ(base64_decode(base64_encode("hello!?")), "hello!?");
}

// ---- access key ---------------------------------------------------------------------

TEST(AccessKey, CheckDigitMatchesHandComputedKeys) {
    // Weights 2..9 from the right over the 43 digits, computed by hand.
    struct Case {
        const char* digits43;
        char digit;
    } cases[] = {
        // sum 4 (last digit 2 x weight 2): 11 - 4 = 7
        {"0000000000000000000000000000000000000000002", '7'},
        // sum 0: 11 - 0 = 11 -> 0
        {"0000000000000000000000000000000000000000000", '0'},
        // 1 x 2 + 1 x 3 + 1 x 4 = 9 -> 11 - 9 = 2
        {"0000000000000000000000000000000000000000111", '2'},
        // 1 at weight 9 (8th from the right) and 1 at weight 2 (9th): 11 -> remainder 0 -> 0
        {"0000000000000000000000000000000000110000000", '0'},
        // 5 x 2 = 10 -> remainder 10 -> 11 - 10 = 1
        {"0000000000000000000000000000000000000000005", '1'},
    };
    for (const auto& c : cases)
        EXPECT_EQ(key_check_digit(c.digits43), c.digit) << c.digits43;
}

TEST(AccessKey, LayoutOfTheKey) {
    std::time_t t = 1800000000; // January 2027 in any time zone near Brazil
    std::string key = access_key("35", t, "47291583000110", "900000001", 12, 345678);
    ASSERT_EQ(key.size(), 44u);
    EXPECT_EQ(key.substr(0, 2), "35");
    EXPECT_EQ(key.substr(2, 4), local_time(t, "%y%m"));
    EXPECT_EQ(key.substr(6, 14), "47291583000110");
    EXPECT_EQ(key.substr(20, 2), "59");
    EXPECT_EQ(key.substr(22, 9), "900000001");
    EXPECT_EQ(key.substr(31, 6), "000012");
    EXPECT_EQ(key.substr(37, 6), "345678");
    EXPECT_EQ(key[43], key_check_digit(key.substr(0, 43)));
}

// ---- faults -------------------------------------------------------------------------

TEST(Faults, ParsesSpecs) {
    std::string err;
    auto r = parse_fault("2*04:busy", err);
    ASSERT_TRUE(r) << err;
    EXPECT_EQ(r->code, "04");
    EXPECT_EQ(r->kind, FaultKind::Busy);
    EXPECT_EQ(r->remaining, 2);
    r = parse_fault("07:split:4:100", err);
    ASSERT_TRUE(r) << err;
    EXPECT_EQ(r->pieces, 4);
    EXPECT_EQ(r->ms, 100);
    EXPECT_EQ(r->remaining, -1);
    r = parse_fault("05:answer:{sessao}|08000|x:y||", err);
    ASSERT_TRUE(r) << err;
    EXPECT_EQ(r->text, "{sessao}|08000|x:y||");
    r = parse_fault("all:delay:3000", err);
    ASSERT_TRUE(r) << err;
    EXPECT_EQ(r->ms, 3000);
    for (const char* bad : {"03", "16:drop", "0*03:drop", "03:wobble", "03:delay", "03:delay:x",
                            "03:split:2", "03:drop:1", "03:oversize:0", "x*03:drop", "05:answer"})
        EXPECT_FALSE(parse_fault(bad, err)) << bad;
}

TEST(Faults, CountedRulesRunOutAndRulesCombine) {
    FaultSet set;
    std::string err;
    set.add(*parse_fault("1*03:drop", err));
    set.add(*parse_fault("all:delay:50", err));
    FaultPlan p = set.take("03");
    EXPECT_TRUE(p.drop);
    EXPECT_EQ(p.delay_ms, 50);
    EXPECT_EQ(p.applied.size(), 2u);
    p = set.take("03");
    EXPECT_FALSE(p.drop);
    EXPECT_EQ(set.size(), 1u);
    p = set.take("05");
    EXPECT_EQ(p.delay_ms, 50);
    set.clear();
    EXPECT_TRUE(set.take("05").applied.empty());
}
