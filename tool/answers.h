// Reading the library's answers: fields, the receipt printers and the
// handling of the answers that satcli does more with than print.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace satcli {

// Field `k` of a '|'-separated answer, counted from 0; empty when the answer
// has fewer fields.
std::string_view field(std::string_view answer, int k);

// Copies field `k` into `buf` of `buf_size` bytes, always terminated; a longer
// field is cut to buf_size - 1 characters.
void copy_field(std::string_view answer, int k, char* buf, std::size_t buf_size);

// Print the access key (field 8) and the decoded document (field 6) of a sale
// or cancellation answer, success or not. Always 0.
int print_cfe(const char* answer, std::FILE* out = stdout);
int print_cfe_canc(const char* answer, std::FILE* out = stdout);

// After ConsultarUltimaSessaoFiscal: decodes the stored sale (06000) or
// cancellation (07000) contained in the answer; other codes print nothing.
void handle_ultima_sessao_fiscal(const char* answer, std::FILE* out);

// After ExtrairLogs: on 15000 writes the decoded device log to `file_name` and
// reports it; otherwise prints the code and the device's message. Returns the
// exit status: 1 when the log file could not be created or written, else 0.
int handle_extrair_logs(const char* answer, std::FILE* out, std::FILE* err,
                        const char* file_name = "log_sat.txt");

} // namespace satcli
