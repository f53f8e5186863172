// The process-wide runtime environment. On Linux the socket layer needs no
// start-up or shut-down, so the environment's work is the log's lifetime.
#include "kes_env.h"

namespace {

kes_env g_env{nullptr, 0, false};

} // namespace

kes_result kes_env_acquire(kes_env** env) {
    if (env == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (g_env.users == 0) {
        if (g_env.log == nullptr) {
            g_env.log = kes_log_new();
            if (g_env.log == nullptr) {
                return KES_NOMEMORY;
            }
            g_env.owns_log = true;
        }
    }
    ++g_env.users;
    *env = &g_env;
    return KES_SUCCESS;
}

kes_result kes_env_release(kes_env* env) {
    if (env == nullptr || env->users == 0) {
        return KES_SUCCESS;
    }
    if (--env->users == 0 && env->owns_log) {
        kes_log_free(env->log);
        env->log = nullptr;
        env->owns_log = false;
    }
    return KES_SUCCESS;
}
