// Writing half of the INI module: a changed file is produced by copying the
// old one line by line into a temporary file beside it, which then replaces
// the old file in one rename.
#include "ini.h"
#include "ini_internal.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ini_internal;

namespace {

// Room for the temporary name: the file name plus a unique suffix.
constexpr size_t TEMPNAME_SIZE = PATH_MAX + 16;

// Everything one rewrite works with. Lines between `mark` and the read
// position that still have to be copied are "pending": they are not kept in
// memory but read again from the input when flushed.
struct Writer {
    FILE* in = nullptr;
    FILE* out = nullptr;
    char tempname[TEMPNAME_SIZE] = "";
    off_t mark = 0;         // input position of the first pending byte
    off_t pos = 0;          // input position after the last line read
    int pending = 0;        // bytes pending behind the mark, always < 512
    bool line_start = true; // the output so far is empty or ends with '\n'
    bool failed = false;    // a read, seek or write went wrong
    char buffer[INI_BUFFERSIZE];

    Writer() = default;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    // Any way out that did not commit leaves the old file as it was.
    ~Writer() {
        if (in != nullptr) std::fclose(in);
        if (out != nullptr) {
            std::fclose(out);
            unlink(tempname);
        }
    }
};

int read_next(Writer& w) {
    const int n = read_line(w.in, w.buffer, INI_BUFFERSIZE);
    w.pos += n;
    return n;
}

void seek_input(Writer& w, off_t where) {
    if (fseeko(w.in, where, SEEK_SET) != 0) w.failed = true;
    w.pos = where;
}

void write_out(Writer& w, const char* text, size_t len) {
    if (len == 0) return;
    if (std::fwrite(text, 1, len, w.out) != len) w.failed = true;
    w.line_start = text[len - 1] == '\n';
}

// Adds the line just read (`len` bytes) to the pending bytes when they stay
// below the buffer size.
bool cache_accum(Writer& w, int len) {
    if (w.pending + len >= INI_BUFFERSIZE) return false;
    w.pending += len;
    return true;
}

// Writes the pending lines in one piece, read again from the mark, and
// leaves the input right behind them. Returns whether the output so far
// ends a line (also true for an empty output).
bool cache_flush(Writer& w) {
    seek_input(w, w.mark);
    if (w.pending > 0) {
        const size_t len = static_cast<size_t>(w.pending);
        if (std::fread(w.buffer, 1, len, w.in) != len) {
            w.failed = true;
        } else {
            write_out(w, w.buffer, len);
        }
        w.mark += w.pending;
        w.pos = w.mark;
        w.pending = 0;
    }
    return w.line_start;
}

// Copies the line just read (`len` bytes): pending when there is room,
// otherwise after writing out what was pending.
void accum_or_flush(Writer& w, int len) {
    if (cache_accum(w, len)) return;
    cache_flush(w);
    read_next(w);
    cache_accum(w, len);
}

// Skips the line that starts at the read position, nothing being pending.
// A line longer than one read goes with all its pieces.
void drop_line(Writer& w) {
    assert(w.pending == 0);
    int n;
    do {
        n = read_next(w);
    } while (n > 0 && w.buffer[n - 1] != '\n');
    w.mark = w.pos;
}

void ensure_line_start(Writer& w) {
    if (!w.line_start) write_out(w, "\n", 1);
}

void write_header(Writer& w, const char* Section) {
    ensure_line_start(w);
    char* p = w.buffer;
    *p++ = '[';
    save_strncpy(p, Section, INI_BUFFERSIZE - 4, QUOTE_NONE); // name: at most 507
    p = std::strchr(p, '\0');
    *p++ = ']';
    *p++ = '\n';
    write_out(w, w.buffer, static_cast<size_t>(p - w.buffer));
}

// True when the value would not read back unchanged without quotes: it holds
// a comment marker or a double quote, or it ends in a blank (a space, a
// control character or a byte from 0x80 up) that the reader would strip.
bool check_enquote(const char* Value) {
    if (std::strpbrk(Value, "\";#") != nullptr) return true;
    const size_t len = std::strlen(Value);
    return len > 0 && is_blank(Value[len - 1]);
}

// Writes "key=value\n", at most 510 characters with the line feed.
void write_keyline(Writer& w, const char* Key, const char* Value) {
    ensure_line_start(w);
    save_strncpy(w.buffer, Key, INI_BUFFERSIZE - 3, QUOTE_NONE); // name: at most 508
    char* p = std::strchr(w.buffer, '\0');
    *p++ = '=';
    const size_t room = static_cast<size_t>(w.buffer + INI_BUFFERSIZE - 2 - p);
    save_strncpy(p, Value, room, check_enquote(Value) ? QUOTE_ENQUOTE : QUOTE_NONE);
    p = std::strchr(p, '\0');
    *p++ = '\n';
    write_out(w, w.buffer, static_cast<size_t>(p - w.buffer));
}

// A unique name in the file's own folder: the file name with its last
// character replaced by '~', then a suffix made of the process id, the clock
// and a try counter. Created exclusively, so no two writers ever share one,
// and never equal to the file name itself even when that ends in '~'.
int ini_tempname(char* dest, size_t size, const char* source, mode_t mode) {
    const size_t len = std::strlen(source);
    if (len == 0 || len + 24 >= size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const unsigned long stamp =
            static_cast<unsigned long>(ts.tv_nsec) ^ (static_cast<unsigned long>(ts.tv_sec) << 20);
        std::memcpy(dest, source, len);
        dest[len - 1] = '~';
        std::snprintf(dest + len, size - len, "%x.%lx", static_cast<unsigned>(getpid()),
                      (stamp + attempt * 7919UL) & 0xFFFFFFFFUL);
        const int fd = open(dest, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Opens the temporary file for the new content. An existing file passes its
// permission bits (and, where allowed, its owner) on to its replacement.
bool open_temp(Writer& w, const char* Filename) {
    struct stat st {};
    const bool have_old = w.in != nullptr && fstat(fileno(w.in), &st) == 0;
    const int fd = ini_tempname(w.tempname, sizeof w.tempname, Filename, 0666);
    if (fd < 0) return false;
    if (have_old) {
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only the owner's own files keep their owner; the mode still follows.
        }
        fchmod(fd, st.st_mode & 07777);
    }
    w.out = fdopen(fd, "wb");
    if (w.out == nullptr) {
        close(fd);
        unlink(w.tempname);
        return false;
    }
    return true;
}

// Puts the new content in the file's place: checks the input was read
// completely, flushes the output to disk, and renames the temporary file
// over the old one in one step. Any failure removes the temporary file and
// leaves the old file untouched.
int close_rename(Writer& w, const char* Filename) {
    bool ok = !w.failed;
    if (w.in != nullptr) {
        ok = ok && !std::ferror(w.in);
        std::fclose(w.in);
        w.in = nullptr;
    }
    ok = ok && std::fflush(w.out) == 0 && !std::ferror(w.out);
    ok = ok && fsync(fileno(w.out)) == 0;
    ok = (std::fclose(w.out) == 0) && ok;
    w.out = nullptr;
    if (ok && std::rename(w.tempname, Filename) == 0) return 1;
    unlink(w.tempname);
    return 0;
}

bool has_linefeed(const char* text) {
    return text != nullptr && std::strchr(text, '\n');
}

// The text of a long integer in decimal, built from the lowest digit and then
// turned around; the absolute value of each remainder also handles LONG_MIN.
void strreverse(char* str) {
    for (size_t i = 0, j = std::strlen(str); j > 1 && i < j - 1; i++, j--) {
        const char t = str[i];
        str[i] = str[j - 1];
        str[j - 1] = t;
    }
}

void long2str(long value, char* str) {
    size_t i = 0;
    const bool negative = value < 0;
    do {
        long digit = value % 10;
        if (digit < 0) digit = -digit;
        str[i++] = static_cast<char>('0' + digit);
        value /= 10;
    } while (value != 0);
    if (negative) str[i++] = '-';
    str[i] = '\0';
    strreverse(str);
}

} // namespace

extern "C" {

INI_API int ini_puts(const char* Section, const char* Key, const char* Value,
                     const char* Filename) {
    assert(Filename != nullptr);
    // A line feed would split the written line and plant lines of its own.
    if (has_linefeed(Section) || has_linefeed(Key) || has_linefeed(Value)) return 0;

    const bool set = Key != nullptr && Value != nullptr;
    const bool named = Section != nullptr && *Section != '\0';
    Writer w;

    w.in = std::fopen(Filename, "rbe");
    if (w.in == nullptr) {
        // Only a file that does not exist is created; one that exists but
        // cannot be read must not be replaced by a file of one key.
        if (errno != ENOENT) return 0;
        if (!set) return 1;
        if (!open_temp(w, Filename)) return 0;
        if (named) write_header(w, Section);
        write_keyline(w, Key, Value);
        return close_rename(w, Filename);
    }

    if (set) {
        // A key that already holds this value leaves the file untouched.
        if (getkeystring(w.in, Section, Key, -1, -1, w.buffer, INI_BUFFERSIZE) &&
            std::strcmp(w.buffer, Value) == 0)
            return std::ferror(w.in) ? 0 : 1;
        if (std::ferror(w.in)) return 0;
        seek_input(w, 0);
    }
    if (!open_temp(w, Filename)) return 0;

    // Section phase: copy everything up to the section's header.
    if (named) {
        bool found = false;
        int n;
        while ((n = read_next(w)) > 0) {
            char* sp = skipleading(w.buffer);
            char* ep = header_end(sp);
            if (ep != nullptr && name_equals(sp + 1, static_cast<size_t>(ep - sp - 1), Section)) {
                found = true;
                break;
            }
            accum_or_flush(w, n);
        }
        if (!found) {
            cache_flush(w);
            if (set) {
                write_header(w, Section);
                write_keyline(w, Key, Value);
            }
            return close_rename(w, Filename);
        }
        // The header is copied, unless the whole section goes.
        if (Key != nullptr) accum_or_flush(w, n);
    }
    cache_flush(w);
    if (named && Key == nullptr) drop_line(w); // the header of the deleted section

    // Key phase: copy (or, deleting the section, drop) the span up to the key
    // line or the next '[' line.
    bool at_header = false;
    for (;;) {
        const int n = read_next(w);
        if (n == 0) {
            cache_flush(w);
            if (set) write_keyline(w, Key, Value);
            return close_rename(w, Filename);
        }
        char* sp = skipleading(w.buffer);
        if (*sp == '[') {
            at_header = true;
            break;
        }
        if (Key != nullptr) {
            char* ep = key_separator(sp);
            if (ep != nullptr) {
                const char* kend = skiptrailing(ep, sp);
                if (name_equals(sp, static_cast<size_t>(kend - sp), Key)) break;
            }
            accum_or_flush(w, n);
        } else {
            // Deleting the section: nothing is pending, the line is skipped.
            w.mark = w.pos;
        }
    }

    // The key line goes where the old one was, or as the span's last line.
    cache_flush(w);
    if (set) write_keyline(w, Key, Value);
    if (at_header) {
        const int n = read_next(w);
        cache_accum(w, n);
    } else {
        drop_line(w);
    }

    // Copy the rest as it is.
    cache_flush(w);
    size_t got;
    while ((got = std::fread(w.buffer, 1, INI_BUFFERSIZE, w.in)) > 0)
        write_out(w, w.buffer, got);
    return close_rename(w, Filename);
}

INI_API int ini_putl(const char* Section, const char* Key, long Value, const char* Filename) {
    char LocalBuffer[32];
    long2str(Value, LocalBuffer);
    return ini_puts(Section, Key, LocalBuffer, Filename);
}

INI_API int ini_putf(const char* Section, const char* Key, float Value, const char* Filename) {
    char LocalBuffer[64];
    std::snprintf(LocalBuffer, sizeof LocalBuffer, "%f", static_cast<double>(Value));
    return ini_puts(Section, Key, LocalBuffer, Filename);
}

} // extern "C"
