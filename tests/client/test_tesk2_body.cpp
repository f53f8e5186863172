// Body items: alignment and padding as they appear on the wire, the capacity
// edge, and every reader's refusal to look at or past the used body.
#include "tesk2_body.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A reused buffer: everything outside the header holds 0xA5, so pads that a
// writer failed to clear and reads past the used body both show.
tesk2_message message_with_body(const Bytes& body) {
    tesk2_message msg;
    std::memset(&msg, 0xA5, sizeof msg);
    tesk2_message_init(&msg);
    tesk2_message_set_header(&msg, 0x1001, 0x0110);
    EXPECT_EQ(tesk2_message_append(&msg, body.data(), body.size()), KES_SUCCESS);
    return msg;
}

tesk2_message message_with_used(size_t used) {
    return message_with_body(Bytes(used, 0x11));
}

Bytes body_of(const tesk2_message& msg) {
    const uint8_t* p = tesk2_message_payload(&msg);
    return Bytes(p, p + tesk2_message_body_size(&msg));
}

Bytes tail_of(const tesk2_message& msg, size_t from) {
    Bytes body = body_of(msg);
    return Bytes(body.begin() + static_cast<std::ptrdiff_t>(from), body.end());
}

} // namespace

// One body built item by item on a dirty buffer: every offset, pad and byte.
TEST(Tesk2BodyWrite, ItemsAlignAndPadWithZeros) {
    tesk2_message msg = message_with_used(0);
    const uint16_t version = 3;
    const uint8_t run[] = {1, 2, 3, 4, 5};
    const uint32_t value = 0xA0B0C0D0;
    uint16_t at[9] = {};
    tesk2_struct s{};
    ASSERT_EQ(tesk2_message_put_u16_array(&msg, 1, &version, &at[0]), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_put_string(&msg, "abc", &at[1]), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_put_string(&msg, "abcd", &at[2]), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_put_bytes(&msg, 5, run, &at[3]), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_put_struct(&msg, 0, &s), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_length(&msg), 20 + 22);
    ASSERT_EQ(tesk2_message_put_u32(&msg, 0xDEADBEEF, &at[4]), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_length(&msg), 20 + 28);
    ASSERT_EQ(tesk2_message_put_wstring(&msg, u"", &at[5]), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_put_u16_array(&msg, 1, nullptr, &at[6]), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_put_bytes(&msg, 2, nullptr, &at[7]), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_put_wstring(&msg, u"A\u00e9\u4e2d", &at[8]), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_put_u32_array(&msg, 1, &value, nullptr), KES_SUCCESS);

    // clang-format off
    const Bytes expected = {
        0, 1, 0, 3,                         // 0: u16 array {3}, the CONNECT body
        'a', 'b', 'c', 0,                   // 4: 3 characters in 4 bytes
        'a', 'b', 'c', 'd', 0, 0,           // 8: 4 characters in 6 bytes
        1, 2, 3, 4, 5, 0,                   // 14: 5 bytes and a pad
        0, 0,                               // 20: structure of no slots
        0, 0, 0xDE, 0xAD, 0xBE, 0xEF,       // 22: pads, u32 at 24
        0, 0, 0, 0,                         // 28: empty wide string
        0, 1, 0, 0,                         // 32: u16 array of one zero
        0, 0,                               // 36: 2 zero bytes
        0, 0,                               // 38: pads
        0, 0, 0, 0x41, 0, 0, 0, 0xE9,       // 40: wide string
        0, 0, 0x4E, 0x2D, 0, 0, 0, 0,       //
        0, 1, 0, 0, 0xA0, 0xB0, 0xC0, 0xD0, // 56: u32 array, count at 0 mod 4
    };
    // clang-format on
    EXPECT_EQ(body_of(msg), expected);
    const uint16_t offsets[9] = {0, 4, 8, 14, 24, 28, 32, 36, 40};
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(at[i], offsets[i]) << "item " << i;
    }
}

