#include "options_file.h"

#include "json_reader.h"

#include "kes_result.h"
#include "qel_codec.h"
#include "tesk2_message.h"

#include <algorithm>
#include <cstring>

using nlohmann::json;
using qel_json::Fail;
using qel_json::JsonReader;

namespace {

// Options files are small; anything larger is a mistake, not an options file.
constexpr size_t OPTIONS_FILE_MAX = 1024 * 1024;

void addU16(qel_u16_list& list, uint16_t value) {
    list.entries[list.count++] = value;
}
void addU32(qel_u32_list& list, uint32_t value) {
    list.entries[list.count++] = value;
}

void addRate(qel_sample_rate_list& list, uint32_t hz, uint16_t maxChannels) {
    list.entries[list.count].rate_hz = hz;
    list.entries[list.count].max_channels = maxChannels;
    list.count++;
}

void addLatency(qel_latency_list& list, const char* name, uint32_t us) {
    qel_latency& entry = list.entries[list.count++];
    std::memcpy(entry.name, name, std::strlen(name) + 1);
    entry.latency_us = us;
}

void setLatencyName(char (&target)[QEL_LATENCY_NAME_SIZE], const std::string& name) {
    std::memset(target, 0, sizeof target);
    std::memcpy(target, name.data(), std::min(name.size(), sizeof target - 1));
}

// Copies at most capacity - 1 units, stepping back rather than splitting a
// surrogate pair, and zero-fills the rest.
void setInterfaceName(char16_t (&target)[QEL_INTERFACE_NAME_SIZE], const std::u16string& name) {
    std::memset(target, 0, sizeof target);
    size_t length = std::min(name.size(), QEL_INTERFACE_NAME_SIZE - 1);
    if (length < name.size() && length > 0 && name[length - 1] >= 0xD800 &&
        name[length - 1] <= 0xDBFF) {
        length--;
    }
    std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(length), target);
}

std::string quote(const std::string& text) {
    return "\"" + text + "\"";
}

// The readers of one options file. Every method reads one part of the
// document into `result` or throws Fail naming the JSON path.
class OptionsReader {
public:
    explicit OptionsReader(ManagerOptions& result) : m_result(result) {}

    void read(const json& root) {
        JsonReader::requireObject(root, "");
        JsonReader::checkKeys(root, "",
                              {"channel_counts", "sample_rates", "sample_formats", "latencies",
                               "asio", "interfaces", "default_config"});
        qel_options& options = m_result.options;
        if (root.contains("channel_counts")) {
            readChannelCounts(root["channel_counts"]);
        }
        if (root.contains("sample_rates")) {
            readSampleRates(root["sample_rates"]);
        }
        if (root.contains("sample_formats")) {
            readU16List(root["sample_formats"], "sample_formats", options.sample_formats);
        }
        if (root.contains("latencies")) {
            readLatencies(root["latencies"]);
        }
        if (root.contains("asio")) {
            const json& asio = root["asio"];
            JsonReader::requireObject(asio, "asio");
            JsonReader::checkKeys(asio, "asio", {"buffer_sizes", "encodings", "latencies_us"});
            if (asio.contains("buffer_sizes")) {
                readU32List(asio["buffer_sizes"], "asio.buffer_sizes", options.asio_buffer_sizes);
            }
            if (asio.contains("encodings")) {
                readU16List(asio["encodings"], "asio.encodings", options.asio_encodings);
            }
            if (asio.contains("latencies_us")) {
                readU32List(asio["latencies_us"], "asio.latencies_us", options.asio_latencies);
            }
        }
        if (root.contains("interfaces")) {
            readInterfaces(root["interfaces"]);
        }
        if (root.contains("default_config")) {
            readDefaultConfig(root["default_config"]);
        }
        checkDefaultConfig();
    }

private:
    void readChannelCounts(const json& value) {
        const std::string where = "channel_counts";
        JsonReader::requireList(value, where, true);
        qel_u16_list list{};
        for (size_t i = 0; i < value.size(); i++) {
            const std::string at = JsonReader::index(where, i);
            uint16_t count = JsonReader::u16(value[i], at, 1);
            // The panels look channel counts up as an ascending list.
            if (list.count > 0 && count <= list.entries[list.count - 1]) {
                throw Fail{at, std::to_string(count) +
                                   " must be above the entry before it (the list is ascending)"};
            }
            addU16(list, count);
        }
        m_result.options.channel_counts = list;
    }

