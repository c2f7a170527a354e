#include "server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "util.h"

namespace satemu {

namespace {

// Bytes a noisy line puts around an answer.
using namespace std::string_view_literals;

constexpr size_t kFramesKept = 64u << 20;
constexpr std::string_view kNoiseBefore = "\x00\xff~\x1b"sv;
constexpr std::string_view kNoiseAfter = "\x00~noise~\xfe"sv;

std::string replace_all(std::string text, std::string_view what, std::string_view with) {
    for (size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos; pos += with.size())
        text.replace(pos, what.size(), with);
    return text;
}

} // namespace

Server::Server(Device& device, FaultSet& faults, ServerOptions options)
    : device_(device), faults_(faults), options_(std::move(options)) {}

Server::~Server() {
    for (auto& c : clients_)
        close(c.fd);
    if (listen_fd_ >= 0) {
        close(listen_fd_);
        unlink(options_.control.c_str());
    }
    link_.remove_link();
    if (transcript_) std::fclose(transcript_);
}

bool Server::start(std::string& error) {
    if (!options_.transcript.empty()) {
        transcript_ = std::fopen(options_.transcript.c_str(), "a");
        if (!transcript_) {
            error = "cannot open " + options_.transcript + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!options_.control.empty()) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (options_.control.size() >= sizeof addr.sun_path) {
            error = "control socket path too long: " + options_.control;
            return false;
        }
        std::strcpy(addr.sun_path, options_.control.c_str());
        listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        unlink(options_.control.c_str());
        if (listen_fd_ < 0 ||
            bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listen_fd_, 16) != 0) {
            error = "cannot listen on " + options_.control + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!link_.open(options_.link, error)) return false;
    record("--", "device at " + link_.path());
    return true;
}

void Server::record(const char* tag, const std::string& text) {
    if (!transcript_) return;
    std::fprintf(transcript_, "%s %s %s\n", now_with_millis().c_str(), tag, text.c_str());
    std::fflush(transcript_);
}

void Server::on_frame(const std::string& frame) {
    if (listen_fd_ >= 0) {
        frames_.push_back(frame);
        frames_bytes_ += frame.size();
        while (frames_bytes_ > kFramesKept && frames_.size() > 1) {
            frames_bytes_ -= frames_.front().size();
            frames_.pop_front();
        }
    }
    // Escaping a large frame costs more than the model itself: only when recorded.
    if (transcript_) record("<-", escape_bytes(frame));
    auto cmd = find_command(frame);
    if (!cmd || family_of(cmd->code) == 0) {
        record("--", "not a command: ignored");
        return;
    }
    FaultPlan plan = faults_.take(cmd->code);
    if (!plan.applied.empty()) {
        std::string list;
        for (const auto& s : plan.applied)
            list += (list.empty() ? "" : ", ") + s;
        record("--", "faults: " + list);
    }
    if (plan.ignore) return;

    std::string answer;
    if (plan.busy) {
        answer = device_.busy_answer(*cmd);
    } else if (plan.answer) {
        answer = replace_all(*plan.answer, "{sessao}", cmd->session_field());
        device_.store_answer(*cmd, answer);
        if (device_.on_change) device_.on_change();
    } else {
        answer = device_.handle(*cmd);
    }
    if (plan.drop) {
        if (transcript_) record("--", "answer dropped: " + escape_bytes(answer));
        return;
    }

    if (plan.oversize > 0) {
        size_t size = static_cast<size_t>(plan.oversize) - 1;
        if (answer.size() < size)
            answer.append(size - answer.size(), 'X');
        else
            answer.resize(size);
    }
    if (plan.etx_inside) {
        // After the result code, so that the session number and the code stay readable.
        size_t at = answer.find('|');
        at = at == std::string::npos ? answer.size() / 2 : answer.find('|', at + 1);
        answer.insert(at == std::string::npos ? answer.size() / 2 : at + 1, 1, kEtx);
    }
    std::string wire = answer + kEtx;
    if (plan.stale) {
        size_t bar = answer.find('|');
        std::string other = format_session((cmd->session + 1) % 1000000) +
                            (bar == std::string::npos ? std::string("|") : answer.substr(bar));
        wire = other + kEtx + wire;
    }
    if (plan.noise) wire = std::string(kNoiseBefore) + wire + std::string(kNoiseAfter);

    int64_t base = monotonic_ms() + plan.delay_ms;
    std::string note = transcript_ ? escape_bytes(wire) : std::string();
    if (plan.hold_ms >= 0) {
        held_ = Chunk{0, wire, 0, false, note + " (held back)"};
        held_ms_ = plan.hold_ms;
        return;
    }
    if (held_) {
        if (held_ms_ == 0) {
            wire = held_->bytes + wire;
            note = held_->note + ", then " + note;
        } else {
            held_->due = base;
            output_.push_back(std::move(*held_));
            base += held_ms_;
        }
        held_.reset();
    }
    if (plan.hangup) {
        size_t half = wire.size() / 2;
        output_.push_back({base, wire.substr(0, half), 0, false, note + " (cut in the middle)"});
        output_.push_back({base, {}, 0, true, "hang-up"});
        return;
    }
    size_t pieces = plan.split_pieces > 1 ? std::min<size_t>(plan.split_pieces, wire.size()) : 1;
    size_t step = wire.size() / pieces, start = 0;
    for (size_t i = 0; i < pieces; ++i) {
        size_t len = i + 1 == pieces ? wire.size() - start : step;
        std::string piece_note =
            i == 0 ? note + (pieces > 1 ? " (in " + std::to_string(pieces) + " pieces)" : "") : "";
        output_.push_back({base + static_cast<int64_t>(i) * plan.split_ms, wire.substr(start, len),
                           0, false, piece_note});
        start += len;
    }
}

void Server::hangup() {
    record("--", "hang-up: line closed");
    output_.clear();
    assembler_.reset();
    link_.close();
    std::string error;
    if (!link_.open(options_.link, error)) {
        std::fprintf(stderr, "satemu: %s\n", error.c_str());
        return;
    }
    std::printf("satemu: device at %s\n", link_.path().c_str());
    std::fflush(stdout);
    record("--", "device at " + link_.path());
}

void Server::write_output(int64_t now) {
    while (!output_.empty()) {
        Chunk& c = output_.front();
        if (c.due > now) return;
        if (c.written == 0 && !c.note.empty()) {
            record(c.hangup ? "--" : "->", c.note);
            c.note.clear();
        }
        if (c.hangup) {
            hangup();
            return;
        }
        while (c.written < c.bytes.size()) {
            ssize_t n =
                write(link_.master(), c.bytes.data() + c.written, c.bytes.size() - c.written);
            if (n < 0) {
                if (errno == EINTR) continue;
                return; // EAGAIN: wait until the line takes more
            }
            c.written += static_cast<size_t>(n);
        }
        output_.pop_front();
    }
}

void Server::read_line() {
    char buf[65536];
    while (true) {
        ssize_t n = read(link_.master(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        std::vector<std::string> frames;
        assembler_.feed(std::string_view(buf, static_cast<size_t>(n)), frames);
        for (const auto& f : frames)
            on_frame(f);
    }
}

std::string Server::control_request(const std::string& raw) {
    std::string line = raw;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    size_t sp = line.find(' ');
    std::string verb = line.substr(0, sp);
    std::string arg = sp == std::string::npos ? "" : line.substr(sp + 1);
    if (verb == "ping") return "ok";
    if (verb == "fault") {
        std::string error;
        auto rule = parse_fault(arg, error);
        if (!rule) return "error: " + error;
        record("--", "fault added: " + arg);
        faults_.add(std::move(*rule));
        return "ok";
    }
    if (verb == "clear") {
        faults_.clear();
        record("--", "faults cleared");
        return "ok";
    }
    if (verb == "faults") {
        std::string out = "ok " + std::to_string(faults_.size());
        for (const auto& r : faults_.rules())
            out += "\n" + r.rule_text +
                   (r.remaining > 0 ? " (" + std::to_string(r.remaining) + " left)" : "");
        return out;
    }
    if (verb == "frames") {
        std::string out = "ok " + std::to_string(frames_.size());
        for (const auto& f : frames_)
            out += "\n" + escape_bytes(f);
        return out;
    }
    if (verb == "reset-frames") {
        frames_.clear();
        frames_bytes_ = 0;
        return "ok";
    }
    if (verb == "state") return "ok device=" + link_.path() + " " + device_.summary();
    return "error: unknown request '" + verb + "'";
}

void Server::accept_clients() {
    while (true) {
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        clients_.push_back(Client{fd, {}, {}, false});
    }
}

void Server::serve_client(Client& c, short revents) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[4096];
        while (true) {
            ssize_t n = read(c.fd, buf, sizeof buf);
            if (n > 0) {
                c.in.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) c.eof = true;
            if (n < 0 && errno == EINTR) continue;
            break;
        }
        size_t nl;
        while ((nl = c.in.find('\n')) != std::string::npos) {
            std::string line = c.in.substr(0, nl);
            c.in.erase(0, nl + 1);
            c.out += control_request(line) + "\n";
        }
        if (c.eof && !c.in.empty()) {
            c.out += control_request(c.in) + "\n";
            c.in.clear();
        }
    }
    while (!c.out.empty()) {
        ssize_t n = write(c.fd, c.out.data(), c.out.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) {
                c.out.clear();
                c.eof = true;
            }
            break;
        }
        c.out.erase(0, static_cast<size_t>(n));
    }
}

