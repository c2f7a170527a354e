// satprint: the extrato of a CF-e or of a cancellation, as text, ESC/POS, PNG or PDF.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "extrato.h"
#include "layout.h"
#include "output.h"

namespace {

constexpr int kUsage = 1, kUnreadable = 2, kOutput = 7;

struct Settings {
    extrato::Format format = extrato::Format::Text;
    extrato::Options options;
    std::string output = "-";
    std::vector<std::string> inputs;
};

// One row per option: it drives both the parsing and the help text.
struct Option {
    const char* name;
    const char* value; // nullptr for a flag
    const char* help;
    std::function<bool(Settings&, const std::string&)> apply;
    const char* letter = nullptr; // a short form, "-f"
};

bool number(const std::string& text, int low, int high, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < low || v > high) return false;
    out = static_cast<int>(v);
    return true;
}

template <typename T>
bool choose(const std::string& text, std::initializer_list<std::pair<const char*, T>> choices,
            T& out) {
    for (const auto& [name, value] : choices)
        if (text == name) {
            out = value;
            return true;
        }
    return false;
}

const std::vector<Option>& options() {
    using extrato::CodePage;
    using extrato::Format;
    static const std::vector<Option> table = {
        {"--format", "text|escpos|png|pdf", "output format (default text)",
         [](Settings& s, const std::string& v) {
             return choose(v,
                           {{"text", Format::Text},
                            {"escpos", Format::EscPos},
                            {"png", Format::Png},
                            {"pdf", Format::Pdf}},
                           s.format);
         },
         "-f"},
        {"--output", "PATH",
         "a file, a device node (/dev/usb/lp0), tcp://HOST[:PORT] (port 9100) or - (default)",
         [](Settings& s, const std::string& v) { return !(s.output = v).empty(); }, "-o"},
        {"--paper", "80|58", "paper width in mm: sets dots and columns (default 80)",
         [](Settings& s, const std::string& v) {
             int mm = 0;
             if (!choose(v, {{"80", 80}, {"58", 58}}, mm)) return false;
             extrato::Profile p = extrato::paper_profile(mm);
             const extrato::Profile& old = s.options.profile;
             p.qr_module = old.qr_module, p.bar_module = old.bar_module,
             p.bar_height = old.bar_height;
             p.bar_split = old.bar_split, p.raster = old.raster, p.cutter = old.cutter,
             p.code_page = old.code_page;
             s.options.profile = p;
             return true;
         }},
        {"--columns", "N,M", "columns of normal and condensed text (after --paper)",
         [](Settings& s, const std::string& v) {
             const auto comma = v.find(',');
             return comma != std::string::npos &&
                    number(v.substr(0, comma), 16, 200, s.options.profile.columns) &&
                    number(v.substr(comma + 1), 16, 200, s.options.profile.condensed_columns);
         }},
        {"--summary", nullptr, "summary extrato: no item lines",
         [](Settings& s, const std::string&) { return s.options.summary = true; }},
        {"--code-page", "cp860|cp850|ascii", "printer code page of ESC/POS text (default cp860)",
         [](Settings& s, const std::string& v) {
             return choose(v,
                           {{"cp860", CodePage::Cp860},
                            {"cp850", CodePage::Cp850},
                            {"ascii", CodePage::Ascii}},
                           s.options.profile.code_page);
         }},
        {"--raster", nullptr, "ESC/POS: QR code and bars as raster images (GS v 0)",
         [](Settings& s, const std::string&) { return s.options.profile.raster = true; }},
        {"--no-cutter", nullptr, "ESC/POS: the printer has no cutter",
         [](Settings& s, const std::string&) { return !(s.options.profile.cutter = false); }},
        {"--qr-module", "DOTS", "dots per QR module (default 4)",
         [](Settings& s, const std::string& v) {
             return number(v, 1, 16, s.options.profile.qr_module);
         }},
        {"--bar-module", "DOTS", "dots per narrow bar (default 2)",
         [](Settings& s, const std::string& v) {
             return number(v, 1, 6, s.options.profile.bar_module);
         }},
        {"--bar-height", "DOTS", "height of the bars (default 56)",
         [](Settings& s, const std::string& v) {
             return number(v, 8, 255, s.options.profile.bar_height);
         }},
        {"--bar-split", "N,N,...", "digits per bar: even counts adding up to 44 (default 22,22)",
         [](Settings& s, const std::string& v) {
             s.options.profile.bar_split = v;
             return !extrato::bar_split(v).empty();
         }},
        {"--payment-labels", "short|long", "payment names: Cartão Crédito or Cartão de Crédito",
         [](Settings& s, const std::string& v) {
             return choose(
                 v,
                 {{"short", extrato::PaymentLabels::Short}, {"long", extrato::PaymentLabels::Long}},
                 s.options.payment_labels);
         }},
        {"--im", "always|present", "print the IM line always (default) or only when there is one",
         [](Settings& s, const std::string& v) {
             return choose(v, {{"always", true}, {"present", false}}, s.options.im_always);
         }},
        {"--app", "NAME", "the application named under the QR code",
         [](Settings& s, const std::string& v) { return !(s.options.app = v).empty(); }},
        {"--footer", "TEXT", "a last line of the shop's own",
         [](Settings& s, const std::string& v) { return (s.options.footer = v), true; }},
    };
    return table;
}

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: satprint [options] DOCUMENT [SALE]\n"
                 "The extrato of a CF-e. DOCUMENT is a CF-e XML file, its base64 text, the answer\n"
                 "of EnviarDadosVenda or a satcli output (- reads standard input). For a\n"
                 "cancellation give its CFeCanc and the CF-e of the sale.\n\n");
    for (const Option& o : options()) {
        std::string left = std::string(o.letter ? o.letter : "  ") + (o.letter ? ", " : "  ") +
                           o.name + (o.value ? std::string(" ") + o.value : "");
        std::fprintf(to, "  %-34s %s\n", left.c_str(), o.help);
    }
    std::fprintf(to, "  %-34s %s\n", "-h, --help", "this text");
    std::fprintf(to, "\nexit status: 0 printed, 1 usage, 2 unreadable input, 3 not a CF-e,\n"
                     "4 broken base64, 5 missing element, 6 cancellation without its sale,\n"
                     "7 output failed, 8 drawing failed\n");
}

