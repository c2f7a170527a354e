// The shipped C and Python examples run against the emulator the way a point-of-sale developer
// would run it, and the manual pages keep up with what satemu and satcli offer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>
#include <set>
#include <sstream>

#include "emulator.h"
#include "launcher.h"
#include "sandbox.h"

namespace {

using testsupport::launch_args;
using testsupport::read_file;
const std::string kSource = TORVANE_SOURCE_DIR;

TEST(Examples, CExampleQueriesAndSellsThroughTheLibraryAndFailsOnAWrongCode) {
    SAT_ENTER_SANDBOX(halvex);
    testsupport::Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    auto r = testsupport::run_program(
        launch_args(EXAMPLE_C_PATH, {emu.device(), "12345678", kSource + "/examples/venda.xml"}),
        ".");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const char* text :
         {"|08000|", "ConsultarStatusOperacional: 10000", "SetDriver SERIAL: OK"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("EnviarDadosVenda: 06000, key CFe[0-9]{44}")));
    r = testsupport::run_program(launch_args(EXAMPLE_C_PATH, {emu.device(), "99999999"}), ".");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("ConsultarStatusOperacional: 10001"), std::string::npos) << r.out;
}

// The Python example, where the machine's python3 can load this tree's library.
TEST(Examples, PythonExampleQueriesAndSellsThroughTheLibrary) {
#if !defined(__x86_64__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "python3 loads only an uninstrumented x86-64 library";
#endif
    SAT_ENTER_SANDBOX(halvex);
    testsupport::Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    auto r = testsupport::run_program({"/usr/bin/python3", kSource + "/examples/example.py",
                                       SAT_LIBRARY_PATH, emu.device(), "12345678",
                                       kSource + "/examples/venda.xml"},
                                      ".");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("|08000|"), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("EnviarDadosVenda: 06000 key CFe[0-9]{44}")))
        << r.out;
}

// Every option that "satemu --help" names is in its manual page and in its guide;
// every command of satcli's usage text has its entry in satcli's manual page.
TEST(Manuals, CoverEveryOptionAndCommand) {
    auto help = testsupport::run_program({SATEMU_PATH, "--help"}, ".");
    ASSERT_EQ(help.status, 0) << help.err;
    const std::string man = read_file(kSource + "/docs/man/satemu.1");
    const std::string guide = read_file(kSource + "/docs/satemu.md");
    std::set<std::string> options;
    std::regex option("--[a-z][a-z0-9-]+");
    for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), option);
         it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    EXPECT_GE(options.size(), 10u) << help.out;
    for (const auto& o : options) {
        std::string roff = std::regex_replace(o, std::regex("-"), "\\-");
        EXPECT_NE(man.find(roff), std::string::npos) << o << " missing from docs/man/satemu.1";
        EXPECT_NE(guide.find(o), std::string::npos) << o << " missing from docs/satemu.md";
    }
#ifdef SATCLI_PATH
    const std::string dir = testsupport::make_temp_dir("satcli-man");
    // satcli loads the library from its working folder under this one name.
    ASSERT_EQ(symlink(SAT_LIBRARY_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    auto usage = testsupport::run_program(launch_args(SATCLI_PATH), dir);
    const std::string satcli_man = read_file(kSource + "/docs/man/satcli.1");
    std::istringstream lines(usage.out.substr(usage.out.find("funcoes:")));
    int commands = 0;
    std::smatch m;
    for (std::string line; std::getline(lines, line);)
        if (std::regex_match(line, m, std::regex("   ([A-Za-z]+).*")) && ++commands) {
            EXPECT_NE(satcli_man.find(".B " + m[1].str()), std::string::npos) << m[1];
        }
    EXPECT_EQ(commands, 15) << usage.out;
    EXPECT_NE(satcli_man.find(".B SetDriver"), std::string::npos);
#endif
}

} // namespace
