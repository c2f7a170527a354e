// Correcao: in-place decoding of numeric character references in sale data.
//
// The device rejects sale documents that carry ASCII characters as references
// (&#x41;). Each such reference is replaced by spaces and the character itself,
// so the document keeps its length: "&#x41;" becomes five spaces and "A".
#include "sat_internal.h"

#include <cstdint>
#include <cstring>

namespace {

// Digits of one reference, at most: the ';' stands at most this far after the digits start.
constexpr std::size_t kMaxDigits = 9;

int digit_value(char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (!hex) return -1;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char decoded_byte(std::uint64_t value) {
    if (value == 13) return ' '; // a carriage return would end the line in the document
    if (value == 39) return '`'; // an apostrophe would end a quoted attribute
    return static_cast<char>(value);
}

} // namespace

extern "C" SAT_API int Correcao(char* texto) noexcept {
    if (!texto) return 0;
    const std::size_t len = std::strlen(texto);
    std::size_t i = 0;
    while (i < len) {
        if (texto[i] != '&' || i + 2 >= len || texto[i + 1] != '#') {
            ++i;
            continue;
        }
        const char marker = texto[i + 2];
        const bool hex = marker == 'x' || marker == 'X';
        if (!hex && digit_value(marker, false) < 0) {
            ++i; // neither "&#x" nor "&#<digit>": not a reference we decode
            continue;
        }
        const std::size_t first = hex ? i + 3 : i + 2;
        std::uint64_t value = 0;
        std::size_t p = first;
        bool invalid = false;
        while (p < len && p < first + kMaxDigits && texto[p] != ';') {
            int d = digit_value(texto[p], hex);
            if (d < 0) {
                invalid = true;
                break;
            }
            value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
            ++p;
        }
        if (invalid) {
            i = p + 1;
            continue;
        }
        if (p >= len || texto[p] != ';') {
            ++i; // too many digits or the text ended: left as it is
            continue;
        }
        // No digits or the value 0 would put a NUL into the document and cut it;
        // 128 and above are not ASCII: all of these stay as they are.
        if (p == first || value == 0 || value >= 128) {
            i = p + 1;
            continue;
        }
        std::memset(texto + i, ' ', p - i);
        texto[p] = decoded_byte(value);
        i = p + 1;
    }
    return 0;
}
