// One running instance per user and executable (or per name).
//
// The API is the same on every platform; how the lock works is each
// platform's own.
//
// POSIX (kes_instance.cpp):
//
// Where: the lock lives in a directory only the user can write to, the
// user's own runtime directory $XDG_RUNTIME_DIR, or else "qelvane-<euid>"
// under $TMPDIR (/tmp when unset), which is created with mode 0700 when
// missing. Either directory is used only when it is a real directory (not a
// symbolic link) owned by the effective user and closed to group and others;
// another local user can therefore neither take a user's lock first nor reach
// its holder.
//
// What: "<name>.lock" decides who is the instance: an exclusive flock on it,
// which the kernel drops when the holder ends, however it ends, so no stale
// lock survives a crash. The holder listens on "<name>.sock" beside it (a
// socket file a dead holder left behind is replaced by the next holder). A
// later start finds the flock taken, connects and asks the holder to bring
// its main window to the front; the holder answers whether it could. The
// lock file itself stays in the directory (empty, mode 0600); only the flock
// on it counts. Every descriptor is close-on-exec: a program the holder
// starts holds nothing of the lock.
//
// Wire exchange on one connection: the asking side sends the request byte
// 'R'; the holder answers 'Y' (the window is being brought to the front) or
// 'N' (no window yet) and closes. Both sides talk only to processes of their
// own effective user (SO_PEERCRED).
//
// Windows (kes_instance_win.cpp): a named mutex decides who is the instance.
// Its name is the executable's full path (or the name) with every "\" and
// ":" replaced by "_"; Windows drops the mutex when its last handle goes,
// however the holder ends. A later start that finds the mutex already there
// looks for the running process whose main module has exactly the same path
// (byte for byte, letter case counting), takes that process's first
// top-level window whose extended style is not 0 and is no tool window,
// restores it when it is minimised and brings it to the foreground itself:
// there is nothing to answer, so kes_instance_serve only waits until it is
// interrupted.
#pragma once

#include "kes_result.h"
#include "kes_time.h"

#include <cstddef>
#include <cstdint>

// The longest executable path or lock name taken into account.
constexpr size_t QEL_INSTANCE_PATH_MAX = 4096;

// How long a later start waits for the holder's answer.
constexpr kes_time KES_INSTANCE_ANSWER_WAIT{2, 0};

// Called by kes_instance_serve for each request from a later start, on the
// thread that serves. True when the main window exists and is being brought
// to the front. It must not touch windows itself (it may post to the GUI
// thread).
typedef bool (*kes_instance_raise)(void* context);

// The executable's full real path into `buffer` (terminated, UTF-8), with the
// " (deleted)" the kernel appends for a replaced file removed (on Windows:
// the path of the process's main module, "C:\...\qel-panel.exe"). Missing
// buffer or size 0: KES_INVALIDPARAMETER; a path that does not fit:
// KES_TRUNCATED; a failed read: the translated error.
kes_result kes_instance_executable_path(char* buffer, size_t size);

// Where the lock lives, for a message that says it cannot be taken: the lock
// directory (kes_instance_directory) on POSIX, the mutex's name for the
// executable on Windows. Missing buffer: KES_INVALIDPARAMETER; a text that
// does not fit: KES_TRUNCATED.
kes_result kes_instance_where(char* buffer, size_t size);

#if defined(_WIN32)

// The instance lock: the named mutex, and the event that wakes a
// kes_instance_serve in progress (both Windows handles).
struct kes_instance {
    void* mutex;
    void* wake;
};

// Room for a mutex name: Windows takes names of up to 260 characters; the
// UTF-8 text of one may need three bytes for each.
constexpr size_t KES_INSTANCE_MUTEX_NAME_SIZE = 3 * 260 + 1;

// The mutex name (UTF-8, terminated) of `key` (a name or the executable
// path): the key with every "\" and ":" replaced by "_", nothing else
// changed. Missing argument: KES_INVALIDPARAMETER; a key that does not fit
// `size` or is longer than Windows allows (260 characters):
// KES_TRUNCATED, with an empty buffer.
kes_result kes_instance_mutex_name(const char* key, char* buffer, size_t size);

#else

// Room for a socket path: a Unix socket address's sun_path, terminator
// included. The directory, the lock file and the socket file of a lock all fit
// in it.
constexpr size_t KES_INSTANCE_SOCKET_PATH_SIZE = 108;

// Room for a lock's file name without its suffix: "qelvane-", 32 lower-case
// hex digits and the terminator.
constexpr size_t KES_INSTANCE_NAME_SIZE = 41;

// The instance lock: the flocked lock file, the listening socket, the
// descriptor that wakes a kes_instance_serve in progress, and the socket
// file's path (removed again by kes_instance_unlock).
struct kes_instance {
    int lock;
    int listener;
    int wake;
    char socket_path[KES_INSTANCE_SOCKET_PATH_SIZE];
};

