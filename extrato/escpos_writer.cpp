#include <cstdint>

#include "format.h"
#include "symbols.h"
#include "writers.h"

namespace extrato {

namespace {

constexpr char ESC = 0x1B, GS = 0x1D;

// Latin-1 U+00A0..U+00FF in CP850 and CP860 (0: not in the page), and their
// letters without accents.
constexpr std::uint8_t kCp850[96] = {
    0xFF, 0xAD, 0xBD, 0x9C, 0xCF, 0xBE, 0xDD, 0xF5, 0xF9, 0xB8, 0xA6, 0xAE, 0xAA, 0xF0, 0xA9, 0xEE,
    0xF8, 0xF1, 0xFD, 0xFC, 0xEF, 0xE6, 0xF4, 0xFA, 0xF7, 0xFB, 0xA7, 0xAF, 0xAC, 0xAB, 0xF3, 0xA8,
    0xB7, 0xB5, 0xB6, 0xC7, 0x8E, 0x8F, 0x92, 0x80, 0xD4, 0x90, 0xD2, 0xD3, 0xDE, 0xD6, 0xD7, 0xD8,
    0xD1, 0xA5, 0xE3, 0xE0, 0xE2, 0xE5, 0x99, 0x9E, 0x9D, 0xEB, 0xE9, 0xEA, 0x9A, 0xED, 0xE8, 0xE1,
    0x85, 0xA0, 0x83, 0xC6, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0xD0, 0xA4, 0x95, 0xA2, 0x93, 0xE4, 0x94, 0xF6, 0x9B, 0x97, 0xA3, 0x96, 0x81, 0xEC, 0xE7, 0x98};
constexpr std::uint8_t kCp860[96] = {
    0xFF, 0xAD, 0x9B, 0x9C, 0,    0,    0, 0,    0,    0,    0xA6, 0xAE, 0xAA, 0,    0, 0,
    0xF8, 0xF1, 0xFD, 0,    0,    0xE6, 0, 0xFA, 0,    0,    0xA7, 0xAF, 0xAC, 0xAB, 0, 0xA8,
    0x91, 0x86, 0x8F, 0x8E, 0,    0,    0, 0x80, 0x92, 0x90, 0x89, 0,    0x98, 0x8B, 0, 0,
    0,    0xA5, 0xA9, 0x9F, 0x8C, 0x99, 0, 0,    0,    0x9D, 0x96, 0,    0x9A, 0,    0, 0xE1,
    0x85, 0xA0, 0x83, 0x84, 0,    0,    0, 0x87, 0x8A, 0x82, 0x88, 0,    0x8D, 0xA1, 0, 0,
    0,    0xA4, 0x95, 0xA2, 0x93, 0x94, 0, 0xF6, 0,    0x97, 0xA3, 0,    0x81, 0,    0, 0};
constexpr std::string_view kPlain =
    " ??????? ?a???? ??23 ??? 1o?113?AAAAAA?CEEEEIIII?NOOOOO??UUUUY?"
    "?aaaaaa?ceeeeiiii?nooooo??uuuuy?y";

// ESC t n of each code page (Epson numbering).
std::uint8_t page_number(CodePage p) {
    return p == CodePage::Cp850 ? 2 : p == CodePage::Cp860 ? 3 : 0;
}

void put(std::string& out, std::initializer_list<int> bytes) {
    for (int b : bytes)
        out += static_cast<char>(b);
}

// GS v 0: one bit per dot, rows of whole bytes, the leftmost dot in the high bit.
void raster(std::string& out, const std::vector<std::vector<unsigned char>>& rows) {
    if (rows.empty()) return;
    const std::size_t dots = rows[0].size(), bytes = (dots + 7) / 8;
    put(out, {GS, 'v', '0', 0, int(bytes & 0xFF), int(bytes >> 8), int(rows.size() & 0xFF),
              int(rows.size() >> 8)});
    for (const auto& row : rows)
        for (std::size_t x = 0; x < bytes * 8; x += 8) {
            int b = 0;
            for (int k = 0; k < 8; ++k)
                b = b << 1 | (x + k < dots && row[x + k]);
            out += static_cast<char>(b);
        }
}

void qr(std::string& out, const std::string& content, const Profile& p) {
    if (p.raster) {
        const QrMatrix m = qr_matrix(content);
        const int quiet = 4, size = (m.width + 2 * quiet) * p.qr_module;
        std::vector<std::vector<unsigned char>> rows(size, std::vector<unsigned char>(size));
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const int my = y / p.qr_module - quiet, mx = x / p.qr_module - quiet;
                rows[y][x] = my >= 0 && mx >= 0 && my < m.width && mx < m.width &&
                             m.dark[std::size_t(my) * m.width + mx];
            }
        raster(out, rows);
        return;
    }
    const std::size_t n = content.size() + 3;
    put(out, {GS, '(', 'k', 4, 0, '1', 'A', '2', 0});                    // model 2
    put(out, {GS, '(', 'k', 3, 0, '1', 'C', p.qr_module});               // module size
    put(out, {GS, '(', 'k', 3, 0, '1', 'E', '0'});                       // error correction L
    put(out, {GS, '(', 'k', int(n & 0xFF), int(n >> 8), '1', 'P', '0'}); // store
    out += content;
    put(out, {GS, '(', 'k', 3, 0, '1', 'Q', '0'}); // print
}

void bars(std::string& out, const std::string& digits, const Profile& p) {
    if (p.raster) {
        const std::vector<unsigned char> modules = code128_modules(digits);
        std::vector<unsigned char> row;
        for (unsigned char m : modules)
            row.insert(row.end(), p.bar_module, m);
        raster(out, std::vector<std::vector<unsigned char>>(p.bar_height, row));
        return;
    }
    put(out, {GS, 'h', p.bar_height, GS, 'w', p.bar_module, GS, 'H', 0});
    // Code 128 in code set C: one byte per pair of digits, the printer adds the check.
    put(out, {GS, 'k', 73, int(2 + digits.size() / 2), '{', 'C'});
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out += static_cast<char>((digits[i] - '0') * 10 + digits[i + 1] - '0');
}

} // namespace