    void readSampleRates(const json& value) {
        const std::string where = "sample_rates";
        JsonReader::requireList(value, where, true);
        qel_sample_rate_list list{};
        for (size_t i = 0; i < value.size(); i++) {
            const std::string at = JsonReader::index(where, i);
            JsonReader::requireObject(value[i], at);
            JsonReader::checkKeys(value[i], at, {"hz", "max_channels"});
            uint32_t hz = JsonReader::u32(JsonReader::member(value[i], at, "hz"), at + ".hz", 1);
            uint16_t maxChannels = JsonReader::u16(JsonReader::member(value[i], at, "max_channels"),
                                                   at + ".max_channels", 1);
            for (size_t j = 0; j < list.count; j++) {
                if (list.entries[j].rate_hz == hz) {
                    throw Fail{at + ".hz", std::to_string(hz) + " is already listed at " +
                                               JsonReader::index(where, j)};
                }
            }
            addRate(list, hz, maxChannels);
        }
        m_result.options.sample_rates = list;
    }

    void readLatencies(const json& value) {
        const std::string where = "latencies";
        JsonReader::requireList(value, where, true);
        qel_latency_list list{};
        for (size_t i = 0; i < value.size(); i++) {
            const std::string at = JsonReader::index(where, i);
            JsonReader::requireObject(value[i], at);
            JsonReader::checkKeys(value[i], at, {"name", "us"});
            std::string name = JsonReader::narrowName(JsonReader::member(value[i], at, "name"),
                                                      at + ".name", QEL_LATENCY_NAME_SIZE);
            uint32_t us = JsonReader::u32(JsonReader::member(value[i], at, "us"), at + ".us", 1);
            for (size_t j = 0; j < list.count; j++) {
                if (name == list.entries[j].name) {
                    throw Fail{at + ".name", quote(name) + " is already listed at " +
                                                 JsonReader::index(where, j)};
                }
            }
            addLatency(list, name.c_str(), us);
        }
        m_result.options.latencies = list;
    }

    static void readU16List(const json& value, const std::string& where, qel_u16_list& target) {
        JsonReader::requireList(value, where, true);
        qel_u16_list list{};
        for (size_t i = 0; i < value.size(); i++) {
            const std::string at = JsonReader::index(where, i);
            uint16_t entry = JsonReader::u16(value[i], at, 1);
            checkUnique(list.entries, list.count, entry, where, at);
            addU16(list, entry);
        }
        target = list;
    }

    static void readU32List(const json& value, const std::string& where, qel_u32_list& target) {
        JsonReader::requireList(value, where, true);
        qel_u32_list list{};
        for (size_t i = 0; i < value.size(); i++) {
            const std::string at = JsonReader::index(where, i);
            uint32_t entry = JsonReader::u32(value[i], at, 1);
            checkUnique(list.entries, list.count, entry, where, at);
            addU32(list, entry);
        }
        target = list;
    }

    template <typename T>
    static void checkUnique(const T* entries, size_t count, T entry, const std::string& where,
                            const std::string& at) {
        for (size_t j = 0; j < count; j++) {
            if (entries[j] == entry) {
                throw Fail{at, std::to_string(entry) + " is already listed at " +
                                   JsonReader::index(where, j)};
            }
        }
    }

