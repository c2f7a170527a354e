// The frame: the command text that one SAT function sends (code, session, fields)
// and the bytes that end a command and an answer on the wire.
#include "sat_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// One argument of a command format: the code and the session come first, then
// the function's fields.
struct Arg {
    const char* text;
    int number;
};

// Renders `format` with `args`: "%s" takes a text, "%<flags/width>d" a number.
// Writes into `out` when it is not null (the caller sized it with a first pass
// without `out`) and returns the length of the text.
std::size_t render(const char* format, const Arg* args, std::size_t nargs, char* out) {
    std::size_t len = 0;
    std::size_t next = 0;
    auto put = [&](const char* s, std::size_t n) {
        if (out) std::memcpy(out + len, s, n);
        len += n;
    };
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            put(p, 1);
            continue;
        }
        const char* conversion = p++;
        while (*p && *p != 's' && *p != 'd')
            ++p;
        if (!*p) break;
        Arg a = next < nargs ? args[next] : Arg{"", 0};
        ++next;
        if (*p == 's') {
            put(a.text, std::strlen(a.text));
        } else {
            char conv[8];
            std::size_t convlen = static_cast<std::size_t>(p - conversion) + 1;
            if (convlen >= sizeof conv) convlen = sizeof conv - 1;
            std::memcpy(conv, conversion, convlen);
            conv[convlen] = '\0';
            char digits[24];
            int n = std::snprintf(digits, sizeof digits, conv, a.number);
            if (n > 0) put(digits, static_cast<std::size_t>(n));
        }
    }
    if (out) out[len] = '\0';
    return len;
}

// The code and the session number, then the fields, as the row's format takes them.
std::size_t render_row(const sat::Row& r, int numeroSessao,
                       std::initializer_list<sat::Field> fields, char* out) {
    Arg args[8];
    std::size_t n = 0;
    args[n++] = {r.code, 0};
    args[n++] = {"", numeroSessao};
    for (const sat::Field& f : fields) {
        if (n == std::size(args)) break;
        args[n++] = {f.text, f.number};
    }
    return render(r.format, args, n, out);
}

} // namespace

namespace sat {

CommandBuffer::CommandBuffer() noexcept
    : data_(static_cast<char*>(std::malloc(kCommandSize))), capacity_(data_ ? kCommandSize : 0) {
    if (data_) data_[0] = '\0';
}

CommandBuffer::~CommandBuffer() {
    std::free(data_);
}

bool CommandBuffer::format(const Row& r, int numeroSessao,
                           std::initializer_list<Field> fields) noexcept {
    std::size_t need = render_row(r, numeroSessao, fields, nullptr) + 1;
    if (need > capacity_) {
        // A command larger than the usual buffer (a very large sale) is sent whole.
        char* bigger = static_cast<char*>(std::realloc(data_, need));
        if (!bigger) return false;
        data_ = bigger;
        capacity_ = need;
    }
    render_row(r, numeroSessao, fields, data_);
    return true;
}

bool ends_answer(const char* data, std::size_t size) noexcept {
    return size > 0 && data[size - 1] == kEtx;
}

std::size_t answer_end(std::string_view data, std::size_t from) noexcept {
    for (std::size_t at = data.find(kEtx, from); at != std::string_view::npos;
         at = data.find(kEtx, at + 1)) {
        if (at + 1 == data.size()) return at;
        // Another answer starts with its session number: six digits or more, then '|'.
        std::size_t digits = at + 1;
        while (digits < data.size() && data[digits] >= '0' && data[digits] <= '9')
            ++digits;
        // Only digits so far: what arrives next decides.
        if (digits == data.size()) return std::string_view::npos;
        if (digits - at - 1 >= 6 && data[digits] == '|') return at;
    }
    return std::string_view::npos;
}

int answer_session(std::string_view answer) noexcept {
    // The first six characters, fewer when the answer is shorter, read as atoi reads them.
    char head[7] = {};
    std::memcpy(head, answer.data(), std::min<std::size_t>(6, answer.size()));
    return std::atoi(head);
}

} // namespace sat
