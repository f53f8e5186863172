// The qel-panel program when things go wrong around it: the manager killed,
// silent or answering Not connected, the process suspended as in sleep, a
// system error while a request is outstanding, refused and half-finished
// start-ups, malformed and foreign datagrams, and a flood of events. Every
// scenario checks what the user is told (the box, through its window and the
// exact log line written before it is shown), what crosses the wire, and
// whether the panel is still there and answering afterwards.
#include "e2e_support.h"
#include "manager_process.h"

#include "record_builders.h"
#include "scripted_peer.h"

#include "qel_codec.h"
#include "qel_records.h"
#include "tesk2_message.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using qele2e::Clock;
using qele2e::PanelProcess;
using qele2e::Window;
using qeltest::Datagram;

constexpr int k_windowMs = 15000 * qele2e::k_slowdown; // start-up of the toolkit
constexpr int k_exitMs = 5000 * qele2e::k_slowdown;
constexpr int k_quickMs = 3000 * qele2e::k_slowdown;

const char k_mainTitle[] = "^Qelvane$";
const char k_warningTitle[] = "^Warning$";
const char k_errorTitle[] = "^Error$";
const char k_systemErrorTitle[] = "^QEL Error$";

const char k_restartWarning[] =
    "The QEL Control panel has lost contact with QEL.\n"
    "Try restarting the QEL control panel to re-establish a connection.";
const char k_sleepWarning[] = "The QEL Control panel has lost contact with QEL.\n"
                              "This may be due to the computer entering a low power state\n"
                              "such as sleep or hibernation\n"
                              "Restart the QEL control panel to re-establish a connection.";

// Under AddressSanitizer freed memory is held back for a while, so resident
// memory says nothing about leaks there; the leak checker at exit does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool k_addressSanitizer = true;
#else
constexpr bool k_addressSanitizer = false;
#endif

// Where the power button and the latency choice lie in the main window.
constexpr int k_powerX = 153;
constexpr int k_powerY = 189;
constexpr int k_latencyX = 360;
constexpr int k_latencyY = 251;
// The open choice lists its items over it, the selected one where the choice
// is; the next one is a row further down.
constexpr int k_listRow = 29;

// Longer than the manager keeps a client it hears nothing from (31 s).
constexpr auto k_longRead = std::chrono::seconds(40);

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The log line the panel writes just before it shows a box.
std::string boxLine(const std::string& caption, const std::string& text) {
    return "Info Message box \"" + caption + "\": " + text + "\n";
}

// The state dump's address line, as the panel logs every state it takes.
std::string addressLine(const uint8_t (&ip)[QEL_IP_ADDRESS_SIZE]) {
    std::ostringstream line;
    line << "Debug   Ip Address: " << unsigned{ip[0]} << '.' << unsigned{ip[1]} << '.'
         << unsigned{ip[2]} << '.' << unsigned{ip[3]} << '\n';
    return line.str();
}

void setAddress(qel_state& state, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    state.ip_address[0] = a;
    state.ip_address[1] = b;
    state.ip_address[2] = c;
    state.ip_address[3] = d;
}

// Clicks at a point of a window with the pointer, as a user does.
bool clickAt(Window window, int x, int y) {
    return qele2e::runCommand({"xdotool", "mousemove", "--window", std::to_string(window),
                               std::to_string(x), std::to_string(y), "click", "1"})
               .exitCode == 0;
}

long residentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

// ---- a manager stand-in the test drives by hand ------------------------------

// Bound to the manager's fixed port: takes the panel's requests, answers
// them or not, and sends events of its own, valid or broken.
class FakeManager {
public:
    FakeManager() : m_peer(8899), m_options(qeltest::sampleOptions()) {}

    bool isOpen() const { return m_peer.isOpen(); }
    qeltest::ScriptedPeer& peer() { return m_peer; }
    uint16_t panelPort() const { return m_panelPort; }

    // Waits for the next request with `opcode`; other requests are kept.
    bool expect(uint16_t opcode, Datagram& out, int waitMs) {
        const auto start = Clock::now();
        for (;;) {
            const int left = waitMs - static_cast<int>(secondsSince(start) * 1000);
            if (left <= 0 || !m_peer.receive(out, left)) {
                return false;
            }
            if (out.opcode == opcode) {
                return true;
            }
            m_other.push_back(out);
        }
    }
    const std::vector<Datagram>& other() const { return m_other; }

    // Takes the CONNECT and answers it; then sends the options and the state
    // as asked.
    bool acceptConnect(bool sendOptions, bool sendState, int waitMs = k_windowMs) {
        Datagram connect;
        if (!expect(TESK2_OPCODE_CONNECT, connect, waitMs)) {
            return false;
        }
        m_panelPort = kes_address_port(&connect.from);
        const qel_info info{0, 1, 2, 3, "-fake"};
        tesk2_message answer = header(TESK2_STATUS_RESPONSE, connect.seqnum, TESK2_OPCODE_CONNECT);
        if (qel_info_encode(&info, &answer) != KES_SUCCESS) {
            return false;
        }
        m_peer.sendMessage(answer);
        if (sendOptions) {
            m_peer.sendBytes(optionsEvent(m_options));
        }
        if (sendState) {
            m_peer.sendBytes(stateEvent(qeltest::sampleState()));
        }
        return true;
    }

    std::vector<uint8_t> stateEvent(const qel_state& state) {
        tesk2_message event = header(TESK2_STATUS_EVENT, m_eventSeqnum++, QEL_EVENT_STATE);
        qel_state_encode(&state, &event);
        return bytes(event);
    }
    std::vector<uint8_t> optionsEvent(const qel_options& options) {
        tesk2_message event = header(TESK2_STATUS_EVENT, m_eventSeqnum++, QEL_EVENT_OPTIONS);
        qel_options_encode(&options, &event);
        return bytes(event);
    }
    // The answer to `request` carrying `state`.
    void answerWithState(const Datagram& request, const qel_state& state) {
        tesk2_message answer = header(TESK2_STATUS_RESPONSE, request.seqnum, request.opcode);
        qel_state_encode(&state, &answer);
        m_peer.sendMessage(answer);
    }

