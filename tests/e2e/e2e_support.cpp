#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef QEL_PANEL_BINARY
#error "QEL_PANEL_BINARY must name the qel-panel program"
#endif
#ifndef QEL_SOURCE_DIR
#error "QEL_SOURCE_DIR must name the source tree"
#endif

extern char** environ;

namespace qele2e {
namespace {

void pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

bool expired(Clock::time_point start, int timeoutMs) {
    return Clock::now() - start > std::chrono::milliseconds(timeoutMs);
}

// Waits for `pid`; the exit code, 128 + signal, or -1 after the time ran out.
int waitFor(pid_t pid, int timeoutMs) {
    const auto start = Clock::now();
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status)) {
                return WEXITSTATUS(status);
            }
            return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
        }
        if (done < 0 || expired(start, timeoutMs)) {
            return -1;
        }
        pause();
    }
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

// The panel's environment: the test's own with the changes PanelProcess
// promises.
std::vector<std::string> panelEnvironment() {
    std::vector<std::string> env;
    bool leakOptions = false;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (text.rfind("GDK_GL=", 0) == 0 || text.rfind("NO_AT_BRIDGE=", 0) == 0) {
            continue;
        }
        if (text.rfind("LSAN_OPTIONS=", 0) == 0) {
            leakOptions = true;
        }
        env.push_back(text);
    }
    env.push_back("NO_AT_BRIDGE=1");
    const std::string suppressions = std::string(QEL_SOURCE_DIR) + "/tests/lsan.supp";
    if (!leakOptions && access(suppressions.c_str(), R_OK) == 0) {
        env.push_back("LSAN_OPTIONS=suppressions=" + suppressions);
    }
    return env;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string hex(Window window) {
    std::ostringstream text;
    text << "0x" << std::hex << window;
    return text.str();
}

} // namespace

std::string panelProgram() {
    return QEL_PANEL_BINARY;
}

std::string panelDirectory() {
    const std::string program = panelProgram();
    return program.substr(0, program.rfind('/'));
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto start = Clock::now();
    while (!done()) {
        if (expired(start, timeoutMs)) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

CommandRun runCommand(const std::vector<std::string>& argv, int timeoutMs) {
    CommandRun run;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        std::vector<std::string> args = argv;
        std::vector<char*> list = pointers(args);
        execvp(list[0], list.data());
        _exit(127);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return run;
    }
    const auto start = Clock::now();
    char buffer[4096];
    for (;;) {
        pollfd entry{out[0], POLLIN, 0};
        if (poll(&entry, 1, 20) > 0) {
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            run.out.append(buffer, static_cast<size_t>(n));
        }
        if (expired(start, timeoutMs)) {
            break;
        }
    }
    close(out[0]);
    const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    run.exitCode = waitFor(pid, std::max(0, timeoutMs - static_cast<int>(used.count())));
    if (run.exitCode == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return run;
}

PanelProcess::PanelProcess(const std::string& program, const std::string& cwd,
                           const std::string& logPath, const std::vector<std::string>& environment)
    : m_logPath(logPath) {
    std::vector<std::string> args{program};
    std::vector<std::string> env = panelEnvironment();
    for (const std::string& change : environment) {
        const std::string name = change.substr(0, change.find('='));
        env.erase(std::remove_if(
                      env.begin(), env.end(),
                      [&](const std::string& entry) { return entry.rfind(name + "=", 0) == 0; }),
                  env.end());
        if (change.find('=') != std::string::npos) {
            env.push_back(change);
        }
    }
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);
    m_pid = fork();
    if (m_pid == 0) {
        const int err = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = open("/dev/null", O_RDWR);
        if (err < 0 || null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(err, 2) < 0) {
            _exit(126);
        }
        if (chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        // As a desktop starts it: no signal blocked.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

PanelProcess::~PanelProcess() {
    if (running()) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool PanelProcess::running() {
    if (m_pid <= 0 || m_exit != -1) {
        return false;
    }
    const int code = waitFor(m_pid, 0);
    if (code != -1) {
        m_exit = code;
        return false;
    }
    return true;
}

int PanelProcess::waitExit(int timeoutMs) {
    if (m_exit == -1 && m_pid > 0) {
        m_exit = waitFor(m_pid, timeoutMs);
    }
    return m_exit;
}

int PanelProcess::stop(int signal, int timeoutMs) {
    if (running()) {
        kill(m_pid, signal);
    }
    return waitExit(timeoutMs);
}

std::string PanelProcess::log() const {
    return readFile(m_logPath);
}

bool PanelProcess::waitForLog(const std::string& text, int timeoutMs) const {
    return waitUntil([&] { return log().find(text) != std::string::npos; }, timeoutMs);
}

std::string PanelProcess::currentDirectory() const {
    char path[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(m_pid) + "/cwd";
    const ssize_t n = readlink(link.c_str(), path, sizeof path - 1);
    return n < 0 ? std::string() : std::string(path, static_cast<size_t>(n));
}

bool PanelProcess::maps(const std::string& text) const {
    return readFile("/proc/" + std::to_string(m_pid) + "/maps").find(text) != std::string::npos;
}

std::vector<Window> findWindows(pid_t pid, const std::string& title) {
    const CommandRun run = runCommand({"xdotool", "search", "--all", "--onlyvisible", "--pid",
                                       std::to_string(pid), "--name", title});
    std::vector<Window> windows;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty()) {
            windows.push_back(std::stoul(line));
        }
    }
    return windows;
}

Window waitForWindow(pid_t pid, const std::string& title, int timeoutMs) {
    Window found = 0;
    waitUntil(
        [&] {
            const std::vector<Window> windows = findWindows(pid, title);
            found = windows.size() == 1 ? windows.front() : 0;
            return found != 0;
        },
        timeoutMs);
    return found;
}

std::string windowTitle(Window window) {
    std::string title = runCommand({"xdotool", "getwindowname", std::to_string(window)}).out;
    while (!title.empty() && title.back() == '\n') {
        title.pop_back();
    }
    return title;
}

bool isViewable(Window window) {
    return runCommand({"xwininfo", "-id", hex(window)}).out.find("Map State: IsViewable") !=
           std::string::npos;
}

std::vector<Window> stackingOrder() {
    const CommandRun run = runCommand({"xwininfo", "-root", "-children"});
    std::vector<Window> order;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t at = line.find("0x");
        if (at == std::string::npos || line.find("children:") != std::string::npos ||
            line.find("Root window id:") != std::string::npos ||
            line.find("Parent window id:") != std::string::npos) {
            continue;
        }
        order.push_back(std::stoul(line.substr(at), nullptr, 16));
    }
    // xwininfo lists the topmost child first.
    std::reverse(order.begin(), order.end());
    return order;
}

bool isAbove(Window upper, Window lower) {
    const std::vector<Window> order = stackingOrder();
    int upperAt = -1;
    int lowerAt = -1;
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] == upper) {
            upperAt = static_cast<int>(i);
        }
        if (order[i] == lower) {
            lowerAt = static_cast<int>(i);
        }
    }
    return upperAt >= 0 && lowerAt >= 0 && upperAt > lowerAt;
}

bool pressReturn(Window window) {
    const std::string id = std::to_string(window);
    return runCommand({"xdotool", "windowfocus", "--sync", id}).exitCode == 0 &&
           runCommand({"xdotool", "key", "Return"}).exitCode == 0;
}

} // namespace qele2e