bool read_input(const std::string& path, std::string& text) {
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
        return !std::cin.bad();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return !in.bad();
}

} // namespace

int main(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (!arg.starts_with("-") || arg == "-") {
            s.inputs.push_back(arg);
            continue;
        }
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const Option* found = nullptr;
        for (const Option& o : options())
            if (arg == o.name || (o.letter && arg == o.letter)) found = &o;
        if (!found) {
            std::fprintf(stderr, "satprint: unknown option %s\n", arg.c_str());
            usage(stderr);
            return kUsage;
        }
        if (found->value && value.empty()) {
            if (++i >= argc) {
                std::fprintf(stderr, "satprint: %s needs %s\n", found->name, found->value);
                return kUsage;
            }
            value = argv[i];
        }
        if (!found->apply(s, value)) {
            std::fprintf(stderr, "satprint: bad value for %s: %s (%s)\n", found->name,
                         value.c_str(), found->value);
            return kUsage;
        }
    }
    if (s.inputs.empty() || s.inputs.size() > 2) {
        usage(stderr);
        return kUsage;
    }
    std::string texts[2];
    for (std::size_t k = 0; k < s.inputs.size(); ++k)
        if (!read_input(s.inputs[k], texts[k])) {
            std::fprintf(stderr, "satprint: cannot read %s\n", s.inputs[k].c_str());
            return kUnreadable;
        }
    const extrato::Result r = extrato::render(texts[0], texts[1], s.format, s.options);
    if (r.error != extrato::Error::None) {
        std::fprintf(stderr, "satprint: %s\n", r.message.c_str());
        return static_cast<int>(r.error);
    }
    if (std::string error; !extrato::send(s.output, r.bytes, error)) {
        std::fprintf(stderr, "satprint: cannot write to %s: %s\n", s.output.c_str(), error.c_str());
        return kOutput;
    }
    return 0;
}
