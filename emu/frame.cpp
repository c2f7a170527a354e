#include "frame.h"

#include <cstdio>

#include "util.h"

namespace satemu {

void FrameAssembler::feed(std::string_view bytes, std::vector<std::string>& out) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        bool ends = c == kEtx && !buf_.empty() && buf_.back() == '|';
        if (overflow_) {
            // Skip until the end of the oversized frame, keeping only the last byte
            // so that a terminator split across pieces is still seen.
            buf_.assign(1, c);
            if (ends) {
                overflow_ = false;
                buf_.clear();
            }
            continue;
        }
        buf_ += c;
        if (ends) {
            out.push_back(std::move(buf_));
            buf_.clear();
        } else if (buf_.size() > kMaxFrame) {
            overflow_ = true;
            ++discarded_;
            buf_.assign(1, c);
        }
    }
}

std::string Command::session_field() const {
    return format_session(session);
}

const std::string& Command::field(size_t i) const {
    static const std::string empty;
    return i < fields.size() ? fields[i] : empty;
}

std::string format_session(long long session) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%06lld", session);
    return buf;
}

std::optional<Command> parse_command(std::string_view frame) {
    if (frame.size() >= 2 && frame.substr(frame.size() - 2) == "|\x03") frame.remove_suffix(2);
    if (frame.size() < 4 || frame[0] != '|' || frame[3] != '|') return std::nullopt;
    Command cmd;
    cmd.code = std::string(frame.substr(1, 2));
    if (!all_digits(cmd.code)) return std::nullopt;
    std::string_view rest = frame.substr(4);
    size_t bar = rest.find('|');
    std::string_view session = rest.substr(0, bar);
    bool negative = !session.empty() && session[0] == '-';
    std::string_view digits = negative ? session.substr(1) : session;
    if (!all_digits(digits) || digits.size() > 18) return std::nullopt;
    cmd.session_text = std::string(session);
    cmd.session = std::stoll(std::string(digits));
    if (negative) cmd.session = -cmd.session;
    if (bar != std::string_view::npos) cmd.fields = split(rest.substr(bar + 1), '|');
    return cmd;
}

std::optional<Command> find_command(std::string_view frame) {
    for (size_t p = 0; p < frame.size(); p = frame.find('|', p + 1)) {
        if (auto cmd = parse_command(frame.substr(p))) return cmd;
    }
    return std::nullopt;
}

} // namespace satemu
