// satbench: the performance figures of the driver, the tool and the emulator.
//
//   satbench            every figure, each in a process of its own
//   satbench N [N...]   only figures N (1 to 8)
//   satbench --list     the figures and their goals
//
// Every ratio is measured side by side in one run (the two sides alternate),
// so that the noise of a shared machine falls on both. One line per figure:
// the ratio, its goal, whether it is met, then the absolute figures.
//
// Paths compiled in, each overridable from the environment: SATBENCH_LIB (the
// x64 library), SATBENCH_SATEMU, SATBENCH_SATCLI, SATBENCH_EXAMPLES; and
// SATBENCH_X86_TREE, an i386 tree whose satcli and library the memory figure
// measures too (the shipped pair), and SATBENCH_X86_EMULATOR, the words that
// start i386 programs where the kernel refuses them (qemu-i386 -L /).
#include "base64.h"
#include "bench_support.h"
#include "ini.h"
#include "sat.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

using bench::median;
using bench::now;

// The library's sleeps (the 100 ms of the call lock, the 50 ms pacing of
// le_usb) are libc's usleep; this program exports its own, which sleeps the
// same way and adds up how long the sleeps really took. A call's overhead over
// its floor is then its time less its sleeps, measured within the call itself,
// so that a late wake-up on a loaded machine is not charged to the library.
namespace {
double slept_total = 0;
double last_wake = 0; // when the last sleep ended
} // namespace

extern "C" __attribute__((visibility("default"))) int usleep(useconds_t us) {
    timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    double t0 = now();
    int r = clock_nanosleep(CLOCK_REALTIME, 0, &ts, nullptr);
    last_wake = now();
    slept_total += last_wake - t0;
    if (r != 0) {
        errno = r;
        return -1;
    }
    return 0;
}

namespace {

std::string setting(const char* env, const char* built_in) {
    const char* v = std::getenv(env);
    return v && *v ? v : built_in;
}

const std::string kLib = setting("SATBENCH_LIB", SATBENCH_LIB);
const std::string kSatemu = setting("SATBENCH_SATEMU", SATBENCH_SATEMU);
const std::string kSatcli = setting("SATBENCH_SATCLI", SATBENCH_SATCLI);
const std::string kExamples = setting("SATBENCH_EXAMPLES", SATBENCH_EXAMPLES);

constexpr const char* kCode = "12345678";     // activation code of satemu's active preset
constexpr double kLockFloor = 0.100;          // the call lock sleeps 100 ms before the take
constexpr double kPacingFloor = 0.050;        // le_usb sleeps 50 ms when nothing is waiting
constexpr std::size_t kLargeAnswer = 2621440; // 2.5 MiB on the wire, 0x03 included
constexpr std::size_t kLargeSale = 1048576;   // 1 MiB sale document

std::vector<std::string> temp_dirs; // removed also when a figure gives up

[[noreturn]] void fail(const char* figure, const char* fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    std::fprintf(stdout, "%-3s could not be measured: ", figure);
    std::vfprintf(stdout, fmt, ap);
    std::fputc('\n', stdout);
    va_end(ap);
    std::fflush(stdout);
    bench::stop_emulators();
    for (const std::string& dir : temp_dirs)
        bench::remove_tree(dir);
    std::exit(2);
}

// One result line: figure, what, ratio, goal, verdict, absolute figures.
void report(const char* figure, const char* what, double ratio, const char* goal, bool met,
            const char* fmt, ...) {
    char details[512];
    std::va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(details, sizeof details, fmt, ap);
    va_end(ap);
    // A figure without a goal ("report") is measured for the record only.
    const char* verdict = std::strcmp(goal, "report") == 0 ? "-" : met ? "met" : "MISSED";
    std::printf("%-3s %-30s ratio %8.3f  goal %-10s %-6s | %s\n", figure, what, ratio, goal,
                verdict, details);
    std::fflush(stdout);
}

// The x64 driver library, loaded by path so that every figure gets fresh
// globals. The SAT functions take their types from sat.h, so that a changed
// signature breaks this build; the send and receive steps and the deadline
// are exported too, though not declared there.
struct Library {
    void* handle = nullptr;
    decltype(&::SetDriver) SetDriver = nullptr;
    decltype(&::ConsultarSAT) ConsultarSAT = nullptr;
    decltype(&::AtivarSAT) AtivarSAT = nullptr;
    decltype(&::EnviarDadosVenda) EnviarDadosVenda = nullptr;
    decltype(&::ExtrairLogs) ExtrairLogs = nullptr;
    int (*EnviaParaSat)(const char*) = nullptr;
    int (*RecebeDoSat2)(int) = nullptr;
    int* Tempo_Tout = nullptr;

