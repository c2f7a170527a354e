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

#include <chrono>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "sandbox.h"

namespace testsupport {

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Reads what `fd` delivers until `done` holds, the other side closes or `ms` pass.
std::string read_until(int fd, int ms, bool (*done)(const std::string&)) {
    std::string text;
    char buf[65536];
    for (int64_t end = now_ms() + ms, left; (left = end - now_ms()) > 0 && !done(text);) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    return text;
}

} // namespace

std::string sale_document() {
    static const std::string doc = read_file(TORVANE_SOURCE_DIR "/examples/venda.xml");
    return doc;
}

std::string cancel_document(const std::string& key) {
    return "<CFeCanc><infCFe chCanc=\"" + key +
           "\"><ide><CNPJ>08317492000155</CNPJ><signAC>x</signAC><numeroCaixa>001</numeroCaixa>"
           "</ide><emit/><dest/><total/></infCFe></CFeCanc>";
}

std::string unescape_frame(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        int used = 0;
        if (text.compare(i, 2, "\\x") == 0 &&
            std::sscanf(text.c_str() + i + 2, "%2x%n", &value, &used) == 1 && used == 2) {
            out += static_cast<char>(value);
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

Emulator::Emulator(std::vector<std::string> args) : dir_(make_temp_dir("satemu")) {
    const char* env = std::getenv("SATEMU");
    args.insert(args.begin(), env && *env ? env : SATEMU_PATH);
    args.insert(args.end(),
                {"--control", dir_ + "/ctl.sock", "--transcript", dir_ + "/transcript.txt"});
    // Everything the child needs is prepared before fork.
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    const int err = open((dir_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (pipe2(out, O_CLOEXEC) != 0 || err < 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // the emulator must not outlive a crashed test
        if (getppid() != parent) _exit(127);
        dup2(out[1], STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(err);
    close(out[1]);
    out_fd_ = out[0];
    const std::string line = read_until(
        out_fd_, 5000, [](const std::string& t) { return t.find('\n') != std::string::npos; });
    const std::string prefix = "satemu: device at ";
    if (line.rfind(prefix, 0) != 0 || line.back() != '\n') {
        ADD_FAILURE() << "satemu (" << args[0] << ") did not start; output '" << line
                      << "', stderr: " << read_file(dir_ + "/stderr.txt");
        return;
    }
    device_ = line.substr(prefix.size(), line.size() - prefix.size() - 1);
}

Emulator::~Emulator() {
    for (int i = 0; pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i, usleep(2000))
        kill(pid_, i < 2500 ? SIGTERM : SIGKILL);
    if (out_fd_ >= 0) close(out_fd_);
}

std::string Emulator::control(const std::string& line) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s/ctl.sock", dir_.c_str());
    const std::string request = line + "\n";
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
        close(fd);
        return std::string("error: ") + std::strerror(errno);
    }
    shutdown(fd, SHUT_WR);
    std::string reply = read_until(fd, 10000, [](const std::string&) { return false; });
    close(fd);
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    return reply;
}

void Emulator::fault(const std::string& rule_text) {
    EXPECT_EQ(control("fault " + rule_text), "ok") << "fault " << rule_text;
}

std::vector<std::string> Emulator::frames() {
    const std::string reply = control("frames");
    std::vector<std::string> out;
    if (reply.rfind("ok ", 0) != 0) ADD_FAILURE() << "frames: " << reply;
    for (size_t nl = reply.find('\n'), next; nl != std::string::npos; nl = next) {
        next = reply.find('\n', nl + 1);
        out.push_back(unescape_frame(reply.substr(nl + 1, next - nl - 1)));
    }
    EXPECT_EQ(out.size(), std::strtoul(reply.c_str() + 3, nullptr, 10)) << "frames cut short";
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

std::string transact(const std::string& device, const std::string& command, int timeout_ms,
                     bool read_all) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return "";
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
    const std::string frame = command + "|\x03";
    std::string text;
    if (write(fd, frame.data(), frame.size()) == ssize_t(frame.size()))
        text = read_until(
            fd, timeout_ms,
            read_all ? [](const std::string&) { return false; }
                     : [](const std::string& t) { return t.ends_with('\x03'); });
    close(fd);
    return text;
}

std::string answer(const std::string& device, const std::string& command) {
    const std::string r = transact(device, command);
    return r.ends_with('\x03') ? r.substr(0, r.size() - 1) : std::string();
}

} // namespace testsupport
