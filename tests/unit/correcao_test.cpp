// Correcao: decoding of numeric character references in sale data.
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string corrected(std::string text) {
    EXPECT_EQ(Correcao(text.data()), 0);
    return std::string(text.c_str()); // up to the first NUL, as the device would read it
}

struct Case {
    const char* input;
    const char* expected;
};

class CorrecaoTable : public ::testing::TestWithParam<Case> {};

TEST_P(CorrecaoTable, DecodesOrLeavesAlone) {
    const Case& c = GetParam();
    std::string out = corrected(c.input);
    EXPECT_EQ(out, c.expected) << "input: " << c.input;
    EXPECT_EQ(out.size(), std::string(c.input).size()) << "the text never changes length";
}

INSTANTIATE_TEST_SUITE_P(
    Hex, CorrecaoTable,
    ::testing::Values(Case{"&#x41;", "     A"}, Case{"&#X41;", "     A"},
                      Case{"&#x0D;", "      "}, // carriage return becomes a space
                      Case{"&#x27;", "     `"}, // apostrophe becomes a grave accent
                      Case{"&#x7f;", "     \x7f"}, Case{"a&#x42;c", "a     Bc"},
                      Case{"&#x41;&#x42;", "     A     B"},
                      Case{"&#x000000041;", "            A"},   // nine digits
                      Case{"&#x0000000041;", "&#x0000000041;"}, // ten: left alone
                      Case{"&#xE9;", "&#xE9;"},                 // not ASCII
                      Case{"&#x41", "&#x41"},                   // no ';'
                      Case{"&#x4G;", "&#x4G;"},                 // not a hex digit
                      Case{"&#x4G;&#x41;", "&#x4G;     A"},     // scan goes on after it
                      Case{"&amp;&lt;", "&amp;&lt;"}, Case{"&#", "&#"}, Case{"&#x", "&#x"},
                      Case{"<a>&#x3C;</a>", "<a>     <</a>"}));

// A reference without digits or with the value 0 would put a NUL into the sale
// and cut it there: it stays as it is.
INSTANTIATE_TEST_SUITE_P(NoZeroByte, CorrecaoTable,
                         ::testing::Values(Case{"&#x;tail", "&#x;tail"},
                                           Case{"&#x0;tail", "&#x0;tail"},
                                           Case{"&#x00;tail", "&#x00;tail"},
                                           Case{"&#0;tail", "&#0;tail"}));

// Decimal references are decoded under the same rules instead of being damaged.
INSTANTIATE_TEST_SUITE_P(Decimal, CorrecaoTable,
                         ::testing::Values(Case{"&#65;", "    A"}, Case{"&#065;", "     A"},
                                           Case{"&#13;", "     "}, Case{"&#39;", "    `"},
                                           Case{"&#233;", "&#233;"}, // stays, not "3"
                                           Case{"&#127;", "     \x7f"}, Case{"&#128;", "&#128;"},
                                           Case{"&#6a;", "&#6a;"}, Case{"&#;", "&#;"},
                                           Case{"&#000000065;", "           A"},
                                           Case{"&#0000000065;", "&#0000000065;"}));

TEST(Correcao, NullTextIsIgnored) {
    EXPECT_EQ(Correcao(nullptr), 0);
}

TEST(Correcao, LargeDocumentIsScannedToTheEnd) {
    std::string doc(1 << 20, 'x');
    doc.replace(doc.size() - 6, 6, "&#x41;");
    std::string out = corrected(doc);
    EXPECT_EQ(out.substr(out.size() - 6), "     A");
}

} // namespace
