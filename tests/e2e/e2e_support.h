// Helpers of the whole-process tests: the qel-panel program started as a
// user starts it (its own directory, standard error kept in a file), short
// commands run to completion (xdotool, xwininfo), and the windows of the X
// display found, read and answered through them. Every wait is bounded and
// polls in steps of milliseconds.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qele2e {

using Clock = std::chrono::steady_clock;

// How many times longer the waits of a sanitizer build may take. Every wait
// ends as soon as what it waits for has happened; this only widens the bound
// after which a test gives up, so that a loaded machine running instrumented
// programs is not taken for a fault.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int k_slowdown = 5;
#else
constexpr int k_slowdown = 1;
#endif

// The program under test and the directory it lives in.
std::string panelProgram();
std::string panelDirectory();

// Polls `done` every few milliseconds until it holds or `timeoutMs` passed.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

struct CommandRun {
    int exitCode = -1; // -1: did not end in time (then killed)
    std::string out;
};

// Runs `argv` (searched in PATH) with standard output captured.
CommandRun runCommand(const std::vector<std::string>& argv, int timeoutMs = 5000);

// One qel-panel process. Its standard error goes to `logPath`; it runs in
// `cwd`. The environment is the test's own, without GDK_GL (the program
// decides that itself), without the accessibility bridge, and with the leak
// checker's suppressions of the source tree when it has none.
class PanelProcess {
public:
    // `environment` changes the panel's environment further: "NAME=value"
    // sets a variable, a bare "NAME" removes it (also one of those above).
    PanelProcess(const std::string& program, const std::string& cwd, const std::string& logPath,
                 const std::vector<std::string>& environment = {});
    ~PanelProcess(); // kills the process if it still runs
    PanelProcess(const PanelProcess&) = delete;
    PanelProcess& operator=(const PanelProcess&) = delete;

    pid_t pid() const { return m_pid; }
    bool running();
    // The exit code (128 + signal when killed), or -1 when it did not end
    // within `timeoutMs`.
    int waitExit(int timeoutMs);
    // Sends `signal`, then waitExit.
    int stop(int signal, int timeoutMs);

    std::string log() const;
    bool waitForLog(const std::string& text, int timeoutMs) const;

    // The process's current directory, and whether a mapped file's path
    // contains `text`, from /proc.
    std::string currentDirectory() const;
    bool maps(const std::string& text) const;

private:
    pid_t m_pid = -1;
    int m_exit = -1;
    std::string m_logPath;
};

// ---- the X display -----------------------------------------------------------

using Window = unsigned long;

// Holds a connection to the X display for as long as it exists. The server
// resets whenever its last client leaves and refuses newcomers meanwhile; a
// test that starts programs one after another keeps it from doing so.
class DisplayConnection {
public:
    // Connects, retrying for at most `timeoutMs`.
    explicit DisplayConnection(int timeoutMs = 5000);
    ~DisplayConnection();
    DisplayConnection(const DisplayConnection&) = delete;
    DisplayConnection& operator=(const DisplayConnection&) = delete;

    bool isOpen() const { return m_display != nullptr; }

private:
    void* m_display;
};

// The visible top-level windows of process `pid` whose title matches the
// regular expression `title`.
std::vector<Window> findWindows(pid_t pid, const std::string& title);
// Waits until there is exactly one; 0 when none came within `timeoutMs`.
Window waitForWindow(pid_t pid, const std::string& title, int timeoutMs);

std::string windowTitle(Window window);
bool isViewable(Window window);
// The root's children, bottom first, as the server stacks them.
std::vector<Window> stackingOrder();
// True when `upper` is stacked above `lower`.
bool isAbove(Window upper, Window lower);

// Gives `window` the keyboard focus and presses Return in it.
bool pressReturn(Window window);

} // namespace qele2e
