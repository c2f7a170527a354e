// libFuzzer target for the repair of cancellation answers: an answer with exactly
// ten '|' gains one empty field after the tenth; every other answer, and one that
// would not fit into its buffer once grown, stays as it is. The buffer is exactly
// as large as the capacity given, so a write past it is caught.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace sat {
bool insert_empty_field(char* text, std::size_t capacity) noexcept;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t slack = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    const bool terminated = in.ConsumeBool();
    std::string answer = in.ConsumeRemainingBytesAsString();
    answer = answer.substr(0, std::strlen(answer.c_str())); // a C text ends at its first NUL

    const std::size_t capacity = answer.size() + (terminated ? 1 + slack : 0);
    if (capacity == 0) return 0;
    std::vector<char> buf(capacity);
    std::memcpy(buf.data(), answer.data(), std::min(answer.size(), capacity));
    if (terminated) buf[answer.size()] = '\0';

    const bool grew = sat::insert_empty_field(buf.data(), capacity);

    std::size_t bars = 0, after_tenth = 0;
    for (std::size_t i = 0; i < answer.size(); ++i)
        if (answer[i] == '|' && ++bars == 10) after_tenth = i + 1;
    const bool should_grow = terminated && bars == 10 && answer.size() + 2 <= capacity;
    if (grew != should_grow) std::abort();
    if (!terminated) {
        if (std::memcmp(buf.data(), answer.data(), capacity) != 0) std::abort();
        return 0;
    }
    std::string expected = answer;
    if (should_grow) expected.insert(after_tenth, "|");
    if (std::strlen(buf.data()) != expected.size() || expected != buf.data()) std::abort();
    return 0;
}
