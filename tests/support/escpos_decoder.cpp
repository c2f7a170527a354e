#include "escpos_decoder.h"

namespace {

struct Reader {
    std::string_view in;
    std::size_t at = 0;
    std::string error;

    bool has(std::size_t n) const { return error.empty() && at + n <= in.size(); }
    int byte() { return has(1) ? static_cast<unsigned char>(in[at++]) : fail("truncated command"); }
    int fail(const std::string& why) {
        if (error.empty()) error = why + " at byte " + std::to_string(at);
        at = in.size();
        return -1;
    }
    // A parameter byte that must lie within [low, high].
    int value(int low, int high) {
        const int v = byte();
        return v >= low && v <= high ? v : fail("value " + std::to_string(v) + " out of range");
    }
};

void qr_function(Reader& r, EscPosPrint& out, std::string& stored) {
    const int pl = r.byte(), ph = r.byte();
    const std::size_t n = static_cast<std::size_t>(pl + 256 * ph);
    if (r.value('1', '1') < 0 || n < 3 || !r.has(n - 1)) {
        r.fail("bad GS ( k");
        return;
    }
    const int fn = r.byte();
    const std::string_view args = r.in.substr(r.at, n - 2);
    r.at += n - 2;
    if (fn == 'A' && args == std::string_view("2\0", 2)) return;
    if (fn == 'C' && args.size() == 1 && args[0] >= 1 && args[0] <= 16) return;
    if (fn == 'E' && args.size() == 1 && args[0] >= '0' && args[0] <= '3') return;
    if (fn == 'P' && !args.empty() && args[0] == '0') {
        stored = std::string(args.substr(1));
        return;
    }
    if (fn == 'Q' && args == "0" && !stored.empty()) {
        out.qr_codes.push_back(stored);
        return;
    }
    r.fail("unknown QR function");
}

void barcode(Reader& r, EscPosPrint& out) {
    if (r.value(73, 73) < 0) return;
    const int n = r.value(3, 255);
    if (n < 0 || r.byte() != '{' || r.byte() != 'C') {
        r.fail("Code 128 not in code set C");
        return;
    }
    std::string digits;
    for (int k = 2; k < n; ++k) {
        const int v = r.value(0, 99);
        if (v < 0) return;
        digits += static_cast<char>('0' + v / 10);
        digits += static_cast<char>('0' + v % 10);
    }
    out.bars.push_back(digits);
}

void raster(Reader& r, EscPosPrint& out) {
    if (r.value('0', '0') < 0 || r.value(0, 3) < 0) return;
    RasterImage image;
    image.bytes_per_row = r.byte() + 256 * r.byte();
    image.rows = r.byte() + 256 * r.byte();
    const std::size_t size = static_cast<std::size_t>(image.bytes_per_row) * image.rows;
    if (size == 0 || !r.has(size)) {
        r.fail("bad GS v 0 size");
        return;
    }
    image.bits = std::string(r.in.substr(r.at, size));
    r.at += size;
    out.images.push_back(std::move(image));
}

} // namespace

EscPosPrint decode_escpos(std::string_view bytes) {
    // The commands of one parameter byte and the values each accepts.
    static constexpr struct {
        int prefix, command, low, high;
    } kOneByte[] = {{0x1B, 't', 0, 5}, {0x1B, 'E', 0, 1},   {0x1B, 'M', 0, 1},
                    {0x1B, 'a', 0, 2}, {0x1B, 'd', 0, 255}, {0x1D, 'h', 1, 255},
                    {0x1D, 'w', 1, 6}, {0x1D, 'H', 0, 3},   {0x1D, 'V', 0, 1}};
    EscPosPrint out;
    Reader r{bytes, 0, {}};
    std::string line, stored;
    bool bold = false;
    while (r.at < bytes.size() && r.error.empty()) {
        const int c = r.byte();
        if (c == '\n') {
            if (bold) out.bold_lines.push_back(line);
            out.lines.push_back(std::move(line));
            line.clear();
            continue;
        }
        if (c >= 0x20 && c != 0x7F) {
            line += static_cast<char>(c);
            continue;
        }
        if (c != 0x1B && c != 0x1D) {
            r.fail("control byte " + std::to_string(c));
            break;
        }
        const int command = r.byte();
        bool known = c == 0x1B && command == '@';
        for (const auto& k : kOneByte)
            if (k.prefix == c && k.command == command) {
                const int v = r.value(k.low, k.high);
                known = v >= 0;
                if (command == 'E') bold = v == 1;
                out.cuts += command == 'V';
            }
        if (c == 0x1D && command == '(' && r.value('k', 'k') >= 0) {
            qr_function(r, out, stored);
            known = true;
        } else if (c == 0x1D && (command == 'k' || command == 'v')) {
            command == 'k' ? barcode(r, out) : raster(r, out);
            known = true;
        }
        if (!known) r.fail("unknown command");
    }
    if (!line.empty() && r.error.empty()) r.fail("text without its line feed");
    out.error = r.error;
    return out;
}
