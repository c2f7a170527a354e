// The shipped C and Python examples run against the emulator as a point-of-sale
// developer would run them, and the manual pages keep up with satemu and satcli.
#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>

#include "emulator.h"
#include "sandbox.h"

namespace {

using testsupport::launch_args;
using testsupport::read_file;
const std::string kSource = TORVANE_SOURCE_DIR, kSale = kSource + "/examples/venda.xml";

TEST(Examples, CAndPythonExamplesQueryAndSell) {
    SAT_ENTER_SANDBOX(halvex);
    testsupport::Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    auto r = testsupport::run_program(
        launch_args(EXAMPLE_C_PATH, {emu.device(), "12345678", kSale}), ".");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("ConsultarStatusOperacional: 10000[\\s\\S]*"
                                                    "EnviarDadosVenda: 06000, key CFe[0-9]{44}")))
        << r.out;
    r = testsupport::run_program(launch_args(EXAMPLE_C_PATH, {emu.device(), "99999999"}), ".");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("ConsultarStatusOperacional: 10001"), std::string::npos) << r.out;
#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) // python3 loads only such a library
    r = testsupport::run_program({"/usr/bin/python3", kSource + "/examples/example.py", LIB_PATH,
                                  emu.device(), "12345678", kSale},
                                 ".");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("EnviarDadosVenda: 06000 key CFe[0-9]{44}")))
        << r.out;
#endif
}

// Every option of "satemu --help" is in its manual page and guide; every command of
// satcli's usage text has its entry in satcli's manual page.
TEST(Manuals, CoverEveryOptionAndCommand) {
    const std::string help = testsupport::run_program({SATEMU_PATH, "--help"}, ".").out;
    const std::string man = read_file(kSource + "/docs/man/satemu.1"),
                      guide = read_file(kSource + "/docs/satemu.md"),
                      satcli_man = read_file(kSource + "/docs/man/satcli.1");
    const std::regex option("--[a-z][a-z0-9-]+"), command("\n   ([A-Za-z]+)");
    int options = 0, commands = 0;
    for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it, ++options)
        EXPECT_TRUE(man.find(std::regex_replace(it->str(), std::regex("-"), "\\-")) !=
                        std::string::npos &&
                    guide.find(it->str()) != std::string::npos)
            << it->str() << " missing from satemu's manual page or guide";
    EXPECT_GE(options, 10) << help;
    const std::string dir = testsupport::make_temp_dir("satcli-man");
    ASSERT_EQ(symlink(LIB_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    const std::string usage = testsupport::run_program(launch_args(SATCLI_PATH), dir).out;
    for (std::sregex_iterator it(usage.begin(), usage.end(), command), end; it != end;
         ++it, ++commands)
        EXPECT_NE(satcli_man.find(".B " + (*it)[1].str()), std::string::npos) << (*it)[1];
    EXPECT_EQ(commands, 15) << usage;
    EXPECT_NE(satcli_man.find(".B SetDriver"), std::string::npos);
}

} // namespace
