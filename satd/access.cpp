#include "access.h"

#include "form.h"

#include <arpa/inet.h>

#include <cstring>
#include <sstream>

namespace satd {

bool parse_address(const std::string& text, std::array<unsigned char, 16>& out) {
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        out.fill(0);
        out[10] = out[11] = 0xff;
        std::memcpy(out.data() + 12, &v4, 4);
        return true;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return false;
    std::memcpy(out.data(), &v6, 16);
    return true;
}

bool AllowList::parse(const std::string& text, std::string& bad) {
    nets_.clear();
    text_.clear();
    std::string spaced = text;
    for (char& c : spaced)
        if (c == ',') c = ' ';
    std::istringstream words(spaced);
    for (std::string word; words >> word;) {
        Network n;
        const auto slash = word.find('/');
        const std::string addr = word.substr(0, slash);
        const bool v4 = addr.find(':') == std::string::npos;
        int bits = v4 ? 32 : 128;
        if (slash != std::string::npos) {
            const std::string p = word.substr(slash + 1);
            if (!all_digits(p, 1, 3) || std::stoi(p) > bits) return bad = word, false;
            bits = std::stoi(p);
        }
        if (!parse_address(addr, n.bytes)) return bad = word, false;
        n.prefix = v4 ? bits + 96 : bits;
        nets_.push_back(n);
        text_ += (text_.empty() ? "" : ", ") + word;
    }
    return true;
}

bool AllowList::contains(const std::string& address) const {
    std::array<unsigned char, 16> a{};
    if (!parse_address(address, a)) return false;
    for (const Network& n : nets_) {
        int bits = n.prefix, i = 0;
        for (; bits >= 8; bits -= 8, ++i)
            if (a[i] != n.bytes[i]) break;
        if (bits >= 8) continue;
        if (bits == 0) return true;
        const unsigned mask = bits ? (0xffu << (8 - bits)) & 0xffu : 0;
        if ((a[i] & mask) == (n.bytes[i] & mask)) return true;
    }
    return false;
}

} // namespace satd