    explicit Library(const char* figure) {
        handle = dlopen(kLib.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) fail(figure, "%s", dlerror());
        bind(figure, SetDriver, "SetDriver");
        bind(figure, ConsultarSAT, "ConsultarSAT");
        bind(figure, AtivarSAT, "AtivarSAT");
        bind(figure, EnviarDadosVenda, "EnviarDadosVenda");
        bind(figure, ExtrairLogs, "ExtrairLogs");
        bind(figure, EnviaParaSat, "EnviaParaSat");
        bind(figure, RecebeDoSat2, "RecebeDoSat2");
        bind(figure, Tempo_Tout, "Tempo_Tout");
    }

    template <class T> void bind(const char* figure, T& slot, const char* name) {
        slot = reinterpret_cast<T>(dlsym(handle, name));
        if (!slot) fail(figure, "%s has no %s", kLib.c_str(), name);
    }

    // SetDriver prints its "Parametro: ..." line whatever the settings say;
    // it goes to /dev/null so that the figures stay one line each.
    std::string set(const char* parameter, const std::string& value) {
        std::fflush(stdout);
        int saved = dup(STDOUT_FILENO);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        std::string p = parameter, v = value;
        std::string result = SetDriver(p.data(), v.data());
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        close(null);
        return result;
    }
};

std::string session_text(int s) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06d", s);
    return buf;
}

bool answer_is(const char* answer, int session, const char* code) {
    return std::strncmp(answer, (session_text(session) + "|" + code).c_str(),
                        7 + std::strlen(code)) == 0;
}

std::string figure_dir(const char* tag) {
    std::string dir = bench::temp_dir(tag);
    if (dir.empty()) fail(tag, "no temporary folder");
    temp_dirs.push_back(dir);
    return dir;
}

// The answer of ExtrairLogs with a device log in base64, `total` bytes with its
// final 0x03; "{sessao}" stands for the session number, as satemu's answer fault takes it.
std::string large_log_answer(std::size_t total) {
    std::string head = "{sessao}|15000|Transferência completa|||";
    std::size_t wire_head = head.size() - 8 + 6;
    std::size_t b64 = (total - 1 - wire_head) / 4 * 4;
    return head + torvane::base64_encode(bench::random_bytes(b64 / 4 * 3, 2024));
}

