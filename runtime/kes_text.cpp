// The bounded text routines. The formatter walks the format once, hands each
// complete conversion to the C library through a rebuilt, checked conversion
// text, and counts every character whether or not it fits.
#include "kes_text.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// One conversion's text goes through a piece buffer of this size, so one
// conversion produces at most k_piece_size - 1 characters.
constexpr size_t k_piece_size = 1024;
constexpr long k_piece_max = static_cast<long>(k_piece_size) - 1;

const char k_flags[] = "-+0 #";
const char k_widths[] = "0123456789*";
const char k_lengths[] = "2346hIlw";
const char k_letters[] = "cdeEfFgGiopsSuxX"; // "n" is never a conversion

bool isOneOf(char c, const char* set) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

struct Output {
    char* buffer;
    size_t size;
    size_t written; // characters stored so far
    size_t count;   // characters of the complete output
};

void put(Output& out, const char* text, size_t n) {
    if (out.buffer != nullptr && out.size > 0) {
        size_t room = out.size - 1 - out.written;
        size_t take = n < room ? n : room;
        std::memcpy(out.buffer + out.written, text, take);
        out.written += take;
    }
    out.count += n;
}

// The length characters of a conversion, sorted into what the argument is.
enum class Length { None, Char, Short, Long, LongLong, Int32, Size };

Length classify(const char* begin, const char* end) {
    const std::string_view text(begin, static_cast<size_t>(end - begin));
    if (text.find("I64") != std::string_view::npos || text.find("ll") != std::string_view::npos) {
        return Length::LongLong;
    }
    if (text.find("I32") != std::string_view::npos) {
        return Length::Int32;
    }
    if (text.find('I') != std::string_view::npos) {
        return Length::Size;
    }
    if (text.find('l') != std::string_view::npos) {
        return Length::Long;
    }
    size_t h = 0;
    for (char c : text) {
        h += c == 'h' ? 1 : 0;
    }
    if (h >= 2) {
        return Length::Char;
    }
    return h == 1 ? Length::Short : Length::None;
}

// A width or precision: absent, a number, or "*" (taken from the arguments).
struct Amount {
    bool present = false;
    bool star = false;
    long value = 0;
};

Amount readAmount(const char* begin, const char* end, bool isPrecision) {
    Amount amount;
    amount.present = isPrecision || begin != end;
    for (const char* p = begin; p != end; ++p) {
        if (*p == '*') {
            amount.star = true;
        } else if (amount.value <= k_piece_max) {
            amount.value = amount.value * 10 + (*p - '0');
        }
    }
    return amount;
}

// Appends the conversion made by the C library from `spec` and the argument.
template <typename... Value> void putPiece(Output& out, const char* spec, Value... value) {
    char piece[k_piece_size];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = std::snprintf(piece, sizeof piece, spec, value...);
#pragma GCC diagnostic pop
    if (n <= 0) {
        return;
    }
    put(out, piece, n > k_piece_max ? static_cast<size_t>(k_piece_max) : static_cast<size_t>(n));
}

struct VaSource {
    va_list list;
};

int vaInt(void* c) {
    return va_arg(static_cast<VaSource*>(c)->list, int);
}
long vaLong(void* c) {
    return va_arg(static_cast<VaSource*>(c)->list, long);
}
long long vaLongLong(void* c) {
    return va_arg(static_cast<VaSource*>(c)->list, long long);
}
size_t vaSize(void* c) {
    return va_arg(static_cast<VaSource*>(c)->list, size_t);
}
double vaDouble(void* c) {
    return va_arg(static_cast<VaSource*>(c)->list, double);
}
const void* vaPointer(void* c) {
    return va_arg(static_cast<VaSource*>(c)->list, const void*);
}
const char* vaString(void* c) {
    return va_arg(static_cast<VaSource*>(c)->list, const char*);
}
const char16_t* vaUtf16(void* c) {
    return va_arg(static_cast<VaSource*>(c)->list, const char16_t*);
}

