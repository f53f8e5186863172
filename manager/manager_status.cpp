// The status JSON of `qel-manager ctl status`.
#include "manager_status.h"

#include "kes_text.h"
#include "qel_records.h"

#include <nlohmann/json.hpp>

#include <cstring>

namespace {

using nlohmann::json;

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string narrow(const char* text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

std::string macText(const uint8_t* mac) {
    char text[18];
    kes_snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                 mac[4], mac[5]);
    return text;
}

std::string ipText(const uint8_t* ip) {
    char text[16];
    kes_snprintf(text, sizeof text, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

json configJson(const qel_config& config) {
    const char* audio = config.audio_interface == QEL_AUDIO_INTERFACE_ASIO  ? "ASIO"
                        : config.audio_interface == QEL_AUDIO_INTERFACE_WDM ? "WDM"
                                                                            : "?";
    return json{
        {"channels", config.channels},
        {"interface",
         {{"name", managerUtf16ToUtf8(config.interface.name, QEL_INTERFACE_NAME_SIZE)},
          {"mac", macText(config.interface.mac)}}},
        {"sample_rate_hz", config.sample_rate_hz},
        {"sample_format", config.sample_format},
        {"latency", narrow(config.latency, sizeof config.latency)},
        {"want_to_run", config.want_to_run != 0},
        {"audio_interface", audio},
        {"asio_latency_us", config.asio_latency_us},
        {"asio_buffer_size", config.asio_buffer_size},
        {"asio_encoding", config.asio_encoding},
    };
}

} // namespace

std::string managerUtf16ToUtf8(const char16_t* text, size_t capacity) {
    std::string out;
    for (size_t i = 0; i < capacity && text[i] != 0; ++i) {
        uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < capacity && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        appendUtf8(out, unit);
    }
    return out;
}

std::string managerStatusJson(const ManagerCore& core, uint16_t port) {
    const qel_state& state = core.state();
    const char* errorName = qel_system_error_name(state.system_error);
    char flags[8];
    kes_snprintf(flags, sizeof flags, "0x%04x", static_cast<unsigned>(state.config_lock_flags));
    char code[8];
    kes_snprintf(code, sizeof code, "0x%04x", static_cast<unsigned>(state.system_error));

    json interfaces = json::array();
    for (const auto& offered : core.interfaces()) {
        interfaces.push_back(
            {{"name", managerUtf16ToUtf8(offered.name.c_str(), offered.name.size() + 1)},
             {"mac", macText(offered.mac)},
             {"link_up", offered.linkUp},
             {"speed_mbps", offered.speedMbps},
             {"ip_address", ipText(offered.ipv4)}});
    }

    kes_time now{};
    kes_time_now(&now);
    json clients = json::array();
    for (const auto& session : core.sessions()) {
        kes_time idle = now;
        kes_time_subtract(&idle, &session.lastHeard);
        char id[TESK2_CLIENT_ID_TEXT_SIZE];
        clients.push_back({{"address", managerAddressText(session.address)},
                           {"client_id", tesk2_client_id_to_text(&session.id, id)},
                           {"idle_seconds", idle.seconds < 0 ? 0 : idle.seconds},
                           {"events_sent", session.eventsSent}});
    }

    const ManagerFaults& faults = core.faults();
    json status{
        {"port", port},
        {"configuration", configJson(core.config())},
        {"state",
         {{"config_lock_flags", flags},
          {"system_error", code},
          {"system_error_name", errorName != nullptr ? errorName : "?"},
          {"link_up", state.link_up != 0},
          {"link_speed", state.link_speed},
          {"ip_address", ipText(state.ip_address)},
          {"device_name", narrow(state.device_name, sizeof state.device_name)},
          {"dll_process_name",
           managerUtf16ToUtf8(state.dll_process_name, QEL_DLL_PROCESS_NAME_SIZE)}}},
        {"interfaces", interfaces},
        {"modes",
         {{"silent", faults.silent},
          {"notconnected", faults.notConnected},
          {"refuse", faults.refuse},
          {"link_forced_down", core.linkForcedDown()}}},
        {"clients", clients},
    };
    return status.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
