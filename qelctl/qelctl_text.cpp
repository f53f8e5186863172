// Record texts. Lists are read up to their count but never past their 16
// slots, and strings no further than their capacity, whatever the record
// holds.
#include "qelctl_text.h"

#include "kes_text.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

namespace qelctl {
namespace {

using json = nlohmann::json;

const char k_replacement[] = "\xef\xbf\xbd"; // U+FFFD

template <typename List> size_t usable(const List& list) {
    return list.count < QEL_OPTIONS_LIST_MAX ? list.count : QEL_OPTIONS_LIST_MAX;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

bool isControl(uint32_t code) {
    return code < 0x20 || (code >= 0x7f && code < 0xa0);
}

// Decodes one UTF-8 sequence at `text[at]` (of `length` bytes); the code and
// the sequence's length, or length 0 for a byte that starts no valid one.
std::pair<uint32_t, size_t> decodeUtf8(const unsigned char* text, size_t at, size_t length) {
    const unsigned char first = text[at];
    if (first < 0x80) {
        return {first, 1};
    }
    size_t size = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if ((first & 0xe0) == 0xc0) {
        size = 2;
        code = first & 0x1f;
        least = 0x80;
    } else if ((first & 0xf0) == 0xe0) {
        size = 3;
        code = first & 0x0f;
        least = 0x800;
    } else if ((first & 0xf8) == 0xf0) {
        size = 4;
        code = first & 0x07;
        least = 0x10000;
    } else {
        return {0, 0};
    }
    if (at + size > length) {
        return {0, 0};
    }
    for (size_t i = 1; i < size; ++i) {
        if ((text[at + i] & 0xc0) != 0x80) {
            return {0, 0};
        }
        code = (code << 6) | (text[at + i] & 0x3f);
    }
    if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
        return {0, 0};
    }
    return {code, size};
}

size_t boundedLength(const char* bytes, size_t capacity) {
    const void* end = std::memchr(bytes, '\0', capacity);
    return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - bytes) : capacity;
}

std::string number(uint64_t value) {
    return std::to_string(value);
}

std::string hex4(uint32_t value) {
    char text[16];
    kes_snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(value & 0xffff));
    return text;
}

bool zeroBytes(const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

// Items joined by `separator`.
std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : separator) + items[i];
    }
    return text;
}

template <typename List, typename Format>
std::vector<std::string> listTexts(const List& list, Format format) {
    std::vector<std::string> items;
    for (size_t i = 0; i < usable(list); ++i) {
        items.push_back(format(list.entries[i]));
    }
    return items;
}

std::string interfaceName(const qel_interface& entry) {
    return utf16ToUtf8(entry.name, QEL_INTERFACE_NAME_SIZE);
}

std::string latencyName(const char* name) {
    return cleanText(name, QEL_LATENCY_NAME_SIZE);
}

// Aligned "Label:  value" lines: every value starts in the same column.
class Report {
public:
    void add(const std::string& label, const std::string& value) {
        m_rows.emplace_back(label + ":", value);
        if (m_rows.back().first.size() > m_width) {
            m_width = m_rows.back().first.size();
        }
    }
    std::string text(const std::string& indent = "") const {
        std::string out;
        for (const auto& row : m_rows) {
            out += indent + row.first + std::string(m_width - row.first.size() + 2, ' ') +
                   row.second + "\n";
        }
        return out;
    }

private:
    std::vector<std::pair<std::string, std::string>> m_rows;
    size_t m_width = 0;
};

std::string interfaceText(const qel_interface& entry) {
    if (zeroBytes(entry.mac, QEL_MAC_SIZE)) {
        return "none";
    }
    return interfaceName(entry) + " (" + macText(entry.mac) + ")";
}

std::string linkText(const qel_state& state) {
    if (state.link_up == 0) {
        return "down";
    }
    return state.link_speed != 0 ? "up at " + speedText(state.link_speed) : "up";
}

std::string addressText(const uint8_t* address) {
    return zeroBytes(address, QEL_IP_ADDRESS_SIZE) ? "none" : ipv4Text(address);
}

bool asioConnected(const qel_state& state) {
    return (state.config_lock_flags & QEL_CONFIG_LOCK_ASIO_CLIENT) != 0;
}

