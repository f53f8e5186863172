// The status JSON of `qel-manager ctl status`.
#include "manager_status.h"

#include "options_file.h"

#include "kes_text.h"
#include "qel_records.h"

#include <nlohmann/json.hpp>

#include <cstring>

namespace {

using nlohmann::json;

std::string narrow(const char* text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

json configJson(const qel_config& config) {
    const char* audio = config.audio_interface == QEL_AUDIO_INTERFACE_ASIO  ? "ASIO"
                        : config.audio_interface == QEL_AUDIO_INTERFACE_WDM ? "WDM"
                                                                            : "?";
    return json{
        {"channels", config.channels},
        {"interface",
         {{"name", managerUtf16ToUtf8(config.interface.name, QEL_INTERFACE_NAME_SIZE)},
          {"mac", formatMac(config.interface.mac)}}},
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
    size_t length = 0;
    while (length < capacity && text[length] != 0) {
        ++length;
    }
    return utf16ToUtf8(std::u16string(text, length));
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
             {"mac", formatMac(offered.mac)},
             {"link_up", offered.linkUp},
             {"speed_mbps", offered.speedMbps},
             {"ip_address", formatIpv4(offered.ipv4)}});
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
          {"ip_address", formatIpv4(state.ip_address)},
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
