#include "raw_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "sandbox.h"

namespace emutest {

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

Reply transact(const std::string& device, const std::string& command, int timeout_ms,
               bool read_all) {
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
        if (!read_all && r.text.back() == '\x03') break;
    }
    r.complete = !r.text.empty() && r.text.back() == '\x03';
    close(fd);
    return r;
}

std::string answer(const std::string& device, const std::string& command, int timeout_ms) {
    Reply r = transact(device, command, timeout_ms);
    if (!r.complete) return {};
    r.text.pop_back();
    return r.text;
}

std::string sale_document() {
    return testsupport::read_file(EMU_EXAMPLES_DIR "/venda.xml");
}

std::string cancel_doc(const std::string& key_field) {
    return "<CFeCanc><infCFe chCanc=\"" + key_field +
           "\"><ide><CNPJ>08317492000155</CNPJ><signAC>x</signAC><numeroCaixa>001</numeroCaixa>"
           "</ide><emit/><dest/><total/></infCFe></CFeCanc>";
}

} // namespace emutest
