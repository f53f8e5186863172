// The qel-panel program as a whole, against the qel-manager program or a
// port that never answers, on the X display: its window, its start-up error
// boxes, a system error reported at start-up, one instance per executable,
// its working directory, and its orderly end.
#include "e2e_support.h"
#include "manager_process.h"

#include "scripted_peer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qele2e::Clock;
using qele2e::PanelProcess;
using qele2e::Window;

// Bounds of the waits; every one ends as soon as its condition holds.
constexpr int k_windowMs = 15000 * qele2e::k_slowdown; // start-up of the toolkit
constexpr int k_exitMs = 5000 * qele2e::k_slowdown;
constexpr int k_quickMs = 3000 * qele2e::k_slowdown;

const char k_mainTitle[] = "^Qelvane$";
const char k_errorTitle[] = "^Error$";

std::string realPath(const std::string& path) {
    std::error_code error;
    return std::filesystem::canonical(path, error).string();
}

// The square sizes of the pictures in a window's _NET_WM_ICON (each is its
// width, its height and its pixels), printed as plain numbers.
std::vector<unsigned long> iconSizes(Window window) {
    const std::vector<std::string> command{
        "xprop", "-len",         "4000000", "-id",      std::to_string(window),
        "-f",    "_NET_WM_ICON", "32c",     " = $0+\n", "_NET_WM_ICON"};
    const std::string text = qele2e::runCommand(command).out;
    std::vector<unsigned long> values;
    const size_t start = text.find('=');
    if (start == std::string::npos) {
        return {};
    }
    std::istringstream numbers(text.substr(start + 1));
    std::string number;
    while (std::getline(numbers, number, ',')) {
        values.push_back(std::stoul(number));
    }
    std::vector<unsigned long> sizes;
    for (size_t i = 0; i + 1 < values.size(); i += 2 + values[i] * values[i + 1]) {
        if (values[i] == values[i + 1]) {
            sizes.push_back(values[i]);
        }
    }
    return sizes;
}

// The height in "<which> size: W by H" of an xprop size-hints listing.
int hintHeight(const std::string& hints, const std::string& which) {
    const size_t at = hints.find(which + " size: ");
    const size_t by = hints.find(" by ", at);
    return at == std::string::npos || by == std::string::npos ? -1
                                                              : std::stoi(hints.substr(by + 4));
}

class PanelProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, std::getenv("DISPLAY")) << "these tests need an X display (xvfb-run)";
        ASSERT_TRUE(m_display.isOpen()) << "the X display does not answer";
        ASSERT_FALSE(m_dir.path().empty());
    }

    // A manager on the panel's fixed port, with its own files.
    void startManager() {
        m_manager =
            std::make_unique<qeltest::ManagerProcess>(m_dir, std::vector<std::string>{}, 8899);
        ASSERT_TRUE(m_manager->waitReady()) << m_manager->log();
    }

    // The manager's status document (discarded when it does not answer).
    std::string managerStatus() { return m_manager->ctl({"status"}).out; }
    size_t managerClients() { return m_manager->clients(); }
    std::string managerSystemError() { return m_manager->systemError(); }

    // Starts the panel from the scratch directory, never its own.
    std::unique_ptr<PanelProcess> startPanel(const std::string& name = "panel",
                                             const std::string& program = qele2e::panelProgram()) {
        m_logs.push_back(m_dir.file(name + ".log"));
        return std::make_unique<PanelProcess>(program, m_dir.path(), m_logs.back());
    }

    // In sanitizer builds, every panel's log is free of their reports.
    void TearDown() override {
        for (const std::string& path : m_logs) {
            const std::string log = qeltest::readFile(path);
            EXPECT_EQ(std::string::npos, log.find("Sanitizer")) << path << ":\n" << log;
            EXPECT_EQ(std::string::npos, log.find("runtime error:")) << path << ":\n" << log;
        }
    }

    qele2e::DisplayConnection m_display;
    qeltest::ScratchDir m_dir;
    std::unique_ptr<qeltest::ManagerProcess> m_manager;
    std::vector<std::string> m_logs;
};

