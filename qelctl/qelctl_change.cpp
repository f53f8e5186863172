// Reading KEY=VALUE and building the configuration. The order of the steps
// follows the panel's apply(): copy, overwrite, lower the channel count,
// check validity; only a configuration that passes the last step is sent.
#include "qelctl_change.h"

#include "qelctl_text.h"

#include <cstring>

namespace qelctl {

const KeyInfo k_keys[] = {
    {Key::POWER, "power", "on or off", "on|off"},
    {Key::AUDIO, "audio", "ASIO or WDM", "ASIO|WDM"},
    {Key::RATE, "rate", "a sample rate in Hz, like 48000", "HZ"},
    {Key::BITS, "bits", "bits per sample, like 24", "BITS"},
    {Key::LATENCY, "latency", "a latency like \"2 ms\", its index or its name",
     "\"MS ms\"|INDEX|NAME"},
    {Key::CHANNELS, "channels", "a channel count, like 16", "COUNT"},
    {Key::INTERFACE, "interface", "a network interface name, like eth0", "NAME"},
    {Key::ASIO_BUFFER, "asio-buffer", "an ASIO buffer size in samples, like 256", "SAMPLES"},
    {Key::ASIO_ENCODING, "asio-encoding", "ASIO bits per sample, like 24", "BITS"},
    {Key::ASIO_LATENCY, "asio-latency", "an ASIO latency in milliseconds, like 5", "MS"},
};
const size_t k_keyCount = sizeof k_keys / sizeof k_keys[0];

namespace {

template <typename List> size_t usable(const List& list) {
    return list.count < QEL_OPTIONS_LIST_MAX ? list.count : QEL_OPTIONS_LIST_MAX;
}

template <typename List, typename Value> bool contains(const List& list, Value value) {
    for (size_t i = 0; i < usable(list); ++i) {
        if (list.entries[i] == value) {
            return true;
        }
    }
    return false;
}

enum class Read { OK, MALFORMED, RANGE };

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameWord(const std::string& a, const char* b) {
    const size_t length = std::strlen(b);
    if (a.size() != length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The text without a trailing unit ("Hz", "bit", ...; case ignored) and one
// space before it; the text itself when it has none.
std::string withoutUnit(const std::string& text, const char* unit) {
    const size_t length = std::strlen(unit);
    if (text.size() <= length || !sameWord(text.substr(text.size() - length), unit)) {
        return text;
    }
    std::string rest = text.substr(0, text.size() - length);
    if (!rest.empty() && rest.back() == ' ') {
        rest.pop_back();
    }
    return rest;
}

// Decimal digits only, from `least` to `most`.
Read readNumber(const std::string& text, uint64_t least, uint64_t most, uint32_t& out) {
    if (!allDigits(text)) {
        return Read::MALFORMED;
    }
    uint64_t value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > most) {
            return Read::RANGE;
        }
    }
    if (value < least) {
        return Read::RANGE;
    }
    out = static_cast<uint32_t>(value);
    return Read::OK;
}

// Milliseconds with at most three decimals ("5", "2.5") as microseconds,
// from 1 us to UINT32_MAX us.
Read readMilliseconds(const std::string& text, uint32_t& us) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (!allDigits(whole) || (point != std::string::npos && !allDigits(fraction)) ||
        fraction.size() > 3) {
        return Read::MALFORMED;
    }
    uint32_t ms = 0;
    if (readNumber(whole, 0, UINT32_MAX / 1000, ms) != Read::OK) {
        return Read::RANGE;
    }
    uint64_t value = uint64_t{ms} * 1000;
    uint64_t scale = 100;
    for (char c : fraction) {
        value += static_cast<uint64_t>(c - '0') * scale;
        scale /= 10;
    }
    if (value < 1 || value > UINT32_MAX) {
        return Read::RANGE;
    }
    us = static_cast<uint32_t>(value);
    return Read::OK;
}

// Reads a value of `key` into `setting`; the range for the message in
// `range` when the answer is RANGE.
Read readValue(const KeyInfo& key, const std::string& text, Setting& setting, std::string& range) {
    setting.form = Setting::NUMBER;
    switch (key.key) {
    case Key::POWER:
        setting.number = sameWord(text, "on") ? 1 : 0;
        return sameWord(text, "on") || sameWord(text, "off") ? Read::OK : Read::MALFORMED;
    case Key::AUDIO:
        setting.number =
            sameWord(text, "ASIO") ? QEL_AUDIO_INTERFACE_ASIO : QEL_AUDIO_INTERFACE_WDM;
        return sameWord(text, "ASIO") || sameWord(text, "WDM") ? Read::OK : Read::MALFORMED;
    case Key::RATE:
        range = "1 to 4294967295 Hz";
        return readNumber(withoutUnit(text, "Hz"), 1, UINT32_MAX, setting.number);
    case Key::BITS:
    case Key::ASIO_ENCODING:
        range = "1 to 65535";
        return readNumber(withoutUnit(text, "bit"), 1, UINT16_MAX, setting.number);
    case Key::CHANNELS:
        range = "1 to 65535";
        return readNumber(text, 1, UINT16_MAX, setting.number);
    case Key::ASIO_BUFFER:
        range = "1 to 4294967295 samples";
        return readNumber(withoutUnit(text, "samples"), 1, UINT32_MAX, setting.number);
    case Key::ASIO_LATENCY:
        range = "0.001 to 4294967.295 ms";
        return readMilliseconds(withoutUnit(text, "ms"), setting.number);
    case Key::LATENCY: {
        // A number of milliseconds is one, well formed or not; anything else
        // before "ms" may be a name.
        const std::string ms = withoutUnit(text, "ms");
        if (ms != text && !ms.empty() && ms.find_first_not_of("0123456789.") == std::string::npos) {
            range = "0.001 to 4294967.295 ms";
            return readMilliseconds(ms, setting.number);
        }
        if (allDigits(text)) {
            setting.form = Setting::INDEX;
            range = "an index from 0 to 65535";
            return readNumber(text, 0, UINT16_MAX, setting.number);
        }
        setting.form = Setting::NAME;
        setting.name = text;
        range = "a name of at most 31 bytes";
        return text.size() < QEL_LATENCY_NAME_SIZE ? Read::OK : Read::RANGE;
    }
    case Key::INTERFACE: {
        setting.form = Setting::NAME;
        setting.name = text;
        // Room for any UTF-8 text of up to 4 * 63 bytes, so that a failure
        // below is bad UTF-8 and not length.
        char16_t units[256];
        range = "a name of at most 63 UTF-16 units";
        if (text.size() > 4 * (QEL_INTERFACE_NAME_SIZE - 1)) {
            return Read::RANGE;
        }
        if (!utf8ToUtf16(text, units, sizeof units / sizeof units[0])) {
            return Read::MALFORMED;
        }
        size_t length = 0;
        while (units[length] != 0) {
            ++length;
        }
        return length < QEL_INTERFACE_NAME_SIZE ? Read::OK : Read::RANGE;
    }
    }
    return Read::MALFORMED;
}

std::string keyList() {
    std::string list;
    for (size_t i = 0; i < k_keyCount; ++i) {
        list += (i == 0 ? "" : ", ") + std::string(k_keys[i].name);
    }
    return list;
}

std::string number(uint64_t value) {
    return std::to_string(value);
}

template <typename List, typename Format> std::string offeredText(const List& list, Format format) {
    std::string text;
    for (size_t i = 0; i < usable(list); ++i) {
        text += (i == 0 ? "" : ", ") + format(list.entries[i]);
    }
    return "(offered: " + (text.empty() ? std::string("none") : text) + ")";
}

std::string numberText(uint32_t value) {
    return number(value);
}

std::string offeredRates(const qel_options& o) {
    return offeredText(o.sample_rates,
                       [](const qel_sample_rate& r) { return rateText(r.rate_hz); });
}

std::string offeredLatencies(const qel_options& o) {
    std::string text;
    for (size_t i = 0; i < usable(o.latencies); ++i) {
        const qel_latency& latency = o.latencies.entries[i];
        text += (i == 0 ? "" : ", ") + number(i) + ": " + msText(latency.latency_us) + " (" +
                cleanText(latency.name, QEL_LATENCY_NAME_SIZE) + ")";
    }
    return "(offered: " + (text.empty() ? std::string("none") : text) + ")";
}

std::string offeredInterfaces(const qel_options& o) {
    return offeredText(o.interfaces, [](const qel_interface& entry) {
        return utf16ToUtf8(entry.name, QEL_INTERFACE_NAME_SIZE);
    });
}

std::string quoted(const std::string& text) {
    return "\"" + cleanText(text) + "\"";
}

const qel_latency* findLatency(const qel_options& o, const Setting& s) {
    switch (s.form) {
    case Setting::NUMBER:
        return qel_options_find_latency_by_us(&o, s.number);
    case Setting::INDEX:
        return s.number < usable(o.latencies) ? &o.latencies.entries[s.number] : nullptr;
    case Setting::NAME:
        return qel_options_find_latency_by_name(&o, s.name.c_str());
    }
    return nullptr;
}

std::string latencyAsGiven(const Setting& s) {
    switch (s.form) {
    case Setting::NUMBER:
        return msText(s.number);
    case Setting::INDEX:
        return "index " + number(s.number);
    case Setting::NAME:
        return quoted(s.name);
    }
    return "";
}

// Applies one setting, or says why it cannot be.
void apply(const qel_options& o, const Setting& s, qel_config& c,
           std::vector<std::string>& problems) {
    auto refuse = [&](const char* name, const std::string& value, const std::string& offered) {
        problems.push_back(std::string(name) + ": " + value + " is not offered " + offered);
    };
    switch (s.key) {
    case Key::POWER:
        c.want_to_run = s.number;
        return;
    case Key::AUDIO:
        c.audio_interface = s.number;
        return;
    case Key::RATE:
        if (qel_options_find_sample_rate(&o, s.number) == nullptr) {
            return refuse("rate", rateText(s.number), offeredRates(o));
        }
        c.sample_rate_hz = s.number;
        return;
    case Key::BITS:
        if (!contains(o.sample_formats, s.number)) {
            return refuse("bits", number(s.number), offeredText(o.sample_formats, numberText));
        }
        c.sample_format = static_cast<uint16_t>(s.number);
        return;
    case Key::LATENCY: {
        const qel_latency* latency = findLatency(o, s);
        if (latency == nullptr) {
            return refuse("latency", latencyAsGiven(s), offeredLatencies(o));
        }
        std::memset(c.latency, 0, sizeof c.latency);
        std::memcpy(c.latency, latency->name, strnlen(latency->name, sizeof c.latency - 1));
        return;
    }
    case Key::CHANNELS:
        if (!contains(o.channel_counts, s.number)) {
            return refuse("channels", number(s.number), offeredText(o.channel_counts, numberText));
        }
        c.channels = static_cast<uint16_t>(s.number);
        return;
    case Key::INTERFACE: {
        char16_t name[QEL_INTERFACE_NAME_SIZE];
        const qel_interface* entry = utf8ToUtf16(s.name, name, QEL_INTERFACE_NAME_SIZE)
                                         ? qel_options_find_interface_by_name(&o, name)
                                         : nullptr;
        if (entry == nullptr) {
            return refuse("interface", quoted(s.name), offeredInterfaces(o));
        }
        c.interface = *entry;
        return;
    }
    case Key::ASIO_BUFFER:
        if (!contains(o.asio_buffer_sizes, s.number)) {
            return refuse("asio-buffer", number(s.number),
                          offeredText(o.asio_buffer_sizes, numberText));
        }
        c.asio_buffer_size = s.number;
        return;
    case Key::ASIO_ENCODING:
        if (!contains(o.asio_encodings, s.number)) {
            return refuse("asio-encoding", number(s.number),
                          offeredText(o.asio_encodings, numberText));
        }
        c.asio_encoding = static_cast<uint16_t>(s.number);
        return;
    case Key::ASIO_LATENCY:
        if (!contains(o.asio_latencies, s.number)) {
            return refuse("asio-latency", msText(s.number), offeredText(o.asio_latencies, msText));
        }
        c.asio_latency_us = s.number;
        return;
    }
}

// Why a configuration that passed every setting is still not valid: one
// line for each field qel_config_is_valid finds fault with. `why` says
// where the field's value came from.
void explain(const qel_options& o, const qel_config& c, const std::string& channelsWhy,
             std::vector<std::string>& problems) {
    const std::string why = " (in force)";
    auto refuse = [&](const char* name, const std::string& value, const std::string& offered) {
        problems.push_back(std::string(name) + ": " + value + " is not offered " + offered);
    };
    if (!contains(o.channel_counts, c.channels)) {
        refuse("channels", number(c.channels) + channelsWhy,
               offeredText(o.channel_counts, numberText));
    }
    const uint8_t none[QEL_MAC_SIZE] = {};
    if (std::memcmp(c.interface.mac, none, QEL_MAC_SIZE) != 0 &&
        qel_options_find_interface_by_mac(&o, c.interface.mac) == nullptr) {
        refuse("interface",
               quoted(utf16ToUtf8(c.interface.name, QEL_INTERFACE_NAME_SIZE)) + " " +
                   macText(c.interface.mac) + why,
               offeredInterfaces(o));
    }
    const qel_sample_rate* rate = qel_options_find_sample_rate(&o, c.sample_rate_hz);
    if (rate == nullptr) {
        refuse("rate", rateText(c.sample_rate_hz) + why, offeredRates(o));
    } else if (c.channels > rate->max_channels) {
        problems.push_back("channels: " + number(c.channels) + channelsWhy + " is more than " +
                           rateText(c.sample_rate_hz) + " allows (at most " +
                           number(rate->max_channels) + ")");
    }
    if (!contains(o.sample_formats, c.sample_format)) {
        refuse("bits", number(c.sample_format) + why, offeredText(o.sample_formats, numberText));
    }
    if (qel_options_find_latency_by_name(&o, c.latency) == nullptr) {
        refuse("latency", quoted(cleanText(c.latency, QEL_LATENCY_NAME_SIZE)) + why,
               offeredLatencies(o));
    }
    if (c.audio_interface != QEL_AUDIO_INTERFACE_ASIO &&
        c.audio_interface != QEL_AUDIO_INTERFACE_WDM) {
        refuse("audio", audioText(c.audio_interface) + why, "(offered: ASIO, WDM)");
    }
    if (!contains(o.asio_buffer_sizes, c.asio_buffer_size)) {
        refuse("asio-buffer", number(c.asio_buffer_size) + why,
               offeredText(o.asio_buffer_sizes, numberText));
    }
    if (!contains(o.asio_encodings, c.asio_encoding)) {
        refuse("asio-encoding", number(c.asio_encoding) + why,
               offeredText(o.asio_encodings, numberText));
    }
    if (!contains(o.asio_latencies, c.asio_latency_us)) {
        refuse("asio-latency", msText(c.asio_latency_us) + why,
               offeredText(o.asio_latencies, msText));
    }
}

// "2ms", "2.5ms": a length in milliseconds that needs no quoting.
std::string compactMs(uint32_t us) {
    std::string text = msText(us);
    return text.substr(0, text.size() - 3) + "ms";
}

} // namespace

