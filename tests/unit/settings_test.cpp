// Start-up and the settings file: every key, the [TIMEOUT] rule, the attempt
// limits, the debug log lines and the console convention. Each test runs in a
// private namespace with its own /var/torvane_halvex.
#include "sat_internal.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::read_file;
using testsupport::write_file;

// The log lines without their timestamps, which are checked on the way.
std::vector<std::string> log_lines(const std::string& halvex) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(halvex + "/lib_torvane_halvex.log"));
    std::string line;
    const std::regex stamp(R"(^\d\d-\d\d-\d{4} \d\d:\d\d:\d\d: )");
    while (std::getline(in, line)) {
        EXPECT_TRUE(std::regex_search(line, stamp)) << line;
        lines.push_back(line.size() >= 21 ? line.substr(21) : line);
    }
    return lines;
}

void start_with(const std::string& halvex, const std::string& ini) {
    ASSERT_TRUE(write_file(halvex + "/sat.ini", ini));
    ASSERT_EQ(init_lib(), 0);
}

TEST(Settings, NoFileGivesTheBuiltInValues) {
    SAT_ENTER_SANDBOX(halvex);
    EXPECT_EQ(SAT_SERIAL[0], '\0') << "not started at load";
    ASSERT_EQ(init_lib(), 0);
    EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0");
    EXPECT_STREQ(SAT_DEBUG, "false");
    EXPECT_STREQ(SAT_NOPOPUP, "true");
    EXPECT_STREQ(SAT_CORRECAO, "false");
    EXPECT_STREQ(SAT_LOCK, "true");
    EXPECT_STREQ(SAT_RET_10001, "false");
    EXPECT_EQ(ModoDebug, 0);
    EXPECT_EQ(Corrigir, 0);
    EXPECT_EQ(ModoLock, 1);
    EXPECT_EQ(Ret10001, 0);
    EXPECT_EQ(NumTent, 1);
    EXPECT_EQ(TmpTent, 6);
    EXPECT_EQ(T_Cons[0], 0);
    EXPECT_EQ(T_Cons[1], 4);
    EXPECT_FALSE(file_existe((halvex + "/lib_torvane_halvex.log").c_str()));
}

TEST(Settings, FlagsAndTexts) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, "[DEFAULT]\nDEBUG=trueX\nNO_POPUP=false\nCORRECAO=true\nLOCK=false\n"
                       "RET_10001=true\n");
    EXPECT_EQ(ModoDebug, 1);
    EXPECT_STREQ(SAT_NOPOPUP, "false");
    EXPECT_EQ(Corrigir, 1);
    EXPECT_EQ(ModoLock, 0);
    EXPECT_EQ(Ret10001, 1);
}

TEST(Settings, FlagsAreCaseSensitive) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, "[default]\nDEBUG=TRUE\nCORRECAO=yes\nLOCK=1\nRET_10001=True\n");
    EXPECT_EQ(ModoDebug, 0);
    EXPECT_EQ(Corrigir, 0);
    EXPECT_EQ(ModoLock, 0) << "[default] is found by the reader; LOCK=1 is off";
    EXPECT_EQ(Ret10001, 0);
    EXPECT_FALSE(file_existe((halvex + "/lib_torvane_halvex.log").c_str()));
}

TEST(Settings, TextsAreCutAtTheirLimits) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, "[DEFAULT]\nDEBUG=falsefalse\nNO_POPUP=false-and-more\n");
    EXPECT_STREQ(SAT_DEBUG, "false");
    EXPECT_STREQ(SAT_NOPOPUP, "false");
}

