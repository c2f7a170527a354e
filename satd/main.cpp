// satd: one SAT device for every checkout of a shop. Serves the hub API over HTTP
// (cpp-httplib), hands each call to the device worker and answers with the
// library's text. Options:
//   satd [--config FILE]        run (default /etc/torvane-sat/satd.ini)
//   satd --check-config [FILE]  read the configuration, print it, exit 0 or 1
//   satd --journal [--config FILE] [--last N]   list the journal
#include <httplib.h>
#include <systemd/sd-daemon.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "config.h"
#include "device.h"
#include "hub.h"
#include "journal.h"
#include "sat.h"

namespace {

using namespace satd;

constexpr const char* kUsage =
    "usage: satd [--config FILE]          serve the hub API\n"
    "       satd --check-config [FILE]    check the configuration and print it\n"
    "       satd --journal [--config FILE] [--last N]   list the journal\n"
    "The default configuration is /etc/torvane-sat/satd.ini; see satd(8).\n";

// The library's settings that satd makes for itself: no console messages, no call
// lock (the one device worker already makes the calls one at a time, and the lock's
// poll would cost each call 100 ms), and the device and attempts of satd.ini.
void set_driver(const char* parameter, const std::string& value) {
    std::string p(parameter), v(value);
    SetDriver(p.data(), v.data());
}

int list_journal(const Config& c, int last) {
    Journal journal;
    std::string why;
    if (!journal.open(c.database, why, true)) {
        std::fprintf(stderr, "satd: %s\n", why.c_str());
        return 1;
    }
    std::printf("%-20s  %-5s  %-27s  %-6s  %-5s  %-47s  %s\n", "time", "caixa", "funcao", "sessao",
                "code", "key", "value");
    for (const Entry& e : journal.list(last)) {
        const std::string code = e.running ? "..." : e.answer.empty() ? "none" : e.code;
        std::printf("%-20s  %03d    %-27s  %06d  %-5s  %-47s  %s\n", e.started.c_str(), e.caixa,
                    e.funcao.c_str(), e.sessao, code.c_str(), e.chave.c_str(), e.valor.c_str());
    }
    return 0;
}

Request to_request(const httplib::Request& req, const std::string& body) {
    Request r;
    r.method = req.method;
    r.path = req.path;
    r.remote = req.remote_addr;
    r.body = body;
    for (const auto& [name, value] : req.headers) {
        std::string lower = name;
        for (char& ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        r.headers.emplace(lower, value);
    }
    return r;
}

// The server would cut the answer to a Range header's byte ranges, after the call
// went to the device: a receipt issued and its answer lost. Every answer goes out
// whole. (The server owns the request; only the handlers see it as const.)
void whole_answer(const httplib::Request& req) {
    const_cast<httplib::Request&>(req).ranges.clear();
}

void send(httplib::Response& res, const Reply& reply) {
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        res.set_header(name.c_str(), value);
    res.set_content(reply.body, reply.content_type.c_str());
}

std::unique_ptr<httplib::Server> make_server(const Config& c, Hub& hub) {
    std::unique_ptr<httplib::Server> s;
    if (c.tls_certificate.empty())
        s = std::make_unique<httplib::Server>();
    else
        s = std::make_unique<httplib::SSLServer>(c.tls_certificate.c_str(), c.tls_key.c_str());
    if (!s->is_valid()) return nullptr;
    const int threads = c.max_connections;
    s->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    s->set_payload_max_length(c.max_body);
    s->set_read_timeout(c.read_timeout, 0);
    s->set_write_timeout(c.read_timeout, 0);
    // An idle connection gives its thread back soon, so idle clients cannot hold them all.
    s->set_keep_alive_timeout(2);
    s->set_keep_alive_max_count(100);
    // The answer leaves in two writes (head, body): without this the second waits
    // for the client's delayed acknowledgement, 40 ms.
    s->set_tcp_nodelay(true);
    auto other = [&hub](const httplib::Request& req, httplib::Response& res) {
        whole_answer(req);
        send(res, hub.handle(to_request(req, req.body)));
    };
    s->Get(".*", other);
    s->Put(".*", other);
    s->Delete(".*", other);
    s->Patch(".*", other);
    s->Options(".*", other);
    // The body is read here rather than by the server, which would refuse form bodies
    // of more than 8 KiB; the server still enforces max_body.
    const size_t max_body = c.max_body;
    s->Post(".*", [&hub, max_body](const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
        whole_answer(req);
        std::string body;
        bool too_large = false;
        reader([&](const char* data, size_t size) {
            too_large = body.size() + size > max_body;
            if (!too_large) body.append(data, size);
            return !too_large;
        });
        // The server itself stops reading an announced length past max_body.
        const std::string length = req.get_header_value("Content-Length");
        if (too_large ||
            (!length.empty() && std::strtoull(length.c_str(), nullptr, 10) > max_body)) {
            res.set_header("Connection", "close");
            return send(res, error_reply(413, "body larger than max_body"));
        }
        send(res, hub.handle(to_request(req, body)));
    });
    s->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        const char* what = res.status == 413   ? "request too large"
                           : res.status == 404 ? "unknown function"
                                               : "bad request";
        send(res, error_reply(res.status, what));
    });
    return s;
}