// ---------------------------------------------------------------------------
// 1. Exchange overhead: ConsultarSAT against an emulator that answers at once.
void figure1() {
    std::string dir = figure_dir("bench1");
    bench::Emulator emu(kSatemu, dir, {"--preset", "active"});
    if (!emu.ok()) fail("1", "satemu did not start");
    Library lib("1");
    lib.set("SERIAL", emu.device());
    double slept_before = slept_total;
    char* warm = lib.ConsultarSAT(1);
    if (!answer_is(warm, 1, "08000")) fail("1", "unexpected answer '%.60s'", warm);
    // The call lock sleeps 100 ms: unless this program's usleep saw it, the
    // library does not bind to it and no overhead below would be right.
    if (slept_total - slept_before < kLockFloor * 0.9)
        fail("1", "the library's sleeps do not go through satbench's usleep");

    constexpr int kCalls = 21;
    std::vector<double> on, off, on_over, off_over, raw;
    int s = 2;
    static char buf[4096];
    // One call: its time, and its time less what it slept.
    auto timed = [&](std::vector<double>& total, std::vector<double>& over) {
        double slept0 = slept_total, t0 = now();
        char* a = lib.ConsultarSAT(s);
        double t = now() - t0;
        total.push_back(t);
        over.push_back(t - (slept_total - slept0));
        if (!answer_is(a, s++, "08000")) fail("1", "unexpected answer '%.60s'", a);
    };
    for (int i = 0; i < kCalls; ++i) {
        lib.set("LOCK", "true");
        timed(on, on_over);
        lib.set("LOCK", "false");
        timed(off, off_over);
        // The emulator's own answer time, seen by a plain client.
        double t0 = now();
        bench::RawLine line(emu.device());
        if (!line.write_all(bench::frame("|05|" + session_text(s++))) ||
            line.read_answer(buf, sizeof buf) < 0)
            fail("1", "no answer to a plain client");
        raw.push_back(now() - t0);
    }
    double mraw = median(raw);
    struct Side {
        const char* fig;
        const char* what;
        double call, floor, over;
    } sides[] = {
        {"1a", "exchange, lock on", median(on), kLockFloor + kPacingFloor, median(on_over)},
        {"1b", "exchange, lock off", median(off), kPacingFloor, median(off_over)},
    };
    for (const Side& x : sides)
        report(x.fig, x.what, x.call / x.floor, "<1ms over", x.over < 0.001,
               "median %.2f ms of %d calls, floor %.0f ms; overhead (call less its sleeps) "
               "%.3f ms; plain client exchange %.3f ms",
               x.call * 1e3, kCalls, x.floor * 1e3, x.over * 1e3, mraw * 1e3);
    bench::remove_tree(dir);
}

// 2. Large answers: ExtrairLogs returning 2.5 MiB, against a plain reader of
// the same answer from the same emulator.
void figure2() {
    std::string dir = figure_dir("bench2");
    bench::Emulator emu(kSatemu, dir, {"--preset", "active"});
    if (!emu.ok()) fail("2", "satemu did not start");
    std::string answer = large_log_answer(kLargeAnswer);
    std::string reply;
    if (!emu.control("fault 12:answer:" + answer, &reply))
        fail("2", "fault refused: %s", reply.c_str());
    const std::size_t text_size = answer.size() - 8 + 6;

    Library lib("2");
    lib.set("SERIAL", emu.device());
    lib.set("LOCK", "false");
    std::string code = kCode;
    static char buf[3 * 1024 * 1024];
    constexpr int kRuns = 15;
    std::vector<double> library, plain;
    int s = 1;
    // The library waits for the first byte in steps of its 50 ms pacing sleep,
    // the plain reader in poll; both then read as fast as the emulator writes.
    // The transfer is the time from the end of the library's last sleep (from
    // the first byte for the plain reader) to the end of the answer.
    std::vector<double> lib_transfer, plain_transfer, first_byte, lib_cpu, plain_cpu;
    for (int i = 0; i < kRuns; ++i) {
        double c0 = bench::cpu_self(), t0 = now();
        char* a = lib.ExtrairLogs(s, code.data());
        double t1 = now();
        lib_cpu.push_back(bench::cpu_self() - c0);
        library.push_back(t1 - t0);
        lib_transfer.push_back(t1 - std::max(t0, last_wake));
        if (!answer_is(a, s, "15000") || std::strlen(a) != text_size)
            fail("2", "library answer of %zu bytes, expected %zu", std::strlen(a), text_size);
        ++s;
        c0 = bench::cpu_self();
        t0 = now();
        bench::RawLine line(emu.device());
        line.write_all(bench::frame("|12|" + session_text(s) + "|" + code + "|3.0.0.3_x86"));
        double first = 0;
        long got = line.read_answer(buf, sizeof buf, 30.0, &first);
        t1 = now();
        plain_cpu.push_back(bench::cpu_self() - c0);
        plain.push_back(t1 - t0);
        plain_transfer.push_back(t1 - first);
        first_byte.push_back(first - t0);
        if (got != static_cast<long>(text_size + 1))
            fail("2", "plain reader got %ld bytes, expected %zu", got, text_size + 1);
        ++s;
    }
    double ml = median(library), mp = median(plain);
    double lt = median(lib_transfer), pt = median(plain_transfer);
    report("2", "2.5 MiB answer (ExtrairLogs)", lt / pt, "<=1.25", lt / pt <= 1.25,
           "transfer: library %.1f ms, plain reader %.1f ms; whole call %.1f ms, plain %.1f ms "
           "(first byte after %.1f ms); CPU library %.1f ms, plain %.1f ms; median of %d, lock off",
           lt * 1e3, pt * 1e3, ml * 1e3, mp * 1e3, median(first_byte) * 1e3, median(lib_cpu) * 1e3,
           median(plain_cpu) * 1e3, kRuns);
    bench::remove_tree(dir);
}

