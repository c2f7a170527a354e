#include "config.h"

#include "functions.h"
#include "ini.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace satd {

namespace {

// Every key of the file with its built-in value: the one place of the defaults.
struct Key {
    const char* section;
    const char* name;
    const char* fallback;
};
constexpr Key kKeys[] = {
    {"server", "listen", "127.0.0.1:8080"},
    {"server", "base_path", "/hub/v1"},
    {"server", "tls_certificate", ""},
    {"server", "tls_key", ""},
    {"server", "origins", ""},
    {"server", "max_body", "2097152"},
    {"server", "max_header", "8192"},
    {"server", "read_timeout", "5"},
    {"server", "max_connections", "32"},
    {"device", "activation_code", ""},
    {"device", "serial", ""},
    {"device", "attempts", "0"},
    {"device", "wait", "30"},
    {"journal", "database", "/var/lib/torvane-sat/satd.db"},
    {"access", "checkouts", "127.0.0.0/8, ::1/128"},
    {"access", "admin", "127.0.0.0/8, ::1/128"},
    {"access", "checkouts_token", ""},
    {"access", "admin_token", ""},
    {"access", "metrics", ""},
    {"access", "metrics_token", ""},
    {"status", "poll_minutes", "10"},
    {"status", "test_sale", ""},
};

struct Reader {
    std::string path;
    std::vector<std::string>& errors;

    std::string text(const char* section, const char* name) const {
        const char* fallback = "";
        for (const Key& k : kKeys)
            if (std::string(k.section) == section && std::string(k.name) == name)
                fallback = k.fallback;
        char buffer[512];
        ini_gets(section, name, fallback, buffer, sizeof buffer, path.c_str());
        return buffer;
    }
    long number(const char* section, const char* name, long low, long high) const {
        const std::string t = text(section, name);
        char* end = nullptr;
        const long v = std::strtol(t.c_str(), &end, 10);
        if (t.empty() || *end != '\0' || v < low || v > high) {
            errors.push_back("[" + std::string(section) + "] " + name + ": not a number from " +
                             std::to_string(low) + " to " + std::to_string(high) + ": " + t);
            Reader fallback{"", errors};
            return std::strtol(fallback.text(section, name).c_str(), nullptr, 10);
        }
        return v;
    }
};

std::vector<std::string> words(const std::string& text) {
    std::string spaced = text;
    for (char& c : spaced)
        if (c == ',') c = ' ';
    std::istringstream in(spaced);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

bool parse_listen(const std::string& word, Listen& l) {
    // "host:port" or "[v6]:port"
    const auto colon = word.rfind(':');
    if (colon == std::string::npos || colon + 1 == word.size()) return false;
    l.host = word.substr(0, colon);
    if (l.host.size() > 2 && l.host.front() == '[' && l.host.back() == ']')
        l.host = l.host.substr(1, l.host.size() - 2);
    const std::string port = word.substr(colon + 1);
    if (!all_digits(port, 1, 5)) return false;
    l.port = std::stoi(port);
    std::array<unsigned char, 16> ignored{};
    return l.port <= 65535 && parse_address(l.host, ignored);
}

} // namespace

Config load_config(const std::string& path, std::vector<std::string>& errors) {
    Config c;
    if (!ini_readable(path.c_str())) errors.push_back(path + ": cannot be read");
    // Keys that the table does not know are mistakes worth reporting; [deadlines]
    // holds one wait per hub function name, checked by the caller.
    struct Seen {
        std::vector<std::string>* errors;
        std::map<std::string, std::string> deadlines, printers;
    } seen{&errors, {}, {}};
    ini_browse(
        [](const char* section, const char* key, const char* value, void* data) {
            auto* s = static_cast<Seen*>(data);
            if (std::string(section) == "deadlines" || std::string(section) == "printers") {
                (std::string(section) == "deadlines" ? s->deadlines : s->printers)[key] = value;
                return 1;
            }
            for (const Key& k : kKeys)
                if (std::string(k.section) == section && std::string(k.name) == key) return 1;
            s->errors->push_back("[" + std::string(section) + "] " + key + ": unknown key");
            return 1;
        },
        &seen, path.c_str());

    Reader r{path, errors};
    for (const std::string& w : words(r.text("server", "listen"))) {
        Listen l;
        if (parse_listen(w, l))
            c.listen.push_back(l);
        else
            errors.push_back("[server] listen: not an address:port: " + w);
    }
    if (c.listen.empty()) c.listen.push_back({"127.0.0.1", 8080});
    c.base_path = r.text("server", "base_path");
    while (!c.base_path.empty() && c.base_path.back() == '/')
        c.base_path.pop_back();
    if (!c.base_path.empty() && c.base_path.front() != '/') {
        errors.push_back("[server] base_path: must start with /: " + c.base_path);
        c.base_path = "/hub/v1";
    }
    c.tls_certificate = r.text("server", "tls_certificate");
    c.tls_key = r.text("server", "tls_key");
    if (c.tls_certificate.empty() != c.tls_key.empty())
        errors.push_back("[server] tls_certificate and tls_key go together");
    c.origins = words(r.text("server", "origins"));
    c.origins_configured = !c.origins.empty();
    c.max_body = static_cast<size_t>(r.number("server", "max_body", 1024, 1L << 30));
    c.max_header = static_cast<size_t>(r.number("server", "max_header", 1024, 1 << 20));
    c.read_timeout = static_cast<int>(r.number("server", "read_timeout", 1, 3600));
    c.max_connections = static_cast<int>(r.number("server", "max_connections", 2, 4096));

    c.activation_code = r.text("device", "activation_code");
    c.device = r.text("device", "serial");
    if (c.device.size() > 29 || (c.device.rfind("/dev/", 0) != 0 && c.device.size() > 24))
        errors.push_back("[device] serial: at most 29 characters with /dev/: " + c.device);
    c.attempts = static_cast<int>(r.number("device", "attempts", 0, 99));
    c.wait = static_cast<int>(r.number("device", "wait", 1, 3600));
    for (const auto& [name, value] : seen.deadlines) {
        if (!find_function(name)) {
            errors.push_back("[deadlines] " + name + ": not a function name");
            continue;
        }
        char* end = nullptr;
        const long v = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end || v < 1 || v > 3600)
            errors.push_back("[deadlines] " + name + ": not a number from 1 to 3600: " + value);
        else
            c.waits[name] = static_cast<int>(v);
    }

