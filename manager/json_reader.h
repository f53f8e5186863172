// Internal to the manager's support units: strict reading of the small JSON
// files (options, state). Every reader either returns a checked value or
// throws Fail naming the value's JSON path ("sample_rates[2].max_channels")
// and what is wrong with it, so that a refusal can say what and where.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace qel_json {

struct Fail {
    std::string where; // JSON path; "" for the whole document
    std::string what;
    // "where: what", or just "what" for the whole document.
    std::string describe() const;
};

// Reads a regular file of at most `maximum` bytes. On failure sets `problem`
// ("cannot read: <reason>", "not a regular file", "larger than N bytes") and
// `*errorNumber` (the errno of a failed open, else 0) when given.
bool readSmallFile(const std::string& path, size_t maximum, std::string& text, std::string& problem,
                   int* errorNumber = nullptr);

// Parses `text`. A syntax error throws Fail{"", "not valid JSON at byte N,
// line L, column C: ..."}; a key given twice in one object throws Fail naming
// the key's path ("given twice"), and so does a value nested more than 32
// levels deep. Bytes outside printable ASCII in the
// parser's message are shown as \xNN.
nlohmann::json parseStrict(const std::string& text);

struct JsonReader {
    static std::string index(const std::string& where, size_t i);
    static std::string join(const std::string& where, const std::string& key);
    // A short form of a value for messages: numbers, booleans and null as
    // written, strings quoted (cut after 40 bytes), "an array", "an object".
    static std::string describeValue(const nlohmann::json& value);

    static void requireObject(const nlohmann::json& value, const std::string& where);
    // Refuses any key of `object` not in `known`, so that typos are caught.
    static void checkKeys(const nlohmann::json& object, const std::string& where,
                          std::initializer_list<const char*> known);
    // The member `key` of `object`, which must be there.
    static const nlohmann::json& member(const nlohmann::json& object, const std::string& where,
                                        const char* key);
    // A list of at most 16 entries; `nonEmpty` refuses an empty one.
    static void requireList(const nlohmann::json& value, const std::string& where, bool nonEmpty);

    static uint16_t u16(const nlohmann::json& value, const std::string& where, uint16_t minimum);
    static uint32_t u32(const nlohmann::json& value, const std::string& where, uint32_t minimum);
    static bool boolean(const nlohmann::json& value, const std::string& where);
    // A non-empty string without NUL bytes of at most capacity - 1 bytes.
    static std::string narrowName(const nlohmann::json& value, const std::string& where,
                                  size_t capacity);
    // The same for a name kept as UTF-16: at most capacity - 1 units.
    static std::u16string wideName(const nlohmann::json& value, const std::string& where,
                                   size_t capacity);
    // "00:1b:21:3c:4d:5e"; all zero only when `allowZero`.
    static void mac(const nlohmann::json& value, const std::string& where, uint8_t* out,
                    bool allowZero);
    static void ipv4(const nlohmann::json& value, const std::string& where, uint8_t* out);
    // "ASIO" (0) or "WDM" (1).
    static uint32_t audioInterface(const nlohmann::json& value, const std::string& where);
    static const char* audioInterfaceName(uint32_t audioInterface); // nullptr for others
};

} // namespace qel_json
