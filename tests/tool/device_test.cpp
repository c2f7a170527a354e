// satcli as a process with the tree's library under its shipped name, against satemu:
// a sale prints what the device answered, the library's console line comes after
// satcli's own lines in the same pipe, a full disk fails the run, and the loader's
// message when the library is missing. The format itself: golden_test.cpp.
#include <gtest/gtest.h>

#include <unistd.h>

#include "emulator.h"
#include "fields.h"
#include "sandbox.h"

namespace {

const std::string SEP = std::string(72, '=') + "\n";

TEST(Device, SaleSetDriverFullDiskAndMissingLibrary) {
    SAT_ENTER_SANDBOX(halvex);
    testsupport::Emulator emu;
    ASSERT_FALSE(emu.device().empty());
    testsupport::write_file(halvex + "/sat.ini",
                            "[DEFAULT]\nSERIAL=" + emu.device() + "\nNO_POPUP=true\n");
    const std::string dir = testsupport::make_temp_dir("satcli");
    ASSERT_EQ(symlink(LIB_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    for (const char* f : {"config.ini", "venda.xml"})
        testsupport::write_file(dir + "/" + f,
                                testsupport::read_file(EXAMPLES_DIR "/" + std::string(f)));
    auto run = [&](const std::vector<std::string>& args) {
        return testsupport::run_program(testsupport::launch_args(SATCLI_PATH, args), dir);
    };

    auto sale = run({"EnviarDadosVenda", "12345678", "venda.xml"});
    std::string t; // the answer as it went over the line
    for (int i = 0; i < 200 && (t = emu.transcript()).find(" -> ") == std::string::npos; ++i)
        usleep(10000);
    const std::string sent = t.substr(t.find(" -> ") + 4);
    const std::string rv = testsupport::unescape_frame(sent.substr(0, sent.find('\n') - 4));
    ASSERT_EQ(testsupport::field(rv, 1), "06000") << rv;
    EXPECT_EQ(sale.status, 0);
    EXPECT_NE(sale.out.find("\nRetorno: " + rv + "\n\n" + SEP +
                            "\nChave CFe: " + testsupport::field(rv, 8)),
              std::string::npos)
        << sale.out;

    auto driver = run({"SetDriver", "DEBUG", "true"});
    EXPECT_EQ(driver.status, 0);
    EXPECT_EQ(driver.out, SEP +
                              "\nExecutando funcao: SetDriver\nParametros: \n"
                              "     Parametro: DEBUG\n         Valor: true\n"
                              "Parametro: |DEBUG| - Valor: |true|\n\nRetorno: OK\n\n" +
                              SEP);
    std::string full = "exec";
    for (const auto& a : testsupport::launch_args(SATCLI_PATH, {"SetDriver", "DEBUG", "true"}))
        full += " '" + a + "'";
    EXPECT_EQ(testsupport::run_program({"/bin/sh", "-c", full + " >/dev/full"}, dir).status, 1);

    ASSERT_EQ(unlink((dir + "/libtorvane_sat_x86.so").c_str()), 0);
    auto none = run({"ConsultarSAT"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "dl_handle: ./libtorvane_sat_x86.so: cannot open shared object file: "
                        "No such file or directory\n");
    EXPECT_EQ(emu.frames().size(), 1u);
}

} // namespace
