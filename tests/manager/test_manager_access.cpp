// Who may reach a running qel-manager: its UDP port answers on 127.0.0.1
// only, never on another address of this machine; its control socket serves
// only the user who runs it, with the socket file's mode as the first fence
// and the peer's credentials as the second.
#include "manager_process.h"
#include "manager_wire.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace qeltest {
namespace {

constexpr uid_t k_nobody = 65534;
constexpr uint16_t k_seqnum = 0x4242;

// What came back for a request sent from a connected UDP socket.
struct Reply {
    std::vector<uint8_t> bytes; // the answer, when one came
    int error = 0;              // else the receive's errno; ETIMEDOUT: nothing at all
};

// Sends a keepalive to host:port from a socket connected there and waits for
// an answer or an error. Nothing listening on a local address means the
// kernel's "port unreachable", which the next receive reports as
// ECONNREFUSED as soon as it is queued; a few attempts cover an error the
// kernel's ICMP rate limit held back. An answer ends the wait at once.
Reply ask(const std::string& host, uint16_t port) {
    Reply reply;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (fd < 0 || inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1 ||
        connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        reply.error = errno;
        if (fd >= 0) {
            close(fd);
        }
        return reply;
    }
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    getsockname(fd, reinterpret_cast<sockaddr*>(&from), &fromLength);
    const FakeClient client{ntohs(from.sin_port), {1, 2, 3, 4, 5, 6, 7, 8}};
    const std::vector<uint8_t> request = requestBytes(client, k_seqnum, TESK2_OPCODE_KEEPALIVE, {});
    reply.error = ETIMEDOUT;
    for (int attempt = 0; attempt < 3 && reply.error == ETIMEDOUT; ++attempt) {
        if (send(fd, request.data(), request.size(), 0) < 0) {
            reply.error = errno;
            break;
        }
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 1000) != 1) {
            continue;
        }
        uint8_t buffer[TESK2_DATAGRAM_MAX];
        const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got >= 0) {
            reply.bytes.assign(buffer, buffer + got);
            reply.error = 0;
        } else {
            reply.error = errno;
        }
    }
    close(fd);
    return reply;
}

// Every IPv4 address of this machine's interfaces that are up, loopback's
// left out.
std::vector<std::string> otherLocalAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return addresses;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        char text[INET_ADDRSTRLEN];
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) {
            addresses.emplace_back(text);
        }
    }
    freeifaddrs(list);
    return addresses;
}

TEST(ManagerAccess, AnswersOnLoopbackAndOnNoOtherLocalAddress) {
    ScratchDir dir;
    ManagerProcess manager(dir);
    ASSERT_TRUE(manager.waitReady()) << manager.log();

    // From a session it does not know, a keepalive is answered "Not
    // connected", with the request's seqnum: proof the daemon read it.
    const Reply loopback = ask("127.0.0.1", manager.port());
    ASSERT_EQ(loopback.error, 0) << "127.0.0.1: " << std::strerror(loopback.error);
    ASSERT_GE(loopback.bytes.size(), TESK2_HEADER_SIZE);
    tesk2_message answer;
    tesk2_message_init(&answer);
    std::memcpy(tesk2_message_data(&answer), loopback.bytes.data(), loopback.bytes.size());
    EXPECT_EQ(tesk2_message_seqnum(&answer), k_seqnum);
    EXPECT_EQ(tesk2_message_status(&answer), TESK2_STATUS_NOT_CONNECTED);

    std::vector<std::string> others{"127.0.0.2"};
    for (const std::string& address : otherLocalAddresses()) {
        others.push_back(address);
    }
    for (const std::string& address : others) {
        const Reply reply = ask(address, manager.port());
        EXPECT_TRUE(reply.bytes.empty()) << address << " answered";
        EXPECT_EQ(reply.error, ECONNREFUSED)
            << address << ": " << std::strerror(reply.error) << " instead of refused";
        std::printf("%s:%u refused\n", address.c_str(), manager.port());
    }
    EXPECT_TRUE(manager.running());
}

TEST(ManagerAccess, TheControlSocketFileIsTheOwnersAlone) {
    ScratchDir dir;
    ManagerProcess manager(dir);
    ASSERT_TRUE(manager.waitReady()) << manager.log();
    struct stat info {};
    ASSERT_EQ(lstat(manager.controlPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_uid, geteuid());
}

// Runs `qel-manager ARGS` as user and group `id` without supplementary
// groups. Its output goes to files opened before the switch; it has ten
// seconds to end. The program runs from a copy in a directory that user can
// reach: the build tree may lie in a private directory (a checkout under a
// 0700 home, say), where the other user could not even start it.
ProgramRun runManagerAs(uid_t id, const std::vector<std::string>& args) {
    ScratchDir outputs;
    ScratchDir reachable;
    ProgramRun run;
    const std::string program = reachable.file("qel-manager");
    std::error_code error;
    std::filesystem::copy_file(QEL_MANAGER_BINARY, program, error);
    if (error || chmod(reachable.path().c_str(), 0755) != 0 || chmod(program.c_str(), 0755) != 0) {
        ADD_FAILURE() << "cannot place a copy of the manager at " << program;
        return run;
    }
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int out = open(outputs.file("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int err = open(outputs.file("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const pid_t pid = out >= 0 && err >= 0 ? fork() : -1;
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (dup2(out, 1) < 0 || dup2(err, 2) < 0 || setgroups(0, nullptr) != 0 || setgid(id) != 0 ||
            setuid(id) != 0 || chdir("/") != 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out);
    close(err);
    if (pid < 0) {
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readFile(outputs.file("out"));
    run.err = readFile(outputs.file("err"));
    return run;
}

TEST(ManagerAccess, AnotherUserIsRefusedByTheFileModeAndThenByThePeerCheck) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a client as another user";
    }
    ScratchDir dir;
    ManagerProcess manager(dir);
    ASSERT_TRUE(manager.waitReady()) << manager.log();
    const std::string& path = manager.controlPath();
    // The scratch directory is private too; open it, so that only the socket
    // file's own mode stands in the way.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);

    const ProgramRun byMode = runManagerAs(k_nobody, {"ctl", "status", "--control", path});
    EXPECT_EQ(byMode.exitCode, 2);
    EXPECT_EQ(byMode.out, "");
    EXPECT_EQ(byMode.err,
              "qel-manager ctl: cannot reach the manager (" + path + "): Permission denied\n");

    // With the file opened up on purpose, the daemon's own check refuses the
    // request, and it goes on serving its owner.
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    const ProgramRun byPeer = runManagerAs(k_nobody, {"ctl", "quit", "--control", path});
    EXPECT_EQ(byPeer.exitCode, 1);
    EXPECT_EQ(byPeer.out, "");
    EXPECT_EQ(byPeer.err, "qel-manager ctl: error: permission denied\n");
    const ProgramRun owner = manager.ctl({"status"});
    EXPECT_EQ(owner.exitCode, 0) << owner.err;
    EXPECT_TRUE(manager.running());
}

} // namespace
} // namespace qeltest
