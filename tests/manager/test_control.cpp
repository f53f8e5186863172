// The control channel: a server in this process, served from a thread, and
// the client side, over sockets in a scratch directory.
#include "control.h"

#include "manager_test_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Serves one connection from a thread: waits (bounded, so a broken test
// fails instead of hanging) until the socket is readable, then serves.
class ServeOnce {
public:
    ServeOnce(ControlServer& server, ControlServer::Handler handler)
        : m_thread([&server, handler] {
              pollfd entry{server.fd(), POLLIN, 0};
              if (poll(&entry, 1, 10000) == 1) {
                  server.acceptAndServe(handler);
              }
          }) {}
    ~ServeOnce() { m_thread.join(); }
    ServeOnce(const ServeOnce&) = delete;
    ServeOnce& operator=(const ServeOnce&) = delete;

private:
    std::thread m_thread;
};

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// Connects without the client library and sends `bytes`; `endRequest` then
// shuts the sending side, as a client that gave up would.
int rawSend(const std::string& path, const std::string& bytes, bool endRequest) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = addressOf(path);
    EXPECT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
    if (endRequest) {
        shutdown(fd, SHUT_WR);
    }
    return fd;
}

// All that comes back until the server closes.
std::string rawAnswer(int fd) {
    std::string answer;
    char chunk[512];
    ssize_t got;
    while ((got = recv(fd, chunk, sizeof chunk, 0)) > 0) {
        answer.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return answer;
}

// Leaves a socket file behind as a crashed manager would.
void makeStaleSocket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = addressOf(path);
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

class ManagerControl : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = m_dir.file("control.sock");
        std::string error;
        ASSERT_TRUE(m_server.open(m_path, error)) << error;
    }

    ControlServer::Handler echo() {
        return [this](const std::vector<std::string>& args, bool& ok) {
            m_seen = args;
            m_calls++;
            ok = true;
            std::string text;
            for (const std::string& arg : args) {
                text += "[" + arg + "]";
            }
            return text + "\n";
        };
    }

    ManagerTestDir m_dir;
    std::string m_path;
    ControlServer m_server;
    std::vector<std::string> m_seen;
    std::atomic<int> m_calls{0};
};

TEST_F(ManagerControl, ArgumentsTravelWholeAndTheAnswerComesBack) {
    std::string output;
    {
        ServeOnce serve(m_server, echo());
        EXPECT_EQ(runControlCommand(m_path, {"options", "/a b/\xC3\xA9.json", " x "}, output), 0);
    }
    EXPECT_EQ(output, "[options][/a b/\xC3\xA9.json][ x ]\n");
    EXPECT_EQ(m_seen, (std::vector<std::string>{"options", "/a b/\xC3\xA9.json", " x "}));
}

TEST_F(ManagerControl, ErrorAnswers) {
    struct Case {
        ControlServer::Handler handler;
        std::string output;
    };
    const Case cases[] = {
        {[](const std::vector<std::string>&, bool& ok) {
             ok = false;
             return std::string("unknown command \"stauts\"");
         },
         "error: unknown command \"stauts\"\n"},
        {[](const std::vector<std::string>&, bool& ok) {
             ok = false;
             return std::string("two\nlines\n");
         },
         "error: two\nlines\n"},
        {[](const std::vector<std::string>&, bool& ok) {
             ok = false;
             return std::string();
         },
         "error: failed\n"},
        {[](const std::vector<std::string>&, bool&) -> std::string {
             throw std::runtime_error("boom");
         },
         "error: internal error: boom\n"},
    };
    for (const Case& c : cases) {
        std::string output;
        int result;
        {
            ServeOnce serve(m_server, c.handler);
            result = runControlCommand(m_path, {"status"}, output);
        }
        EXPECT_EQ(result, 1);
        EXPECT_EQ(output, c.output);
    }
}

