#include "statefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "util.h"

namespace satemu {

namespace {

constexpr const char* kHeader = "satemu-state 1";
// The journal is folded into a new snapshot once it outgrows this (or the snapshot).
constexpr size_t kMinJournal = 4u << 20;

bool to_ll(std::string_view s, long long& out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

// The single-valued items of the state as key and text, in file order.
std::vector<std::pair<std::string, std::string>> scalars(const DeviceState& s) {
    auto n = [](long long v) { return std::to_string(v); };
    return {
        {"serial", s.serial},
        {"activated", n(s.activated)},
        {"code", s.code},
        {"emergency_code", s.emergency_code},
        {"taxpayer_cnpj", s.taxpayer_cnpj},
        {"uf", s.uf},
        {"sh_cnpj", s.sh_cnpj},
        {"signature", s.signature},
        {"blocked", n(s.blocked)},
        {"network", s.network},
        {"counter", n(s.counter)},
        {"last_fiscal", s.last_fiscal},
        {"sale_key", s.last_sale.key},
        {"sale_total", s.last_sale.total},
        {"sale_recipient_tag", s.last_sale.recipient_tag},
        {"sale_recipient", s.last_sale.recipient},
        {"sale_time", n(s.last_sale.time)},
        {"sale_cancelled", n(s.last_sale.cancelled)},
        {"first_key", s.first_key},
        {"last_key", s.last_key},
        {"last_cfe_time", n(s.last_cfe_time)},
        {"activation_time", n(s.activation_time)},
        {"last_contact", n(s.last_contact)},
    };
}

std::string scalar_line(const std::string& key, const std::string& value) {
    return key + "=" + escape_bytes(value) + "\n";
}

std::string session_line(long long session, const std::string& answer) {
    return "session=" + std::to_string(session) + " " + escape_bytes(answer) + "\n";
}

bool set_scalar(DeviceState& s, const std::string& key, const std::string& v) {
    struct Text {
        const char* key;
        std::string* field;
    };
    const Text texts[] = {
        {"serial", &s.serial},
        {"code", &s.code},
        {"emergency_code", &s.emergency_code},
        {"taxpayer_cnpj", &s.taxpayer_cnpj},
        {"uf", &s.uf},
        {"sh_cnpj", &s.sh_cnpj},
        {"signature", &s.signature},
        {"network", &s.network},
        {"last_fiscal", &s.last_fiscal},
        {"sale_key", &s.last_sale.key},
        {"sale_total", &s.last_sale.total},
        {"sale_recipient_tag", &s.last_sale.recipient_tag},
        {"sale_recipient", &s.last_sale.recipient},
        {"first_key", &s.first_key},
        {"last_key", &s.last_key},
    };
    for (const auto& t : texts) {
        if (key == t.key) {
            *t.field = v;
            return true;
        }
    }
    long long num = 0;
    if (!to_ll(v, num)) return false;
    if (key == "activated")
        s.activated = num != 0;
    else if (key == "blocked")
        s.blocked = num != 0;
    else if (key == "counter")
        s.counter = static_cast<long>(num);
    else if (key == "sale_time")
        s.last_sale.time = static_cast<std::time_t>(num);
    else if (key == "sale_cancelled")
        s.last_sale.cancelled = num != 0;
    else if (key == "last_cfe_time")
        s.last_cfe_time = static_cast<std::time_t>(num);
    else if (key == "activation_time")
        s.activation_time = static_cast<std::time_t>(num);
    else if (key == "last_contact")
        s.last_contact = static_cast<std::time_t>(num);
    // Other numeric keys are skipped, so that a file of a newer emulator still loads.
    return true;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

std::string serialize_state(const DeviceState& s) {
    std::string out = std::string(kHeader) + "\n";
    for (const auto& [key, value] : scalars(s))
        out += scalar_line(key, value);
    for (const auto& [session, answer] : s.sessions)
        out += session_line(session, answer);
    for (const auto& e : s.events)
        out += scalar_line("event", e);
    return out;
}

bool parse_state(const std::string& text, DeviceState& out, std::string& error) {
    std::string_view rest = text;
    size_t nl = rest.find('\n');
    if (nl == std::string_view::npos || rest.substr(0, nl) != kHeader) {
        error = "not a satemu state file";
        return false;
    }
    rest.remove_prefix(nl + 1);
    DeviceState s;
    int n = 1;
    // Only whole lines count: a line without its newline was cut short by a crash.
    while ((nl = rest.find('\n')) != std::string_view::npos) {
        std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl + 1);
        ++n;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            error = "line " + std::to_string(n) + ": no '='";
            return false;
        }
        std::string key(line.substr(0, eq));
        std::string_view raw = line.substr(eq + 1);
        if (key == "session") {
            size_t sp = raw.find(' ');
            long long session = 0;
            auto answer = unescape_bytes(sp == std::string_view::npos ? "" : raw.substr(sp + 1));
            if (sp == std::string_view::npos || !to_ll(raw.substr(0, sp), session) || !answer) {
                error = "line " + std::to_string(n) + ": bad session";
                return false;
            }
            s.store(session, std::move(*answer));
            continue;
        }
        auto value = unescape_bytes(raw);
        if (!value) {
            error = "line " + std::to_string(n) + ": bad escape";
            return false;
        }
        if (key == "event") {
            s.add_event(std::move(*value));
        } else if (!set_scalar(s, key, *value)) {
            error = "line " + std::to_string(n) + ": bad value for '" + key + "'";
            return false;
        }
    }
    out = std::move(s);
    return true;
}

StateFile::~StateFile() {
    if (fd_ >= 0) ::close(fd_);
}

void StateFile::remember(const DeviceState& state) {
    written_.clear();
    for (auto& [key, value] : scalars(state))
        written_[key] = std::move(value);
    stores_ = state.stores;
    events_ = state.events_logged;
}

bool StateFile::load(DeviceState& state, std::string& error) {
    std::ifstream f(path_, std::ios::binary);
    if (!f) {
        if (errno != ENOENT) error = "cannot read " + path_ + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream ss;
    ss << f.rdbuf();
    if (!parse_state(ss.str(), state, error)) {
        error = path_ + ": " + error;
        return false;
    }
    return true;
}

bool StateFile::compact(const DeviceState& state, std::string& error) {
    std::string text = serialize_state(state);
    std::string tmp = path_ + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        return false;
    }
    if (!write_all(fd, text)) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path_.c_str()) != 0) {
        error = "cannot replace " + path_ + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) {
        error = "cannot append to " + path_ + ": " + std::strerror(errno);
        return false;
    }
    remember(state);
    snapshot_bytes_ = text.size();
    journal_bytes_ = 0;
    return true;
}