// Formats one complete conversion. `flags`, `width` and `precision` come from
// the format; `letter` is one of k_letters.
void convert(Output& out, const char* flagsBegin, const char* flagsEnd, Amount width,
             Amount precision, Length length, bool wideLength, char letter,
             const kes_format_arguments& args) {
    // "*" amounts are taken first, width before precision.
    bool leftAlign = false;
    if (width.star) {
        long w = args.next_int(args.context);
        if (w < 0) {
            leftAlign = true;
            w = w == LONG_MIN ? LONG_MAX : -w;
        }
        width.value = w;
    }
    if (precision.star) {
        long p = args.next_int(args.context);
        if (p < 0) {
            precision.present = false; // a negative precision is no precision
        }
        precision.value = p;
    }
    if (width.value > k_piece_max) {
        width.value = k_piece_max;
    }
    if (precision.value > k_piece_max) {
        precision.value = k_piece_max;
    }

    // Rebuild the conversion text: each flag once, explicit numbers, and the
    // C library's own length modifier.
    char spec[32];
    size_t n = 0;
    spec[n++] = '%';
    for (const char* f = k_flags; *f != '\0'; ++f) {
        bool given = std::memchr(flagsBegin, *f, static_cast<size_t>(flagsEnd - flagsBegin));
        if (given || (*f == '-' && leftAlign)) {
            spec[n++] = *f;
        }
    }
    if (width.present) {
        n += static_cast<size_t>(std::snprintf(spec + n, sizeof spec - n, "%ld", width.value));
    }
    bool isChar = letter == 'c';
    if (precision.present && !isChar) {
        n += static_cast<size_t>(std::snprintf(spec + n, sizeof spec - n, ".%ld", precision.value));
    }

    auto finish = [&](const char* modifier, char conversion) {
        for (const char* m = modifier; *m != '\0'; ++m) {
            spec[n++] = *m;
        }
        spec[n++] = conversion;
        spec[n] = '\0';
    };

    switch (letter) {
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
        finish("", letter);
        putPiece(out, spec, args.next_double(args.context));
        return;
    case 'd':
    case 'i':
        switch (length) {
        case Length::LongLong:
            finish("ll", letter);
            putPiece(out, spec, args.next_long_long(args.context));
            return;
        case Length::Long:
            finish("l", letter);
            putPiece(out, spec, args.next_long(args.context));
            return;
        case Length::Size:
            finish("z", letter);
            putPiece(out, spec, static_cast<ptrdiff_t>(args.next_size(args.context)));
            return;
        case Length::Short:
            finish("h", letter);
            putPiece(out, spec, args.next_int(args.context));
            return;
        case Length::Char:
            finish("hh", letter);
            putPiece(out, spec, args.next_int(args.context));
            return;
        default:
            finish("", letter);
            putPiece(out, spec, args.next_int(args.context));
            return;
        }
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        switch (length) {
        case Length::LongLong:
            finish("ll", letter);
            putPiece(out, spec, static_cast<unsigned long long>(args.next_long_long(args.context)));
            return;
        case Length::Long:
            finish("l", letter);
            putPiece(out, spec, static_cast<unsigned long>(args.next_long(args.context)));
            return;
        case Length::Size:
            finish("z", letter);
            putPiece(out, spec, args.next_size(args.context));
            return;
        case Length::Short:
            finish("h", letter);
            putPiece(out, spec, static_cast<unsigned>(args.next_int(args.context)));
            return;
        case Length::Char:
            finish("hh", letter);
            putPiece(out, spec, static_cast<unsigned>(args.next_int(args.context)));
            return;
        default:
            finish("", letter);
            putPiece(out, spec, static_cast<unsigned>(args.next_int(args.context)));
            return;
        }
    case 'p':
        finish("", 'p');
        putPiece(out, spec, args.next_pointer(args.context));
        return;
    case 'c':
        if (wideLength) {
            char16_t unit[2] = {static_cast<char16_t>(args.next_int(args.context)), 0};
            char text[8];
            kes_utf16_to_text(unit, text, sizeof text);
            finish("", 's');
            putPiece(out, spec, static_cast<const char*>(text));
        } else {
            finish("", 'c');
            putPiece(out, spec, args.next_int(args.context));
        }
        return;
    case 's':
    case 'S':
        finish("", 's');
        if (wideLength) {
            const char16_t* value = args.next_utf16(args.context);
            char text[k_piece_size];
            if (value == nullptr) {
                kes_strlcpy(text, "(null)", sizeof text);
            } else {
                kes_utf16_to_text(value, text, sizeof text);
            }
            putPiece(out, spec, static_cast<const char*>(text));
        } else {
            const char* value = args.next_string(args.context);
            putPiece(out, spec, value != nullptr ? value : "(null)");
        }
        return;
    default:
        return;
    }
}

} // namespace