    void readInterfaces(const json& value) {
        const std::string where = "interfaces";
        // An empty list is allowed: a manager that offers no interface.
        JsonReader::requireList(value, where, false);
        std::vector<ManagerInterface> interfaces;
        for (size_t i = 0; i < value.size(); i++) {
            const std::string at = JsonReader::index(where, i);
            JsonReader::requireObject(value[i], at);
            JsonReader::checkKeys(value[i], at, {"name", "mac", "link", "speed", "ipv4"});
            ManagerInterface entry{};
            entry.name = JsonReader::wideName(JsonReader::member(value[i], at, "name"),
                                              at + ".name", QEL_INTERFACE_NAME_SIZE);
            JsonReader::mac(JsonReader::member(value[i], at, "mac"), at + ".mac", entry.mac, false);
            entry.linkUp = true;
            if (value[i].contains("link")) {
                entry.linkUp = JsonReader::boolean(value[i]["link"], at + ".link");
            }
            entry.speedMbps = 1000;
            if (value[i].contains("speed")) {
                entry.speedMbps = JsonReader::u32(value[i]["speed"], at + ".speed", 0);
            }
            if (value[i].contains("ipv4")) {
                JsonReader::ipv4(value[i]["ipv4"], at + ".ipv4", entry.ipv4);
            }
            for (size_t j = 0; j < interfaces.size(); j++) {
                if (interfaces[j].name == entry.name) {
                    throw Fail{at + ".name", quote(utf16ToUtf8(entry.name)) +
                                                 " is already listed at " +
                                                 JsonReader::index(where, j)};
                }
                if (std::memcmp(interfaces[j].mac, entry.mac, QEL_MAC_SIZE) == 0) {
                    throw Fail{at + ".mac", formatMac(entry.mac) + " is already listed at " +
                                                JsonReader::index(where, j)};
                }
            }
            interfaces.push_back(entry);
        }
        m_result.fixedInterfaces = true;
        m_result.interfaces = interfaces;
        fillOptionsInterfaces(interfaces, m_result.options);
    }

    void readDefaultConfig(const json& value) {
        const std::string where = "default_config";
        JsonReader::requireObject(value, where);
        JsonReader::checkKeys(value, where,
                              {"channels", "interface", "sample_rate_hz", "sample_format",
                               "latency", "want_to_run", "audio_interface", "asio_latency_us",
                               "asio_buffer_size", "asio_encoding"});
        qel_config& config = m_result.defaultConfig;
        auto given = [&](const char* key) {
            if (!value.contains(key)) {
                return false;
            }
            m_given.push_back(key);
            return true;
        };
        const std::string prefix = where + ".";
        if (given("channels")) {
            config.channels = JsonReader::u16(value["channels"], prefix + "channels", 1);
        }
        if (given("interface")) {
            readDefaultInterface(value["interface"], prefix + "interface");
        }
        if (given("sample_rate_hz")) {
            config.sample_rate_hz =
                JsonReader::u32(value["sample_rate_hz"], prefix + "sample_rate_hz", 1);
        }
        if (given("sample_format")) {
            config.sample_format =
                JsonReader::u16(value["sample_format"], prefix + "sample_format", 1);
        }
        if (given("latency")) {
            setLatencyName(config.latency,
                           JsonReader::narrowName(value["latency"], prefix + "latency",
                                                  QEL_LATENCY_NAME_SIZE));
        }
        if (given("want_to_run")) {
            config.want_to_run = JsonReader::boolean(value["want_to_run"], prefix + "want_to_run");
        }
        if (given("audio_interface")) {
            config.audio_interface =
                JsonReader::audioInterface(value["audio_interface"], prefix + "audio_interface");
        }
        if (given("asio_latency_us")) {
            config.asio_latency_us =
                JsonReader::u32(value["asio_latency_us"], prefix + "asio_latency_us", 1);
        }
        if (given("asio_buffer_size")) {
            config.asio_buffer_size =
                JsonReader::u32(value["asio_buffer_size"], prefix + "asio_buffer_size", 1);
        }
        if (given("asio_encoding")) {
            config.asio_encoding =
                JsonReader::u16(value["asio_encoding"], prefix + "asio_encoding", 1);
        }
    }

    // The default interface is named; it must be one of a fixed list, since
    // the host's interfaces are only known when the options are sent.
    void readDefaultInterface(const json& value, const std::string& where) {
        qel_interface& target = m_result.defaultConfig.interface;
        if (value.is_null()) {
            target = qel_interface{};
            return;
        }
        std::u16string name = JsonReader::wideName(value, where, QEL_INTERFACE_NAME_SIZE);
        if (!m_result.fixedInterfaces) {
            throw Fail{where, "names an interface, but only one of a fixed \"interfaces\" list "
                              "can be the default"};
        }
        for (const ManagerInterface& entry : m_result.interfaces) {
            if (entry.name == name) {
                target = qel_interface{};
                setInterfaceName(target.name, entry.name);
                std::memcpy(target.mac, entry.mac, QEL_MAC_SIZE);
                return;
            }
        }
        throw Fail{where, quote(utf16ToUtf8(name)) + " is not one of interfaces"};
    }

