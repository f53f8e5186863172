// qelctl: parses the command line, prepares the process (signals, the
// runtime environment) and hands the invocation to the commands.
#include "qelctl_args.h"
#include "qelctl_commands.h"

#include <signal.h>

#include <iostream>
#include <string>
#include <vector>

namespace {

qelctl::Waker* g_waker = nullptr;

extern "C" void onSignal(int signal) {
    if (g_waker != nullptr) {
        g_waker->stop(signal);
    }
}

// SIGINT, SIGTERM and SIGHUP end any wait, so that the DISCONNECT goes out;
// a reader that has gone (SIGPIPE) shows as a failed write instead.
void installSignals() {
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
}

} // namespace

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

    qelctl::Waker waker;
    if (waker.valid()) {
        g_waker = &waker;
    }
    installSignals();
    kes_env* env = nullptr;
    if (kes_env_acquire(&env) != KES_SUCCESS) {
        std::cerr << "qelctl: Failed to start: no env\n";
        return qelctl::EXIT_UNAVAILABLE;
    }
    qelctl::Context context{std::cout, std::cerr, env, g_waker};
    const int status = qelctl::run(parsed.invocation, context);
    std::cout.flush();
    kes_env_release(env);
    g_waker = nullptr;
    return status;
}