// A u32 array whose count sits at 40 or at 42 has its first value at 44.
TEST(Tesk2BodyWrite, U32ArrayValuesStartAtAMultipleOfFour) {
    const uint32_t values[] = {0x01020304, 0xA0B0C0D0};
    for (size_t used : {40u, 42u}) {
        tesk2_message msg = message_with_used(used);
        uint16_t at = 0;
        ASSERT_EQ(tesk2_message_put_u32_array(&msg, 2, values, &at), KES_SUCCESS);
        EXPECT_EQ(at, used);
        Bytes expected = {0, 2, 0, 0};
        expected.resize(44 - used);
        expected.insert(expected.end(), {1, 2, 3, 4, 0xA0, 0xB0, 0xC0, 0xD0});
        EXPECT_EQ(tail_of(msg, used), expected) << used;

        uint32_t back[2] = {};
        uint16_t count = 2;
        ASSERT_EQ(tesk2_message_get_u32_array(&msg, at, &count, back), KES_SUCCESS);
        EXPECT_EQ(count, 2);
        EXPECT_EQ(back[1], values[1]);
    }
}

TEST(Tesk2BodyWrite, StructSlotsAreZeroUntilSetAndIndexIsChecked) {
    tesk2_message msg = message_with_used(2);
    tesk2_struct s{};
    ASSERT_EQ(tesk2_message_put_struct(&msg, 3, &s), KES_SUCCESS);
    EXPECT_EQ(s.offset, 2);
    EXPECT_EQ(s.count, 3);
    EXPECT_EQ(tail_of(msg, 2), (Bytes{0, 3, 0, 0, 0, 0, 0, 0}));

    // The index is checked against the count, not only against the body.
    uint16_t after = 0;
    ASSERT_EQ(tesk2_message_put_u32(&msg, 0, &after), KES_SUCCESS);
    ASSERT_EQ(tesk2_struct_set_slot(&msg, &s, 2, 0xBEEF), KES_SUCCESS);
    EXPECT_EQ(tesk2_struct_set_slot(&msg, &s, 3, 1), KES_INVALIDPARAMETER);
    EXPECT_EQ(tail_of(msg, 2), (Bytes{0, 3, 0, 0, 0, 0, 0xBE, 0xEF, 0, 0, 0, 0, 0, 0}));

    uint16_t value = 0;
    EXPECT_EQ(tesk2_struct_get_slot(&msg, &s, 2, &value), KES_SUCCESS);
    EXPECT_EQ(value, 0xBEEF);
    EXPECT_EQ(tesk2_struct_get_slot(&msg, &s, 3, &value), KES_INVALIDPARAMETER);

    // A handle that claims more slots than the used body holds reaches none
    // of the extra ones.
    tesk2_struct forged{2, 10};
    EXPECT_EQ(tesk2_struct_get_slot(&msg, &forged, 7, &value), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_struct_set_slot(&msg, &forged, 7, 1), KES_INVALIDPARAMETER);
    tesk2_struct odd{1, 3};
    EXPECT_EQ(tesk2_struct_get_slot(&msg, &odd, 0, &value), KES_INVALIDPARAMETER);
}

