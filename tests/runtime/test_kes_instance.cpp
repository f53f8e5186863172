// The instance lock: its file name and directory, taking it, asking the
// holder, serving and giving it up, also when the holder dies or starts other
// programs, and when another local user stands in the way.
#include "kes_instance.h"

#include "test_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <grp.h>
#include <limits.h>
#include <memory>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr kes_time k_short_answer{0, 100000};
constexpr uid_t k_otherUser = 65534;

std::string lockName(const std::string& key) {
    char buffer[KES_INSTANCE_NAME_SIZE];
    EXPECT_EQ(kes_instance_lock_name(key.c_str(), buffer, sizeof buffer), KES_SUCCESS);
    return buffer;
}

std::string ownDirectoryName() {
    return "qelvane-" + std::to_string(geteuid());
}

std::string testName() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// What lstat says of `path`; mode 0 when there is nothing.
struct FileInfo {
    mode_t mode;
    uid_t owner;
};

FileInfo fileInfo(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return {0, 0};
    }
    return {info.st_mode, info.st_uid};
}

std::set<std::string> directoryEntries(const std::string& path) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::string fdTarget(const std::string& link) {
    char target[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n < 0 ? std::string() : std::string(target, static_cast<size_t>(n));
}

// A socket listening on the file `path`: its descriptor, or -2.
int listenAt(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 4) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -2;
    }
    return fd;
}

// A socket connected to the file `path`, or -1.
int connectAt(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Drops this (forked) process to user and group `id` without supplementary
// groups; false when that fails.
bool becomeUser(uid_t id) {
    return setgroups(0, nullptr) == 0 && setgid(id) == 0 && setuid(id) == 0;
}

// A forked process that runs `body` as the other user and ends with its value
// (100 when it could not become that user).
class OtherUser {
public:
    explicit OtherUser(const std::function<int()>& body) : m_pid(fork()) {
        if (m_pid == 0) {
            _exit(becomeUser(k_otherUser) ? body() : 100);
        }
    }
    ~OtherUser() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    OtherUser(const OtherUser&) = delete;
    OtherUser& operator=(const OtherUser&) = delete;
    // Its exit status, -1 when it did not exit.
    int wait() {
        int status = 0;
        const pid_t ended = m_pid > 0 ? waitpid(m_pid, &status, 0) : -1;
        m_pid = -1;
        return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid;
};

// Another user who puts something in this user's way before a start:
// `occupy` (run as that user) makes it and returns the socket it listens on,
// -1 for none or -2 when it failed. After the start, finish() tells whether
// the start came to the squatter: 0 not at all, 1 connected and left without
// a request, 2 sent a request, 3 the squatter could not get ready.
class Squatter {
public:
    explicit Squatter(std::function<int()> occupy) {
        if (pipe(m_ready) != 0 || pipe(m_go) != 0) {
            return;
        }
        m_process = std::make_unique<OtherUser>([this, occupy] {
            const int listener = occupy();
            const char status = listener >= -1 ? 'L' : 'F';
            char go = 0;
            if (write(m_ready[1], &status, 1) != 1 || status != 'L' || read(m_go[0], &go, 1) != 1) {
                return 3;
            }
            pollfd entry{listener, POLLIN, 0};
            if (listener < 0 || poll(&entry, 1, 0) != 1) {
                return 0;
            }
            const int caller = accept(listener, nullptr, nullptr);
            char request = 0;
            return caller >= 0 && recv(caller, &request, 1, 0) == 1 ? 2 : 1;
        });
        close(m_ready[1]);
        close(m_go[0]);
    }
    ~Squatter() {
        m_process.reset();
        close(m_ready[0]);
        close(m_go[1]);
    }
    Squatter(const Squatter&) = delete;
    Squatter& operator=(const Squatter&) = delete;
    bool ready() {
        char status = 0;
        return m_process && read(m_ready[0], &status, 1) == 1 && status == 'L';
    }
    int finish() {
        const char go = 'g';
        return write(m_go[1], &go, 1) == 1 ? m_process->wait() : -1;
    }

private:
    int m_ready[2] = {-1, -1};
    int m_go[2] = {-1, -1};
    std::unique_ptr<OtherUser> m_process;
};

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

// A clock whose sleep runs `hook` instead of sleeping.
class HookClock {
public:
    explicit HookClock(std::function<void()> hook) : m_hook(std::move(hook)) {
        m_clock.now = nullptr;
        m_clock.sleep = &HookClock::onSleep;
        m_clock.context = this;
        kes_clock_install(&m_clock);
    }
    ~HookClock() { kes_clock_install(nullptr); }
    HookClock(const HookClock&) = delete;
    HookClock& operator=(const HookClock&) = delete;
    int sleeps() const { return m_sleeps.load(); }

private:
    static kes_result onSleep(void* context, const kes_time*) {
        auto* self = static_cast<HookClock*>(context);
        self->m_sleeps++;
        self->m_hook();
        return KES_SUCCESS;
    }
    std::function<void()> m_hook;
    std::atomic<int> m_sleeps{0};
    kes_clock m_clock{};
};

// Every test gets a fresh directory of its own, /tmp/kes-instance-XXXXXX, and
// points the lock at "run" in it (a private runtime directory), so that no two
// tests share state and none touches the user's real directories. The
// environment is restored afterwards.
class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
            const char* value = std::getenv(variable);
            m_saved.push_back({variable, value != nullptr, value != nullptr ? value : ""});
        }
        char pattern[] = "/tmp/kes-instance-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_base = pattern;
        m_runtime = m_base + "/run";
        ASSERT_EQ(mkdir(m_runtime.c_str(), 0700), 0);
        useRuntimeDirectory(m_runtime);
    }
    void TearDown() override {
        for (const Saved& saved : m_saved) {
            if (saved.set) {
                setenv(saved.name, saved.value.c_str(), 1);
            } else {
                unsetenv(saved.name);
            }
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_base, ignored);
    }

    static void useRuntimeDirectory(const std::string& path) {
        setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
        unsetenv("TMPDIR");
    }
    // Falls back to the temporary directory `base`; the lock directory in it.
    static std::string useTemporaryDirectory(const std::string& base) {
        unsetenv("XDG_RUNTIME_DIR");
        setenv("TMPDIR", base.c_str(), 1);
        return base + "/" + ownDirectoryName();
    }
    // Opens the test's directory to everyone, sticky as /tmp is.
    void shareBase() { ASSERT_EQ(chmod(m_base.c_str(), 01777), 0); }

    static kes_instance_place place(const std::string& name) {
        kes_instance_place at{};
        EXPECT_EQ(kes_instance_locate(name.c_str(), &at), KES_SUCCESS);
        return at;
    }
    // Takes the flock on the lock file of `name` as a holder does, without
    // listening: the descriptor.
    static int holdLock(const std::string& name) {
        const int fd = open(place(name).lock_path, O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        return fd;
    }

    std::string m_base;
    std::string m_runtime;

private:
    struct Saved {
        const char* name;
        bool set;
        std::string value;
    };
    std::vector<Saved> m_saved;
};

