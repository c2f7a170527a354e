// Request bodies: application/x-www-form-urlencoded decoding and the shapes that
// field values must have before satd carries them to the device.
#pragma once

#include <map>
#include <string>

namespace satd {

using Fields = std::map<std::string, std::string>;

// The shape a field's value must have before satd carries it to the device.
enum class Shape {
    Digits14,  // CNPJ
    Digits28,  // two CNPJs
    Session,   // 1-6 digits
    Type,      // certificate type 1-3
    State,     // state code, 1-2 digits
    Option,    // 1 or 2
    Document,  // XML or PEM text: UTF-8, no '|', no control bytes but tab and line ends
    AccessKey, // "CFe" and 44 digits
    Base64,    // base64 text
    Secret,    // activation or emergency code: 6-32 printable characters, no '|'
};

// The form fields of an application/x-www-form-urlencoded body; false and the
// reason in `why` for a bad escape, a repeated field or text that is not UTF-8.
bool decode_form(const std::string& body, Fields& out, std::string& why);

bool valid(Shape shape, const std::string& value);
bool valid_utf8(const std::string& text);
// The length of the well-formed UTF-8 sequence that starts at `at` (no overlong
// form, no surrogate, nothing past U+10FFFF); 0 when none does.
size_t utf8_sequence(const std::string& text, size_t at);
// `s` is `low` to `high` digits and nothing else.
bool all_digits(const std::string& s, size_t low, size_t high);

} // namespace satd
