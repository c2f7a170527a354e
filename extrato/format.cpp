#include "format.h"

#include <algorithm>
#include <cstdio>

namespace extrato {

bool is_digits(std::string_view s, std::size_t size) {
    if (s.empty() || (size && s.size() != size)) return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool is_decimal(std::string_view s) {
    if (s.starts_with('-')) s.remove_prefix(1);
    const auto point = s.find('.');
    if (point == std::string_view::npos) return is_digits(s, 0);
    return is_digits(s.substr(0, point), 0) && is_digits(s.substr(point + 1), 0);
}

bool is_zero(std::string_view s) {
    return s.find_first_not_of("-0.") == std::string_view::npos;
}

long long cents(std::string_view s) {
    if (!is_decimal(s)) return 0;
    const bool negative = s.starts_with('-');
    if (negative) s.remove_prefix(1);
    long long c = 0;
    int decimals = -1;
    for (char ch : s) {
        if (ch == '.') {
            decimals = 0;
            continue;
        }
        if (decimals >= 2) break;
        if (decimals >= 0) ++decimals;
        // Amounts past a trillion are not receipts; stop growing instead of overflowing.
        if (c < 100'000'000'000'000) c = c * 10 + (ch - '0');
    }
    for (decimals = std::max(decimals, 0); decimals < 2; ++decimals)
        c *= 10;
    return negative ? -c : c;
}

std::string from_cents(long long c) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s%lld.%02lld", c < 0 ? "-" : "", (c < 0 ? -c : c) / 100,
                  (c < 0 ? -c : c) % 100);
    return buf;
}

std::string money(std::string_view s) {
    std::string out;
    if (s.starts_with('-')) {
        out = "-";
        s.remove_prefix(1);
    }
    const auto point = std::min(s.find('.'), s.size());
    const std::string_view whole = s.substr(0, point);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i && (whole.size() - i) % 3 == 0) out += '.';
        out += whole[i];
    }
    if (point < s.size()) out.append(",").append(s.substr(point + 1));
    return out;
}

