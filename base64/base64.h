// Standard base64 (RFC 4648 alphabet, '=' padding): the encoder of the emulator's
// answers and the decoder of the receipts and device logs that satcli shows.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// Encodes `bytes` with padding and without line breaks.
std::string base64_encode(std::string_view bytes);

// Decodes `size` characters of base64 into `out` (capacity `capacity` bytes,
// terminator included). Line feeds are skipped and '=' ends the data.
// Returns 0 when all input was decoded, 1 when it stopped at an invalid
// character or for lack of room (or `capacity` is 0); otherwise the output is
// always terminated and `produced`, when given, receives the number of bytes decoded.
int base64_decode(const char* text, std::size_t size, char* out, std::size_t capacity,
                  std::size_t* produced = nullptr) noexcept;

// The same rules into a string; nullopt when the text stops at an invalid character.
std::optional<std::string> base64_decode(std::string_view text);

} // namespace torvane
