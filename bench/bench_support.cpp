#include "bench_support.h"

#include "frame.h"

#include "sandbox.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

namespace {

std::vector<pid_t> running; // emulators started and not yet ended

long status_field_kib(const char* name) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    std::size_t len = std::strlen(name);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, name, len) == 0 && line[len] == ':') {
            value = std::strtol(line + len + 1, nullptr, 10);
            break;
        }
    std::fclose(f);
    return value;
}

} // namespace

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double cpu_self() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    std::size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2.0;
}

Emulator::Emulator(const std::string& satemu, const std::string& dir,
                   std::vector<std::string> args) {
    socket_ = dir + "/ctl.sock";
    args.insert(args.begin(), satemu);
    args.push_back("--control");
    args.push_back(socket_);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (pid_ > 0) running.push_back(pid_);
    // The first line names the device: "satemu: device at /dev/pts/N".
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    double deadline = now() + 5.0;
    while (line.find('\n') == std::string::npos && now() < deadline) {
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[256];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    const std::string mark = "device at ";
    std::size_t at = line.find(mark);
    std::size_t nl = line.find('\n');
    if (at != std::string::npos && nl != std::string::npos && nl > at)
        device_ = line.substr(at + mark.size(), nl - at - mark.size());
    // The control socket is ready once it answers.
    for (int i = 0; i < 50 && ok() && !control("ping"); ++i)
        usleep(20000);
}

Emulator::~Emulator() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        std::erase(running, pid_);
    }
}

void stop_emulators() {
    for (pid_t pid : running) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    running.clear();
}

bool Emulator::control(const std::string& line, std::string* reply) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_.c_str());
    std::string got;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::string req = line + "\n";
        std::size_t done = 0;
        while (done < req.size()) {
            ssize_t n = write(fd, req.data() + done, req.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        shutdown(fd, SHUT_WR);
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            got.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    while (!got.empty() && got.back() == '\n')
        got.pop_back();
    if (reply) *reply = got;
    return got.rfind("ok", 0) == 0;
}

RawLine::RawLine(const std::string& device) {
    fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
}

RawLine::~RawLine() {
    if (fd_ >= 0) close(fd_);
}

bool RawLine::write_all(std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd_, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

long RawLine::read_answer(char* buf, std::size_t cap, double timeout_s, double* first_byte) {
    std::size_t got = 0;
    double deadline = now() + timeout_s;
    pollfd p{fd_, POLLIN, 0};
    while (got < cap) {
        int ms = static_cast<int>((deadline - now()) * 1000);
        if (ms <= 0) return -1;
        int r = poll(&p, 1, ms);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return -1;
        ssize_t n = read(fd_, buf + got, cap - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        if (got == 0 && first_byte) *first_byte = now();
        got += static_cast<std::size_t>(n);
        if (buf[got - 1] == satemu::kEtx) return static_cast<long>(got);
    }
    return -1;
}

std::string frame(std::string_view command) {
    std::string f(command);
    f += '|';
    f += satemu::kEtx;
    return f;
}

int run(const std::vector<std::string>& argv, const std::string& cwd, const std::string& out_file,
        rusage* usage, double* seconds) {
    double t0 = now();
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        int out = open(out_file.empty() ? "/dev/null" : out_file.c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
    }
    if (seconds) *seconds = now() - t0;
    if (usage) *usage = ru;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

long rss_kib() {
    return status_field_kib("VmRSS");
}

long peak_rss_kib() {
    return status_field_kib("VmHWM");
}

bool enter_halvex(const std::string& dir, std::string& why) {
    return testsupport::enter_halvex_sandbox(dir, why);
}

bool private_run_lock(std::string& why) {
    if (!testsupport::enter_private_mounts(why)) return false;
    struct stat st {};
    if (stat("/run/lock", &st) != 0) return true; // nothing to hide
    return testsupport::mount_tmpfs("/run/lock", "1m", why);
}

std::string temp_dir(const char* tag) {
    return testsupport::make_temp_dir(tag);
}

void remove_tree(const std::string& dir) {
    if (dir.size() < 6) return;
    nftw(
        dir.c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path); },
        16, FTW_DEPTH | FTW_PHYS);
}

bool write_file(const std::string& path, std::string_view data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

std::string read_file(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    std::fclose(f);
    return out;
}

std::string random_bytes(std::size_t n, std::uint32_t seed) {
    std::string out(n, '\0');
    std::uint32_t x = seed ? seed : 1;
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

} // namespace bench
