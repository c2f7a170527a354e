// SetDriver: every keyword of its table, the attempt rules, its console line
// and its log lines. Runs sandboxed: DEBUG writes the log file.
#include "sat_internal.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::read_file;

std::string set(const char* parameter, const char* value) {
    return SetDriver(const_cast<char*>(parameter), const_cast<char*>(value));
}

std::vector<std::string> log_details(const std::string& halvex) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(halvex + "/lib_torvane_halvex.log"));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line.size() >= 21 ? line.substr(21) : line);
    return lines;
}

TEST(SetDriver, StartsTheLibraryAndPrintsEveryCall) {
    SAT_ENTER_SANDBOX(halvex);
    testing::internal::CaptureStdout();
    EXPECT_EQ(set("LOCK", "true"), "OK");
    EXPECT_EQ(set("nada", nullptr), "FALHA");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Parametro: |LOCK| - Valor: |true|\nParametro: |nada| - Valor: ||\n");
    EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0") << "init_lib ran";
    EXPECT_STREQ(SAT_NOPOPUP, "true") << "the line is printed although messages are off";
}

TEST(SetDriver, DoesNotRereadTheFileOnceStarted) {
    SAT_ENTER_SANDBOX(halvex);
    ASSERT_TRUE(testsupport::write_file(halvex + "/sat.ini", "[DEFAULT]\nLOCK=false\n"));
    EXPECT_EQ(set("LOCK", "true"), "OK");
    EXPECT_EQ(ModoLock, 1);
    EXPECT_EQ(set("VERSAO", ""), "3.0.0.3_x86");
    EXPECT_EQ(ModoLock, 1) << "sat.ini was read once, before the first keyword";
}

struct FlagCase {
    const char* parameter;
    const char* value;
    int* flag;
    int expected;
};
class SetDriverFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(SetDriverFlags, PrefixKeywordsAndTrueValues) {
    SAT_ENTER_SANDBOX(halvex);
    const FlagCase& c = GetParam();
    init_lib();
    *c.flag = 1 - c.expected;
    EXPECT_EQ(set(c.parameter, c.value), "OK");
    EXPECT_EQ(*c.flag, c.expected) << c.parameter << "=" << c.value;
}

INSTANTIATE_TEST_SUITE_P(Table, SetDriverFlags,
                         ::testing::Values(FlagCase{"LOCK", "true", &ModoLock, 1},
                                           FlagCase{"LOCK", "TRUE", &ModoLock, 0},
                                           FlagCase{"LOCKED", "false", &ModoLock, 0},
                                           FlagCase{"RET_10001", "true", &Ret10001, 1},
                                           FlagCase{"RET_X", "trueX", &Ret10001, 1},
                                           FlagCase{"RET_10001", "1", &Ret10001, 0},
                                           FlagCase{"DEBUG", "true", &ModoDebug, 1},
                                           FlagCase{"DEBUGGING", "false", &ModoDebug, 0},
                                           FlagCase{"LOCK", "", &ModoLock, 0}));

TEST(SetDriver, NoPopupSetsTheText) {
    SAT_ENTER_SANDBOX(halvex);
    EXPECT_EQ(set("NO_POPUP", "false"), "OK");
    EXPECT_STREQ(SAT_NOPOPUP, "false");
    EXPECT_TRUE(sat::console_on());
    EXPECT_EQ(set("NO_POPUP", "true"), "OK");
    EXPECT_STREQ(SAT_NOPOPUP, "true");
    EXPECT_EQ(set("NO_POPUP", "whatever"), "OK");
    EXPECT_STREQ(SAT_NOPOPUP, "false");
    EXPECT_EQ(set("NO_POPU", "true"), "FALHA") << "eight characters compared";
}

