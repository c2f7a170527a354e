// One device, several programs: processes that share the emulated device never
// take each other's answers, a dead holder never blocks it, a holder past a
// call's deadline gives that call its busy answer with nothing sent, and satcli
// waits for a host's long exchange. Every process forked here has a library of
// its own (and so a call lock of its own): only the device lock orders them.
#include "satlib.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "launcher.h"
#include "sat.h"

extern "C" int init_lib(void);

namespace {

using namespace testsupport;
char ac[] = "12345678";
char cnpj[] = "47291583000110";

class DeviceLock : public LibTest {
  protected:
    // Runs `body` in a child process that reports through `out`.
    template <typename F> pid_t child(int out, F body) {
        const pid_t pid = fork();
        if (pid == 0) {
            body(out);
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

void report(int out, int session, const char* answer) {
    const auto f = split_fields(answer);
    dprintf(out, "%d %s %s %s\n", session, f[0].c_str(), f.size() > 1 ? f[1].c_str() : "-",
            f.size() > 8 ? f[8].c_str() : "-");
}

// Processes with session ranges of their own sell and query at once: each gets its
// own answers, every issued receipt is reported once to its sender, nobody is busy.
TEST_F(DeviceLock, ProcessesSharingTheDeviceGetOnlyTheirOwnAnswers) {
    constexpr int kProcesses = 4, kRounds = 5;
    start(1, "", {"--preset", "active"}, true, 30);
    if (HasFatalFailure()) return;
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    std::vector<pid_t> pids;
    for (int p = 1; p <= kProcesses; ++p)
        pids.push_back(child(pipefd[1], [p](int out) {
            for (int i = 0; i < kRounds; ++i) {
                const int s = p * 100000 + i * 3;
                std::string doc = sale_document();
                report(out, s, EnviarDadosVenda(s, ac, doc.data()));
                report(out, s + 1, ConsultarSAT(s + 1));
                report(out, s + 2, ConsultarStatusOperacional(s + 2, ac));
            }
        }));
    close(pipefd[1]);
    std::string lines;
    char buf[4096];
    for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;)
        lines.append(buf, static_cast<size_t>(n));
    close(pipefd[0]);
    for (pid_t pid : pids)
        EXPECT_TRUE(exited_ok(pid));
    std::map<int, std::string> reported, issued; // session -> receipt key
    int calls = 0;
    for (const auto& line : split_fields(lines, '\n')) {
        if (line.empty()) continue;
        ++calls;
        char head[16], code[16], key[64];
        int s = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d %15s %15s %63s", &s, head, code, key), 4) << line;
        EXPECT_EQ(std::atoi(head), s) << "a caller got another call's answer: " << line;
        EXPECT_NE(std::string(code).substr(2), "098") << line;
        if (std::string(code) == "06000") {
            EXPECT_TRUE(reported.emplace(s, key).second) << line;
        }
    }
    // What the device issued, from its transcript.
    for (const auto& line : split_fields(emu->transcript(), '\n')) {
        const size_t at = line.find(" -> ");
        if (at == std::string::npos || line.find("|06000|") != at + 10) continue;
        const auto f = split_fields(line.substr(at + 4));
        EXPECT_TRUE(issued.emplace(std::atoi(f[0].c_str()), f[8]).second) << "twice: " << line;
    }
    EXPECT_EQ(calls, kProcesses * kRounds * 3);
    EXPECT_EQ(issued.size(), static_cast<size_t>(kProcesses * kRounds));
    EXPECT_EQ(reported, issued) << "an issued receipt was not reported to its sender";
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
    const pid_t pid = child(-1, [](int) { AtivarSAT(1, 1, ac, cnpj, 35); });
    await_frame("|01|");
    std::string doc = sale_document();
    EXPECT_EQ(std::string(ConsultarSAT(7)), busy_answer(functions()[4], 7));
    EXPECT_EQ(std::string(EnviarDadosVenda(8, ac, doc.data())), busy_answer(functions()[2], 8));
    EXPECT_EQ(emu->frames().size(), 1u);

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(field(ConsultarSAT(9), 1), "08000"); // within its 2 s
}

// satcli, run while a host process is in a long exchange, waits for it and succeeds.
TEST_F(DeviceLock, SatcliWaitsForAHostsLongExchange) {
    start(1, "", {"--preset", "active"}, true, 30);
    if (HasFatalFailure()) return;
    emu->fault("1*01:delay:1500");
    const pid_t host = child(-1, [](int) {
        const auto f = split_fields(AtivarSAT(3, 1, ac, cnpj, 35));
        _exit(f[0] == "000003" && f[1].substr(2) != "098" ? 0 : 1);
    });
    await_frame("|01|");
    const std::string dir = make_temp_dir("satcli");
    ASSERT_EQ(symlink(LIB_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    write_file(dir + "/config.ini", read_file(TORVANE_SOURCE_DIR "/examples/config.ini"));
    const testsupport::Run cli = run_program(launch_args(SATCLI_PATH, {"ConsultarSAT"}), dir);
    EXPECT_EQ(cli.status, 0) << cli.out << cli.err;
    EXPECT_NE(cli.out.find("|08000|"), std::string::npos) << cli.out;
    EXPECT_TRUE(exited_ok(host)) << "the host lost its answer";
    // The host's answer went out before satcli's frame came in.
    const std::string t = emu->transcript();
    EXPECT_LT(t.find(" -> 000003|"), t.find(" <- |05|")) << t;
}

} // namespace
