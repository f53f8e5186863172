// The instance lock over an abstract-namespace Unix stream socket. Binding
// the name is the test-and-set: it either succeeds (this process is the
// instance) or fails with EADDRINUSE (another process is). The holder keeps
// the socket listening; a later start connects and asks it to show its window.
#include "kes_instance.h"

#include "kes_text.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char k_name_prefix[] = "qelvane-instance/";
constexpr char k_deleted_suffix[] = " (deleted)";
constexpr char k_request = 'R';
constexpr char k_answer_raised = 'Y';
constexpr char k_answer_no_window = 'N';
// How long the holder waits for the request byte of a caller that connected.
constexpr int k_request_wait_ms = 1000;
// How often a start retries when the name is taken but nobody listens: the
// holder may be between bind and listen, or just ending.
constexpr int k_bind_attempts = 3;
constexpr kes_time k_bind_retry_pause{0, 20000};

static_assert(KES_INSTANCE_NAME_MAX + 1 == sizeof(sockaddr_un{}.sun_path),
              "a name fills sun_path after its leading zero byte");

kes_result last_error() {
    return kes_result_from_errno();
}

// Milliseconds for poll(): no span waits without limit, else the span rounded
// up, saturated so that a huge span never wraps into "no limit".
int poll_milliseconds(const kes_time* span) {
    if (span == nullptr) {
        return -1;
    }
    if (span->seconds < 0 || span->microseconds < 0) {
        return 0;
    }
    const int64_t limit = INT_MAX / 1000 - 1;
    if (span->seconds > limit) {
        return INT_MAX;
    }
    return static_cast<int>(span->seconds * 1000 + (span->microseconds + 999) / 1000);
}

// Waits until `fd` is readable; KES_TIMEDOUT when it is not within `ms`.
kes_result wait_readable(int fd, int ms) {
    pollfd entry{fd, POLLIN, 0};
    for (;;) {
        const int n = poll(&entry, 1, ms);
        if (n > 0) {
            return KES_SUCCESS;
        }
        if (n == 0) {
            return KES_TIMEDOUT;
        }
        if (errno != EINTR) {
            return last_error();
        }
    }
}

// 64-bit FNV-1a of `text` from the given offset basis.
uint64_t fnv1a(const char* text, size_t length, uint64_t basis) {
    uint64_t hash = basis;
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(text[i]);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

struct socket_name {
    sockaddr_un address;
    socklen_t length; // offsetof(sun_path) + 1 + name length: the exact name
};

kes_result make_socket_name(const char* name, socket_name* out) {
    char path[QEL_INSTANCE_PATH_MAX];
    const char* key = name;
    if (key == nullptr) {
        const kes_result result = kes_instance_executable_path(path, sizeof path);
        if (result != KES_SUCCESS) {
            return result;
        }
        key = path;
    }
    std::memset(out, 0, sizeof *out);
    out->address.sun_family = AF_UNIX;
    size_t length = 0;
    const kes_result result =
        kes_instance_lock_name(key, static_cast<uint32_t>(geteuid()), out->address.sun_path + 1,
                               sizeof out->address.sun_path - 1, &length);
    if (result != KES_SUCCESS) {
        return result;
    }
    out->length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    return KES_SUCCESS;
}

// True when the process at the other end of `fd` runs as this user.
bool same_user(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof credentials) {
        return false;
    }
    return credentials.uid == geteuid();
}

// Asks the holder of `name` to show its window. KES_CONNREFUSED when nobody
// listens on the name (any more, or not yet).
kes_result ask_holder(const socket_name& name, int answer_ms) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return last_error();
    }
    kes_result result = KES_SUCCESS;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&name.address), name.length) != 0) {
        // A full backlog (EAGAIN) means the holder is not serving: no answer.
        result = errno == ECONNREFUSED ? KES_CONNREFUSED
                 : errno == EAGAIN     ? KES_NOTFOUND
                                       : last_error();
    } else if (!same_user(fd)) {
        result = KES_ACCES;
    } else if (send(fd, &k_request, 1, MSG_NOSIGNAL) != 1) {
        // The holder went away between accept and now: nobody answers.
        result = KES_NOTFOUND;
    } else {
        char answer = 0;
        if (wait_readable(fd, answer_ms) == KES_SUCCESS && recv(fd, &answer, 1, 0) == 1 &&
            answer == k_answer_raised) {
            result = KES_ALREADY;
        } else {
            result = KES_NOTFOUND;
        }
    }
    close(fd);
    return result;
}

} // namespace

kes_result kes_instance_executable_path(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return KES_INVALIDPARAMETER;
    }
    buffer[0] = '\0';
    const ssize_t n = readlink("/proc/self/exe", buffer, size);
    if (n < 0) {
        return last_error();
    }
    if (static_cast<size_t>(n) >= size) {
        buffer[size - 1] = '\0';
        return KES_TRUNCATED;
    }
    size_t length = static_cast<size_t>(n);
    buffer[length] = '\0';
    const size_t suffix = sizeof k_deleted_suffix - 1;
    if (length > suffix && std::memcmp(buffer + length - suffix, k_deleted_suffix, suffix) == 0) {
        buffer[length - suffix] = '\0';
    }
    return KES_SUCCESS;
}