// The configuration's fields as report rows, each with "(was ...)" when
// `before` is given and differs.
void configRows(Report& report, const qel_options& options, const qel_config& c,
                const qel_config* before, const qel_state* state = nullptr) {
    auto row = [&](const char* label, const std::string& value, const std::string& was) {
        report.add(label, before != nullptr && value != was ? value + " (was " + was + ")" : value);
    };
    const qel_config& b = before != nullptr ? *before : c;
    row("Sound card", c.want_to_run ? "running" : "stopped", b.want_to_run ? "running" : "stopped");
    row("Audio interface", audioText(c.audio_interface), audioText(b.audio_interface));
    row("Sample rate", rateText(c.sample_rate_hz), rateText(b.sample_rate_hz));
    row("Bits per sample", bitsText(c.sample_format), bitsText(b.sample_format));
    row("Latency", latencyText(options, c.latency), latencyText(options, b.latency));
    row("Channels", number(c.channels), number(b.channels));
    row("Network interface", interfaceText(c.interface), interfaceText(b.interface));
    if (state != nullptr) {
        report.add("Link", linkText(*state));
        report.add("IPv4 address", addressText(state->ip_address));
    }
    row("ASIO buffer size", number(c.asio_buffer_size) + " samples",
        number(b.asio_buffer_size) + " samples");
    row("ASIO encoding", bitsText(c.asio_encoding), bitsText(b.asio_encoding));
    row("ASIO latency", msText(c.asio_latency_us), msText(b.asio_latency_us));
}

json audioJson(uint32_t audio) {
    if (audio == QEL_AUDIO_INTERFACE_ASIO) {
        return "ASIO";
    }
    if (audio == QEL_AUDIO_INTERFACE_WDM) {
        return "WDM";
    }
    return audio;
}

json configObject(const qel_config& c) {
    json object = json::object();
    object["want_to_run"] = c.want_to_run != 0;
    object["audio_interface"] = audioJson(c.audio_interface);
    object["sample_rate_hz"] = c.sample_rate_hz;
    object["sample_format"] = c.sample_format;
    object["latency"] = latencyName(c.latency);
    object["channels"] = c.channels;
    object["interface"] = {{"name", interfaceName(c.interface)}, {"mac", macText(c.interface.mac)}};
    object["asio_buffer_size"] = c.asio_buffer_size;
    object["asio_encoding"] = c.asio_encoding;
    object["asio_latency_us"] = c.asio_latency_us;
    return object;
}

json latencyUs(const qel_options& options, const char* name) {
    const qel_latency* latency = qel_options_find_latency_by_name(&options, name);
    return latency != nullptr ? json(latency->latency_us) : json(nullptr);
}

json statusObject(const qel_info* info, const qel_options& options, const qel_state& s) {
    json object = json::object();
    object["version"] = info != nullptr ? json(versionText(*info)) : json(nullptr);
    object["running"] = s.config.want_to_run != 0;
    object["configuration"] = configObject(s.config);
    object["latency_us"] = latencyUs(options, s.config.latency);
    object["link"] = {{"up", s.link_up != 0},
                      {"speed_mbps", s.link_speed},
                      {"ipv4", zeroBytes(s.ip_address, QEL_IP_ADDRESS_SIZE)
                                   ? json(nullptr)
                                   : json(ipv4Text(s.ip_address))}};
    object["asio_application_connected"] = asioConnected(s);
    object["lock_flags"] = s.config_lock_flags;
    object["locked"] = s.config_lock_flags != 0;
    const char* name = qel_system_error_name(s.system_error);
    const char* text = qel_system_error_text(s.system_error);
    object["system_error"] = {{"code", s.system_error},
                              {"name", name != nullptr ? json(name) : json(nullptr)},
                              {"text", text != nullptr ? json(text) : json(nullptr)}};
    object["device_name"] = latin1ToUtf8(s.device_name, QEL_DEVICE_NAME_SIZE);
    return object;
}

