// Running the qel-manager program from tests.
#include "manager_process.h"

#include "control.h"
#include "tesk2_client.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef QEL_MANAGER_BINARY
#error "QEL_MANAGER_BINARY must name the qel-manager program"
#endif

namespace qeltest {
namespace {

using Clock = std::chrono::steady_clock;

void pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

bool expired(Clock::time_point start, int timeoutMs) {
    return Clock::now() - start > std::chrono::milliseconds(timeoutMs);
}

// Forks and executes `program` with `args`; standard output and error go
// to the given files.
pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const std::string& outPath, const std::string& errPath, const std::string& cwd) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(126);
        }
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        // The test runner may block signals; the daemon must start as a
        // shell would start it.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
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

} // namespace

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/qel-manager-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

ScratchDir::~ScratchDir() {
    if (!m_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string fixedOptionsJson() {
    return R"({
  "interfaces": [
    {"name": "eth0", "mac": "00:1b:21:3c:4d:5e", "link": true, "speed": 1000,
     "ipv4": "192.168.1.20"},
    {"name": "wlan0", "mac": "02:42:ac:11:00:02", "link": false, "speed": 0}
  ],
  "default_config": {"interface": "eth0"}
}
)";
}

ProgramRun runManagerProgram(const std::vector<std::string>& args, const std::string& cwd,
                             int timeoutMs) {
    return runProgram(QEL_MANAGER_BINARY, args, cwd, timeoutMs);
}

pid_t startProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& outPath, const std::string& errPath) {
    return spawn(program, args, outPath, errPath, "");
}

int waitProgram(pid_t pid, int timeoutMs) {
    return waitFor(pid, timeoutMs);
}

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, int timeoutMs) {
    ScratchDir outputs;
    ProgramRun run;
    const pid_t pid = spawn(program, args, outputs.file("out"), outputs.file("err"), cwd);
    if (pid < 0) {
        return run;
    }
    run.exitCode = waitFor(pid, timeoutMs);
    if (run.exitCode == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    run.out = readFile(outputs.file("out"));
    run.err = readFile(outputs.file("err"));
    return run;
}

ManagerProcess::ManagerProcess(const ScratchDir& dir, const std::vector<std::string>& extra,
                               int port)
    : m_logPath(dir.file("manager.log")), m_statePath(dir.file("state.json")),
      m_controlPath(dir.file("control.sock")), m_optionsPath(dir.file("options.json")) {
    if (!std::filesystem::exists(m_optionsPath)) {
        writeFile(m_optionsPath, fixedOptionsJson());
    }
    std::vector<std::string> args{"--state",     m_statePath, "--control",
                                  m_controlPath, "--options", m_optionsPath};
    if (port >= 0) {
        args.push_back("--port");
        args.push_back(std::to_string(port));
    }
    args.insert(args.end(), extra.begin(), extra.end());
    m_pid = spawn(QEL_MANAGER_BINARY, args, dir.file("manager.out"), m_logPath, "");
}

ManagerProcess::~ManagerProcess() {
    if (running()) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool ManagerProcess::running() {
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

bool ManagerProcess::waitReady(int timeoutMs) {
    const auto start = Clock::now();
    while (!expired(start, timeoutMs)) {
        std::string output;
        if (runControlCommand(m_controlPath, {"status"}, output) == 0) {
            const auto status = nlohmann::json::parse(output, nullptr, false);
            if (!status.is_discarded() && status.contains("port")) {
                m_port = status["port"].get<uint16_t>();
                return true;
            }
        }
        if (!running()) {
            return false;
        }
        pause();
    }
    return false;
}

int ManagerProcess::stop(int signal, int timeoutMs) {
    if (running()) {
        kill(m_pid, signal);
    }
    return waitExit(timeoutMs);
}

int ManagerProcess::waitExit(int timeoutMs) {
    if (m_exit == -1 && m_pid > 0) {
        m_exit = waitFor(m_pid, timeoutMs);
    }
    return m_exit;
}

bool ManagerProcess::waitForLog(const std::string& text, int timeoutMs) const {
    const auto start = Clock::now();
    while (log().find(text) == std::string::npos) {
        if (expired(start, timeoutMs)) {
            return false;
        }
        pause();
    }
    return true;
}

ProgramRun ManagerProcess::ctl(const std::vector<std::string>& args, const std::string& cwd,
                               int timeoutMs) const {
    std::vector<std::string> all{"ctl"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back("--control");
    all.push_back(m_controlPath);
    return runManagerProgram(all, cwd, timeoutMs);
}

size_t ManagerProcess::clients() const {
    const nlohmann::json status = nlohmann::json::parse(ctl({"status"}).out, nullptr, false);
    return status.is_discarded() ? 99 : status["clients"].size();
}

std::string ManagerProcess::systemError() const {
    const nlohmann::json status = nlohmann::json::parse(ctl({"status"}).out, nullptr, false);
    return status.is_discarded() ? "?" : status["state"]["system_error"].get<std::string>();
}

Panel::Panel(uint16_t port) {
    if (kes_env_acquire(&m_env) == KES_SUCCESS &&
        qel_client_new_on_port(m_env, port, &m_client) == KES_SUCCESS) {
        m_client->owner_context = this;
        m_client->callback = &Panel::onEvent;
    }
}

Panel::~Panel() {
    qel_client_free(m_client);
    kes_env_release(m_env);
}

void Panel::onEvent(qel_client* client, QelClientEvent event) {
    static_cast<Panel*>(client->owner_context)->m_events.push_back(event);
}

bool Panel::pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    if (m_client == nullptr) {
        return false;
    }
    const auto start = Clock::now();
    while (!done()) {
        if (expired(start, timeoutMs)) {
            return false;
        }
        const kes_time step{0, 20000};
        kes_socket_wait_readable(m_client->socket, &step);
        tesk2_client_process(m_client->protocol);
    }
    return true;
}

bool Panel::connect() {
    if (m_client == nullptr || qel_client_connect(m_client) != KES_SUCCESS) {
        return false;
    }
    return pumpUntil([this] {
        const uint32_t all =
            QEL_CLIENT_INFO_VALID | QEL_CLIENT_OPTIONS_VALID | QEL_CLIENT_STATE_VALID;
        return m_client->status == TESK2_CONNECTED && (m_client->flags & all) == all;
    });
}

} // namespace qeltest
