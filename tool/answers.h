// Reading the library's answers: fields, the receipt printers and the
// handling of the answers that satcli does more with than print.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace satcli {

// Field `k` of a '|'-separated answer, counted from 0; empty when the answer
// has fewer fields.
std::string_view campo(std::string_view resposta, int k);

// Copies field `k` into `buf` of `tamanho` bytes, always terminated; a longer
// field is cut to tamanho - 1 characters.
void copia_campo(std::string_view resposta, int k, char* buf, std::size_t tamanho);

// Print the access key (field 8) and the decoded document (field 6) of a sale
// or cancellation answer, success or not. Always 0.
int TrataCFe(const char* resposta, std::FILE* out = stdout);
int TrataCFeCanc(const char* resposta, std::FILE* out = stdout);

// After ConsultarUltimaSessaoFiscal: decodes the stored sale (06000) or
// cancellation (07000) contained in the answer; other codes print nothing.
void trata_ultima_sessao_fiscal(const char* resposta, std::FILE* out);

// After ExtrairLogs: on 15000 writes the decoded device log to `arquivo` and
// reports it; otherwise prints the code and the device's message. Returns the
// exit status: 1 when the log file could not be created or written, else 0.
int trata_extrair_logs(const char* resposta, std::FILE* out, std::FILE* err,
                       const char* arquivo = "log_sat.txt");

} // namespace satcli
