// The process-wide runtime environment: the log's lifetime and the socket
// layer's start-up and shut-down (kes_env_<platform>.cpp; nothing to do on
// POSIX, Winsock 2.2 on Windows).
#include "kes_env.h"

#include "kes_platform.h"

namespace {

kes_env g_env{nullptr, 0, false};

} // namespace

kes_result kes_env_acquire(kes_env** env) {
    if (env == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (g_env.users == 0) {
        const kes_result started = kes_platform_sockets_start();
        if (started != KES_SUCCESS) {
            return started;
        }
        if (g_env.log == nullptr) {
            g_env.log = kes_log_new();
            if (g_env.log == nullptr) {
                kes_platform_sockets_stop();
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
    if (--env->users == 0) {
        if (env->owns_log) {
            kes_log_free(env->log);
            env->log = nullptr;
            env->owns_log = false;
        }
        kes_platform_sockets_stop();
    }
    return KES_SUCCESS;
}
