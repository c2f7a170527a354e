// satcli with bad input, as a shop's technician might hand it: a binary or
// missing config.ini, values longer than their buffers, documents that are
// missing, unreadable, folders or binary, and a log file that cannot be
// created. The program must end normally with the right status and message,
// and leave every existing file as it was. One table; one test per row.
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "emulator.h"
#include "faults.h"
#include "sandbox.h"

namespace {

struct Outcome {
    int status = -1; // exit status; -1 when killed by a signal or stuck
    std::string out, err;
};

Outcome run_satcli(const std::string& dir, const std::vector<std::string>& args) {
    Outcome r;
    const std::string out = dir + "/.out", err = dir + "/.err";
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> argv{const_cast<char*>("satcli")};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(SATCLI_PATH, argv.data());
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
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    r.out = testsupport::read_file(out);
    r.err = testsupport::read_file(err);
    return r;
}

// Also out of the bounding set: root gets its capabilities back at exec otherwise.
void drop_file_capabilities() {
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    syscall(SYS_capget, &head, data);
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        data[cap / 32].effective &= ~(1u << (cap % 32));
        data[cap / 32].permitted &= ~(1u << (cap % 32));
        data[cap / 32].inheritable &= ~(1u << (cap % 32));
    }
    syscall(SYS_capset, &head, data);
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

struct Case {
    const char* name;
    std::function<void(const std::string& dir)> prepare;
    std::vector<std::string> args;
    int status;
    const char* out_has; // text that standard output must hold
    const char* err_has; // text that standard error must hold ("" for none)
    const char* kept;    // a path under the folder that must be left as it was, or null
};

const std::string kConfig = faults::read_source_file("examples/config.ini");

void write(const std::string& path, const std::string& text) {
    ASSERT_TRUE(testsupport::write_file(path, text));
}

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"BinaryConfigRefused",
         [](const std::string& d) { write(d + "/config.ini", binary_bytes(70000)); },
         {"AtivarSAT", faults::kCode},
         1,
         "Erro no arquivo config.ini",
         "",
         "config.ini"},
        {"BinaryConfigNetwork",
         [](const std::string& d) { write(d + "/config.ini", binary_bytes(4096)); },
         {"ConfigurarInterfaceDeRede", faults::kCode},
         1,
         "",
         "",
         "config.ini"},
        {"ConfigIsAFolder",
         [](const std::string& d) { mkdir((d + "/config.ini").c_str(), 0755); },
         {"AtivarSAT", faults::kCode},
         1,
         "Erro no arquivo config.ini",
         "",
         nullptr},
        {"ConfigMissing",
         [](const std::string&) {},
         {"TesteFimAFim", faults::kCode},
         1,
         "Erro no arquivo config.ini",
         "",
         nullptr},
        {"LongConfigValuesAreCut",
         [](const std::string& d) { write(d + "/config.ini", long_config(5000)); },
         {"AtivarSAT", faults::kCode},
         0,
         "Retorno: ",
         "",
         "config.ini"},
        {"LongConfigValuesTestSale",
         [](const std::string& d) { write(d + "/config.ini", long_config(5000)); },
         {"TesteFimAFim", faults::kCode},
         0,
         "Retorno: ",
         "",
         "config.ini"},
        {"LongConfigValuesNetwork",
         [](const std::string& d) { write(d + "/config.ini", long_config(5000)); },
         {"ConfigurarInterfaceDeRede", faults::kCode},
         1,
         "",
         "",
         "config.ini"},
        {"LongArgument",
         [](const std::string&) {},
         {"ConsultarStatusOperacional", std::string(100000, 'c')},
         0,
         "Retorno: ",
         "",
         nullptr},
        {"SessionNotANumber",
         [](const std::string&) {},
         {"ConsultarNumeroSessao", faults::kCode, "99999999999999999999"},
         0,
         "Retorno: ",
         "",
         nullptr},
        {"SaleDocumentMissing",
         [](const std::string&) {},
         {"EnviarDadosVenda", faults::kCode, "nao.xml"},
         1,
         "nao conseguiu ler o arquivo: nao.xml",
         "",
         nullptr},
        {"SaleDocumentIsAFolder",
         [](const std::string& d) { mkdir((d + "/pasta").c_str(), 0755); },
         {"EnviarDadosVenda", faults::kCode, "pasta"},
         1,
         "nao conseguiu ler o arquivo: pasta",
         "",
         nullptr},
        {"SaleDocumentUnreadable",
         [](const std::string& d) {
             write(d + "/venda.xml", faults::sale_document());
             chmod((d + "/venda.xml").c_str(), 0);
         },
         {"EnviarDadosVenda", faults::kCode, "venda.xml"},
         1,
         "nao conseguiu ler o arquivo: venda.xml",
         "",
         nullptr},
        {"SaleDocumentBinary",
         [](const std::string& d) { write(d + "/venda.xml", binary_bytes(300000)); },
         {"EnviarDadosVenda", faults::kCode, "venda.xml"},
         0,
         "Retorno: ",
         "",
         "venda.xml"},
        {"CancelDocumentMissing",
         [](const std::string&) {},
         {"CancelarUltimaVenda", faults::kCode, "nao.xml"},
         1,
         "nao conseguiu ler o arquivo: nao.xml",
         "",
         nullptr},
        {"CancelDocumentIsAFolder",
         [](const std::string& d) { mkdir((d + "/pasta").c_str(), 0755); },
         {"CancelarUltimaVenda", faults::kCode, "pasta"},
         1,
         "nao conseguiu ler o arquivo: pasta",
         "",
         nullptr},
        {"CancelDocumentBinary",
         [](const std::string& d) { write(d + "/canc.xml", binary_bytes(5000)); },
         {"CancelarUltimaVenda", faults::kCode, "canc.xml"},
         0,
         "Retorno: ",
         "",
         "canc.xml"},
        {"LogFileIsAFolder",
         [](const std::string& d) { mkdir((d + "/log_sat.txt").c_str(), 0755); },
         {"ExtrairLogs", faults::kCode},
         1,
         "Cod Retorno: 15000",
         "Erro ao criar arquivo",
         nullptr},
        {"UnknownFunction",
         [](const std::string&) {},
         {std::string(5000, 'X')},
         1,
         "",
         "",
         nullptr},
    };
    return table;
}