class InstanceName : public InstanceTest {};
class InstanceDirectory : public InstanceTest {};
class InstanceLock : public InstanceTest {};
class InstanceServe : public InstanceTest {};

#define SKIP_UNLESS_ROOT()                                                                         \
    if (geteuid() != 0) {                                                                          \
        GTEST_SKIP() << "needs root to run a second user";                                         \
    }

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

TEST_F(InstanceName, IsThePrefixAndAHashOfTheWholeKey) {
    const struct {
        std::string key;
        const char* name;
    } cases[] = {
        {"panel", "qelvane-5ec660a73f97f3851ad29d925898ae52"},
        {"/opt/qelvane/bin/qel-panel", "qelvane-1932b8d3ac62e4f23ad5e6dd199efda7"},
        {"", "qelvane-cbf29ce48422232584222325cbf29ce4"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lockName(c.key), c.name) << c.key;
    }
    // Any key, however long, gives a name of the same short shape.
    for (const std::string& key : {std::string(300, '/'), "/" + std::string(5000, 'k')}) {
        const std::string name = lockName(key);
        ASSERT_EQ(name.size(), KES_INSTANCE_NAME_SIZE - 1);
        EXPECT_EQ(name.compare(0, 8, "qelvane-"), 0) << name;
        EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 8), std::string::npos) << name;
    }
}

TEST_F(InstanceName, KeysThatDifferAnywhereGiveDifferentNames) {
    const std::string far(200, 'd');
    const std::pair<std::string, std::string> pairs[] = {
        {"/opt/Qel/qel-panel", "/opt/qel/qel-panel"},
        {"/X" + far + "/qel-panel", "/Y" + far + "/qel-panel"},
        {"/opt/qel/qel-panel", "/opt/qel/qel-panel2"},
        {"/opt/qel/qel-panel", "/opt/qel/qel-panel/"},
        {"panel", "Panel"},
    };
    for (const auto& pair : pairs) {
        EXPECT_NE(lockName(pair.first), lockName(pair.second)) << pair.first;
        EXPECT_EQ(lockName(pair.first), lockName(pair.first)) << pair.first;
    }
}