json optionsObject(const qel_options& o) {
    json object = json::object();
    object["channel_counts"] = json::array();
    for (size_t i = 0; i < usable(o.channel_counts); ++i) {
        object["channel_counts"].push_back(o.channel_counts.entries[i]);
    }
    object["sample_rates"] = json::array();
    for (size_t i = 0; i < usable(o.sample_rates); ++i) {
        object["sample_rates"].push_back(
            {{"hz", o.sample_rates.entries[i].rate_hz},
             {"max_channels", o.sample_rates.entries[i].max_channels}});
    }
    object["sample_formats"] = json::array();
    for (size_t i = 0; i < usable(o.sample_formats); ++i) {
        object["sample_formats"].push_back(o.sample_formats.entries[i]);
    }
    object["latencies"] = json::array();
    for (size_t i = 0; i < usable(o.latencies); ++i) {
        object["latencies"].push_back({{"name", latencyName(o.latencies.entries[i].name)},
                                       {"us", o.latencies.entries[i].latency_us}});
    }
    object["interfaces"] = json::array();
    for (size_t i = 0; i < usable(o.interfaces); ++i) {
        object["interfaces"].push_back({{"name", interfaceName(o.interfaces.entries[i])},
                                        {"mac", macText(o.interfaces.entries[i].mac)}});
    }
    json asio = json::object();
    asio["buffer_sizes"] = json::array();
    for (size_t i = 0; i < usable(o.asio_buffer_sizes); ++i) {
        asio["buffer_sizes"].push_back(o.asio_buffer_sizes.entries[i]);
    }
    asio["encodings"] = json::array();
    for (size_t i = 0; i < usable(o.asio_encodings); ++i) {
        asio["encodings"].push_back(o.asio_encodings.entries[i]);
    }
    asio["latencies_us"] = json::array();
    for (size_t i = 0; i < usable(o.asio_latencies); ++i) {
        asio["latencies_us"].push_back(o.asio_latencies.entries[i]);
    }
    object["asio"] = asio;
    return object;
}

// Every string in the objects is valid UTF-8 already; the replacement is a
// second guard, so that a dump can never throw.
std::string dump(const json& object, bool indent) {
    return object.dump(indent ? 2 : -1, ' ', false, json::error_handler_t::replace);
}

} // namespace

