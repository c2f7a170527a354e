// satcli as a process with the tree's library under its shipped name, against
// satemu, as a user runs it: the whole output compared byte for byte with what the
// device answered, and the loader's message when the library is missing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "answers.h"
#include "base64.h"
#include "emulator.h"
#include "launcher.h"
#include "sandbox.h"

namespace {

using testsupport::read_file;

const std::string SEP = std::string(72, '=') + "\n", TRACOS = "\n" + std::string(70, '-');
const std::string P = "Parametros: \n", COD = "     Cod. Ativacao: 12345678\n";

std::string cabeca(const std::string& t) {
    return SEP + "\nExecutando funcao: " + t + "\n";
}
std::string ret(const std::string& r) {
    return "\nRetorno: " + r + "\n\n";
}
std::string decode(std::string_view text) {
    std::vector<char> out(text.size() + 1);
    std::size_t n = 0;
    torvane::base64_decode(text.data(), text.size(), out.data(), out.size(), &n);
    return std::string(out.data(), n);
}
std::string moldura(const std::string& rotulo, const std::string& answer) {
    return "\nChave " + rotulo + ": " + std::string(satcli::field(answer, 8)) + "\n" + TRACOS +
           "\n\n" + rotulo + ": " + decode(satcli::field(answer, 6)).c_str() + "\n\n" + TRACOS +
           "\n\n";
}

// satemu, a sat.ini pointing the library at it, and a folder with the library,
// config.ini and the sample sale, as the user keeps them.
struct Shop {
    explicit Shop(const std::string& halvex,
                  std::vector<std::string> emu_args = {"--preset", "active"})
        : emu(std::move(emu_args)) {
        testsupport::write_file(halvex + "/sat.ini",
                                "[DEFAULT]\nSERIAL=" + emu.device() + "\nNO_POPUP=true\n");
        EXPECT_EQ(symlink(LIB_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
        for (const char* f : {"config.ini", "venda.xml"})
            testsupport::write_file(dir + "/" + f, read_file(EXAMPLES_DIR "/" + std::string(f)));
    }
    testsupport::Run run(std::vector<std::string> args) {
        ++commands;
        return testsupport::run_program(testsupport::launch_args(SATCLI_PATH, args), dir);
    }
    // The last answer the device sent, as it went over the line.
    std::string last_answer() {
        for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            const std::string t = emu.transcript();
            int answers = 0;
            for (std::size_t p = 0; (p = t.find(" -> ", p)) != t.npos; p += 4)
                ++answers;
            if (answers < commands) continue;
            std::size_t p = t.rfind(" -> ") + 4;
            std::string last = testsupport::unescape_frame(t.substr(p, t.find('\n', p) - p));
            return last.substr(0, last.size() - (!last.empty() && last.back() == '\x03'));
        }
        ADD_FAILURE() << "no answer in the transcript";
        return "";
    }
    std::string last_frame() {
        auto f = emu.frames();
        return f.empty() ? "" : f.back().substr(0, f.back().size() - 2);
    }
    testsupport::Emulator emu;
    std::string dir = testsupport::make_temp_dir("satcli");
    int commands = 0;
};

TEST(Device, SaleLastSessionAndCancellation) {
    SAT_ENTER_SANDBOX(halvex);
    Shop s(halvex, {"--preset", "active", "--cancel-answer-fields", "11"});
    auto sale = s.run({"EnviarDadosVenda", "12345678", "venda.xml"});
    const std::string rv = s.last_answer();
    ASSERT_EQ(satcli::field(rv, 1), "06000") << rv;
    const std::string session(satcli::field(s.last_frame(), 2));
    EXPECT_EQ(s.last_frame(), "|03|" + session + "|12345678|" + read_file(s.dir + "/venda.xml"));
    EXPECT_EQ(sale.status, 0);
    EXPECT_EQ(sale.out, cabeca("EnviarDadosVendas") + P + COD + "       Arquivo CFe: venda.xml\n" +
                            ret(rv) + SEP + moldura("CFe", rv));
    const std::string key(satcli::field(rv, 8));
    ASSERT_EQ(key.size(), 47u);

    auto last = s.run({"ConsultarUltimaSessaoFiscal", "12345678"});
    const std::string ru = s.last_answer();
    EXPECT_EQ(last.out,
              cabeca("ConsultarUltimaSessaoFiscal") + P + COD + ret(ru) + moldura("CFe", ru) + SEP);

    const std::string canc = "<CFeCanc><infCFe chCanc=\"" + key +
                             "\"><ide><CNPJ>08317492000155</CNPJ><signAC>x</signAC><numeroCaixa>"
                             "001</numeroCaixa></ide><emit/><dest/><total/></infCFe></CFeCanc>";
    testsupport::write_file(s.dir + "/canc.xml", canc);
    auto cancel = s.run({"CancelarUltimaVenda", "12345678", "canc.xml"});
    // The device sends the older firmware's eleven fields; the library completes them to
    // twelve with an empty one before the last.
    std::string rc = s.last_answer();
    ASSERT_EQ(std::count(rc.begin(), rc.end(), '|'), 10) << rc;
    rc.insert(rc.rfind('|'), "|");
    EXPECT_EQ(s.last_frame(), "|04|" + std::string(satcli::field(s.last_frame(), 2)) +
                                  "|12345678|" + key + "|" + canc);
    EXPECT_EQ(satcli::field(rc, 1), "07000") << rc;
    EXPECT_EQ(cancel.status, 0);
    EXPECT_EQ(cancel.out, cabeca("CancelarUltimaVenda") + P +
                              "       Cod. Ativacao: 12345678\n     Arquivo CFeCanc: canc.xml\n" +
                              ret(rc) + SEP + moldura("CFeCanc", rc));
}

// The library's own console line comes after satcli's lines in the same pipe.
TEST(Device, QuerySetDriverAndMissingLibrary) {
    SAT_ENTER_SANDBOX(halvex);
    Shop s(halvex);
    auto query = s.run({"ConsultarSAT"});
    const std::string r = s.last_answer();
    EXPECT_EQ(s.last_frame(), "|05|" + r.substr(0, 6));
    EXPECT_EQ(query.status, 0);
    EXPECT_EQ(query.out, cabeca("ConsultarSAT") + ret(r) + SEP);
    auto driver = s.run({"SetDriver", "DEBUG", "true"});
    EXPECT_EQ(driver.status, 0);
    EXPECT_EQ(driver.out, cabeca("SetDriver") + P +
                              "     Parametro: DEBUG\n         Valor: true\n" +
                              "Parametro: |DEBUG| - Valor: |true|\n" + ret("OK") + SEP);
    EXPECT_EQ(s.emu.frames().size(), 1u);
    ASSERT_EQ(unlink((s.dir + "/libtorvane_sat_x86.so").c_str()), 0);
    auto none = s.run({"ConsultarSAT"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "dl_handle: ./libtorvane_sat_x86.so: cannot open shared object file: "
                        "No such file or directory\n");
}

} // namespace