    static std::vector<uint8_t> bytes(const tesk2_message& message) {
        const uint8_t* data = tesk2_message_data(&message);
        return std::vector<uint8_t>(data, data + tesk2_message_length(&message));
    }

private:
    static tesk2_message header(uint16_t status, uint16_t seqnum, uint16_t opcode) {
        tesk2_message message;
        tesk2_message_init(&message);
        std::memset(tesk2_message_data(&message), 0, TESK2_DATAGRAM_MAX);
        tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, opcode);
        tesk2_message_set_seqnum(&message, seqnum);
        tesk2_message_set_status(&message, status);
        return message;
    }

    qeltest::ScriptedPeer m_peer;
    qel_options m_options;
    uint16_t m_panelPort = 0;
    uint16_t m_eventSeqnum = 0;
    std::vector<Datagram> m_other;
};

// ---- the fixture ----------------------------------------------------------------

class PanelFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, std::getenv("DISPLAY")) << "these tests need an X display (xvfb-run)";
        ASSERT_TRUE(m_display.isOpen()) << "the X display does not answer";
        ASSERT_FALSE(m_dir.path().empty());
    }

    // In sanitizer builds, every panel's log is free of their reports.
    void TearDown() override {
        for (const std::string& path : m_logs) {
            const std::string log = qeltest::readFile(path);
            EXPECT_EQ(std::string::npos, log.find("Sanitizer")) << path << ":\n" << tail(log);
            EXPECT_EQ(std::string::npos, log.find("runtime error:")) << path << ":\n" << tail(log);
        }
    }

    static std::string tail(const std::string& log) {
        return log.size() > 20000 ? log.substr(log.size() - 20000) : log;
    }

    // A manager on the panel's fixed port, logging at Debug.
    void startManager() {
        m_manager =
            std::make_unique<qeltest::ManagerProcess>(m_dir, std::vector<std::string>{"-v"}, 8899);
        ASSERT_TRUE(m_manager->waitReady()) << m_manager->log();
    }
    void ctl(const std::vector<std::string>& args) {
        const qeltest::ProgramRun run = m_manager->ctl(args);
        ASSERT_EQ(0, run.exitCode) << run.err;
    }
    size_t managerClients() { return m_manager->clients(); }
    std::string managerSystemError() { return m_manager->systemError(); }

    std::unique_ptr<PanelProcess> startPanel(const std::string& name = "panel",
                                             const std::string& program = qele2e::panelProgram()) {
        m_logs.push_back(m_dir.file(name + ".log"));
        return std::make_unique<PanelProcess>(program, m_dir.path(), m_logs.back());
    }

    // A copy of the program in a directory of its own, so that it runs beside
    // the original.
    std::string copyOfProgram() {
        const std::string copyDir = m_dir.file("copy");
        std::filesystem::create_directories(copyDir);
        std::filesystem::copy(qele2e::panelProgram(), copyDir + "/qel-panel");
        std::filesystem::copy(qele2e::panelDirectory() + "/res", copyDir + "/res",
                              std::filesystem::copy_options::recursive);
        return copyDir + "/qel-panel";
    }

    // The panel's GUI thread still serves the user: a second start of the
    // same program asks it to bring its window forward, which the GUI thread
    // does and logs.
    void expectResponsive(PanelProcess& panel) {
        const size_t before = count(panel.log(), "another start brings the window forward");
        auto second = startPanel("second-start");
        EXPECT_EQ(0, second->waitExit(k_quickMs)) << "the first one has its window";
        EXPECT_TRUE(qele2e::waitUntil(
            [&] { return count(panel.log(), "another start brings the window forward") > before; },
            k_quickMs))
            << "the GUI thread did not answer";
        EXPECT_TRUE(panel.running());
    }

    // Waits for the one box titled `title` of `panel`, checks the line the
    // panel logged for it, and answers it.
    void answerBox(PanelProcess& panel, const std::string& title, const std::string& line,
                   int timeoutMs = k_windowMs) {
        const Window box = qele2e::waitForWindow(panel.pid(), title, timeoutMs);
        ASSERT_NE(0u, box) << tail(panel.log());
        EXPECT_EQ(1u, count(panel.log(), line)) << tail(panel.log());
        ASSERT_TRUE(qele2e::pressReturn(box));
        EXPECT_TRUE(qele2e::waitUntil(
            [&] { return qele2e::findWindows(panel.pid(), title).empty(); }, k_quickMs));
    }

    qele2e::DisplayConnection m_display;
    qeltest::ScratchDir m_dir;
    std::unique_ptr<qeltest::ManagerProcess> m_manager;
    std::vector<std::string> m_logs;
};

// ---- lost contact ---------------------------------------------------------------

TEST_F(PanelFaults, AKilledManagerGivesOneRestartWarningAndThenSilence) {
    startManager();
    auto panel = startPanel();
    ASSERT_NE(0u, qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs)) << panel->log();
    ASSERT_EQ(128 + SIGKILL, m_manager->stop(SIGKILL));

    // The next keepalive, at most 10 s later, finds the port closed.
    const Window box = qele2e::waitForWindow(panel->pid(), k_warningTitle, 10000 + k_windowMs);
    ASSERT_NE(0u, box) << panel->log();
    EXPECT_NE(std::string::npos, panel->log().find("error recving (CONNRESET): disconnecting"));
    EXPECT_EQ(1u, count(panel->log(), boxLine("Warning", k_restartWarning))) << panel->log();

    // From now on the port is held by a plain socket: nothing more comes,
    // neither before nor after the box is answered.
    qeltest::ScriptedPeer port(8899);
    ASSERT_TRUE(port.isOpen());
    ASSERT_TRUE(qele2e::pressReturn(box));
    Datagram stray;
    EXPECT_FALSE(port.receive(stray, 3000)) << "opcode 0x" << std::hex << stray.opcode;
    EXPECT_TRUE(qele2e::findWindows(panel->pid(), k_warningTitle).empty()) << "shown once";
    EXPECT_EQ(1u, count(panel->log(), "Message box")) << panel->log();
    EXPECT_NE(0u, qele2e::findWindows(panel->pid(), k_mainTitle).size());
    expectResponsive(*panel);
    EXPECT_FALSE(port.receive(stray, 0));
}