    // Says which check of the validity rule the default configuration fails,
    // so that the message can name the field.
    void checkDefaultConfig() const {
        const qel_options& options = m_result.options;
        const qel_config& config = m_result.defaultConfig;
        if (!contains(options.channel_counts, config.channels)) {
            failField("channels", std::to_string(config.channels), "channel_counts");
        }
        const qel_sample_rate* rate = qel_options_find_sample_rate(&options, config.sample_rate_hz);
        if (rate == nullptr) {
            failField("sample_rate_hz", std::to_string(config.sample_rate_hz), "sample_rates");
        }
        if (config.channels > rate->max_channels) {
            throw Fail{"default_config.channels",
                       origin("channels") + std::to_string(config.channels) + " is above the " +
                           std::to_string(rate->max_channels) +
                           " channels sample_rates allows at " + std::to_string(rate->rate_hz) +
                           " Hz"};
        }
        if (!contains(options.sample_formats, config.sample_format)) {
            failField("sample_format", std::to_string(config.sample_format), "sample_formats");
        }
        if (qel_options_find_latency_by_name(&options, config.latency) == nullptr) {
            failField("latency", quote(config.latency), "latencies");
        }
        if (!contains(options.asio_buffer_sizes, config.asio_buffer_size)) {
            failField("asio_buffer_size", std::to_string(config.asio_buffer_size),
                      "asio.buffer_sizes");
        }
        if (!contains(options.asio_encodings, config.asio_encoding)) {
            failField("asio_encoding", std::to_string(config.asio_encoding), "asio.encodings");
        }
        if (!contains(options.asio_latencies, config.asio_latency_us)) {
            failField("asio_latency_us", std::to_string(config.asio_latency_us),
                      "asio.latencies_us");
        }
        if (!qel_config_is_valid(&options, &config)) {
            throw Fail{"default_config", "not valid against the options"};
        }
    }

    template <typename List, typename T> static bool contains(const List& list, T value) {
        return std::find(list.entries, list.entries + list.count, value) !=
               list.entries + list.count;
    }

    // "the built-in " for a field the file left out: the message then says
    // why a value the user never wrote is there.
    std::string origin(const char* key) const {
        bool fromFile =
            std::find(m_given.begin(), m_given.end(), std::string(key)) != m_given.end();
        return fromFile ? "" : "the built-in ";
    }

    [[noreturn]] void failField(const char* key, const std::string& value, const char* list) const {
        throw Fail{std::string("default_config.") + key,
                   origin(key) + value + " is not one of " + list};
    }

    ManagerOptions& m_result;
    std::vector<std::string> m_given;
};

} // namespace

ManagerOptions defaultManagerOptions() {
    ManagerOptions result{};
    // Zero-filled whole, padding included: records are compared byte for byte.
    std::memset(&result.options, 0, sizeof result.options);
    std::memset(&result.defaultConfig, 0, sizeof result.defaultConfig);
    qel_options& options = result.options;
    for (uint16_t count : {2, 4, 8, 16, 32, 64}) {
        addU16(options.channel_counts, count);
    }
    addRate(options.sample_rates, 44100, 64);
    addRate(options.sample_rates, 48000, 64);
    addRate(options.sample_rates, 88200, 32);
    addRate(options.sample_rates, 96000, 32);
    for (uint16_t bits : {16, 24, 32}) {
        addU16(options.sample_formats, bits);
    }
    addLatency(options.latencies, "Low", 1000);
    addLatency(options.latencies, "Medium", 2000);
    addLatency(options.latencies, "High", 5000);
    addLatency(options.latencies, "Extra High", 10000);
    for (uint32_t size : {64, 128, 256, 512, 1024, 2048}) {
        addU32(options.asio_buffer_sizes, size);
    }
    for (uint16_t bits : {16, 24, 32}) {
        addU16(options.asio_encodings, bits);
    }
    for (uint32_t us : {2000, 5000, 10000, 20000}) {
        addU32(options.asio_latencies, us);
    }
    result.fixedInterfaces = false;

    qel_config& config = result.defaultConfig;
    config.channels = 8;
    config.sample_rate_hz = 48000;
    config.sample_format = 24;
    setLatencyName(config.latency, "Medium");
    config.want_to_run = 0;
    config.audio_interface = QEL_AUDIO_INTERFACE_WDM;
    config.asio_latency_us = 5000;
    config.asio_buffer_size = 256;
    config.asio_encoding = 24;
    return result;
}

