// The instance lock: its socket name, taking it, asking the holder, serving
// and giving it up, also when the holder dies or starts other programs.
#include "kes_instance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr kes_time k_short_answer{0, 100000};

// A lock name no other test process uses (every test runs in its own process).
std::string uniqueName() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("kes-instance-test/") + std::to_string(getpid()) + "/" + test->name();
}

std::string lockName(const std::string& key, uint32_t uid) {
    char buffer[KES_INSTANCE_NAME_MAX];
    size_t length = 0;
    EXPECT_EQ(kes_instance_lock_name(key.c_str(), uid, buffer, sizeof buffer, &length),
              KES_SUCCESS);
    return std::string(buffer, length);
}

// Connects to the abstract name of `key`, as a later start does.
int connectTo(const std::string& key) {
    const std::string name = lockName(key, static_cast<uint32_t>(geteuid()));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct RaiseCounter {
    std::atomic<int> calls{0};
    bool answer = true;
    static bool raise(void* context) {
        auto* self = static_cast<RaiseCounter*>(context);
        self->calls++;
        return self->answer;
    }
};

// Serves exactly one request on a thread.
class OneServe {
public:
    OneServe(kes_instance* instance, RaiseCounter* counter)
        : m_thread([this, instance, counter] {
              const kes_time wait{10, 0};
              m_result = kes_instance_serve(instance, &wait, &RaiseCounter::raise, counter);
          }) {}
    ~OneServe() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    OneServe(const OneServe&) = delete;
    OneServe& operator=(const OneServe&) = delete;
    kes_result result() {
        m_thread.join();
        return m_result;
    }

private:
    kes_result m_result = -1;
    std::thread m_thread;
};

TEST(InstancePath, IsTheRealPathOfThisExecutable) {
    char path[QEL_INSTANCE_PATH_MAX];
    ASSERT_EQ(kes_instance_executable_path(path, sizeof path), KES_SUCCESS);
    char* expected = realpath("/proc/self/exe", nullptr);
    ASSERT_NE(expected, nullptr);
    EXPECT_STREQ(path, expected);
    EXPECT_EQ(path[0], '/');
    EXPECT_NE(std::string(path).find("test_kes_instance"), std::string::npos) << path;
    std::free(expected);
}

TEST(InstancePath, ReportsACutPathAndMissingArguments) {
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(kes_instance_executable_path(small, sizeof small), KES_TRUNCATED);
    EXPECT_EQ(small[3], '\0');
    EXPECT_EQ(kes_instance_executable_path(nullptr, 10), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_executable_path(small, 0), KES_INVALIDPARAMETER);
}

TEST(InstanceName, IsThePrefixTheUserAndTheKey) {
    EXPECT_EQ(lockName("/opt/qelvane/bin/qel-panel", 1000),
              "qelvane-instance/1000//opt/qelvane/bin/qel-panel");
    EXPECT_EQ(lockName("panel", 0), "qelvane-instance/0/panel");
}

TEST(InstanceName, KeepsLetterCaseAndSeparatesUsers) {
    EXPECT_NE(lockName("/opt/Qel/qel-panel", 1000), lockName("/opt/qel/qel-panel", 1000));
    EXPECT_NE(lockName("/opt/qel/qel-panel", 1000), lockName("/opt/qel/qel-panel", 1001));
    EXPECT_EQ(lockName("/opt/qel/qel-panel", 1000), lockName("/opt/qel/qel-panel", 1000));
}

TEST(InstanceName, UsesTheWholeRoomBeforeHashing) {
    const std::string head = "qelvane-instance/7/";
    const std::string fits(KES_INSTANCE_NAME_MAX - head.size(), 'a');
    EXPECT_EQ(lockName(fits, 7), head + fits);
    const std::string name = lockName(fits + "b", 7);
    EXPECT_EQ(name.size(), KES_INSTANCE_NAME_MAX);
    EXPECT_EQ(name.compare(0, head.size() + 1, head + "#"), 0) << name;
}

TEST(InstanceName, HashesALongKeyAndKeepsItsEnd) {
    const std::string dir = "/" + std::string(200, 'd');
    const std::string name = lockName(dir + "/first/qel-panel", 1000);
    ASSERT_EQ(name.size(), KES_INSTANCE_NAME_MAX);
    const std::string head = "qelvane-instance/1000/#";
    EXPECT_EQ(name.compare(0, head.size(), head), 0) << name;
    const std::string tail = "/first/qel-panel";
    EXPECT_EQ(name.compare(name.size() - tail.size(), tail.size(), tail), 0) << name;
    for (size_t i = head.size(); i < head.size() + 32; ++i) {
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(name[i]))) << name;
    }
    EXPECT_EQ(name[head.size() + 32], '/');
    // Keys that differ only far from their end still differ.
    EXPECT_NE(name, lockName("/X" + dir.substr(2) + "/first/qel-panel", 1000));
    EXPECT_NE(name, lockName(dir + "/First/qel-panel", 1000));
}

