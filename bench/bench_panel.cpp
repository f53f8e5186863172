// The control panel's reaction times, measured in one process on the X
// display with the real windows, client and client thread against a
// qel-manager program on a free port (fixed interface list, scratch files).
//
//   click: from a simulated mouse click on the power button (press and
//          release sent through the X server's XTEST extension, so that it
//          comes as a person's click comes) to the moment the panel has
//          refreshed its controls with the manager's answer, which carries
//          the new wish to run. The panel's listener refresh is followed by
//          a listener of this program, which takes the time. Clicks follow
//          each other 30 ms after the last answer, so every click finds the
//          client thread waiting on its socket.
//   burst: `qel-manager ctl burst N` sends N state events as fast as it can;
//          counted are the states the panel refreshed with, the processing
//          events its window handled and the most that ever waited behind
//          one, the resident memory before and after, and whether the last
//          address (10.x.y.z with x.y.z = N) is what the panel shows.
//
//   bench_panel [--clicks N] [--burst N] [--state-in-memory]
//
// Each click's latency is split at three points: the request sent (the
// panel's button handler let the click pass on), the client thread's
// processing event posted, and that event taken up by the GUI thread; the
// median and the 99th percentile of each part are printed as "median/p99".
// "own_us" is the panel's own share of each click: the click to the request
// sent plus the answer's arrival to the window refreshed (the client thread
// posts as soon as its wait returns with the answer), without the manager's
// work and the kernel's wake-up of the client thread in between.
// "released_us": the click to the toolkit's delivery of the button's release
// to the power button, the part of "sent_us" before the panel's handler.
//
// Like the panel, the manager client logs at Debug to standard error, which
// the caller sends to a file. The results go to standard output, one line
// per measurement of "key=value" pairs. The manager saves every new
// configuration to its state file before it answers; --state-in-memory puts
// that file on /dev/shm, so that flushing it to disk costs nothing. Exit
// status 0 when every measurement ran, 1 otherwise.
#include "QelAsioFactory.h"
#include "QelClient.h"
#include "QelClientListener.h"
#include "QelClientThread.h"
#include "QelFrame.h"
#include "QelImageManager.h"
#include "QelMessageBox.h"
#include "QelState.h"

#include "kes_env.h"
#include "kes_log.h"
#include "manager_process.h"
#include "qel_client.h"

#include <wx/app.h>
#include <wx/bmpbuttn.h>
#include <wx/image.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifndef QEL_BENCH_BIN_DIR
#error "QEL_BENCH_BIN_DIR must name the directory of the programs and their pictures"
#endif

