// The library's binary interface in this tree's build: exactly the committed
// export list, libc as the only dependency, the sizes of the exported globals,
// and every name found by the dynamic loader.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

extern "C" int sat_header_c_bindings(void);

namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::set<std::string> committed_exports() {
    std::set<std::string> names;
    std::ifstream in(SAT_EXPORTS_PATH);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#') names.insert(line);
    return names;
}

TEST(Exports, ExactlyTheCommittedList) {
    std::set<std::string> exported;
    std::istringstream in(run(std::string("nm -D --defined-only '") + SAT_LIBRARY_PATH + "'"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!name.empty()) exported.insert(name);
    }
    std::set<std::string> expected = committed_exports();
    ASSERT_EQ(expected.size(), 81u);
    for (const std::string& name : expected)
        EXPECT_TRUE(exported.count(name)) << "not exported: " << name;
    for (const std::string& name : exported)
        EXPECT_TRUE(expected.count(name)) << "exported but not in the list: " << name;
}

TEST(Exports, OnlyLibcIsNeeded) {
    if (std::string(SAT_SANITIZE) != "none")
        GTEST_SKIP() << "a sanitizer tree links its sanitizer runtimes into the library";
    std::istringstream in(run(std::string("readelf -d '") + SAT_LIBRARY_PATH + "'"));
    std::string line;
    std::set<std::string> needed;
    while (std::getline(in, line)) {
        auto at = line.find("(NEEDED)");
        if (at == std::string::npos) continue;
        auto open = line.find('[', at);
        auto close = line.find(']', open);
        needed.insert(line.substr(open + 1, close - open - 1));
    }
    EXPECT_EQ(needed, std::set<std::string>{"libc.so.6"});
}

TEST(Exports, GlobalsHaveTheirSizes) {
    constexpr int word = SAT_ARCH_BITS / 8;
    std::map<std::string, unsigned long> expected = {
        {"BC", 8 + 3145728},   {"SAT_SERIAL", 30},  {"SAT_DEBUG", 7},
        {"SAT_NOPOPUP", 7},    {"SAT_CORRECAO", 7}, {"SAT_LOCK", 7},
        {"SAT_RET_10001", 7},  {"sMM", 3},          {"sSS", 3},
        {"fdUSB", 4},          {"Tempo_Tout", 4},   {"lib_lock", 4},
        {"ModoDebug", 4},      {"NumTent", 4},      {"T_Venda", 8},
        {"T_SessaoFiscal", 8}, {"inputUSB", 128},   {"timeoutUSB", 2u * word},
    };
    std::istringstream in(run(std::string("nm -D -S --defined-only '") + SAT_LIBRARY_PATH + "'"));
    std::string line;
    std::map<std::string, unsigned long> sizes;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string address, size, type, name;
        if (fields >> address >> size >> type >> name) sizes[name] = std::stoul(size, nullptr, 16);
    }
    for (auto& [name, size] : expected)
        EXPECT_EQ(sizes[name], size) << name;
}

TEST(Loader, EveryNameResolvesByPath) {
    void* lib = dlopen(SAT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const std::string& name : committed_exports())
        EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
    EXPECT_EQ(dlsym(lib, "_ZN3sat15single_exchangeERKNS_3RowEiSt16initializer_listINS_5FieldEE"),
              nullptr);
    dlclose(lib);
}

TEST(Header, CompilesAsCWithEveryFunctionTyped) {
    EXPECT_EQ(sat_header_c_bindings(), 17);
}

} // namespace