// One run serves two scenarios whose waits overlap: panel A against a manager
// that has gone silent is timed exactly, and a copy B of the program, stopped
// as a computer stops it in sleep for longer than the liveness gap, is
// continued meanwhile.
TEST_F(PanelFaults, ASilentManagerIsGivenUpAfter31sAndSleepIsToldApart) {
    startManager();
    auto b = startPanel("b", copyOfProgram());
    ASSERT_TRUE(
        qele2e::waitUntil([&] { return count(m_manager->log(), " connected\n") == 1; }, k_windowMs))
        << b->log();
    auto a = startPanel("a");
    // The manager's answer to CONNECT is the last A will hear.
    ASSERT_TRUE(
        qele2e::waitUntil([&] { return count(m_manager->log(), " connected\n") == 2; }, k_windowMs))
        << a->log();
    const auto lastAnswer = Clock::now();
    ASSERT_NO_FATAL_FAILURE(ctl({"silent", "on"}));
    ASSERT_LT(secondsSince(lastAnswer), 9.0) << "the manager went silent too late";
    // A is the client that connected second.
    const std::string managerLog = m_manager->log();
    const size_t second = managerLog.find(" connected\n", managerLog.find(" connected\n") + 1);
    const size_t at = managerLog.rfind("client 127.0.0.1:", second);
    ASSERT_NE(std::string::npos, at);
    const std::string client = managerLog.substr(at, managerLog.find(' ', at + 7) - at);
    ASSERT_NE(0u, qele2e::waitForWindow(a->pid(), k_mainTitle, k_windowMs)) << a->log();
    ASSERT_NE(0u, qele2e::waitForWindow(b->pid(), k_mainTitle, k_windowMs)) << b->log();
    const auto stopped = Clock::now();
    ASSERT_EQ(0, kill(b->pid(), SIGSTOP));

    std::vector<double> keepalives;
    double disappeared = -1;
    const std::string keepaliveLine = client + ": KEEPALIVE ignored (silent)";
    qele2e::waitUntil(
        [&] {
            const size_t n = count(m_manager->log(), keepaliveLine);
            while (keepalives.size() < n) {
                keepalives.push_back(secondsSince(lastAnswer));
            }
            if (a->log().find("server has disappeared, disconnecting!") != std::string::npos) {
                disappeared = secondsSince(lastAnswer);
            }
            return disappeared >= 0;
        },
        40000);
    ASSERT_GE(disappeared, 0) << a->log();

    // A: a keepalive every 10 s, given up 31 s after the last answer.
    ASSERT_EQ(3u, keepalives.size()) << m_manager->log();
    for (size_t i = 0; i < keepalives.size(); ++i) {
        EXPECT_GE(keepalives[i], 10.0 * static_cast<double>(i + 1) - 0.5) << i;
        EXPECT_LE(keepalives[i], 10.0 * static_cast<double>(i + 1) + 2.0) << i;
    }
    EXPECT_GE(disappeared, 30.5);
    EXPECT_LE(disappeared, 31.0 + 2.5);
    EXPECT_NE(std::string::npos,
              a->log().find("Error tesk2_client_check_keepalives: server has disappeared, "
                            "disconnecting!\n"));
    // B wakes up only after that: a key goes to whichever box has the focus.
    ASSERT_NO_FATAL_FAILURE(answerBox(*a, k_warningTitle, boxLine("Warning", k_restartWarning)));
    EXPECT_EQ(1u, count(a->log(), "Message box")) << a->log();
    ASSERT_TRUE(qele2e::waitUntil([&] { return secondsSince(stopped) > 31.5; }, 40000));
    ASSERT_EQ(0, kill(b->pid(), SIGCONT));

    // B: the sleep warning, not the restart warning, then no data shown.
    ASSERT_NO_FATAL_FAILURE(answerBox(*b, k_warningTitle, boxLine("Warning", k_sleepWarning)));
    EXPECT_EQ(1u, count(b->log(), "Message box")) << b->log();
    EXPECT_TRUE(b->waitForLog("QelPanel::setOptionsState((nil),(nil))", k_quickMs)) << b->log();

    // Neither sends anything more: the manager hears nothing new from A.
    EXPECT_EQ(3u, count(m_manager->log(), client + ":")) << m_manager->log();
    expectResponsive(*a);
    EXPECT_TRUE(b->running());
}

TEST_F(PanelFaults, AManagerAnsweringNotConnectedIsGivenUpAfter31sAllTheSame) {
    startManager();
    auto panel = startPanel();
    ASSERT_TRUE(
        qele2e::waitUntil([&] { return count(m_manager->log(), " connected\n") == 1; }, k_windowMs))
        << panel->log();
    const auto lastAnswer = Clock::now();
    ASSERT_NO_FATAL_FAILURE(ctl({"notconnected", "on"}));
    ASSERT_NE(0u, qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs)) << panel->log();
    ASSERT_TRUE(panel->waitForLog("server has disappeared, disconnecting!", 40000)) << panel->log();
    const double disappeared = secondsSince(lastAnswer);
    EXPECT_GE(disappeared, 30.5);
    EXPECT_LE(disappeared, 31.0 + 2.5);
    // Every keepalive was answered, Not connected.
    EXPECT_EQ(3u, count(m_manager->log(), "KEEPALIVE answered Not connected (mode)"))
        << m_manager->log();
    ASSERT_NO_FATAL_FAILURE(
        answerBox(*panel, k_warningTitle, boxLine("Warning", k_restartWarning)));
    EXPECT_EQ(1u, count(panel->log(), "Message box")) << panel->log();
    expectResponsive(*panel);
}

// ---- a box held open ------------------------------------------------------------

