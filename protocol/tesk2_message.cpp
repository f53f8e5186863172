// The message buffer of the control protocol. Header fields are read and
// written byte by byte in network order, so the datagram area never needs any
// alignment and the code is the same on every host byte order.
#include "tesk2_message.h"

#include "kes_text.h"

#include <cstring>

namespace {

uint16_t read_u16(const uint8_t* data, size_t offset) {
    return static_cast<uint16_t>((data[offset] << 8) | data[offset + 1]);
}

void write_u16(uint8_t* data, size_t offset, uint16_t value) {
    data[offset] = static_cast<uint8_t>(value >> 8);
    data[offset + 1] = static_cast<uint8_t>(value & 0xFF);
}

uint16_t read_field(const tesk2_message* msg, size_t offset) {
    if (msg == nullptr) {
        return 0;
    }
    return read_u16(msg->data, offset);
}

void write_field(tesk2_message* msg, size_t offset, uint16_t value) {
    if (msg == nullptr) {
        return;
    }
    write_u16(msg->data, offset, value);
}

// The header size as far as the datagram area can hold it, so that a buffer
// whose sizes were never set cannot send a write past its end.
uint16_t usable_header_size(const tesk2_message* msg) {
    return msg->header_size < TESK2_DATAGRAM_MAX ? msg->header_size : TESK2_DATAGRAM_MAX;
}

// The payload capacity limited to what follows the header in the datagram area.
uint16_t usable_capacity(const tesk2_message* msg) {
    uint16_t room = static_cast<uint16_t>(TESK2_DATAGRAM_MAX - usable_header_size(msg));
    return msg->payload_capacity < room ? msg->payload_capacity : room;
}

uint16_t used_body(const tesk2_message* msg) {
    uint16_t length = read_u16(msg->data, TESK2_OFFSET_LENGTH);
    uint16_t header = usable_header_size(msg);
    if (length <= header) {
        return 0;
    }
    uint16_t used = static_cast<uint16_t>(length - header);
    uint16_t capacity = usable_capacity(msg);
    return used < capacity ? used : capacity;
}

struct status_entry {
    uint16_t status;
    const char* name;
};

// Searched in order; the names go into log lines exactly as written here.
const status_entry k_status_names[] = {
    {TESK2_STATUS_REQUEST, "Request"},
    {TESK2_STATUS_RESPONSE, "Response"},
    {TESK2_STATUS_EVENT, "Event"},
    {TESK2_STATUS_OPCODE_ERROR, "Opcode error"},
    {TESK2_STATUS_UNRECOGNISED_OPCODE, "Unrecognised opcode"},
    {TESK2_STATUS_UNSUPPORTED_OPCODE, "Unsupported opcode"},
    {TESK2_STATUS_SERVER_ERROR, "Server error"},
    {TESK2_STATUS_NOT_CONNECTED, "Not connected"},
    {TESK2_STATUS_TOO_MANY_CLIENTS, "Too many clients"},
};

} // namespace

void tesk2_message_init(tesk2_message* msg) {
    if (msg == nullptr) {
        return;
    }
    msg->header_size = TESK2_HEADER_SIZE;
    msg->payload_capacity = TESK2_PAYLOAD_MAX;
}

void tesk2_message_set_header(tesk2_message* msg, uint16_t protocol, uint16_t opcode) {
    if (msg == nullptr) {
        return;
    }
    write_u16(msg->data, TESK2_OFFSET_PROTOCOL, protocol);
    write_u16(msg->data, TESK2_OFFSET_LENGTH, TESK2_HEADER_SIZE);
    write_u16(msg->data, TESK2_OFFSET_SEQNUM, 0);
    write_u16(msg->data, TESK2_OFFSET_OPCODE, opcode);
    write_u16(msg->data, TESK2_OFFSET_STATUS, TESK2_STATUS_REQUEST);
}

void tesk2_message_set_client_id(tesk2_message* msg, const tesk2_client_id* id) {
    if (msg == nullptr || id == nullptr) {
        return;
    }
    write_u16(msg->data, TESK2_OFFSET_CLIENT_PORT, id->port);
    std::memcpy(msg->data + TESK2_OFFSET_CLIENT_ID, id->id, TESK2_CLIENT_ID_SIZE);
}

void tesk2_message_client_id(const tesk2_message* msg, tesk2_client_id* id) {
    if (id == nullptr) {
        return;
    }
    if (msg == nullptr) {
        std::memset(id->id, 0, TESK2_CLIENT_ID_SIZE);
        id->port = 0;
        return;
    }
    id->port = read_u16(msg->data, TESK2_OFFSET_CLIENT_PORT);
    std::memcpy(id->id, msg->data + TESK2_OFFSET_CLIENT_ID, TESK2_CLIENT_ID_SIZE);
}

