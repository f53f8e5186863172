// Arbitrary formats and arguments into the formatter with small buffers.
// Input: one byte of buffer size, the format up to the first zero byte, then
// the bytes the arguments are drawn from. Every conversion gets a value of the
// type it asks for, so only the formatter itself is on trial.
#include "kes_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Source {
    const uint8_t* data;
    size_t size;
    size_t at;
    std::string text;    // a terminated string built from the input
    std::u16string wide; // a terminated UTF-16 string built from the input

    uint64_t take(size_t n) {
        uint64_t value = 0;
        for (size_t i = 0; i < n; ++i) {
            value = (value << 8) | (at < size ? data[at++] : 0);
        }
        return value;
    }
};

Source* self(void* c) {
    return static_cast<Source*>(c);
}

int nextInt(void* c) {
    return static_cast<int>(self(c)->take(4));
}
long nextLong(void* c) {
    return static_cast<long>(self(c)->take(8));
}
long long nextLongLong(void* c) {
    return static_cast<long long>(self(c)->take(8));
}
size_t nextSize(void* c) {
    return static_cast<size_t>(self(c)->take(8));
}
double nextDouble(void* c) {
    uint64_t bits = self(c)->take(8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
const void* nextPointer(void* c) {
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(self(c)->take(8)));
}
const char* nextString(void* c) {
    return (self(c)->take(1) & 7) == 0 ? nullptr : self(c)->text.c_str();
}
const char16_t* nextUtf16(void* c) {
    return (self(c)->take(1) & 7) == 0 ? nullptr : self(c)->wide.c_str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    size_t bufferSize = data[0] % 48;
    const char* begin = reinterpret_cast<const char*>(data + 1);
    const char* end = static_cast<const char*>(std::memchr(begin, 0, size - 1));
    std::string format(begin, end != nullptr ? end : begin + size - 1);
    size_t rest = 1 + format.size() + (end != nullptr ? 1 : 0);

    Source source{data + rest, size - rest, 0, {}, {}};
    for (size_t i = 0; i < source.size && i < 64; ++i) {
        source.text.push_back(static_cast<char>(source.data[i] | 1));
        source.wide.push_back(static_cast<char16_t>(source.data[i] * 131 + 1));
    }
    kes_format_arguments args{nextInt,     nextLong,   nextLongLong, nextSize, nextDouble,
                              nextPointer, nextString, nextUtf16,    &source};

    // The small buffer: exact size, guard bytes after it must stay untouched.
    std::vector<char> small(bufferSize + 8, '#');
    int count = kes_format(small.data(), bufferSize, format.c_str(), &args);
    for (size_t i = bufferSize; i < small.size(); ++i) {
        if (small[i] != '#') {
            std::abort();
        }
    }
    if (count < 0) {
        std::abort();
    }

    // The same arguments into a buffer large enough: the small result must be
    // its prefix and the count its exact length.
    std::vector<char> large(static_cast<size_t>(count) + 1, '#');
    source.at = 0;
    int again = kes_format(large.data(), large.size(), format.c_str(), &args);
    if (again != count || large[static_cast<size_t>(count)] != '\0') {
        std::abort();
    }
    if (bufferSize > 0) {
        size_t kept = bufferSize - 1 < static_cast<size_t>(count) ? bufferSize - 1
                                                                  : static_cast<size_t>(count);
        if (std::memcmp(small.data(), large.data(), kept) != 0 || small[kept] != '\0') {
            std::abort();
        }
    }
    return 0;
}
