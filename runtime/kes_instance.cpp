// The instance lock: a flock on a file in the user's private directory
// decides who is the instance, and the holder listens on a socket file beside
// it for later starts. Taking the flock is the test-and-set: it either
// succeeds (this process is the instance) or fails with EWOULDBLOCK (another
// process is); the kernel drops it when the holder ends.
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
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char k_name_prefix[] = "qelvane-";
constexpr char k_lock_suffix[] = ".lock";
constexpr char k_socket_suffix[] = ".sock";
constexpr char k_temporary_default[] = "/tmp";
constexpr char k_deleted_suffix[] = " (deleted)";
constexpr char k_request = 'R';
constexpr char k_answer_raised = 'Y';
constexpr char k_answer_no_window = 'N';
// How long the holder waits for the request byte of a caller that connected.
constexpr int k_request_wait_ms = 1000;
// How often a start tries when the flock is taken but nobody listens: the
// holder may be between its flock and its listen, or just ending.
constexpr int k_lock_attempts = 3;
constexpr kes_time k_lock_retry_pause{0, 20000};

static_assert(KES_INSTANCE_SOCKET_PATH_SIZE == sizeof(sockaddr_un{}.sun_path),
              "a socket path fills sun_path");
static_assert(KES_INSTANCE_NAME_SIZE == sizeof k_name_prefix - 1 + 32 + 1,
              "a lock name is the prefix and 32 hex digits");
static_assert(sizeof k_lock_suffix == sizeof k_socket_suffix,
              "the lock file's path is as long as the socket's");

// A failure of this module as a code: the translated error, except that a
// failure never reads as one of the three results that let a start go on
// (ENOENT would be KES_NOTFOUND, EEXIST KES_ALREADY).
kes_result failure_from(int error) {
    const kes_result result = kes_result_from_system(static_cast<uint32_t>(error));
    if (result == KES_SUCCESS || result == KES_ALREADY || result == KES_NOTFOUND) {
        return KES_SYSTEM;
    }
    return result;
}

kes_result last_error() {
    return failure_from(errno);
}

// A failure to open or create something on the lock's path: the ones that
// say the path is not this user's to use are a refusal.
kes_result path_error() {
    switch (errno) {
    case EACCES:
    case EPERM:
    case ELOOP:
    case ENOTDIR:
    case ENOENT:
    case EISDIR:
        return KES_ACCES;
    default:
        return last_error();
    }
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

// `value` when it is an absolute path, else null.
const char* absolute_variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? value : nullptr;
}

// The length of `path` without its trailing "/" (at least 1 for "/").
size_t trimmed_length(const char* path) {
    size_t length = std::strlen(path);
    while (length > 1 && path[length - 1] == '/') {
        --length;
    }
    return length;
}

// Appends `length` bytes of `text` to the terminated text of `used` bytes in
// `buffer`; false when it does not fit with its terminator.
bool append(char* buffer, size_t size, size_t* used, const char* text, size_t length) {
    if (length >= size - *used) {
        return false;
    }
    std::memcpy(buffer + *used, text, length);
    *used += length;
    buffer[*used] = '\0';
    return true;
}

// The lock directory into `buffer`; *temporary tells whether it is the one
// under the temporary directory (made when missing) rather than the user's
// runtime directory (never made here).
kes_result name_directory(char* buffer, size_t size, bool* temporary) {
    if (buffer == nullptr || size == 0) {
        return KES_INVALIDPARAMETER;
    }
    buffer[0] = '\0';
    size_t used = 0;
    bool fits = false;
    const char* runtime = absolute_variable("XDG_RUNTIME_DIR");
    if (runtime != nullptr) {
        *temporary = false;
        fits = append(buffer, size, &used, runtime, trimmed_length(runtime));
    } else {
        *temporary = true;
        const char* base = absolute_variable("TMPDIR");
        if (base == nullptr) {
            base = k_temporary_default;
        }
        size_t base_length = trimmed_length(base);
        if (base_length == 1) {
            base_length = 0; // "/": no double slash
        }
        char own[32];
        const int own_length =
            kes_snprintf(own, sizeof own, "/%s%u", k_name_prefix, static_cast<unsigned>(geteuid()));
        fits = append(buffer, size, &used, base, base_length) &&
               append(buffer, size, &used, own, static_cast<size_t>(own_length));
    }
    if (!fits) {
        buffer[0] = '\0';
        return KES_TRUNCATED;
    }
    return KES_SUCCESS;
}

