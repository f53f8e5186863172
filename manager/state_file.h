// The manager's saved state: the configuration in force, kept across restarts
// in a small JSON file (see docs/manager.md, "State file").
#pragma once

#include "qel_records.h"

#include <string>

enum class StateLoad { Loaded, Missing, Corrupt };

// Reads the state file at `path`. Loaded: `out` holds the saved configuration
// (zero-filled first, then every field). Missing: there is no file; Corrupt:
// the file cannot be read or is not a well-formed state. In both `problem`
// is one line naming the file and what is wrong, and `out` is not touched.
// Whether the configuration is valid against the options is for the caller.
StateLoad loadStateFile(const std::string& path, qel_config& out, std::string& problem);

// Writes `config` to `path` atomically: a temporary file in the same
// directory is written and flushed to disk, then renamed over `path`, and
// the directory is flushed. The directory (and missing parents) is created
// with mode 0700. On failure returns false with `error` naming the path and
// the cause; the previous file, if any, is left as it was.
bool saveStateFile(const std::string& path, const qel_config& config, std::string& error);

// $XDG_STATE_HOME/qelvane/manager-state.json, or with ~/.local/state when
// XDG_STATE_HOME is unset or not absolute ($HOME, else the password entry's
// home directory).
std::string defaultStatePath();
