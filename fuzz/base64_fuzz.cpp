// libFuzzer target for the project's base64. Encoding any bytes and decoding
// the text gives the bytes back; decoding any text into a buffer of any capacity
// never writes past it and always leaves a terminated text. Buffers are exactly
// as large as the capacity passed, so a write past them is caught.
#include "base64.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void round_trip(const std::string& bytes) {
    const std::string text = torvane::base64_encode(bytes);
    if (text.size() != (bytes.size() + 2) / 3 * 4) std::abort();
    std::vector<char> back(bytes.size() + 1);
    std::size_t n = 0;
    if (torvane::base64_decode(text.data(), text.size(), back.data(), back.size(), &n) != 0)
        std::abort();
    if (n != bytes.size() || std::memcmp(back.data(), bytes.data(), n) != 0) std::abort();
}

void decode_any(const std::string& text, std::size_t capacity) {
    std::vector<char> out(capacity);
    std::size_t n = 12345;
    const int r = torvane::base64_decode(text.data(), text.size(), capacity ? out.data() : nullptr,
                                         capacity, &n);
    if (r != 0 && r != 1) std::abort();
    if (capacity == 0) {
        if (r != 1 || n != 0) std::abort();
        return;
    }
    if (n >= capacity || out[n] != '\0') std::abort();
    // At most three bytes for every four symbols.
    if (n > (text.size() / 4 + 1) * 3) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t capacity = in.ConsumeIntegralInRange<std::size_t>(0, 64);
    const std::string rest = in.ConsumeRemainingBytesAsString();
    round_trip(rest);
    decode_any(rest, capacity);
    decode_any(rest, rest.size() + 1);
    return 0;
}