struct SerialCase {
    const char* value;
    const char* expected;
};
class SerialKey : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialKey, PrefixAndLength) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, std::string("[DEFAULT]\nSERIAL=") + GetParam().value + "\n");
    EXPECT_STREQ(SAT_SERIAL, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SerialKey,
    ::testing::Values(SerialCase{"ttyUSB0", "/dev/ttyUSB0"},
                      SerialCase{"/dev/ttyACM0", "/dev/ttyACM0"}, SerialCase{"", "/dev/"},
                      // 24 characters fit behind "/dev/", 25 do not: the built-in path stays.
                      SerialCase{"abcdefghijklmnopqrstuvwx", "/dev/abcdefghijklmnopqrstuvwx"},
                      SerialCase{"abcdefghijklmnopqrstuvwxy", "/dev/ttyQZ0"},
                      SerialCase{"/dev/abcdefghijklmnopqrstuvwxyz",
                                 "/dev/abcdefghijklmnopqrstuvwx"}));

TEST(Settings, SerialTooLongIsLogged) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, "[DEFAULT]\nDEBUG=true\nSERIAL=abcdefghijklmnopqrstuvwxyz\n");
    EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0");
    auto lines = log_lines(halvex);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Interface do arquivo ini muito longa, mantida: /dev/ttyQZ0");
    EXPECT_EQ(lines[3], "Utilizando interface: /dev/ttyQZ0");
}

struct AttemptCase {
    const char* n_tent;
    const char* tmp_tent;
    int num_tent;
    int tmp;
};
class AttemptKeys : public ::testing::TestWithParam<AttemptCase> {};

TEST_P(AttemptKeys, Limits) {
    SAT_ENTER_SANDBOX(halvex);
    const AttemptCase& c = GetParam();
    start_with(halvex,
               std::string("[DEFAULT]\nN_TENT=") + c.n_tent + "\nTMP_TENT=" + c.tmp_tent + "\n");
    EXPECT_EQ(NumTent, c.num_tent) << "N_TENT=" << c.n_tent;
    EXPECT_EQ(TmpTent, c.tmp) << "TMP_TENT=" << c.tmp_tent;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, AttemptKeys,
    ::testing::Values(AttemptCase{"0", "2", 1, 3}, AttemptCase{"99", "3", 99, 3},
                      AttemptCase{"100", "45", 1, 45}, AttemptCase{"-1", "100", 1, 6},
                      AttemptCase{"5", "7", 5, 7}, AttemptCase{"05", "09", 5, 9},
                      AttemptCase{"", "", 1, 6}, AttemptCase{"5x", "x5", 1, 6},
                      AttemptCase{"00", "00", 1, 3}));

struct TimeoutCase {
    const char* ini;
    int minutes;
    int seconds;
};
class TimeoutSection : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(TimeoutSection, PositionAndValue) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, GetParam().ini);
    EXPECT_EQ(T_Cons[0], GetParam().minutes) << GetParam().ini;
    EXPECT_EQ(T_Cons[1], GetParam().seconds) << GetParam().ini;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TimeoutSection,
    ::testing::Values(
        TimeoutCase{"[DEFAULT]\nLOCK=true\n[TIMEOUT]\nT_CONSULTAR_SAT=01:30\n", 1, 30},
        TimeoutCase{"[TIMEOUT]\nT_CONSULTAR_SAT=99:99\n[DEFAULT]\nLOCK=true\n", 99, 99},
        TimeoutCase{"[DEFAULT]\n[OUTRA]\n[TIMEOUT]\nT_CONSULTAR_SAT=01:30\n", 0, 4},
        TimeoutCase{"[DEFAULT]\n[timeout]\nT_CONSULTAR_SAT=01:30\n", 0, 4},
        TimeoutCase{"[DEFAULT]\n[TIMEOUTS]\nT_CONSULTAR_SAT=01:30\n", 0, 4},
        TimeoutCase{"[TIMEOUT]\nT_CONSULTAR_SAT=1:30\n", 0, 4},
        TimeoutCase{"[TIMEOUT]\nT_CONSULTAR_SAT=01-30\n", 0, 4},
        TimeoutCase{"[TIMEOUT]\nT_CONSULTAR_SAT=01:300\n", 0, 4},
        TimeoutCase{"[TIMEOUT]\nT_CONSULTAR_SAT=00:00\n", 0, 0}));

