// satemu: a SAT fiscal device on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device.h"
#include "fault.h"
#include "server.h"
#include "statefile.h"
#include "util.h"

using namespace satemu;

namespace {

struct Settings {
    ServerOptions server;
    std::string state_file;
    std::string preset = "none";
    std::string code = preset::kActivationCode;
    std::string serial = preset::kSerial;
    std::string emergency = preset::kEmergencyCode;
    DeviceOptions device;
    std::vector<std::string> faults;
    bool help = false;
};

struct Option {
    const char* name;
    const char* arg; // nullptr for a flag
    const char* help;
    // Applies the value; returns an error text or empty.
    std::string (*apply)(Settings&, const char*);
};

// Reads a whole decimal number from lo to hi into `out`; an error text otherwise.
std::string parse_int(const char* v, int lo, int hi, int& out) {
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(v, &end, 10);
    if (errno || !*v || *end || n < lo || n > hi) return std::string("bad number '") + v + "'";
    out = static_cast<int>(n);
    return {};
}

// The one table behind both the parser and --help.
const Option kOptions[] = {
    {"--link", "PATH",
     "also create a symbolic link PATH to the device line (e.g. /dev/ttyQZ0); removed on exit",
     [](Settings& s, const char* v) {
         s.server.link = v;
         return std::string();
     }},
    {"--preset", "NAME",
     "'active': start activated and associated (data below); 'none' (default): factory-new",
     [](Settings& s, const char* v) {
         s.preset = v;
         return s.preset == "active" || s.preset == "none" ? std::string()
                                                           : "unknown preset '" + s.preset + "'";
     }},
    {"--code", "CODE", "activation code of the active preset (default 12345678)",
     [](Settings& s, const char* v) {
         s.code = v;
         return std::string(v).empty() ? std::string("empty code") : std::string();
     }},
    {"--serial", "N", "nine-digit serial number (default 900000001)",
     [](Settings& s, const char* v) {
         s.serial = v;
         return s.serial.size() == 9 && all_digits(s.serial) ? std::string()
                                                             : "serial must have nine digits";
     }},
    {"--emergency-code", "CODE",
     "emergency code accepted by the code change with option 2 (default 87654321)",
     [](Settings& s, const char* v) {
         s.emergency = v;
         return std::string();
     }},
    {"--status-wrong-code", "CODE",
     "result code of the status query (07) for a wrong activation code (default 10001; some "
     "devices send 10099)",
     [](Settings& s, const char* v) {
         return parse_int(v, 10000, 10999, s.device.status_wrong_code);
     }},
    {"--unique-sessions", nullptr,
     "answer xx097 \"Número de sessão inválido\" to a session number repeated among the last 100",
     [](Settings& s, const char*) {
         s.device.unique_sessions = true;
         return std::string();
     }},
    {"--cancel-answer-fields", "N",
     "fields of the cancellation answer: 12 (default, CPFCNPJValue before the QR-code "
     "signature) or 11 (older firmware, without CPFCNPJValue)",
     [](Settings& s, const char* v) {
         return parse_int(v, 11, 12, s.device.cancel_answer_fields);
     }},
    {"--state", "FILE",
     "keep the device state in FILE (saved after every change; loaded at start, where it takes "
     "precedence over --preset)",
     [](Settings& s, const char* v) {
         s.state_file = v;
         return std::string();
     }},
    {"--control", "PATH",
     "UNIX socket for control requests (ping, fault RULE, clear, faults, frames, reset-frames, "
     "state)",
     [](Settings& s, const char* v) {
         s.server.control = v;
         return std::string();
     }},
    {"--transcript", "FILE",
     "append every frame received and every answer sent, time-stamped, control bytes as \\xHH",
     [](Settings& s, const char* v) {
         s.server.transcript = v;
         return std::string();
     }},
    {"--fault", "RULE", "inject a fault (repeatable); RULE below",
     [](Settings& s, const char* v) {
         std::string error;
         if (!parse_fault(v, error)) return error;
         s.faults.emplace_back(v);
         return std::string();
     }},
    {"--help", nullptr, "show this help and exit",
     [](Settings& s, const char*) {
         s.help = true;
         return std::string();
     }},
};

void print_help() {
    std::printf(
        "Usage: satemu [OPTION]...\n"
        "A SAT fiscal device (CF-e-SAT) on a pseudo-terminal, for tests and demos.\n"
        "Prints \"satemu: device at /dev/pts/N\" first; SIGINT, SIGTERM or SIGHUP end it.\n\n"
        "Options:\n");
    for (const auto& o : kOptions) {
        std::string left = std::string(o.name) + (o.arg ? std::string(" ") + o.arg : "");
        std::printf("  %-24s %s\n", left.c_str(), o.help);
    }
    std::printf(
        "\nFault RULE: [N*]CODE:KIND[:ARG...]  (N*: only the next N matching frames)\n"
        "  CODE: a command code 01..15, 20, or 'all'\n"
        "  delay:MS       answer after MS milliseconds\n"
        "  hold:MS        keep the answer back until the next frame's answer, and send it\n"
        "                 MS milliseconds before that one (0: both in one write)\n"
        "  drop           process the command but send no answer (lost answer)\n"
        "  ignore         neither process nor answer\n"
        "  busy           answer the family's xx098 \"SAT em processamento. Tente novamente.\"\n"
        "  stale          first an answer with another session number, then the right one\n"
        "  split:N:MS     send the answer in N pieces, MS milliseconds apart\n"
        "  noise          stray bytes before the answer and after its 0x03\n"
        "  etx-inside     a 0x03 byte inside the answer, after the result code\n"
        "  oversize:BYTES an answer of BYTES bytes (padded with 'X' or cut)\n"
        "  hangup         close the line in the middle of the answer; the device comes back\n"
        "                 on a new pseudo-terminal (and behind --link) and prints its new line\n"
        "  answer:TEXT    send TEXT instead of processing ({sessao} becomes the session number);\n"
        "                 TEXT is stored as the answer of that session\n"
        "Examples: 1*03:drop  2*04:busy  all:delay:3000  07:split:4:100  "
        "05:answer:{sessao}|08000|x||\n"
        "\nPreset 'active':\n"
        "  activation code   %s (--code)\n"
        "  emergency code    %s (--emergency-code)\n"
        "  taxpayer CNPJ     %s, IE %s, UF %s\n"
        "  software house    CNPJ %s\n"
        "  CNPJ value        %s%s\n"
        "  signature (AC)    %s\n"
        "\nThe activation answers (04000, 04006) carry a fixed sample certificate signing "
        "request,\n"
        "not one of the device's own key.\n",
        preset::kActivationCode, preset::kEmergencyCode, preset::kTaxpayerCnpj, preset::kTaxpayerIe,
        preset::kUf, preset::kSoftwareHouseCnpj, preset::kSoftwareHouseCnpj, preset::kTaxpayerCnpj,
        preset::kSignature);
}

} // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        const Option* opt = nullptr;
        const char* value = nullptr;
        for (const auto& o : kOptions) {
            std::string_view name = o.name;
            if (a == name) {
                opt = &o;
            } else if (o.arg && a.size() > name.size() && a.substr(0, name.size()) == name &&
                       a[name.size()] == '=') {
                opt = &o;
                value = argv[i] + name.size() + 1;
            }
            if (opt) break;
        }
        if (!opt) {
            std::fprintf(stderr, "satemu: unknown option '%s' (see --help)\n", argv[i]);
            return 2;
        }
        if (opt->arg && !value) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "satemu: %s needs %s\n", opt->name, opt->arg);
                return 2;
            }
            value = argv[++i];
        }
        std::string error = opt->apply(s, value);
        if (!error.empty()) {
            std::fprintf(stderr, "satemu: %s: %s\n", opt->name, error.c_str());
            return 2;
        }
    }
    if (s.help) {
        print_help();
        return 0;
    }

    Device device(s.device);
    device.state().serial = s.serial;
    device.state().emergency_code = s.emergency;
    std::unique_ptr<StateFile> state_file;
    bool loaded = false;
    if (!s.state_file.empty()) {
        state_file = std::make_unique<StateFile>(s.state_file);
        std::string error;
        loaded = state_file->load(device.state(), error);
        if (!loaded && !error.empty()) {
            std::fprintf(stderr, "satemu: %s\n", error.c_str());
            return 1;
        }
    }
    if (!loaded && s.preset == "active") device.apply_preset(s.code);
    if (state_file) {
        device.on_change = [&device, &state_file] {
            std::string error;
            if (!state_file->save(device.state(), error))
                std::fprintf(stderr, "satemu: %s\n", error.c_str());
        };
        std::string error;
        // Start from a clean snapshot, which also shows at once that the file is writable.
        if (!state_file->compact(device.state(), error)) {
            std::fprintf(stderr, "satemu: %s\n", error.c_str());
            return 1;
        }
    }

    FaultSet faults;
    for (const auto& rule_text : s.faults) {
        std::string error;
        faults.add(*parse_fault(rule_text, error));
    }

    // SIGINT, SIGTERM and SIGHUP only interrupt the wait of the event loop, which then ends
    // cleanly.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGHUP);
    sigprocmask(SIG_BLOCK, &block, nullptr);
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Server server(device, faults, s.server);
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "satemu: %s\n", error.c_str());
        return 1;
    }
    std::printf("satemu: device at %s\n", server.device_path().c_str());
    std::fflush(stdout);
    return server.run();
}