const KeyInfo* findKey(const std::string& name) {
    for (size_t i = 0; i < k_keyCount; ++i) {
        if (name == k_keys[i].name) {
            return &k_keys[i];
        }
    }
    return nullptr;
}

bool parseSettings(const std::vector<std::string>& arguments, std::vector<Setting>& settings,
                   std::string& error) {
    settings.clear();
    for (const std::string& argument : arguments) {
        const size_t equals = argument.find('=');
        if (equals == std::string::npos) {
            error = quoted(argument) + " is not KEY=VALUE (keys: " + keyList() + ")";
            return false;
        }
        const std::string name = argument.substr(0, equals);
        const std::string value = argument.substr(equals + 1);
        const KeyInfo* key = findKey(name);
        if (key == nullptr) {
            error = "unknown key " + quoted(name) + " (keys: " + keyList() + ")";
            return false;
        }
        for (const Setting& earlier : settings) {
            if (earlier.key == key->key) {
                error = name + " is given twice";
                return false;
            }
        }
        if (value.empty()) {
            error = name + " has no value (" + name + "=" + key->form + ")";
            return false;
        }
        Setting setting;
        setting.key = key->key;
        setting.text = cleanText(value);
        std::string range;
        switch (readValue(*key, value, setting, range)) {
        case Read::OK:
            break;
        case Read::MALFORMED:
            error = name + "=" + setting.text + ": not " + key->value;
            return false;
        case Read::RANGE:
            error = name + "=" + setting.text + ": out of range (" + range + ")";
            return false;
        }
        settings.push_back(setting);
    }
    return true;
}