std::string encode(std::string_view s, CodePage page) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        unsigned cp = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra) cp = c & (0x3F >> extra);
        for (++i; extra-- > 0 && i < s.size(); ++i)
            cp = cp << 6 | (s[i] & 0x3F);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        std::uint8_t b = 0;
        if (cp >= 0xA0 && cp <= 0xFF && page != CodePage::Ascii)
            b = (page == CodePage::Cp850 ? kCp850 : kCp860)[cp - 0xA0];
        if (!b)
            b = cp >= 0xA0 && cp <= 0xFF       ? kPlain[cp - 0xA0]
                : cp == 0x2013 || cp == 0x2014 ? '-'
                                               : '?';
        out += static_cast<char>(b);
    }
    return out;
}

std::string write_escpos(const Layout& layout, const Profile& p) {
    std::string out;
    put(out, {ESC, '@', ESC, 't', page_number(p.code_page)});
    bool bold = false, condensed = false;
    Align align = Align::Left;
    auto set = [&](bool b, bool c, Align a) {
        if (b != bold) put(out, {ESC, 'E', b});
        if (c != condensed) put(out, {ESC, 'M', c});
        if (a != align) put(out, {ESC, 'a', a == Align::Center});
        bold = b, condensed = c, align = a;
    };
    for (const Block& b : layout.blocks) {
        switch (b.kind) {
        case Block::Text:
            set(b.bold, b.condensed, b.align);
            out += encode(b.text, p.code_page);
            out += '\n';
            break;
        case Block::Bars:
            set(false, false, Align::Center);
            bars(out, b.text, p);
            break;
        case Block::Qr:
            set(false, false, Align::Center);
            qr(out, b.text, p);
            break;
        case Block::Feed:
            put(out, {ESC, 'd', b.lines});
            break;
        case Block::Cut:
            put(out, {GS, 'V', 1}); // partial cut
            break;
        }
    }
    return out;
}

} // namespace extrato
