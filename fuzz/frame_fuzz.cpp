// libFuzzer target for satemu's frame assembly and command parsing. The same
// bytes fed in one piece or in any pieces give the same frames; every frame ends
// in "|\x03" and the frames plus the bytes still pending are exactly the input.
#include "frame.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<std::size_t> cuts;
    const std::size_t ncuts = in.ConsumeIntegralInRange<std::size_t>(0, 16);
    for (std::size_t i = 0; i < ncuts; ++i)
        cuts.push_back(in.ConsumeIntegralInRange<std::size_t>(0, 64));
    const std::string bytes = in.ConsumeRemainingBytesAsString();

    satemu::FrameAssembler whole;
    std::vector<std::string> a;
    whole.feed(bytes, a);

    satemu::FrameAssembler pieces;
    std::vector<std::string> b;
    std::size_t at = 0;
    for (std::size_t c : cuts) {
        const std::size_t n = std::min(c, bytes.size() - at);
        pieces.feed(std::string_view(bytes).substr(at, n), b);
        at += n;
    }
    pieces.feed(std::string_view(bytes).substr(at), b);

    if (a != b || whole.pending() != pieces.pending()) std::abort();
    std::string joined;
    for (const auto& f : a) {
        if (f.size() < 2 || f.compare(f.size() - 2, 2, "|\x03") != 0) std::abort();
        // A frame ends at its first "|\x03".
        if (f.find("|\x03") != f.size() - 2) std::abort();
        joined += f;
        if (auto cmd = satemu::parse_command(f)) {
            if (cmd->code.size() != 2) std::abort();
            if (satemu::parse_command(f.substr(0, f.size() - 2)).has_value() != true) std::abort();
            (void)cmd->session_field();
            (void)cmd->field(cmd->fields.size() + 3);
        }
    }
    if (joined.size() + whole.pending() != bytes.size() ||
        bytes.compare(0, joined.size(), joined) != 0)
        std::abort();
    // Parsing the raw input as one frame must not fail in any other way.
    (void)satemu::parse_command(bytes);
    return 0;
}
