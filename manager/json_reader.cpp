#include "json_reader.h"

#include "options_file.h"

#include "kes_result.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

using nlohmann::json;

namespace qel_json {

namespace {

std::string printable(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
        }
    }
    return out;
}

std::string range(uint32_t minimum, uint32_t maximum) {
    return std::to_string(minimum) + " to " + std::to_string(maximum);
}

uint32_t wholeNumber(const json& value, const std::string& where, uint32_t minimum,
                     uint32_t maximum) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<uint64_t>();
        if (number < minimum || number > maximum) {
            throw Fail{where, std::to_string(number) + " is out of range (" +
                                  range(minimum, maximum) + ")"};
        }
        return static_cast<uint32_t>(number);
    }
    if (value.is_number_integer()) {
        throw Fail{where, std::to_string(value.get<int64_t>()) + " is out of range (" +
                              range(minimum, maximum) + ")"};
    }
    throw Fail{where, "must be a whole number from " + range(minimum, maximum) + ", not " +
                          JsonReader::describeValue(value)};
}

std::string requireString(const json& value, const std::string& where, const char* what) {
    if (!value.is_string()) {
        throw Fail{where,
                   std::string("must be ") + what + ", not " + JsonReader::describeValue(value)};
    }
    return value.get<std::string>();
}

constexpr size_t NESTING_MAX = 32;

// Tracks the path of the value being parsed, to name a key given twice, and
// limits the nesting.
class DuplicateKeyCheck {
public:
    bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
        case json::parse_event_t::array_start: {
            std::string path = childPath();
            // The files are a few levels deep; a deeper one is a mistake (or
            // an attack on the memory of the parser and of this check).
            if (m_frames.size() >= NESTING_MAX) {
                throw Fail{path,
                           "nested more than " + std::to_string(NESTING_MAX) + " levels deep"};
            }
            m_frames.push_back(Frame{path, event == json::parse_event_t::object_start, 0, {}, {}});
            break;
        }
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            if (!m_frames.empty()) {
                m_frames.pop_back();
            }
            break;
        case json::parse_event_t::key:
            if (!m_frames.empty() && parsed.is_string()) {
                Frame& frame = m_frames.back();
                frame.key = parsed.get<std::string>();
                if (!frame.keys.insert(frame.key).second && m_duplicate.empty()) {
                    m_duplicate = JsonReader::join(frame.path, frame.key);
                    m_found = true;
                }
            }
            break;
        case json::parse_event_t::value:
            childPath();
            break;
        }
        return true;
    }

    bool found() const { return m_found; }
    const std::string& duplicate() const { return m_duplicate; }

private:
    struct Frame {
        std::string path;
        bool isObject;
        size_t next;
        std::string key;
        std::set<std::string> keys;
    };

    // The path of the value that starts now (advancing an array's index).
    std::string childPath() {
        if (m_frames.empty()) {
            return "";
        }
        Frame& frame = m_frames.back();
        if (frame.isObject) {
            return JsonReader::join(frame.path, frame.key);
        }
        return JsonReader::index(frame.path, frame.next++);
    }

    std::vector<Frame> m_frames;
    std::string m_duplicate;
    bool m_found = false;
};

} // namespace

std::string Fail::describe() const {
    return where.empty() ? what : where + ": " + what;
}

bool readSmallFile(const std::string& path, size_t maximum, std::string& text, std::string& problem,
                   int* errorNumber) {
    if (errorNumber != nullptr) {
        *errorNumber = 0;
    }
    // Non-blocking, so that a FIFO given by mistake cannot hang the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        int saved = errno;
        if (errorNumber != nullptr) {
            *errorNumber = saved;
        }
        problem =
            std::string("cannot read: ") + kes_system_error_text(static_cast<uint32_t>(saved));
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        problem = "cannot read: not a regular file";
        return false;
    }
    std::string content;
    char buffer[8192];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            int saved = errno;
            ::close(fd);
            problem =
                std::string("cannot read: ") + kes_system_error_text(static_cast<uint32_t>(saved));
            return false;
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, static_cast<size_t>(got));
        if (content.size() > maximum) {
            ::close(fd);
            problem = "larger than " + std::to_string(maximum) + " bytes";
            return false;
        }
    }
    ::close(fd);
    text.swap(content);
    return true;
}

json parseStrict(const std::string& text) {
    DuplicateKeyCheck check;
    json root;
    try {
        root = json::parse(text, std::ref(check));
    } catch (const Fail&) {
        throw;
    } catch (const json::parse_error& e) {
        std::string message = e.what();
        size_t start = message.find("] ");
        message = start == std::string::npos ? message : message.substr(start + 2);
        const std::string lead = "parse error at ";
        std::string where = "not valid JSON at byte " + std::to_string(e.byte);
        if (message.compare(0, lead.size(), lead) == 0) {
            message = where + ", " + message.substr(lead.size());
        } else {
            message = where + ": " + message;
        }
        throw Fail{"", printable(message)};
    }
    if (check.found()) {
        throw Fail{check.duplicate(), "given twice"};
    }
    return root;
}

std::string JsonReader::index(const std::string& where, size_t i) {
    return where + "[" + std::to_string(i) + "]";
}

std::string JsonReader::join(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
}

