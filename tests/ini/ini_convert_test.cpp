// Numbers and truth values read from values; long is 32 bits in the x86 tree
// and 64 bits in the x64 tree.
#include "ini_fixture.h"

#include <climits>

namespace {

using IniConvert = IniTest;

TEST_F(IniConvert, Long) {
    struct Row {
        const char* value;
        long expected;
    } rows[] = {
        {"0x1F", 31}, {"0X1f", 31}, {"010", 10},    {"-0x10", 0}, {"12abc", 12},
        {"abc", 0},   {"-5", -5},   {"\"42\"", 42}, {"1x5", 1},   {"", -7},
    };
    for (const Row& r : rows) {
        put(std::string("[n]\nN = ") + r.value + "\n");
        EXPECT_EQ(ini_getl("n", "N", -7, file()), r.expected) << r.value;
    }
    EXPECT_EQ(ini_getl("n", "missing", -7, file()), -7);
    EXPECT_EQ(ini_getl("n", "N", -7, (dir_ + "/none").c_str()), -7);
}

TEST_F(IniConvert, LongWidthOfThisTree) {
    put("big=2147483648\nneg=-2147483649\nhex=0xFFFFFFFF\nhuge=99999999999999999999\n");
    if constexpr (sizeof(long) == 8) {
        EXPECT_EQ(ini_getl("", "big", 0, file()), 2147483648L);
        EXPECT_EQ(ini_getl("", "neg", 0, file()), -2147483649L);
        EXPECT_EQ(ini_getl("", "hex", 0, file()), 4294967295L);
    } else {
        // Out of range: the conversion saturates.
        EXPECT_EQ(ini_getl("", "big", 0, file()), LONG_MAX);
        EXPECT_EQ(ini_getl("", "neg", 0, file()), LONG_MIN);
        EXPECT_EQ(ini_getl("", "hex", 0, file()), LONG_MAX);
    }
    EXPECT_EQ(ini_getl("", "huge", 0, file()), LONG_MAX);

    for (long v : {LONG_MIN, LONG_MAX, -1L, 0L}) {
        ASSERT_EQ(ini_putl("n", "v", v, file()), 1);
        EXPECT_EQ(ini_getl("n", "v", 3, file()), v);
    }
    ASSERT_EQ(ini_putl("n", "v", -2147483647L - 1, file()), 1);
    EXPECT_NE(content().find("\nv=-2147483648\n"), std::string::npos) << content();
}

TEST_F(IniConvert, Float) {
    put("a=1.5\nb=abc\nc=\nd=1e3\ne=-0.25 ; c\n");
    EXPECT_FLOAT_EQ(ini_getf("", "a", 9.f, file()), 1.5f);
    EXPECT_FLOAT_EQ(ini_getf("", "b", 9.f, file()), 0.f);
    EXPECT_FLOAT_EQ(ini_getf("", "c", 9.f, file()), 9.f);
    EXPECT_FLOAT_EQ(ini_getf("", "d", 9.f, file()), 1000.f);
    EXPECT_FLOAT_EQ(ini_getf("", "e", 9.f, file()), -0.25f);
    EXPECT_FLOAT_EQ(ini_getf("", "missing", 9.f, file()), 9.f);

    ASSERT_EQ(ini_putf("", "f", 1.5f, file()), 1);
    EXPECT_NE(content().find("f=1.500000\n"), std::string::npos);
}

TEST_F(IniConvert, Bool) {
    struct Row {
        const char* value;
        int expected;
    } rows[] = {
        {"yes", 1}, {"True", 1}, {"1", 1},  {"t", 1}, {"no", 0}, {"false", 0},
        {"0", 0},   {"N", 0},    {"on", 7}, {"", 7},  {"2", 7},  {"\"yes\"", 1},
    };
    for (const Row& r : rows) {
        put(std::string("b=") + r.value + "\n");
        EXPECT_EQ(ini_getbool("", "b", 7, file()), r.expected) << r.value;
    }
    EXPECT_EQ(ini_getbool("", "missing", 7, file()), 7);
    EXPECT_EQ(ini_getbool("", nullptr, 7, file()), 7);
}

} // namespace
