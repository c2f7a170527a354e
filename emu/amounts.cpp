#include "amounts.h"

#include <algorithm>
#include <cstdio>

namespace satemu {

std::optional<long long> parse_decimal(std::string_view text, DecimalFormat format) {
    const size_t point = text.find('.');
    std::string_view whole = text.substr(0, point);
    std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (whole.empty() || whole.size() > static_cast<size_t>(format.integer)) return {};
    if (point != std::string_view::npos &&
        (fraction.empty() || fraction.size() > static_cast<size_t>(format.places)))
        return {};
    long long value = 0;
    for (char c : whole) {
        if (c < '0' || c > '9') return {};
        value = value * 10 + (c - '0');
    }
    for (int i = 0; i < format.places; ++i) {
        const char c = i < static_cast<int>(fraction.size()) ? fraction[i] : '0';
        if (c < '0' || c > '9') return {};
        value = value * 10 + (c - '0');
    }
    return value;
}

__int128 divide(__int128 numerator, __int128 denominator, Rounding rounding) {
    const bool negative = numerator < 0;
    const __int128 n = negative ? -numerator : numerator;
    __int128 q = n / denominator;
    if (rounding == Rounding::HalfUp && 2 * (n % denominator) >= denominator) ++q;
    return negative ? -q : q;
}

std::string money_text(long long cents) {
    const unsigned long long magnitude =
        cents < 0 ? 0ull - static_cast<unsigned long long>(cents) : cents;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%llu.%02llu", cents < 0 ? "-" : "", magnitude / 100,
                  magnitude % 100);
    return buf;
}

std::vector<long long> spread(long long amount, const std::vector<long long>& weights) {
    std::vector<long long> shares(weights.size(), 0);
    if (shares.empty()) return shares;
    __int128 total = 0;
    for (long long w : weights)
        total += w;
    long long left = amount;
    for (size_t i = 0; i + 1 < weights.size() && total > 0; ++i) {
        // A share is at most `amount`, as no weight exceeds the total; rounding up never
        // takes more than is left, so the last share is never negative.
        shares[i] =
            std::min(left, static_cast<long long>(divide(static_cast<__int128>(amount) * weights[i],
                                                         total, Rounding::HalfUp)));
        left -= shares[i];
    }
    shares.back() = left;
    return shares;
}

} // namespace satemu
