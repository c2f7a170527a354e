// A terminal client of its own for the emulator tests: opens the device line the way
// the driver does for every transact, writes one frame and reads one answer.
#pragma once

#include <string>

namespace emutest {

struct Reply {
    bool complete = false; // ended with 0x03 before the deadline
    std::string text;      // every byte received, 0x03 included
};

// Opens `device`, sets raw mode, flushes, writes `command` + "|\x03", and reads until the
// last byte read is 0x03 or `timeout_ms` passes; then closes.
Reply transact(const std::string& device, const std::string& command, int timeout_ms = 3000);
// Reads what arrives on an open transact for `ms` milliseconds (for noise and stale answers).
Reply transact_all(const std::string& device, const std::string& command, int ms);

// The answer without its final 0x03 (empty when incomplete).
std::string answer(const std::string& device, const std::string& command, int timeout_ms = 3000);

std::string read_text_file(const std::string& path);

} // namespace emutest