struct SerialCase {
    const char* value;
    const char* result;
    const char* path;
};
class SetDriverSerial : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SetDriverSerial, PathRules) {
    SAT_ENTER_SANDBOX(halvex);
    EXPECT_EQ(set("SERIAL", "ttyS9"), "OK");
    EXPECT_EQ(set("SERIALX", GetParam().value), GetParam().result) << GetParam().value;
    EXPECT_STREQ(SAT_SERIAL, GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetDriverSerial,
    ::testing::Values(
        SerialCase{"ttyUSB0", "OK", "/dev/ttyUSB0"}, SerialCase{"/dev/ttyS1", "OK", "/dev/ttyS1"},
        SerialCase{"", "ERRO", "/dev/ttyS9"}, SerialCase{nullptr, "ERRO", "/dev/ttyS9"},
        // 29 characters fit, 30 do not: the path stays as it was.
        SerialCase{"abcdefghijklmnopqrstuvwx", "OK", "/dev/abcdefghijklmnopqrstuvwx"},
        SerialCase{"abcdefghijklmnopqrstuvwxy", "ERRO", "/dev/ttyS9"},
        SerialCase{"/dev/abcdefghijklmnopqrstuvwx", "OK", "/dev/abcdefghijklmnopqrstuvwx"},
        SerialCase{"/dev/abcdefghijklmnopqrstuvwxy", "ERRO", "/dev/ttyS9"}));

struct CountCase {
    const char* parameter;
    const char* value;
    const char* result;
    int expected;
};
class SetDriverAttempts : public ::testing::TestWithParam<CountCase> {};

TEST_P(SetDriverAttempts, TwoCharacterRule) {
    SAT_ENTER_SANDBOX(halvex);
    const CountCase& c = GetParam();
    init_lib();
    NumTent = 42;
    TmpTent = 42;
    EXPECT_EQ(set(c.parameter, c.value), c.result) << c.parameter << "=" << c.value;
    int actual = std::string(c.parameter).rfind("N_", 0) == 0 ? NumTent : TmpTent;
    EXPECT_EQ(actual, c.expected) << c.parameter << "=" << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetDriverAttempts,
    ::testing::Values(CountCase{"N_TENT", "05", "OK", 5}, CountCase{"N_TENT", "5", "ERRO", 1},
                      CountCase{"N_TENT", "00", "ERRO", 1}, CountCase{"N_TENT", "5x", "OK", 5},
                      CountCase{"N_TENT", "99", "OK", 99}, CountCase{"N_TENT", "-1", "ERRO", 1},
                      CountCase{"N_TENT", "100", "ERRO", 1}, CountCase{"N_TENT", " 7", "OK", 7},
                      CountCase{"TMP_TENT", "10", "OK", 10}, CountCase{"TMP_TENT", "02", "ERRO", 3},
                      CountCase{"TMP_TENT", "7", "ERRO", 6}, CountCase{"TMP_TEN", "10", "OK", 10},
                      CountCase{"TMP_TENT", "03", "OK", 3}, CountCase{"TMP_TENT", "", "ERRO", 6}));

TEST(SetDriver, OtherKeywords) {
    SAT_ENTER_SANDBOX(halvex);
    EXPECT_EQ(set("VERSAO", "x"), "3.0.0.3_x86");
    EXPECT_EQ(set("DISCOVER", "true"), "FALHA");
    EXPECT_EQ(set("debug", "true"), "FALHA");
    EXPECT_EQ(ModoDebug, 0);
    EXPECT_EQ(set(nullptr, nullptr), "FALHA");
    EXPECT_FALSE(file_existe((halvex + "/lib_torvane_halvex.log").c_str()))
        << "nothing is logged while debug is off";
}

TEST(SetDriver, LogLines) {
    SAT_ENTER_SANDBOX(halvex);
    set("DEBUG", "true");
    set("SERIAL", "ttyUSB0");
    set("SERIAL", "");
    set("NO_POPUP", "true");
    set("NO_POPUP", "false");
    set("LOCK", "true");
    set("LOCK", "false");
    set("RET_10001", "true");
    set("RET_10001", "false");
    set("N_TENT", "05");
    set("N_TENT", "5");
    set("N_TENT", "00");
    set("TMP_TENT", "10");
    set("TMP_TENT", "7");
    set("TMP_TENT", "02");
    set("VERSAO", "");
    set("DISCOVER", "");
    set("OUTRO", "");
    set("DEBUG", "false");
    set("DEBUG", "false");
    std::vector<std::string> expected = {
        "Debug ativado via comando SetDriver ",
        "Interface configurada via comando SetSAT: /dev/ttyUSB0",
        "Erro ao tentar configurar Interface via comando SetDriver ",
        "Mensagens Popup desativadas via comando SetDriver ",
        "Mensagens Popup ativadas via comando SetDriver ",
        "Lock das funções ativado via comando SetDriver ",
        "Lock das funções desativado via comando SetDriver ",
        "Retorno 10099->10001 ativado via comando SetDriver ",
        "Retorno 10099->10001 desativado via comando SetDriver ",
        "(SetDriver)Num. de tentativas de transmissão de cupons redefinido para: 05",
        "(SetDriver)N_TENT: valor inválido ",
        "(SetDriver)Num. de tentativas de transmissão de cupons redefinido para valor mínimo: 1 ",
        "(SetDriver)Tempo entre tentativas de transmissão de cupons redefinido para: 10",
        "(SetDriver)TMP_TENT: valor inválido ",
        "(SetDriver)Tempo entre tentativas de transmissão de cupons redefinido para valor mínimo: "
        "3 ",
        "(SetDriver)Informada versão da DLL via comando SetDriver: 3.0.0.3_x86",
        "Funcao DISCOVER nao implementada no comando SetDriver ",
        "Funcao nao implementada no comando SetDriver ",
        "Debug desativado via comando SetDriver ",
    };
    EXPECT_EQ(log_details(halvex), expected);
}

} // namespace