kes_result locate(const char* name, kes_instance_place* place, char* file_name, bool* temporary) {
    std::memset(place, 0, sizeof *place);
    char path[QEL_INSTANCE_PATH_MAX];
    const char* key = name;
    if (key == nullptr) {
        const kes_result result = kes_instance_executable_path(path, sizeof path);
        if (result != KES_SUCCESS) {
            return result;
        }
        key = path;
    }
    kes_result result = kes_instance_lock_name(key, file_name, KES_INSTANCE_NAME_SIZE);
    if (result == KES_SUCCESS) {
        result = name_directory(place->directory, sizeof place->directory, temporary);
    }
    if (result != KES_SUCCESS) {
        return result;
    }
    const char* separator = std::strcmp(place->directory, "/") == 0 ? "" : "/";
    const int length = kes_snprintf(place->socket_path, sizeof place->socket_path, "%s%s%s%s",
                                    place->directory, separator, file_name, k_socket_suffix);
    if (length < 0 || static_cast<size_t>(length) >= sizeof place->socket_path) {
        std::memset(place, 0, sizeof *place);
        return KES_TRUNCATED;
    }
    kes_snprintf(place->lock_path, sizeof place->lock_path, "%s%s%s%s", place->directory, separator,
                 file_name, k_lock_suffix);
    return KES_SUCCESS;
}

// True when `info` describes a directory of this user closed to group and
// others (a symbolic link never gets here: it is opened with O_NOFOLLOW).
bool private_directory(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

// Opens the lock directory, making it (mode 0700) first when `create` and it
// is missing. KES_ACCES when it is not this user's private directory.
kes_result open_directory(const char* path, bool create, int* out) {
    bool made = false;
    if (create) {
        if (mkdir(path, 0700) == 0) {
            made = true;
        } else if (errno != EEXIST) {
            return path_error();
        }
    }
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return path_error();
    }
    struct stat info {};
    kes_result result = KES_SUCCESS;
    if (fstat(fd, &info) != 0) {
        result = last_error();
    } else if (made && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
               (info.st_mode & 07777) != 0700) {
        // The umask cut the mode it was made with: exactly 0700, whatever it is.
        if (fchmod(fd, 0700) != 0 || fstat(fd, &info) != 0) {
            result = last_error();
        }
    }
    if (result == KES_SUCCESS && !private_directory(info)) {
        result = KES_ACCES;
    }
    if (result != KES_SUCCESS) {
        close(fd);
        return result;
    }
    *out = fd;
    return KES_SUCCESS;
}

// Opens (creating it when missing) the lock file `file` in `directory`.
kes_result open_lock_file(int directory, const char* file, int* out) {
    const int fd =
        openat(directory, file, O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        return path_error();
    }
    struct stat info {};
    kes_result result = KES_SUCCESS;
    if (fstat(fd, &info) != 0) {
        result = last_error();
    } else if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        result = KES_ACCES;
    }
    if (result != KES_SUCCESS) {
        close(fd);
        return result;
    }
    *out = fd;
    return KES_SUCCESS;
}

void fill_address(const char* path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    kes_strlcpy(address->sun_path, path, sizeof address->sun_path);
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

// Asks the holder listening at `address` to show its window. KES_CONNREFUSED
// when nobody listens there (any more, or not yet).
kes_result ask_holder(const sockaddr_un& address, int answer_ms) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return last_error();
    }
    kes_result result = KES_SUCCESS;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // No socket file yet, or one a dead holder left: nobody listens. A
        // full backlog (EAGAIN) means the holder is not serving: no answer.
        result = errno == ECONNREFUSED || errno == ENOENT ? KES_CONNREFUSED
                 : errno == EAGAIN                        ? KES_NOTFOUND
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

