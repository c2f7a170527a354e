// Splitting an answer text into its '|'-separated fields, as a host reads it.
// Header-only so that the fuzz targets can use it without the test support library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// "a||b" gives {"a", "", "b"}; an empty text gives one empty field.
inline std::vector<std::string> split_fields(std::string_view text, char sep = '|') {
    std::vector<std::string> fields{""};
    for (char c : text) {
        if (c == sep)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

// Field `i` of an answer; empty beyond the last.
inline std::string field(std::string_view text, size_t i) {
    auto f = split_fields(text);
    return i < f.size() ? f[i] : std::string();
}

} // namespace testsupport