// Each writer is tried where its item ends exactly at byte 1452 of the body,
// then two bytes later, where it must fail and leave the whole message alone.
TEST(Tesk2BodyWrite, CapacityEdgeFitsExactlyAndRefusesBeyond) {
    struct Case {
        const char* name;
        size_t fits_at;
        std::function<kes_result(tesk2_message*)> put;
    };
    uint16_t o = 0;
    tesk2_struct s{};
    const Case cases[] = {
        {"struct", 1448, [&](tesk2_message* m) { return tesk2_message_put_struct(m, 1, &s); }},
        {"u16 array", 1448,
         [&](tesk2_message* m) { return tesk2_message_put_u16_array(m, 1, nullptr, &o); }},
        {"u32", 1448, [&](tesk2_message* m) { return tesk2_message_put_u32(m, 7, &o); }},
        {"u32 array", 1446,
         [&](tesk2_message* m) { return tesk2_message_put_u32_array(m, 1, nullptr, &o); }},
        {"string", 1448, [&](tesk2_message* m) { return tesk2_message_put_string(m, "abc", &o); }},
        {"wide string", 1444,
         [&](tesk2_message* m) { return tesk2_message_put_wstring(m, u"a", &o); }},
        {"bytes", 1448,
         [&](tesk2_message* m) { return tesk2_message_put_bytes(m, 3, nullptr, &o); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tesk2_message fits = message_with_used(c.fits_at);
        EXPECT_EQ(c.put(&fits), KES_SUCCESS);
        EXPECT_EQ(tesk2_message_length(&fits), 1472);

        tesk2_message full = message_with_used(c.fits_at + 2);
        tesk2_message before = full;
        EXPECT_EQ(c.put(&full), KES_MSGSIZE);
        EXPECT_EQ(std::memcmp(&full, &before, sizeof full), 0);
    }
}

TEST(Tesk2BodyWrite, MissingArgumentsAreRefused) {
    tesk2_message msg = message_with_used(0);
    uint16_t o = 0;
    tesk2_struct s{};
    const kes_result results[] = {
        tesk2_message_put_struct(nullptr, 1, &s),
        tesk2_message_put_struct(&msg, 1, nullptr),
        tesk2_message_put_u16_array(nullptr, 1, nullptr, &o),
        tesk2_message_put_u32_array(nullptr, 1, nullptr, &o),
        tesk2_message_put_u32(nullptr, 1, &o),
        tesk2_message_put_u32(&msg, 1, nullptr),
        tesk2_message_put_string(&msg, nullptr, &o),
        tesk2_message_put_string(&msg, "a", nullptr),
        tesk2_message_put_wstring(&msg, nullptr, &o),
        tesk2_message_put_wstring(nullptr, u"a", &o),
        tesk2_message_put_bytes(&msg, 0, nullptr, &o),
        tesk2_struct_set_slot(&msg, nullptr, 0, 1),
    };
    for (size_t i = 0; i < sizeof results / sizeof results[0]; ++i) {
        EXPECT_EQ(results[i], KES_INVALIDPARAMETER) << "call " << i;
    }
    EXPECT_EQ(tesk2_message_length(&msg), 20);
}

// The body used by the reader cases: 12 bytes, then bytes past the used body
// that would read as plausible items if a reader looked at them.
//   0: struct of 2 slots (00 02 00 08 00 0a)   6: u32 array count 1
//   8: 00 00 00 09                             then past the end: 00 01 ...
TEST(Tesk2BodyRead, ReadersStayInsideTheUsedBody) {
    tesk2_message msg = message_with_body({0, 2, 0, 8, 0, 10, 0, 1, 0, 0, 0, 9});
    std::memcpy(tesk2_message_payload(&msg) + 12, "\x00\x01\x00\x00\x00\x00", 6);
    uint32_t u32 = 0;
    uint16_t count = 4;
    uint16_t u16s[4] = {};
    uint32_t u32s[4] = {};
    uint8_t bytes[16] = {}; // room for the refused 9-byte read too
    tesk2_struct s{};
    struct Case {
        const char* name;
        kes_result result;
        kes_result expected;
    };
    const Case cases[] = {
        {"u32 at 8", tesk2_message_get_u32(&msg, 8, &u32), KES_SUCCESS},
        {"u32 at 6", tesk2_message_get_u32(&msg, 6, &u32), KES_INVALIDPARAMETER},
        {"u32 at 12 (used end)", tesk2_message_get_u32(&msg, 12, &u32), KES_INVALIDPARAMETER},
        {"struct at 0", tesk2_message_get_struct(&msg, 0, &s), KES_SUCCESS},
        {"struct at 1", tesk2_message_get_struct(&msg, 1, &s), KES_INVALIDPARAMETER},
        {"struct at 6", tesk2_message_get_struct(&msg, 6, &s), KES_SUCCESS},
        {"struct at 12", tesk2_message_get_struct(&msg, 12, &s), KES_INVALIDPARAMETER},
        {"struct ending past", tesk2_message_get_struct(&msg, 10, &s), KES_INVALIDPARAMETER},
        {"u16 array ending past", tesk2_message_get_u16_array(&msg, 10, &count, u16s),
         KES_INVALIDPARAMETER},
        {"u32 array at 6", tesk2_message_get_u32_array(&msg, 6, &count, u32s), KES_SUCCESS},
        {"u32 array values past", tesk2_message_get_u32_array(&msg, 2, &count, u32s),
         KES_INVALIDPARAMETER},
        {"u32 array odd", tesk2_message_get_u32_array(&msg, 3, &count, u32s), KES_INVALIDPARAMETER},
        {"bytes to the end", tesk2_message_get_bytes(&msg, 4, 8, bytes), KES_SUCCESS},
        {"bytes ending past", tesk2_message_get_bytes(&msg, 4, 9, bytes), KES_INVALIDPARAMETER},
        {"bytes count 0", tesk2_message_get_bytes(&msg, 4, 0, nullptr), KES_INVALIDPARAMETER},
        {"bytes odd", tesk2_message_get_bytes(&msg, 5, 1, nullptr), KES_INVALIDPARAMETER},
        {"bytes at 12", tesk2_message_get_bytes(&msg, 12, 2, nullptr), KES_INVALIDPARAMETER},
        {"u32 missing output", tesk2_message_get_u32(&msg, 8, nullptr), KES_INVALIDPARAMETER},
        {"struct missing message", tesk2_message_get_struct(nullptr, 0, &s), KES_INVALIDPARAMETER},
        {"u16 array missing count", tesk2_message_get_u16_array(&msg, 0, nullptr, u16s),
         KES_INVALIDPARAMETER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.name;
    }
    EXPECT_EQ(tesk2_message_get_u32(&msg, 8, &u32), KES_SUCCESS);
    EXPECT_EQ(u32, 9u);
}

// A reader takes the used body once and reads every item as the message's
// own readers do: the same results, item by item, on the same body.
TEST(Tesk2BodyRead, AReaderReadsWhatTheMessageReadersRead) {
    tesk2_message msg = message_with_body({0, 2, 0, 8, 0, 10, 0, 1, 0, 0, 0, 9});
    tesk2_reader reader{};
    EXPECT_EQ(tesk2_reader_init(nullptr, &reader), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_reader_init(&msg, nullptr), KES_INVALIDPARAMETER);
    ASSERT_EQ(tesk2_reader_init(&msg, &reader), KES_SUCCESS);
    EXPECT_EQ(reader.used, tesk2_message_body_size(&msg));
    for (uint16_t offset = 0; offset < 16; ++offset) {
        SCOPED_TRACE(offset);
        tesk2_struct a{}, b{};
        EXPECT_EQ(tesk2_reader_get_struct(&reader, offset, &a),
                  tesk2_message_get_struct(&msg, offset, &b));
        EXPECT_EQ(a.offset, b.offset);
        EXPECT_EQ(a.count, b.count);
        uint32_t x = 0, y = 0;
        EXPECT_EQ(tesk2_reader_get_u32(&reader, offset, &x),
                  tesk2_message_get_u32(&msg, offset, &y));
        EXPECT_EQ(x, y);
        const tesk2_struct s{offset, 3};
        for (uint16_t index = 0; index < 4; ++index) {
            uint16_t v = 0, w = 0;
            EXPECT_EQ(tesk2_reader_get_slot(&reader, &s, index, &v),
                      tesk2_struct_get_slot(&msg, &s, index, &w));
            EXPECT_EQ(v, w);
        }
    }
    uint16_t value = 0;
    const tesk2_struct s{0, 2};
    EXPECT_EQ(tesk2_reader_get_slot(nullptr, &s, 0, &value), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_reader_get_slot(&reader, nullptr, 0, &value), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_reader_get_slot(&reader, &s, 0, nullptr), KES_INVALIDPARAMETER);
}

TEST(Tesk2BodyRead, ArraysReportTheWireCountAndCopyWhatFits) {
    tesk2_message msg = message_with_body({0, 3, 0, 1, 0, 2, 0, 3});
    uint16_t values[3] = {0xEEEE, 0xEEEE, 0xEEEE};
    uint16_t count = 2;
    ASSERT_EQ(tesk2_message_get_u16_array(&msg, 0, &count, values), KES_SUCCESS);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(values[1], 2);
    EXPECT_EQ(values[2], 0xEEEE);

    count = 0;
    EXPECT_EQ(tesk2_message_get_u16_array(&msg, 0, &count, nullptr), KES_SUCCESS);
    EXPECT_EQ(count, 3);

    // An empty u32 array needs no pads after its count.
    tesk2_message empty = message_with_body({0, 0});
    count = 4;
    uint32_t none[1] = {};
    EXPECT_EQ(tesk2_message_get_u32_array(&empty, 0, &count, none), KES_SUCCESS);
    EXPECT_EQ(count, 0);
}

TEST(Tesk2BodyRead, NarrowStringsStopAtTheUsedEndAndAreCut) {
    // "abcdef" without a terminator; the 0xA5 bytes after it are not text.
    tesk2_message msg = message_with_body({'a', 'b', 'c', 'd', 'e', 'f'});
    char text[8];
    std::memset(text, 'z', sizeof text);
    size_t length = sizeof text;
    ASSERT_EQ(tesk2_message_get_string(&msg, 0, text, &length), KES_SUCCESS);
    EXPECT_STREQ(text, "abcdef");
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(text[7], 'z');

    length = 4;
    ASSERT_EQ(tesk2_message_get_string(&msg, 2, text, &length), KES_SUCCESS);
    EXPECT_STREQ(text, "cde");
    EXPECT_EQ(length, 4u);

    length = sizeof text;
    EXPECT_EQ(tesk2_message_get_string(&msg, 1, text, &length), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_message_get_string(&msg, 6, text, &length), KES_INVALIDPARAMETER);
    length = 0;
    EXPECT_EQ(tesk2_message_get_string(&msg, 0, text, &length), KES_INVALIDPARAMETER);
}

TEST(Tesk2BodyRead, WideStringsKeepLowUnitsAndStopAtTheUsedEnd) {
    // 'A', 0x000100E9 (unit 0xE9), 'C', and no zero value before the end.
    tesk2_message msg = message_with_body({0, 0, 0, 0x41, 0, 1, 0, 0xE9, 0, 0, 0, 0x43, 0, 0});
    char16_t text[8];
    size_t length = 8;
    ASSERT_EQ(tesk2_message_get_wstring(&msg, 0, text, &length), KES_SUCCESS);
    EXPECT_EQ(std::u16string(text), u"A\u00e9C");
    EXPECT_EQ(length, 3u);

    length = 3;
    ASSERT_EQ(tesk2_message_get_wstring(&msg, 0, text, &length), KES_SUCCESS);
    EXPECT_EQ(std::u16string(text), u"A\u00e9");
    EXPECT_EQ(length, 2u);

    // A value whose low 16 bits are zero ends the text like a zero value.
    tesk2_message high = message_with_body({0, 0, 0, 0x41, 0, 1, 0, 0, 0, 0, 0, 0x43});
    length = 8;
    ASSERT_EQ(tesk2_message_get_wstring(&high, 0, text, &length), KES_SUCCESS);
    EXPECT_EQ(std::u16string(text), u"A");
    EXPECT_EQ(length, 1u);

    length = 8;
    EXPECT_EQ(tesk2_message_get_wstring(&msg, 2, text, &length), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_message_get_wstring(&msg, 16, text, &length), KES_INVALIDPARAMETER);
}
