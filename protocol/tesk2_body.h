// Message body items: the small typed items (structures, arrays, 32-bit
// values, narrow and wide strings, byte runs) that the manager protocol
// writes into and reads from the body of a tesk2 message, addressed by 16-bit
// body offsets.
//
// Wire rules (all integers big-endian, offsets from the first body byte):
//   structure / u16 array  u16 count N, then N u16 slots or values   even offset
//   u32 value              4 bytes                                  multiple of 4
//   u32 array              u16 count N at an even offset; the values follow at
//                          the next multiple of 4 (two pad bytes after a count
//                          at 0 mod 4, none after one at 2 mod 4)
//   narrow string          the characters, NUL, one pad byte when odd  even offset
//   wide string            one u32 per UTF-16 unit, then a u32 zero  multiple of 4
//   byte run               N bytes, one pad byte when N is odd       even offset
//
// Writers append at the end of the used body (length - 20), inserting the pad
// bytes their alignment needs first, and grow the length field by the item's
// size, pads included. Pad bytes carry no meaning; writers store zeros in them
// so that a reused buffer produces the same bytes every time. A writer whose
// item would not fit in the payload capacity returns KES_MSGSIZE and leaves
// the message exactly as it was; a missing message or text is
// KES_INVALIDPARAMETER.
//
// Readers never look at or past the used body: an offset with the wrong
// alignment or not below the used body, or an item that would end past it, is
// KES_INVALIDPARAMETER. String readers take the end of the used body as a
// terminator. Missing required outputs are KES_INVALIDPARAMETER as well.
#pragma once

#include "kes_result.h"
#include "tesk2_message.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// A structure in a message body: where its count sits and how many slots
// follow. Slots are reached only through the accessors below, which check the
// index and the used body on every call.
struct tesk2_struct {
    uint16_t offset;
    uint16_t count;
};

// Appends a structure of `count` slots, all zero, and describes it in
// `handle`. The caller then fills each slot with tesk2_struct_set_slot.
kes_result tesk2_message_put_struct(tesk2_message* msg, uint16_t count, tesk2_struct* handle);

// Opens the structure at `offset`: its count and slots must lie within the
// used body.
kes_result tesk2_message_get_struct(const tesk2_message* msg, uint16_t offset,
                                    tesk2_struct* handle);

// Stores `value` in slot `index` of the structure. KES_INVALIDPARAMETER for an
// index at or past the count, or a slot outside the used body.
kes_result tesk2_struct_set_slot(tesk2_message* msg, const tesk2_struct* handle, uint16_t index,
                                 uint16_t value);

// Reads slot `index` of the structure into `value`, with the same checks.
kes_result tesk2_struct_get_slot(const tesk2_message* msg, const tesk2_struct* handle,
                                 uint16_t index, uint16_t* value);

// Appends a u16 array of `count` values (zeros when `values` is missing) and
// reports its offset when `offset` is given.
kes_result tesk2_message_put_u16_array(tesk2_message* msg, uint16_t count, const uint16_t* values,
                                       uint16_t* offset);

// Reads the u16 array at `offset`. `count` is in: the room in `values`; out:
// the count on the wire. When `values` is given, the first min(room, wire
// count) values are copied. The whole array must lie within the used body.
kes_result tesk2_message_get_u16_array(const tesk2_message* msg, uint16_t offset, uint16_t* count,
                                       uint16_t* values);

// Appends a u32 array (zeros when `values` is missing); `offset`, when given,
// receives the offset of its count.
kes_result tesk2_message_put_u32_array(tesk2_message* msg, uint16_t count, const uint32_t* values,
                                       uint16_t* offset);

// Reads the u32 array whose count sits at `offset`, as
// tesk2_message_get_u16_array does. An empty array needs only its count within
// the used body.
kes_result tesk2_message_get_u32_array(const tesk2_message* msg, uint16_t offset, uint16_t* count,
                                       uint32_t* values);

// Appends `value` at the next multiple of 4 and reports where it went.
kes_result tesk2_message_put_u32(tesk2_message* msg, uint32_t value, uint16_t* offset);

// Reads the u32 at `offset`, which must be a multiple of 4.
kes_result tesk2_message_get_u32(const tesk2_message* msg, uint16_t offset, uint32_t* value);

// Appends the terminated narrow string `text` and reports its offset.
kes_result tesk2_message_put_string(tesk2_message* msg, const char* text, uint16_t* offset);

