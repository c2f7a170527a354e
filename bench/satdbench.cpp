// satdbench: figure 9 of docs/PERFORMANCE.md. satd in front of satemu on loopback,
// measured side by side with direct calls of the x64 library in this process:
//   9a  ConsultarSAT through satd against the direct call, alternating: satd's added
//       time at the median and at p99 (goal 1 ms and 5 ms);
//   9b  16 checkouts selling at once through satd against sales one after the other
//       straight through the library: the device's own pace, nothing lost;
//   9c  satd's resident memory with 16 open connections;
//   9d  GET /metrics and the technician's page with a journal of a million rows.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include <sqlite3.h>

#include "bench_support.h"
#include "sat.h"

namespace {

std::string g_sale;

int connect_to(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One request on an open connection, kept alive; the answer's body.
// A GET of `name` ("/metrics") when `body` is null.
std::string request(int fd, const std::string& name, const char* body) {
    const std::string text = body ? "POST /hub/v1/" + name +
                                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                                        "application/x-www-form-urlencoded\r\nContent-Length: " +
                                        std::to_string(std::strlen(body)) + "\r\n\r\n" + body
                                  : "GET " + name + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) != ssize_t(text.size())) return "";
    std::string in;
    char buf[65536];
    size_t need = std::string::npos;
    while (need == std::string::npos || in.size() < need) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return "";
        in.append(buf, size_t(n));
        const auto end = in.find("\r\n\r\n");
        const auto len = in.find("Content-Length: ");
        if (need == std::string::npos && end != std::string::npos && len != std::string::npos)
            need = end + 4 + std::strtoul(in.c_str() + len + 16, nullptr, 10);
    }
    return in.substr(in.find("\r\n\r\n") + 4);
}

