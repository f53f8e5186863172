// Bounded text routines for the log and the dumps: a copy that always
// terminates, a formatter with C99 result semantics and the 16-bit wide
// formats of this system, and a renderer for UTF-16 names.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Copies at most size - 1 characters of `source` into `destination`, always
// terminates, and returns strlen(source): a result >= size means the copy was
// cut. A missing source copies ""; no destination or size 0 writes nothing.
size_t kes_strlcpy(char* destination, const char* source, size_t size);

// Formats into `buffer`, writing at most size - 1 characters and always a
// terminator (when size > 0), and returns the number of characters of the
// complete output. No buffer or size 0: only the count.
//
// The conversion language is printf's with these additions and limits:
//   length "I64"/"ll": 64-bit; "I32": 32-bit; "I": size_t; "l": long;
//   "h": a short promoted to int; "w" or "l" on s/c, or the letter S: a
//   terminated UTF-16 string (char16_t*), rendered as kes_utf16_to_text does;
//   a missing string prints "(null)";
//   one conversion produces at most 1023 characters (widths and precisions
//   are limited to that), and the count covers exactly what is produced;
//   "%n" never writes to memory: like any incomplete conversion its "%" is
//   dropped and the rest is copied as text.
int kes_snprintf(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int kes_vsnprintf(char* buffer, size_t size, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));

// Where the formatter takes its arguments from. kes_vsnprintf reads a va_list;
// other sources (the fuzz target's, for one) hand out values of the type each
// conversion asks for, so a format can never read an argument as the wrong
// type.
struct kes_format_arguments {
    int (*next_int)(void* context);
    long (*next_long)(void* context);
    long long (*next_long_long)(void* context);
    size_t (*next_size)(void* context);
    double (*next_double)(void* context);
    const void* (*next_pointer)(void* context);
    const char* (*next_string)(void* context);
    const char16_t* (*next_utf16)(void* context);
    void* context;
};

// kes_vsnprintf with arguments from `arguments`.
int kes_format(char* buffer, size_t size, const char* format,
               const kes_format_arguments* arguments);

// Renders the terminated UTF-16 string `source` as text into `destination`.
// No destination or size 0: nothing. No source: "". All units below 128: the
// units as ASCII, at most size - 1 of them. Any unit of 128 or above: every
// unit as four lower-case hex digits separated by one space ("0065 00e9"), as
// many as fit, the last possibly cut. Always terminated. Returns destination.
char* kes_utf16_to_text(const char16_t* source, char* destination, size_t size);
