// Text helpers of the INI module: blanks, copying, value cleaning, line reads.
#include "ini_internal.h"

#include <cassert>
#include <cstdint>
#include <cstring>

namespace ini_internal {

char* skipleading(const char* str) {
    assert(str != nullptr);
    while (*str != '\0' && is_blank(*str))
        str++;
    return const_cast<char*>(str);
}

char* skiptrailing(const char* str, const char* base) {
    assert(str != nullptr);
    assert(base != nullptr);
    while (str > base && is_blank(str[-1]))
        str--;
    return const_cast<char*>(str);
}

char* striptrailing(char* str) {
    char* ptr = skiptrailing(std::strchr(str, '\0'), str);
    assert(ptr != nullptr);
    *ptr = '\0';
    return str;
}

char* save_strncpy(char* dest, const char* source, size_t maxlen, quote_option option) {
    assert(maxlen > 0);
    assert(source != nullptr && dest != nullptr);
    // Copying onto the same text or towards its start is safe (the copy runs
    // from the left); a destination that starts inside the source is not.
    [[maybe_unused]] const auto d = reinterpret_cast<std::uintptr_t>(dest);
    [[maybe_unused]] const auto s = reinterpret_cast<std::uintptr_t>(source);
    assert(d <= s || d >= s + maxlen);

    if (option == QUOTE_ENQUOTE && maxlen < 3) option = QUOTE_NONE;

    size_t d_len = 0;
    switch (option) {
    case QUOTE_NONE:
        while (d_len + 1 < maxlen && source[d_len] != '\0') {
            dest[d_len] = source[d_len];
            d_len++;
        }
        break;
    case QUOTE_DEQUOTE:
        for (size_t s_idx = 0; d_len + 1 < maxlen && source[s_idx] != '\0'; s_idx++) {
            if ((source[s_idx] == '"' || source[s_idx] == '\\') && source[s_idx + 1] == '"')
                s_idx++;
            dest[d_len++] = source[s_idx];
        }
        break;
    case QUOTE_ENQUOTE: {
        // Opening quote, escaped text, closing quote, all in maxlen - 1
        // characters; an escape pair is never split.
        dest[d_len++] = '"';
        for (size_t s_idx = 0; source[s_idx] != '\0'; s_idx++) {
            const size_t need = source[s_idx] == '"' ? 2 : 1;
            if (d_len + need > maxlen - 2) break;
            if (source[s_idx] == '"') dest[d_len++] = '\\';
            dest[d_len++] = source[s_idx];
        }
        dest[d_len++] = '"';
        break;
    }
    }
    dest[d_len] = '\0';
    return dest;
}

char* cleanstring(char* string, quote_option* quotes) {
    assert(string != nullptr);
    assert(quotes != nullptr);

    // A ';' or '#' outside double quotes starts a comment. "" and \" are
    // passed over as pairs so that they never flip the quoting.
    bool isstring = false;
    char* ep = string;
    for (; *ep != '\0' && ((*ep != ';' && *ep != '#') || isstring); ep++) {
        if (*ep == '"') {
            if (ep[1] == '"')
                ep++;
            else
                isstring = !isstring;
        } else if (*ep == '\\' && ep[1] == '"') {
            ep++;
        }
    }
    *ep = '\0';
    striptrailing(string);

    *quotes = QUOTE_NONE;
    if (*string == '"') {
        const size_t len = std::strlen(string);
        if (string[len - 1] == '"') {
            // A lone '"' is both the opening and the closing quote: the value
            // becomes empty (string + 1 is then the terminator).
            string[len - 1] = '\0';
            string++;
            *quotes = QUOTE_DEQUOTE;
        }
    }
    return string;
}

bool name_equals(const char* name, size_t len, const char* wanted) {
    if (std::strlen(wanted) != len) return false;
    for (size_t i = 0; i < len; i++)
        if (ascii_upper(name[i]) != ascii_upper(wanted[i])) return false;
    return true;
}

int read_line(FILE* fp, char* buffer, int size) {
    assert(fp != nullptr && buffer != nullptr && size > 1);
    int n = 0;
    while (n < size - 1) {
#ifdef __GLIBC__
        // Whole runs straight out of the stream's buffer, as fgets takes them
        // (memchr for the line feed, one memcpy), instead of one getc per
        // byte. It moves the read pointer exactly as getc_unlocked does, and
        // unlike fgets it counts every byte taken, NUL bytes included.
        const auto avail = static_cast<size_t>(fp->_IO_read_end - fp->_IO_read_ptr);
        if (avail > 0) {
            const auto room = static_cast<size_t>(size - 1 - n);
            size_t take = avail < room ? avail : room;
            const void* nl = std::memchr(fp->_IO_read_ptr, '\n', take);
            if (nl != nullptr)
                take = static_cast<size_t>(static_cast<const char*>(nl) - fp->_IO_read_ptr) + 1;
            std::memcpy(buffer + n, fp->_IO_read_ptr, take);
            fp->_IO_read_ptr += take;
            n += static_cast<int>(take);
            if (nl != nullptr) break;
            continue;
        }
#endif
        // An empty stream buffer: getc refills it (or reports the end).
        const int c = getc_unlocked(fp);
        if (c == EOF) break;
        buffer[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buffer[n] = '\0';
    return n;
}

char* header_end(char* line) {
    if (*line != '[') return nullptr;
    return std::strchr(line + 1, ']');
}

char* key_separator(char* line) {
    if (*line == ';' || *line == '#') return nullptr;
    char* sep = std::strchr(line, '=');
    if (sep == nullptr) sep = std::strchr(line, ':');
    return sep;
}

} // namespace ini_internal
