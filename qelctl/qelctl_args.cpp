// The command-line parser and the usage text, both driven by the command
// table and the key table.
#include "qelctl_args.h"

#include "qelctl_text.h"

#ifndef QELCTL_VERSION
#error "QELCTL_VERSION must name the project's version"
#endif

namespace qelctl {
namespace {

struct OptionName {
    const char* name;
    unsigned flag;
};

// The options a command may take, by name.
const OptionName k_commandOptions[] = {
    {"--json", OPTION_JSON},       {"--dry-run", OPTION_DRY_RUN}, {"--running", OPTION_RUNNING},
    {"--timeout", OPTION_TIMEOUT}, {"--list", OPTION_LIST},
};

// A port: decimal, 1 to 65535.
bool readPort(const std::string& text, uint16_t& port) {
    if (!allDigits(text) || text.size() > 5) {
        return false;
    }
    const unsigned long value = std::stoul(text);
    if (value < 1 || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// Seconds with at most three decimals, from 0 to 1000000.
bool readSeconds(const std::string& text, kes_time& span) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (!allDigits(whole) || whole.size() > 7 ||
        (point != std::string::npos && (!allDigits(fraction) || fraction.size() > 3))) {
        return false;
    }
    const long seconds = std::stol(whole);
    int32_t micros = 0;
    int32_t scale = 100000;
    for (char c : fraction) {
        micros += (c - '0') * scale;
        scale /= 10;
    }
    if (seconds > 1000000 || (seconds == 1000000 && micros > 0)) {
        return false;
    }
    span = kes_time{seconds, micros};
    return true;
}

std::string quoted(const std::string& text) {
    return "\"" + cleanText(text) + "\"";
}

std::string padded(const std::string& text, size_t width) {
    return text.size() >= width ? text + "  " : text + std::string(width - text.size(), ' ');
}

// What follows a value option: the text after "=" in "--port=N", or the
// next argument. False when there is none.
bool optionValue(const std::vector<std::string>& arguments, size_t& at, const std::string& name,
                 std::string& value) {
    const std::string& argument = arguments[at];
    if (argument.size() > name.size() && argument[name.size()] == '=') {
        value = argument.substr(name.size() + 1);
        return true;
    }
    if (at + 1 >= arguments.size()) {
        return false;
    }
    value = arguments[++at];
    return true;
}

// The option's name without any "=value".
std::string optionName(const std::string& argument) {
    const size_t equals = argument.find('=');
    return equals == std::string::npos ? argument : argument.substr(0, equals);
}

Parsed usage(const std::string& error) {
    Parsed parsed;
    parsed.end = ParseEnd::USAGE;
    parsed.error = error;
    return parsed;
}

} // namespace

Parsed parseCommandLine(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--") {
            break;
        }
        if (argument == "--help" || argument == "-h") {
            Parsed parsed;
            parsed.end = ParseEnd::HELP;
            return parsed;
        }
        if (argument == "--version") {
            Parsed parsed;
            parsed.end = ParseEnd::VERSION;
            return parsed;
        }
    }

    Parsed parsed;
    Invocation& invocation = parsed.invocation;
    unsigned given = 0; // command options given, OPTION_*
    bool portGiven = false;
    bool optionsEnded = false;
    std::vector<std::string> positional;
    for (size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const std::string name = optionName(argument);
        std::string value;
        if (argument == "-v" || argument == "--verbose") {
            invocation.verbose = true;
        } else if (name == "--port") {
            if (portGiven) {
                return usage("--port is given twice");
            }
            if (!optionValue(arguments, at, name, value)) {
                return usage("--port needs a value: --port N");
            }
            if (!readPort(value, invocation.port)) {
                return usage("--port " + quoted(value) + ": not a port number from 1 to 65535");
            }
            portGiven = true;
        } else {
            unsigned flag = 0;
            for (const OptionName& option : k_commandOptions) {
                if (name == option.name) {
                    flag = option.flag;
                }
            }
            if (flag == 0 || (flag != OPTION_TIMEOUT && flag != OPTION_LIST && name != argument)) {
                return usage("unknown option " + quoted(argument));
            }
            if ((given & flag) && (flag == OPTION_TIMEOUT || flag == OPTION_LIST)) {
                return usage(name + " is given twice");
            }
            given |= flag;
            if (flag == OPTION_TIMEOUT) {
                if (!optionValue(arguments, at, name, value)) {
                    return usage("--timeout needs a value: --timeout SECONDS");
                }
                if (!readSeconds(value, invocation.timeout)) {
                    return usage("--timeout " + quoted(value) +
                                 ": not a number of seconds from 0 to 1000000");
                }
            } else if (flag == OPTION_LIST) {
                if (!optionValue(arguments, at, name, value)) {
                    return usage("--list needs a value: --list KEY");
                }
                invocation.list = findKey(value);
                if (invocation.list == nullptr) {
                    std::string keys;
                    for (size_t i = 0; i < k_keyCount; ++i) {
                        keys += (i == 0 ? "" : ", ") + std::string(k_keys[i].name);
                    }
                    return usage("--list: unknown key " + quoted(value) + " (keys: " + keys + ")");
                }
            }
        }
    }

