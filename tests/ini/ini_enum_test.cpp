// Enumerating sections and keys, and walking the file with ini_browse.
#include "ini_fixture.h"

#include <tuple>
#include <vector>

namespace {

using IniEnum = IniTest;

std::vector<std::string> sections(const char* file) {
    std::vector<std::string> out;
    char buf[64];
    for (int i = 0; ini_getsection(i, buf, sizeof buf, file) > 0; i++)
        out.push_back(buf);
    return out;
}

std::vector<std::string> keys(const char* section, const char* file) {
    std::vector<std::string> out;
    char buf[64];
    for (int i = 0; ini_getkey(section, i, buf, sizeof buf, file) > 0; i++)
        out.push_back(buf);
    return out;
}

const char* const kFile = "top=1\n"
                          "; comment=no\n"
                          "[a]\n"
                          "x = 1\n"
                          "no separator\n"
                          "#y=2\n"
                          "z:3\n"
                          "[]\n"
                          "e=1\n"
                          "[ b ]\n"
                          "[broken=4\n"
                          "[A]\n"
                          "w=5\n";

TEST_F(IniEnum, Sections) {
    put(kFile);
    // Every header counts in file order, a repeated one too; "[]" does not.
    EXPECT_EQ(sections(file()), (std::vector<std::string>{"a", " b ", "A"}));

    char buf[4] = "xyz";
    EXPECT_EQ(ini_getsection(1, buf, sizeof buf, file()), 3);
    EXPECT_STREQ(buf, " b ");
    EXPECT_EQ(ini_getsection(-1, buf, sizeof buf, file()), 0);
    EXPECT_EQ(ini_getsection(0, buf, 0, file()), 0);
    EXPECT_STREQ(buf, " b ");
    EXPECT_EQ(ini_getsection(0, buf, sizeof buf, (dir_ + "/none").c_str()), 0);
    EXPECT_STREQ(buf, "");
}

TEST_F(IniEnum, Keys) {
    put(kFile);
    EXPECT_EQ(keys("a", file()), (std::vector<std::string>{"x", "z"}));
    EXPECT_EQ(keys("", file()), (std::vector<std::string>{"top"}));
    EXPECT_EQ(keys(nullptr, file()), (std::vector<std::string>{"top"}));
    // The span of " b " ends at "[broken=4"; the first "a" is the one searched.
    EXPECT_TRUE(keys(" b ", file()).empty());
    EXPECT_TRUE(keys("missing", file()).empty());

    char buf[2] = "q";
    EXPECT_EQ(ini_getkey("a", 0, buf, sizeof buf, file()), 1);
    EXPECT_STREQ(buf, "x");
    EXPECT_EQ(ini_getkey("a", -1, buf, sizeof buf, file()), 0);
    EXPECT_EQ(ini_getkey("a", 0, nullptr, sizeof buf, file()), 0);
}

using Entry = std::tuple<std::string, std::string, std::string>;
struct Collected {
    std::vector<Entry> entries;
    size_t stop_after = 1000;
};

int collect(const char* section, const char* key, const char* value, void* user) {
    auto* c = static_cast<Collected*>(user);
    c->entries.emplace_back(section, key, value);
    return c->entries.size() < c->stop_after;
}

TEST_F(IniEnum, Browse) {
    put(std::string(kFile) + "q = \"a;b\" ; note\n");
    Collected c;
    ASSERT_EQ(ini_browse(collect, &c, file()), 1);
    // "[broken=4" is no header here but a key line of the section above;
    // the keys under "[]" show with the empty section name.
    const std::vector<Entry> expected{
        {"", "top", "1"},        {"a", "x", "1"}, {"a", "z", "3"},   {"", "e", "1"},
        {" b ", "[broken", "4"}, {"A", "w", "5"}, {"A", "q", "a;b"},
    };
    EXPECT_EQ(c.entries, expected);

    Collected first;
    first.stop_after = 2;
    EXPECT_EQ(ini_browse(collect, &first, file()), 1);
    EXPECT_EQ(first.entries.size(), 2u);

    EXPECT_EQ(ini_browse(nullptr, &c, file()), 0);
    EXPECT_EQ(ini_browse(collect, &c, (dir_ + "/none").c_str()), 0);
}

} // namespace
