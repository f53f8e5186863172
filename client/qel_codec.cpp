// The manager records in message bodies. Each record has one layout, written
// by one encoder and read by one decoder; every body access goes through the
// checked item functions of tesk2_body.h, so a hostile body can at worst make
// a decode fail, never make it read outside the used body.
#include "qel_codec.h"

#include "tesk2_body.h"

#include <cstring>

namespace {

// Minimum slot counts. Entry structures of the lists have no minimum: a
// missing slot leaves its field zero.
constexpr uint16_t INFO_SLOTS = 6;
constexpr uint16_t OPTIONS_SLOTS = 6;
constexpr uint16_t ASIO_OPTIONS_SLOTS = 4;
constexpr uint16_t CONFIG_SLOTS = 7;
constexpr uint16_t ASIO_CONFIG_SLOTS = 4;
constexpr uint16_t STATE_SLOTS = 8;
constexpr uint16_t STATE_EXTRA_SLOTS = 1;
// Slots the encoders give each entry structure (the interface structure of a
// configuration included).
constexpr uint16_t ENTRY_SLOTS = 2;

constexpr uint16_t LIST_MAX = static_cast<uint16_t>(QEL_OPTIONS_LIST_MAX);

uint16_t list_count(uint16_t wire) {
    return wire < LIST_MAX ? wire : LIST_MAX;
}

// ---- Reading ----

// Opens the structure at `offset` and requires `minimum` slots.
kes_result open_struct(const tesk2_reader* msg, uint16_t offset, uint16_t minimum,
                       tesk2_struct* handle) {
    kes_result result = tesk2_reader_get_struct(msg, offset, handle);
    if (result != KES_SUCCESS) {
        return result;
    }
    return handle->count < minimum ? KES_NODATA : KES_SUCCESS;
}

// Opens the structure whose offset is held in slot `index` of `parent`.
kes_result open_struct_at(const tesk2_reader* msg, const tesk2_struct& parent, uint16_t index,
                          uint16_t minimum, tesk2_struct* handle) {
    uint16_t offset = 0;
    kes_result result = tesk2_reader_get_slot(msg, &parent, index, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    return open_struct(msg, offset, minimum, handle);
}

kes_result read_u32_at(const tesk2_reader* msg, const tesk2_struct& s, uint16_t index,
                       uint32_t* value) {
    uint16_t offset = 0;
    kes_result result = tesk2_reader_get_slot(msg, &s, index, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    return tesk2_reader_get_u32(msg, offset, value);
}

kes_result read_string_at(const tesk2_reader* msg, const tesk2_struct& s, uint16_t index,
                          char* destination, size_t capacity) {
    uint16_t offset = 0;
    kes_result result = tesk2_reader_get_slot(msg, &s, index, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    size_t length = capacity;
    return tesk2_reader_get_string(msg, offset, destination, &length);
}

kes_result read_wstring_at(const tesk2_reader* msg, const tesk2_struct& s, uint16_t index,
                           char16_t* destination, size_t capacity) {
    uint16_t offset = 0;
    kes_result result = tesk2_reader_get_slot(msg, &s, index, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    size_t length = capacity;
    return tesk2_reader_get_wstring(msg, offset, destination, &length);
}

kes_result read_bytes_at(const tesk2_reader* msg, const tesk2_struct& s, uint16_t index,
                         uint8_t* destination, uint16_t count) {
    uint16_t offset = 0;
    kes_result result = tesk2_reader_get_slot(msg, &s, index, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    return tesk2_reader_get_bytes(msg, offset, count, destination);
}

kes_result read_u16_list_at(const tesk2_reader* msg, const tesk2_struct& s, uint16_t index,
                            qel_u16_list* list) {
    uint16_t offset = 0;
    kes_result result = tesk2_reader_get_slot(msg, &s, index, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    uint16_t count = LIST_MAX;
    result = tesk2_reader_get_u16_array(msg, offset, &count, list->entries);
    if (result == KES_SUCCESS) {
        list->count = list_count(count);
    }
    return result;
}

kes_result read_u32_list_at(const tesk2_reader* msg, const tesk2_struct& s, uint16_t index,
                            qel_u32_list* list) {
    uint16_t offset = 0;
    kes_result result = tesk2_reader_get_slot(msg, &s, index, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    uint16_t count = LIST_MAX;
    result = tesk2_reader_get_u32_array(msg, offset, &count, list->entries);
    if (result == KES_SUCCESS) {
        list->count = list_count(count);
    }
    return result;
}

kes_result read_interface(const tesk2_reader* msg, const tesk2_struct& s, qel_interface* entry) {
    kes_result result = KES_SUCCESS;
    if (s.count > 0) {
        result = read_wstring_at(msg, s, 0, entry->name, QEL_INTERFACE_NAME_SIZE);
    }
    if (result == KES_SUCCESS && s.count > 1) {
        result = read_bytes_at(msg, s, 1, entry->mac, QEL_MAC_SIZE);
    }
    return result;
}

kes_result read_sample_rate(const tesk2_reader* msg, const tesk2_struct& s,
                            qel_sample_rate* entry) {
    kes_result result = KES_SUCCESS;
    if (s.count > 0) {
        result = read_u32_at(msg, s, 0, &entry->rate_hz);
    }
    if (result == KES_SUCCESS && s.count > 1) {
        result = tesk2_reader_get_slot(msg, &s, 1, &entry->max_channels);
    }
    return result;
}

kes_result read_latency(const tesk2_reader* msg, const tesk2_struct& s, qel_latency* entry) {
    kes_result result = KES_SUCCESS;
    if (s.count > 0) {
        result = read_string_at(msg, s, 0, entry->name, QEL_LATENCY_NAME_SIZE);
    }
    if (result == KES_SUCCESS && s.count > 1) {
        result = read_u32_at(msg, s, 1, &entry->latency_us);
    }
    return result;
}

// Reads the list structure whose offset is in slot `index` of `parent`: one
// entry structure per slot, at most LIST_MAX of them. An entry counts as soon
// as it is begun, so entries past the count stay zero even when a decode
// fails half-way through one.
template <typename List, typename ReadEntry>
kes_result read_list_at(const tesk2_reader* msg, const tesk2_struct& parent, uint16_t index,
                        List* list, ReadEntry read_entry) {
    tesk2_struct slots{};
    kes_result result = open_struct_at(msg, parent, index, 0, &slots);
    uint16_t n = list_count(slots.count);
    for (uint16_t i = 0; result == KES_SUCCESS && i < n; ++i) {
        tesk2_struct entry{};
        result = open_struct_at(msg, slots, i, 0, &entry);
        if (result == KES_SUCCESS) {
            list->count = static_cast<uint16_t>(i + 1);
            result = read_entry(msg, entry, &list->entries[i]);
        }
    }
    return result;
}

// Fills a zero-filled configuration from the structure at `offset`.
kes_result read_config(const tesk2_reader* msg, uint16_t offset, qel_config* config) {
    tesk2_struct root{};
    kes_result result = open_struct(msg, offset, CONFIG_SLOTS, &root);
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(msg, &root, 0, &config->channels);
    }
    if (result == KES_SUCCESS) {
        tesk2_struct iface{};
        result = open_struct_at(msg, root, 1, 0, &iface);
        if (result == KES_SUCCESS) {
            result = read_interface(msg, iface, &config->interface);
        }
    }
    if (result == KES_SUCCESS) {
        result = read_u32_at(msg, root, 2, &config->sample_rate_hz);
    }
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(msg, &root, 3, &config->sample_format);
    }
    if (result == KES_SUCCESS) {
        result = read_string_at(msg, root, 4, config->latency, QEL_LATENCY_NAME_SIZE);
    }
    uint16_t value = 0;
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(msg, &root, 5, &value);
        config->want_to_run = value != 0 ? 1 : 0;
    }
    tesk2_struct asio{};
    if (result == KES_SUCCESS) {
        result = open_struct_at(msg, root, 6, ASIO_CONFIG_SLOTS, &asio);
    }
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(msg, &asio, 0, &value);
        config->audio_interface = value;
    }
    if (result == KES_SUCCESS) {
        result = read_u32_at(msg, asio, 1, &config->asio_buffer_size);
    }
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(msg, &asio, 2, &config->asio_encoding);
    }
    if (result == KES_SUCCESS) {
        result = read_u32_at(msg, asio, 3, &config->asio_latency_us);
    }
    return result;
}

// ---- Writing ----

// Checks that a narrow or wide text is terminated within its capacity.
template <typename Unit> bool terminated(const Unit* text, size_t capacity) {
    for (size_t i = 0; i < capacity; ++i) {
        if (text[i] == 0) {
            return true;
        }
    }
    return false;
}

bool config_is_writable(const qel_config* config) {
    return terminated(config->interface.name, QEL_INTERFACE_NAME_SIZE) &&
           terminated(config->latency, QEL_LATENCY_NAME_SIZE);
}

bool options_are_writable(const qel_options* options) {
    const uint16_t counts[] = {options->channel_counts.count,    options->interfaces.count,
                               options->sample_rates.count,      options->sample_formats.count,
                               options->latencies.count,         options->asio_latencies.count,
                               options->asio_buffer_sizes.count, options->asio_encodings.count};
    for (uint16_t count : counts) {
        if (count > LIST_MAX) {
            return false;
        }
    }
    for (uint16_t i = 0; i < options->interfaces.count; ++i) {
        if (!terminated(options->interfaces.entries[i].name, QEL_INTERFACE_NAME_SIZE)) {
            return false;
        }
    }
    for (uint16_t i = 0; i < options->latencies.count; ++i) {
        if (!terminated(options->latencies.entries[i].name, QEL_LATENCY_NAME_SIZE)) {
            return false;
        }
    }
    return true;
}

// The common checks of the public encoders: both arguments present and an
// empty body, so that the root structure lands at offset 0.
kes_result begin_encode(const void* record, tesk2_message* msg) {
    if (record == nullptr || msg == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    return tesk2_message_body_size(msg) == 0 ? KES_SUCCESS : KES_INVALIDSTATE;
}

// Each put_*_into appends one item and stores its offset in slot `index`.

kes_result put_struct_into(tesk2_message* msg, const tesk2_struct& parent, uint16_t index,
                           uint16_t count, tesk2_struct* handle) {
    kes_result result = tesk2_message_put_struct(msg, count, handle);
    if (result != KES_SUCCESS) {
        return result;
    }
    return tesk2_struct_set_slot(msg, &parent, index, handle->offset);
}

kes_result put_u32_into(tesk2_message* msg, const tesk2_struct& s, uint16_t index, uint32_t value) {
    uint16_t offset = 0;
    kes_result result = tesk2_message_put_u32(msg, value, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    return tesk2_struct_set_slot(msg, &s, index, offset);
}

kes_result put_string_into(tesk2_message* msg, const tesk2_struct& s, uint16_t index,
                           const char* text) {
    uint16_t offset = 0;
    kes_result result = tesk2_message_put_string(msg, text, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    return tesk2_struct_set_slot(msg, &s, index, offset);
}

kes_result put_wstring_into(tesk2_message* msg, const tesk2_struct& s, uint16_t index,
                            const char16_t* text) {
    uint16_t offset = 0;
    kes_result result = tesk2_message_put_wstring(msg, text, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    return tesk2_struct_set_slot(msg, &s, index, offset);
}

kes_result put_bytes_into(tesk2_message* msg, const tesk2_struct& s, uint16_t index,
                          const uint8_t* bytes, uint16_t count) {
    uint16_t offset = 0;
    kes_result result = tesk2_message_put_bytes(msg, count, bytes, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    return tesk2_struct_set_slot(msg, &s, index, offset);
}

kes_result put_u16_list_into(tesk2_message* msg, const tesk2_struct& s, uint16_t index,
                             const qel_u16_list& list) {
    uint16_t offset = 0;
    kes_result result = tesk2_message_put_u16_array(msg, list.count, list.entries, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    return tesk2_struct_set_slot(msg, &s, index, offset);
}

kes_result put_u32_list_into(tesk2_message* msg, const tesk2_struct& s, uint16_t index,
                             const qel_u32_list& list) {
    uint16_t offset = 0;
    kes_result result = tesk2_message_put_u32_array(msg, list.count, list.entries, &offset);
    if (result != KES_SUCCESS) {
        return result;
    }
    return tesk2_struct_set_slot(msg, &s, index, offset);
}

// An interface structure: slot 0 its wide name, slot 1 its 6-byte MAC.
kes_result write_interface(tesk2_message* msg, const tesk2_struct& entry,
                           const qel_interface& iface) {
    kes_result result = put_wstring_into(msg, entry, 0, iface.name);
    if (result != KES_SUCCESS) {
        return result;
    }
    return put_bytes_into(msg, entry, 1, iface.mac, QEL_MAC_SIZE);
}

kes_result write_sample_rate(tesk2_message* msg, const tesk2_struct& entry,
                             const qel_sample_rate& rate) {
    kes_result result = tesk2_struct_set_slot(msg, &entry, 1, rate.max_channels);
    if (result != KES_SUCCESS) {
        return result;
    }
    return put_u32_into(msg, entry, 0, rate.rate_hz);
}

kes_result write_latency(tesk2_message* msg, const tesk2_struct& entry,
                         const qel_latency& latency) {
    kes_result result = put_string_into(msg, entry, 0, latency.name);
    if (result != KES_SUCCESS) {
        return result;
    }
    return put_u32_into(msg, entry, 1, latency.latency_us);
}

// A list structure in slot `index` of `parent`, then each entry structure
// followed by its items.
template <typename List, typename WriteEntry>
kes_result write_list_into(tesk2_message* msg, const tesk2_struct& parent, uint16_t index,
                           const List& list, WriteEntry write_entry) {
    tesk2_struct slots{};
    kes_result result = put_struct_into(msg, parent, index, list.count, &slots);
    for (uint16_t i = 0; result == KES_SUCCESS && i < list.count; ++i) {
        tesk2_struct entry{};
        result = put_struct_into(msg, slots, i, ENTRY_SLOTS, &entry);
        if (result == KES_SUCCESS) {
            result = write_entry(msg, entry, list.entries[i]);
        }
    }
    return result;
}

// Appends a configuration structure and its items, in this order: the
// structure (7 slots), the interface structure with its name and MAC, the
// sample rate, the latency name, the ASIO structure (4 slots) with its buffer
// size and latency. Each offset slot is set as soon as its item is written.
// The structure goes wherever the body ends; its offset is reported.
kes_result write_config(tesk2_message* msg, const qel_config* config, uint16_t* offset) {
    tesk2_struct root{};
    kes_result result = tesk2_message_put_struct(msg, CONFIG_SLOTS, &root);
    if (result != KES_SUCCESS) {
        return result;
    }
    *offset = root.offset;
    tesk2_struct_set_slot(msg, &root, 0, config->channels);
    tesk2_struct_set_slot(msg, &root, 3, config->sample_format);
    tesk2_struct_set_slot(msg, &root, 5, static_cast<uint16_t>(config->want_to_run & 0xFFFF));

    tesk2_struct iface{};
    result = put_struct_into(msg, root, 1, ENTRY_SLOTS, &iface);
    if (result == KES_SUCCESS) {
        result = write_interface(msg, iface, config->interface);
    }
    if (result == KES_SUCCESS) {
        result = put_u32_into(msg, root, 2, config->sample_rate_hz);
    }
    if (result == KES_SUCCESS) {
        result = put_string_into(msg, root, 4, config->latency);
    }
    tesk2_struct asio{};
    if (result == KES_SUCCESS) {
        result = put_struct_into(msg, root, 6, ASIO_CONFIG_SLOTS, &asio);
    }
    if (result == KES_SUCCESS) {
        tesk2_struct_set_slot(msg, &asio, 0,
                              static_cast<uint16_t>(config->audio_interface & 0xFFFF));
        tesk2_struct_set_slot(msg, &asio, 2, config->asio_encoding);
        result = put_u32_into(msg, asio, 1, config->asio_buffer_size);
    }
    if (result == KES_SUCCESS) {
        result = put_u32_into(msg, asio, 3, config->asio_latency_us);
    }
    return result;
}

} // namespace

[[gnu::flatten]] kes_result qel_info_decode(const tesk2_message* msg, qel_info* info) {
    if (info == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    std::memset(info, 0, sizeof *info);
    tesk2_reader reader{};
    if (tesk2_reader_init(msg, &reader) != KES_SUCCESS) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_struct root{};
    kes_result result = open_struct(&reader, 0, INFO_SLOTS, &root);
    uint16_t value = 0;
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(&reader, &root, 0, &info->first_value);
    }
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(&reader, &root, 1, &value);
        info->major = static_cast<uint8_t>(value & 0xFF);
    }
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(&reader, &root, 2, &value);
        info->minor = static_cast<uint8_t>(value & 0xFF);
    }
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(&reader, &root, 3, &info->build);
    }
    if (result == KES_SUCCESS) {
        result = read_string_at(&reader, root, 4, info->suffix, QEL_INFO_SUFFIX_SIZE);
    }
    return result;
}

[[gnu::flatten]] kes_result qel_options_decode(const tesk2_message* msg, qel_options* options) {
    if (options == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    std::memset(options, 0, sizeof *options);
    tesk2_reader reader{};
    if (tesk2_reader_init(msg, &reader) != KES_SUCCESS) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_struct root{};
    kes_result result = open_struct(&reader, 0, OPTIONS_SLOTS, &root);
    if (result == KES_SUCCESS) {
        result = read_u16_list_at(&reader, root, 0, &options->channel_counts);
    }
    if (result == KES_SUCCESS) {
        result = read_list_at(&reader, root, 1, &options->interfaces, read_interface);
    }
    if (result == KES_SUCCESS) {
        result = read_list_at(&reader, root, 2, &options->sample_rates, read_sample_rate);
    }
    if (result == KES_SUCCESS) {
        result = read_u16_list_at(&reader, root, 3, &options->sample_formats);
    }
    if (result == KES_SUCCESS) {
        result = read_list_at(&reader, root, 4, &options->latencies, read_latency);
    }
    tesk2_struct asio{};
    if (result == KES_SUCCESS) {
        result = open_struct_at(&reader, root, 5, ASIO_OPTIONS_SLOTS, &asio);
    }
    if (result == KES_SUCCESS) {
        result = read_u32_list_at(&reader, asio, 1, &options->asio_buffer_sizes);
    }
    if (result == KES_SUCCESS) {
        result = read_u16_list_at(&reader, asio, 2, &options->asio_encodings);
    }
    if (result == KES_SUCCESS) {
        result = read_u32_list_at(&reader, asio, 3, &options->asio_latencies);
    }
    return result;
}

[[gnu::flatten]] kes_result qel_config_decode(const tesk2_message* msg, uint16_t offset,
                                              qel_config* config) {
    if (config == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    std::memset(config, 0, sizeof *config);
    tesk2_reader reader{};
    if (tesk2_reader_init(msg, &reader) != KES_SUCCESS) {
        return KES_INVALIDPARAMETER;
    }
    return read_config(&reader, offset, config);
}

[[gnu::flatten]] kes_result qel_state_decode(const tesk2_message* msg, qel_state* state) {
    if (state == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    std::memset(state, 0, sizeof *state);
    tesk2_reader reader{};
    if (tesk2_reader_init(msg, &reader) != KES_SUCCESS) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_struct root{};
    kes_result result = open_struct(&reader, 0, STATE_SLOTS, &root);
    uint16_t value = 0;
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(&reader, &root, 0, &value);
    }
    if (result == KES_SUCCESS) {
        result = read_config(&reader, value, &state->config);
    }
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(&reader, &root, 1, &state->config_lock_flags);
    }
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(&reader, &root, 2, &value);
        state->link_up = value != 0 ? 1 : 0;
    }
    if (result == KES_SUCCESS) {
        result = read_u32_at(&reader, root, 3, &state->link_speed);
    }
    if (result == KES_SUCCESS) {
        result = read_bytes_at(&reader, root, 4, state->ip_address, QEL_IP_ADDRESS_SIZE);
    }
    if (result == KES_SUCCESS) {
        result = read_string_at(&reader, root, 5, state->device_name, QEL_DEVICE_NAME_SIZE);
    }
    if (result == KES_SUCCESS) {
        result = tesk2_reader_get_slot(&reader, &root, 6, &state->system_error);
    }
    tesk2_struct extra{};
    if (result == KES_SUCCESS) {
        result = open_struct_at(&reader, root, 7, STATE_EXTRA_SLOTS, &extra);
    }
    if (result == KES_SUCCESS) {
        result =
            read_wstring_at(&reader, extra, 0, state->dll_process_name, QEL_DLL_PROCESS_NAME_SIZE);
    }
    return result;
}

[[gnu::flatten]] kes_result qel_config_encode(const qel_config* config, tesk2_message* msg) {
    kes_result result = begin_encode(config, msg);
    if (result != KES_SUCCESS) {
        return result;
    }
    if (!config_is_writable(config)) {
        return KES_INVALIDPARAMETER;
    }
    uint16_t offset = 0;
    return write_config(msg, config, &offset);
}

// Root structure of 6 slots: first value, major, minor, build, the offset of
// the suffix, and an unused slot written as 0.
kes_result qel_info_encode(const qel_info* info, tesk2_message* msg) {
    kes_result result = begin_encode(info, msg);
    if (result != KES_SUCCESS) {
        return result;
    }
    if (!terminated(info->suffix, QEL_INFO_SUFFIX_SIZE)) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_struct root{};
    result = tesk2_message_put_struct(msg, INFO_SLOTS, &root);
    if (result != KES_SUCCESS) {
        return result;
    }
    tesk2_struct_set_slot(msg, &root, 0, info->first_value);
    tesk2_struct_set_slot(msg, &root, 1, info->major);
    tesk2_struct_set_slot(msg, &root, 2, info->minor);
    tesk2_struct_set_slot(msg, &root, 3, info->build);
    return put_string_into(msg, root, 4, info->suffix);
}

// Root structure of 6 slots, each list following in slot order; the ASIO
// options structure's unused slot 0 is written as 0, then its buffer sizes,
// encodings and latencies.
kes_result qel_options_encode(const qel_options* options, tesk2_message* msg) {
    kes_result result = begin_encode(options, msg);
    if (result != KES_SUCCESS) {
        return result;
    }
    if (!options_are_writable(options)) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_struct root{};
    result = tesk2_message_put_struct(msg, OPTIONS_SLOTS, &root);
    if (result == KES_SUCCESS) {
        result = put_u16_list_into(msg, root, 0, options->channel_counts);
    }
    if (result == KES_SUCCESS) {
        result = write_list_into(msg, root, 1, options->interfaces, write_interface);
    }
    if (result == KES_SUCCESS) {
        result = write_list_into(msg, root, 2, options->sample_rates, write_sample_rate);
    }
    if (result == KES_SUCCESS) {
        result = put_u16_list_into(msg, root, 3, options->sample_formats);
    }
    if (result == KES_SUCCESS) {
        result = write_list_into(msg, root, 4, options->latencies, write_latency);
    }
    tesk2_struct asio{};
    if (result == KES_SUCCESS) {
        result = put_struct_into(msg, root, 5, ASIO_OPTIONS_SLOTS, &asio);
    }
    if (result == KES_SUCCESS) {
        result = put_u32_list_into(msg, asio, 1, options->asio_buffer_sizes);
    }
    if (result == KES_SUCCESS) {
        result = put_u16_list_into(msg, asio, 2, options->asio_encodings);
    }
    if (result == KES_SUCCESS) {
        result = put_u32_list_into(msg, asio, 3, options->asio_latencies);
    }
    return result;
}

// Root structure of 8 slots, then in slot order: the configuration structure
// (as qel_config_encode writes it), the link speed, the 4-byte address, the
// device name, and the extra structure (1 slot) with the DLL process name.
kes_result qel_state_encode(const qel_state* state, tesk2_message* msg) {
    kes_result result = begin_encode(state, msg);
    if (result != KES_SUCCESS) {
        return result;
    }
    if (!config_is_writable(&state->config) ||
        !terminated(state->device_name, QEL_DEVICE_NAME_SIZE) ||
        !terminated(state->dll_process_name, QEL_DLL_PROCESS_NAME_SIZE)) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_struct root{};
    result = tesk2_message_put_struct(msg, STATE_SLOTS, &root);
    if (result != KES_SUCCESS) {
        return result;
    }
    tesk2_struct_set_slot(msg, &root, 1, state->config_lock_flags);
    tesk2_struct_set_slot(msg, &root, 2, static_cast<uint16_t>(state->link_up & 0xFFFF));
    tesk2_struct_set_slot(msg, &root, 6, state->system_error);

    uint16_t offset = 0;
    result = write_config(msg, &state->config, &offset);
    if (result == KES_SUCCESS) {
        result = tesk2_struct_set_slot(msg, &root, 0, offset);
    }
    if (result == KES_SUCCESS) {
        result = put_u32_into(msg, root, 3, state->link_speed);
    }
    if (result == KES_SUCCESS) {
        result = put_bytes_into(msg, root, 4, state->ip_address, QEL_IP_ADDRESS_SIZE);
    }
    if (result == KES_SUCCESS) {
        result = put_string_into(msg, root, 5, state->device_name);
    }
    tesk2_struct extra{};
    if (result == KES_SUCCESS) {
        result = put_struct_into(msg, root, 7, STATE_EXTRA_SLOTS, &extra);
    }
    if (result == KES_SUCCESS) {
        result = put_wstring_into(msg, extra, 0, state->dll_process_name);
    }
    return result;
}

const char* qel_status_name(uint32_t status) {
    switch (status & 0xFFFF) {
    case QEL_STATUS_INVALID_API:
        return "Invalid API";
    case QEL_STATUS_INVALID_DATA:
        return "Invalid Data";
    case QEL_STATUS_INVALID_STATE:
        return "Invalid State";
    case QEL_STATUS_SYSTEM_ERROR:
        return "System error";
    default:
        return tesk2_status_name(status);
    }
}
