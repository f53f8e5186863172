// The manager protocol on top of tesk2: its protocol identifier, opcodes and
// response statuses, and the wire form of the manager's records in a message
// body (a root structure at body offset 0 whose slots hold values or the
// offsets of further items).
//
// Decoders zero-fill the destination first, open the root structure (or the
// given one), require its minimum slot count (KES_NODATA when short), read
// the slots they know in slot order and ignore any further slots. Lists keep
// at most QEL_OPTIONS_LIST_MAX entries and strings are cut to their capacity
// less the terminator. The first failing item ends a decode with its code;
// the destination then holds what was decoded so far and zeros elsewhere. An
// empty body fails every decode with KES_INVALIDPARAMETER.
//
// Encoders need a message whose body is empty (tesk2_message_set_header
// done), so that the root lands at offset 0; otherwise KES_INVALIDSTATE. A
// malformed record (a list count above QEL_OPTIONS_LIST_MAX, a string not
// terminated within its capacity) is refused with KES_INVALIDPARAMETER before
// anything is written. Items are then appended in slot order; the first item
// that does not fit ends the encode with KES_MSGSIZE and the message keeps
// the items written before it, so the caller must not send it. A
// configuration or a state always fits; an options record with long names in
// full lists may not.
#pragma once

#include "kes_result.h"
#include "qel_records.h"
#include "tesk2_message.h"

#include <cstdint>

// Header protocol identifier of every manager message.
constexpr uint16_t QEL_MANAGER_PROTOCOL = 0x1001;

// The API version the client sends in CONNECT: a u16 array of this one value
// (body bytes 00 01 00 03).
constexpr uint16_t QEL_CLIENT_API_VERSION = 3;

// Requests (CONNECT and DISCONNECT are the control protocol's own opcodes).
constexpr uint16_t QEL_OPCODE_SET_CONFIG = 0x0110;         // configuration; answer: state
constexpr uint16_t QEL_OPCODE_CLEAR_SYSTEM_ERROR = 0x0111; // empty; answer: state

// Events from the manager.
constexpr uint16_t QEL_EVENT_OPTIONS = 0x0100; // options record
constexpr uint16_t QEL_EVENT_STATE = 0x0102;   // state record

// The manager's own response statuses.
constexpr uint16_t QEL_STATUS_INVALID_API = 0x0100;
constexpr uint16_t QEL_STATUS_INVALID_DATA = 0x0101;
constexpr uint16_t QEL_STATUS_INVALID_STATE = 0x0102;
constexpr uint16_t QEL_STATUS_SYSTEM_ERROR = 0x0103;

// Decoders.
kes_result qel_info_decode(const tesk2_message* msg, qel_info* info);
kes_result qel_options_decode(const tesk2_message* msg, qel_options* options);
// Decodes the configuration structure at body offset `offset` (0 for the body
// of a SET CONFIG request).
kes_result qel_config_decode(const tesk2_message* msg, uint16_t offset, qel_config* config);
kes_result qel_state_decode(const tesk2_message* msg, qel_state* state);

// Encoders: the client sends configurations; the other records are what the
// manager sends, written here for the manager side and for tests.
kes_result qel_config_encode(const qel_config* config, tesk2_message* msg);
kes_result qel_info_encode(const qel_info* info, tesk2_message* msg);
kes_result qel_options_encode(const qel_options* options, tesk2_message* msg);
kes_result qel_state_encode(const qel_state* state, tesk2_message* msg);

// The display name of a response status: "Invalid API", "Invalid Data",
// "Invalid State", "System error" for the manager's own statuses, otherwise
// tesk2_status_name's. Only the low 16 bits of `status` count.
const char* qel_status_name(uint32_t status);
