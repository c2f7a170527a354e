// Pure logic of the library: Correcao, valida_TOUT, IntToStr and the call lock; and
// the serial link on a pseudo-terminal whose device side is never read.
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t npos = std::string_view::npos;

TEST(Correcao, DecodesAsciiReferencesKeepingTheLength) {
    // Ten digits, non-ASCII values, no digits and the value 0 (a NUL in the sale)
    // are left alone.
    const char* cases[][2] = {{"&#x41;", "     A"},
                              {"&#X41;", "     A"},
                              {"&#x0D;", "      "},
                              {"&#x27;", "     `"},
                              {"a&#x42;c&#x43;", "a     Bc     C"},
                              {"&#x000000041;", "            A"},
                              {"&#x0000000041;", "&#x0000000041;"},
                              {"&#x80;", "&#x80;"},
                              {"&#x41", "&#x41"},
                              {"&#x4G;&#x41;", "&#x4G;     A"},
                              {"&amp;&#", "&amp;&#"},
                              {"&#x00;z", "&#x00;z"},
                              {"&#65;", "    A"},
                              {"&#6a;", "&#6a;"},
                              {"&#000000065;", "           A"},
                              {"&#0000000065;", "&#0000000065;"}};
    for (auto& c : cases) {
        std::string text = c[0];
        EXPECT_EQ(Correcao(text.data()), 0);
        EXPECT_EQ(std::string(text.c_str()), c[1]) << c[0];
    }
    EXPECT_EQ(Correcao(nullptr), 0);
}

// Where an answer ends: at its last byte, or at an end marker followed by six
// digits and '|'; an end marker followed by only digits so far waits for more.
TEST(Frame, AnswerEndsAtTheStartOfAnother) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"000001|08000|a\x03", 14},
        {"000001|08000|a\x03"
         "000002|08000|b\x03",
         14},
        {"000001|06000|\x03"
         "0000|ok\x03",
         21},
        {"000001|08000|a\x03"
         "00000",
         npos},
        {"000001|08000|a\x03x", npos},
        {"000001|08000|a", npos},
        {"\x03", 0},
    };
    for (const auto& [data, end] : cases)
        EXPECT_EQ(sat::answer_end(data, 0), end) << data;
    EXPECT_EQ(sat::answer_session("000042|06000"), 42);
}

TEST(Helpers, ValidaToutAndIntToStr) {
    // Exact-size heap copies: the asan tree sees any read past the text.
    auto valida = [](const char* text) {
        if (!text) return valida_TOUT(nullptr);
        std::vector<char> copy(text, text + std::strlen(text) + 1);
        return valida_TOUT(copy.data());
    };
    ASSERT_EQ(valida("01:30"), 1);
    EXPECT_STREQ(sMM, "01");
    EXPECT_STREQ(sSS, "30");
    EXPECT_EQ(valida("99:99"), 1);
    for (const char* bad : {"1:30", "01-30", "0a:30", "01:3x", "", "1", "01:", "12:3", "12345"}) {
        EXPECT_EQ(valida(bad), 0) << bad;
        EXPECT_STREQ(sSS, "99") << "untouched by a refused text";
    }
    EXPECT_EQ(valida(nullptr), 0);
    // A text of at most `length` characters inside its block of length + 1 bytes.
    struct {
        int value, length;
        const char* out;
    } cases[] = {
        {42, 6, "000042"}, {-5, 6, "-00005"},     {INT_MAX, 10, "2147483647"},  {1234567, 3, "123"},
        {42, 0, ""},       {INT_MIN, 5, "-2147"}, {INT_MIN, 11, "-2147483648"},
    };
    for (auto& c : cases) {
        char* text = IntToStr(c.value, c.length);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.out) << c.value << " in " << c.length;
        std::free(text);
    }
    EXPECT_EQ(IntToStr(42, -1), nullptr);
}

// A device that takes nothing makes the send fail once the deadline, at least 2 s, has
// passed, instead of blocking the call (and the lock) for good.
TEST(SerialLink, SendToADeviceThatTakesNothingGivesUp) {
    int master = -1, slave = -1;
    char name[64];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ASSERT_LT(std::strlen(name), sizeof SAT_SERIAL); // SAT_SERIAL set: no settings read
    std::memcpy(SAT_SERIAL, name, std::strlen(name) + 1);
    ASSERT_EQ(init_usb(SAT_SERIAL), 0);
    Tempo_Tout = static_cast<int>(tick());
    std::string text(1 << 20, 'z');
    EXPECT_EQ(envia_usb(text.c_str()), -1);
    EXPECT_FALSE(fcntl(fdUSB, F_GETFL) & O_NONBLOCK) << "blocking again for the receive";
}

} // namespace
