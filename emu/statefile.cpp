#include "statefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

#include "util.h"

namespace satemu {

namespace {

constexpr const char* kHeader = "satemu-state 1";

bool to_ll(const std::string& s, long long& out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

} // namespace

std::string serialize_state(const DeviceState& s) {
    std::ostringstream o;
    auto put = [&](const char* key, const std::string& value) {
        o << key << '=' << escape_bytes(value) << '\n';
    };
    auto num = [&](const char* key, long long value) { o << key << '=' << value << '\n'; };
    o << kHeader << '\n';
    put("serial", s.serial);
    num("activated", s.activated);
    put("code", s.code);
    put("emergency_code", s.emergency_code);
    put("taxpayer_cnpj", s.taxpayer_cnpj);
    put("uf", s.uf);
    put("sh_cnpj", s.sh_cnpj);
    put("signature", s.signature);
    num("blocked", s.blocked);
    put("network", s.network);
    num("counter", s.counter);
    put("last_fiscal", s.last_fiscal);
    put("sale_key", s.last_sale.key);
    put("sale_total", s.last_sale.total);
    put("sale_recipient_tag", s.last_sale.recipient_tag);
    put("sale_recipient", s.last_sale.recipient);
    num("sale_time", s.last_sale.time);
    num("sale_cancelled", s.last_sale.cancelled);
    put("first_key", s.first_key);
    put("last_key", s.last_key);
    num("last_cfe_time", s.last_cfe_time);
    num("activation_time", s.activation_time);
    for (const auto& [session, answer] : s.sessions)
        o << "session=" << session << ' ' << escape_bytes(answer) << '\n';
    for (const auto& e : s.events)
        put("event", e);
    return o.str();
}

bool parse_state(const std::string& text, DeviceState& out, std::string& error) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kHeader) {
        error = "not a satemu state file";
        return false;
    }
    DeviceState s;
    s.sessions.clear();
    s.events.clear();
    int n = 1;
    while (std::getline(in, line)) {
        ++n;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error = "line " + std::to_string(n) + ": no '='";
            return false;
        }
        std::string key = line.substr(0, eq), raw = line.substr(eq + 1);
        if (key == "session") {
            size_t sp = raw.find(' ');
            long long session = 0;
            auto answer = unescape_bytes(sp == std::string::npos ? "" : raw.substr(sp + 1));
            if (sp == std::string::npos || !to_ll(raw.substr(0, sp), session) || !answer) {
                error = "line " + std::to_string(n) + ": bad session";
                return false;
            }
            s.sessions.emplace_back(session, std::move(*answer));
            continue;
        }
        auto value = unescape_bytes(raw);
        if (!value) {
            error = "line " + std::to_string(n) + ": bad escape";
            return false;
        }
        const std::string& v = *value;
        long long num = 0;
        bool is_num = to_ll(v, num);
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
        bool done = false;
        for (const auto& t : texts) {
            if (key == t.key) {
                *t.field = v;
                done = true;
            }
        }
        if (done) continue;
        if (key == "event") {
            s.events.push_back(v);
            continue;
        }
        if (!is_num) {
            error = "line " + std::to_string(n) + ": unknown key or bad number '" + key + "'";
            return false;
        }
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
        // Unknown numeric keys are skipped, so that a newer file still loads.
    }
    while (s.sessions.size() > kStoredSessions)
        s.sessions.pop_front();
    out = std::move(s);
    return true;
}

bool save_state(const std::string& path, const DeviceState& state, std::string& error) {
    std::string text = serialize_state(state);
    std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        return false;
    }
    size_t off = 0;
    while (off < text.size()) {
        ssize_t n = ::write(fd, text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "cannot write " + tmp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        off += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool load_state(const std::string& path, DeviceState& state, std::string& error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        if (errno != ENOENT) error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream ss;
    ss << f.rdbuf();
    if (!parse_state(ss.str(), state, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

} // namespace satemu