TEST_F(PanelProgram, ShowsItsWindowAgainstTheManagerAndRunsInItsOwnDirectory) {
    startManager();
    auto panel = startPanel();
    const Window window = qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs);
    ASSERT_NE(0u, window) << panel->log();
    EXPECT_EQ("Qelvane", qele2e::windowTitle(window));
    EXPECT_TRUE(qele2e::isViewable(window));
    // Started from elsewhere, it works in the directory of its executable.
    const std::string own = realPath(qele2e::panelDirectory());
    EXPECT_EQ(own, panel->currentDirectory());
    EXPECT_NE(std::string::npos,
              panel->log().find("Debug QelGui::OnInit: working directory " + own + "\n"))
        << panel->log();
    // It turns the toolkit's OpenGL off for itself: no OpenGL library is
    // loaded (the display server offers GLX).
    EXPECT_TRUE(panel->running());
    EXPECT_FALSE(panel->maps("libGLX")) << "GDK_GL=disable was not in effect";
    EXPECT_EQ(1u, managerClients()) << managerStatus();
    EXPECT_TRUE(qele2e::findWindows(panel->pid(), k_errorTitle).empty());
    // The window carries the application icon in its five sizes.
    std::vector<unsigned long> sizes = iconSizes(window);
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ((std::vector<unsigned long>{16, 24, 32, 48, 256}), sizes);
    // The window manager is told the one size there is.
    const std::string hints =
        qele2e::runCommand({"xprop", "-id", std::to_string(window), "WM_NORMAL_HINTS"}).out;
    const std::string height = std::to_string(hintHeight(hints, "minimum"));
    EXPECT_NE(std::string::npos, hints.find("minimum size: 595 by " + height)) << hints;
    EXPECT_NE(std::string::npos, hints.find("maximum size: 595 by " + height)) << hints;
}

TEST_F(PanelProgram, EndsOnTerminationLikeAClosedWindowAndDisconnects) {
    startManager();
    auto panel = startPanel();
    ASSERT_NE(0u, qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs)) << panel->log();
    ASSERT_EQ(1u, managerClients()) << managerStatus();
    EXPECT_EQ(0, panel->stop(SIGTERM, k_exitMs)) << panel->log();
    // The manager heard the DISCONNECT: it forgets the client at once.
    EXPECT_TRUE(qele2e::waitUntil([&] { return managerClients() == 0; }, k_quickMs))
        << managerStatus();
    EXPECT_TRUE(m_manager->waitForLog("disconnected")) << m_manager->log();
}

TEST_F(PanelProgram, WithoutAManagerSaysTheServiceIsNotAvailableAndEnds) {
    auto panel = startPanel();
    const Window box = qele2e::waitForWindow(panel->pid(), k_errorTitle, k_windowMs);
    ASSERT_NE(0u, box) << panel->log();
    // The text has no code text after it.
    EXPECT_NE(std::string::npos,
              panel->log().find("Error QelGui::OnInit: The QEL Manager service is not available, "
                                "please try again in a few minutes\n"))
        << panel->log();
    EXPECT_TRUE(qele2e::findWindows(panel->pid(), k_mainTitle).empty()) << "no main window";
    EXPECT_TRUE(panel->running()) << "the box waits for the user";
    ASSERT_TRUE(qele2e::pressReturn(box));
    const int code = panel->waitExit(k_exitMs);
    EXPECT_NE(-1, code) << "the program ends when the box is closed";
    EXPECT_NE(0, code);
}

TEST_F(PanelProgram, ASilentManagerTimesOutAfterFiveAndAHalfSeconds) {
    // Something holds the manager's port and never answers.
    qeltest::ScriptedPeer silent(8899);
    ASSERT_TRUE(silent.isOpen());
    const auto start = Clock::now();
    auto panel = startPanel("first");

    // Meanwhile the first panel has no window yet: a second start ends at
    // once, silently, and shows nothing.
    ASSERT_TRUE(qele2e::waitUntil(
        [&] { return panel->log().find("working directory") != std::string::npos; }, k_windowMs))
        << panel->log();
    auto second = startPanel("second");
    EXPECT_EQ(1, second->waitExit(k_quickMs)) << "no window to bring forward";
    EXPECT_EQ("", second->log());

    const Window box = qele2e::waitForWindow(panel->pid(), k_errorTitle, 5500 + k_windowMs);
    const auto waited = Clock::now() - start;
    ASSERT_NE(0u, box) << panel->log();
    EXPECT_GE(waited, std::chrono::milliseconds(5500));
    EXPECT_NE(std::string::npos,
              panel->log().find("Error QelGui::OnInit: Error waiting for connection response from "
                                "manager: operation timed out\n"))
        << panel->log();
    EXPECT_TRUE(qele2e::findWindows(panel->pid(), k_mainTitle).empty());
    ASSERT_TRUE(qele2e::pressReturn(box));
    EXPECT_NE(-1, panel->waitExit(k_exitMs));
}

