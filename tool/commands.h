// The commands of satcli: one row per library function, driving the usage
// text, the argument checks and the call.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "binding.h"

namespace satcli {

inline constexpr const char* kVersion = "3.0.0.5";

// Everything one run needs; output goes to `out` except the one error line
// that belongs on `err`.
struct Invocation {
    const Api& api;
    int argc;
    char** argv;
    std::FILE* out;
    std::FILE* err;
};

// Runs the command named by argv[1] (the usage text when there is none or it
// names no command) and returns the exit status.
int run(const Invocation& x);

// Prints the usage text; the ConsultarUltimaSessaoFiscal line only when the
// library has that function.
void print_usage(const Invocation& x);

// Reads the whole of `path` (text mode, to the end, so a pipe works too).
// False when it cannot be opened or read.
bool read_document(const char* path, std::string& contents);

// The value of the chCanc attribute of the document's infCFe element: the key
// of the sale to cancel. Empty when the document has none.
std::string cancellation_key(std::string_view document);

} // namespace satcli
