#include "emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "sandbox.h"

namespace testsupport {

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kControlTimeoutMs = 10000;

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string unescape_frame(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hex(text[i + 2]) >= 0 &&
            hex(text[i + 3]) >= 0) {
            out += static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

Emulator::Emulator(std::vector<std::string> args) {
    dir_ = make_temp_dir("satemu");
    const char* env = std::getenv("SATEMU");
    std::string exe = env && *env ? env : SATEMU_PATH;
    args.insert(args.begin(), exe);
    for (const char* a : {"--control", "", "--transcript", ""})
        args.emplace_back(a);
    args[args.size() - 3] = dir_ + "/ctl.sock";
    args[args.size() - 1] = dir_ + "/transcript.txt";

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    std::string err_path = dir_ + "/stderr.txt";
    // Everything the child needs is prepared before fork: a test process may have
    // threads, and the child may only make plain system calls.
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // The emulator must not outlive a test that crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        dup2(out[1], STDOUT_FILENO);
        if (err >= 0) dup2(err, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (err >= 0) close(err);
    close(out[1]);
    out_fd_ = out[0];
    if (pid_ < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return;
    }
    std::string line;
    int64_t deadline = now_ms() + kStartTimeoutMs;
    while (line.find('\n') == std::string::npos) {
        int left = static_cast<int>(deadline - now_ms());
        pollfd p{out_fd_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0) break;
        char c;
        ssize_t n = read(out_fd_, &c, 1);
        if (n <= 0) break;
        line += c;
    }
    const std::string prefix = "satemu: device at ";
    if (line.rfind(prefix, 0) != 0 || line.back() != '\n') {
        ADD_FAILURE() << "satemu (" << exe << ") did not start; output '" << line
                      << "', stderr: " << read_file(err_path);
        return;
    }
    device_ = line.substr(prefix.size(), line.size() - prefix.size() - 1);
}

Emulator::~Emulator() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        int64_t deadline = now_ms() + 5000;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (now_ms() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            usleep(2000);
        }
    }
    if (out_fd_ >= 0) close(out_fd_);
}

std::string Emulator::control(const std::string& line) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::string("error: socket: ") + std::strerror(errno);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = dir_ + "/ctl.sock";
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::string e = std::string("error: connect: ") + std::strerror(errno);
        close(fd);
        return e;
    }
    std::string request = line + "\n";
    size_t off = 0;
    while (off < request.size()) {
        ssize_t n = send(fd, request.data() + off, request.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        off += static_cast<size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    std::string reply;
    char buf[65536];
    int64_t deadline = now_ms() + kControlTimeoutMs;
    while (true) {
        int left = static_cast<int>(deadline - now_ms());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0) break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        reply.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    return reply;
}

void Emulator::fault(const std::string& rule_text) {
    EXPECT_EQ(control("fault " + rule_text), "ok") << "fault " << rule_text;
}

void Emulator::clear_faults() {
    EXPECT_EQ(control("clear"), "ok");
}

std::vector<std::string> Emulator::frames() {
    std::string reply = control("frames");
    std::vector<std::string> out;
    size_t nl = reply.find('\n');
    std::string head = reply.substr(0, nl);
    if (head.rfind("ok ", 0) != 0) {
        ADD_FAILURE() << "frames: " << reply;
        return out;
    }
    size_t count = std::strtoul(head.c_str() + 3, nullptr, 10);
    while (nl != std::string::npos && out.size() < count) {
        size_t next = reply.find('\n', nl + 1);
        out.push_back(
            unescape_frame(reply.substr(nl + 1, next == std::string::npos ? next : next - nl - 1)));
        nl = next;
    }
    EXPECT_EQ(out.size(), count) << "frames reply cut short";
    return out;
}

std::string Emulator::codes(int session) {
    char head[16];
    std::snprintf(head, sizeof head, "|%06d", session);
    std::string out;
    for (const auto& f : frames())
        if (session < 0 || f.compare(3, 7, head) == 0)
            out += (out.empty() ? "" : " ") + f.substr(1, 2);
    return out;
}

long Emulator::issued() {
    const std::string s = control("state");
    const auto at = s.find("counter=");
    return at == std::string::npos ? -1 : std::atol(s.c_str() + at + 8);
}

std::string Emulator::transcript() const {
    return read_file(dir_ + "/transcript.txt");
}

Reply transact(const std::string& device, const std::string& command, int timeout_ms,
               bool read_all) {
    Reply r;
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return r;
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    tcflush(fd, TCIOFLUSH);
    const std::string frame = command + "|\x03";
    for (size_t off = 0; off < frame.size();) {
        ssize_t n = write(fd, frame.data() + off, frame.size() - off);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    const int64_t deadline = now_ms() + timeout_ms;
    char buf[65536];
    for (int left; (left = static_cast<int>(deadline - now_ms())) > 0;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        r.text.append(buf, static_cast<size_t>(n));
        if (!read_all && r.text.back() == '\x03') break;
    }
    r.complete = !r.text.empty() && r.text.back() == '\x03';
    close(fd);
    return r;
}

std::string answer(const std::string& device, const std::string& command) {
    Reply r = transact(device, command);
    return r.complete ? r.text.substr(0, r.text.size() - 1) : std::string();
}

} // namespace testsupport
