// satemu's sale processing with absurd amounts (found by the sale fuzz target):
// huge, negative, infinite and NaN values in every amount of a sale must give a
// well-formed answer of the sale's family, never an overflow (the asan tree runs
// this with the undefined-behaviour sanitizer).
#include <string>

#include <gtest/gtest.h>

#include "device.h"
#include "faults.h"
#include "frame.h"

namespace {

std::string with_amount(std::string doc, const std::string& tag, const std::string& value) {
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    const auto a = doc.find(open);
    if (a == std::string::npos) return doc;
    const auto b = doc.find(close, a);
    return doc.replace(a + open.size(), b - a - open.size(), value);
}

TEST(EmulatorAmounts, AbsurdAmountsGiveAnAnswerNotAnOverflow) {
    const std::string sale = faults::sale_document();
    for (const char* value : {"1e300", "-1e300", "9223372036854775807", "-92233720368547758.08",
                              "inf", "-inf", "nan", "1e-300"}) {
        for (const char* tag : {"qCom", "vUnCom", "vDesc", "vOutro", "vMP", "vDescSubtot"}) {
            satemu::Device dev;
            dev.apply_preset("12345678");
            std::string doc = with_amount(sale, tag, value);
            if (std::string(tag) == "vDescSubtot")
                doc = with_amount(sale, "total",
                                  std::string("<DescAcrEntr><vDescSubtot>") + value +
                                      "</vDescSubtot></DescAcrEntr>");
            auto cmd = satemu::parse_command("|03|000042|12345678|" + doc + "|\x03");
            ASSERT_TRUE(cmd.has_value());
            const std::string answer = dev.handle(*cmd);
            EXPECT_EQ(answer.rfind("000042|06", 0), 0u) << tag << "=" << value << ": " << answer;
        }
    }
}

} // namespace
