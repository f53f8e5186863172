// The panel as a screen reader gets it: the accessibility tree of the real
// program, read over the accessibility bus of a private session (its own
// message bus and bus launcher), with the names, roles and label relations
// of every control, and the power button's name following the state.
#include "e2e_support.h"
#include "manager_process.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using json = nlohmann::json;
using qele2e::Window;

constexpr int k_windowMs = 15000 * qele2e::k_slowdown;
constexpr int k_quickMs = 3000 * qele2e::k_slowdown;
constexpr int k_exitMs = 5000 * qele2e::k_slowdown;

// Where the power button lies in the main window.
constexpr int k_powerX = 153;
constexpr int k_powerY = 189;

// A program that runs beside the test until the test ends; its first line
// of standard output is kept.
class Background {
public:
    explicit Background(const std::vector<std::string>& argv) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            std::vector<std::string> args = argv;
            std::vector<char*> list;
            for (std::string& arg : args) {
                list.push_back(arg.data());
            }
            list.push_back(nullptr);
            execvp(list[0], list.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
    }
    ~Background() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) {
            close(m_out);
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // The first line it prints, waiting at most `timeoutMs`.
    std::string firstLine(int timeoutMs) {
        std::string line;
        qele2e::waitUntil(
            [&] {
                pollfd entry{m_out, POLLIN, 0};
                char c = 0;
                while (poll(&entry, 1, 0) > 0 && read(m_out, &c, 1) == 1) {
                    if (c == '\n') {
                        return true;
                    }
                    line += c;
                }
                return false;
            },
            timeoutMs);
        return line;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

// Finds the first node (depth first) for which `match` holds.
const json* find(const json& node, const std::function<bool(const json&)>& match) {
    if (match(node)) {
        return &node;
    }
    for (const json& child : node["children"]) {
        if (const json* found = find(child, match)) {
            return found;
        }
    }
    return nullptr;
}

const json* byRoleAndName(const json& tree, const std::string& role, const std::string& name) {
    for (const json& window : tree["windows"]) {
        if (const json* found = find(
                window, [&](const json& n) { return n["role"] == role && n["name"] == name; })) {
            return found;
        }
    }
    return nullptr;
}

std::vector<std::string> strings(const json& list) {
    return list.get<std::vector<std::string>>();
}

class Accessibility : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, std::getenv("DISPLAY")) << "these tests need an X display (xvfb-run)";
        ASSERT_TRUE(m_display.isOpen());
        // A session bus of the test's own, and the accessibility bus on it.
        m_bus = std::make_unique<Background>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"});
        const std::string address = m_bus->firstLine(k_quickMs);
        ASSERT_FALSE(address.empty()) << "no session bus";
        const char* before = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        m_savedAddress = before != nullptr ? before : "";
        m_hadAddress = before != nullptr;
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        m_launcher = std::make_unique<Background>(
            std::vector<std::string>{"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"});
        m_manager =
            std::make_unique<qeltest::ManagerProcess>(m_dir, std::vector<std::string>{}, 8899);
        ASSERT_TRUE(m_manager->waitReady()) << m_manager->log();
    }
    void TearDown() override {
        m_panel.reset();
        m_launcher.reset();
        m_bus.reset();
        if (m_hadAddress) {
            setenv("DBUS_SESSION_BUS_ADDRESS", m_savedAddress.c_str(), 1);
        } else {
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
    }

    // The panel with the accessibility bridge loaded, as a desktop with a
    // screen reader starts it.
    Window startPanel(const std::vector<std::string>& environment = {}) {
        std::vector<std::string> all{"NO_AT_BRIDGE", "GTK_MODULES=gail:atk-bridge"};
        all.insert(all.end(), environment.begin(), environment.end());
        m_panel = std::make_unique<qele2e::PanelProcess>(qele2e::panelProgram(), m_dir.path(),
                                                         m_dir.file("panel.log"), all);
        return qele2e::waitForWindow(m_panel->pid(), "^Qelvane$", k_windowMs);
    }

    // The tree as the screen reader reads it now.
    json tree() {
        const qele2e::CommandRun run =
            qele2e::runCommand({std::string(QEL_SOURCE_DIR) + "/tests/e2e/atspi_tree.py",
                                std::to_string(m_panel->pid()), std::to_string(k_windowMs / 1000)},
                               k_windowMs + 5000);
        EXPECT_EQ(0, run.exitCode) << run.out;
        return json::parse(run.out, nullptr, false);
    }
    // Reads the tree until `holds` is true of it.
    json treeWhere(const std::function<bool(const json&)>& holds) {
        json last;
        qele2e::waitUntil(
            [&] {
                last = tree();
                return !last.is_discarded() && holds(last);
            },
            k_quickMs);
        return last;
    }

    qele2e::DisplayConnection m_display;
    qeltest::ScratchDir m_dir;
    std::unique_ptr<Background> m_bus;
    std::unique_ptr<Background> m_launcher;
    std::unique_ptr<qeltest::ManagerProcess> m_manager;
    std::unique_ptr<qele2e::PanelProcess> m_panel;
    std::string m_savedAddress;
    bool m_hadAddress = false;
};