namespace {

using Clock = std::chrono::steady_clock;

double microsecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when missing.
long statusKib(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return -1;
}

// The value at fraction `q` of the sorted samples (nearest rank).
double quantile(std::vector<double> samples, double q) {
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(q * static_cast<double>(samples.size()) + 0.999999);
    rank = std::min(std::max<size_t>(rank, 1), samples.size());
    return samples[rank - 1];
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

// Whether `window` or a window inside it is a text showing `label`.
bool showsText(wxWindow* window, const wxString& label) {
    if (wxStaticText* text = dynamic_cast<wxStaticText*>(window)) {
        if (text->GetLabel() == label) {
            return true;
        }
    }
    for (wxWindow* child : window->GetChildren()) {
        if (showsText(child, label)) {
            return true;
        }
    }
    return false;
}

// Moves the pointer and presses its first button through the X server, on a
// connection of its own, as a person's mouse does. Nothing waits: the
// requests are flushed and the GUI thread goes back to its event loop.
class Pointer {
public:
    Pointer() : m_display(XOpenDisplay(nullptr)) {}
    ~Pointer() {
        if (m_display != nullptr) {
            XCloseDisplay(m_display);
        }
    }
    Pointer(const Pointer&) = delete;
    Pointer& operator=(const Pointer&) = delete;

    bool isOpen() const {
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        return m_display != nullptr &&
               XTestQueryExtension(m_display, &event, &error, &major, &minor) != 0;
    }
    void moveTo(int x, int y) {
        XTestFakeMotionEvent(m_display, -1, x, y, CurrentTime);
        XFlush(m_display);
    }
    void click() {
        XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
        XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
        XFlush(m_display);
    }

private:
    Display* m_display;
};

// The application's client, with the manager on any port.
class BenchClient : public QelClient {
public:
    BenchClient(QelFactory* factory, uint16_t port) : QelClient(factory), m_port(port) {}
    kes_result initManagerClient(kes_env* env, qel_client** client) override {
        return qel_client_new_on_port(env, m_port, client);
    }

private:
    uint16_t m_port;
};

// The main window, counting the client thread's processing events and how
// many events still wait in its queue when one is handled, and noting when
// the last one was posted (on the client thread) and taken up.
class BenchFrame : public QelFrame {
public:
    using QelFrame::QelFrame;

    void QueueEvent(wxEvent* event) override {
        m_posted = Clock::now().time_since_epoch().count();
        m_guiCpuAtPost = guiThreadCpuUs();
        QelFrame::QueueEvent(event);
    }
    Clock::time_point lastPosted() const {
        return Clock::time_point(Clock::duration(m_posted.load()));
    }
    // The GUI thread's CPU time, in microseconds, readable from any thread.
    double guiThreadCpuUs() const {
        timespec t{};
        clock_gettime(m_guiClock, &t);
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
    }
    // The GUI thread's CPU time when the last event was posted.
    double guiCpuAtPost() const { return m_guiCpuAtPost.load(); }

    void OnClientThread(wxThreadEvent& event) override {
        size_t waiting = 0;
        {
            wxCriticalSectionLocker lock(m_pendingEventsLock);
            waiting = m_pendingEvents != nullptr ? m_pendingEvents->GetCount() : 0;
        }
        maxWaiting = std::max(maxWaiting, waiting);

        ++handled;
        lastHandled = Clock::now();
        lastHandledCpu = guiThreadCpuUs();
        QelFrame::OnClientThread(event);
    }

    size_t handled = 0;
    size_t maxWaiting = 0;
    Clock::time_point lastHandled; // when the last one was taken up
    double lastHandledCpu = 0;     // the GUI thread's CPU time then

private:
    std::atomic<Clock::rep> m_posted{0};
    std::atomic<double> m_guiCpuAtPost{0};
    clockid_t m_guiClock = guiClock();

    // Made on the GUI thread, with the window.
    static clockid_t guiClock() {
        clockid_t clock = CLOCK_THREAD_CPUTIME_ID;
        pthread_getcpuclockid(pthread_self(), &clock);
        return clock;
    }
};

class BenchApp : public wxApp, public QelClientListener {
public:
    bool OnInit() override;
    // The main loop, then the manager is stopped; 0 when every measurement
    // ran and the manager ended cleanly.
    int OnRun() override;
    int OnExit() override;

    // Told after the panel, which listens first.
    void onClientEvent(int code) override;

private:
    bool setUp();
    void click();
    void onTimer(wxTimerEvent& event);
    void startBurst();
    void finishBurst();
    void finish(bool ok);
    const qel_state* state() const;

    enum class Phase { Settling, Clicking, Bursting, Done };

    int m_clicks = 200;
    unsigned long m_burst = 10000;
    bool m_stateInMemory = false;

    kes_env* m_env = nullptr;
    std::unique_ptr<qeltest::ScratchDir> m_dir;
    std::unique_ptr<qeltest::ManagerProcess> m_manager;
    std::string m_memoryState;
    QelAsioFactory m_factory;
    std::unique_ptr<QelImageManager> m_images;
    std::unique_ptr<BenchClient> m_client;
    BenchFrame* m_frame = nullptr;
    wxBitmapButton* m_power = nullptr;
    Pointer m_pointer;
    wxTimer m_timer;
    Phase m_phase = Phase::Settling;
    std::vector<std::string> m_boxes;

    // Clicking.
    bool m_waiting = false;
    uint32_t m_expected = 0;
    Clock::time_point m_clickStart;
    Clock::time_point m_sent; // the panel's button handler has sent
    // The toolkit delivers the release of the button to the window: what
    // lies before it is the X server's and the toolkit's, what follows up
    // to m_sent the panel's handler.
    Clock::time_point m_released;
    std::vector<double> m_toReleased;
    std::vector<double> m_latencies;
    // The parts of each latency: to the request sent; to the processing
    // event posted (the manager's answer, the client thread's wake-up); to
    // the event taken up (the GUI thread's wake-up); to the refresh done.
    std::vector<double> m_toSent;
    std::vector<double> m_toPosted;
    std::vector<double> m_toTakenUp;
    std::vector<double> m_toShown;
    std::vector<double> m_own; // click to sent, plus posted to shown
    double m_takenUpCpu = 0;   // of the last click

    // Bursting.
    std::thread m_ctl;
    std::atomic<bool> m_ctlDone{false};
    std::string m_ctlOut;
    Clock::time_point m_burstStart;
    Clock::time_point m_lastRefresh;
    Clock::time_point m_ctlEnd;
    bool m_ctlEndSeen = false;
    size_t m_burstStates = 0;
    size_t m_handledBefore = 0;
    long m_rssBefore = -1;
    bool m_ok = true;
};

bool BenchApp::OnInit() {
    for (int i = 1; i < argc; ++i) {
        const wxString arg = argv[i];
        if (arg == wxT("--clicks") && i + 1 < argc) {
            m_clicks = std::atoi(argv[++i].utf8_str());
        } else if (arg == wxT("--burst") && i + 1 < argc) {
            m_burst = std::strtoul(argv[++i].utf8_str(), nullptr, 10);
        } else if (arg == wxT("--state-in-memory")) {
            m_stateInMemory = true;
        } else {
            std::fputs("usage: bench_panel [--clicks N] [--burst N] [--state-in-memory]\n", stderr);
            return false;
        }
    }
    if (m_clicks < 1 || m_clicks > 100000 || m_burst < 1 || m_burst > 1000000) {
        std::fputs("bench_panel: --clicks 1..100000, --burst 1..1000000\n", stderr);
        return false;
    }
    // A box would wait for a person: each one is noted and ends the run.
    qelSetMessageBoxHook([this](long, const wxString& text, const wxString&) {
        m_boxes.push_back(text.utf8_string());
        return static_cast<int>(wxID_OK);
    });
    if (!setUp()) {
        return false;
    }
    if (!m_pointer.isOpen()) {
        std::fputs("bench_panel: no X display with the XTEST extension\n", stderr);
        return false;
    }
    m_timer.SetOwner(this);
    Bind(wxEVT_TIMER, &BenchApp::onTimer, this);
    // Time for the window to come up and the pointer to reach the button.
    m_timer.StartOnce(500);
    return true;
}

// As the application starts the panel, with a client for the manager's port.
bool BenchApp::setUp() {
    if (kes_env_acquire(&m_env) != KES_SUCCESS) {
        return false;
    }
    kes_log_set_threshold(m_env->log, KES_LOG_STDERR, KES_LOG_DEBUG);
    wxInitAllImageHandlers();

    m_dir = std::make_unique<qeltest::ScratchDir>();
    std::vector<std::string> extra;
    if (m_stateInMemory) {
        m_memoryState = "/dev/shm/qel-bench-panel-" + std::to_string(getpid()) + ".json";
        extra = {"--state", m_memoryState};
    }
    m_manager = std::make_unique<qeltest::ManagerProcess>(*m_dir, extra);
    if (!m_manager->waitReady()) {
        std::fputs("bench_panel: qel-manager did not start\n", stderr);
        return false;
    }

    // The layout opens its pictures relative to the program's directory.
    if (!wxSetWorkingDirectory(wxString::FromUTF8(QEL_BENCH_BIN_DIR))) {
        return false;
    }
    wxArrayString paths;
    paths.Add(wxString::FromUTF8(QEL_BENCH_BIN_DIR "/"));
    paths.Add(wxString::FromUTF8(QEL_BENCH_BIN_DIR "/res/"));
    m_images = std::make_unique<QelImageManager>(&paths);

    m_client = std::make_unique<BenchClient>(&m_factory, m_manager->port());
    if (m_client->initManagerClient(m_env, m_client->getManagerClientAddress()) != KES_SUCCESS ||
        m_client->createModel() != KES_SUCCESS || m_client->connect() != KES_SUCCESS ||
        m_client->waitForConnection() != KES_SUCCESS || m_client->waitForOptions() != KES_SUCCESS ||
        m_client->waitForState() != KES_SUCCESS) {
        std::fputs("bench_panel: the client did not start\n", stderr);
        return false;
    }

    m_frame = new BenchFrame(&m_factory, m_images.get());
    m_client->startThread(m_frame);
    m_frame->setClient(m_client.get());
    m_frame->Show(true);
    SetTopWindow(m_frame);
    m_client->addListener(this);

    // The panel lets the click pass on once it has sent the configuration.
    m_frame->Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
        m_sent = Clock::now();
        event.Skip();
    });
    m_power = dynamic_cast<wxBitmapButton*>(wxWindow::FindWindowByName(wxT("Power"), m_frame));
    if (m_power == nullptr) {
        std::fputs("bench_panel: no power button\n", stderr);
        return false;
    }
    m_power->Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& event) {
        m_released = Clock::now();
        event.Skip();
    });
    return true;
}