class SatcliBadInput : public ::testing::TestWithParam<size_t> {};

TEST_P(SatcliBadInput, EndsWithTheRightStatusAndKeepsFiles) {
    const Case& c = cases()[GetParam()];
    FAULTS_SANDBOX(halvex);
    testsupport::Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    ASSERT_TRUE(
        testsupport::write_file(halvex + "/sat.ini", faults::settings(emu.device(), 1, 3, 3)));
    const std::string dir = testsupport::make_temp_dir("satcli");
    ASSERT_EQ(symlink(LIB_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    if (std::string(c.name).find("Config") == std::string::npos)
        write(dir + "/config.ini", kConfig);
    c.prepare(dir);
    std::string before;
    if (c.kept) before = testsupport::read_file(dir + "/" + c.kept);
    drop_file_capabilities(); // mode bits count for satcli too

    const Outcome r = run_satcli(dir, c.args);
    SCOPED_TRACE("stdout: " + r.out.substr(0, 2000) + "\nstderr: " + r.err.substr(0, 500));
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.out.find(c.out_has), std::string::npos);
    if (*c.err_has) {
        EXPECT_NE(r.err.find(c.err_has), std::string::npos);
    }
    if (c.kept) {
        EXPECT_EQ(testsupport::read_file(dir + "/" + c.kept), before) << c.kept << " changed";
    }
    struct stat st {};
    if (std::string(c.name) == "LogFileIsAFolder") {
        EXPECT_EQ(stat((dir + "/log_sat.txt").c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
    }
}

std::string case_name(const ::testing::TestParamInfo<size_t>& info) {
    return cases()[info.param].name;
}

INSTANTIATE_TEST_SUITE_P(Cases, SatcliBadInput, ::testing::Range<size_t>(0, cases().size()),
                         case_name);

} // namespace