// The user reads the system-error box for longer than the manager keeps a
// silent client. The panel stays connected all the same, takes what the
// manager changes meanwhile and shows it once the box is answered, clears
// the error then, and blames nothing on sleep.
TEST_F(PanelFaults, ASystemErrorBoxReadFor40sCostsNeitherTheConnectionNorTheNews) {
    startManager();
    auto panel = startPanel();
    ASSERT_NE(0u, qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs)) << panel->log();
    ASSERT_NO_FATAL_FAILURE(ctl({"error", "0x0201"}));
    const Window box = qele2e::waitForWindow(panel->pid(), k_systemErrorTitle, k_windowMs);
    ASSERT_NE(0u, box) << panel->log();
    const auto opened = Clock::now();

    // Halfway through, an application locks the configuration.
    std::this_thread::sleep_until(opened + k_longRead / 2);
    ASSERT_NO_FATAL_FAILURE(ctl({"lock", "2"}));
    EXPECT_TRUE(panel->waitForLog("Debug   Config lock flags: 0x0002\n", k_quickMs))
        << "the state was taken while the box was open";
    std::this_thread::sleep_until(opened + k_longRead);
    EXPECT_EQ(1u, managerClients()) << "the manager still knows the panel";
    EXPECT_EQ("0x0201", managerSystemError()) << "not cleared before the box is answered";

    ASSERT_TRUE(qele2e::pressReturn(box));
    EXPECT_TRUE(qele2e::waitUntil([&] { return managerSystemError() == "0x0000"; }, k_quickMs))
        << "CLEAR SYSTEM ERROR reached the manager";
    // The panel shows the locked state: a refresh follows the state's dump.
    const std::string lockLine = "Config lock flags: 0x0002";
    EXPECT_TRUE(qele2e::waitUntil(
        [&] {
            const std::string log = panel->log();
            const size_t taken = log.find(lockLine);
            return taken != std::string::npos &&
                   log.find("QelPanel::setOptionsState(", taken) != std::string::npos;
        },
        k_quickMs))
        << tail(panel->log());
    EXPECT_TRUE(qele2e::findWindows(panel->pid(), k_warningTitle).empty());
    EXPECT_EQ(1u, count(panel->log(), "Message box")) << tail(panel->log());
    EXPECT_EQ(std::string::npos, panel->log().find("server has disappeared"));
    EXPECT_EQ(1u, managerClients());
    expectResponsive(*panel);
    EXPECT_EQ(0, panel->stop(SIGTERM, k_exitMs)) << tail(panel->log());
}

// The same for the warning that follows the user's own change of the
// latency: the change is sent, and the connection outlives the reading.
TEST_F(PanelFaults, TheLatencyWarningReadFor40sCostsNothing) {
    startManager();
    auto panel = startPanel();
    const Window window = qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs);
    ASSERT_NE(0u, window) << panel->log();
    // The next latency in the list, picked from the open choice with the
    // mouse (keys might reach the choice before its list takes them).
    ASSERT_TRUE(clickAt(window, k_latencyX, k_latencyY));
    ASSERT_TRUE(qele2e::waitUntil(
        [&] { return qele2e::findWindows(panel->pid(), "^qel-panel$").size() == 2; }, k_quickMs))
        << "the choice's list did not open";
    ASSERT_TRUE(clickAt(window, k_latencyX, k_latencyY + k_listRow));
    const Window box = qele2e::waitForWindow(panel->pid(), k_warningTitle, k_windowMs);
    ASSERT_NE(0u, box) << tail(panel->log());
    const auto opened = Clock::now();
    EXPECT_NE(std::string::npos,
              panel->log().find("Message box \"Warning\": You have changed the latency setting"));
    EXPECT_TRUE(qele2e::waitUntil(
        [&] { return m_manager->log().find("SET CONFIG applied") != std::string::npos; },
        k_quickMs))
        << "sent before the warning";

    std::this_thread::sleep_until(opened + k_longRead);
    EXPECT_EQ(1u, managerClients()) << "the manager still knows the panel";
    ASSERT_TRUE(qele2e::pressReturn(box));
    EXPECT_TRUE(qele2e::waitUntil(
        [&] { return qele2e::findWindows(panel->pid(), k_warningTitle).empty(); }, k_quickMs));
    expectResponsive(*panel);
    EXPECT_EQ(1u, count(panel->log(), "Message box")) << tail(panel->log());
    EXPECT_EQ(0, panel->stop(SIGTERM, k_exitMs)) << tail(panel->log());
}

// ---- start-up that does not finish -----------------------------------------------

enum class StartUpFault { refused, noOptions, noState };

struct StartUpCase {
    const char* name;
    StartUpFault fault;
    const char* text; // of the error box
};

void PrintTo(const StartUpCase& c, std::ostream* out) {
    *out << c.name;
}

class PanelStartUp : public PanelFaults, public ::testing::WithParamInterface<StartUpCase> {};