size_t kes_strlcpy(char* destination, const char* source, size_t size) {
    if (source == nullptr) {
        source = "";
    }
    size_t length = std::strlen(source);
    if (destination != nullptr && size > 0) {
        size_t take = length < size - 1 ? length : size - 1;
        std::memcpy(destination, source, take);
        destination[take] = '\0';
    }
    return length;
}

int kes_format(char* buffer, size_t size, const char* format,
               const kes_format_arguments* arguments) {
    Output out{buffer, buffer != nullptr ? size : 0, 0, 0};
    if (format == nullptr || arguments == nullptr) {
        format = "";
    }
    const char* p = format;
    while (*p != '\0') {
        if (*p != '%') {
            const char* run = p;
            while (*p != '\0' && *p != '%') {
                ++p;
            }
            put(out, run, static_cast<size_t>(p - run));
            continue;
        }
        if (p[1] == '%') {
            put(out, "%", 1);
            p += 2;
            continue;
        }
        const char* q = p + 1;
        const char* flags = q;
        while (isOneOf(*q, k_flags)) {
            ++q;
        }
        const char* flagsEnd = q;
        const char* widthBegin = q;
        while (isOneOf(*q, k_widths)) {
            ++q;
        }
        Amount width = readAmount(widthBegin, q, false);
        Amount precision;
        if (*q == '.') {
            const char* precisionBegin = ++q;
            while (isOneOf(*q, k_widths)) {
                ++q;
            }
            precision = readAmount(precisionBegin, q, true);
        }
        const char* lengthBegin = q;
        while (isOneOf(*q, k_lengths)) {
            ++q;
        }
        const char* lengthEnd = q;
        if (!isOneOf(*q, k_letters)) {
            // Not a complete conversion: drop the "%", keep the rest as text.
            ++p;
            continue;
        }
        char letter = *q;
        bool hasWideMark =
            std::memchr(lengthBegin, 'w', static_cast<size_t>(lengthEnd - lengthBegin)) ||
            std::memchr(lengthBegin, 'l', static_cast<size_t>(lengthEnd - lengthBegin));
        bool hasShortMark =
            std::memchr(lengthBegin, 'h', static_cast<size_t>(lengthEnd - lengthBegin));
        bool wide = letter == 'S' ? !hasShortMark : (letter == 's' || letter == 'c') && hasWideMark;
        convert(out, flags, flagsEnd, width, precision, classify(lengthBegin, lengthEnd), wide,
                letter, *arguments);
        p = q + 1;
    }
    if (out.buffer != nullptr && out.size > 0) {
        out.buffer[out.written] = '\0';
    }
    return out.count > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(out.count);
}

int kes_vsnprintf(char* buffer, size_t size, const char* format, va_list arguments) {
    VaSource source;
    va_copy(source.list, arguments);
    const kes_format_arguments args{vaInt,     vaLong,   vaLongLong, vaSize, vaDouble,
                                    vaPointer, vaString, vaUtf16,    &source};
    int count = kes_format(buffer, size, format, &args);
    va_end(source.list);
    return count;
}

int kes_snprintf(char* buffer, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int count = kes_vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    return count;
}

char* kes_utf16_to_text(const char16_t* source, char* destination, size_t size) {
    if (destination == nullptr || size == 0) {
        return destination;
    }
    destination[0] = '\0';
    if (source == nullptr) {
        return destination;
    }
    bool ascii = true;
    size_t units = 0;
    for (; source[units] != 0; ++units) {
        ascii = ascii && source[units] < 128;
    }
    if (ascii) {
        size_t take = units < size - 1 ? units : size - 1;
        for (size_t i = 0; i < take; ++i) {
            destination[i] = static_cast<char>(source[i]);
        }
        destination[take] = '\0';
        return destination;
    }
    size_t used = 0;
    for (size_t i = 0; i < units && used < size - 1; ++i) {
        int n = kes_snprintf(destination + used, size - used, "%s%04x", i == 0 ? "" : " ",
                             static_cast<unsigned>(source[i]));
        used += static_cast<size_t>(n);
    }
    return destination;
}
