// Message body items. Every writer checks its arguments and the room left
// before it touches the buffer, so a failed write leaves the message as it
// was; every reader checks alignment and the used body before it reads a
// byte. Values are read and written byte by byte in network order, so the
// body needs no host alignment.
#include "tesk2_body.h"

#include <cstring>

namespace {

using tesk2_detail::bounded_length;
using tesk2_detail::u32_values_at;

void write_u16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value & 0xFF);
}

void write_u32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>((value >> 16) & 0xFF);
    p[2] = static_cast<uint8_t>((value >> 8) & 0xFF);
    p[3] = static_cast<uint8_t>(value & 0xFF);
}

size_t align_up(size_t value, size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The header size as far as the datagram area holds it (the payload pointer
// is computed the same way).
size_t header_size(const tesk2_message* msg) {
    return msg->header_size < TESK2_DATAGRAM_MAX ? msg->header_size : TESK2_DATAGRAM_MAX;
}

// The payload capacity limited to what follows the header in the datagram
// area, so that a buffer with odd sizes can never be written past its end.
size_t body_capacity(const tesk2_message* msg) {
    size_t room = TESK2_DATAGRAM_MAX - header_size(msg);
    return msg->payload_capacity < room ? msg->payload_capacity : room;
}

// One item about to be appended: the body, where its pads begin (the old end
// of the used body), where the item proper begins, and where it ends.
struct slot_in_body {
    uint8_t* body;
    size_t pad_at;
    size_t at;
    size_t end;
};

// Reserves room for an item of `size` bytes at the next multiple of
// `alignment`. Nothing is written when it does not fit.
kes_result reserve(tesk2_message* msg, size_t alignment, size_t size, slot_in_body* item) {
    size_t used = tesk2_message_body_size(msg);
    size_t at = align_up(used, alignment);
    if (at + size > body_capacity(msg)) {
        return KES_MSGSIZE;
    }
    item->body = tesk2_message_payload(msg);
    item->pad_at = used;
    item->at = at;
    item->end = at + size;
    return KES_SUCCESS;
}

// Writes the pads in front of a reserved item and its trailing bytes up to
// `item_bytes` as zeros, then grows the length field to cover the item. The
// length is set from the body actually in use, as tesk2_message_append does:
// for a message whose length was consistent this adds exactly the item's size,
// pads included.
void commit(tesk2_message* msg, const slot_in_body& item, size_t item_bytes) {
    std::memset(item.body + item.pad_at, 0, item.at - item.pad_at);
    std::memset(item.body + item.at + item_bytes, 0, item.end - item.at - item_bytes);
    uint16_t target = static_cast<uint16_t>(header_size(msg) + item.end);
    tesk2_message_add_length(msg, static_cast<uint16_t>(target - tesk2_message_length(msg)));
}

// The used body as the readers see it.
tesk2_reader view(const tesk2_message* msg) {
    return {tesk2_message_payload(msg), tesk2_message_body_size(msg)};
}

// The slot `index` of a structure, as a body offset, when the structure and
// the slot lie within the used body.
bool slot_offset(const tesk2_reader& body, const tesk2_struct* handle, uint16_t index, size_t* at) {
    if (index >= handle->count || handle->offset % 2 != 0) {
        return false;
    }
    size_t slot = static_cast<size_t>(handle->offset) + 2 + 2 * static_cast<size_t>(index);
    if (slot + 2 > body.used) {
        return false;
    }
    *at = slot;
    return true;
}

} // namespace

kes_result tesk2_reader_init(const tesk2_message* msg, tesk2_reader* reader) {
    if (msg == nullptr || reader == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    *reader = view(msg);
    return KES_SUCCESS;
}

kes_result tesk2_message_put_struct(tesk2_message* msg, uint16_t count, tesk2_struct* handle) {
    if (msg == nullptr || handle == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    slot_in_body item;
    kes_result result = reserve(msg, 2, 2 + 2 * static_cast<size_t>(count), &item);
    if (result != KES_SUCCESS) {
        return result;
    }
    write_u16(item.body + item.at, count);
    commit(msg, item, 2);
    handle->offset = static_cast<uint16_t>(item.at);
    handle->count = count;
    return KES_SUCCESS;
}

kes_result tesk2_message_get_struct(const tesk2_message* msg, uint16_t offset,
                                    tesk2_struct* handle) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader reader = view(msg);
    return tesk2_reader_get_struct(&reader, offset, handle);
}

kes_result tesk2_struct_set_slot(tesk2_message* msg, const tesk2_struct* handle, uint16_t index,
                                 uint16_t value) {
    if (msg == nullptr || handle == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    size_t at = 0;
    if (!slot_offset(view(msg), handle, index, &at)) {
        return KES_INVALIDPARAMETER;
    }
    write_u16(tesk2_message_payload(msg) + at, value);
    return KES_SUCCESS;
}

kes_result tesk2_struct_get_slot(const tesk2_message* msg, const tesk2_struct* handle,
                                 uint16_t index, uint16_t* value) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader reader = view(msg);
    return tesk2_reader_get_slot(&reader, handle, index, value);
}

kes_result tesk2_message_put_u16_array(tesk2_message* msg, uint16_t count, const uint16_t* values,
                                       uint16_t* offset) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    slot_in_body item;
    size_t size = 2 + 2 * static_cast<size_t>(count);
    kes_result result = reserve(msg, 2, size, &item);
    if (result != KES_SUCCESS) {
        return result;
    }
    uint8_t* p = item.body + item.at;
    write_u16(p, count);
    for (size_t i = 0; i < count; ++i) {
        write_u16(p + 2 + 2 * i, values == nullptr ? 0 : values[i]);
    }
    commit(msg, item, size);
    if (offset != nullptr) {
        *offset = static_cast<uint16_t>(item.at);
    }
    return KES_SUCCESS;
}

kes_result tesk2_message_get_u16_array(const tesk2_message* msg, uint16_t offset, uint16_t* count,
                                       uint16_t* values) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader reader = view(msg);
    return tesk2_reader_get_u16_array(&reader, offset, count, values);
}

