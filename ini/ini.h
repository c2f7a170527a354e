/*
 * ini.h - reading and rewriting INI text files.
 *
 * The driver library reads /var/torvane_halvex/sat.ini and satcli reads
 * ./config.ini through these operations; the library also exports them.
 *
 * File syntax
 *   - Lines are read in pieces of at most 511 characters; a longer line is
 *     handled as several lines. CR LF and LF line ends read the same.
 *   - A blank is any byte whose value as a signed 8-bit number is at most 32:
 *     control characters, the space, and every byte from 0x80 to 0xFF.
 *   - "[name]" (first non-blank character '[', then a ']') starts a section;
 *     the name is the exact text between '[' and the first ']'. A section runs
 *     to the next line whose first non-blank character is '[', even when that
 *     line has no ']'. Lines above the first '[' line form the nameless
 *     section, reached with an empty or NULL section name. A header with an
 *     empty name ("[]") names no reachable section: it ends the span above
 *     it, its keys are not found by name, and section enumeration skips it.
 *   - Lines starting with ';' or '#' are comments.
 *   - "key=value": the separator is the first '=', or the first ':' on a
 *     line without '='. Names compare case-insensitively (ASCII letters) and
 *     must have equal length. The first matching section and the first
 *     matching key in it win.
 *   - A value loses its leading and trailing blanks and everything from an
 *     unquoted ';' or '#'. A value in double quotes keeps ';', '#' and
 *     blanks; inside it "" and \" stand for one double quote.
 *
 * Ownership and failures
 *   Every operation opens the file, reads or rewrites it, and closes it before
 *   it returns; nothing is kept between calls and nothing is allocated on the
 *   heap. Results go into the caller's buffer of `BufferSize` bytes, always
 *   NUL-terminated and silently cut to BufferSize - 1 characters. A missing
 *   or unreadable file reads as a file without the section and key: the
 *   readers give the caller's default.
 *
 * Threads
 *   No shared state: calls may run at once from several threads or
 *   processes. A rewrite replaces the file in one atomic rename, so a reader
 *   sees either the old or the new content, never a missing or partial file.
 *   Of two concurrent writers of one file, one wins.
 *
 * Caller requirements (checked with assert, which stops the process):
 *   the result buffer of ini_gets must not start inside the default text;
 *   the file name given to a writing operation must not be NULL.
 */
#ifndef TORVANE_INI_H
#define TORVANE_INI_H

#ifndef INI_API
#define INI_API __attribute__((visibility("default")))
#endif

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when `Filename` can be opened for reading, else 0 (NULL counts as missing).
 * Inline, so that it adds no operation to the module: the library exports it
 * as file_existe, satcli calls it before it reads config.ini. */
static inline int ini_readable(const char* Filename) {
    FILE* f = Filename ? fopen(Filename, "r") : NULL;
    if (!f) return 0;
    fclose(f);
    return 1;
}

/* Called by ini_browse for every key line: section name ("" for the
 * nameless section), key name, cleaned value, and the caller's pointer.
 * The texts are valid only during the call. Return non-zero to go on,
 * zero to stop. */
typedef int (*INI_CALLBACK)(const char* Section, const char* Key, const char* Value,
                            void* UserData);

/* Copies the value of Key in Section (NULL or "" for the nameless section)
 * into Buffer. A missing file or key gives DefValue (NULL counts as "");
 * a key present with an empty value gives "". Returns the length of the
 * text left in Buffer; returns 0 and leaves Buffer untouched when Buffer or
 * Key is NULL or BufferSize is 0 or less. */
INI_API int ini_gets(const char* Section, const char* Key, const char* DefValue, char* Buffer,
                     int BufferSize, const char* Filename);

/* The value as a long (32 bits on i386, 64 bits on x86-64): hexadecimal when
 * its second character is 'x' or 'X', otherwise decimal (a leading zero does
 * not mean octal); conversion stops at the first character that does not
 * fit, and a text without digits gives 0. DefValue when the key is missing,
 * the file is missing, or the value is empty. */
INI_API long ini_getl(const char* Section, const char* Key, long DefValue, const char* Filename);

/* The value converted with strtod and narrowed to float; DefValue when the
 * key, the file or the value is missing or empty. */
INI_API float ini_getf(const char* Section, const char* Key, float DefValue, const char* Filename);

/* 1 when the value starts with Y, T or 1, 0 when it starts with N, F or 0
 * (either case); DefValue for anything else, empty or missing. */
INI_API int ini_getbool(const char* Section, const char* Key, int DefValue, const char* Filename);

/* Name of the idx-th section header (from 0, in file order; every header
 * counts, also a repeated one, except "[]"). Not found: Buffer is set to "".
 * Returns the length of the name; enumerate with idx 0, 1, 2... until 0. */
INI_API int ini_getsection(int idx, char* Buffer, int BufferSize, const char* Filename);

/* Name of the idx-th key line (from 0) in the first span of Section (NULL or
 * "" for the nameless section); comments and lines without a separator do
 * not count. Not found: Buffer is set to "". Returns the name's length. */
INI_API int ini_getkey(const char* Section, int idx, char* Buffer, int BufferSize,
                       const char* Filename);

/* Calls Callback for every key line of the file in order, with the section
 * it stands in, until the callback returns 0. Section, key and value share
 * one 512-byte area. Returns 1 when the file was read, 0 when Callback is
 * NULL or the file cannot be opened. */
INI_API int ini_browse(INI_CALLBACK Callback, void* UserData, const char* Filename);

/* Sets, adds or deletes, keeping every other line of the file as it was:
 *   Key and Value given: replaces the key line in place, or adds it as the
 *     last line of the section (creating the section, or the file, when
 *     missing). A key that already has exactly this value leaves the file
 *     untouched.
 *   Value NULL: removes the first key line of that name in the section.
 *   Key NULL: removes the section header and all lines of its span.
 * A value containing ';', '#' or '"', or ending in a blank, is written in
 * double quotes. Header lines are cut to a 507-character name, key lines
 * to 509 characters. The new content is written to a unique temporary file
 * in the same folder, flushed to disk and renamed over the file.
 * Returns 1 when done or when there was nothing to do (a delete on a
 * missing file), 0 when the file could not be read or the new content could
 * not be written and renamed into place; the old file is then untouched.
 * Names and values containing a line feed are refused with 0. */
INI_API int ini_puts(const char* Section, const char* Key, const char* Value, const char* Filename);

/* ini_puts with Value written in decimal. */
INI_API int ini_putl(const char* Section, const char* Key, long Value, const char* Filename);

/* ini_puts with Value written with "%f" (six decimals, no exponent). */
INI_API int ini_putf(const char* Section, const char* Key, float Value, const char* Filename);

#ifdef __cplusplus
}
#endif

#endif /* TORVANE_INI_H */
