// satcli with bad input, as a shop's technician might hand it: a binary or
// missing config.ini, values longer than their buffers, documents that are
// missing, unreadable, folders or binary, and a log file that cannot be
// created. The program must end normally with the right status and message,
// and leave every existing file as it was. One table; one test per row.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "emulator.h"
#include "faults.h"
#include "launcher.h"
#include "sandbox.h"

namespace {

struct Outcome {
    int status = -1; // exit status; -1 when killed by a signal or stuck
    std::string out, err;
};

Outcome run_satcli(const std::string& dir, const std::vector<std::string>& args) {
    const std::string out = dir + "/.out", err = dir + "/.err";
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        testsupport::exec_program(SATCLI_PATH, "satcli", args);
        _exit(127);
    }
    int status = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, testsupport::read_file(out),
              testsupport::read_file(err)};
    return r;
}

std::string binary_bytes(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>((i * 2654435761u >> 13) & 0xFF);
    return s;
}

// config.ini of the emulator's preset with every value `width` characters long.
std::string long_config(size_t width) {
    std::string ini = "[DEFAULT]\n";
    for (const char* k : {"LAYOUT", "CNPJ_CONTRIB", "IE_CONTRIB", "CNPJ_SH", "ASSINATURA_SH", "UF"})
        ini += std::string(k) + "=" + std::string(width, '7') + "\n";
    ini += "[REDE]\n";
    for (const char* k : {"tipoInter", "tipoLan", "lanIP", "proxy", "proxy_user"})
        ini += std::string(k) + "=" + std::string(width, '1') + "\n";
    return ini;
}

// "F @ x" -> {F, code, x}; a single word F -> {F, code}.
std::vector<std::string> split_args(const std::string& line) {
    std::vector<std::string> args;
    for (std::size_t p = 0, e; p <= line.size(); p = e + 1) {
        e = std::min(line.find(' ', p), line.size());
        args.push_back(line.substr(p, e - p) == "@" ? faults::kCode : line.substr(p, e - p));
    }
    if (args.size() == 1 && args[0].size() < 100) args.push_back(faults::kCode);
    return args;
}

// What is put at `path` before the run. Binary and long files must be left as
// they were; folders must still be folders.
enum class Prep { None, Binary, LongConfig, Folder, Unreadable };

struct Case {
    const char* name;
    Prep prep;
    const char* path; // under the run's folder
    size_t size;      // of the binary file
    std::string args; // split at spaces; "@" is the activation code, added when alone
    int status;
    const char* out_has; // text that standard output must hold
    const char* err_has; // text that standard error must hold ("" for none)
};

const std::string kConfig = faults::read_source_file("examples/config.ini");
const char* kNoRead = "nao conseguiu ler o arquivo: ";