// Reads the narrow string at `offset`. `length` is in: the capacity of
// `destination` (at least 1); out: the full length of the text on the wire.
// At most capacity - 1 characters are copied and the copy is always
// terminated; nothing past the terminator is written.
kes_result tesk2_message_get_string(const tesk2_message* msg, uint16_t offset, char* destination,
                                    size_t* length);

// Appends the terminated UTF-16 string `text`, one u32 per unit and a u32
// zero, and reports the offset of its first value.
kes_result tesk2_message_put_wstring(tesk2_message* msg, const char16_t* text, uint16_t* offset);

// Reads the wide string at `offset` (a multiple of 4). `length` is in: the
// capacity of `destination` in units (at least 1); out: the number of units
// read. Reading stops at capacity - 1 units, at the end of the used body, or
// at a value whose low 16 bits are zero (the unit kept would end the text
// anyway); the copy is always terminated and nothing past the terminator is
// written.
kes_result tesk2_message_get_wstring(const tesk2_message* msg, uint16_t offset,
                                     char16_t* destination, size_t* length);

// Appends a run of `count` bytes (zeros when `bytes` is missing); a count of 0
// is KES_INVALIDPARAMETER. `offset`, when given, receives its offset.
kes_result tesk2_message_put_bytes(tesk2_message* msg, uint16_t count, const uint8_t* bytes,
                                   uint16_t* offset);

// Checks the run of `count` bytes at `offset` and copies it into `destination`
// when one is given. A count of 0 or a run ending past the used body is
// KES_INVALIDPARAMETER.
kes_result tesk2_message_get_bytes(const tesk2_message* msg, uint16_t offset, uint16_t count,
                                   uint8_t* destination);

// ---- Reading many items from one message -----------------------------------
// A decoder reads dozens of items from one message; each message function
// above measures the used body again. A reader measures it once and reads
// every item against it with exactly the checks (and the results) of the
// message function of the same name. It holds no copy: the message must
// stay unchanged while it is read.
struct tesk2_reader {
    const uint8_t* body; // the first body byte
    uint16_t used;       // the used body, as tesk2_message_body_size gives it
};

// Takes the used body of `msg`. Missing argument: KES_INVALIDPARAMETER.
kes_result tesk2_reader_init(const tesk2_message* msg, tesk2_reader* reader);

// The three small readers a decoder calls most are defined here, so that
// they are inlined into it.
inline kes_result tesk2_reader_get_struct(const tesk2_reader* reader, uint16_t offset,
                                          tesk2_struct* handle) {
    if (reader == nullptr || handle == nullptr || offset % 2 != 0 || offset + 2u > reader->used) {
        return KES_INVALIDPARAMETER;
    }
    const uint8_t* p = reader->body + offset;
    const uint16_t count = static_cast<uint16_t>((p[0] << 8) | p[1]);
    if (offset + 2u + 2u * count > reader->used) {
        return KES_INVALIDPARAMETER;
    }
    handle->offset = offset;
    handle->count = count;
    return KES_SUCCESS;
}

inline kes_result tesk2_reader_get_slot(const tesk2_reader* reader, const tesk2_struct* handle,
                                        uint16_t index, uint16_t* value) {
    if (reader == nullptr || handle == nullptr || value == nullptr || index >= handle->count ||
        handle->offset % 2 != 0) {
        return KES_INVALIDPARAMETER;
    }
    const size_t at = static_cast<size_t>(handle->offset) + 2 + 2 * static_cast<size_t>(index);
    if (at + 2 > reader->used) {
        return KES_INVALIDPARAMETER;
    }
    *value = static_cast<uint16_t>((reader->body[at] << 8) | reader->body[at + 1]);
    return KES_SUCCESS;
}

inline kes_result tesk2_reader_get_u32(const tesk2_reader* reader, uint16_t offset,
                                       uint32_t* value) {
    if (reader == nullptr || value == nullptr || offset % 4 != 0 || offset + 4u > reader->used) {
        return KES_INVALIDPARAMETER;
    }
    const uint8_t* p = reader->body + offset;
    *value = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
             (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
    return KES_SUCCESS;
}

// Byte-order and bounds helpers of the inline readers.
namespace tesk2_detail {
inline uint16_t read_u16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t read_u32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
// An item may start at `offset` only when it is aligned and inside the body.
inline bool item_start_ok(const tesk2_reader& body, uint16_t offset, size_t alignment) {
    return offset % alignment == 0 && offset < body.used;
}
// Where the values of a u32 array whose count sits at `offset` begin.
inline size_t u32_values_at(size_t offset) {
    return (offset + 2 + 3) / 4 * 4;
}
// Length of a terminated text without looking further than `limit` units; a
// result of `limit` means no terminator within the limit.
template <typename Unit> size_t bounded_length(const Unit* text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n] != 0) {
        ++n;
    }
    return n;
}
} // namespace tesk2_detail

