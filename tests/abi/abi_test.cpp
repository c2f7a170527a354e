// The library's binary interface in this tree's build: exactly the committed
// export list, libc as the only dependency, and the sizes of the exported globals.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern "C" int sat_header_c_bindings(void);

namespace {

// Output lines of a command, each split into its whitespace-separated words.
std::vector<std::vector<std::string>> run(const std::string& command) {
    std::vector<std::vector<std::string>> lines;
    FILE* p = popen((command + " '" SAT_LIBRARY_PATH "'").c_str(), "r");
    char buf[1024];
    while (p && std::fgets(buf, sizeof buf, p)) {
        std::istringstream in(buf);
        std::vector<std::string> words;
        for (std::string w; in >> w;)
            words.push_back(w);
        lines.push_back(words);
    }
    if (p) pclose(p);
    return lines;
}

TEST(Exports, ExactlyTheCommittedList) {
    std::set<std::string> expected, exported;
    std::ifstream in(SAT_EXPORTS_PATH);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') expected.insert(line);
    EXPECT_EQ(expected.size(), 81u);
    for (auto& words : run("nm -D --defined-only"))
        if (words.size() == 3) exported.insert(words[2]);
    EXPECT_EQ(exported, expected);
}

TEST(Exports, OnlyLibcIsNeeded) {
    if (std::string(SAT_SANITIZE) != "none")
        GTEST_SKIP() << "a sanitizer tree links its sanitizer runtimes into the library";
    std::set<std::string> needed;
    for (auto& words : run("readelf -d"))
        if (words.size() >= 5 && words[1] == "(NEEDED)") needed.insert(words[4]);
    EXPECT_EQ(needed, std::set<std::string>{"[libc.so.6]"});
}

TEST(Exports, GlobalsHaveTheirSizes) {
    constexpr unsigned long word = SAT_ARCH_BITS / 8;
    std::map<std::string, unsigned long> expected = {
        {"BC", 8 + 3145728}, {"SAT_SERIAL", 30}, {"SAT_NOPOPUP", 7},      {"SAT_RET_10001", 7},
        {"sMM", 3},          {"fdUSB", 4},       {"Tempo_Tout", 4},       {"lib_lock", 4},
        {"T_Venda", 8},      {"inputUSB", 128},  {"timeoutUSB", 2 * word}};
    std::map<std::string, unsigned long> sizes;
    for (auto& words : run("nm -D -S --defined-only"))
        if (words.size() == 4) sizes[words[3]] = std::stoul(words[1], nullptr, 16);
    for (auto& [name, size] : expected)
        EXPECT_EQ(sizes[name], size) << name;
}

TEST(Header, CompilesAsCWithEveryFunctionTyped) {
    EXPECT_EQ(sat_header_c_bindings(), 17);
}

} // namespace