std::string utf16ToUtf8(const char16_t* units, size_t capacity) {
    std::string out;
    if (units == nullptr) {
        return out;
    }
    for (size_t i = 0; i < capacity && units[i] != 0; ++i) {
        const uint32_t unit = units[i];
        if (unit >= 0xd800 && unit <= 0xdbff && i + 1 < capacity && units[i + 1] >= 0xdc00 &&
            units[i + 1] <= 0xdfff) {
            appendUtf8(out, 0x10000 + ((unit - 0xd800) << 10) + (units[i + 1] - 0xdc00));
            ++i;
        } else if ((unit >= 0xd800 && unit <= 0xdfff) || isControl(unit)) {
            out += k_replacement;
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

bool utf8ToUtf16(const std::string& text, char16_t* out, size_t capacity) {
    if (out == nullptr || capacity == 0) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t used = 0;
    for (size_t at = 0; at < text.size();) {
        const auto [code, size] = decodeUtf8(bytes, at, text.size());
        if (size == 0 || code == 0) {
            return false;
        }
        const size_t units = code >= 0x10000 ? 2 : 1;
        if (used + units > capacity - 1) {
            return false;
        }
        if (units == 2) {
            out[used++] = static_cast<char16_t>(0xd800 + ((code - 0x10000) >> 10));
            out[used++] = static_cast<char16_t>(0xdc00 + ((code - 0x10000) & 0x3ff));
        } else {
            out[used++] = static_cast<char16_t>(code);
        }
        at += size;
    }
    for (size_t i = used; i < capacity; ++i) {
        out[i] = 0;
    }
    return true;
}

std::string cleanText(const char* bytes, size_t capacity) {
    std::string out;
    if (bytes == nullptr) {
        return out;
    }
    const size_t length = boundedLength(bytes, capacity);
    const auto* text = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t at = 0; at < length;) {
        const auto [code, size] = decodeUtf8(text, at, length);
        if (size == 0 || isControl(code)) {
            out += k_replacement;
            at += size == 0 ? 1 : size;
        } else {
            out.append(bytes + at, size);
            at += size;
        }
    }
    return out;
}

std::string latin1ToUtf8(const char* bytes, size_t capacity) {
    std::string out;
    if (bytes == nullptr) {
        return out;
    }
    const size_t length = boundedLength(bytes, capacity);
    for (size_t i = 0; i < length; ++i) {
        const uint32_t code = static_cast<unsigned char>(bytes[i]);
        if (isControl(code)) {
            out += k_replacement;
        } else {
            appendUtf8(out, code);
        }
    }
    return out;
}

std::string versionText(const qel_info& info) {
    return number(info.major) + "." + number(info.minor) + "." + number(info.build) +
           latin1ToUtf8(info.suffix, QEL_INFO_SUFFIX_SIZE);
}

std::string rateText(uint32_t hz) {
    return number(hz) + " Hz";
}

std::string bitsText(uint32_t bits) {
    return number(bits) + " bit";
}

std::string msText(uint32_t us) {
    std::string text = number(us / 1000);
    uint32_t fraction = us % 1000;
    if (fraction != 0) {
        char digits[8];
        kes_snprintf(digits, sizeof digits, ".%03u", static_cast<unsigned>(fraction));
        std::string tail = digits;
        while (tail.back() == '0') {
            tail.pop_back();
        }
        text += tail;
    }
    return text + " ms";
}

std::string speedText(uint32_t mbps) {
    if (mbps < 1000) {
        return number(mbps) + " Mbit/s";
    }
    if (mbps % 1000 == 0) {
        return number(mbps / 1000) + " Gbit/s";
    }
    return number(mbps / 1000) + "." + number(mbps % 1000 / 100) + " Gbit/s";
}

std::string macText(const uint8_t* mac) {
    char text[24];
    kes_snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                 mac[4], mac[5]);
    return text;
}

std::string ipv4Text(const uint8_t* address) {
    char text[20];
    kes_snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return text;
}

std::string audioText(uint32_t audio) {
    if (audio == QEL_AUDIO_INTERFACE_ASIO) {
        return "ASIO";
    }
    if (audio == QEL_AUDIO_INTERFACE_WDM) {
        return "WDM";
    }
    return "unknown (" + number(audio) + ")";
}

std::string latencyText(const qel_options& options, const char* name) {
    const qel_latency* latency = qel_options_find_latency_by_name(&options, name);
    if (latency == nullptr) {
        return latencyName(name) + " (not offered)";
    }
    return msText(latency->latency_us) + " (" + latencyName(latency->name) + ")";
}

std::string systemErrorText(uint16_t code) {
    if (code == QEL_SYSTEM_ERROR_NONE) {
        return "none";
    }
    const char* name = qel_system_error_name(code);
    const char* text = qel_system_error_text(code);
    if (name == nullptr || text == nullptr) {
        return hex4(code) + " (unknown code)";
    }
    return hex4(code) + " " + name + ": " + text;
}

std::string lockText(uint16_t flags) {
    if (flags == 0) {
        return hex4(flags) + " (unlocked)";
    }
    if (flags & QEL_CONFIG_LOCK_ASIO_CLIENT) {
        return hex4(flags) + " (locked: an ASIO application has the audio driver open)";
    }
    return hex4(flags) + " (locked)";
}

std::string timeText(const kes_time& time) {
    const std::time_t seconds = static_cast<std::time_t>(time.seconds);
    std::tm parts{};
    if (gmtime_r(&seconds, &parts) == nullptr) {
        return "unknown time";
    }
    char text[40];
    kes_snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                 parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                 static_cast<int>(time.microseconds / 1000 % 1000));
    return text;
}

std::string statusReport(const qel_info* info, const qel_options& options, const qel_state& state) {
    Report report;
    report.add("Manager version", info != nullptr ? versionText(*info) : "unknown");
    configRows(report, options, state.config, nullptr, &state);
    report.add("ASIO application", asioConnected(state) ? "connected" : "not connected");
    report.add("Lock flags", lockText(state.config_lock_flags));
    report.add("System error", systemErrorText(state.system_error));
    return report.text();
}

std::string optionsReport(const qel_options& o) {
    Report report;
    report.add("Sample rates", joined(listTexts(o.sample_rates,
                                                [](const qel_sample_rate& r) {
                                                    return rateText(r.rate_hz) + " (up to " +
                                                           number(r.max_channels) + " channels)";
                                                }),
                                      ", "));
    report.add("Channel counts",
               joined(listTexts(o.channel_counts, [](uint16_t v) { return number(v); }), ", "));
    report.add("Bits per sample",
               joined(listTexts(o.sample_formats, [](uint16_t v) { return number(v); }), ", "));
    std::vector<std::string> latencies;
    for (size_t i = 0; i < usable(o.latencies); ++i) {
        latencies.push_back(number(i) + ": " + msText(o.latencies.entries[i].latency_us) + " (" +
                            latencyName(o.latencies.entries[i].name) + ")");
    }
    report.add("Latencies", joined(latencies, ", "));
    const std::string interfaces = joined(listTexts(o.interfaces, interfaceText), ", ");
    report.add("Network interfaces", interfaces.empty() ? "none" : interfaces);
    report.add("ASIO buffer sizes",
               joined(listTexts(o.asio_buffer_sizes, [](uint32_t v) { return number(v); }), ", "));
    report.add("ASIO encodings",
               joined(listTexts(o.asio_encodings, [](uint16_t v) { return number(v); }), ", "));
    report.add("ASIO latencies", joined(listTexts(o.asio_latencies, msText), ", "));
    return report.text();
}

