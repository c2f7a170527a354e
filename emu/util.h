// Small text helpers shared by the emulator: base64, byte escaping, local time.
#pragma once

#include "base64.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace satemu {

// The project's one base64 (base64/base64.h).
using torvane::base64_decode;
using torvane::base64_encode;

// Bytes below 0x20, 0x7F and backslash become \xHH; everything else is kept as is,
// so UTF-8 texts stay readable.
std::string escape_bytes(std::string_view bytes);
// Inverse of escape_bytes; nullopt on a malformed escape.
std::optional<std::string> unescape_bytes(std::string_view text);

// strftime over local time.
std::string local_time(std::time_t t, const char* format);
// "YYYY-MM-DD HH:MM:SS.mmm" for the current local time.
std::string now_with_millis();

std::vector<std::string> split(std::string_view text, char sep);
bool all_digits(std::string_view text);

// Monotonic milliseconds, for timers.
int64_t monotonic_ms();

} // namespace satemu
