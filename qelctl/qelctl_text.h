// The texts qelctl makes of the manager's records: the display forms the
// panel shows ("48000 Hz", "24 bit", "2 ms", "1 Gbit/s"), names converted to
// UTF-8, the aligned reports of status and options, the one-line summaries
// of watch, and the JSON objects of --json. Pure functions: nothing here
// talks to the manager, and no record, however malformed, makes them read
// past a field or write text that is not valid UTF-8.
#pragma once

#include "kes_time.h"
#include "qel_records.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qelctl {

// The UTF-16 units up to the first zero or `capacity`, as UTF-8; a lone
// surrogate becomes U+FFFD.
std::string utf16ToUtf8(const char16_t* units, size_t capacity);

// Writes `text` as UTF-16 into `out`, terminated and zero-filled to
// `capacity`. False (nothing promised about `out`) when the text is not
// valid UTF-8 or needs more than capacity - 1 units.
bool utf8ToUtf16(const std::string& text, char16_t* out, size_t capacity);

// The bytes up to the first zero or `capacity`, read as UTF-8: every byte
// that is no part of a valid sequence, and every control character, becomes
// U+FFFD. Safe to print and to put into JSON whatever the bytes are.
std::string cleanText(const char* bytes, size_t capacity);
inline std::string cleanText(const std::string& text) {
    return cleanText(text.c_str(), text.size() + 1);
}

// The bytes up to the first zero or `capacity`, each read as the character
// of the same code (Latin-1); control characters become U+FFFD.
std::string latin1ToUtf8(const char* bytes, size_t capacity);

// Whether `text` is one or more decimal digits and nothing else (no sign,
// no space): the shape of every number qelctl reads.
bool allDigits(const std::string& text);

// "0.1.0-stand": major.minor.build and the suffix as it is.
std::string versionText(const qel_info& info);
std::string rateText(uint32_t hz);    // "48000 Hz"
std::string bitsText(uint32_t bits);  // "24 bit"
std::string msText(uint32_t us);      // "2 ms", "2.5 ms", "0.001 ms"
std::string speedText(uint32_t mbps); // "100 Mbit/s", "1 Gbit/s", "2.5 Gbit/s"
std::string macText(const uint8_t* mac);
std::string ipv4Text(const uint8_t* address);
std::string audioText(uint32_t audio); // "ASIO", "WDM", "unknown (7)"

// "2 ms (Medium)" for an offered latency name; the name and "(not offered)"
// otherwise.
std::string latencyText(const qel_options& options, const char* name);

// "none" for 0; "0x0201 Driver Missing: Can't find audio driver"; a code in
// no row of the catalogue: "0x0999 (unknown code)".
std::string systemErrorText(uint16_t code);

// "0x0000 (unlocked)"; "0x0002 (locked: an ASIO application has the audio
// driver open)"; any other bits "0x0004 (locked)".
std::string lockText(uint16_t flags);

// "2026-12-09T19:19:49.123Z": the time in UTC to the millisecond.
std::string timeText(const kes_time& time);

// The aligned reports of status and options, one "Label:  value" line each.
// The info is optional (its line then says "unknown").
std::string statusReport(const qel_info* info, const qel_options& options, const qel_state& state);
std::string optionsReport(const qel_options& options);

// The configuration a change would send: one aligned line per field, with
// "(was ...)" after each that differs from `before`.
std::string configReport(const qel_options& options, const qel_config& config,
                         const qel_config& before);

// One line each for watch, without the time: "state: running, WDM, ...",
// "options: rates 44100 48000 Hz; ...".
std::string stateSummary(const qel_options& options, const qel_state& state);
std::string optionsSummary(const qel_options& options);

// JSON objects (keys sorted), on one line or indented by two spaces.
std::string statusJson(const qel_info* info, const qel_options& options, const qel_state& state,
                       bool indent);
std::string optionsJson(const qel_options& options, bool indent);
// {"configuration": {...}, "latency_us": N}, the dry run's.
std::string configJson(const qel_options& options, const qel_config& config, bool indent);

// The lines of watch --json: {"event": "state", "time": ..., "state": {status}},
// {"event": "options", "time": ..., "options": {...}}, {"event": "connection",
// "time": ..., "connected": true, "version": ...} and, when contact is lost,
// {"event": "connection", "time": ..., "connected": false, "reason": ...}.
std::string stateEventJson(const kes_time& time, const qel_info* info, const qel_options& options,
                           const qel_state& state);
std::string optionsEventJson(const kes_time& time, const qel_options& options);
std::string connectionEventJson(const kes_time& time, bool connected, const std::string& detail);

} // namespace qelctl