// Without an origins list, satd's own origins are those of its listen addresses
// that a browser can name (a wildcard address has none).
void own_origins(Config& c, const std::string& host, int port) {
    if (c.origins_configured || host == "0.0.0.0" || host == "::") return;
    const char* scheme = c.tls_certificate.empty() ? "http://" : "https://";
    const bool v6 = host.find(':') != std::string::npos;
    c.origins.push_back(scheme + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port));
}

} // namespace

#if defined(__SANITIZE_THREAD__)
// The thread-sanitizer tree: Debian's prebuilt cpp-httplib (and the std::regex it
// runs) is not instrumented, so the sanitizer sees its memory only through the
// memcpy and memcmp interceptors, without the ordering inside it, and reports
// races between its own request threads. satd's code stays checked.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so.0.11\n";
}
#endif

int main(int argc, char** argv) {
    std::string config_path = kDefaultConfig;
    bool check = false, journal_only = false;
    int last = 50;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc && argv[i + 1][0] != '-';
        if (a == "--config" && i + 1 < argc) {
            config_path = argv[++i];
        } else if (a == "--check-config") {
            check = true;
            if (has_value) config_path = argv[++i];
        } else if (a == "--journal") {
            journal_only = true;
        } else if (a == "--last" && has_value) {
            last = std::atoi(argv[++i]);
        } else if (a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "satd: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    std::vector<std::string> errors;
    Config config = load_config(config_path, errors);
    for (const std::string& e : errors)
        std::fprintf(stderr, "satd: %s: %s\n", config_path.c_str(), e.c_str());
    if (check) {
        std::fputs(describe(config).c_str(), stdout);
        std::printf("%s\n", errors.empty() ? "configuration OK" : "configuration has errors");
        return errors.empty() ? 0 : 1;
    }
    if (!errors.empty()) return 1;
    if (journal_only) return list_journal(config, last);

    // Signals are taken by sigwait below; the threads started from here inherit the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Journal journal;
    std::string why;
    if (!journal.open(config.database, why)) {
        std::fprintf(stderr, "satd: journal %s\n", why.c_str());
        return 1;
    }
    set_driver("NO_POPUP", "true");
    set_driver("LOCK", "false");
    if (!config.device.empty()) set_driver("SERIAL", config.device);
    if (config.attempts > 0)
        set_driver("N_TENT", (config.attempts < 10 ? "0" : "") + std::to_string(config.attempts));
    std::fflush(stdout);

    Device device;
    Hub hub(config, journal, device);
    if (hub.activation_code().empty())
        std::fprintf(stderr, "satd: no activation_code in [device]: only ConsultarSAT works\n");
    hub.recover();

    std::vector<std::unique_ptr<httplib::Server>> servers;
    for (const Listen& l : config.listen) {
        auto s = make_server(config, hub);
        if (!s) {
            std::fprintf(stderr, "satd: TLS certificate or key cannot be loaded\n");
            return 1;
        }
        int port = l.port;
        if (port == 0)
            port = s->bind_to_any_port(l.host);
        else if (!s->bind_to_port(l.host, port))
            port = -1;
        if (port <= 0) {
            std::fprintf(stderr, "satd: cannot listen on %s:%d: %s\n", l.host.c_str(), l.port,
                         std::strerror(errno));
            return 1;
        }
        std::fprintf(stderr, "satd: listening on %s:%d%s\n", l.host.c_str(), port,
                     config.base_path.c_str());
        own_origins(config, l.host, port);
        servers.push_back(std::move(s));
    }
    std::vector<std::thread> threads;
    for (auto& s : servers)
        threads.emplace_back([&s] { s->listen_after_bind(); });
    sd_notify(0, "READY=1");

    // The status poll: soon after start, then every poll_minutes; a poll that got no
    // status is tried again within a minute.
    std::mutex poll_mutex;
    std::condition_variable poll_wake;
    bool stopping = false;
    std::thread poller;
    if (config.poll_minutes > 0)
        poller = std::thread([&] {
            std::unique_lock<std::mutex> hold(poll_mutex);
            auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            while (!poll_wake.wait_until(hold, next, [&] { return stopping; })) {
                hold.unlock();
                const bool ok = hub.poll_status();
                hold.lock();
                const std::chrono::minutes every(config.poll_minutes);
                next = std::chrono::steady_clock::now() +
                       (ok ? std::chrono::duration_cast<std::chrono::seconds>(every)
                           : std::min<std::chrono::seconds>(every, std::chrono::minutes(1)));
            }
        });

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    std::fprintf(stderr, "satd: %s: finishing the call on the device, then stopping\n",
                 strsignal(signal_number));
    sd_notify(0, "STOPPING=1");
    {
        std::lock_guard<std::mutex> hold(poll_mutex);
        stopping = true;
    }
    poll_wake.notify_all();
    device.stop();
    if (poller.joinable()) poller.join();
    for (auto& s : servers)
        s->stop();
    for (auto& t : threads)
        t.join();
    std::fprintf(stderr, "satd: stopped\n");
    return 0;
}