// A sale document of at least `size` bytes: the example sale with its items
// repeated (numbered on) until it is large enough.
std::string large_sale(std::size_t size) {
    std::string doc = bench::read_file(kExamples + "/venda.xml");
    std::size_t first = doc.find("<det nItem=\"1\">");
    std::size_t end = doc.find("</det>", first);
    if (first == std::string::npos || end == std::string::npos) return {};
    // Back to the start of the item's line, forward past its end line.
    first = doc.rfind('\n', first) + 1;
    end = doc.find('\n', end) + 1;
    std::string item = doc.substr(first, end - first);
    std::size_t last_end = doc.rfind("</det>");
    last_end = doc.find('\n', last_end) + 1;
    std::string items;
    int n = 0;
    while (doc.size() + items.size() < size) {
        std::string copy = item;
        copy.replace(copy.find("nItem=\"1\""), 9, "nItem=\"" + std::to_string(++n) + "\"");
        items += copy;
    }
    return doc.substr(0, first) + items + doc.substr(last_end);
}

// 3. Large commands: a 1 MiB sale handed to the emulator by the library's send
// (EnviaParaSat, the first half of EnviarDadosVenda) against a plain writer.
void figure3() {
    std::string dir = figure_dir("bench3");
    bench::Emulator emu(kSatemu, dir, {"--preset", "active"});
    if (!emu.ok()) fail("3", "satemu did not start");
    // The emulator answers at once, so that only the hand-over differs.
    std::string reply;
    if (!emu.control("fault 03:answer:{sessao}|06000|0000|Emitido com sucesso + conteúdo "
                     "notas.|||",
                     &reply))
        fail("3", "fault refused: %s", reply.c_str());
    std::string doc = large_sale(kLargeSale);
    if (doc.empty()) fail("3", "no example sale in %s", kExamples.c_str());

    Library lib("3");
    lib.set("SERIAL", emu.device());
    lib.set("LOCK", "false");
    std::string code = kCode;
    static char buf[65536];
    constexpr int kRuns = 11;
    std::vector<double> send, plain, call;
    int s = 1;
    for (int i = 0; i < kRuns; ++i) {
        // The command exactly as EnviarDadosVenda formats it.
        std::string cmd = "|03|" + session_text(s) + "|" + code + "|" + doc;
        double t0 = now();
        if (lib.EnviaParaSat(cmd.c_str()) != 0) fail("3", "EnviaParaSat failed");
        send.push_back(now() - t0);
        *lib.Tempo_Tout = static_cast<int>(std::time(nullptr)) + 20;
        if (lib.RecebeDoSat2(s) != 0) fail("3", "no answer after EnviaParaSat");
        ++s;

        t0 = now();
        {
            bench::RawLine line(emu.device());
            if (!line.write_all(bench::frame("|03|" + session_text(s) + "|" + code + "|" + doc)))
                fail("3", "plain write failed");
            plain.push_back(now() - t0);
            if (line.read_answer(buf, sizeof buf) < 0) fail("3", "no answer to the plain writer");
        }
        ++s;

        t0 = now();
        char* a = lib.EnviarDadosVenda(s, code.data(), doc.data());
        call.push_back(now() - t0);
        if (!answer_is(a, s, "06000")) fail("3", "unexpected answer '%.60s'", a);
        ++s;
    }
    double ms = median(send), mp = median(plain), mc = median(call);
    report("3", "1 MiB sale handed over", ms / mp, "<=1.25", ms / mp <= 1.25,
           "library send %.1f ms; plain writer %.1f ms; whole EnviarDadosVenda %.1f ms (floor "
           "%.0f ms); %zu-byte sale, median of %d",
           ms * 1e3, mp * 1e3, mc * 1e3, kPacingFloor * 1e3, doc.size(), kRuns);
    bench::remove_tree(dir);
}

