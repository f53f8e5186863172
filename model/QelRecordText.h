// Conversions between record fields and texts, shared by the model objects
// and usable by the windows: the records' UTF-16 and 8-bit strings to and
// from wxString, the strict and lenient readings of unsigned decimal numbers
// in display texts, and the usable length of a record list.
#pragma once

#include "qel_records.h"

#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <optional>

// The entries of a record list that may be read: its count, but never more
// than the list's capacity.
template <typename List> size_t qelListCount(const List& list) {
    return list.count < QEL_OPTIONS_LIST_MAX ? list.count : QEL_OPTIONS_LIST_MAX;
}

// The UTF-16 code units up to the first zero unit or `capacity` units,
// whichever comes first. A surrogate pair becomes one character; a lone
// surrogate becomes U+FFFD. Empty for a null pointer.
wxString qelTextFromUtf16(const char16_t* units, size_t capacity);

// Writes the text as UTF-16 into `out`, always terminated inside `capacity`
// units (terminator included). Characters beyond the BMP become surrogate
// pairs; a pair is never split. False when the text did not fit whole (the
// output then holds the characters that fit) or when there is no room at all.
bool qelTextToUtf16(const wxString& text, char16_t* out, size_t capacity);

// The 8-bit characters up to the first zero byte or `capacity` bytes, each
// widened to the character with the same code (0x00-0xFF). Empty for null.
wxString qelTextFromLatin1(const char* chars, size_t capacity);

// The text read as an unsigned decimal number when it is nothing else: at
// least one ASCII digit, no sign, no space, no other character, and a value
// of at most `max`.
std::optional<uint32_t> qelParseUnsigned(const wxString& text, uint32_t max);

// The unsigned decimal number the text starts with ("48000 Hz" gives 48000).
// None when the text does not start with an ASCII digit or the number does
// not fit into 32 bits.
std::optional<uint32_t> qelParseLeadingNumber(const wxString& text);