TEST_F(ManagerControl, SocketIsPrivateAndCloseOnExec) {
    struct stat info {};
    ASSERT_EQ(lstat(m_path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_NE(fcntl(m_server.fd(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(fcntl(m_server.fd(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(m_server.path(), m_path);
    // Nothing pending: returns at once.
    m_server.acceptAndServe(echo());
    EXPECT_EQ(m_calls, 0);
}

TEST_F(ManagerControl, SecondServerOnALivePathIsRefused) {
    ControlServer second;
    std::string error;
    EXPECT_FALSE(second.open(m_path, error));
    EXPECT_EQ(error, m_path + ": another manager is already running");
    EXPECT_EQ(second.fd(), -1);
    // The first one still serves (its probe connection is answered first).
    m_server.acceptAndServe(echo());
    std::string output;
    {
        ServeOnce serve(m_server, echo());
        EXPECT_EQ(runControlCommand(m_path, {"status"}, output), 0);
    }
    EXPECT_EQ(output, "[status]\n");
}

TEST_F(ManagerControl, MalformedRequestsAreAnsweredWithoutTheHandler) {
    struct Case {
        std::string bytes;
        bool endRequest;
        std::string answer;
    };
    const Case cases[] = {
        {std::string(CONTROL_REQUEST_MAX + 100, 'a'), false,
         "error: request too long (more than 4096 bytes)\n"},
        {std::string(1, '\0'), false, "error: empty request\n"},
        {"status", true, "error: request incomplete\n"},
    };
    for (const Case& c : cases) {
        std::string answer;
        {
            ServeOnce serve(m_server, echo());
            answer = rawAnswer(rawSend(m_path, c.bytes, c.endRequest));
        }
        EXPECT_EQ(answer, c.answer);
    }
    EXPECT_EQ(m_calls, 0);
}

TEST_F(ManagerControl, StuckClientTimesOut) {
    m_server.setReadTimeoutMs(20);
    int fd = rawSend(m_path, std::string("status\0", 7), false); // no end of the list
    m_server.acceptAndServe(echo());
    EXPECT_EQ(rawAnswer(fd), "error: request incomplete after 20 ms\n");
    EXPECT_EQ(m_calls, 0);
}

TEST_F(ManagerControl, LargestRequestPassesAndOneMoreByteIsRefused) {
    // "x...x\0\0" of exactly CONTROL_REQUEST_MAX bytes.
    std::string largest(CONTROL_REQUEST_MAX - 2, 'x');
    std::string output;
    {
        ServeOnce serve(m_server, [](const std::vector<std::string>& args, bool&) {
            return std::to_string(args[0].size());
        });
        EXPECT_EQ(runControlCommand(m_path, {largest}, output), 0);
    }
    EXPECT_EQ(output, "4094");
    EXPECT_EQ(runControlCommand(m_path, {largest + "x"}, output), 1);
    EXPECT_EQ(output, "error: the request is too long (4097 bytes, at most 4096)\n");
}

TEST_F(ManagerControl, CloseRemovesOnlyItsOwnSocket) {
    m_server.close();
    struct stat info {};
    EXPECT_NE(lstat(m_path.c_str(), &info), 0);

    std::string error;
    ASSERT_TRUE(m_server.open(m_path, error)) << error;
    ASSERT_EQ(unlink(m_path.c_str()), 0);
    makeStaleSocket(m_path); // another manager's file now
    m_server.close();
    EXPECT_EQ(lstat(m_path.c_str(), &info), 0);
}

TEST(ManagerControlOpen, StaleSocketIsReplacedAndOtherFilesAreNot) {
    ManagerTestDir dir;
    const std::string path = dir.file("stale.sock");
    makeStaleSocket(path);
    std::string output;
    EXPECT_EQ(runControlCommand(path, {"status"}, output), 2);
    EXPECT_EQ(output, "no manager is running (" + path + ")\n");

    ControlServer server;
    std::string error;
    ASSERT_TRUE(server.open(path, error)) << error;
    server.close();

    const std::string plain = dir.write("plain", "keep me");
    EXPECT_FALSE(server.open(plain, error));
    EXPECT_EQ(error, plain + ": exists and is not a socket; not replacing it");
    EXPECT_EQ(ManagerTestDir::read(plain), "keep me");

    const std::string tooLong = dir.path() + "/" + std::string(120, 's');
    EXPECT_FALSE(server.open(tooLong, error));
    EXPECT_EQ(error, tooLong + ": not usable as a socket path (1 to 107 bytes)");

    EXPECT_FALSE(server.open(dir.file("absent/control.sock"), error));
    EXPECT_EQ(error, dir.file("absent/control.sock") + ": cannot bind: No such file or directory");
}

TEST(ManagerControlClient, RefusesWhatItCannotSendAndReportsNoManager) {
    ManagerTestDir dir;
    const std::string path = dir.file("none.sock");
    struct Case {
        std::vector<std::string> args;
        int result;
        std::string output;
    };
    const Case cases[] = {
        {{}, 1, "error: no command given\n"},
        {{"error", ""}, 1, "error: argument 2 is empty\n"},
        {{"a", "b", std::string("c\0d", 3)}, 1, "error: argument 3 contains a NUL byte\n"},
        {{"status"}, 2, "no manager is running (" + path + ")\n"},
    };
    for (const Case& c : cases) {
        std::string output;
        EXPECT_EQ(runControlCommand(path, c.args, output), c.result);
        EXPECT_EQ(output, c.output);
    }
}

// Another user reaching the socket (its mode opened up on purpose here) is
// refused by the peer check. Needs root to switch users.
TEST_F(ManagerControl, OtherUsersArePermissionDenied) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to connect as another user";
    }
    ASSERT_EQ(chmod(m_path.c_str(), 0777), 0);
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0755), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(3);
        }
        std::string output;
        int result = runControlCommand(m_path, {"quit"}, output);
        if (write(pipeFds[1], output.data(), output.size()) < 0) {
            _exit(4);
        }
        _exit(result);
    }
    close(pipeFds[1]);
    pollfd entry{m_server.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, 10000), 1);
    m_server.acceptAndServe(echo());
    std::string output;
    char chunk[256];
    ssize_t got;
    while ((got = read(pipeFds[0], chunk, sizeof chunk)) > 0) {
        output.append(chunk, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(output, "error: permission denied\n");
    EXPECT_EQ(m_calls, 0);
}

TEST(ManagerControlPath, FollowsTheRuntimeDirectory) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old != nullptr ? old : "";
    const std::string uid = std::to_string(getuid());
    setenv("XDG_RUNTIME_DIR", "/run/user/1000/", 1);
    EXPECT_EQ(defaultControlPath(), "/run/user/1000/qel-manager-" + uid + ".sock");
    setenv("XDG_RUNTIME_DIR", "relative", 1);
    EXPECT_EQ(defaultControlPath(), "/tmp/qel-manager-" + uid + ".sock");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(defaultControlPath(), "/tmp/qel-manager-" + uid + ".sock");
    if (old != nullptr) {
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    }
}

} // namespace

// The client waits for the answer as long as the command takes by nature: a
// burst is answered once every event is sent.
TEST(ManagerControlClient, WaitsLongerForABurstThanForAnythingElse) {
    struct Case {
        std::vector<std::string> args;
        int waitMs;
    };
    const Case cases[] = {
        {{"status"}, CONTROL_ANSWER_TIMEOUT_MS},
        {{"burst", "1"}, CONTROL_ANSWER_TIMEOUT_MS + 1},
        {{"burst", "100000"}, CONTROL_ANSWER_TIMEOUT_MS + 100000},
        {{"burst", "1000000"}, CONTROL_ANSWER_TIMEOUT_MS + 1000000},
        {{"burst", "10000000"}, CONTROL_ANSWER_TIMEOUT_MS}, // refused by the daemon
        {{"burst", "x"}, CONTROL_ANSWER_TIMEOUT_MS},
        {{"burst"}, CONTROL_ANSWER_TIMEOUT_MS},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(controlAnswerWaitMs(c.args), c.waitMs) << c.args.back();
    }
}
