// Reading half of the INI module: lookup, conversions, enumeration, browse.
#include "ini.h"
#include "ini_internal.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

using namespace ini_internal;

namespace {

// Closes the file on every way out of a reader. "e" (close-on-exec) keeps the
// descriptor from leaking into programs that another thread of the caller
// starts meanwhile.
struct InFile {
    FILE* fp;
    explicit InFile(const char* filename)
        : fp(filename != nullptr ? std::fopen(filename, "rbe") : nullptr) {}
    ~InFile() {
        if (fp != nullptr) std::fclose(fp);
    }
    InFile(const InFile&) = delete;
    InFile& operator=(const InFile&) = delete;
};

} // namespace

namespace ini_internal {

// Finds a section by name or by index (-1: not used), then within its span a
// key by name or by index. Copies the header name (section index), the key
// name (key index) or the cleaned value into Buffer. Returns true when found.
bool getkeystring(FILE* fp, const char* Section, const char* Key, int idxSection, int idxKey,
                  char* Buffer, int BufferSize) {
    assert(fp != nullptr);
    assert(Buffer != nullptr && BufferSize > 0);
    char LocalBuffer[INI_BUFFERSIZE];

    // Section phase. An empty section name means the lines above the first
    // header: start reading keys at the top.
    if ((Section != nullptr && *Section != '\0') || idxSection >= 0) {
        int idx = -1;
        char* sp;
        char* ep;
        for (;;) {
            if (read_line(fp, LocalBuffer, INI_BUFFERSIZE) == 0) return false;
            sp = skipleading(LocalBuffer);
            ep = header_end(sp);
            if (ep == nullptr) continue;
            const size_t len = static_cast<size_t>(ep - sp - 1);
            if (idxSection >= 0) {
                // "[]" would read back as the nameless section, which is
                // not this header: it is not counted.
                if (len == 0) continue;
                if (++idx == idxSection) break;
            } else if (name_equals(sp + 1, len, Section)) {
                break;
            }
        }
        if (idxSection >= 0) {
            *ep = '\0';
            save_strncpy(Buffer, sp + 1, static_cast<size_t>(BufferSize), QUOTE_NONE);
            return true;
        }
    }

    // Key phase: the span ends at any line starting with '['.
    int idx = -1;
    char* sp;
    char* ep;
    for (;;) {
        if (read_line(fp, LocalBuffer, INI_BUFFERSIZE) == 0) return false;
        sp = skipleading(LocalBuffer);
        if (*sp == '[') return false;
        ep = key_separator(sp);
        if (ep == nullptr) continue;
        if (idxKey >= 0) {
            if (++idx == idxKey) break;
        } else if (Key != nullptr) {
            const char* kend = skiptrailing(ep, sp);
            if (name_equals(sp, static_cast<size_t>(kend - sp), Key)) break;
        }
    }
    if (idxKey >= 0) {
        *skiptrailing(ep, sp) = '\0';
        save_strncpy(Buffer, sp, static_cast<size_t>(BufferSize), QUOTE_NONE);
        return true;
    }
    quote_option quotes;
    char* value = cleanstring(skipleading(ep + 1), &quotes);
    save_strncpy(Buffer, value, static_cast<size_t>(BufferSize), quotes);
    return true;
}

} // namespace ini_internal