Built buildConfig(const qel_options& options, const qel_config& inForce,
                  const std::vector<Setting>& settings) {
    Built built;
    built.config = inForce;
    bool channelsNamed = false;
    for (const Setting& setting : settings) {
        apply(options, setting, built.config, built.problems);
        channelsNamed = channelsNamed || setting.key == Key::CHANNELS;
    }
    qel_config& c = built.config;
    const qel_sample_rate* rate = qel_options_find_sample_rate(&options, c.sample_rate_hz);
    std::string channelsWhy = " (in force)";
    if (built.problems.empty() && rate != nullptr && c.channels > rate->max_channels) {
        if (channelsNamed) {
            built.problems.push_back("channels: " + number(c.channels) + " is more than " +
                                     rateText(c.sample_rate_hz) + " allows (at most " +
                                     number(rate->max_channels) + ")");
        } else if (rate->max_channels > 0) {
            channelsWhy = " (lowered from " + number(c.channels) + ")";
            c.channels = rate->max_channels;
            built.note = "Channel count reduced to " + number(c.channels) + " due to sample rate " +
                         rateText(c.sample_rate_hz);
        }
    }
    if (built.problems.empty() && !qel_config_is_valid(&options, &c)) {
        explain(options, c, channelsNamed ? "" : channelsWhy, built.problems);
        if (built.problems.empty()) {
            built.problems.push_back("the configuration is not valid against the options");
        }
    }
    built.valid = built.problems.empty();
    return built;
}

