// Serial link to the device: the only file of the library that makes terminal
// calls (termios, ioctl, select). Everything above it works with texts and BC.
#include "sat_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

sat::Overflow overflow = sat::Overflow::None;

// The node opened last, named in the log lines of a failed write or read.
char opened_node[sizeof SAT_SERIAL + 16] = "";

// With DEBUG on: what failed, then the node and the system's text for `error`,
// so that "no such device" and "permission denied" tell apart in the log.
void log_failure(const char* what, const char* node, int error) {
    if (ModoDebug != 1) return;
    char text[128];
    char detail[sizeof text + sizeof opened_node + 4];
    std::snprintf(detail, sizeof detail, "%s: %s", node, strerror_r(error, text, sizeof text));
    EnviaLog(what, detail);
}

void reset_select_timeout() {
    timeoutUSB.tv_sec = 2;
    timeoutUSB.tv_usec = 0;
}

// The moment (mili_tick) by which a frame must have left: the exchange's
// deadline, but never less than 2 s from now.
int64_t send_limit() {
    int64_t deadline = static_cast<int64_t>(Tempo_Tout) * 1000;
    int64_t floor = mili_tick() + 2000;
    return deadline > floor ? deadline : floor;
}

bool wait_writable(int fd, int64_t until) {
    for (;;) {
        int64_t left = until - mili_tick();
        if (left <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r > 0) return true;
        if (r < 0 && errno == EINTR) continue;
        return false;
    }
}

// tcdrain with a limit: waits until the terminal has sent what was written. A
// device that holds the line (flow control) must not block the call forever.
bool drain(int fd, int64_t until) {
    for (;;) {
        int pending = 0;
        if (ioctl(fd, TIOCOUTQ, &pending) != 0 || pending <= 0) return true;
        if (mili_tick() >= until) return false;
        usleep(1000);
    }
}

// Writes all of [data, data + size), going on after short writes and EINTR, and
// drains after every write: no byte may be thrown away before it has left.
// 0 when all has left, else the error (ETIMEDOUT when the limit passed).
int write_all(int fd, const char* data, std::size_t size, int64_t until) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            if (!wait_writable(fd, until)) return ETIMEDOUT;
            continue;
        }
        if (n < 0) return errno;
        if (n == 0) return EIO;
        if (!drain(fd, until)) return ETIMEDOUT;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int bytes_waiting(int fd) {
    int count = 0;
    if (ioctl(fd, FIONREAD, &count) != 0) return 0;
    return count;
}

// Waits up to what is left of timeoutUSB for the device to become readable.
// select cannot watch a descriptor at or above FD_SETSIZE; poll does it then.
int wait_readable(int fd) {
    if (fd < FD_SETSIZE) {
        FD_ZERO(&inputUSB);
        FD_SET(fd, &inputUSB);
        return select(fd + 1, &inputUSB, nullptr, nullptr, &timeoutUSB);
    }
    pollfd p{fd, POLLIN, 0};
    int ms = static_cast<int>(timeoutUSB.tv_sec * 1000 + timeoutUSB.tv_usec / 1000);
    int r = poll(&p, 1, ms);
    timeoutUSB.tv_sec = 0; // one wait uses the whole budget
    timeoutUSB.tv_usec = 0;
    return r;
}