std::string quantity(std::string_view s) {
    std::string out(s);
    if (out.find('.') != std::string::npos) {
        out.erase(out.find_last_not_of('0') + 1);
        if (out.ends_with('.')) out.pop_back();
    }
    std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

namespace {

// Mod-11 check digit over `digits` with weights 2..`top` from the right.
int check_digit(std::string_view digits, int top) {
    int sum = 0, weight = 2;
    for (std::size_t i = digits.size(); i-- > 0;) {
        sum += (digits[i] - '0') * weight;
        weight = weight == top ? 2 : weight + 1;
    }
    const int d = 11 - sum % 11;
    return d >= 10 ? 0 : d;
}

bool valid_number(std::string_view s, std::size_t size, int top) {
    if (!is_digits(s, size) || s.find_first_not_of(s[0]) == std::string_view::npos) return false;
    return check_digit(s.substr(0, size - 2), top) == s[size - 2] - '0' &&
           check_digit(s.substr(0, size - 1), top) == s[size - 1] - '0';
}

std::string masked(std::string_view s, std::string_view mask) {
    std::string out;
    std::size_t k = 0;
    for (char m : mask)
        out += m == '9' ? s[k++] : m;
    return out;
}

} // namespace

bool valid_cnpj(std::string_view s) {
    return valid_number(s, 14, 9);
}
bool valid_cpf(std::string_view s) {
    return valid_number(s, 11, 11);
}

std::string cnpj_text(std::string_view s) {
    return valid_cnpj(s) ? masked(s, "99.999.999/9999-99") : std::string(s);
}
std::string cpf_text(std::string_view s) {
    return valid_cpf(s) ? masked(s, "999.999.999-99") : std::string(s);
}
std::string cep_text(std::string_view s) {
    return is_digits(s, 8) ? masked(s, "99999-999") : std::string(s);
}

std::string grouped_key(std::string_view key) {
    std::string out;
    for (std::size_t i = 0; i < key.size(); i += 4) {
        if (i) out += ' ';
        out += key.substr(i, 4);
    }
    return out;
}

std::string uf_name(std::string_view code) {
    static constexpr std::pair<std::string_view, std::string_view> kStates[] = {
        {"11", "RO"}, {"12", "AC"}, {"13", "AM"}, {"14", "RR"}, {"15", "PA"}, {"16", "AP"},
        {"17", "TO"}, {"21", "MA"}, {"22", "PI"}, {"23", "CE"}, {"24", "RN"}, {"25", "PB"},
        {"26", "PE"}, {"27", "AL"}, {"28", "SE"}, {"29", "BA"}, {"31", "MG"}, {"32", "ES"},
        {"33", "RJ"}, {"35", "SP"}, {"41", "PR"}, {"42", "SC"}, {"43", "RS"}, {"50", "MS"},
        {"51", "MT"}, {"52", "GO"}, {"53", "DF"}};
    for (auto [c, name] : kStates)
        if (c == code) return std::string(name);
    return std::string(code);
}

std::string date_time(std::string_view d, std::string_view t) {
    if (d.size() != 8 || t.size() != 6) return std::string(d) + " " + std::string(t);
    std::string out;
    out.append(d.substr(6, 2))
        .append("/")
        .append(d.substr(4, 2))
        .append("/")
        .append(d.substr(0, 4));
    out.append(" - ").append(t.substr(0, 2)).append(":").append(t.substr(2, 2)).append(":");
    return out.append(t.substr(4, 2));
}

std::size_t width(std::string_view s) {
    return std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

std::string_view head(std::string_view s, std::size_t n) {
    std::size_t i = 0;
    for (; i < s.size(); ++i)
        if ((s[i] & 0xC0) != 0x80 && n-- == 0) break;
    return s.substr(0, i);
}

std::vector<std::string> wrap(std::string_view s, std::size_t columns) {
    std::vector<std::string> lines;
    columns = std::max<std::size_t>(columns, 1);
    while (!s.empty()) {
        const auto nl = s.find('\n');
        std::string_view paragraph = s.substr(0, nl);
        s = nl == std::string_view::npos ? std::string_view() : s.substr(nl + 1);
        if (paragraph.ends_with('\r')) paragraph.remove_suffix(1);
        std::string line;
        bool any = false;
        while (!paragraph.empty()) {
            const auto start = paragraph.find_first_not_of(" \t");
            if (start == std::string_view::npos) break;
            paragraph.remove_prefix(start);
            std::string_view word = paragraph.substr(0, paragraph.find_first_of(" \t"));
            paragraph.remove_prefix(word.size());
            while (!word.empty()) {
                const std::size_t used = width(line), need = width(word) + (used ? 1 : 0);
                if (used + need <= columns) {
                    if (used) line += ' ';
                    line += word;
                    word = {};
                } else if (used) {
                    lines.push_back(std::move(line));
                    line.clear();
                } else {
                    const std::string_view part = head(word, columns);
                    lines.emplace_back(part);
                    word.remove_prefix(part.size());
                }
            }
            any = true;
        }
        if (!line.empty() || !any) lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> label_value(std::string_view label, std::string_view value,
                                     std::size_t columns, std::size_t gap) {
    const std::size_t v = width(value);
    // Below this the label would wrap a word or two per line: the value moves down instead.
    constexpr std::size_t kNarrowestLabel = 8;
    std::vector<std::string> lines = wrap(label, columns);
    if (lines.empty()) lines.emplace_back();
    if (width(lines.back()) + gap + v > columns && v + gap + kNarrowestLabel <= columns) {
        // The last words go down to a line that leaves room for the value.
        std::vector<std::string> tail = wrap(lines.back(), columns - v - gap);
        lines.pop_back();
        lines.insert(lines.end(), tail.begin(), tail.end());
    }
    if (width(lines.back()) + gap + v > columns) lines.emplace_back();
    std::string& last = lines.back();
    last += std::string(columns > width(last) + v ? columns - width(last) - v : 0, ' ');
    last += value;
    return lines;
}

} // namespace extrato
