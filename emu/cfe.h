// Fiscal documents: issuing a CF-e from a point-of-sale sale document, and the
// cancellation of one; access keys.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace satemu {

// Mod-11 check digit of the 43 leading digits of an access key (weights 2..9
// repeating from the right; 0 when 11 minus the remainder is 10 or 11).
char key_check_digit(std::string_view digits43);

// The 44-digit access key.
std::string access_key(std::string_view uf, std::time_t when, std::string_view emitter_cnpj,
                       std::string_view serial, long number, long cnf);

// A 344-character base64 text standing in for an RSA signature (deterministic per `seed`).
std::string fake_signature(std::string_view seed);

// Everything the device knows when it issues a document.
struct IssueContext {
    std::string uf;            // "35"
    std::string serial;        // nine digits
    std::string taxpayer_cnpj; // from activation
    bool associated = false;
    std::string sh_cnpj;   // association
    std::string signature; // association
    long number = 0;       // nCFe to use
    long cnf = 0;          // random code of the key
    std::time_t now = 0;
    bool test = false; // end-to-end test: tpAmb 2
};

// Outcome of a sale or a cancellation. `code` empty means issued.
struct Issued {
    std::string code;               // five-digit refusal code, e.g. "06010"; empty when issued
    std::string rejection = "0000"; // CCCC
    std::string xml;                // the issued document
    std::string key;                // 44 digits
    std::string total;              // "12.34"
    std::string recipient_tag;      // "CPF", "CNPJ" or empty
    std::string recipient;          // digits
    std::string qr_signature;
};

Issued issue_sale(std::string_view document, const IssueContext& ctx);

// What the device kept of the sale that may be cancelled.
struct SaleRecord {
    std::string key; // 44 digits
    std::string total;
    std::string recipient_tag;
    std::string recipient;
    std::time_t time = 0;
    bool cancelled = false;
};

// Cancels `sale` (the checks of the key and of the 30 minutes belong to the device).
// Refusals carry family-07 codes.
Issued issue_cancellation(std::string_view document, std::string_view key_field,
                          const SaleRecord& sale, const IssueContext& ctx);

} // namespace satemu
