// Client networks in CIDR notation ("192.168.0.0/24", "::1/128") and the address
// check of each request.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace satd {

struct Network {
    std::array<unsigned char, 16> bytes{}; // IPv4 as ::ffff:a.b.c.d
    int prefix = 0;                        // of the 128 bits
};

class AllowList {
  public:
    // Comma- or blank-separated networks; false and the bad word in `bad` on error.
    bool parse(const std::string& text, std::string& bad);
    bool contains(const std::string& address) const;
    const std::string& text() const { return text_; }

  private:
    std::vector<Network> nets_;
    std::string text_;
};

// An address ("10.0.0.1", "::1", "::ffff:10.0.0.1") as 16 bytes; false if it is none.
bool parse_address(const std::string& text, std::array<unsigned char, 16>& out);

} // namespace satd