TEST_F(InstanceName, RefusesMissingArgumentsAndSmallBuffers) {
    char buffer[KES_INSTANCE_NAME_SIZE] = {'x'};
    EXPECT_EQ(kes_instance_lock_name(nullptr, buffer, sizeof buffer), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_lock_name("k", nullptr, sizeof buffer), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_lock_name("k", buffer, sizeof buffer - 1), KES_TRUNCATED);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(kes_instance_lock_name("k", buffer, 0), KES_TRUNCATED);
}

TEST_F(InstanceDirectory, IsTheRuntimeDirectoryOrOneOfTheUsersOwnInTheTemporaryOne) {
    const std::string own = "/" + ownDirectoryName();
    const struct {
        const char* runtime; // null: unset
        const char* temporary;
        std::string directory;
    } cases[] = {
        {"/run/user/7", "/var/tmp", "/run/user/7"},
        {"/run/user/7///", nullptr, "/run/user/7"},
        {"", "/var/tmp", "/var/tmp" + own},
        {"relative/run", nullptr, "/tmp" + own},
        {nullptr, "/var/tmp/", "/var/tmp" + own},
        {nullptr, "tmp", "/tmp" + own},
        {nullptr, "", "/tmp" + own},
        {nullptr, "/", own},
        {nullptr, nullptr, "/tmp" + own},
    };
    for (const auto& c : cases) {
        for (const auto& variable : {std::make_pair("XDG_RUNTIME_DIR", c.runtime),
                                     std::make_pair("TMPDIR", c.temporary)}) {
            if (variable.second != nullptr) {
                setenv(variable.first, variable.second, 1);
            } else {
                unsetenv(variable.first);
            }
        }
        char buffer[KES_INSTANCE_SOCKET_PATH_SIZE];
        EXPECT_EQ(kes_instance_directory(buffer, sizeof buffer), KES_SUCCESS);
        EXPECT_EQ(buffer, c.directory)
            << (c.runtime ? c.runtime : "-") << " " << (c.temporary ? c.temporary : "-");
    }
}

TEST_F(InstanceDirectory, ReportsMissingAndSmallBuffers) {
    char buffer[KES_INSTANCE_SOCKET_PATH_SIZE];
    EXPECT_EQ(kes_instance_directory(nullptr, sizeof buffer), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_directory(buffer, 0), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_directory(buffer, m_runtime.size() + 1), KES_SUCCESS);
    EXPECT_EQ(buffer, m_runtime);
    EXPECT_EQ(kes_instance_directory(buffer, m_runtime.size()), KES_TRUNCATED);
    EXPECT_STREQ(buffer, "");
}

TEST_F(InstanceDirectory, LocatesTheLockAndSocketFilesInIt) {
    const std::string name = lockName("panel");
    const kes_instance_place at = place("panel");
    EXPECT_EQ(std::string(at.directory), m_runtime);
    EXPECT_EQ(std::string(at.lock_path), m_runtime + "/" + name + ".lock");
    EXPECT_EQ(std::string(at.socket_path), m_runtime + "/" + name + ".sock");

    char path[QEL_INSTANCE_PATH_MAX];
    ASSERT_EQ(kes_instance_executable_path(path, sizeof path), KES_SUCCESS);
    kes_instance_place own{};
    ASSERT_EQ(kes_instance_locate(nullptr, &own), KES_SUCCESS);
    EXPECT_EQ(std::string(own.socket_path), m_runtime + "/" + lockName(path) + ".sock");
    EXPECT_EQ(kes_instance_locate("panel", nullptr), KES_INVALIDPARAMETER);
}

TEST_F(InstanceDirectory, ASocketPathThatDoesNotFitIsTruncated) {
    // "<directory>/" and 40 + 5 characters of file name: 61 are the most a
    // directory may have, the socket path then fills sun_path but its last byte.
    const std::string fits = "/" + std::string(60, 'a');
    setenv("XDG_RUNTIME_DIR", fits.c_str(), 1);
    kes_instance_place at{};
    ASSERT_EQ(kes_instance_locate("panel", &at), KES_SUCCESS);
    EXPECT_EQ(std::strlen(at.socket_path), KES_INSTANCE_SOCKET_PATH_SIZE - 1);

    const std::string tooLong = fits + "a";
    setenv("XDG_RUNTIME_DIR", tooLong.c_str(), 1);
    EXPECT_EQ(kes_instance_locate("panel", &at), KES_TRUNCATED);
    EXPECT_STREQ(at.socket_path, "");
    kes_instance* instance = reinterpret_cast<kes_instance*>(0x1);
    EXPECT_EQ(kes_instance_lock("panel", &instance), KES_TRUNCATED);
    EXPECT_EQ(instance, nullptr);
    setenv("XDG_RUNTIME_DIR", ("/" + std::string(300, 'a')).c_str(), 1);
    EXPECT_EQ(kes_instance_locate("panel", &at), KES_TRUNCATED);
}

