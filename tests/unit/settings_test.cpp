// Start-up, sat.ini, the debug log and SetDriver. Every test runs in a private
// namespace with its own /var/torvane_halvex.
#include "sandbox.h"
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::read_file;

// Log lines without their timestamps, whose format is checked on the way.
std::vector<std::string> log_lines(const std::string& halvex) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(halvex + "/lib_torvane_halvex.log"));
    const std::regex stamp(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d: .*)");
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(std::regex_match(line, stamp)) << line;
        lines.push_back(line.substr(21));
    }
    return lines;
}

std::string set(const char* parameter, const char* value) {
    return SetDriver(const_cast<char*>(parameter), const_cast<char*>(value));
}

struct IniCase {
    const char* ini;
    std::function<void()> check;
};

TEST(Settings, KeysChecksAndLimits) {
    const IniCase cases[] = {
        {"",
         [] {
             EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0");
             EXPECT_STREQ(SAT_NOPOPUP, "true");
             EXPECT_EQ(ModoLock + NumTent + TmpTent + ModoDebug + Corrigir + Ret10001, 8);
         }},
        {"[DEFAULT]\nDEBUG=trueX\nNO_POPUP=false-more\nCORRECAO=true\nLOCK=no\nRET_10001=true\n",
         [] {
             EXPECT_EQ(ModoDebug + Corrigir + Ret10001, 3);
             EXPECT_EQ(ModoLock, 0);
             EXPECT_STREQ(SAT_NOPOPUP, "false") << "cut at five characters";
         }},
        {"[default]\nDEBUG=TRUE\nLOCK=1\n", [] { EXPECT_EQ(ModoDebug + ModoLock, 0); }},
        {"[DEFAULT]\nSERIAL=ttyUSB0\n", [] { EXPECT_STREQ(SAT_SERIAL, "/dev/ttyUSB0"); }},
        {"[DEFAULT]\nSERIAL=/dev/ttyACM0\n", [] { EXPECT_STREQ(SAT_SERIAL, "/dev/ttyACM0"); }},
        {"[DEFAULT]\nSERIAL=\n", [] { EXPECT_STREQ(SAT_SERIAL, "/dev/"); }},
        {"[DEFAULT]\nSERIAL=abcdefghijklmnopqrstuvwx\n",
         [] { EXPECT_STREQ(SAT_SERIAL, "/dev/abcdefghijklmnopqrstuvwx"); }},
        // With "/dev/" in front it would not fit: the built-in path stays.
        {"[DEFAULT]\nSERIAL=abcdefghijklmnopqrstuvwxy\n",
         [] { EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0"); }},
        {"[DEFAULT]\nN_TENT=0\nTMP_TENT=2\n", [] { EXPECT_EQ(NumTent * 100 + TmpTent, 103); }},
        {"[DEFAULT]\nN_TENT=99\nTMP_TENT=45\n", [] { EXPECT_EQ(NumTent * 100 + TmpTent, 9945); }},
        {"[DEFAULT]\nN_TENT=100\nTMP_TENT=x5\n", [] { EXPECT_EQ(NumTent * 100 + TmpTent, 106); }},
        {"[DEFAULT]\nN_TENT=-1\nTMP_TENT=7\n", [] { EXPECT_EQ(NumTent * 100 + TmpTent, 107); }},
        {"[DEFAULT]\n[TIMEOUT]\nT_CONSULTAR_SAT=01:30\n",
         [] { EXPECT_EQ(T_Cons[0] * 100 + T_Cons[1], 130); }},
        {"[TIMEOUT]\nT_CONSULTAR_SAT=99:99\n[DEFAULT]\n",
         [] { EXPECT_EQ(T_Cons[0] * 100 + T_Cons[1], 9999); }},
        {"[DEFAULT]\n[OUTRA]\n[TIMEOUT]\nT_CONSULTAR_SAT=01:30\n", [] { EXPECT_EQ(T_Cons[1], 4); }},
        {"[DEFAULT]\n[timeout]\nT_CONSULTAR_SAT=01:30\n", [] { EXPECT_EQ(T_Cons[1], 4); }},
        {"[TIMEOUT]\nT_CONSULTAR_SAT=1:30\nT_EXTRAIR_LOGS=01-30\nT_BLOQUEAR_SAT=00:07\n",
         [] {
             EXPECT_EQ(T_Cons[1] * 100 + T_Logs[1], 420);
             EXPECT_EQ(T_Bloq[0] * 100 + T_Bloq[1], 7);
         }},
    };
    SAT_ENTER_SANDBOX(halvex);
    const std::string ini = halvex + "/sat.ini";
    for (const IniCase& c : cases) {
        SCOPED_TRACE(c.ini);
        // Each case in a child process, which starts with the load values.
        EXPECT_EXIT(
            {
                if (*c.ini)
                    testsupport::write_file(ini, c.ini);
                else
                    std::remove(ini.c_str());
                init_lib();
                c.check();
                std::exit(::testing::Test::HasFailure() ? 1 : 0);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

TEST(Settings, DebugLogLines) {
    SAT_ENTER_SANDBOX(halvex);
    testsupport::write_file(halvex + "/sat.ini",
                            "[DEFAULT]\nDEBUG=true\nNO_POPUP=no\nLOCK=false\nN_TENT=05\n"
                            "TMP_TENT=02\n[TIMEOUT]\nT_CONSULTAR_SAT=01:30\n"
                            "T_CONFIGURAR_INTERFACE_DE_REDE=00:45\n");
    init_lib();
    std::vector<std::string> expected = {
        "Arquivo \"ini\" esta presente. Modo debug ativado ",
        "Versao da lib: 3.0.0.3_x86",
        "Utilizando interface: /dev/ttyQZ0",
        "Mensagens Popup ativadas ",
        "Correcao de caracteres escapados desativada ",
        "Lock das funcoes desativada ",
        "Retorno 10099->10001 desativado ",
        "Num. de tentativas de transmissao de cupons redefinido para: 05",
        "Tempo entre tentativas de transmissao de cupons redefinido para valor minimo (em "
        "segundos): 3",
        "Definicao de novos timeouts presente. ",
        "Timeout_ConsultarSAT redefinido para: 01:30",
        "Timeout_ConfigurarInterfacceDeRede redefinido para: 00:45"};
    EXPECT_EQ(log_lines(halvex), expected);
    EXPECT_EQ(SAT_NOPOPUP[0], 'n') << "no console messages: only \"false\" turns them on";
    EXPECT_FALSE(sat::console_on());
}

TEST(Settings, NothingLoggedWhileDebugIsOff) {
    SAT_ENTER_SANDBOX(halvex);
    testsupport::write_file(halvex + "/sat.ini", "[DEFAULT]\nDEBUG=false\n");
    init_lib();
    set("SERIAL", "/dev/sat-missing");
    ConsultarSAT(1);
    EXPECT_FALSE(file_existe((halvex + "/lib_torvane_halvex.log").c_str()));
}

TEST(SetDriver, KeywordsAndResults) {
    SAT_ENTER_SANDBOX(halvex);
    struct {
        const char* parameter;
        const char* value;
        const char* result;
        int* global;
        int expected;
    } cases[] = {
        {"LOCK", "true", "OK", &ModoLock, 1},    {"LOCKED", "false", "OK", &ModoLock, 0},
        {"RET_X", "trueX", "OK", &Ret10001, 1},  {"RET_10001", "1", "OK", &Ret10001, 0},
        {"DEBUG", "true", "OK", &ModoDebug, 1},  {"debug", "false", "FALHA", &ModoDebug, 1},
        {"N_TENT", "05", "OK", &NumTent, 5},     {"N_TENT", "5", "ERRO", &NumTent, 1},
        {"N_TENT", "5x", "OK", &NumTent, 5},     {"N_TENT", "00", "ERRO", &NumTent, 1},
        {"N_TENT", "99", "OK", &NumTent, 99},    {"N_TENT", "100", "ERRO", &NumTent, 1},
        {"TMP_TENT", "10", "OK", &TmpTent, 10},  {"TMP_TENT", "02", "ERRO", &TmpTent, 3},
        {"TMP_TEN", "07", "OK", &TmpTent, 7},    {"TMP_TENT", "7", "ERRO", &TmpTent, 6},
        {"DISCOVER", "x", "FALHA", &TmpTent, 6}, {"VERSAO", "x", "3.0.0.3_x86", &TmpTent, 6},
        {"DEBUG", "no", "OK", &ModoDebug, 0},    {nullptr, nullptr, "FALHA", &ModoDebug, 0},
    };
    for (auto& c : cases) {
        EXPECT_EQ(set(c.parameter, c.value), c.result) << c.parameter << "=" << c.value;
        EXPECT_EQ(*c.global, c.expected) << c.parameter << "=" << c.value;
    }
    EXPECT_EQ(set("NO_POPUP", "false"), "OK");
    EXPECT_TRUE(sat::console_on());
    EXPECT_EQ(set("NO_POPUP", "true"), "OK");
    EXPECT_FALSE(sat::console_on());
}

TEST(SetDriver, SerialPathFitsOrStays) {
    SAT_ENTER_SANDBOX(halvex);
    struct {
        const char* value;
        const char* result;
        const char* path;
    } cases[] = {{"ttyUSB0", "OK", "/dev/ttyUSB0"},
                 {"/dev/ttyS1", "OK", "/dev/ttyS1"},
                 {"", "ERRO", "/dev/ttyS1"},
                 {nullptr, "ERRO", "/dev/ttyS1"},
                 {"abcdefghijklmnopqrstuvwxy", "ERRO", "/dev/ttyS1"},
                 {"/dev/abcdefghijklmnopqrstuvwx", "OK", "/dev/abcdefghijklmnopqrstuvwx"},
                 {"/dev/abcdefghijklmnopqrstuvwxy", "ERRO", "/dev/abcdefghijklmnopqrstuvwx"}};
    for (auto& c : cases) {
        EXPECT_EQ(set("SERIAL", c.value), c.result) << (c.value ? c.value : "null");
        EXPECT_STREQ(SAT_SERIAL, c.path);
    }
}

TEST(SetDriver, ConsoleLineAndLogLines) {
    SAT_ENTER_SANDBOX(halvex);
    testing::internal::CaptureStdout();
    set("LOCK", "true");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Parametro: |LOCK| - Valor: |true|\n");
    for (auto [p, v] : {std::pair{"DEBUG", "true"},
                        {"SERIAL", "ttyS0"},
                        {"SERIAL", ""},
                        {"LOCK", "false"},
                        {"N_TENT", "5"},
                        {"TMP_TENT", "02"},
                        {"VERSAO", ""},
                        {"OUTRO", ""},
                        {"DEBUG", "false"},
                        {"DEBUG", "false"}})
        set(p, v);
    std::vector<std::string> expected = {
        "Debug ativado via comando SetDriver ",
        "Interface configurada via comando SetSAT: /dev/ttyS0",
        "Erro ao tentar configurar Interface via comando SetDriver ",
        "Lock das funções desativado via comando SetDriver ",
        "(SetDriver)N_TENT: valor inválido ",
        "(SetDriver)Tempo entre tentativas de transmissão de cupons redefinido para valor mínimo: "
        "3 ",
        "(SetDriver)Informada versão da DLL via comando SetDriver: 3.0.0.3_x86",
        "Funcao nao implementada no comando SetDriver ",
        "Debug desativado via comando SetDriver "};
    EXPECT_EQ(log_lines(halvex), expected);
}

TEST(DebugLog, FailedOpenNamesNodeAndSystemError) {
    SAT_ENTER_SANDBOX(halvex);
    set("DEBUG", "true");
    set("SERIAL", "/dev/sat-missing");
    ConsultarSAT(125);
    set("DEBUG", "false");
    const std::vector<std::string> lines = log_lines(halvex);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "init_usb: Falha ao abrir o dispositivo /dev/sat-missing: No such file or "
                        "directory"),
              lines.end());
}

TEST(Console, MissingDeviceMessagesFollowNoPopup) {
    SAT_ENTER_SANDBOX(halvex);
    set("SERIAL", "/dev/sat-missing");
    set("NO_POPUP", "false");
    testing::internal::CaptureStdout();
    EXPECT_STREQ(ConsultarSAT(123), "000123|08098|SAT em processamento. Tente novamente.||");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "init_usb: Falha ao tentar abrir o dispositivo /dev/sat-missing\n"
              "EnviaParaSat: Falha ao configurar a interface /dev/sat-missing\n");
    std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "no");
    testing::internal::CaptureStdout();
    ConsultarSAT(124);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

} // namespace