const qel_state* BenchApp::state() const {
    const QelState* state = m_client->getState();
    return state != nullptr ? state->getRecord() : nullptr;
}

void BenchApp::onTimer(wxTimerEvent&) {
    switch (m_phase) {
    case Phase::Settling: {
        const wxRect button = m_power->GetScreenRect();
        m_pointer.moveTo(button.GetLeft() + button.GetWidth() / 2,
                         button.GetTop() + button.GetHeight() / 2);
        m_phase = Phase::Clicking;
        m_timer.StartOnce(200);
        break;
    }
    case Phase::Clicking:
        if (m_waiting) {
            std::fprintf(stderr, "bench_panel: click %zu was not answered within 2 s\n",
                         m_latencies.size() + 1);
            finish(false);
        } else if (m_latencies.size() < static_cast<size_t>(m_clicks)) {
            click();
        } else {
            startBurst();
        }
        break;
    case Phase::Bursting:
        finishBurst();
        break;
    case Phase::Done:
        break;
    }
}

void BenchApp::click() {
    const qel_state* current = state();
    if (current == nullptr || !m_boxes.empty()) {
        finish(false);
        return;
    }
    m_expected = current->config.want_to_run == 0 ? 1 : 0;
    m_waiting = true;
    m_timer.StartOnce(2000); // the answer stops it
    m_clickStart = Clock::now();
    m_pointer.click();
}

