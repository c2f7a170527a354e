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
    EscPosPrint out;
    Reader r{bytes, 0, {}};
    std::string line, stored;
    while (r.at < bytes.size() && r.error.empty()) {
        const int c = r.byte();
        if (c == '\n') {
            out.lines.push_back(std::move(line));
            line.clear();
        } else if (c >= 0x20 && c != 0x7F) {
            line += static_cast<char>(c);
        } else if (c == 0x1B) {
            switch (r.byte()) {
            case '@':
                break;
            case 't':
                r.value(0, 5);
                break;
            case 'E':
                r.value(0, 1);
                break;
            case 'M':
                r.value(0, 1);
                break;
            case 'a':
                r.value(0, 2);
                break;
            case 'd':
                r.value(0, 255);
                break;
            default:
                r.fail("unknown ESC command");
            }
        } else if (c == 0x1D) {
            switch (r.byte()) {
            case '(':
                if (r.value('k', 'k') >= 0) qr_function(r, out, stored);
                break;
            case 'k':
                barcode(r, out);
                break;
            case 'v':
                raster(r, out);
                break;
            case 'h':
                r.value(1, 255);
                break;
            case 'w':
                r.value(1, 6);
                break;
            case 'H':
                r.value(0, 3);
                break;
            case 'V':
                out.cuts += r.value(0, 1) >= 0;
                break;
            default:
                r.fail("unknown GS command");
            }
        } else {
            r.fail("control byte " + std::to_string(c));
        }
    }
    if (!line.empty() && r.error.empty()) r.fail("text without its line feed");
    out.error = r.error;
    return out;
}