std::string configReport(const qel_options& options, const qel_config& config,
                         const qel_config& before) {
    Report report;
    configRows(report, options, config, &before);
    return report.text("  ");
}

std::string stateSummary(const qel_options& options, const qel_state& s) {
    const qel_config& c = s.config;
    std::string network = zeroBytes(c.interface.mac, QEL_MAC_SIZE)
                              ? std::string("no interface")
                              : interfaceName(c.interface) + " " + linkText(s);
    if (s.link_up != 0 && !zeroBytes(s.ip_address, QEL_IP_ADDRESS_SIZE)) {
        network += " " + ipv4Text(s.ip_address);
    }
    std::string line = std::string("state: ") + (c.want_to_run ? "running" : "stopped") + ", " +
                       audioText(c.audio_interface) + ", " + rateText(c.sample_rate_hz) + ", " +
                       bitsText(c.sample_format) + ", " + latencyText(options, c.latency) + ", " +
                       number(c.channels) + " channels, " + network + ", ASIO " +
                       number(c.asio_buffer_size) + " samples " + bitsText(c.asio_encoding) + " " +
                       msText(c.asio_latency_us);
    line += asioConnected(s) ? " (application connected)" : "";
    line += s.config_lock_flags != 0 ? ", locked " + hex4(s.config_lock_flags) : ", unlocked";
    line += s.system_error != 0 ? ", system error " + systemErrorText(s.system_error)
                                : ", no system error";
    return line;
}

std::string optionsSummary(const qel_options& o) {
    auto values = [](const auto& list) {
        return joined(listTexts(list, [](auto v) { return number(v); }), " ");
    };
    std::vector<std::string> rates;
    for (size_t i = 0; i < usable(o.sample_rates); ++i) {
        rates.push_back(number(o.sample_rates.entries[i].rate_hz) + "/" +
                        number(o.sample_rates.entries[i].max_channels));
    }
    std::vector<std::string> latencies;
    for (size_t i = 0; i < usable(o.latencies); ++i) {
        latencies.push_back(msText(o.latencies.entries[i].latency_us));
    }
    std::vector<std::string> interfaces = listTexts(o.interfaces, interfaceName);
    std::vector<std::string> asioLatencies = listTexts(o.asio_latencies, msText);
    return "options: rates/channels " + joined(rates, " ") + "; channels " +
           values(o.channel_counts) + "; bits " + values(o.sample_formats) + "; latencies " +
           joined(latencies, ", ") + "; interfaces " +
           (interfaces.empty() ? std::string("none") : joined(interfaces, " ")) +
           "; ASIO buffers " + values(o.asio_buffer_sizes) + ", encodings " +
           values(o.asio_encodings) + ", latencies " + joined(asioLatencies, ", ");
}

std::string statusJson(const qel_info* info, const qel_options& options, const qel_state& state,
                       bool indent) {
    return dump(statusObject(info, options, state), indent);
}

std::string optionsJson(const qel_options& options, bool indent) {
    return dump(optionsObject(options), indent);
}

std::string configJson(const qel_options& options, const qel_config& config, bool indent) {
    json object = json::object();
    object["configuration"] = configObject(config);
    object["latency_us"] = latencyUs(options, config.latency);
    return dump(object, indent);
}

std::string stateEventJson(const kes_time& time, const qel_info* info, const qel_options& options,
                           const qel_state& state) {
    json object = {{"event", "state"}, {"time", timeText(time)}};
    object["state"] = statusObject(info, options, state);
    return dump(object, false);
}

std::string optionsEventJson(const kes_time& time, const qel_options& options) {
    json object = {{"event", "options"}, {"time", timeText(time)}};
    object["options"] = optionsObject(options);
    return dump(object, false);
}

std::string connectionEventJson(const kes_time& time, bool connected, const std::string& detail) {
    json object = {{"event", "connection"}, {"time", timeText(time)}, {"connected", connected}};
    object[connected ? "version" : "reason"] = detail;
    return dump(object, false);
}

bool allDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

} // namespace qelctl