void BenchApp::onClientEvent(int code) {
    if (code != QEL_CLIENT_EVENT_STATE) {
        return;
    }
    const Clock::time_point now = Clock::now();
    const qel_state* current = state();
    if (current == nullptr) {
        return;
    }
    if (m_phase == Phase::Clicking && m_waiting && current->config.want_to_run == m_expected) {
        m_latencies.push_back(microsecondsBetween(m_clickStart, now));
        m_toSent.push_back(microsecondsBetween(m_clickStart, m_sent));
        m_toReleased.push_back(microsecondsBetween(m_clickStart, m_released));
        m_toPosted.push_back(microsecondsBetween(m_sent, m_frame->lastPosted()));
        m_toTakenUp.push_back(microsecondsBetween(m_frame->lastPosted(), m_frame->lastHandled));
        m_takenUpCpu = m_frame->lastHandledCpu - m_frame->guiCpuAtPost();
        m_toShown.push_back(microsecondsBetween(m_frame->lastHandled, now));
        // The panel's own share: the click to its request sent, and the
        // answer's arrival (the client thread's wake-up, which posts at
        // once) to the window refreshed.
        m_own.push_back(m_toSent.back() + m_toTakenUp.back() + m_toShown.back());
        // Whether the GUI thread worked or waited before it took the event up.
        std::fprintf(stderr,
                     "bench_panel: click %zu took %.0f us: sent %.0f, posted %.0f, taken up %.0f "
                     "(the GUI thread ran %.0f of it), shown %.0f\n",
                     m_latencies.size(), m_latencies.back(), m_toSent.back(), m_toPosted.back(),
                     m_toTakenUp.back(), m_takenUpCpu, m_toShown.back());

        m_waiting = false;
        m_timer.StartOnce(30);
    } else if (m_phase == Phase::Bursting && current->ip_address[0] == 10) {
        ++m_burstStates;
        m_lastRefresh = now;
    }
}

void BenchApp::startBurst() {
    m_phase = Phase::Bursting;
    m_rssBefore = statusKib("VmRSS");
    m_handledBefore = m_frame->handled;
    m_frame->maxWaiting = 0;
    m_burstStart = Clock::now();
    m_ctl = std::thread([this] {
        const qeltest::ProgramRun run = m_manager->ctl({"burst", std::to_string(m_burst)});
        m_ctlOut = run.exitCode == 0 ? run.out : run.err;
        m_ctlDone = true;
    });
    m_timer.Start(50);
}