// 4. Waiting: CPU time of the caller while the answer takes 20 seconds.
void figure4() {
    std::string dir = figure_dir("bench4");
    // AtivarSAT: its built-in deadline (5 minutes) leaves room for the delay.
    bench::Emulator emu(kSatemu, dir, {"--preset", "active", "--fault", "01:delay:20000"});
    if (!emu.ok()) fail("4", "satemu did not start");
    Library lib("4");
    lib.set("SERIAL", emu.device());
    std::string code = kCode, cnpj = "47291583000110";
    double c0 = bench::cpu_self(), t0 = now();
    char* a = lib.AtivarSAT(1, 1, code.data(), cnpj.data(), 35);
    double wall = now() - t0, cpu = bench::cpu_self() - c0;
    if (std::strncmp(a, "000001|04", 9) != 0 || std::strncmp(a, "000001|04098", 12) == 0)
        fail("4", "unexpected answer '%.60s'", a);
    double share = cpu / wall;
    report("4", "CPU while waiting 20 s", share, "<0.01", share < 0.01,
           "%.1f ms CPU over %.2f s wall = %.3f%% of one core", cpu * 1e3, wall, share * 100);
    bench::remove_tree(dir);
}

// 5. Decoding: the project's base64_decode against coreutils base64 -d, both as
// a child process that reads the same 25 MiB file in pieces, decodes them and
// writes the bytes to /dev/null, timed alike: user + system CPU from wait4. At
// this size the start-up of either side is noise, so nothing is subtracted.
void figure5() {
    std::string dir = figure_dir("bench5");
    constexpr std::size_t kText = 25u << 20;
    std::string file = dir + "/data.b64";
    {
        std::string data = bench::random_bytes(kText / 4 * 3, 7);
        std::string text = torvane::base64_encode(data);
        bench::write_file(file, text);
        std::vector<char> out(data.size() + 1);
        std::size_t produced = 0;
        if (torvane::base64_decode(text.data(), text.size(), out.data(), out.size(), &produced) !=
                0 ||
            produced != data.size() || std::memcmp(out.data(), data.data(), data.size()) != 0)
            fail("5", "base64_decode gave a wrong result");
    }

    // The decoder's side: a forked child that pays for reading the file, its
    // buffers and its writes as base64 -d does.
    auto decode_child = [&](rusage& ru) {
        std::fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            int in = open(file.c_str(), O_RDONLY);
            int null = open("/dev/null", O_WRONLY);
            static char text[1 << 16]; // a multiple of four: pieces end between groups
            static char out[sizeof text / 4 * 3 + 1];
            int bad = in < 0 || null < 0;
            for (ssize_t n; !bad && (n = read(in, text, sizeof text)) > 0;) {
                std::size_t produced = 0;
                bad |= torvane::base64_decode(text, static_cast<std::size_t>(n), out, sizeof out,
                                              &produced);
                bad |= write(null, out, produced) != static_cast<ssize_t>(produced);
            }
            _exit(bad ? 1 : 0);
        }
        int status = 0;
        if (pid < 0 || wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            fail("5", "the decoding child failed");
    };
    auto child_cpu = [](const rusage& ru) {
        return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
               static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
    };
    constexpr int kRuns = 7;
    std::vector<double> ours, theirs;
    for (int i = 0; i < kRuns; ++i) {
        rusage ru{};
        decode_child(ru);
        ours.push_back(child_cpu(ru));
        if (bench::run({"base64", "-d", file}, "", "", &ru) != 0) fail("5", "base64 -d failed");
        theirs.push_back(child_cpu(ru));
    }
    double mo = median(ours), mt = median(theirs);
    report("5", "base64 decoding of 25 MiB", mo / mt, "<=1.0", mo <= mt,
           "base64_decode %.1f ms CPU; base64 -d %.1f ms CPU; each a process reading the file in "
           "pieces; median of %d",
           mo * 1e3, mt * 1e3, kRuns);
    bench::remove_tree(dir);
}