TEST_F(Accessibility, EveryControlHasTheNameRoleAndLabelAScreenReaderNeeds) {
    ASSERT_NE(0u, startPanel()) << m_panel->log();
    const json t = treeWhere([](const json& now) {
        return byRoleAndName(now, "push button", "Sound card: stopped") != nullptr;
    });
    ASSERT_FALSE(t.is_discarded());

    const json* power = byRoleAndName(t, "push button", "Sound card: stopped");
    ASSERT_NE(nullptr, power) << t.dump(1);
    EXPECT_EQ("Start or stop the Qelvane", (*power)["description"]);
    const json* help = byRoleAndName(t, "push button", "Help");
    ASSERT_NE(nullptr, help) << t.dump(1);
    EXPECT_EQ("Open the online user guide in your web browser", (*help)["description"]);

    // Each choice by its visible label, the format's two under one label.
    struct Choice {
        const char* name;
        const char* label;
    };
    for (const Choice c :
         {Choice{"Audio Interface", "Audio Interface"}, Choice{"Sample rate", "Audio Format"},
          Choice{"Bits per sample", "Audio Format"}, Choice{"Lirva Latency", "Lirva Latency"}}) {
        SCOPED_TRACE(c.name);
        const json* choice = byRoleAndName(t, "combo box", c.name);
        ASSERT_NE(nullptr, choice) << t.dump(1);
        EXPECT_EQ(std::vector<std::string>{c.label}, strings((*choice)["labelled_by"]));
        const json* label = byRoleAndName(t, "label", c.label);
        ASSERT_NE(nullptr, label);
        const std::vector<std::string> labels = strings((*label)["label_for"]);
        EXPECT_NE(labels.end(), std::find(labels.begin(), labels.end(), c.name));
    }
    EXPECT_NE(nullptr, byRoleAndName(t, "combo box", "Network interface")) << t.dump(1);
    // The network picture in words: the stand-in manager offers eth0, up at
    // 1 Gbit/s with 192.168.1.20, in the configuration in force.
    EXPECT_NE(nullptr, byRoleAndName(t, "icon", "eth0: link up at 1 Gbit/s, address 192.168.1.20"))
        << t.dump(1);
    // Values read with their labels, under their own text.
    const json* ip = byRoleAndName(t, "label", "192.168.1.20");
    ASSERT_NE(nullptr, ip) << t.dump(1);
    EXPECT_EQ(std::vector<std::string>{"IP:"}, strings((*ip)["labelled_by"]));
    EXPECT_EQ(0, m_panel->stop(SIGTERM, k_exitMs));
}

