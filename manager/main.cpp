// qel-manager: the stand-in manager daemon, and `qel-manager ctl`, the
// command that talks to a running one over its control socket.
//
// The daemon serves the manager protocol on 127.0.0.1 only. One thread, one
// poll() over the UDP socket, the control socket and a signalfd; a timer
// rescans the host's interfaces every 2 s and forgets silent clients.
#include "control.h"
#include "interfaces.h"
#include "kes_env.h"
#include "kes_log.h"
#include "kes_socket.h"
#include "manager_core.h"
#include "manager_status.h"
#include "options_file.h"
#include "qel_client.h"
#include "state_file.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int k_exit_ok = 0;
constexpr int k_exit_failure = 1;
constexpr int k_exit_usage = 2;
constexpr auto k_tick_interval = std::chrono::seconds(1);
constexpr auto k_rescan_interval = std::chrono::seconds(2);
// Datagrams handled in one go before the other sources get their turn.
constexpr int k_receive_burst = 64;
// The largest burst of state events `ctl burst` sends.
constexpr unsigned long k_max_state_burst = 1000000;
// A burst is made and sent in parts of this many events per client, so that
// the outbox stays small.
constexpr unsigned long k_state_burst_part = 1000;

const char k_usage[] =
    "Usage: qel-manager [OPTIONS]\n"
    "       qel-manager ctl COMMAND [ARGS] [--control PATH]\n"
    "\n"
    "The stand-in Qelvane manager: serves the manager protocol on 127.0.0.1 so\n"
    "that the control panel can run and be tested without the real service.\n"
    "\n"
    "Options:\n"
    "  --port N         UDP port on 127.0.0.1 (default 8899; 0 picks a free one,\n"
    "                   shown in the log and by `ctl status`)\n"
    "  --options FILE   options file (JSON) replacing parts of the built-in\n"
    "                   options; a file that does not load stops the start (exit 2)\n"
    "  --state FILE     state file keeping the configuration across restarts\n"
    "                   (default $XDG_STATE_HOME/qelvane/manager-state.json)\n"
    "  --control PATH   control socket (default $XDG_RUNTIME_DIR/qel-manager-<uid>.sock)\n"
    "  -v               log at Debug level (default Info), to standard error\n"
    "  --help           this text\n"
    "\n"
    "Control commands (qel-manager ctl COMMAND; exit 0 ok, 1 refused, 2 no manager):\n"
    "  status                  configuration, state, modes and clients as JSON\n"
    "  error CODE              set the system error (hex 0x0201 or decimal; 0 clears)\n"
    "  lock FLAGS              set the configuration lock flags (0 unlocks; while\n"
    "                          locked SET CONFIG is answered Invalid State)\n"
    "  link up|down            down forces the link down; up shows the interface's own\n"
    "  silent on|off           drop every datagram unanswered and send no event\n"
    "  notconnected on|off     answer every request Not connected\n"
    "  refuse on|off           answer every CONNECT Too many clients\n"
    "  options FILE            load an options file and send the new options\n"
    "  burst N                 send N state events (1 to 1000000) to every client at\n"
    "                          once, each with another address 10.x.y.z; the last\n"
    "                          one's x.y.z is N\n"
    "  quit                    stop the manager\n"
    "\n"
    "Exit status of the daemon: 0 after SIGINT, SIGTERM or `ctl quit`; 1 when the\n"
    "port or the control socket is taken; 2 for a bad option or options file.\n";

// Parses a 16-bit number: hexadecimal after "0x", else decimal (a leading
// zero does not make it octal).
bool parseU16(const std::string& text, uint16_t& value, bool allowHex = true) {
    const bool hex =
        allowHex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos) {
        return false;
    }
    errno = 0;
    const unsigned long parsed = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno != 0 || parsed > 0xFFFF) {
        return false;
    }
    value = static_cast<uint16_t>(parsed);
    return true;
}

bool parseOnOff(const std::string& text, bool& on) {
    if (text == "on") {
        on = true;
        return true;
    }
    if (text == "off") {
        on = false;
        return true;
    }
    return false;
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        return path;
    }
    return std::string(cwd) + "/" + path;
}

// ---- qel-manager ctl ----