TEST(InstanceName, RefusesMissingArgumentsAndSmallBuffers) {
    char buffer[KES_INSTANCE_NAME_MAX];
    size_t length = 0;
    EXPECT_EQ(kes_instance_lock_name(nullptr, 0, buffer, sizeof buffer, &length),
              KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_lock_name("k", 0, nullptr, sizeof buffer, &length),
              KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_lock_name("k", 0, buffer, sizeof buffer, nullptr), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_lock_name("k", 0, buffer, KES_INSTANCE_NAME_MAX - 1, &length),
              KES_TRUNCATED);
}

TEST(InstanceLock, RefusesAMissingOutPointer) {
    EXPECT_EQ(kes_instance_lock(uniqueName().c_str(), nullptr), KES_INVALIDPARAMETER);
}

TEST(InstanceLock, TheFirstTakesItAndALaterStartFindsNoAnswerWhileNobodyServes) {
    const std::string name = uniqueName();
    kes_instance* first = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &first), KES_SUCCESS);
    ASSERT_NE(first, nullptr);
    kes_instance* second = reinterpret_cast<kes_instance*>(0x1);
    EXPECT_EQ(kes_instance_lock_wait(name.c_str(), &k_short_answer, &second), KES_NOTFOUND);
    EXPECT_EQ(second, nullptr);
    kes_instance_unlock(first);
}

TEST(InstanceLock, BindsExactlyTheNameWithoutPadding) {
    const std::string name = uniqueName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    // /proc/net/unix shows an abstract name as "@" and its bytes, a zero byte
    // as "@" too: a padded address would end in a run of "@".
    const std::string expected = "@" + lockName(name, static_cast<uint32_t>(geteuid()));
    std::ifstream table("/proc/net/unix");
    std::string line;
    int found = 0;
    while (std::getline(table, line)) {
        const size_t at = line.rfind(' ');
        if (at != std::string::npos && line.compare(at + 1, std::string::npos, expected) == 0) {
            ++found;
        }
    }
    EXPECT_EQ(found, 1) << expected;
    kes_instance_unlock(instance);
}

TEST(InstanceLock, DifferentNamesDoNotMeet) {
    const std::string name = uniqueName();
    kes_instance* a = nullptr;
    kes_instance* b = nullptr;
    ASSERT_EQ(kes_instance_lock((name + "/a").c_str(), &a), KES_SUCCESS);
    EXPECT_EQ(kes_instance_lock((name + "/A").c_str(), &b), KES_SUCCESS);
    kes_instance_unlock(a);
    kes_instance_unlock(b);
}

TEST(InstanceLock, WithoutANameTheExecutablePathIsTheKey) {
    kes_instance* first = nullptr;
    ASSERT_EQ(kes_instance_lock(nullptr, &first), KES_SUCCESS);
    char path[QEL_INSTANCE_PATH_MAX];
    ASSERT_EQ(kes_instance_executable_path(path, sizeof path), KES_SUCCESS);
    kes_instance* second = nullptr;
    EXPECT_EQ(kes_instance_lock_wait(path, &k_short_answer, &second), KES_NOTFOUND);
    EXPECT_EQ(kes_instance_lock_wait(nullptr, &k_short_answer, &second), KES_NOTFOUND);
    EXPECT_EQ(second, nullptr);
    kes_instance_unlock(first);
}

TEST(InstanceLock, AHolderWithAWindowRaisesItAndTheLaterStartEndsWithAlready) {
    const std::string name = uniqueName();
    kes_instance* first = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &first), KES_SUCCESS);
    RaiseCounter counter;
    OneServe serve(first, &counter);
    kes_instance* second = nullptr;
    EXPECT_EQ(kes_instance_lock(name.c_str(), &second), KES_ALREADY);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(serve.result(), KES_SUCCESS);
    EXPECT_EQ(counter.calls.load(), 1);
    kes_instance_unlock(first);
}

