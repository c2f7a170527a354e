#include "base64.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace torvane {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Symbol values for the symbol-by-symbol rules.
constexpr std::uint8_t kSkip = 64;    // line feed
constexpr std::uint8_t kEnd = 65;     // '='
constexpr std::uint8_t kInvalid = 66; // anything else outside the alphabet

constexpr std::array<std::uint8_t, 256> make_values() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t)
        v = kInvalid;
    for (std::uint8_t i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(kAlphabet[i])] = i;
    t['\n'] = kSkip;
    t['='] = kEnd;
    return t;
}

constexpr auto kValues = make_values();

// For whole groups: the value of a symbol already shifted to its place in the
// group's 24 bits, so that a group is four lookups and three ORs. A character
// outside the alphabet sets bit 24, which marks the group for the slow path.
constexpr std::uint32_t kNotSymbol = 1u << 24;

constexpr std::array<std::uint32_t, 256> make_shifted(int shift) {
    std::array<std::uint32_t, 256> t{};
    for (std::size_t c = 0; c < 256; ++c)
        t[c] = kValues[c] < 64 ? std::uint32_t{kValues[c]} << shift : kNotSymbol;
    return t;
}

constexpr auto kShift18 = make_shifted(18);
constexpr auto kShift12 = make_shifted(12);
constexpr auto kShift6 = make_shifted(6);
constexpr auto kShift0 = make_shifted(0);

} // namespace

std::string base64_encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    auto byte = [&bytes](std::size_t k) { return std::uint32_t{std::uint8_t(bytes[k])}; };
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = byte(i) << 16;
        if (rest == 2) v |= byte(i + 1) << 8;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

int base64_decode(const char* text, std::size_t size, char* out, std::size_t capacity,
                  std::size_t* produced) noexcept {
    if (capacity == 0 || !out) {
        if (produced) *produced = 0;
        return 1;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    std::size_t n = 0;
    int result = 0;
    std::uint32_t pending_bits = 0;
    int pending = 0;
    // Writes one group of bytes if it fits together with the terminator.
    auto put = [&](std::uint32_t group, int count) {
        if (n + static_cast<std::size_t>(count) + 1 > capacity) return false;
        for (int k = 0; k < count; ++k)
            out[n++] = static_cast<char>(group >> (16 - 8 * k));
        return true;
    };
    while (i < size) {
        // Whole groups of four symbols, the bulk of any text: as many as both the
        // input and the room (three bytes and one more for the terminator) allow.
        if (pending == 0) {
            std::size_t groups = (size - i) / 4;
            const std::size_t room = (capacity - n - 1) / 3; // n < capacity always
            if (room < groups) groups = room;
            const unsigned char* p = in + i;
            char* o = out + n;
            for (; groups > 0; --groups, p += 4, o += 3) {
                const std::uint32_t g =
                    kShift18[p[0]] | kShift12[p[1]] | kShift6[p[2]] | kShift0[p[3]];
                if (g & kNotSymbol) break;
                o[0] = static_cast<char>(g >> 16);
                o[1] = static_cast<char>(g >> 8);
                o[2] = static_cast<char>(g);
            }
            i = static_cast<std::size_t>(p - in);
            n = static_cast<std::size_t>(o - out);
            if (i >= size) break;
        }
        // One symbol by the full rules: a group with a line feed, '=', an
        // invalid character, the last incomplete group, or no more room.
        const std::uint8_t v = kValues[in[i++]];
        if (v == kSkip) continue;
        if (v == kInvalid) {
            result = 1;
            pending = 0; // symbols of an unfinished group are dropped
            break;
        }
        if (v == kEnd) break;
        pending_bits = pending_bits << 6 | v;
        if (++pending == 4) {
            pending = 0;
            if (!put(pending_bits, 3)) {
                result = 1;
                break;
            }
            pending_bits = 0;
        }
    }
    if (pending == 3) {
        if (!put(pending_bits << 6, 2)) result = 1;
    } else if (pending == 2) {
        if (!put(pending_bits << 12, 1)) result = 1;
    }
    out[n] = '\0';
    if (produced) *produced = n;
    return result;
}

std::optional<std::string> base64_decode(std::string_view text) {
    std::string out(text.size() / 4 * 3 + 4, '\0');
    std::size_t n = 0;
    if (base64_decode(text.data(), text.size(), out.data(), out.size(), &n) != 0)
        return std::nullopt;
    out.resize(n);
    return out;
}

} // namespace torvane