inline kes_result tesk2_reader_get_u16_array(const tesk2_reader* reader, uint16_t offset,
                                             uint16_t* count, uint16_t* values) {
    if (reader == nullptr || count == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader& body = *reader;
    if (!tesk2_detail::item_start_ok(body, offset, 2) || offset + 2u > body.used) {
        return KES_INVALIDPARAMETER;
    }
    uint16_t wire = tesk2_detail::read_u16(body.body + offset);
    if (offset + 2u + 2u * wire > body.used) {
        return KES_INVALIDPARAMETER;
    }
    if (values != nullptr) {
        uint16_t n = wire < *count ? wire : *count;
        for (size_t i = 0; i < n; ++i) {
            values[i] = tesk2_detail::read_u16(body.body + offset + 2 + 2 * i);
        }
    }
    *count = wire;
    return KES_SUCCESS;
}

inline kes_result tesk2_reader_get_u32_array(const tesk2_reader* reader, uint16_t offset,
                                             uint16_t* count, uint32_t* values) {
    if (reader == nullptr || count == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader& body = *reader;
    if (!tesk2_detail::item_start_ok(body, offset, 2) || offset + 2u > body.used) {
        return KES_INVALIDPARAMETER;
    }
    uint16_t wire = tesk2_detail::read_u16(body.body + offset);
    size_t first = tesk2_detail::u32_values_at(offset);
    if (wire > 0 && first + 4 * static_cast<size_t>(wire) > body.used) {
        return KES_INVALIDPARAMETER;
    }
    if (values != nullptr) {
        uint16_t n = wire < *count ? wire : *count;
        for (size_t i = 0; i < n; ++i) {
            values[i] = tesk2_detail::read_u32(body.body + first + 4 * i);
        }
    }
    *count = wire;
    return KES_SUCCESS;
}

inline kes_result tesk2_reader_get_string(const tesk2_reader* reader, uint16_t offset,
                                          char* destination, size_t* length) {
    if (reader == nullptr || destination == nullptr || length == nullptr || *length == 0) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader& body = *reader;
    if (!tesk2_detail::item_start_ok(body, offset, 2)) {
        return KES_INVALIDPARAMETER;
    }
    const char* text = reinterpret_cast<const char*>(body.body + offset);
    size_t wire = tesk2_detail::bounded_length(text, body.used - offset);
    size_t copied = wire < *length - 1 ? wire : *length - 1;
    std::memcpy(destination, text, copied);
    destination[copied] = '\0';
    *length = wire;
    return KES_SUCCESS;
}

inline kes_result tesk2_reader_get_wstring(const tesk2_reader* reader, uint16_t offset,
                                           char16_t* destination, size_t* length) {
    if (reader == nullptr || destination == nullptr || length == nullptr || *length == 0) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader& body = *reader;
    if (!tesk2_detail::item_start_ok(body, offset, 4)) {
        return KES_INVALIDPARAMETER;
    }
    // The most units that can be read: the room left, and the whole values
    // the used body holds from `offset` on. Each unit is the low half of its
    // value, whose low byte comes last.
    const size_t whole = (body.used - offset) / 4;
    const size_t limit = whole < *length - 1 ? whole : *length - 1;
    const uint8_t* value = body.body + offset;
    size_t units = 0;
    while (units < limit) {
        const char16_t unit = static_cast<char16_t>((value[2] << 8) | value[3]);
        if (unit == 0) {
            break;
        }
        destination[units++] = unit;
        value += 4;
    }
    destination[units] = 0;
    *length = units;
    return KES_SUCCESS;
}

inline kes_result tesk2_reader_get_bytes(const tesk2_reader* reader, uint16_t offset,
                                         uint16_t count, uint8_t* destination) {
    if (reader == nullptr || count == 0) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader& body = *reader;
    if (!tesk2_detail::item_start_ok(body, offset, 2) ||
        static_cast<size_t>(offset) + count > body.used) {
        return KES_INVALIDPARAMETER;
    }
    if (destination != nullptr) {
        std::memcpy(destination, body.body + offset, count);
    }
    return KES_SUCCESS;
}