const std::vector<Case> kCases = {
    {"BinaryConfigRefused", Prep::Binary, "config.ini", 70000, "AtivarSAT", 1,
     "Erro no arquivo config.ini", ""},
    {"BinaryConfigNetwork", Prep::Binary, "config.ini", 4096, "ConfigurarInterfaceDeRede", 1, "",
     ""},
    {"ConfigIsAFolder", Prep::Folder, "config.ini", 0, "AtivarSAT", 1, "Erro no arquivo config.ini",
     ""},
    {"ConfigMissing", Prep::None, "", 0, "TesteFimAFim", 1, "Erro no arquivo config.ini", ""},
    {"LongConfigValuesAreCut", Prep::LongConfig, "config.ini", 0, "AtivarSAT", 0, "Retorno: ", ""},
    {"LongConfigValuesTestSale", Prep::LongConfig, "config.ini", 0, "TesteFimAFim", 0,
     "Retorno: ", ""},
    {"LongConfigValuesNetwork", Prep::LongConfig, "config.ini", 0, "ConfigurarInterfaceDeRede", 1,
     "", ""},
    {"LongArgument", Prep::None, "", 0, "ConsultarStatusOperacional " + std::string(100000, 'c'), 0,
     "Retorno: ", ""},
    {"SessionNotANumber", Prep::None, "", 0, "ConsultarNumeroSessao @ 99999999999999999999", 0,
     "Retorno: ", ""},
    {"SaleDocumentMissing", Prep::None, "", 0, "EnviarDadosVenda @ nao.xml", 1, kNoRead, ""},
    {"SaleDocumentIsAFolder", Prep::Folder, "pasta", 0, "EnviarDadosVenda @ pasta", 1, kNoRead, ""},
    {"SaleDocumentUnreadable", Prep::Unreadable, "venda.xml", 0, "EnviarDadosVenda @ venda.xml", 1,
     kNoRead, ""},
    {"SaleDocumentBinary", Prep::Binary, "venda.xml", 300000, "EnviarDadosVenda @ venda.xml", 0,
     "Retorno: ", ""},
    {"CancelDocumentMissing", Prep::None, "", 0, "CancelarUltimaVenda @ nao.xml", 1, kNoRead, ""},
    {"CancelDocumentIsAFolder", Prep::Folder, "pasta", 0, "CancelarUltimaVenda @ pasta", 1, kNoRead,
     ""},
    {"CancelDocumentBinary", Prep::Binary, "canc.xml", 5000, "CancelarUltimaVenda @ canc.xml", 0,
     "Retorno: ", ""},
    {"LogFileIsAFolder", Prep::Folder, "log_sat.txt", 0, "ExtrairLogs", 1, "Cod Retorno: 15000",
     "Erro ao criar arquivo"},
    {"UnknownFunction", Prep::None, "", 0, std::string(5000, 'X'), 1, "", ""},
};

class SatcliBadInput : public ::testing::TestWithParam<size_t> {};

TEST_P(SatcliBadInput, EndsWithTheRightStatusAndKeepsFiles) {
    const Case& c = kCases[GetParam()];
    SAT_ENTER_SANDBOX_WITH(halvex, faults::enter_sandbox);
    testsupport::Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    ASSERT_TRUE(
        testsupport::write_file(halvex + "/sat.ini", faults::settings(emu.device(), 1, 3, 3)));
    const std::string dir = testsupport::make_temp_dir("satcli");
    const std::string path = dir + "/" + c.path;
    ASSERT_EQ(symlink(LIB_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    if (std::string(c.name).find("Config") == std::string::npos) {
        ASSERT_TRUE(testsupport::write_file(dir + "/config.ini", kConfig));
    }
    if (c.prep == Prep::Folder) {
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    }
    if (c.prep == Prep::Unreadable) {
        ASSERT_TRUE(testsupport::write_file(path, faults::sale_document()));
        ASSERT_EQ(chmod(path.c_str(), 0), 0);
    }
    const bool kept = c.prep == Prep::Binary || c.prep == Prep::LongConfig;
    if (kept) {
        ASSERT_TRUE(testsupport::write_file(path, c.prep == Prep::Binary ? binary_bytes(c.size)
                                                                         : long_config(5000)));
    }
    const std::string before = kept ? testsupport::read_file(path) : "";
    faults::drop_file_capabilities(); // mode bits count for satcli too

    const Outcome r = run_satcli(dir, split_args(c.args));
    SCOPED_TRACE("stdout: " + r.out.substr(0, 2000) + "\nstderr: " + r.err.substr(0, 500));
    EXPECT_EQ(r.status, c.status);
    std::string out_has =
        c.out_has == kNoRead ? kNoRead + c.args.substr(c.args.rfind(' ') + 1) : c.out_has;
    EXPECT_NE(r.out.find(out_has), std::string::npos);
    EXPECT_NE(r.err.find(c.err_has), std::string::npos);
    if (kept) {
        EXPECT_EQ(testsupport::read_file(path), before) << c.path << " changed";
    }
    struct stat st {};
    if (c.prep == Prep::Folder) {
        EXPECT_TRUE(stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << c.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SatcliBadInput, ::testing::Range<size_t>(0, kCases.size()),
                         [](const auto& row) { return std::string(kCases[row.param].name); });

} // namespace