TEST(InstanceLock, AHolderWithoutAWindowAnswersNotFound) {
    const std::string name = uniqueName();
    kes_instance* first = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &first), KES_SUCCESS);
    RaiseCounter counter;
    counter.answer = false;
    OneServe serve(first, &counter);
    kes_instance* second = nullptr;
    EXPECT_EQ(kes_instance_lock(name.c_str(), &second), KES_NOTFOUND);
    EXPECT_EQ(serve.result(), KES_SUCCESS);
    EXPECT_EQ(counter.calls.load(), 1);
    kes_instance_unlock(first);
}

TEST(InstanceLock, UnlockGivesTheNameBack) {
    const std::string name = uniqueName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    kes_instance_unlock(instance);
    instance = nullptr;
    EXPECT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    kes_instance_unlock(instance);
    kes_instance_unlock(nullptr);
}

TEST(InstanceLock, AKilledHolderLeavesNoStaleLock) {
    const std::string name = uniqueName();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        kes_instance* instance = nullptr;
        const char status = kes_instance_lock(name.c_str(), &instance) == KES_SUCCESS ? 'L' : 'F';
        if (write(ready[1], &status, 1) != 1) {
            _exit(2);
        }
        pause();
        _exit(0);
    }
    close(ready[1]);
    char status = 0;
    ASSERT_EQ(read(ready[0], &status, 1), 1);
    close(ready[0]);
    ASSERT_EQ(status, 'L');

    kes_instance* instance = nullptr;
    EXPECT_EQ(kes_instance_lock_wait(name.c_str(), &k_short_answer, &instance), KES_NOTFOUND);
    kill(child, SIGKILL);
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFSIGNALED(wstatus));
    EXPECT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    kes_instance_unlock(instance);
}

TEST(InstanceLock, AProgramTheHolderStartsDoesNotInheritTheLock) {
    const std::string name = uniqueName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    pid_t child = -1;
    char sleepProgram[] = "sleep";
    char forever[] = "600";
    char* argv[] = {sleepProgram, forever, nullptr};
    ASSERT_EQ(posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    kes_instance_unlock(instance);
    instance = nullptr;
    EXPECT_EQ(kes_instance_lock_wait(name.c_str(), &k_short_answer, &instance), KES_SUCCESS);
    kes_instance_unlock(instance);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST(InstanceLock, AnotherUsersHolderIsRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a second user";
    }
    const std::string name = uniqueName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // As another user: the name (made with that user's id) differs, so
        // take the raw name this process holds.
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(3);
        }
        const std::string held = lockName(name, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, held.data(), held.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + held.size());
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
            _exit(4);
        }
        // The holder closes without an answer: the request may not even go
        // out, and what comes back is the end or a reset, never a byte.
        const char request = 'R';
        (void)send(fd, &request, 1, MSG_NOSIGNAL);
        char answer = 0;
        _exit(recv(fd, &answer, 1, 0) == 1 ? 6 : 0);
    }
    RaiseCounter counter;
    const kes_time wait{10, 0};
    EXPECT_EQ(kes_instance_serve(instance, &wait, &RaiseCounter::raise, &counter), KES_ACCES);
    EXPECT_EQ(counter.calls.load(), 0);
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
    kes_instance_unlock(instance);
}

// Drops this (forked) process to user and group `id` without supplementary
// groups; false when that fails.
bool becomeUser(uid_t id) {
    return setgroups(0, nullptr) == 0 && setgid(id) == 0 && setuid(id) == 0;
}

TEST(InstanceLock, AnotherUsersStartTakesItsOwnLockAndNeverAsksThisOne) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a second user";
    }
    const std::string name = uniqueName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!becomeUser(65534)) {
            _exit(3);
        }
        kes_instance* own = nullptr;
        const kes_result result = kes_instance_lock(name.c_str(), &own);
        kes_instance_unlock(own);
        _exit(result == KES_SUCCESS ? 0 : 4);
    }
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
    // The other user's start is over: had it asked, its request would wait
    // here.
    RaiseCounter counter;
    const kes_time now{0, 0};
    EXPECT_EQ(kes_instance_serve(instance, &now, &RaiseCounter::raise, &counter), KES_TIMEDOUT);
    EXPECT_EQ(counter.calls.load(), 0);
    kes_instance_unlock(instance);
}

