// Start-up, sat.ini, the debug log, the console and SetDriver. Every test runs in
// a private namespace with its own /var/torvane_halvex.
#include "sandbox.h"
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kLog = "/var/torvane_halvex/lib_torvane_halvex.log";

// Log lines without their timestamps, whose format is checked on the way.
std::vector<std::string> log_lines() {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::read_file(kLog));
    const std::regex stamp(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d: .*)");
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(std::regex_match(line, stamp)) << line;
        lines.push_back(line.substr(21));
    }
    return lines;
}

const char* set(const char* parameter, const char* value) {
    return SetDriver(const_cast<char*>(parameter), const_cast<char*>(value));
}

std::string console(const std::function<void()>& run) {
    testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(Settings, KeysChecksAndLimits) {
    const struct {
        std::string ini; // "<folder>": sat.ini is a folder
        std::function<void()> check;
    } cases[] = {
        // clang-format off
        {"", [] {
             EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0");
             EXPECT_STREQ(SAT_NOPOPUP, "true");
             EXPECT_EQ(ModoLock + NumTent + TmpTent + ModoDebug + Corrigir + Ret10001, 8);
         }},
        {"<folder>", [] { EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0"); }},
        {"[DEFAULT]\nDEBUG=trueX\nNO_POPUP=false-more\nCORRECAO=true\nLOCK=no\nRET_10001=true\n", [] {
             EXPECT_EQ(ModoDebug + Corrigir + Ret10001 - ModoLock, 3);
             EXPECT_STREQ(SAT_NOPOPUP, "false") << "cut at five characters";
             EXPECT_TRUE(sat::console_on());
         }},
        {"[default]\nDEBUG=TRUE\nLOCK=1\n", [] { EXPECT_EQ(ModoDebug + ModoLock, 0); }},
        {"[DEFAULT]\nDEBUG=false\n", [] {
             set("SERIAL", "/dev/sat-missing");
             ConsultarSAT(1);
             EXPECT_FALSE(file_existe(kLog)) << "nothing logged while DEBUG is off";
         }},
        {"[DEFAULT]\nSERIAL=ttyUSB0\n", [] { EXPECT_STREQ(SAT_SERIAL, "/dev/ttyUSB0"); }},
        {"[DEFAULT]\nSERIAL=abcdefghijklmnopqrstuvwx\n", [] { EXPECT_STREQ(SAT_SERIAL, "/dev/abcdefghijklmnopqrstuvwx"); }},
        // With "/dev/" in front it would not fit: the built-in path stays.
        {"[DEFAULT]\nDEBUG=true\nSERIAL=abcdefghijklmnopqrstuvwxy\n", [] {
             EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0");
             EXPECT_NE(testsupport::read_file(kLog).find("Interface do arquivo ini muito longa, mantida: "),
                       std::string::npos);
         }},
        {"[DEFAULT]\nN_TENT=0\nTMP_TENT=2\nNO_POPUP=no\n", [] {
             EXPECT_EQ(NumTent * 100 + TmpTent, 103);
             EXPECT_FALSE(sat::console_on()) << "only NO_POPUP=false turns the console on";
         }},
        {"[DEFAULT]\nN_TENT=100\nTMP_TENT=x5\n", [] { EXPECT_EQ(NumTent * 100 + TmpTent, 106); }},
        {"[TIMEOUT]\nT_CONSULTAR_SAT=99:99\n[DEFAULT]\n", [] { EXPECT_EQ(T_Cons[0] * 100 + T_Cons[1], 9999); }},
        {"[DEFAULT]\n[timeout]\nT_CONSULTAR_SAT=01:30\n", [] { EXPECT_EQ(T_Cons[1], 4); }},
        {"[TIMEOUT]\nT_CONSULTAR_SAT=1:30\nT_EXTRAIR_LOGS=01-30\nT_BLOQUEAR_SAT=00:07\n", [] {
             EXPECT_EQ(T_Cons[1] * 10000 + T_Logs[1] * 100 + T_Bloq[0] * 10 + T_Bloq[1], 42007);
         }},
        // clang-format on
    };
    SAT_ENTER_SANDBOX(halvex);
    const std::string ini = halvex + "/sat.ini";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini.substr(0, 80));
        // Each case in a child process, which starts with the load values.
        EXPECT_EXIT(
            {
                std::filesystem::remove_all(ini);
                std::remove(kLog);
                if (c.ini == "<folder>")
                    mkdir(ini.c_str(), 0755);
                else if (!c.ini.empty())
                    testsupport::write_file(ini, c.ini);
                init_lib();
                EXPECT_LT(strnlen(SAT_SERIAL, sizeof SAT_SERIAL), sizeof SAT_SERIAL);
                c.check();
                std::exit(::testing::Test::HasFailure() ? 1 : 0);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

TEST(SetDriver, KeywordsAndResults) {
    SAT_ENTER_SANDBOX(halvex);
    std::string huge(100000, 'A'), hostile = "a|b\x01\x1f\x7f\xff";
    const char* serial_30 = "/dev/abcdefghijklmnopqrstuvwx";
    struct {
        const char* parameter;
        const char* value;
        const char* result;
        int* global;
        int expected;
        const char* serial = nullptr;
    } cases[] = {
        {"LOCK", "true", "OK", &ModoLock, 1},
        {"RET_10001", "true", "OK", &Ret10001, 1},
        {"RET_10001", "1", "OK", &Ret10001, 0},
        {"DEBUG", "true", "OK", &ModoDebug, 1},
        {"debug", "false", "FALHA", &ModoDebug, 1},
        {"N_TENT", "05", "OK", &NumTent, 5},
        {"N_TENT", "5", "ERRO", &NumTent, 1},
        {"N_TENT", "00", "ERRO", &NumTent, 1},
        {"N_TENT", "100", "ERRO", &NumTent, 1},
        {"N_TENT", huge.c_str(), "ERRO", &NumTent, 1},
        {"TMP_TENT", "10", "OK", &TmpTent, 10},
        {"TMP_TENT", "02", "ERRO", &TmpTent, 3},
        {"TMP_TEN", "07", "OK", &TmpTent, 7},
        {"TMP_TENT", "7", "ERRO", &TmpTent, 6},
        {"VERSAO", "x", "3.0.0.3_x86", &TmpTent, 6},
        {"SERIAL", "ttyUSB0", "OK", &TmpTent, 6, "/dev/ttyUSB0"},
        {"SERIAL", "", "ERRO", &TmpTent, 6, "/dev/ttyUSB0"},
        {"SERIAL", hostile.c_str(), "OK", &TmpTent, 6, nullptr},
        {"SERIAL", huge.c_str(), "ERRO", &TmpTent, 6, nullptr},
        {"SERIAL", "abcdefghijklmnopqrstuvwxy", "ERRO", &TmpTent, 6, nullptr},
        {"SERIAL", serial_30, "OK", &TmpTent, 6, serial_30},
        {"SERIAL", "/dev/abcdefghijklmnopqrstuvwxy", "ERRO", &TmpTent, 6, serial_30},
        {"DEBUG", "no", "OK", &ModoDebug, 0},
        {nullptr, nullptr, "FALHA", &ModoDebug, 0},
    };
    for (auto& c : cases) {
        EXPECT_STREQ(set(c.parameter, c.value), c.result) << c.parameter << "=" << c.value;
        EXPECT_EQ(*c.global, c.expected) << c.parameter << "=" << c.value;
        if (c.serial) {
            EXPECT_STREQ(SAT_SERIAL, c.serial) << c.parameter << "=" << c.value;
        }
        EXPECT_LT(strnlen(SAT_SERIAL, sizeof SAT_SERIAL), sizeof SAT_SERIAL);
    }
    EXPECT_STREQ(set("NO_POPUP", "false"), "OK");
    EXPECT_TRUE(sat::console_on());
    EXPECT_STREQ(set("NO_POPUP", "true"), "OK");
    EXPECT_FALSE(sat::console_on());

    EXPECT_EQ(console([] { set("LOCK", "true"); }), "Parametro: |LOCK| - Valor: |true|\n");
}

// The console lines follow NO_POPUP; the debug log names the node and the system's error.
TEST(Console, MissingDeviceMessagesFollowNoPopup) {
    SAT_ENTER_SANDBOX(halvex);
    set("DEBUG", "true");
    set("SERIAL", "/dev/sat-missing");
    set("NO_POPUP", "false");
    EXPECT_EQ(console([] {
                  EXPECT_STREQ(ConsultarSAT(123),
                               "000123|08098|SAT em processamento. Tente novamente.||");
              }),
              "init_usb: Falha ao tentar abrir o dispositivo /dev/sat-missing\n"
              "EnviaParaSat: Falha ao configurar a interface /dev/sat-missing\n");
    std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "no");
    EXPECT_EQ(console([] { ConsultarSAT(124); }), "");
    const std::vector<std::string> lines = log_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "init_usb: Falha ao abrir o dispositivo /dev/sat-missing: No such file or "
                        "directory"),
              lines.end());
}

} // namespace
