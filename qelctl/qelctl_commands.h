// qelctl's commands: status, options, set, clear-error, watch and wait, each
// one function over a session, and run(), which hands an invocation to its
// command. Output goes to the context's streams, so that the commands run
// in-process in tests exactly as in the program.
#pragma once

#include "kes_env.h"
#include "qelctl_args.h"
#include "qelctl_session.h"

#include <ostream>

namespace qelctl {

struct Context {
    std::ostream& out; // reports, JSON, watch lines
    std::ostream& err; // messages, the channel note, the -v log (the log's own stream)
    kes_env* env;
    Waker* waker; // may be null
};

// Sets the log for -v, runs the command and returns its exit status.
int run(const Invocation& invocation, Context& context);

} // namespace qelctl