TEST(InstanceLock, ANameTakenByAnotherUserIsRefusedWithoutAsking) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a second user";
    }
    const std::string name = uniqueName();
    const std::string ours = lockName(name, static_cast<uint32_t>(geteuid()));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Another user squats this user's name (abstract names have no
        // owner) and reports whether a request ever reaches it.
        close(ready[0]);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, ours.data(), ours.size());
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + ours.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        const char status = becomeUser(65534) && fd >= 0 &&
                                    bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                                    listen(fd, 1) == 0
                                ? 'L'
                                : 'F';
        if (write(ready[1], &status, 1) != 1 || status != 'L') {
            _exit(3);
        }
        pollfd entry{fd, POLLIN, 0};
        const int caller = poll(&entry, 1, 10000) == 1 ? accept(fd, nullptr, nullptr) : -1;
        if (caller < 0) {
            _exit(4);
        }
        char request = 0;
        _exit(recv(caller, &request, 1, 0) == 0 ? 0 : 5);
    }
    close(ready[1]);
    char status = 0;
    ASSERT_EQ(read(ready[0], &status, 1), 1);
    close(ready[0]);
    ASSERT_EQ(status, 'L');

    kes_instance* instance = reinterpret_cast<kes_instance*>(0x1);
    EXPECT_EQ(kes_instance_lock(name.c_str(), &instance), KES_ACCES);
    EXPECT_EQ(instance, nullptr);
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0)
        << "the squatter was asked, or never called: " << wstatus;
}

TEST(InstanceServe, TimesOutWithoutARequest) {
    const std::string name = uniqueName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const kes_time wait{0, 10000};
    RaiseCounter counter;
    EXPECT_EQ(kes_instance_serve(instance, &wait, &RaiseCounter::raise, &counter), KES_TIMEDOUT);
    EXPECT_EQ(counter.calls.load(), 0);
    kes_instance_unlock(instance);
}

TEST(InstanceServe, IsInterruptedFromAnotherThreadAndStaysSo) {
    const std::string name = uniqueName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    kes_result result = -1;
    std::thread server([&] { result = kes_instance_serve(instance, nullptr, nullptr, nullptr); });
    EXPECT_EQ(kes_instance_interrupt(instance), KES_SUCCESS);
    server.join();
    EXPECT_EQ(result, KES_INTERRUPTED);
    EXPECT_EQ(kes_instance_serve(instance, nullptr, nullptr, nullptr), KES_INTERRUPTED);
    EXPECT_EQ(kes_instance_interrupt(nullptr), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_serve(nullptr, nullptr, nullptr, nullptr), KES_INVALIDPARAMETER);
    kes_instance_unlock(instance);
}

TEST(InstanceServe, ClosesOnAnInvalidRequestWithoutRaising) {
    const std::string name = uniqueName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const int fd = connectTo(name);
    ASSERT_GE(fd, 0);
    const char garbage = 'x';
    ASSERT_EQ(send(fd, &garbage, 1, MSG_NOSIGNAL), 1);
    RaiseCounter counter;
    const kes_time wait{5, 0};
    EXPECT_EQ(kes_instance_serve(instance, &wait, &RaiseCounter::raise, &counter), KES_INVALIDDATA);
    EXPECT_EQ(counter.calls.load(), 0);
    char answer = 0;
    EXPECT_EQ(recv(fd, &answer, 1, 0), 0) << "closed without an answer";
    close(fd);
    kes_instance_unlock(instance);
}

TEST(InstanceServe, AnswersWithoutAWindowWhenNoRaiseIsGiven) {
    const std::string name = uniqueName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const int fd = connectTo(name);
    ASSERT_GE(fd, 0);
    const char request = 'R';
    ASSERT_EQ(send(fd, &request, 1, MSG_NOSIGNAL), 1);
    const kes_time wait{5, 0};
    EXPECT_EQ(kes_instance_serve(instance, &wait, nullptr, nullptr), KES_SUCCESS);
    char answer = 0;
    EXPECT_EQ(recv(fd, &answer, 1, 0), 1);
    EXPECT_EQ(answer, 'N');
    close(fd);
    kes_instance_unlock(instance);
}

} // namespace