TEST_P(PanelStartUp, ShowsItsErrorBoxAndEnds) {
    const StartUpCase& c = GetParam();
    std::unique_ptr<FakeManager> fake;
    if (c.fault == StartUpFault::refused) {
        startManager();
        ASSERT_NO_FATAL_FAILURE(ctl({"refuse", "on"}));
    } else {
        fake = std::make_unique<FakeManager>();
        ASSERT_TRUE(fake->isOpen());
    }
    auto panel = startPanel();
    if (fake) {
        ASSERT_TRUE(fake->acceptConnect(c.fault == StartUpFault::noState, false)) << panel->log();
    }
    ASSERT_NO_FATAL_FAILURE(
        answerBox(*panel, k_errorTitle, boxLine("Error", c.text), 5500 + k_windowMs));
    EXPECT_NE(std::string::npos,
              panel->log().find(std::string("Error QelGui::OnInit: ") + c.text + "\n"))
        << panel->log();
    EXPECT_TRUE(qele2e::findWindows(panel->pid(), k_mainTitle).empty());
    const int code = panel->waitExit(k_exitMs);
    EXPECT_NE(-1, code) << "still running";
    EXPECT_NE(0, code);
    EXPECT_EQ(1u, count(panel->log(), "Message box")) << panel->log();
    if (c.fault == StartUpFault::refused) {
        EXPECT_NE(std::string::npos, m_manager->log().find("refused: refusing connections"));
        EXPECT_EQ(std::string::npos, m_manager->log().find(" connected\n"));
        // The wait ended with the refusal, not at its time limit.
        EXPECT_NE(std::string::npos,
                  panel->log().find("QelClient::waitForConnection: the manager refused the "
                                    "connection\n"))
            << panel->log();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PanelStartUp,
    ::testing::Values(
        StartUpCase{"TooManyClients", StartUpFault::refused,
                    "Error waiting for connection response from manager: connection refused"},
        StartUpCase{"OptionsNeverCome", StartUpFault::noOptions,
                    "Error waiting for options from manager: operation timed out"},
        StartUpCase{"StateNeverComes", StartUpFault::noState,
                    "Error waiting for state from manager: operation timed out"}),
    [](const ::testing::TestParamInfo<StartUpCase>& c) { return c.param.name; });

// ---- against a manager stand-in the test drives ------------------------------------

class PanelAgainstFake : public PanelFaults {
protected:
    void startConnected() {
        m_fake = std::make_unique<FakeManager>();
        ASSERT_TRUE(m_fake->isOpen());
        m_panel = startPanel();
        ASSERT_TRUE(m_fake->acceptConnect(true, true)) << m_panel->log();
        m_window = qele2e::waitForWindow(m_panel->pid(), k_mainTitle, k_windowMs);
        ASSERT_NE(0u, m_window) << m_panel->log();
        m_state = qeltest::sampleState();
        m_options = qeltest::sampleOptions();
    }

    // Sends a valid state with the address 10.a.b.c and waits until the panel
    // has taken it.
    void sendMarker(uint8_t a, uint8_t b, uint8_t c) {
        setAddress(m_state, 10, a, b, c);
        m_fake->peer().sendBytes(m_fake->stateEvent(m_state));
        ASSERT_TRUE(m_panel->waitForLog(addressLine(m_state.ip_address), k_quickMs))
            << tail(m_panel->log());
    }

    // A click on the power button still reaches the manager as SET CONFIG,
    // which is answered.
    void expectPowerClickSent() {
        ASSERT_TRUE(clickAt(m_window, k_powerX, k_powerY));
        Datagram request;
        ASSERT_TRUE(m_fake->expect(QEL_OPCODE_SET_CONFIG, request, k_quickMs))
            << tail(m_panel->log());
        m_fake->answerWithState(request, m_state);
    }

    std::unique_ptr<FakeManager> m_fake;
    std::unique_ptr<PanelProcess> m_panel;
    Window m_window = 0;
    qel_state m_state{};
    qel_options m_options{};
};

TEST_F(PanelAgainstFake, ASystemErrorWhileASetConfigIsPendingIsClearedOnlyAfterTheAnswer) {
    ASSERT_NO_FATAL_FAILURE(startConnected());
    ASSERT_TRUE(clickAt(m_window, k_powerX, k_powerY));
    Datagram setConfig;
    ASSERT_TRUE(m_fake->expect(QEL_OPCODE_SET_CONFIG, setConfig, k_quickMs)) << m_panel->log();

    // Its answer is held back while the error comes.
    m_state.system_error = QEL_SYSTEM_ERROR_DRIVER_MISSING;
    m_fake->peer().sendBytes(m_fake->stateEvent(m_state));
    const std::string text = std::string(qel_system_error_text(QEL_SYSTEM_ERROR_DRIVER_MISSING)) +
                             " (" + std::to_string(QEL_SYSTEM_ERROR_DRIVER_MISSING) + ")";
    ASSERT_NO_FATAL_FAILURE(answerBox(*m_panel, k_systemErrorTitle, boxLine("QEL Error", text)));
    Datagram early;
    EXPECT_FALSE(m_fake->peer().receive(early, 1000))
        << "sent while SET CONFIG was pending: opcode 0x" << std::hex << early.opcode;

    // The answer ends the wait; the clear follows at once.
    m_fake->answerWithState(setConfig, m_state);
    Datagram clear;
    ASSERT_TRUE(m_fake->expect(QEL_OPCODE_CLEAR_SYSTEM_ERROR, clear, k_quickMs)) << m_panel->log();
    EXPECT_EQ(TESK2_HEADER_SIZE, clear.bytes.size()) << "no body";
    EXPECT_EQ(setConfig.seqnum + 1, clear.seqnum);
    m_state.system_error = 0;
    m_fake->answerWithState(clear, m_state);
    EXPECT_TRUE(m_fake->other().empty());

    EXPECT_EQ(1u, count(m_panel->log(), "Message box")) << m_panel->log();
    EXPECT_TRUE(qele2e::findWindows(m_panel->pid(), k_systemErrorTitle).empty());
    ASSERT_NO_FATAL_FAILURE(sendMarker(5, 0, 1));
    expectResponsive(*m_panel);
}

// The panel is closed while the manager has not answered its change yet: the
// DISCONNECT goes out all the same, so that the manager frees the panel's
// place at once instead of after 31 s.
TEST_F(PanelAgainstFake, ClosingWhileAnAnswerIsOutstandingStillDisconnects) {
    ASSERT_NO_FATAL_FAILURE(startConnected());
    ASSERT_TRUE(clickAt(m_window, k_powerX, k_powerY));
    Datagram setConfig;
    ASSERT_TRUE(m_fake->expect(QEL_OPCODE_SET_CONFIG, setConfig, k_quickMs)) << m_panel->log();
    ASSERT_EQ(0, kill(m_panel->pid(), SIGTERM));
    Datagram disconnect;
    EXPECT_TRUE(m_fake->expect(TESK2_OPCODE_DISCONNECT, disconnect, k_exitMs))
        << tail(m_panel->log());
    EXPECT_EQ(setConfig.seqnum + 1, disconnect.seqnum);
    EXPECT_EQ(0, m_panel->waitExit(k_exitMs)) << tail(m_panel->log());
    EXPECT_TRUE(m_fake->other().empty());
}

// Datagram surgery on a valid message: header fields and body bytes by offset.
void putU16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
}
uint16_t getU16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}
// Body offset of slot `index` of the root structure.
size_t rootSlot(uint16_t index) {
    return TESK2_HEADER_SIZE + 2 + 2u * index;
}
void setLength(std::vector<uint8_t>& bytes) {
    putU16(bytes, TESK2_OFFSET_LENGTH, static_cast<uint16_t>(bytes.size()));
}