// Reads `count` waiting bytes. What fits goes to BC.Dados (keeping one byte for
// the terminating 0); the rest of an answer that does not fit is read and
// dropped. Returns the bytes read (-1 on a failed read) and, in `ended`, whether
// the last byte read was the end marker.
ssize_t read_piece(int fd, int count, bool& ended) {
    ended = false;
    std::size_t space = static_cast<std::size_t>(sat::kResponseSize - 1 - BC.NumBytes);
    std::size_t want = static_cast<std::size_t>(count);
    if (overflow == sat::Overflow::None && want <= space) {
        ssize_t n = read(fd, BC.Dados + BC.NumBytes, want);
        if (n > 0) {
            BC.NumBytes += static_cast<int>(n);
            ended = sat::ends_answer(BC.Dados, static_cast<std::size_t>(BC.NumBytes));
        }
        return n;
    }
    overflow = sat::Overflow::Reading;
    static char scratch[65536];
    ssize_t total = 0;
    while (want > 0) {
        std::size_t chunk = want < sizeof scratch ? want : sizeof scratch;
        ssize_t n = read(fd, scratch, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return total > 0 ? total : -1;
        if (n == 0) break;
        total += n;
        want -= static_cast<std::size_t>(n);
        ended = sat::ends_answer(scratch, static_cast<std::size_t>(n));
    }
    if (ended) overflow = sat::Overflow::Dropped;
    return total;
}

// Reads and drops what is waiting on the line now, without waiting for more.
// Bounded, so that a device that never stops talking cannot hold the send.
void discard_waiting(int fd) {
    static char scratch[65536];
    char first[sat::kDiscardShown];
    std::size_t total = 0, kept = 0;
    for (int count; total < (std::size_t{4} << 20) && (count = bytes_waiting(fd)) > 0;) {
        ssize_t n = read(fd, scratch, std::min(sizeof scratch, static_cast<std::size_t>(count)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const std::size_t copy = std::min(sizeof first - kept, static_cast<std::size_t>(n));
        std::memcpy(first + kept, scratch, copy);
        kept += copy;
        total += static_cast<std::size_t>(n);
    }
    sat::log_discarded("EnviaParaSat: descartado antes do envio: ", total,
                       std::string_view(first, kept));
}

} // namespace

namespace sat {

void close_device() noexcept {
    if (fdUSB >= 0) close(fdUSB);
    fdUSB = -1;
}

int open_link(const char* path) noexcept {
    fdUSB = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fdUSB < 0) {
        const int error = errno;
        fdUSB = -1;
        console("init_usb: Falha ao tentar abrir o dispositivo %s\n", path);
        log_failure("init_usb: Falha ao abrir o dispositivo ", path, error);
        return -1;
    }
    std::snprintf(opened_node, sizeof opened_node, "%s", path);
    // Blocking from here on; envia_usb lifts it only while it writes, to keep its limit.
    fcntl(fdUSB, F_SETFL, 0);
    termios tio{};
    if (tcgetattr(fdUSB, &tio) == 0) {
        // Raw bytes both ways; speed, size, parity and VMIN/VTIME stay as the node has them.
        tio.c_cflag |= CRTSCTS | CREAD | CLOCAL;
        tio.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE);
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tcsetattr(fdUSB, TCSANOW, &tio);
    }
    // Bytes already waiting (the late answer of a command whose caller gave up)
    // must not be taken for this command's answer: read and dropped before the
    // command goes out, and logged, so that the log shows what was lost.
    tcflush(fdUSB, TCOFLUSH);
    discard_waiting(fdUSB);
    FD_ZERO(&inputUSB);
    if (fdUSB < FD_SETSIZE) FD_SET(fdUSB, &inputUSB);
    reset_select_timeout();
    return 0;
}

bool device_is_terminal() noexcept {
    return fdUSB >= 0 && isatty(fdUSB) == 1;
}

Overflow response_overflow() noexcept {
    return overflow;
}

} // namespace sat

extern "C" {

SAT_API int envia_usb(const char* comando) noexcept {
    if (!comando) comando = "";
    const int fd = fdUSB;
    // Non-blocking while writing, so that the limit holds; blocking again after.
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const int64_t until = send_limit();
    // The text, then each byte of the frame's end, written separately as the
    // device expects.
    int error = write_all(fd, comando, std::strlen(comando), until);
    for (std::size_t i = 0; error == 0 && i < sizeof sat::kCommandEnd; ++i)
        error = write_all(fd, sat::kCommandEnd + i, 1, until);
    if (flags >= 0) fcntl(fd, F_SETFL, flags);
    if (error != 0) log_failure("envia_usb: Falha ao escrever no dispositivo ", opened_node, error);
    return error == 0 ? 0 : -1;
}

SAT_API int cbInit(int tamanho) noexcept {
    BC.Tamanho = tamanho;
    BC.NumBytes = 0;
    BC.Dados[0] = '\0';
    overflow = sat::Overflow::None;
    return tamanho;
}

SAT_API int le_usb(void) noexcept {
    int fd = fdUSB;
    FD_ZERO(&inputUSB);
    if (fd >= 0 && fd < FD_SETSIZE) FD_SET(fd, &inputUSB);
    // Set once per call: select leaves the unused time in it, so the 2 s bound
    // all the waiting of this call together.
    reset_select_timeout();

    int count = fd >= 0 ? bytes_waiting(fd) : 0;
    // Nothing waiting: this sleep paces the receive loop while the device works.
    if (count == 0) usleep(50000);
    sat::console("le_usb -> bytes: %d\n", count);
    sat::log_number("le_usb - bytes: ", count);
    if (count <= 0) return count;

    for (;;) {
        count = bytes_waiting(fd);
        bool ended = false;
        ssize_t n = read_piece(fd, count, ended);
        int read_error = n < 0 ? errno : 0;
        int got = n > 0 ? static_cast<int>(n) : 0;
        sat::console("le_usb -> bytes lidos: %d de %d\n", got, count);
        if (ModoDebug == 1) {
            char detail[32];
            std::snprintf(detail, sizeof detail, "%d de %d", got, count);
            EnviaLog("le_usb - bytes lidos: ", detail);
        }
        BC.Dados[BC.NumBytes] = '\0';
        if (ended) break;
        // A failed read (EIO: the device is gone) ends the loop like an empty one.
        if (n < 0 && read_error != EINTR && read_error != EAGAIN) {
            log_failure("le_usb: Falha ao ler do dispositivo ", opened_node, read_error);
            break;
        }
        if (n == 0) break;
        if (wait_readable(fd) <= 0) break;
    }
    // What arrives after the end marker stays on the line: it may be the answer
    // itself behind a late one. The next command's open reads it off.
    return count;
}

SAT_API long tick(void) noexcept {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<long>(now.tv_sec);
}

SAT_API int64_t mili_tick(void) noexcept {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000;
}

} // extern "C"