// Under the flock `lock`: replaces a socket file a dead holder left, listens
// on the socket path and makes the record.
kes_result listen_as_holder(int directory, const char* socket_file, const sockaddr_un& address,
                            int lock, kes_instance** instance) {
    if (unlinkat(directory, socket_file, 0) != 0 && errno != ENOENT) {
        return last_error();
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return last_error();
    }
    kes_result result = KES_SUCCESS;
    int wake = -1;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        result = last_error();
        close(fd);
        return result;
    }
    // Only this user may connect, whatever the umask made of the file (the
    // directory keeps everyone else out anyway).
    if (chmod(address.sun_path, 0600) != 0 || listen(fd, 8) != 0 ||
        (wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0) {
        result = last_error();
    } else {
        kes_instance* made = new (std::nothrow) kes_instance{lock, fd, wake, {}};
        if (made == nullptr) {
            result = KES_NOMEMORY;
        } else {
            kes_strlcpy(made->socket_path, address.sun_path, sizeof made->socket_path);
            *instance = made;
            return KES_SUCCESS;
        }
    }
    if (wake >= 0) {
        close(wake);
    }
    unlinkat(directory, socket_file, 0);
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
        return kes_result_from_errno();
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

kes_result kes_instance_lock_name(const char* key, char* buffer, size_t size) {
    if (key == nullptr || buffer == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (size < KES_INSTANCE_NAME_SIZE) {
        if (size > 0) {
            buffer[0] = '\0';
        }
        return KES_TRUNCATED;
    }
    const size_t length = strnlen(key, QEL_INSTANCE_PATH_MAX);
    // Two 64-bit hashes of the whole key from different offset bases: the
    // directory already belongs to one user, so the name only has to keep
    // that user's keys apart.
    kes_snprintf(buffer, size, "%s%016llx%016llx", k_name_prefix,
                 static_cast<unsigned long long>(fnv1a(key, length, 0xcbf29ce484222325ULL)),
                 static_cast<unsigned long long>(fnv1a(key, length, 0x84222325cbf29ce4ULL)));
    return KES_SUCCESS;
}

kes_result kes_instance_directory(char* buffer, size_t size) {
    bool temporary = false;
    return name_directory(buffer, size, &temporary);
}

kes_result kes_instance_where(char* buffer, size_t size) {
    return kes_instance_directory(buffer, size);
}

kes_result kes_instance_locate(const char* name, kes_instance_place* place) {
    if (place == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    char file_name[KES_INSTANCE_NAME_SIZE];
    bool temporary = false;
    return locate(name, place, file_name, &temporary);
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
    kes_instance_place place;
    char file_name[KES_INSTANCE_NAME_SIZE];
    bool temporary = false;
    kes_result result = locate(name, &place, file_name, &temporary);
    if (result != KES_SUCCESS) {
        return result == KES_ALREADY || result == KES_NOTFOUND ? KES_SYSTEM : result;
    }
    char lock_file[KES_INSTANCE_NAME_SIZE + sizeof k_lock_suffix];
    char socket_file[KES_INSTANCE_NAME_SIZE + sizeof k_socket_suffix];
    kes_snprintf(lock_file, sizeof lock_file, "%s%s", file_name, k_lock_suffix);
    kes_snprintf(socket_file, sizeof socket_file, "%s%s", file_name, k_socket_suffix);
    sockaddr_un address;
    fill_address(place.socket_path, &address);
    const int answer_ms = poll_milliseconds(answer_wait ? answer_wait : &KES_INSTANCE_ANSWER_WAIT);

    int directory = -1;
    result = open_directory(place.directory, temporary, &directory);
    if (result != KES_SUCCESS) {
        return result;
    }
    int lock = -1;
    result = open_lock_file(directory, lock_file, &lock);
    if (result != KES_SUCCESS) {
        close(directory);
        return result;
    }
    // Taken all along, yet nobody listened: a holder that never serves.
    result = KES_NOTFOUND;
    for (int attempt = 0; attempt < k_lock_attempts; ++attempt) {
        if (attempt > 0) {
            kes_sleep(&k_lock_retry_pause);
        }
        if (flock(lock, LOCK_EX | LOCK_NB) == 0) {
            result = listen_as_holder(directory, socket_file, address, lock, instance);
            break;
        }
        if (errno != EWOULDBLOCK) {
            result = last_error();
            break;
        }
        const kes_result asked = ask_holder(address, answer_ms);
        if (asked != KES_CONNREFUSED) {
            result = asked;
            break;
        }
    }
    if (*instance == nullptr) {
        close(lock); // drops the flock, if this start took it
    }
    close(directory);
    return result;
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
    // The socket file goes while the flock is still held: once the flock is
    // dropped the path may already be the next holder's.
    if (instance->socket_path[0] != '\0') {
        unlink(instance->socket_path);
    }
    close(instance->listener);
    close(instance->wake);
    close(instance->lock);
    delete instance;
}