int Server::run() {
    sigset_t empty;
    sigemptyset(&empty);
    while (true) {
        int64_t now = monotonic_ms();
        write_output(now);
        std::vector<pollfd> fds;
        bool waiting_write = !output_.empty() && output_.front().due <= now;
        fds.push_back(
            {link_.master(), static_cast<short>(POLLIN | (waiting_write ? POLLOUT : 0)), 0});
        if (listen_fd_ >= 0) fds.push_back({listen_fd_, POLLIN, 0});
        for (const auto& c : clients_)
            fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        timespec ts{};
        timespec* timeout = nullptr;
        if (!output_.empty() && !waiting_write) {
            int64_t wait = std::max<int64_t>(0, output_.front().due - now);
            ts.tv_sec = wait / 1000;
            ts.tv_nsec = (wait % 1000) * 1000000;
            timeout = &ts;
        }
        int r = ppoll(fds.data(), fds.size(), timeout, &empty);
        if (r < 0) {
            if (errno == EINTR) return 0; // SIGINT or SIGTERM
            std::fprintf(stderr, "satemu: poll: %s\n", std::strerror(errno));
            return 1;
        }
        size_t i = 0;
        if (fds[i].revents & POLLIN) read_line();
        ++i;
        if (listen_fd_ >= 0) {
            if (fds[i].revents & POLLIN) accept_clients();
            ++i;
        }
        for (size_t k = 0; k < clients_.size() && i < fds.size(); ++k, ++i)
            if (fds[i].revents) serve_client(clients_[k], fds[i].revents);
        std::erase_if(clients_, [](const Client& c) {
            if (c.eof && c.out.empty()) {
                close(c.fd);
                return true;
            }
            return false;
        });
    }
}

} // namespace satemu