uint16_t tesk2_message_protocol(const tesk2_message* msg) {
    return read_field(msg, TESK2_OFFSET_PROTOCOL);
}

uint16_t tesk2_message_length(const tesk2_message* msg) {
    return read_field(msg, TESK2_OFFSET_LENGTH);
}

kes_result tesk2_message_send_size(const tesk2_message* msg, size_t* size) {
    if (msg == nullptr || size == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const uint16_t length = tesk2_message_length(msg);
    if (length < TESK2_HEADER_SIZE || length > TESK2_DATAGRAM_MAX) {
        *size = 0;
        return KES_MSGSIZE;
    }
    *size = length;
    return KES_SUCCESS;
}

uint16_t tesk2_message_seqnum(const tesk2_message* msg) {
    return read_field(msg, TESK2_OFFSET_SEQNUM);
}

uint16_t tesk2_message_opcode(const tesk2_message* msg) {
    return read_field(msg, TESK2_OFFSET_OPCODE);
}

uint16_t tesk2_message_status(const tesk2_message* msg) {
    return read_field(msg, TESK2_OFFSET_STATUS);
}

void tesk2_message_set_seqnum(tesk2_message* msg, uint16_t seqnum) {
    write_field(msg, TESK2_OFFSET_SEQNUM, seqnum);
}

void tesk2_message_set_opcode(tesk2_message* msg, uint16_t opcode) {
    write_field(msg, TESK2_OFFSET_OPCODE, opcode);
}

void tesk2_message_set_status(tesk2_message* msg, uint16_t status) {
    write_field(msg, TESK2_OFFSET_STATUS, status);
}

void tesk2_message_add_length(tesk2_message* msg, uint16_t n) {
    if (msg == nullptr) {
        return;
    }
    uint16_t length = read_u16(msg->data, TESK2_OFFSET_LENGTH);
    write_u16(msg->data, TESK2_OFFSET_LENGTH, static_cast<uint16_t>(length + n));
}

uint16_t tesk2_message_body_size(const tesk2_message* msg) {
    if (msg == nullptr) {
        return 0;
    }
    return used_body(msg);
}

kes_result tesk2_message_append(tesk2_message* msg, const void* data, size_t n) {
    if (msg == nullptr || (data == nullptr && n > 0)) {
        return KES_INVALIDPARAMETER;
    }
    uint16_t used = used_body(msg);
    uint16_t capacity = usable_capacity(msg);
    // used <= capacity always holds, so the subtraction cannot wrap.
    if (n > static_cast<size_t>(capacity - used)) {
        return KES_MSGSIZE;
    }
    if (n == 0) {
        return KES_SUCCESS;
    }
    uint16_t header = usable_header_size(msg);
    std::memcpy(msg->data + header + used, data, n);
    // The length is rewritten from the body actually in use, which equals
    // length + n for every message whose length field was consistent.
    write_u16(msg->data, TESK2_OFFSET_LENGTH, static_cast<uint16_t>(header + used + n));
    return KES_SUCCESS;
}

uint8_t* tesk2_message_data(tesk2_message* msg) {
    return msg == nullptr ? nullptr : msg->data;
}

const uint8_t* tesk2_message_data(const tesk2_message* msg) {
    return msg == nullptr ? nullptr : msg->data;
}

uint8_t* tesk2_message_payload(tesk2_message* msg) {
    return msg == nullptr ? nullptr : msg->data + usable_header_size(msg);
}

const uint8_t* tesk2_message_payload(const tesk2_message* msg) {
    return msg == nullptr ? nullptr : msg->data + usable_header_size(msg);
}

uint16_t tesk2_message_header_size(const tesk2_message* msg) {
    return msg == nullptr ? 0 : msg->header_size;
}

uint16_t tesk2_message_payload_capacity(const tesk2_message* msg) {
    return msg == nullptr ? 0 : msg->payload_capacity;
}

const char* tesk2_status_name(uint32_t status) {
    uint16_t value = static_cast<uint16_t>(status & 0xFFFF);
    for (const status_entry& entry : k_status_names) {
        if (entry.status == value) {
            return entry.name;
        }
    }
    return "?";
}

char* tesk2_client_id_to_text(const tesk2_client_id* id, char* buffer) {
    if (buffer == nullptr) {
        return nullptr;
    }
    if (id == nullptr) {
        buffer[0] = '\0';
        return buffer;
    }
    const uint8_t* b = id->id;
    kes_snprintf(buffer, TESK2_CLIENT_ID_TEXT_SIZE, "%02x%02x%02x%02x%02x%02x%02x%02x:%d", b[0],
                 b[1], b[2], b[3], b[4], b[5], b[6], b[7], static_cast<int>(id->port));
    return buffer;
}