// 6. INI lookup: the last key of a 200-key file against opening the file and
// reading it line by line to its end with stdio.
void figure6() {
    std::string dir = figure_dir("bench6");
    std::string file = dir + "/settings.ini";
    // 200 keys with names of varied length and a few comment lines, as a
    // settings file has them; the key looked up is the last one.
    static constexpr const char* kHeads[] = {"T",       "MODO",  "SAT", "PORTA", "LOG",
                                             "CAMINHO", "TEMPO", "NUM", "FLAG",  "REDE"};
    static constexpr const char* kTails[] = {
        "ENVIO",   "RECEPCAO", "TENTATIVAS", "LIMITE", "ATIVO",   "ARQUIVO",  "SERVIDOR",
        "USUARIO", "VERSAO",   "ESPERA",     "LINHA",  "CODIGO",  "MENSAGEM", "NIVEL",
        "TAMANHO", "FORMATO",  "IDIOMA",     "ZONA",   "PREFIXO", "SUFIXO"};
    std::string ini = "; settings of the benchmark: 200 keys\n[DEFAULT]\n";
    std::string last;
    for (const char* head : kHeads) {
        ini += std::string("; ") + head + "\n";
        for (const char* tail : kTails) {
            last = std::string(head) + "_" + tail;
            ini += last + " = valor de " + last + " ; nota\n";
        }
    }
    bench::write_file(file, ini);
    char value[64];
    ini_gets("DEFAULT", last.c_str(), "", value, sizeof value, file.c_str());
    if (("valor de " + last) != value) fail("6", "ini_gets read '%s'", value);

    // CPU time, not wall time: both sides are pure computation and system
    // calls, and on a shared machine a batch that loses its core for a few
    // milliseconds would otherwise count that wait as work.
    constexpr int kBatches = 41, kCalls = 100;
    std::vector<double> lookup, floor;
    long lines = 0;
    for (int b = 0; b < kBatches; ++b) {
        double t0 = bench::cpu_self();
        for (int i = 0; i < kCalls; ++i)
            ini_gets("DEFAULT", last.c_str(), "", value, sizeof value, file.c_str());
        lookup.push_back((bench::cpu_self() - t0) / kCalls);
        t0 = bench::cpu_self();
        for (int i = 0; i < kCalls; ++i) {
            FILE* f = std::fopen(file.c_str(), "rb");
            char line[512];
            while (std::fgets(line, sizeof line, f))
                ++lines;
            std::fclose(f);
        }
        floor.push_back((bench::cpu_self() - t0) / kCalls);
    }
    double ml = median(lookup), mf = median(floor);
    report("6", "ini_gets, last of 200 keys", ml / mf, "<=1.5", ml / mf <= 1.5,
           "ini_gets %.2f us CPU; fopen+fgets to the end %.2f us CPU; %zu-byte file, median of "
           "%d x %d",
           ml * 1e6, mf * 1e6, ini.size(), kBatches, kCalls);
    bench::remove_tree(dir);
}

// 7. The emulator alone: sales per second for a plain client.
void figure7() {
    std::string dir = figure_dir("bench7");
    bench::Emulator emu(kSatemu, dir, {"--preset", "active"});
    if (!emu.ok()) fail("7", "satemu did not start");
    std::string doc = bench::read_file(kExamples + "/venda.xml");
    if (doc.empty()) fail("7", "no example sale in %s", kExamples.c_str());
    bench::RawLine line(emu.device());
    static char buf[65536];
    int sales = 0;
    double t0 = now(), elapsed = 0;
    while ((elapsed = now() - t0) < 3.0) {
        int s = sales + 1;
        line.write_all(bench::frame("|03|" + session_text(s) + "|" + kCode + "|" + doc));
        long n = line.read_answer(buf, sizeof buf);
        if (n < 0) fail("7", "no answer to sale %d", s);
        buf[n - 1] = '\0';
        if (!answer_is(buf, s, "06000")) fail("7", "sale refused: '%.80s'", buf);
        ++sales;
    }
    double rate = sales / elapsed;
    report("7", "satemu sales per second", rate / 500, ">=1.0", rate >= 500,
           "%.0f sales/s (%d sales in %.2f s, %zu-byte sale, plain client); goal 500/s", rate,
           sales, elapsed, doc.size());
    bench::remove_tree(dir);
}

