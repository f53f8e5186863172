// One running instance per executable (or per name). The instance holds a
// listening Unix stream socket in the abstract namespace whose name is made
// from the effective user id and the executable's real path; the kernel takes the name
// back when the process ends, however it ends, so no stale lock survives a
// crash. A later start finds the name taken, connects and asks the holder to
// bring its main window to the front; the holder answers whether it could.
//
// Wire exchange on one connection: the asking side sends the request byte
// 'R'; the holder answers 'Y' (the window is being brought to the front) or
// 'N' (no window yet) and closes. Both sides talk only to processes of their
// own user (SO_PEERCRED).
#pragma once

#include "kes_result.h"
#include "kes_time.h"

#include <cstddef>
#include <cstdint>

// The longest executable path or lock name taken into account.
constexpr size_t QEL_INSTANCE_PATH_MAX = 4096;

// The longest abstract socket name (sun_path less its leading zero byte).
constexpr size_t KES_INSTANCE_NAME_MAX = 107;

// How long a later start waits for the holder's answer.
constexpr kes_time KES_INSTANCE_ANSWER_WAIT{2, 0};

// The instance lock: the listening socket and the descriptor that wakes a
// kes_instance_serve in progress.
struct kes_instance {
    int listener;
    int wake;
};

// Called by kes_instance_serve for each request from a later start, on the
// thread that serves. True when the main window exists and is being brought
// to the front. It must not touch windows itself (it may post to the GUI
// thread).
typedef bool (*kes_instance_raise)(void* context);

// The executable's full real path into `buffer` (terminated), with the
// " (deleted)" the kernel appends for a replaced file removed. Missing
// buffer or size 0: KES_INVALIDPARAMETER; a path that does not fit:
// KES_TRUNCATED; a failed read: the translated error.
kes_result kes_instance_executable_path(char* buffer, size_t size);

// The abstract socket name (without its leading zero byte, not terminated)
// that marks the instance of `key` (a name, or the executable path) for user
// `uid`: "qelvane-instance/<uid>/<key>". When that is longer than
// KES_INSTANCE_NAME_MAX, the key is replaced by "#" and 32 hex digits of a
// hash of the whole key, then "/" and as much of the key's end as fits.
// Letter case is kept. *length receives the name's length. Missing
// argument: KES_INVALIDPARAMETER; a buffer of fewer than
// KES_INSTANCE_NAME_MAX bytes: KES_TRUNCATED.
kes_result kes_instance_lock_name(const char* key, uint32_t uid, char* buffer, size_t size,
                                  size_t* length);

// Takes the instance lock for `name`, or for the executable's path when
// `name` is null:
//   KES_SUCCESS           this process is the only instance; *instance holds
//                         the lock until kes_instance_unlock (or the end of
//                         the process)
//   KES_ALREADY           another instance holds it and is bringing its main
//                         window to the front
//   KES_NOTFOUND          another instance holds it but has no window yet, or
//                         did not answer within KES_INSTANCE_ANSWER_WAIT
//   KES_ACCES             the name is held by another user's process
//   KES_INVALIDPARAMETER  `instance` is null
// or the translated failure of reading the path or of the socket calls.
// *instance is null unless the result is KES_SUCCESS.
kes_result kes_instance_lock(const char* name, kes_instance** instance);

// kes_instance_lock waiting at most `answer_wait` for the holder's answer
// (null: KES_INSTANCE_ANSWER_WAIT).
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
// KES_INVALIDPARAMETER.
kes_result kes_instance_serve(kes_instance* instance, const kes_time* wait,
                              kes_instance_raise raise, void* context);

// Makes the kes_instance_serve in progress, and every later one, return
// KES_INTERRUPTED: the way to stop a serving thread. Safe from any thread.
// Missing instance: KES_INVALIDPARAMETER.
kes_result kes_instance_interrupt(kes_instance* instance);

// Gives the lock up and frees the record; a missing instance is accepted.
void kes_instance_unlock(kes_instance* instance);