extern "C" {

INI_API int ini_gets(const char* Section, const char* Key, const char* DefValue, char* Buffer,
                     int BufferSize, const char* Filename) {
    if (Buffer == nullptr || BufferSize <= 0 || Key == nullptr) return 0;
    bool found = false;
    {
        InFile in(Filename);
        if (in.fp != nullptr) found = getkeystring(in.fp, Section, Key, -1, -1, Buffer, BufferSize);
    }
    if (!found)
        save_strncpy(Buffer, DefValue != nullptr ? DefValue : "", static_cast<size_t>(BufferSize),
                     QUOTE_NONE);
    return static_cast<int>(std::strlen(Buffer));
}

INI_API long ini_getl(const char* Section, const char* Key, long DefValue, const char* Filename) {
    char LocalBuffer[64];
    const int len = ini_gets(Section, Key, "", LocalBuffer, sizeof LocalBuffer, Filename);
    if (len == 0) return DefValue;
    // Hexadecimal only with an explicit 0x; a leading zero is still decimal.
    const int base = (len >= 2 && ascii_upper(LocalBuffer[1]) == 'X') ? 16 : 10;
    return std::strtol(LocalBuffer, nullptr, base);
}

INI_API float ini_getf(const char* Section, const char* Key, float DefValue, const char* Filename) {
    char LocalBuffer[64];
    const int len = ini_gets(Section, Key, "", LocalBuffer, sizeof LocalBuffer, Filename);
    if (len == 0) return DefValue;
    return static_cast<float>(std::strtod(LocalBuffer, nullptr));
}

INI_API int ini_getbool(const char* Section, const char* Key, int DefValue, const char* Filename) {
    char LocalBuffer[2] = "";
    ini_gets(Section, Key, "", LocalBuffer, sizeof LocalBuffer, Filename);
    switch (ascii_upper(LocalBuffer[0])) {
    case 'Y':
    case '1':
    case 'T':
        return 1;
    case 'N':
    case '0':
    case 'F':
        return 0;
    default:
        return DefValue;
    }
}

INI_API int ini_getsection(int idx, char* Buffer, int BufferSize, const char* Filename) {
    if (Buffer == nullptr || BufferSize <= 0 || idx < 0) return 0;
    InFile in(Filename);
    if (in.fp == nullptr || !getkeystring(in.fp, nullptr, nullptr, idx, -1, Buffer, BufferSize))
        *Buffer = '\0';
    return static_cast<int>(std::strlen(Buffer));
}

INI_API int ini_getkey(const char* Section, int idx, char* Buffer, int BufferSize,
                       const char* Filename) {
    if (Buffer == nullptr || BufferSize <= 0 || idx < 0) return 0;
    InFile in(Filename);
    if (in.fp == nullptr || !getkeystring(in.fp, Section, nullptr, -1, idx, Buffer, BufferSize))
        *Buffer = '\0';
    return static_cast<int>(std::strlen(Buffer));
}

INI_API int ini_browse(INI_CALLBACK Callback, void* UserData, const char* Filename) {
    if (Callback == nullptr) return 0;
    InFile in(Filename);
    if (in.fp == nullptr) return 0;

    // One area holds the current section name, then the line being read,
    // which is rearranged in place into key and value behind the name.
    char LocalBuffer[INI_BUFFERSIZE];
    LocalBuffer[0] = '\0';
    size_t lenSec = 0;
    for (;;) {
        char* line = LocalBuffer + lenSec + 1;
        const int room = INI_BUFFERSIZE - static_cast<int>(lenSec + 1);
        // A header must fit in the room with '[' and ']', so every later
        // room keeps at least 3 bytes.
        assert(room >= 3);
        if (read_line(in.fp, line, room) == 0) break;

        char* sp = skipleading(line);
        if (*sp == '\0' || *sp == ';' || *sp == '#') continue;
        char* ep = header_end(sp);
        if (ep != nullptr) {
            *ep = '\0';
            save_strncpy(LocalBuffer, sp + 1, INI_BUFFERSIZE, QUOTE_NONE);
            lenSec = std::strlen(LocalBuffer);
            continue;
        }
        ep = key_separator(sp);
        if (ep == nullptr) continue;
        *ep++ = '\0';
        striptrailing(sp);
        char* key = line;
        const size_t keyRoom = static_cast<size_t>(LocalBuffer + INI_BUFFERSIZE - key);
        save_strncpy(key, sp, keyRoom, QUOTE_NONE);
        const size_t keyLen = std::strlen(key);

        quote_option quotes;
        char* value = cleanstring(skipleading(ep), &quotes);
        char* dest = key + keyLen + 1;
        save_strncpy(dest, value, keyRoom - keyLen - 1, quotes);

        if (Callback(LocalBuffer, key, dest, UserData) == 0) break;
    }
    return 1;
}

} // extern "C"
