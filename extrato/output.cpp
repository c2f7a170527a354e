#include "output.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace extrato {

namespace {

constexpr int kNetworkTimeout = 10; // seconds

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool write_all(int fd, std::string_view bytes, std::string& error) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

int connect_to(const std::string& host, const std::string& port, std::string& error) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int r = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); r != 0) {
        error = ::gai_strerror(r);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        // A printer that is off or unplugged must not hold the till for minutes:
        // connect and every write give up after kNetworkTimeout.
        const timeval limit{kNetworkTimeout, 0};
        if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    return fd;
}

} // namespace

bool send(const std::string& target, std::string_view bytes, std::string& error) {
    if (target == "-") return write_all(STDOUT_FILENO, bytes, error);
    Fd out;
    if (target.starts_with("tcp://")) {
        std::string host = target.substr(6), port = "9100";
        if (const auto colon = host.rfind(':');
            colon != std::string::npos && host.find(']', colon) == std::string::npos) {
            port = host.substr(colon + 1);
            host.resize(colon);
        }
        if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
        out.fd = connect_to(host, port, error);
    } else {
        // A device node is opened as it is; a file is created or replaced.
        const int flags = target.starts_with("/dev/") ? O_WRONLY : O_WRONLY | O_CREAT | O_TRUNC;
        out.fd = ::open(target.c_str(), flags | O_CLOEXEC, 0644);
        if (out.fd < 0) error = std::strerror(errno);
    }
    return out.fd >= 0 && write_all(out.fd, bytes, error);
}

} // namespace extrato
