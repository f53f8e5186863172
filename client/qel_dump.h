// Diagnostic dumps of the manager's records: each record written to the log
// as readable lines at Debug level, so that a Debug log shows exactly what
// travelled between the control panel and the manager. A missing log or
// record writes nothing.
#pragma once

#include "kes_log.h"
#include "qel_records.h"

// Every list with its count (the ASIO lists without), one line each, prefix
// "  ".
void qel_options_dump(kes_log* log, const qel_options* options);

// One line per field, each beginning with `prefix` (nullptr: none); the three
// ASIO lines only for an ASIO configuration.
void qel_config_dump(kes_log* log, const qel_config* config, const char* prefix);

// The configuration in force (indented by four spaces) and the live status,
// prefix "  ".
void qel_state_dump(kes_log* log, const qel_state* state);