// 8. Memory. A host process with the library, before and after its first call.
void figure8_host() {
    std::string dir = figure_dir("bench8");
    bench::Emulator emu(kSatemu, dir, {"--preset", "active"});
    if (!emu.ok()) fail("8a", "satemu did not start");
    long before = bench::rss_kib();
    Library lib("8a");
    long loaded = bench::rss_kib();
    lib.set("SERIAL", emu.device());
    char* a = lib.ConsultarSAT(1);
    if (!answer_is(a, 1, "08000")) fail("8a", "unexpected answer '%.60s'", a);
    long after = bench::rss_kib();
    double grown = static_cast<double>(after - before) / 1024.0;
    report("8a", "host RSS, library + 1st call", grown / 4.5, "report", true,
           "%ld KiB before dlopen, %ld after (+%ld), %ld after ConsultarSAT (+%ld); buffers 3 + "
           "1.5 MiB",
           before, loaded, loaded - before, after, after - loaded);
    bench::remove_tree(dir);
}

struct Pair {
    const char* tag;
    std::string satcli;
    std::string lib;
    std::vector<std::string> emulator = {};
};

// Peak resident memory of satcli (ConsultarSAT; ExtrairLogs with a 2.5 MiB
// answer), run in a folder of its own with the library beside it and, in a
// private mount namespace, a sat.ini that points the library at the emulator.
void figure8_satcli() {
    std::vector<Pair> pairs = {{"x64", kSatcli, kLib}};
    if (const char* x86 = std::getenv("SATBENCH_X86_TREE"); x86 && *x86) {
        std::string tree = x86;
        std::vector<std::string> emulator;
        const char* words_env = std::getenv("SATBENCH_X86_EMULATOR");
        std::istringstream words(words_env ? words_env : "");
        for (std::string w; words >> w;)
            emulator.push_back(w);
        if (!emulator.empty()) emulator.insert(emulator.end(), {"-0", "satcli"});
        pairs.push_back(
            {"x86", tree + "/tool/satcli", tree + "/lib/libtorvane_sat_x86.so", emulator});
    }
    std::string dir = figure_dir("bench8");
    bench::Emulator emu(kSatemu, dir, {"--preset", "active"});
    if (!emu.ok()) fail("8b", "satemu did not start");
    std::string reply;
    if (!emu.control("fault 12:answer:" + large_log_answer(kLargeAnswer), &reply))
        fail("8b", "fault refused: %s", reply.c_str());
    std::string halvex = dir + "/halvex";
    mkdir(halvex.c_str(), 0755);
    bench::write_file(halvex + "/sat.ini", "[DEFAULT]\nSERIAL=" + emu.device() + "\n");
    std::string why;
    if (!bench::enter_halvex(halvex, why)) fail("8b", "%s", why.c_str());

    for (const Pair& p : pairs) {
        if (access(p.satcli.c_str(), X_OK) != 0 || access(p.lib.c_str(), R_OK) != 0) {
            std::printf("8   %s satcli or library missing (%s), skipped\n", p.tag,
                        p.satcli.c_str());
            continue;
        }
        std::string work = dir + "/" + p.tag;
        mkdir(work.c_str(), 0755);
        bench::write_file(work + "/libtorvane_sat_x86.so", bench::read_file(p.lib));
        bench::write_file(work + "/config.ini", bench::read_file(kExamples + "/config.ini"));
        auto peak = [&](std::vector<std::string> args, const char* check, int expected = 0) {
            args.insert(args.begin(), p.satcli);
            args.insert(args.begin(), p.emulator.begin(), p.emulator.end());
            rusage ru{};
            std::string out = work + "/out.txt";
            int status = bench::run(args, work, out, &ru);
            std::string printed = bench::read_file(out);
            if (status != expected || printed.find(check) == std::string::npos)
                fail("8b", "%s %s: status %d, output '%.200s'", p.satcli.c_str(),
                     args.size() > 1 ? args[1].c_str() : "", status, printed.c_str());
            return ru.ru_maxrss; // KiB
        };
        // The usage text (a refusal, status 1): what the program and the library
        // cost before any call.
        long usage = peak({}, "Sintaxe", 1);
        long query = peak({"ConsultarSAT"}, "08000");
        long logs = peak({"ExtrairLogs", kCode}, "15000");
        char fig[8], what[64];
        std::snprintf(fig, sizeof fig, "8%s", p.tag[1] == '6' ? "b" : "c");
        std::snprintf(what, sizeof what, "satcli %s peak RSS%s", p.tag,
                      p.emulator.empty() ? "" : ", qemu");
        report(fig, what, static_cast<double>(logs) / (4.5 * 1024), "report", true,
               "usage text %ld KiB, ConsultarSAT %ld KiB, ExtrairLogs 2.5 MiB %ld KiB; buffers 3 + "
               "1.5 MiB = 4608 KiB",
               usage, query, logs);
    }
    bench::remove_tree(dir);
}

