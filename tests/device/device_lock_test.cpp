// One device, several programs: processes that share the emulated device never
// take each other's answers, a dead holder never blocks it, a holder past a
// call's deadline gives that call its busy answer with nothing sent, and satcli
// (as a shop runs it) waits for a host's long exchange. Every process forked here
// has a library of its own (and so a call lock of its own): only the device lock
// orders them.
#include "satlib.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <tuple>

#include "sat.h"

extern "C" int init_lib(void);

namespace {

using namespace testsupport;
char ac[] = "12345678";
char cnpj[] = "47291583000110";

class DeviceLock : public LibTest {
  protected:
    // Runs `body` in a child process.
    template <typename F> pid_t child(F body) {
        const pid_t pid = fork();
        if (pid == 0) {
            body();
            _exit(0);
        }
        return pid;
    }
    // Waits until the emulator has received a frame that begins with `code`.
    void await_frame(const std::string& code) {
        for (int i = 0; i < 1000; ++i, usleep(10000))
            for (const auto& f : emu->frames())
                if (f.rfind(code, 0) == 0) return;
        FAIL() << "no frame " << code;
    }
    static bool exited_ok(pid_t pid) {
        int status = 0;
        return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

// Processes with session ranges of their own sell and query at once: each gets only
// its own answers and never a busy one, and the device issued each sale once.
TEST_F(DeviceLock, ProcessesSharingTheDeviceGetOnlyTheirOwnAnswers) {
    constexpr int kProcesses = 4, kRounds = 5;
    start(1, "", {"--preset", "active"}, true, 30);
    if (HasFatalFailure()) return;
    std::vector<pid_t> pids;
    for (int p = 1; p <= kProcesses; ++p)
        pids.push_back(child([p] {
            int wrong = 0;
            for (int i = 0; i < kRounds; ++i) {
                const int s = p * 100000 + i * 3;
                std::string doc = sale_document();
                for (auto [session, answer, code] :
                     {std::tuple{s, std::string(EnviarDadosVenda(s, ac, doc.data())), "06000"},
                      {s + 1, std::string(ConsultarSAT(s + 1)), "08000"},
                      {s + 2, std::string(ConsultarStatusOperacional(s + 2, ac)), "10000"}})
                    wrong +=
                        field(answer, 0) != std::to_string(session) || field(answer, 1) != code;
            }
            _exit(wrong);
        }));
    for (pid_t pid : pids)
        EXPECT_TRUE(exited_ok(pid)) << "a process got another call's answer or a busy one";
    EXPECT_EQ(emu->issued(), kProcesses * kRounds);
    std::map<std::string, int> frames;
    for (const auto& f : emu->frames())
        ++frames[f.substr(1, 2)];
    const int n = kProcesses * kRounds;
    EXPECT_EQ(frames, (std::map<std::string, int>{{"03", n}, {"05", n}, {"07", n}}))
        << "a frame was lost or sent twice";
}

// A holder past the caller's deadline: busy answers, and nothing reached the
// device, not even a session query. Killed, it leaves the device free at once.
TEST_F(DeviceLock, HeldPastTheDeadlineIsBusyAndAKilledHolderFreesTheDevice) {
    start(2, "", {"--preset", "active"}, false);
    if (HasFatalFailure()) return;
    std::string ini = read_file(halvex + "/sat.ini");
    ini.replace(ini.find("T_ATIVAR_SAT=00:02"), 18, "T_ATIVAR_SAT=00:30");
    ASSERT_TRUE(write_file(halvex + "/sat.ini", ini));
    init_lib();
    emu->fault("1*01:drop");
    const pid_t pid = child([] { AtivarSAT(1, 1, ac, cnpj, 35); });
    await_frame("|01|");
    std::string doc = sale_document();
    EXPECT_EQ(std::string(ConsultarSAT(7)), busy_answer(functions()[4], 7));
    EXPECT_EQ(std::string(EnviarDadosVenda(8, ac, doc.data())), busy_answer(functions()[2], 8));
    EXPECT_EQ(emu->frames().size(), 1u);

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(field(ConsultarSAT(9), 1), "08000"); // within its 2 s
}

// satcli as a process with the tree's library under its shipped name: it waits for
// a host's long exchange; a sale prints what the device answered; the library's
// console line comes after satcli's own lines in the same pipe; a full disk fails
// the run; and the loader's message when the library is missing.
TEST_F(DeviceLock, SatcliAsAProcess) {
    start(1, "", {"--preset", "active"}, true, 30);
    if (HasFatalFailure()) return;
    emu->fault("1*01:delay:1500");
    const pid_t host = child([] {
        const auto f = split_fields(AtivarSAT(3, 1, ac, cnpj, 35));
        _exit(f[0] == "000003" && f[1].substr(2) != "098" ? 0 : 1);
    });
    await_frame("|01|");
    const std::string dir = make_temp_dir("satcli"), sep = std::string(72, '=') + "\n";
    ASSERT_EQ(symlink(LIB_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    for (const std::string f : {"config.ini", "venda.xml"})
        write_file(dir + "/" + f, read_file(TORVANE_SOURCE_DIR "/examples/" + f));
    auto run = [&](const std::vector<std::string>& args) {
        return run_program(launch_args(SATCLI_PATH, args), dir);
    };
    const testsupport::Run cli = run({"ConsultarSAT"});
    EXPECT_EQ(cli.status, 0) << cli.out << cli.err;
    EXPECT_NE(cli.out.find("|08000|"), std::string::npos) << cli.out;
    EXPECT_TRUE(exited_ok(host)) << "the host lost its answer";
    std::string t = emu->transcript(); // the host's answer went out before satcli's frame came
    EXPECT_LT(t.find(" -> 000003|"), t.find(" <- |05|")) << t;

    const testsupport::Run sale = run({"EnviarDadosVenda", "12345678", "venda.xml"});
    t = emu->transcript();
    t = t.substr(t.find(" -> ", t.find(" <- |03|")) + 4);
    const std::string rv = unescape_frame(t.substr(0, t.find('\n') - 4)); // as on the line
    ASSERT_EQ(field(rv, 1), "06000") << rv;
    EXPECT_EQ(sale.status, 0);
    EXPECT_NE(sale.out.find("\nRetorno: " + rv + "\n\n" + sep + "\nChave CFe: " + field(rv, 8)),
              std::string::npos)
        << sale.out;
    const testsupport::Run driver = run({"SetDriver", "DEBUG", "true"});
    EXPECT_EQ(driver.status, 0);
    EXPECT_EQ(driver.out, sep +
                              "\nExecutando funcao: SetDriver\nParametros: \n"
                              "     Parametro: DEBUG\n         Valor: true\n"
                              "Parametro: |DEBUG| - Valor: |true|\n\nRetorno: OK\n\n" +
                              sep);
    std::string full = "exec";
    for (const auto& a : launch_args(SATCLI_PATH, {"SetDriver", "DEBUG", "true"}))
        full += " '" + a + "'";
    EXPECT_EQ(run_program({"/bin/sh", "-c", full + " >/dev/full"}, dir).status, 1);
    ASSERT_EQ(unlink((dir + "/libtorvane_sat_x86.so").c_str()), 0);
    const testsupport::Run none = run({"ConsultarSAT"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "dl_handle: ./libtorvane_sat_x86.so: cannot open shared object file: "
                        "No such file or directory\n");
}

} // namespace
