// satcli as a process with the tree's library under its shipped name, against
// satemu: what the real library hands back is what satcli prints (the format
// itself: golden_test.cpp), the library's console line comes after satcli's own
// lines in the same pipe, and the loader's message when the library is missing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "emulator.h"
#include "fields.h"
#include "launcher.h"
#include "sandbox.h"

namespace {

using testsupport::field;
using testsupport::read_file;

const std::string SEP = std::string(72, '=') + "\n";

// The `n`th answer the device sent, as it went over the line.
std::string answer(testsupport::Emulator& emu, int n) {
    for (int i = 0; i < 200; ++i, usleep(10000)) {
        const std::string t = emu.transcript();
        size_t p = 0;
        for (int k = 0; k < n && p != std::string::npos; ++k)
            p = t.find(" -> ", p ? p + 4 : 0);
        if (p == std::string::npos) continue;
        const std::string a = testsupport::unescape_frame(t.substr(p + 4, t.find('\n', p) - p - 4));
        return a.substr(0, a.size() - 1);
    }
    ADD_FAILURE() << "no answer " << n << " in the transcript";
    return "";
}

TEST(Device, SaleCancellationSetDriverAndMissingLibrary) {
    SAT_ENTER_SANDBOX(halvex);
    // The older firmware's eleven-field cancellation answer.
    testsupport::Emulator emu({"--preset", "active", "--cancel-answer-fields", "11"});
    ASSERT_FALSE(emu.device().empty());
    testsupport::write_file(halvex + "/sat.ini",
                            "[DEFAULT]\nSERIAL=" + emu.device() + "\nNO_POPUP=true\n");
    const std::string dir = testsupport::make_temp_dir("satcli");
    ASSERT_EQ(symlink(LIB_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    for (const char* f : {"config.ini", "venda.xml"})
        testsupport::write_file(dir + "/" + f, read_file(EXAMPLES_DIR "/" + std::string(f)));
    auto run = [&](const std::vector<std::string>& args) {
        return testsupport::run_program(testsupport::launch_args(SATCLI_PATH, args), dir);
    };

    auto sale = run({"EnviarDadosVenda", "12345678", "venda.xml"});
    const std::string rv = answer(emu, 1);
    ASSERT_EQ(field(rv, 1), "06000") << rv;
    EXPECT_EQ(sale.status, 0);
    EXPECT_NE(sale.out.find("\nRetorno: " + rv + "\n\n" + SEP + "\nChave CFe: " + field(rv, 8)),
              std::string::npos)
        << sale.out;
    const std::string key = field(rv, 8);
    const std::string canc = testsupport::cancel_document(key);
    testsupport::write_file(dir + "/canc.xml", canc);
    auto cancel = run({"CancelarUltimaVenda", "12345678", "canc.xml"});
    std::string rc = answer(emu, 2);
    EXPECT_EQ(emu.frames().back(),
              "|04|" + field(emu.frames().back(), 2) + "|12345678|" + key + "|" + canc + "|\x03");
    // The library completes the eleven fields with an empty one before the last.
    ASSERT_EQ(std::count(rc.begin(), rc.end(), '|'), 10) << rc;
    rc.insert(rc.rfind('|'), "|");
    EXPECT_EQ(cancel.status, 0);
    EXPECT_NE(cancel.out.find("\nRetorno: " + rc + "\n\n" + SEP + "\nChave CFeCanc: "),
              std::string::npos)
        << cancel.out;

    auto driver = run({"SetDriver", "DEBUG", "true"});
    EXPECT_EQ(driver.status, 0);
    EXPECT_EQ(driver.out, SEP +
                              "\nExecutando funcao: SetDriver\nParametros: \n"
                              "     Parametro: DEBUG\n         Valor: true\n"
                              "Parametro: |DEBUG| - Valor: |true|\n\nRetorno: OK\n\n" +
                              SEP);
    // Output that cannot be written (a full disk) fails the run.
    std::string full = "exec";
    for (const auto& a : testsupport::launch_args(SATCLI_PATH, {"SetDriver", "DEBUG", "true"}))
        full += " '" + a + "'";
    EXPECT_EQ(testsupport::run_program({"/bin/sh", "-c", full + " >/dev/full"}, dir).status, 1);
    ASSERT_EQ(unlink((dir + "/libtorvane_sat_x86.so").c_str()), 0);
    auto none = run({"ConsultarSAT"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "dl_handle: ./libtorvane_sat_x86.so: cannot open shared object file: "
                        "No such file or directory\n");
    EXPECT_EQ(emu.frames().size(), 2u);
}

} // namespace
