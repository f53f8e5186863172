// Validity, equality and lookups over the manager's records, and the
// system-error catalogue. Every list is read up to its count, but never past
// its 16 slots: a record with a larger count (which the decoder never stores)
// still cannot make a search read out of bounds.
#include "qel_records.h"

#include <cstring>

namespace {

template <typename List> size_t usable_count(const List& list) {
    return list.count < QEL_OPTIONS_LIST_MAX ? list.count : QEL_OPTIONS_LIST_MAX;
}

template <typename List, typename Value> bool list_contains(const List& list, Value value) {
    size_t count = usable_count(list);
    for (size_t i = 0; i < count; ++i) {
        if (list.entries[i] == value) {
            return true;
        }
    }
    return false;
}

// Value lists: the same count and the same values in the same order.
template <typename List> bool value_lists_equal(const List& a, const List& b) {
    if (a.count != b.count) {
        return false;
    }
    size_t count = usable_count(a);
    for (size_t i = 0; i < count; ++i) {
        if (a.entries[i] != b.entries[i]) {
            return false;
        }
    }
    return true;
}

bool mac_is_zero(const uint8_t* mac) {
    for (size_t i = 0; i < QEL_MAC_SIZE; ++i) {
        if (mac[i] != 0) {
            return false;
        }
    }
    return true;
}

bool mac_equal(const uint8_t* a, const uint8_t* b) {
    return std::memcmp(a, b, QEL_MAC_SIZE) == 0;
}

// Interface names are compared over at most their capacity of 64 units.
bool interface_name_equal(const char16_t* a, const char16_t* b) {
    for (size_t i = 0; i < QEL_INTERFACE_NAME_SIZE; ++i) {
        if (a[i] != b[i]) {
            return false;
        }
        if (a[i] == 0) {
            return true;
        }
    }
    return true;
}

// Latency names are compared byte for byte (so case-sensitively) within
// their capacity.
bool latency_name_equal(const char* a, const char* b) {
    return std::strncmp(a, b, QEL_LATENCY_NAME_SIZE) == 0;
}

bool interface_lists_equal(const qel_interface_list& a, const qel_interface_list& b) {
    if (a.count != b.count) {
        return false;
    }
    size_t count = usable_count(a);
    for (size_t i = 0; i < count; ++i) {
        if (!mac_equal(a.entries[i].mac, b.entries[i].mac) ||
            !interface_name_equal(a.entries[i].name, b.entries[i].name)) {
            return false;
        }
    }
    return true;
}

bool sample_rate_lists_equal(const qel_sample_rate_list& a, const qel_sample_rate_list& b) {
    if (a.count != b.count) {
        return false;
    }
    size_t count = usable_count(a);
    for (size_t i = 0; i < count; ++i) {
        if (a.entries[i].rate_hz != b.entries[i].rate_hz ||
            a.entries[i].max_channels != b.entries[i].max_channels) {
            return false;
        }
    }
    return true;
}

bool latency_lists_equal(const qel_latency_list& a, const qel_latency_list& b) {
    if (a.count != b.count) {
        return false;
    }
    size_t count = usable_count(a);
    for (size_t i = 0; i < count; ++i) {
        if (!latency_name_equal(a.entries[i].name, b.entries[i].name) ||
            a.entries[i].latency_us != b.entries[i].latency_us) {
            return false;
        }
    }
    return true;
}

// Marks a text for the translators; the text itself is the English the
// layers above translate when they show it.
#define N_(text) text

struct system_error_entry {
    uint16_t code;
    const char* name;
    const char* text;
};

// Searched from the top; the first row with the code wins.
const system_error_entry k_system_errors[] = {
    {QEL_SYSTEM_ERROR_NONE, "None", N_("No error")},
    {QEL_SYSTEM_ERROR_MISSING, "Missing", N_("Can't find the manager")},
    {QEL_SYSTEM_ERROR_STOPPED, "Stopped", N_("Manager isn't active")},
    {QEL_SYSTEM_ERROR_MANAGER, "Manager", N_("Qelvane manager failed")},
    {QEL_SYSTEM_ERROR_INVALID_CONFIG, "Invalid Config", N_("Invalid configuration from manager")},
    {QEL_SYSTEM_ERROR_VGR, "Vgr", N_("Can't communicate with Vigrel server")},
    {QEL_SYSTEM_ERROR_DRIVER, "Driver", N_("Audio driver failed")},
    {QEL_SYSTEM_ERROR_DRIVER_MISSING, "Driver Missing", N_("Can't find audio driver")},
    {QEL_SYSTEM_ERROR_DRIVER_STOPPED, "Driver Stopped", N_("Audio driver isn't active")},
    {QEL_SYSTEM_ERROR_DRIVER_STALLED, "Driver Stalled", N_("Audio driver is not responding")},
    {QEL_SYSTEM_ERROR_PTP, "Ptp", N_("PTP failed")},
    {QEL_SYSTEM_ERROR_PTP_MISSING, "Ptp Missing", N_("Can't find PTP program")},
    {QEL_SYSTEM_ERROR_TAVRO, "Tavro", N_("Audio routing system failed")},
    {QEL_SYSTEM_ERROR_TAVRO_MISSING, "Tavro Missing", N_("Can't find audio routing program")},
};

const system_error_entry* find_system_error(uint32_t code) {
    for (const system_error_entry& entry : k_system_errors) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

bool qel_config_is_valid(const qel_options* options, const qel_config* config) {
    if (options == nullptr || config == nullptr) {
        return false;
    }
    if (!list_contains(options->channel_counts, config->channels)) {
        return false;
    }
    // No interface chosen is always acceptable; the name is never compared.
    if (!mac_is_zero(config->interface.mac) &&
        qel_options_find_interface_by_mac(options, config->interface.mac) == nullptr) {
        return false;
    }
    const qel_sample_rate* rate = qel_options_find_sample_rate(options, config->sample_rate_hz);
    if (rate == nullptr || config->channels > rate->max_channels) {
        return false;
    }
    if (!list_contains(options->sample_formats, config->sample_format)) {
        return false;
    }
    if (qel_options_find_latency_by_name(options, config->latency) == nullptr) {
        return false;
    }
    if (config->audio_interface != QEL_AUDIO_INTERFACE_ASIO &&
        config->audio_interface != QEL_AUDIO_INTERFACE_WDM) {
        return false;
    }
    // The ASIO values must be offered even for a WDM configuration.
    if (!list_contains(options->asio_buffer_sizes, config->asio_buffer_size)) {
        return false;
    }
    if (!list_contains(options->asio_encodings, config->asio_encoding)) {
        return false;
    }
    return list_contains(options->asio_latencies, config->asio_latency_us);
}

bool qel_options_equal(const qel_options* a, const qel_options* b) {
    if (a == nullptr || b == nullptr) {
        return false;
    }
    return value_lists_equal(a->channel_counts, b->channel_counts) &&
           interface_lists_equal(a->interfaces, b->interfaces) &&
           sample_rate_lists_equal(a->sample_rates, b->sample_rates) &&
           value_lists_equal(a->sample_formats, b->sample_formats) &&
           latency_lists_equal(a->latencies, b->latencies) &&
           value_lists_equal(a->asio_latencies, b->asio_latencies) &&
           value_lists_equal(a->asio_buffer_sizes, b->asio_buffer_sizes) &&
           value_lists_equal(a->asio_encodings, b->asio_encodings);
}

const qel_interface* qel_options_find_interface_by_mac(const qel_options* options,
                                                       const uint8_t* mac) {
    if (options == nullptr || mac == nullptr) {
        return nullptr;
    }
    size_t count = usable_count(options->interfaces);
    for (size_t i = 0; i < count; ++i) {
        if (mac_equal(options->interfaces.entries[i].mac, mac)) {
            return &options->interfaces.entries[i];
        }
    }
    return nullptr;
}

const qel_interface* qel_options_find_interface_by_name(const qel_options* options,
                                                        const char16_t* name) {
    if (options == nullptr || name == nullptr) {
        return nullptr;
    }
    size_t count = usable_count(options->interfaces);
    for (size_t i = 0; i < count; ++i) {
        if (interface_name_equal(options->interfaces.entries[i].name, name)) {
            return &options->interfaces.entries[i];
        }
    }
    return nullptr;
}

const qel_sample_rate* qel_options_find_sample_rate(const qel_options* options, uint32_t rate_hz) {
    if (options == nullptr) {
        return nullptr;
    }
    size_t count = usable_count(options->sample_rates);
    for (size_t i = 0; i < count; ++i) {
        if (options->sample_rates.entries[i].rate_hz == rate_hz) {
            return &options->sample_rates.entries[i];
        }
    }
    return nullptr;
}

const qel_latency* qel_options_find_latency_by_name(const qel_options* options, const char* name) {
    if (options == nullptr || name == nullptr) {
        return nullptr;
    }
    size_t count = usable_count(options->latencies);
    for (size_t i = 0; i < count; ++i) {
        if (latency_name_equal(options->latencies.entries[i].name, name)) {
            return &options->latencies.entries[i];
        }
    }
    return nullptr;
}

const qel_latency* qel_options_find_latency_by_us(const qel_options* options, uint32_t latency_us) {
    if (options == nullptr) {
        return nullptr;
    }
    size_t count = usable_count(options->latencies);
    for (size_t i = 0; i < count; ++i) {
        if (options->latencies.entries[i].latency_us == latency_us) {
            return &options->latencies.entries[i];
        }
    }
    return nullptr;
}

const char* qel_system_error_text(uint32_t code) {
    const system_error_entry* entry = find_system_error(code);
    return entry != nullptr ? entry->text : nullptr;
}

const char* qel_system_error_name(uint32_t code) {
    const system_error_entry* entry = find_system_error(code);
    return entry != nullptr ? entry->name : nullptr;
}
