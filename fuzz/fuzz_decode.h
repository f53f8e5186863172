// Shared by the record decoder fuzz targets: the input becomes one received
// datagram, and the checks every decoded record must pass whatever the bytes.
#pragma once

#include "qel_codec.h"
#include "tesk2_message.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fuzz_decode {

// The first 1472 input bytes as a datagram whose length field says how many
// there are; an input shorter than the header gives an empty body.
inline void datagram(const uint8_t* data, size_t size, tesk2_message* msg) {
    std::memset(msg, 0, sizeof *msg);
    tesk2_message_init(msg);
    size_t copied = size < TESK2_DATAGRAM_MAX ? size : TESK2_DATAGRAM_MAX;
    std::memcpy(msg->data, data, copied);
    uint16_t length =
        static_cast<uint16_t>(copied < TESK2_HEADER_SIZE ? TESK2_HEADER_SIZE : copied);
    msg->data[TESK2_OFFSET_LENGTH] = static_cast<uint8_t>(length >> 8);
    msg->data[TESK2_OFFSET_LENGTH + 1] = static_cast<uint8_t>(length & 0xFF);
}

inline void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A string is terminated inside its capacity and nothing follows the
// terminator (records are zero-filled before they are decoded).
template <typename Unit> void require_text(const Unit* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n] != 0) {
        ++n;
    }
    require(n < capacity);
    for (size_t i = n; i < capacity; ++i) {
        require(text[i] == 0);
    }
}

// A list holds at most 16 entries and its slots past the count are zero.
template <typename List> void require_list(const List& list) {
    require(list.count <= QEL_OPTIONS_LIST_MAX);
    static const uint8_t zero[sizeof list.entries[0]] = {};
    for (size_t i = list.count; i < QEL_OPTIONS_LIST_MAX; ++i) {
        require(std::memcmp(&list.entries[i], zero, sizeof zero) == 0);
    }
}

inline void require_config(const qel_config& config) {
    require_text(config.interface.name, QEL_INTERFACE_NAME_SIZE);
    require_text(config.latency, QEL_LATENCY_NAME_SIZE);
    require(config.want_to_run <= 1);
    require(config.audio_interface <= 0xFFFF);
}

template <typename Record> bool same(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A message ready for an encoder: the header set and the body empty.
inline void empty_message(tesk2_message* msg, uint16_t opcode) {
    std::memset(msg, 0, sizeof *msg);
    tesk2_message_init(msg);
    tesk2_message_set_header(msg, QEL_MANAGER_PROTOCOL, opcode);
}

} // namespace fuzz_decode
