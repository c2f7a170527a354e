#include "form.h"

#include <cstdint>

namespace satd {

bool all_digits(const std::string& s, size_t low, size_t high) {
    return s.size() >= low && s.size() <= high &&
           s.find_first_not_of("0123456789") == std::string::npos;
}

namespace {

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool percent_decode(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '+') {
            out += ' ';
        } else if (in[i] == '%') {
            if (i + 2 >= in.size()) return false;
            const int hi = hex(in[i + 1]), lo = hex(in[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += in[i];
        }
    }
    return true;
}

} // namespace

bool decode_form(const std::string& body, Fields& out, std::string& why) {
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        const std::string piece = body.substr(start, end - start);
        start = end + 1;
        if (piece.empty()) continue;
        const size_t eq = piece.find('=');
        std::string name, value;
        if (!percent_decode(piece.substr(0, eq), name) ||
            (eq != std::string::npos && !percent_decode(piece.substr(eq + 1), value)))
            return why = "bad %-escape in the body", false;
        if (!valid_utf8(name) || !valid_utf8(value))
            return why = "field " + name + ": not UTF-8", false;
        if (!out.emplace(name, value).second) return why = "field " + name + ": repeated", false;
    }
    return true;
}

size_t utf8_sequence(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    const size_t n = c < 0x80                ? 1
                     : c >= 0xc2 && c < 0xe0 ? 2
                     : c >= 0xe0 && c < 0xf0 ? 3
                     : c >= 0xf0 && c < 0xf5 ? 4
                                             : 0;
    if (n == 0 || i + n > s.size()) return 0;
    std::uint32_t code = n == 1 ? c : c & (0x7f >> n);
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
        code = code << 6 | (byte(i + k) & 0x3f);
    }
    const bool bad = (n == 3 && (code < 0x800 || (code >= 0xd800 && code < 0xe000))) ||
                     (n == 4 && (code < 0x10000 || code > 0x10ffff));
    return bad ? 0 : n;
}

bool valid_utf8(const std::string& text) {
    for (size_t i = 0, n; i < text.size(); i += n)
        if ((n = utf8_sequence(text, i)) == 0) return false;
    return true;
}

bool valid(Shape shape, const std::string& v) {
    switch (shape) {
    case Shape::Digits14:
        return all_digits(v, 14, 14);
    case Shape::Digits28:
        return all_digits(v, 28, 28);
    case Shape::Session:
        return all_digits(v, 1, 6);
    case Shape::Type:
        return v == "1" || v == "2" || v == "3";
    case Shape::State:
        return all_digits(v, 1, 2);
    case Shape::Option:
        return v == "1" || v == "2";
    case Shape::AccessKey:
        return v.size() == 47 && v.rfind("CFe", 0) == 0 && all_digits(v.substr(3), 44, 44);
    case Shape::Base64:
        return !v.empty() && v.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuv"
                                                 "wxyz0123456789+/=") == std::string::npos;
    case Shape::Secret:
        if (v.size() < 6 || v.size() > 32) return false;
        for (const char c : v)
            if (c <= ' ' || c > '~' || c == '|') return false;
        return true;
    case Shape::Document:
        if (v.empty() || !valid_utf8(v)) return false;
        for (const char c : v)
            if (c == '|' ||
                (static_cast<unsigned char>(c) < ' ' && c != '\t' && c != '\n' && c != '\r'))
                return false;
        return true;
    }
    return false;
}

} // namespace satd
