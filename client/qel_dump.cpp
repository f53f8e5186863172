// The dumps build every list into one bounded text and write each line with
// one kes_log_printf at Debug level. Lists are walked up to their count but
// never past their 16 slots, and strings are copied out within their capacity
// before they are printed, so a malformed record cannot make a dump read out
// of bounds; the count printed is the record's own.
#include "qel_dump.h"

#include "kes_text.h"

#include <cstdarg>
#include <cstring>

namespace {

// The size of a list text and of a rendered wide string, terminator included.
constexpr size_t k_text_size = 512;

const char* const k_prefix = "  ";

template <typename List> size_t usable_count(const List& list) {
    return list.count < QEL_OPTIONS_LIST_MAX ? list.count : QEL_OPTIONS_LIST_MAX;
}

// A list rendered item by item: "," before every item but the first; once
// the text is full the remaining items are dropped.
struct list_text {
    char text[k_text_size];
    size_t length;
};

void list_start(list_text* list) {
    list->text[0] = '\0';
    list->length = 0;
}

const char* separator(size_t index) {
    return index == 0 ? "" : ",";
}

// Appends one item; the format's first conversion takes the separator.
__attribute__((format(printf, 2, 3))) void list_append(list_text* list, const char* format, ...) {
    size_t room = k_text_size - list->length;
    if (room <= 1) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    int written = kes_vsnprintf(list->text + list->length, room, format, arguments);
    va_end(arguments);
    if (written > 0) {
        size_t added = static_cast<size_t>(written);
        list->length += added < room - 1 ? added : room - 1;
    }
}

template <typename List> void list_values(list_text* list, const List& values) {
    list_start(list);
    size_t count = usable_count(values);
    for (size_t i = 0; i < count; ++i) {
        list_append(list, "%s%u", separator(i), static_cast<unsigned>(values.entries[i]));
    }
}

// A narrow string field copied up to its terminator, or up to N - 1
// characters when it has none.
template <size_t N> void copy_text(const char (&source)[N], char (&destination)[N]) {
    const void* end = std::memchr(source, '\0', N);
    size_t length =
        end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - source) : N - 1;
    std::memcpy(destination, source, length);
    destination[length] = '\0';
}

// A wide string field rendered as 8-bit text into k_text_size bytes, read no
// further than its N units.
template <size_t N>
void render_wide(const char16_t (&source)[N], char (&destination)[k_text_size]) {
    char16_t units[N];
    size_t length = 0;
    while (length < N - 1 && source[length] != 0) {
        units[length] = source[length];
        ++length;
    }
    units[length] = 0;
    kes_utf16_to_text(units, destination, k_text_size);
}

// Lists are not even rendered when no destination takes Debug lines.
bool debug_enabled(const kes_log* log) {
    return log != nullptr && log->overall >= KES_LOG_DEBUG;
}

const char* audio_interface_name(uint32_t audio_interface) {
    switch (audio_interface) {
    case QEL_AUDIO_INTERFACE_ASIO:
        return "ASIO";
    case QEL_AUDIO_INTERFACE_WDM:
        return "WDM";
    default:
        return "?";
    }
}

} // namespace

void qel_options_dump(kes_log* log, const qel_options* options) {
    if (options == nullptr || !debug_enabled(log)) {
        return;
    }
    list_text list;

    list_values(&list, options->channel_counts);
    kes_log_printf(log, KES_LOG_DEBUG, "%sChannel Counts (%u): %s\n", k_prefix,
                   static_cast<unsigned>(options->channel_counts.count), list.text);

    list_start(&list);
    size_t count = usable_count(options->interfaces);
    for (size_t i = 0; i < count; ++i) {
        char name[k_text_size];
        render_wide(options->interfaces.entries[i].name, name);
        list_append(&list, "%s%s", separator(i), name);
    }
    kes_log_printf(log, KES_LOG_DEBUG, "%sInterfaces (%u): %s\n", k_prefix,
                   static_cast<unsigned>(options->interfaces.count), list.text);

    list_start(&list);
    count = usable_count(options->sample_rates);
    for (size_t i = 0; i < count; ++i) {
        const qel_sample_rate& rate = options->sample_rates.entries[i];
        list_append(&list, "%s%u(%u)", separator(i), static_cast<unsigned>(rate.rate_hz),
                    static_cast<unsigned>(rate.max_channels));
    }
    kes_log_printf(log, KES_LOG_DEBUG, "%sSample Rates (%u): %s\n", k_prefix,
                   static_cast<unsigned>(options->sample_rates.count), list.text);

    list_values(&list, options->sample_formats);
    kes_log_printf(log, KES_LOG_DEBUG, "%sSample Formats (%u): %s\n", k_prefix,
                   static_cast<unsigned>(options->sample_formats.count), list.text);

    list_start(&list);
    count = usable_count(options->latencies);
    for (size_t i = 0; i < count; ++i) {
        const qel_latency& latency = options->latencies.entries[i];
        char name[QEL_LATENCY_NAME_SIZE];
        copy_text(latency.name, name);
        list_append(&list, "%s%s(%uus)", separator(i), name,
                    static_cast<unsigned>(latency.latency_us));
    }
    kes_log_printf(log, KES_LOG_DEBUG, "%sLatencies (%u): %s\n", k_prefix,
                   static_cast<unsigned>(options->latencies.count), list.text);

    list_values(&list, options->asio_buffer_sizes);
    kes_log_printf(log, KES_LOG_DEBUG, "%sAsio Buffer Sizes: %s\n", k_prefix, list.text);

    list_values(&list, options->asio_encodings);
    kes_log_printf(log, KES_LOG_DEBUG, "%sAsio Encodings: %s\n", k_prefix, list.text);

    list_values(&list, options->asio_latencies);
    kes_log_printf(log, KES_LOG_DEBUG, "%sAsio Latencies: %s\n", k_prefix, list.text);
}

