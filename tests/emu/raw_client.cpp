#include "raw_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace emutest {

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Reply run(const std::string& device, const std::string& command, int timeout_ms, bool stop_at_etx) {
    Reply r;
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return r;
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    tcflush(fd, TCIOFLUSH);
    std::string frame = command + "|\x03";
    size_t off = 0;
    while (off < frame.size()) {
        ssize_t n = write(fd, frame.data() + off, frame.size() - off);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    int64_t deadline = now_ms() + timeout_ms;
    char buf[65536];
    while (true) {
        int left = static_cast<int>(deadline - now_ms());
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        r.text.append(buf, static_cast<size_t>(n));
        if (stop_at_etx && r.text.back() == '\x03') break;
    }
    r.complete = !r.text.empty() && r.text.back() == '\x03';
    close(fd);
    return r;
}

} // namespace

Reply transact(const std::string& device, const std::string& command, int timeout_ms) {
    return run(device, command, timeout_ms, true);
}

Reply transact_all(const std::string& device, const std::string& command, int ms) {
    return run(device, command, ms, false);
}

std::string answer(const std::string& device, const std::string& command, int timeout_ms) {
    Reply r = transact(device, command, timeout_ms);
    if (!r.complete) return {};
    r.text.pop_back();
    return r.text;
}

std::string read_text_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

} // namespace emutest
