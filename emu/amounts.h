// Money, quantities and rates of a sale as integer counts of each field's smallest
// unit (cents, ten-thousandths of a unit, ...): read from the document's decimal texts
// and multiplied, divided and rounded without binary floating point, as the device does.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace satemu {

// The digits a field may have before and after its decimal point.
struct DecimalFormat {
    int integer;
    int places;
};
constexpr DecimalFormat kMoney{13, 2};     // values in cents
constexpr DecimalFormat kQuantity{11, 4};  // qCom, in ten-thousandths
constexpr DecimalFormat kUnitPrice{12, 3}; // vUnCom, in thousandths of a real
constexpr DecimalFormat kPercent{3, 2};    // pICMS, in hundredths of a percent
constexpr DecimalFormat kRate{1, 4};       // pPIS and pCOFINS, in ten-thousandths

// The largest amount a money field holds, in cents (thirteen digits before the point).
constexpr long long kMoneyLimit = 999'999'999'999'999;

// `text` as a count of the format's smallest unit: digits, then optionally a point and
// at least one more digit. Nothing for any other text (a sign, blanks, an exponent) or
// for more digits on either side of the point than the field allows.
std::optional<long long> parse_decimal(std::string_view text, DecimalFormat format);

enum class Rounding { HalfUp, Truncate };

// numerator / denominator (denominator > 0) to a whole number; half up rounds halves
// away from zero, truncation drops the fraction.
__int128 divide(__int128 numerator, __int128 denominator, Rounding rounding);

// Cents as the document writes them: "-1.05", "0.00".
std::string money_text(long long cents);

// `amount` shared out over `weights` (not negative) in proportion to them, each share
// rounded half up but never beyond what is left; the last share is what the others
// leave, so the shares add up to `amount` exactly. With weights that add up to 0 the
// last takes it all.
std::vector<long long> spread(long long amount, const std::vector<long long>& weights);

} // namespace satemu
