// Helpers for the tests that run the qel-manager program itself: a scratch
// directory, a daemon started in it (ephemeral port, its own state file,
// control socket and options file), one-shot runs of the program (ctl
// commands, refused starts) and a panel-side manager client driven until a
// condition holds. Every wait is bounded by a few seconds and polls in steps
// of milliseconds.
#pragma once

#include "kes_env.h"
#include "qel_client.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qeltest {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

// Options with a fixed list, so that no test depends on the machine: eth0
// (00:1b:21:3c:4d:5e, up, 1000 Mbit/s, 192.168.1.20) and wlan0
// (02:42:ac:11:00:02, down), with eth0 in the default configuration.
std::string fixedOptionsJson();

struct ProgramRun {
    int exitCode = -1; // -1: did not end in time (then killed)
    std::string out;
    std::string err;
};

// Runs qel-manager with `args` in `cwd` (empty: the test's own), waiting
// at most `timeoutMs`.
ProgramRun runManagerProgram(const std::vector<std::string>& args, const std::string& cwd = "",
                             int timeoutMs = 5000);
// The same with any program.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd = "", int timeoutMs = 5000);
// Starts `program` in the background, its standard output and error going to
// the files; -1 when it cannot. waitProgram waits at most `timeoutMs` for it:
// its exit code, 128 + the signal that ended it, or -1 while it runs.
pid_t startProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& outPath, const std::string& errPath);
int waitProgram(pid_t pid, int timeoutMs);

// One qel-manager daemon in a scratch directory.
class ManagerProcess {
public:
    // Starts `qel-manager --state S --control C --options O --port P` plus
    // `extra` (paths in `dir`; the options file holds fixedOptionsJson()
    // unless it exists already). P is `port`, 0 for a free one; a negative
    // `port` leaves --port out (the default port).
    ManagerProcess(const ScratchDir& dir, const std::vector<std::string>& extra = {}, int port = 0);
    ~ManagerProcess();
    ManagerProcess(const ManagerProcess&) = delete;
    ManagerProcess& operator=(const ManagerProcess&) = delete;

    // Waits until the control socket answers `status`; sets port().
    bool waitReady(int timeoutMs = 5000);
    uint16_t port() const { return m_port; }
    // Sends `signal` and waits for the exit code (-1 when it does not end).
    int stop(int signal, int timeoutMs = 5000);
    // Waits for the process to end by itself.
    int waitExit(int timeoutMs = 5000);
    bool running();

    std::string log() const { return readFile(m_logPath); }
    // Waits until the log holds `text`.
    bool waitForLog(const std::string& text, int timeoutMs = 3000) const;

    const std::string& statePath() const { return m_statePath; }
    const std::string& controlPath() const { return m_controlPath; }
    const std::string& optionsPath() const { return m_optionsPath; }

    // `qel-manager ctl ARGS --control <this daemon's socket>`, waiting at
    // most `timeoutMs` for it to end.
    ProgramRun ctl(const std::vector<std::string>& args, const std::string& cwd = "",
                   int timeoutMs = 5000) const;
    // From `ctl status`: the number of clients (99 when it does not answer)
    // and the system error as it prints it ("0x0201"; "?" when it does not
    // answer).
    size_t clients() const;
    std::string systemError() const;

private:
    pid_t m_pid = -1;
    int m_exit = -1;
    uint16_t m_port = 0;
    std::string m_logPath;
    std::string m_statePath;
    std::string m_controlPath;
    std::string m_optionsPath;
};

// A panel-side manager client on a manager's port.
class Panel {
public:
    explicit Panel(uint16_t port);
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    qel_client* client() { return m_client; }
    std::vector<QelClientEvent>& events() { return m_events; }

    // Drives tesk2_client_process until `done` holds or the time runs out.
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 3000);
    // CONNECT, then waits for the info, the options and the state.
    bool connect();

private:
    static void onEvent(qel_client* client, QelClientEvent event);

    kes_env* m_env = nullptr;
    qel_client* m_client = nullptr;
    std::vector<QelClientEvent> m_events;
};

} // namespace qeltest
