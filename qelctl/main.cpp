// qelctl: parses the command line, prepares the process (signals, the
// runtime environment) and hands the invocation to the commands.
#include "qelctl_args.h"
#include "qelctl_commands.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const qelctl::Parsed parsed = qelctl::parseCommandLine(arguments);
    switch (parsed.end) {
    case qelctl::ParseEnd::HELP:
        std::cout << qelctl::usageText();
        return qelctl::EXIT_DONE;
    case qelctl::ParseEnd::VERSION:
        std::cout << qelctl::versionText() << "\n";
        return qelctl::EXIT_DONE;
    case qelctl::ParseEnd::USAGE:
        std::cerr << "qelctl: " << parsed.error << "\n"
                  << "Run qelctl --help for the commands, their options and the keys of set.\n";
        return qelctl::EXIT_USAGE;
    case qelctl::ParseEnd::RUN:
        break;
    }

    // SIGINT, SIGTERM and SIGHUP (Ctrl+C and the console's close on
    // Windows) end any wait, so that the DISCONNECT goes out.
    qelctl::Waker waker;
    qelctl::Waker* const stopper = waker.valid() ? &waker : nullptr;
    qelctl::stopOnSignals(stopper);
    kes_env* env = nullptr;
    if (kes_env_acquire(&env) != KES_SUCCESS) {
        std::cerr << "qelctl: Failed to start: no env\n";
        qelctl::stopOnSignals(nullptr);
        return qelctl::EXIT_UNAVAILABLE;
    }
    qelctl::Context context{std::cout, std::cerr, env, stopper};
    const int status = qelctl::run(parsed.invocation, context);
    std::cout.flush();
    kes_env_release(env);
    qelctl::stopOnSignals(nullptr);
    return status;
}