bool StateFile::save(const DeviceState& state, std::string& error) {
    if (fd_ < 0 || journal_bytes_ > std::max(kMinJournal, snapshot_bytes_ * 4))
        return compact(state, error);
    std::string out;
    for (auto& [key, value] : scalars(state)) {
        std::string& old = written_[key];
        if (old != value) {
            out += scalar_line(key, value);
            old = std::move(value);
        }
    }
    // New stores and event lines are always the newest ones, at the back.
    size_t new_stores =
        static_cast<size_t>(std::min<uint64_t>(state.stores - stores_, state.sessions.size()));
    for (size_t i = state.sessions.size() - new_stores; i < state.sessions.size(); ++i)
        out += session_line(state.sessions[i].first, state.sessions[i].second);
    size_t new_events =
        static_cast<size_t>(std::min<uint64_t>(state.events_logged - events_, state.events.size()));
    for (size_t i = state.events.size() - new_events; i < state.events.size(); ++i)
        out += scalar_line("event", state.events[i]);
    stores_ = state.stores;
    events_ = state.events_logged;
    if (out.empty()) return true;
    if (!write_all(fd_, out)) {
        error = "cannot append to " + path_ + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1; // the next save writes a whole snapshot
        return false;
    }
    journal_bytes_ += out.size();
    return true;
}

} // namespace satemu