std::vector<std::string> offeredValues(const qel_options& o, Key key) {
    std::vector<std::string> values;
    auto all = [&values](const auto& list, auto format) {
        for (size_t i = 0; i < usable(list); ++i) {
            values.push_back(format(list.entries[i]));
        }
    };
    switch (key) {
    case Key::POWER:
        return {"on", "off"};
    case Key::AUDIO:
        return {"ASIO", "WDM"};
    case Key::RATE:
        all(o.sample_rates, [](const qel_sample_rate& r) { return number(r.rate_hz); });
        break;
    case Key::BITS:
        all(o.sample_formats, numberText);
        break;
    case Key::LATENCY:
        all(o.latencies, [](const qel_latency& l) { return compactMs(l.latency_us); });
        break;
    case Key::CHANNELS:
        all(o.channel_counts, numberText);
        break;
    case Key::INTERFACE:
        all(o.interfaces, [](const qel_interface& entry) {
            return utf16ToUtf8(entry.name, QEL_INTERFACE_NAME_SIZE);
        });
        break;
    case Key::ASIO_BUFFER:
        all(o.asio_buffer_sizes, numberText);
        break;
    case Key::ASIO_ENCODING:
        all(o.asio_encodings, numberText);
        break;
    case Key::ASIO_LATENCY:
        all(o.asio_latencies, [](uint32_t us) {
            const std::string ms = compactMs(us);
            return ms.substr(0, ms.size() - 2);
        });
        break;
    }
    return values;
}

} // namespace qelctl
