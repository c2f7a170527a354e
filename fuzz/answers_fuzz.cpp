// libFuzzer target for satcli's reading of answers: field extraction, the CF-e
// printers, the last-fiscal-session decoding and the device-log extraction, on
// any answer text. Fields are checked against a plain split of the text.
#include "answers.h"
#include "fields.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::FILE* sink() {
    static std::FILE* f = std::fopen("/dev/null", "w");
    return f;
}

std::string log_path() {
    static const std::string path = [] {
        static char dir[] = "/tmp/answers_fuzz.XXXXXX";
        if (!mkdtemp(dir)) std::abort();
        std::atexit([] { rmdir(dir); }); // the file in it is removed after every run
        return std::string(dir) + "/log_sat.txt";
    }();
    return path;
}

using testsupport::split_fields;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t room = in.ConsumeIntegralInRange<std::size_t>(0, 40);
    std::string answer = in.ConsumeRemainingBytesAsString();
    answer.resize(std::strlen(answer.c_str())); // answers are C texts

    const auto fields = split_fields(answer);
    for (int k = -1; k < static_cast<int>(fields.size()) + 2; ++k) {
        const std::string_view got = satcli::field(answer, k);
        const std::string want = k >= 0 && k < static_cast<int>(fields.size())
                                     ? fields[static_cast<std::size_t>(k)]
                                     : "";
        if (got != want) std::abort();
        // copy_field into a buffer of exactly `room` bytes: cut, terminated, never past it.
        std::vector<char> buf(room);
        satcli::copy_field(answer, k, room ? buf.data() : nullptr, room);
        if (room > 0) {
            const std::size_t n = strnlen(buf.data(), room);
            if (n == room || want.compare(0, n, buf.data(), n) != 0) std::abort();
            if (n != std::min(want.size(), room - 1) && want.find('\0') == std::string::npos)
                std::abort();
        }
    }

    std::FILE* out = sink();
    if (satcli::print_cfe(answer.c_str(), out) != 0) std::abort();
    if (satcli::print_cfe_canc(answer.c_str(), out) != 0) std::abort();
    satcli::handle_ultima_sessao_fiscal(answer.c_str(), out);
    const std::string path = log_path();
    const int status = satcli::handle_extrair_logs(answer.c_str(), out, out, path.c_str());
    if (status != 0) std::abort(); // the log file can always be written here
    unlink(path.c_str());
    return 0;
}