TEST(Settings, EveryTimeoutKeySetsItsPair) {
    SAT_ENTER_SANDBOX(halvex);
    const char* keys[] = {"T_ATIVAR_SAT",
                          "T_COMUNICAR_CERTIFICADO_ICPBRASIL",
                          "T_ENVIAR_DADOS_VENDA",
                          "T_CANCELAR_ULTIMA_VENDA",
                          "T_CONSULTAR_SAT",
                          "T_TESTE_FIM_A_FIM",
                          "T_CONSULTAR_STATUS_OPERACIONAL",
                          "T_CONSULTAR_NUMERO_SESSAO",
                          "T_CONSULTAR_ULTIMA_SESSAO_FISCAL",
                          "T_CONFIGURAR_INTERFACE_DE_REDE",
                          "T_ASSOCIAR_ASSINATURA",
                          "T_ATUALIZAR_SOFTWARE_SAT",
                          "T_EXTRAIR_LOGS",
                          "T_BLOQUEAR_SAT",
                          "T_DESBLOQUEAR_SAT",
                          "T_TROCAR_CODIGO_DE_ATIVACAO"};
    int* pairs[] = {T_Ativ,         T_ICP,  T_Venda, T_Canc,  T_Cons, T_Fim,  T_Stat,    T_Sessao,
                    T_SessaoFiscal, T_Rede, T_Assoc, T_Atual, T_Logs, T_Bloq, T_Desbloq, T_CodAtiv};
    std::string ini = "[TIMEOUT]\n";
    for (int i = 0; i < 16; ++i) {
        char value[8];
        std::snprintf(value, sizeof value, "%02d:%02d", i + 1, 50 - i);
        ini += std::string(keys[i]) + "=" + value + "\n";
    }
    start_with(halvex, ini);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(pairs[i][0], i + 1) << keys[i];
        EXPECT_EQ(pairs[i][1], 50 - i) << keys[i];
    }
}

TEST(Settings, DebugLogLinesInOrder) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, "[DEFAULT]\nDEBUG=true\nSERIAL=ttyS3\nNO_POPUP=no\nN_TENT=05\nTMP_TENT=02\n"
                       "[TIMEOUT]\nT_CONSULTAR_SAT=01:30\nT_EXTRAIR_LOGS=1:00\n"
                       "T_CONFIGURAR_INTERFACE_DE_REDE=00:45\n");
    std::vector<std::string> expected = {
        "Arquivo \"ini\" esta presente. Modo debug ativado ",
        "Versao da lib: 3.0.0.3_x86",
        "Utilizando interface: /dev/ttyS3",
        "Mensagens Popup ativadas ",
        "Correcao de caracteres escapados desativada ",
        "Lock das funcoes ativada ",
        "Retorno 10099->10001 desativado ",
        "Num. de tentativas de transmissao de cupons redefinido para: 05",
        "Tempo entre tentativas de transmissao de cupons redefinido para valor minimo (em "
        "segundos): 3",
        "Definicao de novos timeouts presente. ",
        "Timeout_ConsultarSAT redefinido para: 01:30",
        "Timeout_ConfigurarInterfacceDeRede redefinido para: 00:45",
    };
    EXPECT_EQ(log_lines(halvex), expected);
    EXPECT_EQ(TmpTent, 3);
}

TEST(Settings, DebugLogLinesOtherBranches) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, "[DEFAULT]\nDEBUG=true\nNO_POPUP=true\nCORRECAO=true\nLOCK=no\n"
                       "RET_10001=true\nN_TENT=0\nTMP_TENT=45\n");
    std::vector<std::string> expected = {
        "Arquivo \"ini\" esta presente. Modo debug ativado ",
        "Versao da lib: 3.0.0.3_x86",
        "Utilizando interface: /dev/ttyQZ0",
        "Mensagens Popup desativadas ",
        "Correcao de caracteres escapados ativada ",
        "Lock das funcoes desativada ",
        "Retorno 10099->10001 ativado ",
        "Num. de tentativas de transmissao cupons redefinido para valor minimo: 1",
        "Tempo entre tentativas de transmissao de cupons redefinido para (em segundos): 45",
    };
    EXPECT_EQ(log_lines(halvex), expected);
}