struct Malformed {
    const char* what;
    std::function<std::vector<uint8_t>(FakeManager&)> make;
    const char* logged; // what the panel logs when it drops it
};

std::vector<Malformed> malformedDatagrams() {
    const qel_state state = qeltest::sampleState();
    const qel_options options = qeltest::sampleOptions();
    return {
        {"empty", [](FakeManager&) { return std::vector<uint8_t>(); },
         "message too small (0 < 20)"},
        {"shorter than a header", [](FakeManager&) { return std::vector<uint8_t>(10, 0x10); },
         "message too small (10 < 20)"},
        {"length field too large",
         [state](FakeManager& f) {
             std::vector<uint8_t> b = f.stateEvent(state);
             putU16(b, TESK2_OFFSET_LENGTH, static_cast<uint16_t>(b.size() + 4));
             return b;
         },
         "invalid size in message"},
        {"length field too small",
         [state](FakeManager& f) {
             std::vector<uint8_t> b = f.stateEvent(state);
             putU16(b, TESK2_OFFSET_LENGTH, static_cast<uint16_t>(b.size() - 2));
             return b;
         },
         "invalid size in message"},
        {"larger than a datagram may be",
         [state](FakeManager& f) {
             std::vector<uint8_t> b = f.stateEvent(state);
             b.resize(2000, 0x41);
             setLength(b);
             return b;
         },
         "error recving: "},
        {"no body",
         [state](FakeManager& f) {
             std::vector<uint8_t> b = f.stateEvent(state);
             b.resize(TESK2_HEADER_SIZE);
             setLength(b);
             return b;
         },
         "Error reading state: "},
        {"truncated",
         [state](FakeManager& f) {
             std::vector<uint8_t> b = f.stateEvent(state);
             b.resize(TESK2_HEADER_SIZE + (b.size() - TESK2_HEADER_SIZE) / 2);
             setLength(b);
             return b;
         },
         "Error reading state: "},
        {"odd offset",
         [state](FakeManager& f) {
             std::vector<uint8_t> b = f.stateEvent(state);
             putU16(b, rootSlot(0), static_cast<uint16_t>(getU16(b, rootSlot(0)) | 1));
             return b;
         },
         "Error reading state: "},
        {"offset past the end",
         [state](FakeManager& f) {
             std::vector<uint8_t> b = f.stateEvent(state);
             putU16(b, rootSlot(5), 0xfff0);
             return b;
         },
         "Error reading state: "},
        {"too few slots",
         [state](FakeManager& f) {
             std::vector<uint8_t> b = f.stateEvent(state);
             putU16(b, TESK2_HEADER_SIZE, 2);
             return b;
         },
         "Error reading state: "},
        {"1000 list entries",
         [options](FakeManager& f) {
             std::vector<uint8_t> b = f.optionsEvent(options);
             putU16(b, TESK2_HEADER_SIZE + getU16(b, rootSlot(0)), 1000);
             return b;
         },
         "Error reading options: "},
        {"a response nobody asked for",
         [state](FakeManager& f) {
             std::vector<uint8_t> b = f.stateEvent(state);
             putU16(b, TESK2_OFFSET_STATUS, TESK2_STATUS_RESPONSE);
             putU16(b, TESK2_OFFSET_SEQNUM, 0x7777);
             return b;
         },
         "No active request for non-event message with seqnum 0x7777: ignoring message"},
    };
}

// Malformed datagrams of every kind between valid states: each is logged and
// dropped, the next valid state is taken, and the user is still served.
TEST_F(PanelAgainstFake, DropsEveryMalformedDatagramAndKeepsTheLastValidState) {
    ASSERT_NO_FATAL_FAILURE(startConnected());
    const std::vector<Malformed> cases = malformedDatagrams();
    size_t taken = count(m_panel->log(), "state is:");
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        const size_t before = count(m_panel->log(), cases[i].logged);
        m_fake->peer().sendBytes(cases[i].make(*m_fake));
        ASSERT_NO_FATAL_FAILURE(sendMarker(7, 0, static_cast<uint8_t>(i + 1)));
        ++taken;
        EXPECT_EQ(before + 1, count(m_panel->log(), cases[i].logged)) << tail(m_panel->log());
        EXPECT_EQ(taken, count(m_panel->log(), "state is:")) << "a broken state was taken";
        EXPECT_TRUE(m_panel->running());
    }
    EXPECT_EQ(1u, count(m_panel->log(), "options are:")) << "broken options were taken";

    // Names that run to the end of the datagram end there: each is cut to
    // its field, and the state is taken.
    std::vector<uint8_t> endless = m_fake->stateEvent(m_state);
    endless.resize((endless.size() + 3) / 4 * 4, 0);
    putU16(endless, rootSlot(5), static_cast<uint16_t>(endless.size() - TESK2_HEADER_SIZE));
    endless.resize(TESK2_DATAGRAM_MAX, 'Q');
    setLength(endless);
    m_fake->peer().sendBytes(endless);
    EXPECT_TRUE(m_panel->waitForLog(
        "Debug   Device Name: " + std::string(QEL_DEVICE_NAME_SIZE - 1, 'Q') + "\n", k_quickMs))
        << tail(m_panel->log());
    std::vector<uint8_t> endlessWide = m_fake->stateEvent(m_state);
    endlessWide.resize((endlessWide.size() + 3) / 4 * 4, 0);
    const size_t extra = TESK2_HEADER_SIZE + getU16(endlessWide, rootSlot(7));
    putU16(endlessWide, extra + 2, static_cast<uint16_t>(endlessWide.size() - TESK2_HEADER_SIZE));
    while (endlessWide.size() + 4 <= TESK2_DATAGRAM_MAX) {
        endlessWide.insert(endlessWide.end(), {0, 0, 0, 'W'});
    }
    setLength(endlessWide);
    m_fake->peer().sendBytes(endlessWide);
    EXPECT_TRUE(m_panel->waitForLog(
        "Debug   DLL Process Name: " + std::string(QEL_DLL_PROCESS_NAME_SIZE - 1, 'W') + "\n",
        k_quickMs))
        << tail(m_panel->log());

    ASSERT_NO_FATAL_FAILURE(sendMarker(7, 1, 0));
    EXPECT_EQ(0u, count(m_panel->log(), "Message box")) << m_panel->log();
    ASSERT_NO_FATAL_FAILURE(expectPowerClickSent());
    expectResponsive(*m_panel);
}

