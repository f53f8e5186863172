// Messages of the tesk2 control protocol: the 20-byte big-endian header, the
// status and opcode values, the in-memory message buffer with its accessors,
// and the client identity.
#pragma once

#include "kes_result.h"

#include <cstddef>
#include <cstdint>

constexpr uint16_t TESK2_DATAGRAM_MAX = 1472;
constexpr uint16_t TESK2_HEADER_SIZE = 20;
constexpr uint16_t TESK2_PAYLOAD_MAX = TESK2_DATAGRAM_MAX - TESK2_HEADER_SIZE;

// Status values: the message class and outcome.
constexpr uint16_t TESK2_STATUS_REQUEST = 0x00;
constexpr uint16_t TESK2_STATUS_RESPONSE = 0x01;
constexpr uint16_t TESK2_STATUS_EVENT = 0x02;
constexpr uint16_t TESK2_STATUS_OPCODE_ERROR = 0x30;
constexpr uint16_t TESK2_STATUS_UNRECOGNISED_OPCODE = 0x31;
constexpr uint16_t TESK2_STATUS_UNSUPPORTED_OPCODE = 0x32;
constexpr uint16_t TESK2_STATUS_SERVER_ERROR = 0x80;
constexpr uint16_t TESK2_STATUS_NOT_CONNECTED = 0x81;
constexpr uint16_t TESK2_STATUS_TOO_MANY_CLIENTS = 0x82;

// The opcodes the protocol client handles itself; all others are the owner's.
constexpr uint16_t TESK2_OPCODE_KEEPALIVE = 0x0000;
constexpr uint16_t TESK2_OPCODE_CONNECT = 0x0001;
constexpr uint16_t TESK2_OPCODE_DISCONNECT = 0x0002;

// Header field offsets in the datagram.
constexpr size_t TESK2_OFFSET_PROTOCOL = 0;
constexpr size_t TESK2_OFFSET_LENGTH = 2;
constexpr size_t TESK2_OFFSET_SEQNUM = 4;
constexpr size_t TESK2_OFFSET_OPCODE = 6;
constexpr size_t TESK2_OFFSET_STATUS = 8;
constexpr size_t TESK2_OFFSET_CLIENT_PORT = 10;
constexpr size_t TESK2_OFFSET_CLIENT_ID = 12;

constexpr size_t TESK2_CLIENT_ID_SIZE = 8;
// "%02x" x 8, ":", five port digits and the terminator.
constexpr size_t TESK2_CLIENT_ID_TEXT_SIZE = 23;

// A client's identity: 8 opaque identifier bytes and its UDP port (host order).
struct tesk2_client_id {
    uint8_t id[TESK2_CLIENT_ID_SIZE];
    uint16_t port;
};

// One message as it travels. The length field inside `data` is the single
// record of how much is used: the body is length - 20 bytes from
// tesk2_message_payload. The body is found from the header size rather than
// a stored pointer, so a copied message stays whole.
struct tesk2_message {
    uint16_t header_size;
    uint16_t payload_capacity;
    uint8_t data[TESK2_DATAGRAM_MAX];
};

// Sets the header size (20) and the payload capacity (1452); the datagram area
// is not touched.
void tesk2_message_init(tesk2_message* msg);

// Starts a new request: protocol, length 20 (empty body), seqnum 0, opcode,
// status Request. client_port and client_id stay as they are.
void tesk2_message_set_header(tesk2_message* msg, uint16_t protocol, uint16_t opcode);

// Writes the identity's port (network order) and 8 identifier bytes.
void tesk2_message_set_client_id(tesk2_message* msg, const tesk2_client_id* id);

// Reads the identity carried in the header.
void tesk2_message_client_id(const tesk2_message* msg, tesk2_client_id* id);

// Header fields in host order (0 for a missing message).
uint16_t tesk2_message_protocol(const tesk2_message* msg);
uint16_t tesk2_message_length(const tesk2_message* msg);
uint16_t tesk2_message_seqnum(const tesk2_message* msg);
uint16_t tesk2_message_opcode(const tesk2_message* msg);
uint16_t tesk2_message_status(const tesk2_message* msg);

void tesk2_message_set_seqnum(tesk2_message* msg, uint16_t seqnum);
void tesk2_message_set_opcode(tesk2_message* msg, uint16_t opcode);
void tesk2_message_set_status(tesk2_message* msg, uint16_t status);

// Adds n to the length field (16-bit arithmetic).
void tesk2_message_add_length(tesk2_message* msg, uint16_t n);

// The number of bytes to send: the length field, when it lies within
// 20..1472. A length outside that range (a header shorter than itself, more
// than the datagram area holds) gives KES_MSGSIZE and 0 bytes; a missing
// argument KES_INVALIDPARAMETER.
kes_result tesk2_message_send_size(const tesk2_message* msg, size_t* size);

// The used body size: length - 20, limited to 0..payload capacity.
uint16_t tesk2_message_body_size(const tesk2_message* msg);

// Appends n bytes to the body and grows the length. When the body would pass
// the payload capacity: KES_MSGSIZE and the message is unchanged. Missing
// message, or missing data with n > 0: KES_INVALIDPARAMETER.
kes_result tesk2_message_append(tesk2_message* msg, const void* data, size_t n);

uint8_t* tesk2_message_data(tesk2_message* msg);
const uint8_t* tesk2_message_data(const tesk2_message* msg);
uint8_t* tesk2_message_payload(tesk2_message* msg);
const uint8_t* tesk2_message_payload(const tesk2_message* msg);
uint16_t tesk2_message_header_size(const tesk2_message* msg);
uint16_t tesk2_message_payload_capacity(const tesk2_message* msg);

// "Request", "Response", ... for the status table, "?" for anything else.
// Only the low 16 bits of `status` count.
const char* tesk2_status_name(uint32_t status);

// Writes "<16 lower-case hex digits>:<port>" into `buffer` of
// TESK2_CLIENT_ID_TEXT_SIZE bytes (cut if needed) and returns it.
char* tesk2_client_id_to_text(const tesk2_client_id* id, char* buffer);
