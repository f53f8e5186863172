// qelctl's command line: the commands as a table of name, handler and the
// options each takes, and the parser that turns the arguments into one
// invocation of one handler. Every mistake is found here, before anything
// is sent: an unknown command or option, a missing or malformed option
// value, an argument a command does not take, and every KEY=VALUE of set.
#pragma once

#include "kes_time.h"
#include "qelctl_change.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace qelctl {

struct Context;
struct Invocation;

// Runs one command; returns the exit status.
typedef int (*Handler)(const Invocation& invocation, Context& context);

// The options a command takes besides the common ones (--port, -v).
constexpr unsigned OPTION_JSON = 1;
constexpr unsigned OPTION_DRY_RUN = 2;
constexpr unsigned OPTION_RUNNING = 4;
constexpr unsigned OPTION_TIMEOUT = 8;
constexpr unsigned OPTION_LIST = 16;

struct Command {
    const char* name;
    Handler run;
    unsigned options;     // OPTION_*
    bool settings;        // takes one or more KEY=VALUE (and nothing else)
    const char* synopsis; // "set [--dry-run] [--json] KEY=VALUE..."
    const char* summary;  // what it does, for the usage text
};

// The commands, in the order of the usage text (qelctl_commands.cpp).
extern const Command k_commands[];
extern const size_t k_commandCount;
const Command* findCommand(const std::string& name);

constexpr uint16_t DEFAULT_PORT = 8899;
constexpr kes_time DEFAULT_WAIT_TIMEOUT{30, 0};

struct Invocation {
    const Command* command = nullptr;
    uint16_t port = DEFAULT_PORT;
    bool verbose = false;
    bool json = false;
    bool dryRun = false;
    bool running = false;
    kes_time timeout = DEFAULT_WAIT_TIMEOUT;
    const KeyInfo* list = nullptr; // options --list KEY
    std::vector<Setting> settings; // set's, read
};

enum class ParseEnd {
    RUN,     // run `invocation`
    HELP,    // print usageText() to standard output, exit 0
    VERSION, // print the version, exit 0
    USAGE,   // print `error` and a hint to standard error, exit 2
};

struct Parsed {
    ParseEnd end = ParseEnd::USAGE;
    Invocation invocation;
    std::string error;
};

// Reads the arguments (without the program's name). The common options and
// the command's own may stand before or after the command; "--" ends the
// options. --help or --version anywhere before "--" wins over everything.
Parsed parseCommandLine(const std::vector<std::string>& arguments);

// The text of --help.
std::string usageText();

// "qelctl 0.1.0".
std::string versionText();

} // namespace qelctl
