// Texts of the extrato: numbers as the paper shows them, and word wrapping.
// Widths count characters (UTF-8 code points), not bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace extrato {

// Digits only; of exactly `size` digits unless size is 0 (then at least one).
bool is_digits(std::string_view s, std::size_t size);
// An XML decimal: optional minus, digits, optional point and digits.
bool is_decimal(std::string_view s);
// Empty or a decimal whose digits are all zero.
bool is_zero(std::string_view s);

// A money text in cents (extra decimals cut) and back ("12.70").
long long cents(std::string_view s);
std::string from_cents(long long c);

// "1528.00" -> "1.528,00": comma, thousands dots, the decimals as written.
std::string money(std::string_view s);
// "1.0000" -> "1", "0.5000" -> "0,5".
std::string quantity(std::string_view s);

bool valid_cnpj(std::string_view s);
bool valid_cpf(std::string_view s);
// Masked when valid, as given otherwise.
std::string cnpj_text(std::string_view s);
std::string cpf_text(std::string_view s);
std::string cep_text(std::string_view s);

// The 44 digits as 11 groups of 4 separated by spaces.
std::string grouped_key(std::string_view key);
// "35" -> "SP"; the code itself when unknown.
std::string uf_name(std::string_view code);
// "dd/mm/aaaa - hh:mm:ss" from AAAAMMDD and HHMMSS.
std::string date_time(std::string_view date, std::string_view time);

std::size_t width(std::string_view s);
// The first `n` characters of s.
std::string_view head(std::string_view s, std::size_t n);

// Word-wraps s to `columns`, keeping its own line breaks; a word longer than a
// line is broken, never dropped. An empty text gives no lines.
std::vector<std::string> wrap(std::string_view s, std::size_t columns);

// A label at the left and a value at the right, at least `gap` spaces apart.
// The value is never cut: the label wraps instead, and a value that leaves no
// room for the label goes on a line of its own.
std::vector<std::string> label_value(std::string_view label, std::string_view value,
                                     std::size_t columns, std::size_t gap);

} // namespace extrato