std::string encode(const std::string& s) {
    std::string out;
    char hex[4];
    for (unsigned char c : s)
        if (std::isalnum(c)) {
            out += char(c);
        } else {
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    return out;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void print(const char* id, const char* what, double ratio, const char* goal, bool met,
           const std::string& detail) {
    std::printf("%-3s %-30s ratio %8.3f  goal %-11s %-6s | %s\n", id, what, ratio, goal,
                met ? "met" : "MISSED", detail.c_str());
    std::fflush(stdout);
}

} // namespace

int main() {
    std::string why;
    const std::string dir = bench::temp_dir("satdbench");
    if (!bench::enter_halvex(dir, why) || !bench::private_run_lock(why)) {
        std::fprintf(stderr, "satdbench: no private mount namespace: %s\n", why.c_str());
        return 1;
    }
    bench::Emulator emu(SATDBENCH_SATEMU, dir, {"--preset", "active"});
    if (!emu.ok()) return 1;
    g_sale = bench::read_file(std::string(SATDBENCH_EXAMPLES) + "/venda.xml");
    bench::write_file(dir + "/satd.ini", "[server]\nlisten = 127.0.0.1:0\nmax_connections = 40\n"
                                         "[device]\nactivation_code = 12345678\nserial = " +
                                             emu.device() + "\n[journal]\ndatabase = " + dir +
                                             "/satd.db\n");
    const pid_t satd = fork();
    if (satd == 0) {
        const std::string log = dir + "/satd.log", cfg = dir + "/satd.ini";
        if (!std::freopen(log.c_str(), "w", stderr) || !std::freopen("/dev/null", "w", stdout))
            _exit(127);
        execl(SATDBENCH_SATD, "satd", "--config", cfg.c_str(), nullptr);
        _exit(127);
    }
    int port = 0;
    for (int i = 0; i < 250 && !port; ++i) {
        usleep(20000);
        const std::string log = bench::read_file(dir + "/satd.log");
        const auto at = log.find("listening on 127.0.0.1:");
        if (at != std::string::npos) port = std::atoi(log.c_str() + at + 23);
    }
    if (!port) return std::fprintf(stderr, "satdbench: satd did not start\n"), 1;
    char serial[64], no[] = "true", off[] = "false", p_serial[] = "SERIAL", p_popup[] = "NO_POPUP",
                     p_lock[] = "LOCK", code[] = "12345678";
    std::snprintf(serial, sizeof serial, "%s", emu.device().c_str());
    SetDriver(p_popup, no);
    SetDriver(p_lock, off);
    SetDriver(p_serial, serial);

    // 9a: alternating, on kept-alive connections.
    int fd = -1;
    std::vector<double> direct, hub;
    for (int i = 0; i < 201; ++i) {
        // satd closes a connection after 100 requests: a fresh one, outside the timing.
        if (i % 50 == 0) {
            if (fd >= 0) close(fd);
            fd = connect_to(port);
        }
        double t = bench::now();
        ConsultarSAT(900000 + i);
        direct.push_back(bench::now() - t);
        t = bench::now();
        const std::string body = request(fd, "consultarsat", "numero_caixa=1");
        hub.push_back(bench::now() - t);
        if (body.find("|08000|") == std::string::npos)
            return std::fprintf(stderr, "satdbench: %s\n", body.c_str()), 1;
    }
    close(fd);
    const double base = bench::median(direct), med = bench::median(hub) - base,
                 p99 = percentile(hub, 0.99) - base;
    char detail[256];
    std::snprintf(detail, sizeof detail,
                  "added median %.2f ms, p99 %.2f ms (goal 1 and 5 ms); satd median %.2f ms, "
                  "direct call median %.2f ms; 201 calls each, alternating",
                  med * 1e3, p99 * 1e3, bench::median(hub) * 1e3, base * 1e3);
    print("9a", "satd over a direct call", med * 1e3, "<=1ms,5ms", med < 1e-3 && p99 < 5e-3,
          detail);

    // 9b: the device's pace straight through the library, then 16 checkouts at once.
    const int per = 4, checkouts = 16;
    double t = bench::now();
    for (int i = 0; i < per * 2; ++i) {
        std::string sale = g_sale;
        if (std::string(EnviarDadosVenda(910000 + i, code, sale.data())).find("|06000|") ==
            std::string::npos)
            return 1;
    }
    const double pace = (per * 2) / (bench::now() - t);
    std::atomic<int> issued{0};
    std::vector<std::string> keys(size_t(checkouts * per));
    std::vector<int> fds;
    std::vector<std::thread> threads;
    const std::string sale = "dados_venda=" + encode(g_sale);
    t = bench::now();
    for (int c = 0; c < checkouts; ++c) {
        fds.push_back(connect_to(port));
        threads.emplace_back([&, c, cfd = fds.back()] {
            for (int s = 0; s < per; ++s) {
                const std::string body =
                    request(cfd, "enviardadosvenda",
                            ("numero_caixa=" + std::to_string(c + 1) + "&" + sale).c_str());
                const auto at = body.find("|CFe");
                if (body.find("|06000|") != std::string::npos && at != std::string::npos) {
                    keys[size_t(c * per + s)] = body.substr(at + 1, 47);
                    ++issued;
                }
            }
        });
    }
    for (auto& th : threads)
        th.join();
    const double through = (checkouts * per) / (bench::now() - t);
    const std::set<std::string> unique(keys.begin(), keys.end());
    const bool all = issued == checkouts * per && unique.size() == size_t(checkouts * per);
    std::snprintf(detail, sizeof detail,
                  "%.1f sales/s through satd (16 checkouts x %d, %d issued, %zu distinct keys); "
                  "device pace %.1f sales/s direct",
                  through, per, issued.load(), unique.size(), pace);
    print("9b", "16 checkouts at device pace", through / pace, ">=0.9",
          all && through >= 0.9 * pace, detail);

    // 9c: resident memory with the 16 connections still open.
    long rss = 0;
    const std::string status = bench::read_file("/proc/" + std::to_string(satd) + "/status");
    const auto at = status.find("VmRSS:");
    if (at != std::string::npos) rss = std::atol(status.c_str() + at + 6);
    std::snprintf(detail, sizeof detail,
                  "satd VmRSS %ld KiB with 16 open connections after %d sales", rss,
                  checkouts * per);
    print("9c", "satd RSS, 16 connections", double(rss) / 1024.0, "report", true, detail);
    for (int f : fds)
        close(f);

    // 9d: a journal of a million rows (years of a busy shop's sales), written beside
    // satd, then /metrics (which counts the rows by code) and the page.
    const int rows = 1000000;
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    sqlite3_open((dir + "/satd.db").c_str(), &db);
    sqlite3_busy_timeout(db, 10000);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO calls (checkout, session, function, digest, running, "
                       "answer, code, cfe_key, amount, started, finished, ms) VALUES (?1, "
                       "?1 * 1000 + 1, ?2, '', 0, ?3, ?3, '', '10.00', "
                       "'2026-01-01T00:00:00Z', '2026-01-01T00:00:01Z', 50)",
                       -1, &insert, nullptr);
    for (int i = 0; i < rows; ++i) {
        const bool cancel = i % 50 == 0;
        sqlite3_bind_int(insert, 1, i % 16);
        sqlite3_bind_text(insert, 2, cancel ? "CancelarUltimaVenda" : "EnviarDadosVenda", -1,
                          SQLITE_STATIC);
        sqlite3_bind_text(insert, 3,
                          cancel        ? "07000"
                          : i % 97 == 0 ? "06098"
                                        : "06000",
                          -1, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    const bool written = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    std::vector<double> scrape, page;
    size_t scrape_bytes = 0, page_bytes = 0;
    fd = connect_to(port);
    for (int i = 0; i < 21; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        scrape_bytes = request(fd, "/metrics", nullptr).size();
        auto t1 = std::chrono::steady_clock::now();
        page_bytes = request(fd, "/", nullptr).size();
        scrape.push_back(std::chrono::duration<double>(t1 - t0).count());
        page.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count());
    }
    close(fd);
    const double scrape_med = percentile(scrape, 0.5), page_med = percentile(page, 0.5);
    std::snprintf(detail, sizeof detail,
                  "%s%d journal rows: /metrics median %.1f ms (%zu bytes), page median %.1f ms "
                  "(%zu bytes); 21 each",
                  written ? "" : "NOT WRITTEN: ", rows, scrape_med * 1e3, scrape_bytes,
                  page_med * 1e3, page_bytes);
    print("9d", "/metrics, 1M journal rows", scrape_med * 1e3, "<=250ms",
          written && scrape_med < 0.25 && page_med < 0.25, detail);
    kill(satd, SIGTERM);
    waitpid(satd, nullptr, 0);
    return 0;
}