TEST_F(PanelProgram, ASystemErrorAtStartUpIsShownRightAfterTheWindow) {
    startManager();
    ASSERT_EQ(0, m_manager->ctl({"error", "0x0201"}).exitCode);
    auto panel = startPanel();
    const Window window = qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs);
    ASSERT_NE(0u, window) << panel->log();
    const Window box = qele2e::waitForWindow(panel->pid(), "^QEL Error$", k_windowMs);
    ASSERT_NE(0u, box) << panel->log();
    EXPECT_TRUE(qele2e::isViewable(window)) << "the window is up while the box is open";
    EXPECT_TRUE(qele2e::isAbove(box, window));
    // The error is cleared only once the user closed the box.
    EXPECT_EQ("0x0201", managerSystemError());
    ASSERT_TRUE(qele2e::pressReturn(box));
    EXPECT_TRUE(qele2e::waitUntil([&] { return managerSystemError() == "0x0000"; }, k_quickMs))
        << managerStatus();
    EXPECT_TRUE(qele2e::findWindows(panel->pid(), "^QEL Error$").empty()) << "shown once";
    EXPECT_EQ(0, panel->stop(SIGTERM, k_exitMs)) << panel->log();
}

TEST_F(PanelProgram, TerminationWhileABoxIsOpenEndsThePanelAtOnceWithItsDisconnect) {
    startManager();
    auto panel = startPanel();
    ASSERT_NE(0u, qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs)) << panel->log();
    ASSERT_EQ(0, m_manager->ctl({"error", "0x0201"}).exitCode);
    ASSERT_NE(0u, qele2e::waitForWindow(panel->pid(), "^QEL Error$", k_windowMs)) << panel->log();
    ASSERT_EQ(1u, managerClients());
    // The box is answered for the user, the manager hears the DISCONNECT and
    // the panel ends as after a closed window.
    ASSERT_EQ(0, kill(panel->pid(), SIGTERM));
    EXPECT_EQ(0, panel->waitExit(k_exitMs)) << panel->log();
    EXPECT_TRUE(qele2e::waitUntil([&] { return managerClients() == 0; }, k_quickMs))
        << managerStatus();
    // Nobody acknowledged the error, so it was not cleared.
    EXPECT_EQ("0x0201", managerSystemError());
}

TEST_F(PanelProgram, ASecondStartBringsTheFirstWindowBackAndEndsSilently) {
    startManager();
    auto first = startPanel("first");
    const Window window = qele2e::waitForWindow(first->pid(), k_mainTitle, k_windowMs);
    ASSERT_NE(0u, window) << first->log();
    // Out of sight, as when minimised.
    ASSERT_EQ(
        0,
        qele2e::runCommand({"xdotool", "windowunmap", "--sync", std::to_string(window)}).exitCode);
    ASSERT_FALSE(qele2e::isViewable(window));

    auto second = startPanel("second");
    EXPECT_EQ(0, second->waitExit(k_quickMs));
    EXPECT_EQ("", second->log()) << "it ends without a word";
    EXPECT_TRUE(qele2e::waitUntil([&] { return qele2e::isViewable(window); }, k_quickMs))
        << first->log();
    EXPECT_TRUE(first->waitForLog("another start brings the window forward", k_quickMs));
    EXPECT_TRUE(first->running());
    EXPECT_EQ(1u, managerClients()) << "the second start never reached the manager";
    EXPECT_EQ(std::vector<Window>{window}, qele2e::findWindows(first->pid(), k_mainTitle));
}

TEST_F(PanelProgram, TwoCopiesInDifferentDirectoriesBothRun) {
    startManager();
    // A copy of the program with its pictures, elsewhere.
    const std::string copyDir = m_dir.file("copy");
    std::filesystem::create_directories(copyDir);
    std::filesystem::copy(qele2e::panelProgram(), copyDir + "/qel-panel");
    std::filesystem::copy(qele2e::panelDirectory() + "/res", copyDir + "/res",
                          std::filesystem::copy_options::recursive);

    auto original = startPanel("original");
    const Window first = qele2e::waitForWindow(original->pid(), k_mainTitle, k_windowMs);
    ASSERT_NE(0u, first) << original->log();
    auto copy = startPanel("copy", copyDir + "/qel-panel");
    const Window second = qele2e::waitForWindow(copy->pid(), k_mainTitle, k_windowMs);
    ASSERT_NE(0u, second) << copy->log();
    EXPECT_EQ(realPath(copyDir), copy->currentDirectory());
    EXPECT_TRUE(qele2e::waitUntil([&] { return managerClients() == 2; }, k_quickMs))
        << managerStatus();

    // The newer window lies on top; starting the original again raises its
    // window above the copy's.
    ASSERT_TRUE(qele2e::isAbove(second, first));
    auto again = startPanel("again");
    EXPECT_EQ(0, again->waitExit(k_quickMs));
    EXPECT_TRUE(qele2e::waitUntil([&] { return qele2e::isAbove(first, second); }, k_quickMs));
    EXPECT_TRUE(original->running());
    EXPECT_TRUE(copy->running());
}