// Where the lock of one key lives: the directory and the two files in it,
// each a terminated path.
struct kes_instance_place {
    char directory[KES_INSTANCE_SOCKET_PATH_SIZE];
    char lock_path[KES_INSTANCE_SOCKET_PATH_SIZE];
    char socket_path[KES_INSTANCE_SOCKET_PATH_SIZE];
};

// The file name (terminated, without ".lock" or ".sock") of the lock of `key`
// (a name, or the executable path): "qelvane-" and 32 lower-case hex digits
// of a 128-bit hash of the whole key, so that any key gives a short name
// without "/". Letter case counts: keys that differ in any byte give
// different names. Missing argument: KES_INVALIDPARAMETER; a buffer of fewer
// than KES_INSTANCE_NAME_SIZE bytes: KES_TRUNCATED.
kes_result kes_instance_lock_name(const char* key, char* buffer, size_t size);

// The lock directory of the current effective user (terminated, without a
// trailing "/"): $XDG_RUNTIME_DIR when it is set to an absolute path, else
// "<$TMPDIR>/qelvane-<euid>" ($TMPDIR when it is set to an absolute path,
// else "/tmp"). It only names the directory; kes_instance_lock checks (and in
// the temporary directory creates) it. Missing buffer: KES_INVALIDPARAMETER;
// a path that does not fit in `size`: KES_TRUNCATED.
kes_result kes_instance_directory(char* buffer, size_t size);

// The directory and the lock and socket files of the lock for `name`, or for
// the executable's path when `name` is null:
// "<directory>/<lock name>.lock" and "<directory>/<lock name>.sock". Missing
// place: KES_INVALIDPARAMETER; a socket path that would not fit
// KES_INSTANCE_SOCKET_PATH_SIZE: KES_TRUNCATED; or the failure of reading the
// executable path.
kes_result kes_instance_locate(const char* name, kes_instance_place* place);

#endif

// Takes the instance lock for `name`, or for the executable's path when
// `name` is null. Three results say how the start is to go on:
//   KES_SUCCESS    this process is the only instance; *instance holds the
//                  lock until kes_instance_unlock (or the end of the process)
//   KES_ALREADY    another instance holds it and is bringing its main window
//                  to the front (on Windows: this start brought it)
//   KES_NOTFOUND   another instance holds it but has no window yet, did not
//                  answer within KES_INSTANCE_ANSWER_WAIT, or never listened
//                  (on Windows: no process of this executable with such a
//                  window was found)
// Any other code means the lock could not be taken at all, a failure to be
// reported to the user:
//   KES_ACCES             the lock directory is refused: it is a symbolic
//                         link, not a directory, owned by another user, open
//                         to group or others, or missing ($XDG_RUNTIME_DIR;
//                         in the temporary directory: it may not be made
//                         there, or that directory is missing); or the lock
//                         file is not a regular file of this user; or the
//                         lock's socket may not be reached, or the process
//                         listening on it belongs to another user (it was
//                         not asked anything)
//   KES_TRUNCATED         the socket path does not fit a socket address
//   KES_INVALIDPARAMETER  `instance` is null
//   KES_NOMEMORY          no memory for the record
//   KES_SYSTEM or another translated failure of the file, lock or socket
//   calls (never KES_ALREADY or KES_NOTFOUND), or of reading the path.
// On Windows the failures are those of naming the mutex (KES_TRUNCATED for a
// path Windows cannot name one after) and of creating it, translated the
// same way.
// *instance is null unless the result is KES_SUCCESS.
kes_result kes_instance_lock(const char* name, kes_instance** instance);

// kes_instance_lock waiting at most `answer_wait` for the holder's answer
// (null: KES_INSTANCE_ANSWER_WAIT; on Windows there is no answer to wait for).
kes_result kes_instance_lock_wait(const char* name, const kes_time* answer_wait,
                                  kes_instance** instance);

// Waits at most `wait` (null: without limit) for one request of a later
// start and answers it with what `raise` (null: no window) returns:
//   KES_SUCCESS      a request was answered
//   KES_TIMEDOUT     none came in time
//   KES_INTERRUPTED  kes_instance_interrupt was called
//   KES_ACCES        the caller belongs to another user; closed unanswered
//   KES_INVALIDDATA  the caller sent no valid request in time; closed
// or the translated failure of the socket calls. Missing instance:
// KES_INVALIDPARAMETER. On Windows a later start raises the window itself, so
// no request ever comes: only KES_TIMEDOUT and KES_INTERRUPTED are returned.
kes_result kes_instance_serve(kes_instance* instance, const kes_time* wait,
                              kes_instance_raise raise, void* context);

// Makes the kes_instance_serve in progress, and every later one, return
// KES_INTERRUPTED: the way to stop a serving thread. Safe from any thread.
// Missing instance: KES_INVALIDPARAMETER.
kes_result kes_instance_interrupt(kes_instance* instance);

// Gives the lock up and frees the record: removes the socket file, closes
// the socket and only then drops the flock, so that it never removes the
// socket of the next holder (on Windows: closes the mutex). A missing
// instance is accepted.
void kes_instance_unlock(kes_instance* instance);