kes_result kes_instance_lock_name(const char* key, uint32_t uid, char* buffer, size_t size,
                                  size_t* length) {
    if (key == nullptr || buffer == nullptr || length == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (size < KES_INSTANCE_NAME_MAX) {
        return KES_TRUNCATED;
    }
    const size_t key_length = strnlen(key, QEL_INSTANCE_PATH_MAX);
    char head[48];
    const int head_length = kes_snprintf(head, sizeof head, "%s%u/", k_name_prefix, uid);
    const size_t fixed = static_cast<size_t>(head_length);
    if (fixed + key_length <= KES_INSTANCE_NAME_MAX) {
        std::memcpy(buffer, head, fixed);
        std::memcpy(buffer + fixed, key, key_length);
        *length = fixed + key_length;
        return KES_SUCCESS;
    }
    // Too long: a 128-bit hash of the whole key keeps names apart, the key's
    // end keeps them readable (in `ss -xl`, for one).
    char hashed[KES_INSTANCE_NAME_MAX + 1];
    const int hashed_length = kes_snprintf(
        hashed, sizeof hashed, "%s#%016llx%016llx/", head,
        static_cast<unsigned long long>(fnv1a(key, key_length, 0xcbf29ce484222325ULL)),
        static_cast<unsigned long long>(fnv1a(key, key_length, 0x84222325cbf29ce4ULL)));
    const size_t used = static_cast<size_t>(hashed_length);
    const size_t tail = KES_INSTANCE_NAME_MAX - used;
    std::memcpy(buffer, hashed, used);
    std::memcpy(buffer + used, key + key_length - tail, tail);
    *length = KES_INSTANCE_NAME_MAX;
    return KES_SUCCESS;
}

kes_result kes_instance_lock(const char* name, kes_instance** instance) {
    return kes_instance_lock_wait(name, nullptr, instance);
}

kes_result kes_instance_lock_wait(const char* name, const kes_time* answer_wait,
                                  kes_instance** instance) {
    if (instance == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    *instance = nullptr;
    socket_name address;
    kes_result result = make_socket_name(name, &address);
    if (result != KES_SUCCESS) {
        return result;
    }
    const int answer_ms = poll_milliseconds(answer_wait ? answer_wait : &KES_INSTANCE_ANSWER_WAIT);

    for (int attempt = 0; attempt < k_bind_attempts; ++attempt) {
        if (attempt > 0) {
            kes_sleep(&k_bind_retry_pause);
        }
        // Close-on-exec: a program the instance starts must not hold the lock.
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            return last_error();
        }
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0) {
            if (listen(fd, 8) != 0) {
                result = last_error();
                close(fd);
                return result;
            }
            const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            if (wake < 0) {
                result = last_error();
                close(fd);
                return result;
            }
            kes_instance* made = new (std::nothrow) kes_instance{fd, wake};
            if (made == nullptr) {
                close(wake);
                close(fd);
                return KES_NOMEMORY;
            }
            *instance = made;
            return KES_SUCCESS;
        }
        const int error = errno;
        close(fd);
        if (error != EADDRINUSE) {
            return kes_result_from_system(static_cast<uint32_t>(error));
        }
        result = ask_holder(address, answer_ms);
        if (result != KES_CONNREFUSED) {
            return result;
        }
    }
    // Taken all along, yet nobody listened: a holder that never serves.
    return KES_NOTFOUND;
}

kes_result kes_instance_serve(kes_instance* instance, const kes_time* wait,
                              kes_instance_raise raise, void* context) {
    if (instance == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    pollfd entries[2] = {{instance->wake, POLLIN, 0}, {instance->listener, POLLIN, 0}};
    const int ms = poll_milliseconds(wait);
    int n = 0;
    do {
        n = poll(entries, 2, ms);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return last_error();
    }
    if (n == 0) {
        return KES_TIMEDOUT;
    }
    if (entries[0].revents != 0) {
        return KES_INTERRUPTED;
    }
    const int fd = accept4(instance->listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        // The caller gave up before we took it: nothing to answer.
        return errno == EAGAIN || errno == ECONNABORTED ? KES_TIMEDOUT : last_error();
    }
    kes_result result = KES_SUCCESS;
    char request = 0;
    if (!same_user(fd)) {
        result = KES_ACCES;
    } else if (wait_readable(fd, k_request_wait_ms) != KES_SUCCESS ||
               recv(fd, &request, 1, MSG_DONTWAIT) != 1 || request != k_request) {
        result = KES_INVALIDDATA;
    } else {
        const bool raised = raise != nullptr && raise(context);
        const char answer = raised ? k_answer_raised : k_answer_no_window;
        if (send(fd, &answer, 1, MSG_NOSIGNAL) != 1) {
            // The caller did not wait for the answer; it decided without us.
            result = KES_SUCCESS;
        }
    }
    close(fd);
    return result;
}

kes_result kes_instance_interrupt(kes_instance* instance) {
    if (instance == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const uint64_t one = 1;
    if (write(instance->wake, &one, sizeof one) != static_cast<ssize_t>(sizeof one) &&
        errno != EAGAIN) {
        return last_error();
    }
    return KES_SUCCESS;
}

void kes_instance_unlock(kes_instance* instance) {
    if (instance == nullptr) {
        return;
    }
    close(instance->listener);
    close(instance->wake);
    delete instance;
}