struct Figure {
    const char* name;
    void (*run)();
    const char* what;
};

const Figure kFigures[] = {
    {"1", figure1,
     "ConsultarSAT call time over the floor (100 ms lock + 50 ms pacing), lock on/off"},
    {"2", figure2, "ExtrairLogs, 2.5 MiB answer, against a plain reader"},
    {"3", figure3, "1 MiB sale handed to the emulator, against a plain writer"},
    {"4", figure4, "CPU time while an answer takes 20 s"},
    {"5", figure5, "base64_decode of 25 MiB against base64 -d, both as processes"},
    {"6", figure6, "ini_gets of the last of 200 keys against fopen + fgets to the end"},
    {"7", figure7, "satemu sales per second for a plain client"},
    {"8a", figure8_host, "host process RSS with the library, before and after its first call"},
    {"8b", figure8_satcli, "satcli peak RSS: ConsultarSAT and a 2.5 MiB ExtrairLogs"},
};

// Runs one figure in a child process: fresh library globals, its own mount
// namespace where it needs one, and a crash stays that figure's.
int run_child(const char* self, const Figure& f) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, f.name, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) std::printf("%-3s ended by signal %d\n", f.name, WTERMSIG(status));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const Figure& f : kFigures)
            std::printf("%-3s %s\n", f.name, f.what);
        return 0;
    }
    // Figures 1 to 4 call the library outside any sandbox: its device lock files
    // go to a private /run/lock (one level of namespace, shared by the children).
    if (!std::getenv("SATBENCH_PRIVATE_LOCK")) {
        std::string why;
        if (!bench::private_run_lock(why)) {
            std::fprintf(stderr, "satbench: no private /run/lock: %s\n", why.c_str());
            return 1;
        }
        setenv("SATBENCH_PRIVATE_LOCK", "1", 1);
    }
    if (argc == 2) {
        for (const Figure& f : kFigures)
            if (std::strcmp(argv[1], f.name) == 0) {
                f.run();
                return 0;
            }
    }
    // Several figures, or all: each in a process of its own.
    std::vector<const Figure*> chosen;
    for (int i = 1; i < argc; ++i) {
        bool found = false;
        for (const Figure& f : kFigures)
            if (std::strcmp(argv[i], f.name) == 0 ||
                (argv[i][0] == f.name[0] && argv[i][1] == '\0')) {
                chosen.push_back(&f);
                found = true;
            }
        if (!found) {
            std::fprintf(stderr, "satbench: no figure '%s' (see satbench --list)\n", argv[i]);
            return 2;
        }
    }
    if (argc == 1)
        for (const Figure& f : kFigures)
            chosen.push_back(&f);
    int failed = 0;
    for (const Figure* f : chosen)
        if (run_child("/proc/self/exe", *f) != 0) ++failed;
    return failed ? 1 : 0;
}