int runCtl(const std::vector<std::string>& arguments) {
    std::string path = defaultControlPath();
    std::vector<std::string> request;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--control") {
            if (i + 1 >= arguments.size()) {
                std::fputs("qel-manager ctl: --control needs a path\n", stderr);
                return k_exit_usage;
            }
            path = arguments[++i];
        } else {
            request.push_back(arguments[i]);
        }
    }
    if (request.empty()) {
        std::fputs("qel-manager ctl: no command (see qel-manager --help)\n", stderr);
        return k_exit_usage;
    }
    // The daemon may run in another directory.
    if (request[0] == "options" && request.size() == 2) {
        request[1] = absolutePath(request[1]);
    }
    std::string output;
    const int result = runControlCommand(path, request, output);
    if (result == 0) {
        std::fputs(output.empty() ? "ok\n" : output.c_str(), stdout);
        return k_exit_ok;
    }
    std::fprintf(stderr, "qel-manager ctl: %s", output.c_str());
    if (output.empty() || output.back() != '\n') {
        std::fputc('\n', stderr);
    }
    return result == 1 ? 1 : 2;
}

// ---- the daemon ----

struct Settings {
    uint16_t port = QEL_MANAGER_PORT;
    std::string optionsPath;
    std::string statePath;
    std::string controlPath;
    bool verbose = false;
};

class Daemon {
public:
    Daemon(kes_log* log, const Settings& settings, const ManagerOptions& options,
           const std::vector<ManagerInterface>& interfaces, const qel_config& config)
        : m_log(log), m_settings(settings), m_options(options),
          m_core(log, options.options, interfaces, config) {
        m_core.setConfigChangedCallback([this](const qel_config& changed) { save(changed); });
    }
    ~Daemon() {
        kes_socket_close(&m_socket);
        if (m_signals >= 0) {
            ::close(m_signals);
        }
    }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    int start();
    int run();

private:
    void save(const qel_config& config);
    void receive();
    void flush();
    void rescan();
    std::string command(const std::vector<std::string>& args, bool& ok);

    kes_log* m_log;
    Settings m_settings;
    ManagerOptions m_options;
    ManagerCore m_core;
    Outbox m_outbox;
    kes_socket m_socket = KES_INVALID_SOCKET;
    uint16_t m_port = 0;
    ControlServer m_control;
    int m_signals = -1;
    bool m_quit = false;
    std::vector<uint8_t> m_buffer = std::vector<uint8_t>(65536);
};

void Daemon::save(const qel_config& config) {
    std::string error;
    if (!saveStateFile(m_settings.statePath, config, error)) {
        kes_log_printf(m_log, KES_LOG_ERROR, "%s: could not save the state: %s\n", MANAGER_LOG_NAME,
                       error.c_str());
    } else {
        kes_log_printf(m_log, KES_LOG_DEBUG, "%s: state saved to %s\n", MANAGER_LOG_NAME,
                       m_settings.statePath.c_str());
    }
}

int Daemon::start() {
    kes_address local{};
    kes_result result = kes_address_set_ipv4(&local, KES_FAMILY_IPV4, "127.0.0.1", m_settings.port);
    if (result == KES_SUCCESS) {
        result = kes_socket_open_udp(&m_socket, KES_FAMILY_IPV4);
    }
    if (result == KES_SUCCESS) {
        result = kes_socket_bind(m_socket, &local);
    }
    if (result == KES_SUCCESS) {
        result = kes_socket_set_blocking(m_socket, 0);
    }
    kes_address bound{};
    if (result == KES_SUCCESS) {
        result = kes_socket_local_address(m_socket, &bound);
    }
    if (result != KES_SUCCESS) {
        if (result == KES_ADDRINUSE) {
            kes_log_printf(m_log, KES_LOG_ERROR,
                           "%s: 127.0.0.1:%u is already in use (is another manager running?)\n",
                           MANAGER_LOG_NAME, static_cast<unsigned>(m_settings.port));
        } else {
            char reason[KES_RESULT_DESCRIBE_SIZE];
            kes_log_printf(m_log, KES_LOG_ERROR, "%s: cannot listen on 127.0.0.1:%u: %s\n",
                           MANAGER_LOG_NAME, static_cast<unsigned>(m_settings.port),
                           kes_result_describe(result, reason));
        }
        return k_exit_failure;
    }
    m_port = kes_address_port(&bound);

    std::string error;
    if (!m_control.open(m_settings.controlPath, error)) {
        kes_log_printf(m_log, KES_LOG_ERROR, "%s: %s\n", MANAGER_LOG_NAME, error.c_str());
        return k_exit_failure;
    }

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    m_signals = signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_signals < 0) {
        kes_log_printf(m_log, KES_LOG_ERROR, "%s: signalfd failed: %s\n", MANAGER_LOG_NAME,
                       std::strerror(errno));
        return k_exit_failure;
    }

    kes_log_printf(m_log, KES_LOG_INFO, "%s: listening on 127.0.0.1:%u (control %s, state %s)\n",
                   MANAGER_LOG_NAME, static_cast<unsigned>(m_port), m_settings.controlPath.c_str(),
                   m_settings.statePath.c_str());
    return k_exit_ok;
}

