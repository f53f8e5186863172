// The host's network interfaces, as the manager offers them.
#pragma once

#include "options_file.h"

#include <string>
#include <vector>

// Scans the interfaces listed under `sysfsRoot` (one directory or link per
// interface, with the files `type`, `address`, `operstate`, `carrier` and
// `speed`) and returns at most QEL_OPTIONS_LIST_MAX of them, the first by name
// in byte order. Skipped: the loopback interface (type 772 or name "lo") and
// interfaces whose MAC is unreadable or all zero. Names are converted from
// UTF-8 (invalid bytes become U+FFFD) and cut to QEL_INTERFACE_NAME_SIZE - 1
// units. Link is up when `operstate` says "up", or, when operstate is
// missing or "unknown", when `carrier` is 1. Speed is 0 when unreadable or
// negative. The IPv4 address is the host's first AF_INET address on an
// interface of that name (all zero when there is none). Never fails: a
// missing root gives an empty list.
std::vector<ManagerInterface> scanHostInterfaces(const std::string& sysfsRoot = "/sys/class/net");