TEST(Settings, InitLibAgainRereadsTheFile) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, "[DEFAULT]\nSERIAL=ttyS1\nNO_POPUP=false\n");
    EXPECT_STREQ(SAT_SERIAL, "/dev/ttyS1");
    start_with(halvex, "[DEFAULT]\nLOCK=false\n");
    EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0");
    EXPECT_STREQ(SAT_NOPOPUP, "true");
    EXPECT_EQ(ModoLock, 0);
}

TEST(Log, LineFormat) {
    SAT_ENTER_SANDBOX(halvex);
    EXPECT_EQ(EnviaLog("Versao da lib: ", "3.0.0.3_x86"), 0);
    EXPECT_EQ(EnviaLog("segunda ", nullptr), 0);
    std::string text = read_file(halvex + "/lib_torvane_halvex.log");
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d: )"
                                                  R"(Versao da lib: 3\.0\.0\.3_x86\n)"
                                                  R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d: segunda \n)")))
        << text;
}

TEST(Log, MissingFolderFailsWithAConsoleMessageWhenOn) {
    SAT_ENTER_SANDBOX(halvex);
    ASSERT_EQ(std::system(("rm -rf '" + halvex + "'/* && chmod 0555 '" + halvex + "'").c_str()), 0);
    if (write_file(halvex + "/probe", "x"))
        GTEST_SKIP() << "running with rights over read-only folders";
    std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "false");
    testing::internal::CaptureStdout();
    EXPECT_EQ(EnviaLog("a", "b"), -1);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "EnviaLog: Erro ao abrir o arquivo de logs!\n");
    std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "true");
    testing::internal::CaptureStdout();
    EXPECT_EQ(EnviaLog("a", "b"), -1);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A missing device: busy answer, and the console messages only when NO_POPUP allows.
TEST(Console, MissingDeviceMessagesFollowNoPopup) {
    SAT_ENTER_SANDBOX(halvex);
    start_with(halvex, "[DEFAULT]\nSERIAL=/dev/sat-nonexistent\nNO_POPUP=false\nLOCK=false\n");
    testing::internal::CaptureStdout();
    char* answer = ConsultarSAT(123);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "init_usb: Falha ao tentar abrir o dispositivo /dev/sat-nonexistent\n"
              "EnviaParaSat: Falha ao configurar a interface /dev/sat-nonexistent\n");
    EXPECT_STREQ(answer, "000123|08098|SAT em processamento. Tente novamente.||");
    EXPECT_EQ(answer, BC.Dados);
    EXPECT_EQ(fdUSB, -1);

    std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "no");
    testing::internal::CaptureStdout();
    answer = ConsultarSAT(124);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_STREQ(answer, "000124|08098|SAT em processamento. Tente novamente.||");
}

TEST(Console, FirstCallStartsTheLibraryInsideTheSend) {
    SAT_ENTER_SANDBOX(halvex);
    ASSERT_TRUE(write_file(halvex + "/sat.ini", "[DEFAULT]\nSERIAL=/dev/sat-nonexistent\n"
                                                "DEBUG=true\n[TIMEOUT]\nT_CONSULTAR_SAT=00:09\n"));
    long before = tick();
    char* answer = ConsultarSAT(5);
    EXPECT_STREQ(answer, "000005|08098|SAT em processamento. Tente novamente.||");
    EXPECT_STREQ(SAT_SERIAL, "/dev/sat-nonexistent");
    // The first deadline was set from the built-in pair, before the file was read.
    EXPECT_LE(Tempo_Tout, tick() + 4);
    EXPECT_GE(Tempo_Tout, before + 4);
    EXPECT_EQ(T_Cons[1], 9);
    auto lines = log_lines(halvex);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Arquivo \"ini\" esta presente. Modo debug ativado ");
    EXPECT_EQ(lines.back(),
              "Resposta de ConsultarSAT: 000005|08098|SAT em processamento. Tente novamente.||");
}

} // namespace