// The user starts the sound card: the power button's name follows the
// manager's new state. A system error comes as an alert with its text.
TEST_F(Accessibility, ThePowerButtonFollowsTheStateAndAnErrorIsAnAlert) {
    const Window window = startPanel();
    ASSERT_NE(0u, window) << m_panel->log();
    ASSERT_EQ(0,
              qele2e::runCommand({"xdotool", "mousemove", "--window", std::to_string(window),
                                  std::to_string(k_powerX), std::to_string(k_powerY), "click", "1"})
                  .exitCode);
    json t = treeWhere([](const json& now) {
        return byRoleAndName(now, "push button", "Sound card: running") != nullptr;
    });
    ASSERT_NE(nullptr, byRoleAndName(t, "push button", "Sound card: running")) << t.dump(1);

    ASSERT_EQ(0, m_manager->ctl({"error", "0x0201"}).exitCode);
    // The box is read as an alert (named by the toolkit after its icon),
    // with its text and its button.
    const auto errorAlert = [](const json& now) -> const json* {
        return byRoleAndName(now, "alert", "Error");
    };
    t = treeWhere([&](const json& now) { return errorAlert(now) != nullptr; });
    const json* alert = errorAlert(t);
    ASSERT_NE(nullptr, alert) << t.dump(1) << m_panel->log();
    EXPECT_NE(nullptr, find(*alert, [](const json& n) {
                  return n["role"] == "label" && n["name"] == "Can't find audio driver (513)";
              }));
    EXPECT_NE(nullptr, find(*alert, [](const json& n) {
                  return n["role"] == "push button" && n["name"] == "OK";
              }));
    EXPECT_EQ(0, m_panel->stop(SIGTERM, k_exitMs));
}

// A German user: the labels, the names and the box in German; the log on
// standard error stays English.
TEST_F(Accessibility, InGermanEverythingTheUserReadsIsGermanAndTheLogStaysEnglish) {
    ASSERT_NE(0u, startPanel({"LANGUAGE=de", "LANG=de_DE.UTF-8"})) << m_panel->log();
    json t = treeWhere([](const json& now) {
        return byRoleAndName(now, "push button", "Soundkarte: angehalten") != nullptr;
    });
    ASSERT_NE(nullptr, byRoleAndName(t, "push button", "Soundkarte: angehalten")) << t.dump(1);
    for (const auto& [role, name] : std::vector<std::pair<std::string, std::string>>{
             {"label", "Audioschnittstelle"},
             {"label", "Audioformat"},
             {"combo box", "Abtastrate"},
             {"combo box", "Bits pro Abtastwert"},
             {"combo box", "Lirva-Latenz"},
             {"page tab", "Einstellungen"},
             {"push button", "Erweitert"},
             {"push button", "Hilfe"},
             {"icon", "eth0: Verbindung steht mit 1 Gbit/s, Adresse 192.168.1.20"}}) {
        EXPECT_NE(nullptr, byRoleAndName(t, role, name)) << role << " " << name;
    }
    ASSERT_EQ(0, m_manager->ctl({"error", "0x0201"}).exitCode);
    const auto germanBox = [](const json& now) -> const json* {
        for (const json& window : now["windows"]) {
            if (window["role"] == "alert") {
                if (find(window, [](const json& n) {
                        return n["role"] == "label" &&
                               n["name"] == "Audiotreiber nicht gefunden (513)";
                    }) != nullptr) {
                    return &window;
                }
            }
        }
        return nullptr;
    };
    t = treeWhere([&](const json& now) { return germanBox(now) != nullptr; });
    EXPECT_NE(nullptr, germanBox(t)) << t.dump(1);
    EXPECT_TRUE(m_panel->waitForLog("Info Message box \"QEL Error\": Can't find audio driver (513)",
                                    k_quickMs))
        << m_panel->log();
    EXPECT_EQ(0, m_panel->stop(SIGTERM, k_exitMs));
}

} // namespace
