// The one process-wide runtime environment: it holds the log every layer
// writes to and brackets the socket layer's start-up and shut-down. Acquired
// once at start-up, released at exit; not safe for concurrent acquisition.
#pragma once

#include "kes_log.h"
#include "kes_result.h"

#include <cstdint>

struct kes_env {
    kes_log* log;
    uint32_t users;
    bool owns_log;
};

// Hands out the environment. The first acquisition starts the socket layer
// (Winsock 2.2 on Windows: its failure translated, KES_VERSION when 2.2 is
// not offered) and creates the log (KES_NOMEMORY when that fails); on any
// failure no acquisition is counted and nothing stays started. Missing
// argument: KES_INVALIDPARAMETER.
kes_result kes_env_acquire(kes_env** env);

// Gives back one acquisition; the last one frees the log the environment made
// and shuts the socket layer down. A missing environment, or one with no
// acquisition outstanding, is accepted and returns 0.
kes_result kes_env_release(kes_env* env);