std::string JsonReader::describeValue(const json& value) {
    if (value.is_array()) {
        return "an array";
    }
    if (value.is_object()) {
        return "an object";
    }
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        if (text.size() > 40) {
            return "\"" + printable(text.substr(0, 40)) + "...\"";
        }
        return "\"" + printable(text) + "\"";
    }
    return value.dump();
}

void JsonReader::requireObject(const json& value, const std::string& where) {
    if (!value.is_object()) {
        throw Fail{where, "must be an object, not " + describeValue(value)};
    }
}

void JsonReader::checkKeys(const json& object, const std::string& where,
                           std::initializer_list<const char*> known) {
    for (const auto& item : object.items()) {
        bool found = false;
        for (const char* key : known) {
            found = found || item.key() == key;
        }
        if (!found) {
            std::string list;
            for (const char* key : known) {
                list += list.empty() ? "" : ", ";
                list += key;
            }
            throw Fail{join(where, printable(item.key())), "unknown key (known: " + list + ")"};
        }
    }
}

const json& JsonReader::member(const json& object, const std::string& where, const char* key) {
    auto found = object.find(key);
    if (found == object.end()) {
        throw Fail{where, std::string("\"") + key + "\" is missing"};
    }
    return *found;
}

void JsonReader::requireList(const json& value, const std::string& where, bool nonEmpty) {
    if (!value.is_array()) {
        throw Fail{where, "must be a list, not " + describeValue(value)};
    }
    if (value.size() > QEL_OPTIONS_LIST_MAX) {
        throw Fail{where, "has " + std::to_string(value.size()) + " entries, at most " +
                              std::to_string(QEL_OPTIONS_LIST_MAX) + " are allowed"};
    }
    if (nonEmpty && value.empty()) {
        throw Fail{where, "must not be empty"};
    }
}

uint16_t JsonReader::u16(const json& value, const std::string& where, uint16_t minimum) {
    return static_cast<uint16_t>(wholeNumber(value, where, minimum, UINT16_MAX));
}

uint32_t JsonReader::u32(const json& value, const std::string& where, uint32_t minimum) {
    return wholeNumber(value, where, minimum, UINT32_MAX);
}

bool JsonReader::boolean(const json& value, const std::string& where) {
    if (!value.is_boolean()) {
        throw Fail{where, "must be true or false, not " + describeValue(value)};
    }
    return value.get<bool>();
}

std::string JsonReader::narrowName(const json& value, const std::string& where, size_t capacity) {
    std::string name = requireString(value, where, "a string");
    if (name.empty()) {
        throw Fail{where, "must not be empty"};
    }
    if (name.find('\0') != std::string::npos) {
        throw Fail{where, "must not contain a NUL character"};
    }
    if (name.size() > capacity - 1) {
        throw Fail{where, "is " + std::to_string(name.size()) + " bytes long, at most " +
                              std::to_string(capacity - 1) + " are allowed"};
    }
    return name;
}

std::u16string JsonReader::wideName(const json& value, const std::string& where, size_t capacity) {
    std::string text = requireString(value, where, "a string");
    if (text.empty()) {
        throw Fail{where, "must not be empty"};
    }
    if (text.find('\0') != std::string::npos) {
        throw Fail{where, "must not contain a NUL character"};
    }
    bool valid = true;
    std::u16string name = utf8ToUtf16(text, &valid);
    if (!valid) {
        throw Fail{where, "is not valid UTF-8"};
    }
    if (name.size() > capacity - 1) {
        throw Fail{where, "is " + std::to_string(name.size()) + " UTF-16 units long, at most " +
                              std::to_string(capacity - 1) + " are allowed"};
    }
    return name;
}

void JsonReader::mac(const json& value, const std::string& where, uint8_t* out, bool allowZero) {
    std::string text = requireString(value, where, "a MAC address like \"00:1b:21:3c:4d:5e\"");
    uint8_t bytes[QEL_MAC_SIZE];
    if (!parseMac(text, bytes)) {
        throw Fail{where, describeValue(value) + " is not a MAC address like 00:1b:21:3c:4d:5e"};
    }
    static const uint8_t zero[QEL_MAC_SIZE] = {};
    if (!allowZero && std::memcmp(bytes, zero, QEL_MAC_SIZE) == 0) {
        throw Fail{where, "00:00:00:00:00:00 means no interface and cannot name one"};
    }
    std::memcpy(out, bytes, QEL_MAC_SIZE);
}

void JsonReader::ipv4(const json& value, const std::string& where, uint8_t* out) {
    std::string text = requireString(value, where, "an IPv4 address like \"192.168.1.20\"");
    if (!parseIpv4(text, out)) {
        throw Fail{where, describeValue(value) + " is not an IPv4 address like 192.168.1.20"};
    }
}

uint32_t JsonReader::audioInterface(const json& value, const std::string& where) {
    if (value == "ASIO") {
        return QEL_AUDIO_INTERFACE_ASIO;
    }
    if (value == "WDM") {
        return QEL_AUDIO_INTERFACE_WDM;
    }
    throw Fail{where, "must be \"ASIO\" or \"WDM\", not " + describeValue(value)};
}

const char* JsonReader::audioInterfaceName(uint32_t audioInterface) {
    if (audioInterface == QEL_AUDIO_INTERFACE_ASIO) {
        return "ASIO";
    }
    if (audioInterface == QEL_AUDIO_INTERFACE_WDM) {
        return "WDM";
    }
    return nullptr;
}

} // namespace qel_json
