// Where satprint sends an extrato: standard output ("-"), a file, a printer's
// device node, or a network printer ("tcp://HOST[:PORT]", port 9100 by default).
#pragma once

#include <string>
#include <string_view>

namespace extrato {

// Writes all of `bytes`; on failure returns false with the reason in `error`.
bool send(const std::string& target, std::string_view bytes, std::string& error);

} // namespace extrato