// Every 50 ms: done once the panel shows the last address, or 5 s after the
// manager sent the last event.
void BenchApp::finishBurst() {
    if (!m_ctlDone.load()) {
        return;
    }
    if (!m_ctlEndSeen) {
        m_ctlEndSeen = true;
        m_ctlEnd = Clock::now();
        m_ctl.join();
    }
    char address[32];
    std::snprintf(address, sizeof address, "10.%lu.%lu.%lu", (m_burst >> 16) & 0xFF,
                  (m_burst >> 8) & 0xFF, m_burst & 0xFF);
    const bool showsLast = showsText(m_frame, wxString::FromUTF8(address));
    if (!showsLast && Clock::now() - m_ctlEnd < std::chrono::seconds(5)) {
        return;
    }
    m_timer.Stop();
    const long rssAfter = statusKib("VmRSS");
    const double handlingMs =
        m_burstStates > 0 ? microsecondsBetween(m_burstStart, m_lastRefresh) / 1000 : 0;
    // The address of the state the panel last refreshed with.
    const qel_state* current = state();
    char shown[32] = "none";
    if (current != nullptr) {
        const uint8_t* ip = current->ip_address;
        std::snprintf(shown, sizeof shown, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    }
    std::printf("burst sent=%lu refreshed=%zu processing_events=%zu max_waiting=%zu "
                "duration_ms=%.1f shows_last=%s last=%s shown=%s rss_before_kib=%ld "
                "rss_after_kib=%ld hwm_kib=%ld\n",
                m_burst, m_burstStates, m_frame->handled - m_handledBefore, m_frame->maxWaiting,
                handlingMs, showsLast ? "yes" : "no", address, shown, m_rssBefore, rssAfter,
                statusKib("VmHWM"));
    std::fprintf(stderr, "bench_panel: the manager said: %s", m_ctlOut.c_str());
    finish(true);
}

void BenchApp::finish(bool ok) {
    m_phase = Phase::Done;
    m_timer.Stop();
    m_ok = ok && m_boxes.empty();
    if (!m_latencies.empty()) {
        std::printf("click iterations=%zu median_us=%.0f p99_us=%.0f min_us=%.0f max_us=%.0f "
                    "sent_us=%.0f/%.0f posted_us=%.0f/%.0f taken_us=%.0f/%.0f "
                    "shown_us=%.0f/%.0f own_us=%.0f/%.0f released_us=%.0f/%.0f "
                    "state_file=%s\n",
                    m_latencies.size(), median(m_latencies), quantile(m_latencies, 0.99),
                    quantile(m_latencies, 0), quantile(m_latencies, 1), median(m_toSent),
                    quantile(m_toSent, 0.99), median(m_toPosted), quantile(m_toPosted, 0.99),
                    median(m_toTakenUp), quantile(m_toTakenUp, 0.99), median(m_toShown),
                    quantile(m_toShown, 0.99), median(m_own), quantile(m_own, 0.99),
                    median(m_toReleased), quantile(m_toReleased, 0.99),
                    m_stateInMemory ? "memory" : "disk");
    }
    for (const std::string& box : m_boxes) {
        std::fprintf(stderr, "bench_panel: a box appeared: %s\n", box.c_str());
    }
    std::fflush(stdout);
    m_frame->Close(true);
}

int BenchApp::OnRun() {
    wxApp::OnRun();
    if (m_ctl.joinable()) {
        m_ctl.join();
    }
    m_client->removeListener(this);
    m_client->stop(); // already stopped when the window closed
    if (m_manager->stop(SIGTERM) != 0) {
        std::fputs("bench_panel: qel-manager did not end cleanly\n", stderr);
        m_ok = false;
    }
    return m_ok ? 0 : 1;
}

int BenchApp::OnExit() {
    if (!m_memoryState.empty()) {
        unlink(m_memoryState.c_str());
    }
    m_client.reset();
    m_images.reset();
    if (m_env != nullptr) {
        kes_env_release(m_env);
    }
    return wxApp::OnExit();
}

} // namespace

wxIMPLEMENT_APP_NO_MAIN(BenchApp);

int main(int argc, char** argv) {
    // As the panel does.
    setenv("GDK_GL", "disable", 0);
    return wxEntry(argc, argv);
}