    if (positional.empty()) {
        return usage("no command given");
    }
    invocation.command = findCommand(positional[0]);
    if (invocation.command == nullptr) {
        std::string names;
        for (size_t i = 0; i < k_commandCount; ++i) {
            names += (i == 0 ? "" : ", ") + std::string(k_commands[i].name);
        }
        return usage("unknown command " + quoted(positional[0]) + " (commands: " + names + ")");
    }
    const Command& command = *invocation.command;
    for (const OptionName& option : k_commandOptions) {
        if ((given & option.flag) && !(command.options & option.flag)) {
            return usage(std::string(command.name) + " takes no " + option.name);
        }
    }
    invocation.json = (given & OPTION_JSON) != 0;
    invocation.dryRun = (given & OPTION_DRY_RUN) != 0;
    invocation.running = (given & OPTION_RUNNING) != 0;

    const std::vector<std::string> rest(positional.begin() + 1, positional.end());
    if (command.settings) {
        if (rest.empty()) {
            return usage(std::string(command.name) + " needs at least one KEY=VALUE");
        }
        std::string error;
        if (!parseSettings(rest, invocation.settings, error)) {
            return usage(std::string(command.name) + ": " + error);
        }
    } else if (!rest.empty()) {
        return usage(std::string(command.name) + " takes no arguments (" + quoted(rest[0]) + ")");
    }
    if (invocation.list != nullptr && invocation.json) {
        return usage("--list and --json exclude each other");
    }
    parsed.end = ParseEnd::RUN;
    return parsed;
}

std::string usageText() {
    std::string text = "Usage: qelctl [--port N] [-v] COMMAND [OPTIONS] [ARGS]\n"
                       "\n"
                       "Shows and changes the settings of the Qelvane sound card through the QEL\n"
                       "Manager on 127.0.0.1, as the control panel does.\n"
                       "\n"
                       "Commands:\n";
    constexpr size_t width = 32;
    for (size_t i = 0; i < k_commandCount; ++i) {
        std::string synopsis = std::string("  ") + k_commands[i].synopsis;
        if (synopsis.size() + 2 > width) {
            text += synopsis + "\n" + std::string(width, ' ');
        } else {
            text += padded(synopsis, width);
        }
        text += std::string(k_commands[i].summary) + "\n";
    }
    text += "\nKeys of set (a value the manager does not offer is refused):\n";
    for (size_t i = 0; i < k_keyCount; ++i) {
        text += padded("  " + std::string(k_keys[i].name) + "=" + k_keys[i].form, width) +
                k_keys[i].value + "\n";
    }
    text += "\n"
            "Options:\n"
            "  --port N                      the manager's UDP port on 127.0.0.1 (8899)\n"
            "  -v                            the protocol log on standard error\n"
            "  --json                        JSON instead of text\n"
            "  --dry-run                     set: print what would be sent, send nothing\n"
            "  --list KEY                    options: the values set takes for KEY\n"
            "  --running                     wait: also until the sound card runs\n"
            "  --timeout S                   wait: at most S seconds (30; 0: one try)\n"
            "  --help                        this text\n"
            "  --version                     the program's version\n"
            "\n"
            "Exit status: 0 done; 1 the manager refused, or a value is not offered;\n"
            "2 the command line is wrong; 3 the manager is not available or does not\n"
            "answer; 128+N ended by signal N (watch ends with 0).\n";
    return text;
}

std::string versionText() {
    return std::string("qelctl ") + QELCTL_VERSION;
}

} // namespace qelctl
