// How lines, sections, keys and values are recognised and cleaned.
#include "ini_fixture.h"

#include <cstring>

namespace {

struct Lookup {
    const char* text;
    const char* section;
    const char* key;
    const char* expected;
};

const Lookup kLookups[] = {
    // Values: blanks, comments, quoting.
    {"KEY=\n", "", "KEY", ""},
    {"  key  =  value  ; note\n", "", "key", "value"},
    {"key = \"a;b\" # note\n", "", "key", "a;b"},
    {"key = \"say \"\"hi\"\"\"\n", "", "key", "say \"hi\""},
    {"key = \"x\\\"y\"\n", "", "key", "x\"y"},
    {"key = a\"b;c\n", "", "key", "a\"b;c"},
    {"key = a\\b\n", "", "key", "a\\b"},
    {"key = \"a\\b\"\n", "", "key", "a\\b"},
    {"key = \"\n", "", "key", ""},
    {"key = \"end \" ; c\n", "", "key", "end "},
    {"key = #all comment\n", "", "key", ""},
    // Separators: '=' first, else ':'.
    {"a:b=c\n", "", "a:b", "c"},
    {"url: http\n", "", "url", "http"},
    {"url: a=b\n", "", "url: a", "b"},
    // Comments are never key lines.
    {";k=1\n  #k=2\nk=3\n", "", "k", "3"},
    // Names: case-insensitive, equal length, first match wins.
    {"k=1\nK=2\n", "", "K", "1"},
    {"keys=1\nkey=2\n", "", "key", "2"},
    {"[ DEFAULT ]\nk=1\n[default]\nk=2\n", "DEFAULT", "k", "2"},
    {"[ DEFAULT ]\nk=1\n", " default ", "k", "1"},
    {"[s] trailing ; text\nk=1\n", "S", "k", "1"},
    {"[s]\na=1\n[t]\n[s]\na=2\nb=3\n", "s", "a", "1"},
    {"[s]\na=1\n[t]\n[s]\na=2\nb=3\n", "s", "b", "<def>"},
    // Spans end at any '[' line; lines above the first form the nameless section.
    {"[s]\na=1\n[broken\nb=2\n", "s", "b", "<def>"},
    {"top=1\n[s]\ntop=2\n", "", "top", "1"},
    // "[]" is no way into its keys: the empty name means the nameless section.
    {"top=1\n[]\nk=2\n", "", "k", "<def>"},
    {"top=1\n[]\nk=2\n", "", "top", "1"},
    // Line ends and blanks by the signed-byte rule.
    {"[s]\r\nk=v\r\n", "s", "k", "v"},
    {"k=caf\xe9\n", "", "k", "caf"},
    {"k=\xc3\xa9x\xc3\xa9\n", "", "k", "x"},
    {"\xa0k\xa0=1\n", "", "k", "1"},
};

void PrintTo(const Lookup& c, std::ostream* os) {
    *os << c.text;
}

class IniSyntax : public IniTest, public ::testing::WithParamInterface<Lookup> {};

TEST_P(IniSyntax, Lookup) {
    const Lookup& c = GetParam();
    put(c.text);
    EXPECT_EQ(gets(c.section, c.key), c.expected) << "file: " << c.text;
}

INSTANTIATE_TEST_SUITE_P(Rules, IniSyntax, ::testing::ValuesIn(kLookups));

using IniRead = IniTest;

TEST_F(IniRead, NulByteEndsTheLine) {
    const char raw[] = "k=ab\0cd\n\0x=1\nx=2\n";
    put(std::string(raw, sizeof raw - 1));
    EXPECT_EQ(gets("", "k"), "ab");
    EXPECT_EQ(gets("", "x"), "2");
}

TEST_F(IniRead, LongLinesAreReadIn511CharacterPieces) {
    // "a=" + 509 characters fill the first piece; "b=tail" starts the second.
    put("[s]\na=" + std::string(509, 'x') + "b=tail\n");
    EXPECT_EQ(gets("s", "a"), std::string(509, 'x'));
    EXPECT_EQ(gets("s", "b"), "tail");
}

TEST_F(IniRead, BufferSizeAndDefaults) {
    put("k=value\n");
    char buf[8] = "untouch";
    EXPECT_EQ(ini_gets("", "k", "d", buf, 0, file()), 0);
    EXPECT_EQ(ini_gets("", nullptr, "d", buf, 8, file()), 0);
    EXPECT_STREQ(buf, "untouch");
    EXPECT_EQ(ini_gets("", "k", "d", buf, 4, file()), 3);
    EXPECT_STREQ(buf, "val");
    EXPECT_EQ(ini_gets("", "missing", "default", buf, 4, file()), 3);
    EXPECT_STREQ(buf, "def");
    EXPECT_EQ(ini_gets("", "missing", nullptr, buf, 8, file()), 0);
    // A missing file, no file name, and a folder all read as an empty file.
    const std::string none = dir_ + "/none.ini";
    for (const char* name : {none.c_str(), static_cast<const char*>(nullptr), dir_.c_str()}) {
        EXPECT_EQ(ini_gets("", "k", "dflt", buf, 8, name), 4);
        EXPECT_STREQ(buf, "dflt");
    }
}

// Outside the fixture: the death-test child would leave a folder behind.
TEST(IniReadDeath, BufferStartingInsideTheDefaultStopsTheProcess) {
    // A forked child: a re-executed one would start this i386 program again
    // without the emulator that may be running it.
    GTEST_FLAG_SET(death_test_style, "fast");
    char text[16] = "defaultvalue";
    EXPECT_DEATH(ini_gets("", "missing", text, text + 1, 8, "/nonexistent-ini-test/t.ini"),
                 "ini_text.cpp");
}

} // namespace