    for (const auto& [caixa, value] : seen.printers) {
        const std::vector<std::string> w = words(value);
        const bool number = all_digits(caixa, 1, 3);
        if (!number || w.empty() || w.size() > 2 || (w.size() == 2 && w[1] != "58" && w[1] != "80"))
            errors.push_back("[printers] " + caixa +
                             ": expected a checkout 0-999 = TARGET [58|80]: " + value);
        else
            c.printers[std::stoi(caixa)] = {w[0], w.size() == 2 ? std::stoi(w[1]) : 80};
    }

    c.database = r.text("journal", "database");
    std::string bad;
    if (!c.checkouts.parse(r.text("access", "checkouts"), bad))
        errors.push_back("[access] checkouts: not a network: " + bad);
    if (!c.admin.parse(r.text("access", "admin"), bad))
        errors.push_back("[access] admin: not a network: " + bad);
    c.checkouts_token = r.text("access", "checkouts_token");
    c.admin_token = r.text("access", "admin_token");
    if (!c.metrics.parse(r.text("access", "metrics"), bad))
        errors.push_back("[access] metrics: not a network: " + bad);
    c.metrics_token = r.text("access", "metrics_token");

    c.poll_minutes = static_cast<int>(r.number("status", "poll_minutes", 0, 1440));
    c.test_sale_file = r.text("status", "test_sale");
    if (!c.test_sale_file.empty()) {
        std::ifstream in(c.test_sale_file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in) errors.push_back("[status] test_sale: cannot be read: " + c.test_sale_file);
        c.test_sale = text.str();
    }
    return c;
}

std::string describe(const Config& c) {
    std::ostringstream o;
    auto secret = [](const std::string& s) { return s.empty() ? "(none)" : "(set)"; };
    o << "listen:";
    for (const Listen& l : c.listen)
        o << " " << l.host << ":" << l.port;
    o << "\nbase path: " << c.base_path
      << "\nTLS: " << (c.tls_certificate.empty() ? "off" : c.tls_certificate + ", " + c.tls_key)
      << "\norigins:";
    for (const std::string& s : c.origins)
        o << " " << s;
    o << "\nlimits: body " << c.max_body << " bytes, headers " << c.max_header << " bytes, read "
      << c.read_timeout << " s, " << c.max_connections << " connections"
      << "\nactivation code: " << secret(c.activation_code)
      << "\ndevice: " << (c.device.empty() ? "(from sat.ini)" : c.device)
      << "\nattempts: " << (c.attempts ? std::to_string(c.attempts) : "(from sat.ini)")
      << "\nwait for the device: " << c.wait << " s";
    for (const auto& [name, s] : c.waits)
        o << ", " << name << " " << s << " s";
    o << "\njournal: " << c.database << "\ncheckouts: " << c.checkouts.text() << ", token "
      << secret(c.checkouts_token) << "\nadmin: " << c.admin.text() << ", token "
      << secret(c.admin_token)
      << "\nmetrics: " << (c.metrics.text().empty() ? "(admin only)" : c.metrics.text())
      << ", token " << secret(c.metrics_token) << "\nstatus poll: "
      << (c.poll_minutes ? "every " + std::to_string(c.poll_minutes) + " min" : "off")
      << "\ntest sale: " << (c.test_sale_file.empty() ? "(none)" : c.test_sale_file) << "\n";
    for (const auto& [caixa, p] : c.printers)
        o << "printer of checkout " << caixa << ": " << p.target << ", " << p.paper_mm << " mm\n";
    return o.str();
}

} // namespace satd