// Records that decode but make little sense (choices the options do not
// offer, empty or full option lists) are shown as they are and harm nothing:
// the panel goes on taking states and serving the user.
TEST_F(PanelAgainstFake, TakesOddButWellFormedRecordsWithoutHarm) {
    ASSERT_NO_FATAL_FAILURE(startConnected());
    const qel_state valid = qeltest::sampleState();
    std::vector<std::pair<const char*, std::function<void(qel_options&, qel_state&)>>> odd = {
        {"a latency not offered",
         [](qel_options&, qel_state& s) {
             std::snprintf(s.config.latency, sizeof s.config.latency, "%s", "Nowhere");
         }},
        {"a sample rate not offered",
         [](qel_options&, qel_state& s) { s.config.sample_rate_hz = 12345; }},
        {"no channels", [](qel_options&, qel_state& s) { s.config.channels = 0; }},
        {"an interface not offered",
         [](qel_options&, qel_state& s) {
             std::memset(s.config.interface.mac, 0x77, QEL_MAC_SIZE);
         }},
        {"an unknown audio interface",
         [](qel_options&, qel_state& s) { s.config.audio_interface = 9; }},
        {"locked", [](qel_options&, qel_state& s) { s.config_lock_flags = 0xffff; }},
        {"empty options", [](qel_options& o, qel_state&) { std::memset(&o, 0, sizeof o); }},
        {"full options",
         [](qel_options& o, qel_state&) {
             o.channel_counts.count = QEL_OPTIONS_LIST_MAX;
             o.latencies.count = QEL_OPTIONS_LIST_MAX;
             for (size_t i = 0; i < QEL_OPTIONS_LIST_MAX; ++i) {
                 o.channel_counts.entries[i] = static_cast<uint16_t>(100 + i);
                 std::memset(o.latencies.entries[i].name, 'a' + static_cast<int>(i),
                             QEL_LATENCY_NAME_SIZE - 1);
                 o.latencies.entries[i].name[QEL_LATENCY_NAME_SIZE - 1] = '\0';
                 o.latencies.entries[i].latency_us = static_cast<uint32_t>(1000 + i);
             }
         }},
    };
    size_t options = count(m_panel->log(), "options are:");
    for (size_t i = 0; i < odd.size(); ++i) {
        SCOPED_TRACE(odd[i].first);
        qel_options o = qeltest::sampleOptions();
        m_state = valid;
        odd[i].second(o, m_state);
        if (!qel_options_equal(&o, &m_options)) {
            m_options = o;
            m_fake->peer().sendBytes(m_fake->optionsEvent(o));
            ++options;
        }
        ASSERT_NO_FATAL_FAILURE(sendMarker(6, 0, static_cast<uint8_t>(i + 1)));
        EXPECT_EQ(options, count(m_panel->log(), "options are:"));
        EXPECT_TRUE(m_panel->running());
    }
    // Back to sense: the user is served as before.
    m_options = qeltest::sampleOptions();
    m_fake->peer().sendBytes(m_fake->optionsEvent(m_options));
    m_state = valid;
    ASSERT_NO_FATAL_FAILURE(sendMarker(6, 1, 0));
    EXPECT_EQ(0u, count(m_panel->log(), "Message box")) << m_panel->log();
    ASSERT_NO_FATAL_FAILURE(expectPowerClickSent());
    expectResponsive(*m_panel);
}

// Datagrams to the panel's port from anywhere but the manager never reach it:
// its socket is connected to the manager.
TEST_F(PanelAgainstFake, NeverProcessesDatagramsFromAnotherAddress) {
    ASSERT_NO_FATAL_FAILURE(startConnected());
    qel_state foreign = qeltest::sampleState();
    setAddress(foreign, 10, 8, 8, 8);
    const std::vector<uint8_t> datagram = m_fake->stateEvent(foreign);
    sockaddr_in panel{};
    panel.sin_family = AF_INET;
    panel.sin_port = htons(m_fake->panelPort());
    panel.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const char* source : {"127.0.0.2", "127.0.0.1"}) {
        SCOPED_TRACE(source);
        const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(sock, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ASSERT_EQ(1, inet_pton(AF_INET, source, &local.sin_addr));
        ASSERT_EQ(0, bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof local));
        EXPECT_EQ(static_cast<ssize_t>(datagram.size()),
                  sendto(sock, datagram.data(), datagram.size(), 0,
                         reinterpret_cast<const sockaddr*>(&panel), sizeof panel));
        close(sock);
    }
    // The manager's own state sent after them is taken; theirs never was.
    ASSERT_NO_FATAL_FAILURE(sendMarker(8, 0, 1));
    EXPECT_EQ(0u, count(m_panel->log(), addressLine(foreign.ip_address))) << m_panel->log();
    EXPECT_EQ(2u, count(m_panel->log(), "state is:"));
    ASSERT_NO_FATAL_FAILURE(expectPowerClickSent());
}

// ---- a flood of events ---------------------------------------------------------------

// The address lines of the log from `from` on.
std::vector<std::string> addressesIn(const std::string& log, size_t from = 0) {
    std::vector<std::string> out;
    const std::string key = "Debug   Ip Address: ";
    for (size_t at = log.find(key, from); at != std::string::npos; at = log.find(key, at + 1)) {
        const size_t start = at + key.size();
        out.push_back(log.substr(start, log.find('\n', start) - start));
    }
    return out;
}