bool loadOptionsFile(const std::string& path, ManagerOptions& out, std::string& error) {
    std::string text;
    std::string problem;
    if (!qel_json::readSmallFile(path, OPTIONS_FILE_MAX, text, problem)) {
        error = path + ": " + problem;
        return false;
    }
    ManagerOptions result = defaultManagerOptions();
    try {
        json root = qel_json::parseStrict(text);
        OptionsReader(result).read(root);
    } catch (const Fail& failure) {
        error = path + ": " + failure.describe();
        return false;
    }
    if (!optionsFitOneMessage(result.options)) {
        error = path + ": the options are too large for one message (" +
                std::to_string(TESK2_DATAGRAM_MAX) + " bytes); use fewer or shorter names";
        return false;
    }
    out = result;
    return true;
}

void fillOptionsInterfaces(const std::vector<ManagerInterface>& interfaces, qel_options& options) {
    options.interfaces = qel_interface_list{};
    for (const ManagerInterface& entry : interfaces) {
        if (options.interfaces.count == QEL_OPTIONS_LIST_MAX) {
            break;
        }
        qel_interface& slot = options.interfaces.entries[options.interfaces.count++];
        setInterfaceName(slot.name, entry.name);
        std::memcpy(slot.mac, entry.mac, QEL_MAC_SIZE);
    }
}

bool optionsFitOneMessage(const qel_options& options) {
    tesk2_message message{};
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, QEL_EVENT_OPTIONS);
    return qel_options_encode(&options, &message) == KES_SUCCESS;
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

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

} // namespace

bool parseMac(const std::string& text, uint8_t mac[QEL_MAC_SIZE]) {
    if (text.size() != 17) {
        return false;
    }
    uint8_t bytes[QEL_MAC_SIZE];
    for (size_t i = 0; i < QEL_MAC_SIZE; i++) {
        int high = hexDigit(text[i * 3]);
        int low = hexDigit(text[i * 3 + 1]);
        if (high < 0 || low < 0 || (i < QEL_MAC_SIZE - 1 && text[i * 3 + 2] != ':')) {
            return false;
        }
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    std::memcpy(mac, bytes, QEL_MAC_SIZE);
    return true;
}

std::string formatMac(const uint8_t mac[QEL_MAC_SIZE]) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < QEL_MAC_SIZE; i++) {
        if (i > 0) {
            text += ':';
        }
        text += digits[mac[i] >> 4];
        text += digits[mac[i] & 0x0F];
    }
    return text;
}

bool parseIpv4(const std::string& text, uint8_t address[QEL_IP_ADDRESS_SIZE]) {
    uint8_t bytes[QEL_IP_ADDRESS_SIZE];
    size_t position = 0;
    for (size_t i = 0; i < QEL_IP_ADDRESS_SIZE; i++) {
        if (i > 0) {
            if (position >= text.size() || text[position] != '.') {
                return false;
            }
            position++;
        }
        size_t start = position;
        unsigned value = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' &&
               position - start < 3) {
            value = value * 10 + static_cast<unsigned>(text[position] - '0');
            position++;
        }
        size_t digits = position - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) {
            return false;
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    if (position != text.size()) {
        return false;
    }
    std::memcpy(address, bytes, QEL_IP_ADDRESS_SIZE);
    return true;
}

std::string formatIpv4(const uint8_t address[QEL_IP_ADDRESS_SIZE]) {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
           std::to_string(address[2]) + "." + std::to_string(address[3]);
}

std::u16string utf8ToUtf16(const std::string& text, bool* valid) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        uint32_t code = 0;
        size_t length = 0;
        uint32_t minimum = 0;
        if (byte < 0x80) {
            code = byte;
            length = 1;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            code = byte & 0x1F;
            length = 2;
            minimum = 0x80;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            code = byte & 0x0F;
            length = 3;
            minimum = 0x800;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            code = byte & 0x07;
            length = 4;
            minimum = 0x10000;
        }
        bool ok = length > 0 && i + length <= text.size();
        for (size_t k = 1; ok && k < length; k++) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            ok = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        ok = ok && code >= minimum && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!ok) {
            // One replacement per bad lead byte; the scan resumes right after it.
            out += u'\uFFFD';
            if (valid != nullptr) {
                *valid = false;
            }
            i++;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += length;
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& text, bool* valid) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            i++;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
            if (valid != nullptr) {
                *valid = false;
            }
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}
