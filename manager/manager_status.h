// The manager's status as JSON, for `qel-manager ctl status`: the
// configuration in force, the state, the test modes and the connected
// clients.
#pragma once

#include "manager_core.h"

#include <cstdint>
#include <string>

// Pretty-printed JSON (two-space indent) ending in a line feed. `port` is the
// UDP port the manager listens on.
std::string managerStatusJson(const ManagerCore& core, uint16_t port);

// UTF-8 text of a terminated UTF-16 string of at most `capacity` units;
// unpaired surrogates become U+FFFD.
std::string managerUtf16ToUtf8(const char16_t* text, size_t capacity);
