// Small exported helpers: valida_TOUT, IntToStr, cbInit, timestamp, tick.
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

namespace {

TEST(ValidaTout, AcceptsMinutesAndSecondsAndFillsTheTexts) {
    struct {
        const char* text;
        const char* mm;
        const char* ss;
    } ok[] = {
        {"01:30", "01", "30"}, {"99:99", "99", "99"}, {"00:00", "00", "00"}, {"00:90", "00", "90"}};
    for (auto& c : ok) {
        EXPECT_EQ(valida_TOUT(c.text), 1) << c.text;
        EXPECT_STREQ(sMM, c.mm);
        EXPECT_STREQ(sSS, c.ss);
    }
}

TEST(ValidaTout, RefusesOtherShapesAndKeepsTheLastTexts) {
    ASSERT_EQ(valida_TOUT("12:34"), 1);
    for (const char* bad :
         {"1:30", "01-30", "0a:30", "01:3x", "ab:cd", "01:", "", ":0000", "01;30", " 1:30"}) {
        EXPECT_EQ(valida_TOUT(bad), 0) << bad;
        EXPECT_STREQ(sMM, "12");
        EXPECT_STREQ(sSS, "34");
    }
    EXPECT_EQ(valida_TOUT(nullptr), 0);
}

TEST(IntToStr, FormatsSixDigitsIntoItsBlock) {
    struct {
        int value;
        int length;
        const char* expected;
    } cases[] = {{42, 6, "000042"},
                 {42, 10, "000042"},
                 {-5, 6, "-00005"},
                 {1234567, 7, "1234567"},
                 {INT_MAX, 10, "2147483647"},
                 // A block shorter than the text: cut, never written past.
                 {42, 2, "00"},
                 {1234567, 3, "123"},
                 {42, 0, ""}};
    for (auto& c : cases) {
        char* text = IntToStr(c.value, c.length);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.expected) << c.value << " in " << c.length;
        EXPECT_LE(std::strlen(text), static_cast<std::size_t>(c.length));
        std::free(text);
    }
    EXPECT_EQ(IntToStr(42, -1), nullptr);
}

TEST(CbInit, ResetsTheResponseBuffer) {
    BC.NumBytes = 77;
    std::strcpy(BC.Dados, "old answer");
    EXPECT_EQ(cbInit(3145728), 3145728);
    EXPECT_EQ(BC.Tamanho, 3145728);
    EXPECT_EQ(BC.NumBytes, 0);
    EXPECT_EQ(BC.Dados[0], '\0');
    EXPECT_EQ(cbInit(100), 100);
    EXPECT_EQ(BC.Tamanho, 100);
}

TEST(Clock, TimestampHasTheLogFormat) {
    std::string text = timestamp();
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d)"))) << text;
    EXPECT_EQ(timestamp(), timestamp()) << "one static buffer";
}

TEST(Clock, TickAndMiliTickAgree) {
    long s = tick();
    int64_t ms = mili_tick();
    EXPECT_GE(ms / 1000, s);
    EXPECT_LE(ms / 1000 - s, 1);
}

} // namespace