kes_result tesk2_message_put_u32_array(tesk2_message* msg, uint16_t count, const uint32_t* values,
                                       uint16_t* offset) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    // The count goes to the next even offset; its values to the multiple of 4
    // after it. The item is sized from that even offset, so it always ends on
    // a multiple of 4.
    size_t count_at = align_up(tesk2_message_body_size(msg), 2);
    size_t size = u32_values_at(count_at) - count_at + 4 * static_cast<size_t>(count);
    slot_in_body item;
    kes_result result = reserve(msg, 2, size, &item);
    if (result != KES_SUCCESS) {
        return result;
    }
    uint8_t* p = item.body + item.at;
    write_u16(p, count);
    size_t first = u32_values_at(item.at) - item.at;
    std::memset(p + 2, 0, first - 2);
    for (size_t i = 0; i < count; ++i) {
        write_u32(p + first + 4 * i, values == nullptr ? 0 : values[i]);
    }
    commit(msg, item, size);
    if (offset != nullptr) {
        *offset = static_cast<uint16_t>(item.at);
    }
    return KES_SUCCESS;
}

kes_result tesk2_message_get_u32_array(const tesk2_message* msg, uint16_t offset, uint16_t* count,
                                       uint32_t* values) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader reader = view(msg);
    return tesk2_reader_get_u32_array(&reader, offset, count, values);
}

kes_result tesk2_message_put_u32(tesk2_message* msg, uint32_t value, uint16_t* offset) {
    if (msg == nullptr || offset == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    slot_in_body item;
    kes_result result = reserve(msg, 4, 4, &item);
    if (result != KES_SUCCESS) {
        return result;
    }
    write_u32(item.body + item.at, value);
    commit(msg, item, 4);
    *offset = static_cast<uint16_t>(item.at);
    return KES_SUCCESS;
}

kes_result tesk2_message_get_u32(const tesk2_message* msg, uint16_t offset, uint32_t* value) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader reader = view(msg);
    return tesk2_reader_get_u32(&reader, offset, value);
}

kes_result tesk2_message_put_string(tesk2_message* msg, const char* text, uint16_t* offset) {
    if (msg == nullptr || text == nullptr || offset == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    // A text as long as the whole payload cannot fit with its terminator, so
    // it need not be measured further.
    size_t length = bounded_length(text, TESK2_DATAGRAM_MAX);
    size_t bytes = length + 1;
    slot_in_body item;
    kes_result result = reserve(msg, 2, align_up(bytes, 2), &item);
    if (result != KES_SUCCESS) {
        return result;
    }
    std::memcpy(item.body + item.at, text, length);
    item.body[item.at + length] = 0;
    commit(msg, item, bytes);
    *offset = static_cast<uint16_t>(item.at);
    return KES_SUCCESS;
}

kes_result tesk2_message_get_string(const tesk2_message* msg, uint16_t offset, char* destination,
                                    size_t* length) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader reader = view(msg);
    return tesk2_reader_get_string(&reader, offset, destination, length);
}

kes_result tesk2_message_put_wstring(tesk2_message* msg, const char16_t* text, uint16_t* offset) {
    if (msg == nullptr || text == nullptr || offset == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    // Each unit takes 4 bytes, so a text of a quarter of the payload already
    // cannot fit.
    size_t units = bounded_length(text, TESK2_DATAGRAM_MAX / 4);
    size_t size = 4 * (units + 1);
    slot_in_body item;
    kes_result result = reserve(msg, 4, size, &item);
    if (result != KES_SUCCESS) {
        return result;
    }
    for (size_t i = 0; i < units; ++i) {
        write_u32(item.body + item.at + 4 * i, text[i]);
    }
    write_u32(item.body + item.at + 4 * units, 0);
    commit(msg, item, size);
    *offset = static_cast<uint16_t>(item.at);
    return KES_SUCCESS;
}

kes_result tesk2_message_get_wstring(const tesk2_message* msg, uint16_t offset,
                                     char16_t* destination, size_t* length) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader reader = view(msg);
    return tesk2_reader_get_wstring(&reader, offset, destination, length);
}

kes_result tesk2_message_put_bytes(tesk2_message* msg, uint16_t count, const uint8_t* bytes,
                                   uint16_t* offset) {
    if (msg == nullptr || count == 0) {
        return KES_INVALIDPARAMETER;
    }
    slot_in_body item;
    kes_result result = reserve(msg, 2, align_up(count, 2), &item);
    if (result != KES_SUCCESS) {
        return result;
    }
    if (bytes == nullptr) {
        std::memset(item.body + item.at, 0, count);
    } else {
        std::memcpy(item.body + item.at, bytes, count);
    }
    commit(msg, item, count);
    if (offset != nullptr) {
        *offset = static_cast<uint16_t>(item.at);
    }
    return KES_SUCCESS;
}

kes_result tesk2_message_get_bytes(const tesk2_message* msg, uint16_t offset, uint16_t count,
                                   uint8_t* destination) {
    if (msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const tesk2_reader reader = view(msg);
    return tesk2_reader_get_bytes(&reader, offset, count, destination);
}
