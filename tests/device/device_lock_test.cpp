// One device, several programs: processes that share the emulated device never
// take each other's answers, a dead holder never blocks it, a holder past a
// call's deadline gives that call its busy answer with nothing sent, and satcli
// waits for a host's long exchange. Every process forked here has a library of
// its own (and so a call lock of its own): only the device lock orders them.
#include "device_fixture.h"
#include "fields.h"

#include <csignal>
#include <cstdio>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using testsupport::read_file;
using testsupport::split_fields;
char kCode[] = "12345678"; // the active preset's activation code

class DeviceLock : public DeviceTest {
  protected:
    // satemu, and a sat.ini with `ini` that points every process (satcli too) at it.
    void begin(const std::string& ini = "") {
        emu = std::make_unique<testsupport::Emulator>();
        ASSERT_FALSE(emu->device().empty());
        ASSERT_TRUE(testsupport::write_file(halvex + "/sat.ini",
                                            ini + "[DEFAULT]\nSERIAL=" + emu->device() + "\n"));
        init_lib(); // an earlier test of this process may have started the library
        ASSERT_EQ(set("SERIAL", emu->device()), "OK");
    }
    // Runs `body` in a child process that reports through `out` (one line per call).
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
        for (int i = 0; i < 500; ++i) {
            for (const auto& f : emu->frames())
                if (f.rfind(code, 0) == 0) return;
            usleep(10000);
        }
        FAIL() << "no frame " << code;
    }
    // A process that holds the device in an exchange whose answer never comes.
    pid_t holder() {
        emu->fault("1*01:drop");
        const pid_t pid = child(-1, [](int) { AtivarSAT(1, 1, kCode, text("1"), 35); });
        await_frame("|01|");
        return pid;
    }
};

void report(int out, int sessao, const char* answer) {
    const auto f = split_fields(answer);
    dprintf(out, "%d %s %s %s\n", sessao, f[0].c_str(), f.size() > 1 ? f[1].c_str() : "-",
            f.size() > 8 ? f[8].c_str() : "-");
}

// Processes with session ranges of their own sell and query at once.
TEST_F(DeviceLock, ProcessesSharingTheDeviceGetOnlyTheirOwnAnswers) {
    constexpr int kProcesses = 4, kRounds = 5;
    begin();
    std::string sale = read_file(TORVANE_SOURCE_DIR "/examples/venda.xml");
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    std::vector<pid_t> pids;
    for (int p = 1; p <= kProcesses; ++p)
        pids.push_back(child(pipefd[1], [&, p](int out) {
            for (int i = 0; i < kRounds; ++i) {
                const int s = p * 100000 + i * 3;
                std::string doc = sale;
                report(out, s, EnviarDadosVenda(s, kCode, doc.data()));
                report(out, s + 1, ConsultarSAT(s + 1));
                report(out, s + 2, ConsultarStatusOperacional(s + 2, kCode));
            }
        }));
    close(pipefd[1]);
    std::string lines;
    char buf[4096];
    for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;)
        lines.append(buf, static_cast<size_t>(n));
    close(pipefd[0]);
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // What the callers were told: session -> receipt key of every issued sale.
    std::map<int, std::string> reported;
    int calls = 0, busy = 0;
    for (const auto& line : split_fields(lines, '\n')) {
        if (line.empty()) continue;
        ++calls;
        char head[16], code[16], key[64];
        int s = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d %15s %15s %63s", &s, head, code, key), 4) << line;
        EXPECT_EQ(std::atoi(head), s) << "a caller got another call's answer: " << line;
        if (std::string(code).substr(2) == "098") ++busy;
        if (std::string(code) == "06000") {
            EXPECT_TRUE(reported.emplace(s, key).second) << line;
        }
    }
    // What the device issued, from its transcript.
    std::map<int, std::string> issued;
    for (const auto& line : split_fields(emu->transcript(), '\n')) {
        const size_t at = line.find(" -> ");
        if (at == std::string::npos || line.find("|06000|") != at + 10) continue;
        const auto f = split_fields(line.substr(at + 4));
        EXPECT_TRUE(issued.emplace(std::atoi(f[0].c_str()), f[8]).second)
            << "issued twice: " << line;
    }
    std::printf("processes %d, calls %d, receipts issued %zu, reported %zu, busy answers %d\n",
                kProcesses, calls, issued.size(), reported.size(), busy);
    EXPECT_EQ(calls, kProcesses * kRounds * 3);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(issued.size(), static_cast<size_t>(kProcesses * kRounds));
    EXPECT_EQ(reported, issued) << "an issued receipt was not reported to its sender";
}

// A holder past the caller's deadline: busy answers, and nothing reached the
// device, not even a session query. Killed, it leaves the device free at once.
TEST_F(DeviceLock, HeldPastTheDeadlineIsBusyAndAKilledHolderFreesTheDevice) {
    begin("[TIMEOUT]\nT_CONSULTAR_SAT=00:02\nT_ENVIAR_DADOS_VENDA=00:02\n[DEFAULT]\nN_TENT=2\n");
    const pid_t pid = holder();
    std::string doc = read_file(TORVANE_SOURCE_DIR "/examples/venda.xml");
    EXPECT_EQ(std::string(ConsultarSAT(7)), busy(7, "08098"));
    EXPECT_EQ(std::string(EnviarDadosVenda(8, kCode, doc.data())),
              "000008|06098|0000|SAT em processamento. Tente novamente.||");
    EXPECT_EQ(emu->frames().size(), 1u) << last_frame();

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(split_fields(ConsultarSAT(9))[1], "08000"); // within its 2 s
}

// satcli, run while a host process is in a long exchange, waits for it and succeeds.
TEST_F(DeviceLock, SatcliWaitsForAHostsLongExchange) {
    begin();
    emu->fault("1*01:delay:1500");
    const pid_t host = child(-1, [](int) {
        const auto f = split_fields(AtivarSAT(3, 1, kCode, text("1"), 35));
        _exit(f[0] == "000003" && f[1].substr(2) != "098" ? 0 : 1);
    });
    await_frame("|01|");
    const std::string dir = testsupport::make_temp_dir("satcli");
    ASSERT_EQ(symlink(LIB_PATH, (dir + "/libtorvane_sat_x86.so").c_str()), 0);
    testsupport::write_file(dir + "/config.ini",
                            read_file(TORVANE_SOURCE_DIR "/examples/config.ini"));
    const std::string command = "cd " + dir + " && " SATCLI_PATH " ConsultarSAT";
    FILE* cli = popen(command.c_str(), "r");
    ASSERT_NE(cli, nullptr);
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, cli)) > 0;)
        out.append(buf, n);
    EXPECT_EQ(pclose(cli), 0) << out;
    EXPECT_NE(out.find("|08000|"), std::string::npos) << out;
    int status = 0;
    waitpid(host, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the host lost its answer";
    // The host's answer went out before satcli's frame came in.
    const std::string t = emu->transcript();
    EXPECT_LT(t.find(" -> 000003|"), t.find(" <- |05|")) << t;
}

} // namespace
