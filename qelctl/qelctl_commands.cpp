// The commands. Each opens its own session and closes it (a DISCONNECT) on
// every way out; a command refused before it connects never opens one.
#include "qelctl_commands.h"

#include "kes_log.h"
#include "qelctl_text.h"

#include <string>

namespace qelctl {
namespace {

// The pause between two tries of wait.
constexpr kes_time k_retryPause{0, 100000};

int report(Context& context, const Outcome& outcome) {
    if (!outcome.ok() && outcome.status < EXIT_SIGNAL_BASE && !outcome.message.empty()) {
        context.err << "qelctl: " << outcome.message << "\n";
    }
    return outcome.status;
}

kes_time now() {
    kes_time t{0, 0};
    kes_time_now(&t);
    return t;
}

bool isZero(const kes_time& t) {
    return t.seconds == 0 && t.microseconds == 0;
}

void printStatus(Context& context, bool json, const qel_info* info, const qel_options& options,
                 const qel_state& state) {
    if (json) {
        context.out << statusJson(info, options, state, true) << "\n";
    } else {
        context.out << statusReport(info, options, state);
    }
}

int runStatus(const Invocation& invocation, Context& context) {
    Session session(context.env, invocation.port, context.waker);
    const Outcome opened = session.open();
    if (!opened.ok()) {
        return report(context, opened);
    }
    // The records are cleared with the DISCONNECT: printed first.
    printStatus(context, invocation.json, session.info(), session.options(), session.state());
    session.close();
    return EXIT_DONE;
}

int runOptions(const Invocation& invocation, Context& context) {
    Session session(context.env, invocation.port, context.waker);
    const Outcome opened = session.open();
    if (!opened.ok()) {
        return report(context, opened);
    }
    if (invocation.list != nullptr) {
        for (const std::string& value : offeredValues(session.options(), invocation.list->key)) {
            context.out << value << "\n";
        }
    } else if (invocation.json) {
        context.out << optionsJson(session.options(), true) << "\n";
    } else {
        context.out << optionsReport(session.options());
    }
    session.close();
    return EXIT_DONE;
}

int runSet(const Invocation& invocation, Context& context) {
    Session session(context.env, invocation.port, context.waker);
    const Outcome opened = session.open();
    if (!opened.ok()) {
        return report(context, opened);
    }
    const qel_config inForce = session.state().config;
    const Built built = buildConfig(session.options(), inForce, invocation.settings);
    if (!built.note.empty()) {
        context.err << "qelctl: " << built.note << "\n";
    }
    if (!built.valid) {
        session.close();
        for (const std::string& problem : built.problems) {
            context.err << "qelctl: " << problem << "\n";
        }
        context.err << "qelctl: nothing was sent\n";
        return EXIT_REFUSED;
    }
    if (invocation.dryRun) {
        if (invocation.json) {
            context.out << configJson(session.options(), built.config, true) << "\n";
        } else {
            context.out << "Would send SET CONFIG with:\n"
                        << configReport(session.options(), built.config, inForce);
        }
        session.close();
        return EXIT_DONE;
    }
    const Outcome answered = session.setConfig(built.config);
    if (answered.ok()) {
        printStatus(context, invocation.json, session.info(), session.options(),
                    session.answerState());
    }
    session.close();
    return report(context, answered);
}

int runClearError(const Invocation& invocation, Context& context) {
    Session session(context.env, invocation.port, context.waker);
    const Outcome opened = session.open();
    if (!opened.ok()) {
        return report(context, opened);
    }
    const Outcome answered = session.clearSystemError();
    if (answered.ok()) {
        printStatus(context, invocation.json, session.info(), session.options(),
                    session.answerState());
    }
    session.close();
    return report(context, answered);
}

int runWatch(const Invocation& invocation, Context& context) {
    Session session(context.env, invocation.port, context.waker);
    const Outcome opened = session.open();
    if (!opened.ok()) {
        return report(context, opened);
    }
    const bool json = invocation.json;
    const std::string version = session.info() != nullptr ? versionText(*session.info()) : "?";
    // A line that cannot be written (the reader has gone) ends the watch.
    auto emit = [&context](const std::string& line) {
        context.out << line << "\n" << std::flush;
        return static_cast<bool>(context.out);
    };
    auto stateLine = [&]() {
        const kes_time t = now();
        return json ? stateEventJson(t, session.info(), session.options(), session.state())
                    : timeText(t) + " " + stateSummary(session.options(), session.state());
    };
    auto optionsLine = [&]() {
        const kes_time t = now();
        return json ? optionsEventJson(t, session.options())
                    : timeText(t) + " " + optionsSummary(session.options());
    };
    const kes_time start = now();
    const bool written = emit(json ? connectionEventJson(start, true, version)
                                   : timeText(start) + " connected: QEL Manager " + version +
                                         " on 127.0.0.1:" + std::to_string(invocation.port)) &&
                         emit(optionsLine()) && emit(stateLine());
    if (!written) {
        return EXIT_DONE;
    }
    qel_client* client = session.client();
    const FollowEnd end = session.follow(
        [&](QelClientEvent event) {
            if (event == QEL_CLIENT_EVENT_STATE && (client->flags & QEL_CLIENT_STATE_VALID)) {
                return emit(stateLine());
            }
            if (event == QEL_CLIENT_EVENT_OPTIONS && (client->flags & QEL_CLIENT_OPTIONS_VALID)) {
                return emit(optionsLine());
            }
            return true;
        },
        kes_time{0, 0});
    session.close();
    if (end != FollowEnd::LOST) {
        return EXIT_DONE;
    }
    const kes_time lost = now();
    emit(json ? connectionEventJson(lost, false, session.lostReason())
              : timeText(lost) + " connection: lost: " + session.lostReason());
    context.err << "qelctl: lost contact with the manager: " << session.lostReason() << "\n";
    return EXIT_UNAVAILABLE;
}

bool isRunning(const qel_client* client) {
    return (client->flags & QEL_CLIENT_STATE_VALID) && client->state.config.want_to_run != 0;
}

int runWait(const Invocation& invocation, Context& context) {
    // --timeout 0: one try, with the usual limits of each wait.
    const bool once = isZero(invocation.timeout);
    kes_time deadline = now();
    kes_time_add(&deadline, &invocation.timeout);
    std::string last;
    for (;;) {
        Session session(context.env, invocation.port, context.waker);
        if (!once) {
            session.setDeadline(deadline);
        }
        const Outcome opened = session.open();
        if (opened.status >= EXIT_SIGNAL_BASE) {
            return opened.status;
        }
        if (opened.ok()) {
            qel_client* client = session.client();
            if (!invocation.running || isRunning(client)) {
                return EXIT_DONE;
            }
            if (once) {
                context.err << "qelctl: the manager answers, but its sound card is not running\n";
                return EXIT_REFUSED;
            }
            const FollowEnd end = session.follow(
                [client](QelClientEvent event) {
                    return !(event == QEL_CLIENT_EVENT_STATE && isRunning(client));
                },
                deadline);
            switch (end) {
            case FollowEnd::STOPPED:
                return EXIT_DONE;
            case FollowEnd::INTERRUPTED:
                return session.interruptedStatus();
            case FollowEnd::TIMED_OUT:
                context.err << "qelctl: the manager answers, but its sound card is not running\n";
                return EXIT_REFUSED;
            case FollowEnd::LOST:
                last = "lost contact with the manager: " + session.lostReason();
                break;
            }
        }
        session.close();
        kes_time remaining = deadline;
        const kes_time current = now();
        kes_time_subtract(&remaining, &current);
        const bool late = remaining.seconds < 0 || isZero(remaining);
        // A try that the deadline cut short says less than the one before.
        if (!opened.ok() && (last.empty() || !late)) {
            last = opened.message;
        }
        if (once || late) {
            context.err << "qelctl: " << last << "\n";
            return EXIT_UNAVAILABLE;
        }
        kes_time pause = kes_time_compare(&remaining, &k_retryPause) < 0 ? remaining : k_retryPause;
        kes_sleep(&pause);
        if (context.waker != nullptr && context.waker->drain() != 0) {
            return EXIT_SIGNAL_BASE + context.waker->stopSignal();
        }
    }
}

} // namespace

const Command k_commands[] = {
    {"status", &runStatus, OPTION_JSON, false, "status [--json]",
     "the manager's version and the state in force"},
    {"options", &runOptions, OPTION_JSON | OPTION_LIST, false, "options [--json] [--list KEY]",
     "what the manager offers"},
    {"set", &runSet, OPTION_JSON | OPTION_DRY_RUN, true, "set [--dry-run] [--json] KEY=VALUE...",
     "change the configuration (one SET CONFIG)"},
    {"clear-error", &runClearError, OPTION_JSON, false, "clear-error [--json]",
     "clear the manager's system error"},
    {"watch", &runWatch, OPTION_JSON, false, "watch [--json]",
     "print each change until interrupted or lost"},
    {"wait", &runWait, OPTION_RUNNING | OPTION_TIMEOUT, false, "wait [--running] [--timeout S]",
     "wait for the manager (and its sound card)"},
};
const size_t k_commandCount = sizeof k_commands / sizeof k_commands[0];

const Command* findCommand(const std::string& name) {
    for (size_t i = 0; i < k_commandCount; ++i) {
        if (name == k_commands[i].name) {
            return &k_commands[i];
        }
    }
    return nullptr;
}

int run(const Invocation& invocation, Context& context) {
    if (invocation.command == nullptr) {
        return EXIT_USAGE;
    }
    if (context.env != nullptr && context.env->log != nullptr) {
        kes_log_set_threshold(context.env->log, KES_LOG_STDERR,
                              invocation.verbose ? KES_LOG_DEBUG : KES_LOG_NONE);
    }
    return invocation.command->run(invocation, context);
}

} // namespace qelctl