// Ways a lock directory can be unfit; each makes `path` so.
struct Unfit {
    const char* what;
    bool (*make)(const std::string& path);
    bool needsRoot;
};

const Unfit k_unfitDirectories[] = {
    {"open to others (0755)",
     [](const std::string& p) {
         return mkdir(p.c_str(), 0700) == 0 && chmod(p.c_str(), 0755) == 0;
     },
     false},
    {"open to the group (0770)",
     [](const std::string& p) {
         return mkdir(p.c_str(), 0700) == 0 && chmod(p.c_str(), 0770) == 0;
     },
     false},
    {"others may pass (0701)",
     [](const std::string& p) {
         return mkdir(p.c_str(), 0700) == 0 && chmod(p.c_str(), 0701) == 0;
     },
     false},
    {"a symbolic link to a private directory",
     [](const std::string& p) {
         return mkdir((p + ".target").c_str(), 0700) == 0 &&
                symlink((p + ".target").c_str(), p.c_str()) == 0;
     },
     false},
    {"a regular file",
     [](const std::string& p) {
         const int fd = open(p.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
         return fd >= 0 && close(fd) == 0;
     },
     false},
    {"owned by another user",
     [](const std::string& p) {
         return mkdir(p.c_str(), 0700) == 0 && chown(p.c_str(), k_otherUser, k_otherUser) == 0;
     },
     true},
};

TEST_F(InstanceDirectory, AnUnfitDirectoryIsRefusedAndLeftAsItWas) {
    int n = 0;
    for (const Unfit& unfit : k_unfitDirectories) {
        if (unfit.needsRoot && geteuid() != 0) {
            continue;
        }
        // The runtime directory (also named with a trailing "/", which must
        // not follow a link) and the one in the temporary directory.
        for (int where = 0; where < 3; ++where) {
            const std::string base = m_base + "/case-" + std::to_string(n++);
            ASSERT_EQ(mkdir(base.c_str(), 0700), 0);
            std::string directory = base + "/run";
            if (where < 2) {
                useRuntimeDirectory(where == 0 ? directory : directory + "/");
            } else {
                directory = useTemporaryDirectory(base);
            }
            ASSERT_TRUE(unfit.make(directory)) << unfit.what;
            const FileInfo before = fileInfo(directory);
            kes_instance* instance = reinterpret_cast<kes_instance*>(0x1);
            EXPECT_EQ(kes_instance_lock("panel", &instance), KES_ACCES)
                << unfit.what << " in " << directory;
            EXPECT_EQ(instance, nullptr);
            const FileInfo after = fileInfo(directory);
            EXPECT_EQ(after.mode, before.mode) << unfit.what;
            EXPECT_EQ(after.owner, before.owner) << unfit.what;
            EXPECT_TRUE(directoryEntries(directory).empty()) << unfit.what;
            EXPECT_TRUE(directoryEntries(directory + ".target").empty()) << unfit.what;
        }
    }
}

TEST_F(InstanceDirectory, AMissingRuntimeDirectoryIsRefusedAndNotMade) {
    const std::string missing = m_base + "/gone";
    useRuntimeDirectory(missing);
    kes_instance* instance = nullptr;
    EXPECT_EQ(kes_instance_lock("panel", &instance), KES_ACCES);
    EXPECT_EQ(fileInfo(missing).mode, 0u);
    // Nor is a temporary directory that does not exist made.
    useTemporaryDirectory(missing);
    EXPECT_EQ(kes_instance_lock("panel", &instance), KES_ACCES);
    EXPECT_EQ(fileInfo(missing).mode, 0u);
}

TEST_F(InstanceDirectory, AMissingTemporaryOneIsMadePrivateWhateverTheUmask) {
    int n = 0;
    for (const mode_t mask : {0022, 0077, 0277, 0}) {
        const std::string base = m_base + "/case-" + std::to_string(n++);
        ASSERT_EQ(mkdir(base.c_str(), 0700), 0);
        const std::string directory = useTemporaryDirectory(base);
        const mode_t old = umask(mask);
        kes_instance* instance = nullptr;
        EXPECT_EQ(kes_instance_lock("panel", &instance), KES_SUCCESS) << std::oct << mask;
        umask(old);
        const FileInfo made = fileInfo(directory);
        EXPECT_EQ(made.mode, S_IFDIR | 0700u) << std::oct << mask << " " << made.mode;
        EXPECT_EQ(made.owner, geteuid());
        EXPECT_EQ(std::string(place("panel").directory), directory);
        kes_instance_unlock(instance);
    }
}

TEST_F(InstanceDirectory, ALockFileThatIsNotARegularFileOfTheUserIsRefused) {
    const Unfit unfitFiles[] = {
        {"a symbolic link to a file",
         [](const std::string& p) {
             const int fd = open((p + ".target").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
             return fd >= 0 && close(fd) == 0 && symlink((p + ".target").c_str(), p.c_str()) == 0;
         },
         false},
        {"a directory", [](const std::string& p) { return mkdir(p.c_str(), 0700) == 0; }, false},
        {"a pipe", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }, false},
        {"owned by another user",
         [](const std::string& p) {
             const int fd = open(p.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
             return fd >= 0 && close(fd) == 0 && chown(p.c_str(), k_otherUser, k_otherUser) == 0;
         },
         true},
    };
    for (const Unfit& unfit : unfitFiles) {
        if (unfit.needsRoot && geteuid() != 0) {
            continue;
        }
        const std::string name = std::string("panel ") + unfit.what;
        ASSERT_TRUE(unfit.make(place(name).lock_path)) << unfit.what;
        kes_instance* instance = reinterpret_cast<kes_instance*>(0x1);
        EXPECT_EQ(kes_instance_lock(name.c_str(), &instance), KES_ACCES) << unfit.what;
        EXPECT_EQ(instance, nullptr);
        EXPECT_EQ(fileInfo(place(name).socket_path).mode, 0u) << "never listened";
    }
}

TEST_F(InstanceLock, RefusesAMissingOutPointer) {
    EXPECT_EQ(kes_instance_lock(testName().c_str(), nullptr), KES_INVALIDPARAMETER);
}

TEST_F(InstanceLock, TheFirstTakesItAndALaterStartFindsNoAnswerWhileNobodyServes) {
    const std::string name = testName();
    kes_instance* first = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &first), KES_SUCCESS);
    ASSERT_NE(first, nullptr);
    kes_instance* second = reinterpret_cast<kes_instance*>(0x1);
    EXPECT_EQ(kes_instance_lock_wait(name.c_str(), &k_short_answer, &second), KES_NOTFOUND);
    EXPECT_EQ(second, nullptr);
    kes_instance_unlock(first);
}