int Daemon::run() {
    using clock = std::chrono::steady_clock;
    auto nextTick = clock::now() + k_tick_interval;
    auto nextRescan = clock::now() + k_rescan_interval;
    while (!m_quit) {
        const auto now = clock::now();
        auto due = nextTick;
        if (!m_options.fixedInterfaces && nextRescan < due) {
            due = nextRescan;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
        pollfd fds[3] = {
            {m_socket, POLLIN, 0}, {m_control.fd(), POLLIN, 0}, {m_signals, POLLIN, 0}};
        const int ready = poll(fds, 3, wait < 0 ? 0 : static_cast<int>(wait) + 1);
        if (ready < 0 && errno != EINTR) {
            kes_log_printf(m_log, KES_LOG_ERROR, "%s: poll failed: %s\n", MANAGER_LOG_NAME,
                           std::strerror(errno));
            return k_exit_failure;
        }
        if (ready > 0 && (fds[2].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (read(m_signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                kes_log_printf(m_log, KES_LOG_INFO, "%s: %s received; stopping\n", MANAGER_LOG_NAME,
                               info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM");
                break;
            }
        }
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLERR)) != 0) {
            receive();
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            m_control.acceptAndServe([this](const std::vector<std::string>& args, bool& ok) {
                return command(args, ok);
            });
            flush();
        }
        const auto after = clock::now();
        if (after >= nextTick) {
            m_core.tick();
            nextTick = after + k_tick_interval;
        }
        if (!m_options.fixedInterfaces && after >= nextRescan) {
            rescan();
            nextRescan = after + k_rescan_interval;
        }
    }
    kes_log_printf(m_log, KES_LOG_INFO, "%s: stopped\n", MANAGER_LOG_NAME);
    m_control.close();
    return k_exit_ok;
}

void Daemon::receive() {
    for (int i = 0; i < k_receive_burst; ++i) {
        size_t size = m_buffer.size();
        kes_address from{};
        const kes_result result = kes_socket_recv_from(m_socket, m_buffer.data(), &size, &from);
        if (result == KES_TIMEDOUT) {
            break;
        }
        if (result != KES_SUCCESS) {
            // A pending error of a past send; the socket goes on working.
            char reason[KES_RESULT_DESCRIBE_SIZE];
            kes_log_printf(m_log, KES_LOG_DEBUG, "%s: receive: %s\n", MANAGER_LOG_NAME,
                           kes_result_describe(result, reason));
            continue;
        }
        m_core.handleDatagram(m_buffer.data(), size, from, m_outbox);
        flush();
    }
}

void Daemon::flush() {
    for (const auto& datagram : m_outbox) {
        size_t size = datagram.bytes.size();
        const kes_result result =
            kes_socket_send_to(m_socket, datagram.bytes.data(), &size, &datagram.to);
        if (result != KES_SUCCESS) {
            char reason[KES_RESULT_DESCRIBE_SIZE];
            kes_log_printf(m_log, KES_LOG_WARNING, "%s: could not send to %s: %s\n",
                           MANAGER_LOG_NAME, managerAddressText(datagram.to).c_str(),
                           kes_result_describe(result, reason));
        }
    }
    m_outbox.clear();
}

void Daemon::rescan() {
    m_core.setInterfaces(scanHostInterfaces(), m_outbox);
    flush();
}

std::string Daemon::command(const std::vector<std::string>& args, bool& ok) {
    const std::string& name = args[0];
    auto fail = [&ok](const std::string& text) {
        ok = false;
        return text;
    };
    auto wantArguments = [&args](size_t n) { return args.size() == n + 1; };
    kes_log_printf(m_log, KES_LOG_DEBUG, "%s: control command %s\n", MANAGER_LOG_NAME,
                   name.c_str());

    if (name == "status") {
        if (!wantArguments(0)) {
            return fail("usage: status");
        }
        return managerStatusJson(m_core, m_port);
    }
    if (name == "error" || name == "lock") {
        uint16_t value = 0;
        if (!wantArguments(1)) {
            return fail("usage: " + name + (name == "error" ? " CODE" : " FLAGS"));
        }
        if (!parseU16(args[1], value)) {
            return fail("'" + args[1] + "' is not a number from 0 to 0xffff");
        }
        if (name == "error") {
            m_core.setSystemError(value, m_outbox);
        } else {
            m_core.setLock(value, m_outbox);
        }
        kes_log_printf(m_log, KES_LOG_INFO, "%s: %s set to 0x%04x\n", MANAGER_LOG_NAME,
                       name == "error" ? "system error" : "lock flags",
                       static_cast<unsigned>(value));
        return "";
    }
    if (name == "link") {
        if (!wantArguments(1) || (args[1] != "up" && args[1] != "down")) {
            return fail("usage: link up|down");
        }
        m_core.setLink(args[1] == "up", m_outbox);
        kes_log_printf(m_log, KES_LOG_INFO, "%s: link %s\n", MANAGER_LOG_NAME,
                       args[1] == "up" ? "follows the interface" : "forced down");
        return "";
    }
    if (name == "silent" || name == "notconnected" || name == "refuse") {
        bool on = false;
        if (!wantArguments(1) || !parseOnOff(args[1], on)) {
            return fail("usage: " + name + " on|off");
        }
        if (name == "silent") {
            m_core.setSilent(on, m_outbox);
        } else if (name == "notconnected") {
            m_core.setNotConnected(on, m_outbox);
        } else {
            m_core.setRefuse(on);
        }
        kes_log_printf(m_log, KES_LOG_INFO, "%s: mode %s %s\n", MANAGER_LOG_NAME, name.c_str(),
                       on ? "on" : "off");
        return "";
    }
    if (name == "options") {
        if (!wantArguments(1)) {
            return fail("usage: options FILE");
        }
        ManagerOptions loaded = defaultManagerOptions();
        std::string error;
        if (!loadOptionsFile(args[1], loaded, error)) {
            return fail(error);
        }
        const std::vector<ManagerInterface> interfaces =
            loaded.fixedInterfaces ? loaded.interfaces : scanHostInterfaces();
        m_core.setOptions(loaded.options, interfaces, loaded.defaultConfig, m_outbox);
        m_options = loaded;
        kes_log_printf(m_log, KES_LOG_INFO, "%s: options loaded from %s\n", MANAGER_LOG_NAME,
                       args[1].c_str());
        return "";
    }
    if (name == "burst") {
        const std::string digits = wantArguments(1) ? args[1] : std::string();
        unsigned long count = 0;
        if (!digits.empty() && digits.size() <= 7 &&
            digits.find_first_not_of("0123456789") == std::string::npos) {
            count = std::strtoul(digits.c_str(), nullptr, 10);
        }
        if (count == 0 || count > k_max_state_burst) {
            return fail("usage: burst N (a number from 1 to 1000000)");
        }
        const size_t clients = m_core.sessions().size();
        size_t queued = 0;
        for (unsigned long first = 1; first <= count; first += k_state_burst_part) {
            const unsigned long part = std::min(k_state_burst_part, count - first + 1);
            queued += m_core.burstState(static_cast<uint32_t>(first), static_cast<uint32_t>(part),
                                        m_outbox);
            flush();
        }
        const unsigned each = clients == 0 ? 0u : static_cast<unsigned>(queued / clients);
        const std::string last = "10." + std::to_string((count >> 16) & 0xFF) + "." +
                                 std::to_string((count >> 8) & 0xFF) + "." +
                                 std::to_string(count & 0xFF);
        kes_log_printf(m_log, KES_LOG_INFO, "%s: burst of %u state events to each of %u clients\n",
                       MANAGER_LOG_NAME, each, static_cast<unsigned>(clients));
        return std::to_string(each) + " state events to each of " + std::to_string(clients) +
               " clients, the last with address " + last + "\n";
    }
    if (name == "quit") {
        if (!wantArguments(0)) {
            return fail("usage: quit");
        }
        kes_log_printf(m_log, KES_LOG_INFO, "%s: quit requested; stopping\n", MANAGER_LOG_NAME);
        m_quit = true;
        return "";
    }
    return fail("unknown command '" + name + "' (see qel-manager --help)");
}

// Loads the options, then the configuration to start with.
int prepare(kes_log* log, const Settings& settings, ManagerOptions& options,
            std::vector<ManagerInterface>& interfaces, qel_config& config) {
    options = defaultManagerOptions();
    if (!settings.optionsPath.empty()) {
        std::string error;
        if (!loadOptionsFile(settings.optionsPath, options, error)) {
            kes_log_printf(log, KES_LOG_ERROR, "%s: %s\n", MANAGER_LOG_NAME, error.c_str());
            return k_exit_usage;
        }
    }
    qel_options bare = options.options;
    fillOptionsInterfaces({}, bare);
    interfaces = options.fixedInterfaces ? options.interfaces : scanHostInterfaces();
    qel_options offered = bare;
    fillOptionsInterfaces(interfaces, offered);

    config = options.defaultConfig;
    std::string problem;
    qel_config saved;
    switch (loadStateFile(settings.statePath, saved, problem)) {
    case StateLoad::Loaded:
        if (ManagerCore::validApartFromInterface(offered, saved)) {
            config = saved;
            kes_log_printf(log, KES_LOG_INFO, "%s: configuration loaded from %s\n",
                           MANAGER_LOG_NAME, settings.statePath.c_str());
        } else {
            kes_log_printf(log, KES_LOG_WARNING,
                           "%s: %s: the saved configuration is not valid against the options; "
                           "using the default configuration\n",
                           MANAGER_LOG_NAME, settings.statePath.c_str());
        }
        break;
    case StateLoad::Missing:
        kes_log_printf(log, KES_LOG_INFO, "%s: %s; using the default configuration\n",
                       MANAGER_LOG_NAME, problem.c_str());
        break;
    case StateLoad::Corrupt:
        kes_log_printf(log, KES_LOG_WARNING, "%s: %s; using the default configuration\n",
                       MANAGER_LOG_NAME, problem.c_str());
        break;
    }
    return k_exit_ok;
}

int runDaemon(const Settings& given) {
    Settings settings = given;
    if (settings.statePath.empty()) {
        settings.statePath = defaultStatePath();
    }
    if (settings.controlPath.empty()) {
        settings.controlPath = defaultControlPath();
    }

    // Blocked before anything else so that the signalfd sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    kes_env* env = nullptr;
    if (kes_env_acquire(&env) != KES_SUCCESS) {
        std::fputs("qel-manager: out of memory\n", stderr);
        return k_exit_failure;
    }
    kes_log_set_threshold(env->log, KES_LOG_STDERR,
                          settings.verbose ? KES_LOG_DEBUG : KES_LOG_INFO);

    int status = k_exit_ok;
    {
        ManagerOptions options;
        std::vector<ManagerInterface> interfaces;
        qel_config config;
        status = prepare(env->log, settings, options, interfaces, config);
        if (status == k_exit_ok) {
            Daemon daemon(env->log, settings, options, interfaces, config);
            status = daemon.start();
            if (status == k_exit_ok) {
                status = daemon.run();
            }
        }
    }
    kes_env_release(env);
    return status;
}

int usageError(const std::string& text) {
    std::fprintf(stderr, "qel-manager: %s (see qel-manager --help)\n", text.c_str());
    return k_exit_usage;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && arguments[0] == "ctl") {
        return runCtl(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    }

    Settings settings;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--help" || option == "-h") {
            std::fputs(k_usage, stdout);
            return k_exit_ok;
        }
        if (option == "-v") {
            settings.verbose = true;
            continue;
        }
        if (option == "--port" || option == "--options" || option == "--state" ||
            option == "--control") {
            if (i + 1 >= arguments.size()) {
                return usageError(option + " needs a value");
            }
            const std::string& value = arguments[++i];
            if (option == "--port") {
                if (!parseU16(value, settings.port, false)) {
                    return usageError("--port needs a number from 0 to 65535, not '" + value + "'");
                }
            } else if (value.empty()) {
                return usageError(option + " needs a value");
            } else if (option == "--options") {
                settings.optionsPath = value;
            } else if (option == "--state") {
                settings.statePath = value;
            } else {
                settings.controlPath = value;
            }
            continue;
        }
        return usageError("unknown option '" + option + "'");
    }
    return runDaemon(settings);
}