// The lock's directory is no private one (another user could take the lock
// first there): the panel says so in a box and ends, rather than ending
// without a word or starting unguarded.
TEST_F(PanelProgram, ALockDirectoryThatIsNotPrivateIsToldInABox) {
    const std::string open = m_dir.file("open-runtime");
    std::filesystem::create_directories(open);
    ASSERT_EQ(0, chmod(open.c_str(), 0755));
    const char* before = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = before != nullptr ? before : "";
    setenv("XDG_RUNTIME_DIR", open.c_str(), 1);
    auto panel = startPanel();
    if (before != nullptr) {
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
    const Window box = qele2e::waitForWindow(panel->pid(), k_errorTitle, k_windowMs);
    ASSERT_NE(0u, box) << panel->log();
    EXPECT_NE(std::string::npos,
              panel->log().find("Message box \"Error\": Failed to start QEL: the single instance "
                                "lock cannot be taken in " +
                                open + ": access\n"))
        << panel->log();
    EXPECT_TRUE(qele2e::findWindows(panel->pid(), k_mainTitle).empty());
    ASSERT_TRUE(qele2e::pressReturn(box));
    const int code = panel->waitExit(k_exitMs);
    EXPECT_NE(-1, code);
    EXPECT_NE(0, code);
}

TEST_F(PanelProgram, InstalledItRunsThroughItsLinkWithItsPictures) {
    const std::string prefix = m_dir.file("prefix");
    const qele2e::CommandRun install = qele2e::runCommand(
        {QEL_CMAKE_COMMAND, "--install", QEL_BUILD_DIR, "--prefix", prefix}, 30000);
    ASSERT_EQ(0, install.exitCode) << install.out;
    for (const char* path :
         {"/bin/qel-panel", "/bin/qel-manager", "/share/applications/example.qelvane.Panel.desktop",
          "/share/metainfo/example.qelvane.Panel.metainfo.xml",
          "/share/icons/hicolor/48x48/apps/qelvane.png",
          "/share/icons/hicolor/scalable/apps/qelvane.svg", "/lib/qelvane/res/dpi90-power-grey.png",
          "/lib/qelvane/res/dpi90-power-grey@2x.png", "/share/qelvane/res/qel_icon-256.png",
          "/share/man/man1/qel-panel.1.gz", "/share/man/man1/qel-manager.1.gz",
          "/share/doc/qelvane/copyright", "/share/locale/de/LC_MESSAGES/qelvane.mo"}) {
        EXPECT_TRUE(std::filesystem::exists(prefix + path)) << path;
    }
    const std::string desktop =
        qeltest::readFile(prefix + "/share/applications/example.qelvane.Panel.desktop");
    EXPECT_NE(std::string::npos, desktop.find("\nExec=qel-panel\n"));
    EXPECT_NE(std::string::npos, desktop.find("\nIcon=qelvane\n"));
    // The user unit starts the manager installed beside the panel.
    const std::string unit = qeltest::readFile(prefix + "/lib/systemd/user/qel-manager.service");
    EXPECT_NE(std::string::npos, unit.find("\nExecStart=" + prefix + "/bin/qel-manager\n")) << unit;

    startManager();
    auto panel = startPanel("installed", prefix + "/bin/qel-panel");
    ASSERT_NE(0u, qele2e::waitForWindow(panel->pid(), k_mainTitle, k_windowMs)) << panel->log();
    EXPECT_EQ(realPath(prefix + "/lib/qelvane"), panel->currentDirectory());
    EXPECT_EQ(std::string::npos, panel->log().find("Can't load")) << panel->log();
    // Started through the link or directly, it is the same program.
    auto direct = startPanel("direct", prefix + "/lib/qelvane/qel-panel");
    EXPECT_EQ(0, direct->waitExit(k_quickMs));
    EXPECT_TRUE(panel->running());
}

} // namespace
