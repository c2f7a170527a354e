// libFuzzer target for the extrato's input side: any text as a CF-e (XML,
// base64, an answer, a satcli output), alone or with a second document, and
// the same bytes base64-encoded. A document that parses must lay out and
// write as text and ESC/POS; a failure must say why and leave no output.
// Word wrapping never makes a line wider than its columns.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "base64.h"
#include "document.h"
#include "format.h"
#include "layout.h"
#include "writers.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange(0, 2);
    const std::size_t columns = in.ConsumeIntegralInRange<std::size_t>(1, 80);
    std::string first = in.ConsumeRandomLengthString(1 << 16);
    std::string second = mode == 2 ? in.ConsumeRemainingBytesAsString() : std::string();
    if (mode == 1) first = torvane::base64_encode(first);

    for (const std::string& line : extrato::wrap(first, columns))
        if (extrato::width(line) > columns) std::abort();

    const extrato::Parsed p = extrato::parse(first, second);
    if ((p.error == extrato::Error::None) == !p.message.empty()) std::abort();
    if (p.error != extrato::Error::None) return 0;
    extrato::Options o;
    o.profile.columns = static_cast<int>(columns < 16 ? 16 : columns);
    const extrato::Layout l = extrato::make_layout(
        p.document, o, {static_cast<std::size_t>(o.profile.columns), columns + 16});
    if (extrato::write_text(l, o.profile.columns).empty()) std::abort();
    if (extrato::write_escpos(l, o.profile).empty()) std::abort();
    return 0;
}
