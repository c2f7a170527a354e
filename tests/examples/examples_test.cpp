// The shipped examples run against the emulator, the way a point-of-sale
// developer would run them, and the manual pages keep up with the programs.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "emulator.h"
#include "launcher.h"
#include "sandbox.h"

namespace {

using testsupport::read_file;

struct Outcome {
    int status = -1;
    std::string output;
};

// Runs a shell command line, standard error folded into the output.
Outcome run(const std::string& command) {
    Outcome r;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.output.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

const std::string kSource = TORVANE_SOURCE_DIR;
const std::string kSale = kSource + "/examples/venda.xml";

TEST(Examples, CExampleQueriesAndSellsThroughTheLibraryAndFailsOnAWrongCode) {
    SAT_ENTER_SANDBOX(halvex);
    testsupport::Emulator emu;
    ASSERT_FALSE(emu.device().empty()) << "satemu did not start";
    const std::string example =
        testsupport::shell_program(EXAMPLE_C_PATH) + " " + quote(emu.device());
    Outcome r = run(example + " 12345678 " + quote(kSale));
    EXPECT_EQ(r.status, 0) << r.output;
    for (const char* text :
         {"|08000|", "ConsultarStatusOperacional: 10000", "SetDriver SERIAL: OK"})
        EXPECT_NE(r.output.find(text), std::string::npos) << text << "\n" << r.output;
    EXPECT_TRUE(
        std::regex_search(r.output, std::regex("EnviarDadosVenda: 06000, key CFe[0-9]{44}")))
        << r.output;
    r = run(example + " 99999999");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("ConsultarStatusOperacional: 10001"), std::string::npos) << r.output;
}

TEST(Examples, PythonExampleQueriesAndSellsThroughTheLibrary) {
    if (std::string(TORVANE_SANITIZE_NAME) != "none")
        GTEST_SKIP() << "Python cannot load an instrumented library";
    if (std::string(PYTHON3_PATH).find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "no python3";
    Outcome bits =
        run(quote(PYTHON3_PATH) + " -c 'import struct; print(struct.calcsize(\"P\") * 8)'");
    if (bits.status != 0 || std::stoi(bits.output) != int(sizeof(void*) * 8))
        GTEST_SKIP() << "no python3 of this tree's width (" << sizeof(void*) * 8 << " bits)";
    SAT_ENTER_SANDBOX(halvex);
    testsupport::Emulator emu;
    ASSERT_FALSE(emu.device().empty()) << "satemu did not start";
    Outcome r =
        run(quote(PYTHON3_PATH) + " " + quote(kSource + "/examples/example.py") + " " +
            quote(SAT_LIBRARY_PATH) + " " + quote(emu.device()) + " 12345678 " + quote(kSale));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("|08000|"), std::string::npos) << r.output;
    EXPECT_TRUE(std::regex_search(r.output, std::regex("EnviarDadosVenda: 06000 key CFe[0-9]{44}")))
        << r.output;
}

// Every option that "satemu --help" names is described in its manual page and
// in the emulator guide.
TEST(Manuals, SatemuManualCoversEveryOption) {
    Outcome help = run(quote(SATEMU_PATH) + " --help");
    ASSERT_EQ(help.status, 0) << help.output;
    std::set<std::string> options;
    std::regex option("--[a-z][a-z0-9-]+");
    for (auto it = std::sregex_iterator(help.output.begin(), help.output.end(), option);
         it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    ASSERT_FALSE(options.empty()) << help.output;
    std::string man = read_file(kSource + "/docs/man/satemu.1");
    std::string guide = read_file(kSource + "/docs/satemu.md");
    for (const auto& o : options) {
        std::string roff = o;
        for (size_t at = 0; (at = roff.find('-', at)) != std::string::npos; at += 2)
            roff.replace(at, 1, "\\-");
        EXPECT_NE(man.find(roff), std::string::npos) << o << " missing from docs/man/satemu.1";
        EXPECT_NE(guide.find(o), std::string::npos) << o << " missing from docs/satemu.md";
    }
}

#ifdef SATCLI_PATH
// Every command of satcli's usage text has its entry in the manual page.
TEST(Manuals, SatcliManualCoversEveryCommand) {
    std::string dir = testsupport::make_temp_dir("satcli-man");
    ASSERT_FALSE(dir.empty());
    // satcli loads the library from its working folder under this one name.
    ASSERT_EQ(symlink(SAT_LIBRARY_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    Outcome usage = run("cd " + quote(dir) + " && " + testsupport::shell_program(SATCLI_PATH));
    ASSERT_NE(usage.output.find("funcoes:"), std::string::npos) << usage.output;
    std::string man = read_file(kSource + "/docs/man/satcli.1");
    std::istringstream lines(usage.output.substr(usage.output.find("funcoes:")));
    std::string line;
    int commands = 0;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, std::regex("   ([A-Za-z]+).*"))) continue;
        ++commands;
        EXPECT_NE(man.find(".B " + m[1].str()), std::string::npos)
            << m[1] << " missing from docs/man/satcli.1";
    }
    EXPECT_EQ(commands, 15) << usage.output;
    EXPECT_NE(man.find(".B SetDriver"), std::string::npos);
}
#endif

} // namespace