void qel_config_dump(kes_log* log, const qel_config* config, const char* prefix) {
    if (config == nullptr || !debug_enabled(log)) {
        return;
    }
    if (prefix == nullptr) {
        prefix = "";
    }
    char name[k_text_size];
    render_wide(config->interface.name, name);
    char latency[QEL_LATENCY_NAME_SIZE];
    copy_text(config->latency, latency);
    const uint8_t* mac = config->interface.mac;

    kes_log_printf(log, KES_LOG_DEBUG, "%sChannels: %u\n", prefix,
                   static_cast<unsigned>(config->channels));
    kes_log_printf(log, KES_LOG_DEBUG, "%sInterface Name: %s\n", prefix, name);
    kes_log_printf(log, KES_LOG_DEBUG, "%sInterface Address: %02x:%02x:%02x:%02x:%02x:%02x\n",
                   prefix, static_cast<unsigned>(mac[0]), static_cast<unsigned>(mac[1]),
                   static_cast<unsigned>(mac[2]), static_cast<unsigned>(mac[3]),
                   static_cast<unsigned>(mac[4]), static_cast<unsigned>(mac[5]));
    kes_log_printf(log, KES_LOG_DEBUG, "%sSample Rate: %u\n", prefix,
                   static_cast<unsigned>(config->sample_rate_hz));
    kes_log_printf(log, KES_LOG_DEBUG, "%sSample Format: %u\n", prefix,
                   static_cast<unsigned>(config->sample_format));
    kes_log_printf(log, KES_LOG_DEBUG, "%sLatency: %s\n", prefix, latency);
    kes_log_printf(log, KES_LOG_DEBUG, "%sWant to Run: %s\n", prefix,
                   config->want_to_run != 0 ? "true" : "false");
    kes_log_printf(log, KES_LOG_DEBUG, "%sAudioInterface=%s\n", prefix,
                   audio_interface_name(config->audio_interface));
    if (config->audio_interface == QEL_AUDIO_INTERFACE_ASIO) {
        kes_log_printf(log, KES_LOG_DEBUG, "%sAsio Buffer Size: %u\n", prefix,
                       static_cast<unsigned>(config->asio_buffer_size));
        kes_log_printf(log, KES_LOG_DEBUG, "%sAsio Encoding: %u\n", prefix,
                       static_cast<unsigned>(config->asio_encoding));
        kes_log_printf(log, KES_LOG_DEBUG, "%sAsio Latency: %uus\n", prefix,
                       static_cast<unsigned>(config->asio_latency_us));
    }
}

void qel_state_dump(kes_log* log, const qel_state* state) {
    if (state == nullptr || !debug_enabled(log)) {
        return;
    }
    char config_prefix[8];
    kes_snprintf(config_prefix, sizeof config_prefix, "%s  ", k_prefix);
    char device[QEL_DEVICE_NAME_SIZE];
    copy_text(state->device_name, device);
    char process[k_text_size];
    render_wide(state->dll_process_name, process);
    const uint8_t* ip = state->ip_address;

    kes_log_printf(log, KES_LOG_DEBUG, "%sConfig:\n", k_prefix);
    qel_config_dump(log, &state->config, config_prefix);
    kes_log_printf(log, KES_LOG_DEBUG, "%sConfig lock flags: 0x%04x\n", k_prefix,
                   static_cast<unsigned>(state->config_lock_flags));
    kes_log_printf(log, KES_LOG_DEBUG, "%sDevice Name: %s\n", k_prefix, device);
    kes_log_printf(log, KES_LOG_DEBUG, "%sLink up: %s\n", k_prefix,
                   state->link_up != 0 ? "Up" : "Down");
    kes_log_printf(log, KES_LOG_DEBUG, "%sLink Speed: %uM/s\n", k_prefix,
                   static_cast<unsigned>(state->link_speed));
    kes_log_printf(log, KES_LOG_DEBUG, "%sIp Address: %u.%u.%u.%u\n", k_prefix,
                   static_cast<unsigned>(ip[0]), static_cast<unsigned>(ip[1]),
                   static_cast<unsigned>(ip[2]), static_cast<unsigned>(ip[3]));
    // A code in no catalogue row has no name; the formatter prints "(null)".
    kes_log_printf(log, KES_LOG_DEBUG, "%sSystem Error: %u (%s)\n", k_prefix,
                   static_cast<unsigned>(state->system_error),
                   qel_system_error_name(state->system_error));
    kes_log_printf(log, KES_LOG_DEBUG, "%sDLL Process Name: %s\n", k_prefix, process);
}