TEST_F(InstanceLock, KeepsItsTwoFilesInThePrivateDirectoryAndEveryDescriptorCloseOnExec) {
    const std::string name = testName();
    const kes_instance_place at = place(name);
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const std::string file = lockName(name);
    EXPECT_EQ(directoryEntries(m_runtime), (std::set<std::string>{file + ".lock", file + ".sock"}));
    const FileInfo lock = fileInfo(at.lock_path);
    EXPECT_EQ(lock.mode, S_IFREG | 0600u);
    EXPECT_EQ(lock.owner, geteuid());
    EXPECT_EQ(fileInfo(at.socket_path).mode, S_IFSOCK | 0600u);
    EXPECT_STREQ(instance->socket_path, at.socket_path);
    sockaddr_un bound{};
    socklen_t length = sizeof bound;
    ASSERT_EQ(getsockname(instance->listener, reinterpret_cast<sockaddr*>(&bound), &length), 0);
    EXPECT_STREQ(bound.sun_path, at.socket_path);
    for (const int fd : {instance->lock, instance->listener, instance->wake}) {
        EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC) << fd;
    }
    kes_instance_unlock(instance);
}

TEST_F(InstanceLock, DifferentNamesDoNotMeet) {
    const std::string name = testName();
    kes_instance* a = nullptr;
    kes_instance* b = nullptr;
    kes_instance* own = nullptr;
    ASSERT_EQ(kes_instance_lock((name + "/a").c_str(), &a), KES_SUCCESS);
    EXPECT_EQ(kes_instance_lock((name + "/A").c_str(), &b), KES_SUCCESS);
    EXPECT_EQ(kes_instance_lock(nullptr, &own), KES_SUCCESS);
    kes_instance_unlock(a);
    kes_instance_unlock(b);
    kes_instance_unlock(own);
}

