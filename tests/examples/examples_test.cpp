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

} // namespace
