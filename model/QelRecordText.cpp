#include "QelRecordText.h"

#include <string>

namespace {

constexpr uint32_t k_replacement = 0xFFFD;
constexpr uint32_t k_max_code_point = 0x10FFFF;

bool isHighSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool isDigit(uint32_t c) {
    return c >= '0' && c <= '9';
}

// Appends one code point to a wide string in the platform's wchar_t form.
void appendCodePoint(std::wstring& text, uint32_t code_point) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (code_point > 0xFFFF) {
            uint32_t v = code_point - 0x10000;
            text.push_back(static_cast<wchar_t>(0xD800 + (v >> 10)));
            text.push_back(static_cast<wchar_t>(0xDC00 + (v & 0x3FF)));
            return;
        }
    }
    text.push_back(static_cast<wchar_t>(code_point));
}

// The code points of a text, whatever the width of wchar_t.
std::u32string codePoints(const wxString& text) {
    const std::wstring wide = text.ToStdWstring();
    std::u32string points;
    points.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(wide[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            c &= 0xFFFF;
            if (isHighSurrogate(c) && i + 1 < wide.size() &&
                isLowSurrogate(static_cast<uint32_t>(wide[i + 1]) & 0xFFFF)) {
                uint32_t low = static_cast<uint32_t>(wide[i + 1]) & 0xFFFF;
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c > k_max_code_point || isHighSurrogate(c) || isLowSurrogate(c)) {
            c = k_replacement;
        }
        points.push_back(static_cast<char32_t>(c));
    }
    return points;
}

} // namespace

wxString qelTextFromUtf16(const char16_t* units, size_t capacity) {
    std::wstring text;
    if (units == nullptr) {
        return wxString();
    }
    size_t length = 0;
    while (length < capacity && units[length] != 0) {
        ++length;
    }
    for (size_t i = 0; i < length; ++i) {
        uint32_t unit = units[i];
        if (isHighSurrogate(unit) && i + 1 < length && isLowSurrogate(units[i + 1])) {
            uint32_t low = units[i + 1];
            appendCodePoint(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendCodePoint(text, k_replacement);
        } else {
            appendCodePoint(text, unit);
        }
    }
    return wxString(text);
}

bool qelTextToUtf16(const wxString& text, char16_t* out, size_t capacity) {
    if (out == nullptr || capacity == 0) {
        return false;
    }
    size_t used = 0;
    for (char32_t point : codePoints(text)) {
        uint32_t c = static_cast<uint32_t>(point);
        size_t needed = c > 0xFFFF ? 2 : 1;
        if (used + needed > capacity - 1) {
            out[used] = 0;
            return false;
        }
        if (needed == 2) {
            uint32_t v = c - 0x10000;
            out[used++] = static_cast<char16_t>(0xD800 + (v >> 10));
            out[used++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        } else {
            out[used++] = static_cast<char16_t>(c);
        }
    }
    out[used] = 0;
    return true;
}

wxString qelTextFromLatin1(const char* chars, size_t capacity) {
    std::wstring text;
    if (chars == nullptr) {
        return wxString();
    }
    for (size_t i = 0; i < capacity && chars[i] != 0; ++i) {
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(chars[i])));
    }
    return wxString(text);
}

std::optional<uint32_t> qelParseUnsigned(const wxString& text, uint32_t max) {
    if (text.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it) {
        uint32_t c = static_cast<uint32_t>((*it).GetValue());
        if (!isDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > max) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(value);
}

std::optional<uint32_t> qelParseLeadingNumber(const wxString& text) {
    uint64_t value = 0;
    bool any = false;
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it) {
        uint32_t c = static_cast<uint32_t>((*it).GetValue());
        if (!isDigit(c)) {
            break;
        }
        any = true;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    if (!any) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}
