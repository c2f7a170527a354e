// libFuzzer target for Correcao, the in-place decoding of character references
// in sale data. The text must keep its length, gain no zero byte, and change
// only where a reference stood: every changed byte becomes a space, except the
// last byte of a reference, which becomes an ASCII character.
#include "sat_internal.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    // The text stops at the first zero byte, as a C caller's would.
    std::size_t len = strnlen(reinterpret_cast<const char*>(data), size);
    // Exactly len + 1 bytes on the heap: any read or write past the NUL is caught.
    std::vector<char> text(len + 1);
    std::memcpy(text.data(), data, len);
    text[len] = '\0';
    const std::vector<char> before = text;

    if (Correcao(text.data()) != 0) std::abort();

    if (std::strlen(text.data()) != len) std::abort(); // length changed or a NUL appeared
    for (std::size_t i = 0; i < len; ++i) {
        if (text[i] == before[i]) continue;
        const auto now = static_cast<unsigned char>(text[i]);
        // Bytes of 0x80 and above are never produced or replaced.
        if (now >= 0x80 || static_cast<unsigned char>(before[i]) >= 0x80) std::abort();
        if (now == ' ') continue;
        // A decoded character stands where the reference's ';' was, after at
        // least "&#" and one more character turned into spaces.
        if (before[i] != ';' || i < 3) std::abort();
        if (text[i - 1] != ' ' || text[i - 2] != ' ' || text[i - 3] != ' ') std::abort();
        if (now == '\r' || now == '\'') std::abort(); // these two are mapped to ' ' and '`'
    }
    // Nothing outside a reference changes: the byte before every changed run is
    // untouched and the run starts at a '&' of the original.
    for (std::size_t i = 0; i < len; ++i)
        if (text[i] != before[i] && (i == 0 || text[i - 1] == before[i - 1]) && before[i] != '&')
            std::abort();
    return 0;
}
