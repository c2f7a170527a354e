// satd's settings: one INI file (default /etc/torvane-sat/satd.ini), read once at
// start with the project's INI module. Every key, its default and its meaning are
// in the table of config.cpp and in docs/satd.md.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "access.h"
#include "printers.h"

namespace satd {

constexpr const char* kDefaultConfig = "/etc/torvane-sat/satd.ini";

struct Listen {
    std::string host; // "127.0.0.1", "::"
    int port = 0;     // 0: any free port (tests)
};

struct Config {
    std::vector<Listen> listen;
    std::string base_path;       // "/hub/v1"
    std::string tls_certificate; // both set: HTTPS
    std::string tls_key;
    std::vector<std::string> origins; // satd's own origins, "http://host:port"
    bool origins_configured = false;  // else those of the listen addresses, once bound
    size_t max_body = 0;              // bytes
    size_t max_header = 0;            // bytes of the request line and headers together
    int read_timeout = 0;             // seconds a client may take to send a request
    int max_connections = 0;          // connections served at once (= HTTP threads)

    std::string activation_code;      // the journal's stored code takes precedence
    std::string device;               // device node; empty: the library's sat.ini
    int attempts = 0;                 // library attempts of sales and cancellations (0: sat.ini)
    int wait = 0;                     // seconds a call may wait for its turn
    std::map<std::string, int> waits; // per hub name (section [deadlines])

    std::string database; // SQLite journal

    AllowList checkouts, admin;
    std::string checkouts_token, admin_token;
    AllowList metrics; // may also read /metrics (admin always may)
    std::string metrics_token;

    int poll_minutes = 0;       // status poll; 0: off
    std::string test_sale_file; // dadosVenda that the page offers to TesteFimAFim
    std::string test_sale;      // its text

    std::map<int, Printer> printers; // by checkout ([printers]: N = TARGET [58|80])
};

// Reads `path`. Problems (unknown keys, bad values, a missing file) go to `errors`,
// one line each; the result then holds the defaults for the bad values.
Config load_config(const std::string& path, std::vector<std::string>& errors);

// The configuration as --check-config prints it, secrets masked.
std::string describe(const Config& c);

} // namespace satd
