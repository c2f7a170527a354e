// Helpers shared by the reading and writing halves of the INI module. They
// have hidden visibility (the tree's default) and live in their own
// namespace, so neither the library's exports nor its other code see them.
#pragma once

#include <cstddef>
#include <cstdio>

namespace ini_internal {

// Size of the one line buffer of every operation: a read takes at most 511
// characters, line feed included.
constexpr int INI_BUFFERSIZE = 512;

enum quote_option { QUOTE_NONE, QUOTE_DEQUOTE, QUOTE_ENQUOTE };

// A blank is any byte whose value as a signed 8-bit number is at most 32, so
// bytes 0x80..0xFF count as blanks too.
inline bool is_blank(char c) {
    return static_cast<signed char>(c) <= 32;
}

// ASCII-only case folding: the result must not depend on the process locale.
inline char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// First non-blank character of `str` (its terminator when all are blank).
char* skipleading(const char* str);
// Moves `str` back over blanks, never before `base`.
char* skiptrailing(const char* str, const char* base);
// Cuts the trailing blanks of `str` in place.
char* striptrailing(char* str);
// Copies `source` into `dest` of `maxlen` bytes, always terminated, in the
// given mode. Asserts that `dest` does not start inside `source`.
char* save_strncpy(char* dest, const char* source, size_t maxlen, quote_option option);
// Cuts a value at its comment, strips trailing blanks and drops enclosing
// double quotes. Returns the value's start; `*quotes` tells whether it was
// quoted (and so must be copied with QUOTE_DEQUOTE).
char* cleanstring(char* string, quote_option* quotes);

// True when `name` of `len` characters equals `wanted`, ignoring ASCII case.
bool name_equals(const char* name, size_t len, const char* wanted);

// Reads one line of at most size - 1 bytes, line feed included, like fgets.
// Returns the number of bytes taken from the stream (NUL bytes included),
// 0 at end of file or on a read error.
int read_line(FILE* fp, char* buffer, int size);

// The shared lookup: see ini_read.cpp.
bool getkeystring(FILE* fp, const char* Section, const char* Key, int idxSection, int idxKey,
                  char* Buffer, int BufferSize);

// When `line` (leading blanks already skipped) is a section header, returns
// the position of its closing ']' (the name runs from line + 1 up to it);
// otherwise nullptr.
char* header_end(char* line);
// When `line` (leading blanks skipped) is a key line, returns its separator:
// the first '=', else the first ':'. Comment lines give nullptr.
char* key_separator(char* line);

} // namespace ini_internal