uint32_t burstNumber(const std::string& address) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(address.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4 || a != 10) {
        return 0;
    }
    return b << 16 | c << 8 | d;
}

// The part of a file from `offset` on.
std::string readFrom(const std::string& path, size_t offset) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Clicks the power button and waits until the panel's log shows that its GUI
// thread handled the click (it sends SET CONFIG at once); seconds taken, or
// -1 when it did not within `timeoutMs`.
double clickPowerAndTime(Window window, const std::string& logPath, int timeoutMs) {
    const size_t from = std::filesystem::file_size(logPath);
    const auto click = Clock::now();
    if (!clickAt(window, k_powerX, k_powerY)) {
        return -1;
    }
    const bool handled = qele2e::waitUntil(
        [&] {
            return readFrom(logPath, from).find("Sending SET CONFIG request with config:") !=
                   std::string::npos;
        },
        timeoutMs);
    return handled ? secondsSince(click) : -1;
}

class PanelFlood : public PanelFaults {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PanelFaults::SetUp());
        startManager();
        m_panel = startPanel();
        m_window = qele2e::waitForWindow(m_panel->pid(), k_mainTitle, k_windowMs);
        ASSERT_NE(0u, m_window) << m_panel->log();
        m_logPath = m_dir.file("panel.log");
    }

    // `ctl burst 100000`; once the flood has reached the panel, the user
    // clicks the power button. Sets m_click (seconds until the GUI thread
    // handled it, -1: not within 5 s, or 25 s in a sanitizer build).
    void floodAndClick() {
        const size_t start = std::filesystem::file_size(m_logPath);
        qeltest::ProgramRun burst;
        // The command ends once the manager has sent every event, which a
        // loaded machine or a sanitizer build may take long for: its end is
        // awaited, not timed.
        std::thread manager([&] { burst = m_manager->ctl({"burst", "100000"}, "", 90000); });
        const bool flooding = qele2e::waitUntil(
            [&] { return std::filesystem::file_size(m_logPath) > start + 100000; }, k_quickMs);
        m_click = clickPowerAndTime(m_window, m_logPath, 5000 * qele2e::k_slowdown);
        manager.join();
        ASSERT_TRUE(flooding);
        ASSERT_EQ(0, burst.exitCode) << burst.err;
        EXPECT_NE(std::string::npos,
                  burst.out.find("100000 state events to each of 1 clients, the last with "
                                 "address 10.1.134.160"))
            << burst.out;
    }

    // Waits until the log has not grown for a second.
    bool waitForQuiet(long& peakKiB) {
        size_t size = 0;
        auto still = Clock::now();
        return qele2e::waitUntil(
            [&] {
                peakKiB = std::max(peakKiB, residentKiB(m_panel->pid()));
                const size_t now = std::filesystem::file_size(m_logPath);
                if (now != size) {
                    size = now;
                    still = Clock::now();
                }
                return secondsSince(still) > 1.0;
            },
            90000);
    }

    std::unique_ptr<PanelProcess> m_panel;
    Window m_window = 0;
    std::string m_logPath;
    double m_click = -1;
};

TEST_F(PanelFlood, LeavesThePanelServingAndTheLastStateShown) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long before = residentKiB(m_panel->pid());
    const size_t logStart = m_panel->log().size();
    const auto start = Clock::now();
    ASSERT_NO_FATAL_FAILURE(floodAndClick());
    EXPECT_GE(m_click, 0) << "the click was never handled";
    long peak = before;
    ASSERT_TRUE(waitForQuiet(peak));
    const double flood = secondsSince(start);

    // Every state taken was complete and in order; the answer to the click
    // carries the state in force among them.
    const std::string log = m_panel->log();
    uint32_t last = 0;
    size_t taken = 0;
    for (const std::string& address : addressesIn(log, logStart)) {
        const uint32_t n = burstNumber(address);
        if (n != 0) {
            ASSERT_GT(n, last) << "out of order: " << address;
            last = n;
            ++taken;
        }
    }
    EXPECT_GT(taken, 0u);
    EXPECT_EQ(taken, count(log.substr(logStart), "state is:"));
    std::printf("flood: %zu of 100000 events taken, the last 10.%u.%u.%u, a click handled after "
                "%.3f s, the flood over after %.2f s, resident %ld KiB before, %ld at the peak\n",
                taken, last >> 16, last >> 8 & 0xff, last & 0xff, m_click, flood, before, peak);

    // The next change is taken at once and is what the panel shows.
    ASSERT_NO_FATAL_FAILURE(ctl({"link", "down"}));
    ASSERT_TRUE(qele2e::waitUntil(
        [&] {
            return m_panel->log().find("Debug   Link up: Down\n", log.size()) != std::string::npos;
        },
        k_quickMs));
    EXPECT_EQ(0u, count(log, "Message box"));
    const long after = residentKiB(m_panel->pid());
    std::printf("resident after the flood: %ld KiB\n", after);
    if (!k_addressSanitizer) {
        EXPECT_LT(after, before + 16 * 1024) << "peak " << peak;
    }
    expectResponsive(*m_panel);
    // It ends in order; a leak would be reported in its log (checked at the
    // end of every test).
    EXPECT_EQ(0, m_panel->stop(SIGTERM, k_windowMs)) << tail(m_panel->log());
}

TEST_F(PanelFlood, HandlesAClickWithin100msDuringTheFlood) {
    if (k_addressSanitizer) {
        GTEST_SKIP() << "a time limit says nothing under the sanitizers' instrumentation";
    }
    // Beside the time the same click takes without a flood, which includes
    // the tools' own delays.
    const double quiet = clickPowerAndTime(m_window, m_logPath, 5000);
    ASSERT_GE(quiet, 0);
    ASSERT_NO_FATAL_FAILURE(floodAndClick());
    ASSERT_GE(m_click, 0);
    EXPECT_LT(m_click, quiet + 0.1) << "without a flood: " << quiet << " s";
}

} // namespace
