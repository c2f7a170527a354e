// libFuzzer target for satd's request bodies. Decoding any body never fails
// badly; what it accepts is UTF-8 throughout and survives encoding and decoding
// again unchanged; the field shapes take any text, and an accepted document never
// carries the byte that would split the device's command.
#include "form.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string encode(const satd::Fields& fields) {
    std::string out;
    char hex[4];
    for (const auto& [name, value] : fields) {
        out += out.empty() ? "" : "&";
        for (const std::string* s : {&name, &value}) {
            for (const unsigned char c : *s) {
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                out += hex;
            }
            if (s == &name) out += '=';
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    satd::Fields fields, again;
    std::string why;
    if (satd::decode_form(body, fields, why)) {
        for (const auto& [name, value] : fields)
            if (!satd::valid_utf8(name) || !satd::valid_utf8(value)) std::abort();
        if (!satd::decode_form(encode(fields), again, why) || again != fields) std::abort();
    }
    for (int shape = 0; shape <= static_cast<int>(satd::Shape::Secret); ++shape)
        if (satd::valid(static_cast<satd::Shape>(shape), body) &&
            static_cast<satd::Shape>(shape) == satd::Shape::Document &&
            (!satd::valid_utf8(body) || body.find('|') != std::string::npos))
            std::abort();
    return 0;
}