TEST_F(InstanceLock, WithoutANameTheExecutablePathIsTheKey) {
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

TEST_F(InstanceLock, AHolderWithAWindowRaisesItAndTheLaterStartEndsWithAlready) {
    const std::string name = testName();
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

TEST_F(InstanceLock, AHolderWithoutAWindowAnswersNotFound) {
    const std::string name = testName();
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

TEST_F(InstanceLock, UnlockRemovesTheSocketFileAndGivesTheLockBack) {
    const std::string name = testName();
    const kes_instance_place at = place(name);
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    kes_instance_unlock(instance);
    EXPECT_EQ(fileInfo(at.socket_path).mode, 0u);
    EXPECT_TRUE(S_ISREG(fileInfo(at.lock_path).mode)) << "only the flock counted";
    instance = nullptr;
    EXPECT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    kes_instance_unlock(instance);
    kes_instance_unlock(nullptr);
}

TEST_F(InstanceLock, AKilledHolderLeavesNoStaleLock) {
    const std::string name = testName();
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
    ASSERT_TRUE(S_ISSOCK(fileInfo(place(name).socket_path).mode)) << "the dead holder's socket";
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    // The new holder listens in the old socket's place: a later start reaches it.
    RaiseCounter counter;
    OneServe serve(instance, &counter);
    kes_instance* later = nullptr;
    EXPECT_EQ(kes_instance_lock(name.c_str(), &later), KES_ALREADY);
    EXPECT_EQ(serve.result(), KES_SUCCESS);
    kes_instance_unlock(instance);
}

TEST_F(InstanceLock, AProgramTheHolderStartsDoesNotInheritTheLock) {
    const std::string name = testName();
    const kes_instance_place at = place(name);
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const std::string listener = fdTarget("/proc/self/fd/" + std::to_string(instance->listener));
    ASSERT_EQ(listener.compare(0, 7, "socket:"), 0) << listener;
    pid_t child = -1;
    char sleepProgram[] = "sleep";
    char forever[] = "600";
    char* argv[] = {sleepProgram, forever, nullptr};
    ASSERT_EQ(posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    // The spawn returns once the program runs: what it holds now, it holds.
    const std::string fds = "/proc/" + std::to_string(child) + "/fd";
    for (const std::string& entry : directoryEntries(fds)) {
        const std::string target = fdTarget(fds + "/" + entry);
        EXPECT_NE(target, at.lock_path) << entry;
        EXPECT_NE(target, listener) << entry;
    }
    kes_instance_unlock(instance);
    instance = nullptr;
    EXPECT_EQ(kes_instance_lock_wait(name.c_str(), &k_short_answer, &instance), KES_SUCCESS);
    kes_instance_unlock(instance);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST_F(InstanceLock, AHolderThatNeverListensEndsTheStartInNotFoundAfterThreeTries) {
    // No socket file yet, or one that nobody listens on any more.
    for (const bool deadSocket : {false, true}) {
        const std::string name = testName() + (deadSocket ? "/dead" : "/none");
        const int held = holdLock(name);
        if (deadSocket) {
            const int fd = listenAt(place(name).socket_path);
            ASSERT_GE(fd, 0);
            close(fd);
        }
        qeltest::TestClock clock;
        kes_instance* instance = reinterpret_cast<kes_instance*>(0x1);
        EXPECT_EQ(kes_instance_lock_wait(name.c_str(), &k_short_answer, &instance), KES_NOTFOUND);
        EXPECT_EQ(instance, nullptr);
        EXPECT_EQ(clock.sleeps(), 2u);
        EXPECT_EQ(clock.sleptMicroseconds(), 40000);
        close(held);
    }
}

TEST_F(InstanceLock, AStartWaitsForAHolderBetweenItsLockAndItsListen) {
    const std::string name = testName();
    const kes_instance_place at = place(name);
    const int held = holdLock(name);
    // The holder starts listening while the start pauses, then answers.
    std::promise<int> listening;
    std::thread holder([future = listening.get_future()]() mutable {
        const int fd = future.get();
        pollfd entry{fd, POLLIN, 0};
        const int caller =
            fd >= 0 && poll(&entry, 1, 10000) == 1 ? accept(fd, nullptr, nullptr) : -1;
        char request = 0;
        const char answer = 'Y';
        if (caller >= 0 && recv(caller, &request, 1, 0) == 1 && request == 'R') {
            EXPECT_EQ(send(caller, &answer, 1, MSG_NOSIGNAL), 1);
        }
        if (caller >= 0) {
            close(caller);
        }
        if (fd >= 0) {
            close(fd);
        }
    });
    bool listened = false;
    {
        HookClock clock([&] {
            if (!listened) {
                listened = true;
                listening.set_value(listenAt(at.socket_path));
            }
        });
        kes_instance* instance = nullptr;
        EXPECT_EQ(kes_instance_lock(name.c_str(), &instance), KES_ALREADY);
        EXPECT_EQ(clock.sleeps(), 1);
    }
    if (!listened) {
        listening.set_value(-1);
    }
    holder.join();
    close(held);
}

TEST_F(InstanceLock, AnotherUsersStartTakesItsOwnLockAndNeverAsksThisOne) {
    SKIP_UNLESS_ROOT();
    shareBase();
    const std::string ours = useTemporaryDirectory(m_base);
    const std::string name = testName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    OtherUser other([&] {
        kes_instance* own = nullptr;
        const kes_result result = kes_instance_lock(name.c_str(), &own);
        kes_instance_unlock(own);
        return result == KES_SUCCESS ? 0 : 4;
    });
    EXPECT_EQ(other.wait(), 0);
    const FileInfo theirs = fileInfo(m_base + "/qelvane-" + std::to_string(k_otherUser));
    EXPECT_EQ(theirs.mode, S_IFDIR | 0700u);
    EXPECT_EQ(theirs.owner, k_otherUser);
    EXPECT_EQ(fileInfo(ours).owner, geteuid());
    // The other user's start is over: had it asked, its request would wait here.
    RaiseCounter counter;
    const kes_time now{0, 0};
    EXPECT_EQ(kes_instance_serve(instance, &now, &RaiseCounter::raise, &counter), KES_TIMEDOUT);
    EXPECT_EQ(counter.calls.load(), 0);
    kes_instance_unlock(instance);
}

TEST_F(InstanceLock, AnotherUserGivenThisUsersRuntimeDirectoryIsRefusedAndAsksNothing) {
    SKIP_UNLESS_ROOT();
    ASSERT_EQ(chmod(m_base.c_str(), 0711), 0);
    const std::string name = testName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    OtherUser other([&] {
        kes_instance* own = nullptr;
        return kes_instance_lock(name.c_str(), &own) == KES_ACCES && own == nullptr ? 0 : 4;
    });
    EXPECT_EQ(other.wait(), 0);
    RaiseCounter counter;
    const kes_time now{0, 0};
    EXPECT_EQ(kes_instance_serve(instance, &now, &RaiseCounter::raise, &counter), KES_TIMEDOUT);
    kes_instance_unlock(instance);
}

TEST_F(InstanceLock, AnotherUserCanNeitherReachTheSocketNorTakeTheLockFile) {
    SKIP_UNLESS_ROOT();
    ASSERT_EQ(chmod(m_base.c_str(), 0711), 0);
    const std::string name = testName();
    const kes_instance_place at = place(name);
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    OtherUser other([&] {
        if (connectAt(at.socket_path) >= 0 || errno != EACCES) {
            return 4;
        }
        return open(at.lock_path, O_RDONLY | O_CLOEXEC) < 0 && errno == EACCES ? 0 : 5;
    });
    EXPECT_EQ(other.wait(), 0);
    kes_instance_unlock(instance);
}

TEST_F(InstanceLock, ARequestFromAnotherUserIsRefusedByThePeerCheck) {
    SKIP_UNLESS_ROOT();
    const std::string name = testName();
    const kes_instance_place at = place(name);
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    // Opened on purpose, so that only the peer check stands in the way.
    for (const std::string& path : {m_base, m_runtime}) {
        ASSERT_EQ(chmod(path.c_str(), 0711), 0);
    }
    ASSERT_EQ(chmod(at.socket_path, 0777), 0);
    OtherUser other([&] {
        const int fd = connectAt(at.socket_path);
        if (fd < 0) {
            return 4;
        }
        // Closed without an answer: the request may not even go out, and
        // what comes back is the end or a reset, never a byte.
        const char request = 'R';
        (void)send(fd, &request, 1, MSG_NOSIGNAL);
        char answer = 0;
        return recv(fd, &answer, 1, 0) == 1 ? 6 : 0;
    });
    RaiseCounter counter;
    const kes_time wait{10, 0};
    EXPECT_EQ(kes_instance_serve(instance, &wait, &RaiseCounter::raise, &counter), KES_ACCES);
    EXPECT_EQ(counter.calls.load(), 0);
    EXPECT_EQ(other.wait(), 0);
    kes_instance_unlock(instance);
}

TEST_F(InstanceLock, AListenerOfAnotherUserIsRefusedWithoutBeingAsked) {
    SKIP_UNLESS_ROOT();
    shareBase();
    const std::string name = testName();
    const kes_instance_place at = place(name);
    const std::string theirs = m_base + "/theirs.sock";
    Squatter squatter([&] { return listenAt(theirs); });
    ASSERT_TRUE(squatter.ready());
    // The lock is held, and the socket in its place is the other user's.
    const int held = holdLock(name);
    ASSERT_EQ(rename(theirs.c_str(), at.socket_path), 0);
    kes_instance* instance = reinterpret_cast<kes_instance*>(0x1);
    EXPECT_EQ(kes_instance_lock(name.c_str(), &instance), KES_ACCES);
    EXPECT_EQ(instance, nullptr);
    EXPECT_EQ(squatter.finish(), 1) << "connected to check, and left without a request";
    close(held);
}

TEST_F(InstanceLock, TheOldAbstractNameTakenByAnotherUserStopsNothing) {
    SKIP_UNLESS_ROOT();
    const std::string name = testName();
    const std::string abstract = "qelvane-instance/" + std::to_string(geteuid()) + "/" + name;
    Squatter squatter([&] {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, abstract.data(), abstract.size());
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstract.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        return fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                       listen(fd, 1) == 0
                   ? fd
                   : -2;
    });
    ASSERT_TRUE(squatter.ready());
    kes_instance* instance = nullptr;
    EXPECT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    EXPECT_EQ(squatter.finish(), 0);
    kes_instance_unlock(instance);
}

TEST_F(InstanceLock, AnotherUserOccupyingTheSharedTemporaryDirectoryNeverPassesForTheHolder) {
    SKIP_UNLESS_ROOT();
    shareBase();
    const std::string file = lockName(testName());
    // `occupy` runs as the other user in the shared temporary directory
    // `base`, where `ours` is this user's lock directory.
    const struct {
        const char* what;
        int (*occupy)(const std::string& base, const std::string& ours, const std::string& file);
        kes_result expected;
    } cases[] = {
        {"files with the lock's names beside this user's directory",
         [](const std::string& base, const std::string&, const std::string& f) {
             const int fd = open((base + "/" + f + ".lock").c_str(), O_CREAT | O_RDWR, 0666);
             return fd >= 0 && flock(fd, LOCK_EX) == 0 ? listenAt(base + "/" + f + ".sock") : -2;
         },
         KES_SUCCESS},
        {"this user's directory, made private by the other user",
         [](const std::string&, const std::string& ours, const std::string&) {
             return mkdir(ours.c_str(), 0700) == 0 ? -1 : -2;
         },
         KES_ACCES},
        {"this user's directory open to all, with a listener in the socket's place",
         [](const std::string&, const std::string& ours, const std::string& f) {
             return mkdir(ours.c_str(), 0700) == 0 && chmod(ours.c_str(), 0777) == 0
                        ? listenAt(ours + "/" + f + ".sock")
                        : -2;
         },
         KES_ACCES},
        {"a symbolic link in this user's directory's place",
         [](const std::string& base, const std::string& ours, const std::string& f) {
             const std::string target = base + "/target";
             return mkdir(target.c_str(), 0700) == 0 && symlink(target.c_str(), ours.c_str()) == 0
                        ? listenAt(target + "/" + f + ".sock")
                        : -2;
         },
         KES_ACCES},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string base = m_base + "/case-" + std::to_string(n++);
        ASSERT_EQ(mkdir(base.c_str(), 0700), 0);
        ASSERT_EQ(chmod(base.c_str(), 01777), 0);
        const std::string ours = useTemporaryDirectory(base);
        Squatter squatter([&] { return c.occupy(base, ours, file); });
        ASSERT_TRUE(squatter.ready()) << c.what;
        kes_instance* instance = nullptr;
        EXPECT_EQ(kes_instance_lock(testName().c_str(), &instance), c.expected) << c.what;
        EXPECT_EQ(instance != nullptr, c.expected == KES_SUCCESS) << c.what;
        EXPECT_EQ(squatter.finish(), 0) << c.what << ": the start came to the squatter";
        if (c.expected != KES_SUCCESS) {
            EXPECT_NE(fileInfo(ours).owner, geteuid()) << c.what << ": taken over";
        }
        kes_instance_unlock(instance);
    }
}

TEST_F(InstanceServe, TimesOutWithoutARequest) {
    const std::string name = testName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const kes_time wait{0, 10000};
    RaiseCounter counter;
    EXPECT_EQ(kes_instance_serve(instance, &wait, &RaiseCounter::raise, &counter), KES_TIMEDOUT);
    EXPECT_EQ(counter.calls.load(), 0);
    kes_instance_unlock(instance);
}

TEST_F(InstanceServe, IsInterruptedFromAnotherThreadAndStaysSo) {
    const std::string name = testName();
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

TEST_F(InstanceServe, ClosesOnAnInvalidRequestWithoutRaising) {
    const std::string name = testName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const int fd = connectAt(place(name).socket_path);
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

TEST_F(InstanceServe, AnswersWithoutAWindowWhenNoRaiseIsGiven) {
    const std::string name = testName();
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const int fd = connectAt(place(name).socket_path);
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
