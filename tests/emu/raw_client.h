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
// last byte read is 0x03 (unless `read_all`: then for the whole `timeout_ms`) or `timeout_ms`
// passes; then closes.
Reply transact(const std::string& device, const std::string& command, int timeout_ms = 3000,
               bool read_all = false);
// The answer without its final 0x03 (empty when incomplete).
std::string answer(const std::string& device, const std::string& command, int timeout_ms = 3000);

std::string sale_document(); // examples/venda.xml
// A cancellation document of the sale whose key field ("CFe" + 44 digits) is `key_field`.
std::string cancel_doc(const std::string& key_field);

} // namespace emutest
