// The qelctl program against the qel-manager program, both as processes (and
// once qelctl's watch in this process on the test clock): every command's
// output, every key of set as the manager applies it, refusals, the dry run,
// watch, wait, malformed command lines and the bash completion. Whatever a
// test does, every client the manager saw connect has disconnected when it
// ends.
#include "manager_process.h"
#include "qelctl_run.h"
#include "test_clock.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <string>
#include <vector>

#ifndef QELCTL_BINARY
#error "QELCTL_BINARY must name the qelctl program"
#endif
#ifndef QELCTL_COMPLETION
#error "QELCTL_COMPLETION must name qelctl's bash completion"
#endif

namespace qeltest {
namespace {

using Args = std::vector<std::string>;
using json = nlohmann::json;

const std::string k_version = std::to_string(QEL_VERSION_MAJOR) + "." +
                              std::to_string(QEL_VERSION_MINOR) + "." +
                              std::to_string(QEL_VERSION_PATCH) + "-stand";

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class QelctlProcess : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(manager.waitReady()); }
    void TearDown() override {
        if (!managerKilled) {
            // Every session the manager saw begin has ended with a DISCONNECT.
            const std::string log = manager.log();
            EXPECT_EQ(count(log, " disconnected\n"), count(log, " connected\n")) << log;
            EXPECT_EQ(count(log, "forgotten"), 0u);
        }
    }
    Args withPort(const Args& args) const {
        Args all{"--port", std::to_string(manager.port())};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    ProgramRun qelctl(const Args& args) const { return runProgram(QELCTL_BINARY, withPort(args)); }
    json status() const { return json::parse(manager.ctl({"status"}).out); }

    ScratchDir dir;
    ManagerProcess manager{dir};
    bool managerKilled = false;
};

TEST_F(QelctlProcess, StatusInBothForms) {
    const ProgramRun text = qelctl({"status"});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out, "Manager version:    " + k_version +
                            "\n"
                            "Sound card:         stopped\n"
                            "Audio interface:    WDM\n"
                            "Sample rate:        48000 Hz\n"
                            "Bits per sample:    24 bit\n"
                            "Latency:            2 ms (Medium)\n"
                            "Channels:           8\n"
                            "Network interface:  eth0 (00:1b:21:3c:4d:5e)\n"
                            "Link:               up at 1 Gbit/s\n"
                            "IPv4 address:       192.168.1.20\n"
                            "ASIO buffer size:   256 samples\n"
                            "ASIO encoding:      24 bit\n"
                            "ASIO latency:       5 ms\n"
                            "ASIO application:   not connected\n"
                            "Lock flags:         0x0000 (unlocked)\n"
                            "System error:       none\n");
    const ProgramRun verbose = qelctl({"-v", "status"});
    EXPECT_EQ(verbose.out, text.out);
    EXPECT_NE(verbose.err.find(" Debug qel_client_on_event: state is:"), std::string::npos);
    ASSERT_EQ(manager.ctl({"error", "0x0201"}).exitCode, 0);
    const ProgramRun object = qelctl({"status", "--json"});
    EXPECT_EQ(object.exitCode, 0) << object.err;
    EXPECT_EQ(json::parse(object.out), json::parse(R"({
      "asio_application_connected": false,
      "configuration": {"asio_buffer_size": 256, "asio_encoding": 24, "asio_latency_us": 5000,
        "audio_interface": "WDM", "channels": 8,
        "interface": {"mac": "00:1b:21:3c:4d:5e", "name": "eth0"}, "latency": "Medium",
        "sample_format": 24, "sample_rate_hz": 48000, "want_to_run": false},
      "device_name": "Qelvane", "latency_us": 2000,
      "link": {"ipv4": "192.168.1.20", "speed_mbps": 1000, "up": true},
      "lock_flags": 0, "locked": false, "running": false,
      "system_error": {"code": 513, "name": "Driver Missing", "text": "Can't find audio driver"},
      "version": ")" + k_version + R"("})"));
    const ProgramRun cleared = qelctl({"clear-error"});
    EXPECT_EQ(cleared.exitCode, 0) << cleared.err;
    EXPECT_NE(cleared.out.find("System error:       none\n"), std::string::npos);
    EXPECT_EQ(manager.systemError(), "0x0000");
}

struct KeyCase {
    std::string argument;
    std::string pointer; // into the configuration of ctl status
    json value;
};

TEST_F(QelctlProcess, EveryKeyOfSetReachesTheManager) {
    const KeyCase cases[] = {
        {"power=on", "/want_to_run", true},
        {"audio=ASIO", "/audio_interface", "ASIO"},
        {"rate=44100", "/sample_rate_hz", 44100},
        {"bits=16", "/sample_format", 16},
        {"latency=5 ms", "/latency", "High"},
        {"latency=3", "/latency", "Extra High"},
        {"latency=Low", "/latency", "Low"},
        {"channels=16", "/channels", 16},
        {"interface=wlan0", "/interface", {{"mac", "02:42:ac:11:00:02"}, {"name", "wlan0"}}},
        {"asio-buffer=1024", "/asio_buffer_size", 1024},
        {"asio-encoding=32", "/asio_encoding", 32},
        {"asio-latency=10", "/asio_latency_us", 10000},
    };
    for (const KeyCase& c : cases) {
        const json before = status()["configuration"];
        const ProgramRun run = qelctl({"set", c.argument});
        EXPECT_EQ(run.exitCode, 0) << c.argument << ": " << run.err;
        EXPECT_EQ(run.err, "") << c.argument;
        EXPECT_EQ(run.out.rfind("Manager version:    ", 0), 0u) << c.argument;
        json expected = before;
        expected[json::json_pointer(c.pointer)] = c.value;
        EXPECT_EQ(status()["configuration"], expected) << c.argument;
    }
}

TEST_F(QelctlProcess, LowersTheChannelsForTheRateAndSaysSo) {
    ASSERT_EQ(qelctl({"set", "channels=64"}).exitCode, 0);
    const ProgramRun run = qelctl({"set", "rate=96000", "--json"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "qelctl: Channel count reduced to 32 due to sample rate 96000 Hz\n");
    EXPECT_EQ(json::parse(run.out)["configuration"]["channels"], 32);
    EXPECT_EQ(status()["configuration"]["channels"], 32);
}

struct Refusal {
    Args control; // ctl command before, undone after
    Args args;
    int exit;
    std::string err;
};

TEST_F(QelctlProcess, RefusalsLeaveTheConfigurationAsItWas) {
    const Refusal cases[] = {
        {{},
         {"set", "power=on", "rate=192000"},
         1,
         "qelctl: rate: 192000 Hz is not offered (offered: 44100 Hz, 48000 Hz, 88200 Hz, "
         "96000 Hz)\nqelctl: nothing was sent\n"},
        {{"lock", "2"},
         {"set", "power=on"},
         1,
         "qelctl: The manager refused the configuration: Invalid State; the configuration is "
         "locked (lock flags 0x0002)\n"},
        {{"refuse", "on"},
         {"set", "power=on"},
         3,
         "qelctl: Error waiting for connection response from manager: connection refused (the "
         "manager answered Too many clients)\n"},
        {{"notconnected", "on"},
         {"status"},
         3,
         "qelctl: Error waiting for connection response from manager: connection refused (the "
         "manager answered Not connected)\n"},
    };
    const json before = status()["configuration"];
    for (const Refusal& c : cases) {
        if (!c.control.empty()) {
            ASSERT_EQ(manager.ctl(c.control).exitCode, 0);
        }
        const ProgramRun run = qelctl(c.args);
        EXPECT_EQ(run.exitCode, c.exit) << c.err;
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
        if (!c.control.empty()) {
            const std::string off = c.control[0] == "lock" ? "0" : "off";
            ASSERT_EQ(manager.ctl({c.control[0], off}).exitCode, 0);
        }
        EXPECT_EQ(status()["configuration"], before) << c.err;
    }
    EXPECT_EQ(manager.clients(), 0u);
}

TEST_F(QelctlProcess, DryRunPrintsTheChangeAndSendsNothing) {
    const json before = status()["configuration"];
    const ProgramRun run = qelctl({"set", "--dry-run", "power=on", "latency=1", "rate=88200"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Would send SET CONFIG with:\n"
                       "  Sound card:         running (was stopped)\n"
                       "  Audio interface:    WDM\n"
                       "  Sample rate:        88200 Hz (was 48000 Hz)\n"
                       "  Bits per sample:    24 bit\n"
                       "  Latency:            2 ms (Medium)\n"
                       "  Channels:           8\n"
                       "  Network interface:  eth0 (00:1b:21:3c:4d:5e)\n"
                       "  ASIO buffer size:   256 samples\n"
                       "  ASIO encoding:      24 bit\n"
                       "  ASIO latency:       5 ms\n");
    const ProgramRun object = qelctl({"set", "--dry-run", "--json", "latency=Low"});
    EXPECT_EQ(json::parse(object.out)["configuration"]["latency"], "Low");
    EXPECT_EQ(json::parse(object.out)["latency_us"], 1000);
    EXPECT_EQ(status()["configuration"], before);
}

TEST_F(QelctlProcess, WatchFollowsTheManagerUntilASignalEndsIt) {
    for (int signal : {SIGINT, SIGTERM}) {
        const std::string out = dir.file("watch" + std::to_string(signal) + ".out");
        const std::string err = dir.file("watch" + std::to_string(signal) + ".err");
        const pid_t watch = startProgram(QELCTL_BINARY, withPort({"watch"}), out, err);
        ASSERT_GT(watch, 0);
        auto waitForOutput = [&](const std::string& part) {
            for (int i = 0; i < 1000 && readFile(out).find(part) == std::string::npos; ++i) {
                waitProgram(watch, 3);
            }
            return readFile(out).find(part) != std::string::npos;
        };
        ASSERT_TRUE(waitForOutput(" state: stopped,"));
        ASSERT_EQ(manager.ctl({"error", "0x0301"}).exitCode, 0);
        ASSERT_TRUE(waitForOutput("system error 0x0301 Ptp Missing: Can't find PTP program\n"));
        ASSERT_EQ(manager.ctl({"error", "0"}).exitCode, 0);
        kill(watch, signal);
        EXPECT_EQ(waitProgram(watch, 5000), 0);
        EXPECT_EQ(count(readFile(out), "\n"), 5u) << readFile(out);
        EXPECT_EQ(readFile(err), "");
    }
}

TEST_F(QelctlProcess, WatchEndsWithStatus3WhenTheManagerIsKilled) {
    TestClock clock;
    qelctl::Waker waker;
    QelctlThread watch(withPort({"watch", "--json"}), &waker);
    ASSERT_TRUE(watch.out().waitFor("\"event\":\"state\""));
    managerKilled = true;
    manager.stop(SIGKILL);
    int status = -1;
    // The next keepalive finds the manager's port closed.
    for (int i = 0; i < 100 && status == -1; ++i) {
        clock.advance(11);
        waker.tick();
        status = watch.wait(20);
    }
    EXPECT_EQ(status, 3);
    const std::string out = watch.out().text();
    const json last = json::parse(out.substr(out.rfind('\n', out.size() - 2) + 1));
    EXPECT_EQ(last["event"], "connection");
    EXPECT_EQ(last["connected"], false);
    EXPECT_EQ(last["reason"], "the manager's port is closed (the manager has stopped)");
}

TEST_F(QelctlProcess, WaitForTheManagerAndItsSoundCard) {
    EXPECT_EQ(qelctl({"wait"}).exitCode, 0);
    const std::string out = dir.file("wait.out");
    const pid_t wait =
        startProgram(QELCTL_BINARY, withPort({"wait", "--running", "--timeout", "20"}), out, out);
    ASSERT_GT(wait, 0);
    EXPECT_EQ(waitProgram(wait, 50), -1); // stopped: it waits
    ASSERT_EQ(qelctl({"set", "power=on"}).exitCode, 0);
    EXPECT_EQ(waitProgram(wait, 5000), 0);
    EXPECT_EQ(readFile(out), "");
}

struct Malformed {
    Args args;
    std::string error;
};

// Command lines that are wrong in every way: each ends with status 2 and
// one line that names the mistake, before anything reaches the manager.
TEST_F(QelctlProcess, MalformedCommandLinesSendNothing) {
    const std::string keys = "(keys: power, audio, rate, bits, latency, channels, interface, "
                             "asio-buffer, asio-encoding, asio-latency)";
    const Malformed cases[] = {
        {{}, "no command given"},
        {{"stat"},
         "unknown command \"stat\" (commands: status, options, set, clear-error, watch, wait)"},
        {{"status", "extra"}, "status takes no arguments (\"extra\")"},
        {{"status", "--dry-run"}, "status takes no --dry-run"},
        {{"status", "--json=yes"}, "unknown option \"--json=yes\""},
        {{"status", "-x"}, "unknown option \"-x\""},
        {{"watch", "--timeout", "1"}, "watch takes no --timeout"},
        {{"status", "--port"}, "--port needs a value: --port N"},
        {{"status", "--port", "0"}, "--port \"0\": not a port number from 1 to 65535"},
        {{"status", "--port=65536"}, "--port \"65536\": not a port number from 1 to 65535"},
        {{"status", "--port", "8899x"}, "--port \"8899x\": not a port number from 1 to 65535"},
        {{"status", "--port", "1", "--port", "2"}, "--port is given twice"},
        {{"set"}, "set needs at least one KEY=VALUE"},
        {{"set", "rate"}, "set: \"rate\" is not KEY=VALUE " + keys},
        {{"set", "=48000"}, "set: unknown key \"\" " + keys},
        {{"set", "Rate=48000"}, "set: unknown key \"Rate\" " + keys},
        {{"set", "power=on", "bogus=1"}, "set: unknown key \"bogus\" " + keys},
        {{"set", "rate=48000", "rate=44100"}, "set: rate is given twice"},
        {{"set", "rate="}, "set: rate has no value (rate=HZ)"},
        {{"set", "rate=abc"}, "set: rate=abc: not a sample rate in Hz, like 48000"},
        {{"set", "rate=-1"}, "set: rate=-1: not a sample rate in Hz, like 48000"},
        {{"set", "rate= 48000"}, "set: rate= 48000: not a sample rate in Hz, like 48000"},
        {{"set", "rate=0"}, "set: rate=0: out of range (1 to 4294967295 Hz)"},
        {{"set", "rate=99999999999999999999"},
         "set: rate=99999999999999999999: out of range (1 to 4294967295 Hz)"},
        {{"set", "channels=65536"}, "set: channels=65536: out of range (1 to 65535)"},
        {{"set", "bits=24 bits"}, "set: bits=24 bits: not bits per sample, like 24"},
        {{"set", "power=yes"}, "set: power=yes: not on or off"},
        {{"set", "audio=MME"}, "set: audio=MME: not ASIO or WDM"},
        {{"set", "latency=1.2345 ms"},
         "set: latency=1.2345 ms: not a latency like \"2 ms\", its index or its name"},
        {{"set", "latency=99999"}, "set: latency=99999: out of range (an index from 0 to 65535)"},
        {{"set", "latency=" + std::string(32, 'x')},
         "set: latency=" + std::string(32, 'x') + ": out of range (a name of at most 31 bytes)"},
        {{"set", "asio-latency=0"}, "set: asio-latency=0: out of range (0.001 to 4294967.295 ms)"},
        {{"set", "asio-latency=5 s"},
         "set: asio-latency=5 s: not an ASIO latency in milliseconds, like 5"},
        {{"set", "interface=\xff\x01"},
         "set: interface=\xef\xbf\xbd\xef\xbf\xbd: not a network interface name, like eth0"},
        {{"set", "interface=" + std::string(64, 'e')},
         "set: interface=" + std::string(64, 'e') +
             ": out of range (a name of at most 63 UTF-16 units)"},
        {{"wait", "--timeout", "-1"},
         "--timeout \"-1\": not a number of seconds from 0 to 1000000"},
        {{"wait", "--timeout=1000000.5"},
         "--timeout \"1000000.5\": not a number of seconds from 0 to 1000000"},
        {{"wait", "--timeout"}, "--timeout needs a value: --timeout SECONDS"},
        {{"options", "--list", "speed"}, "--list: unknown key \"speed\" " + keys},
        {{"options", "--list", "rate", "--json"}, "--list and --json exclude each other"},
    };
    const json before = status()["configuration"];
    for (const Malformed& c : cases) {
        bool portGiven = false;
        for (const std::string& arg : c.args) {
            portGiven = portGiven || arg.rfind("--port", 0) == 0;
        }
        const ProgramRun run = runProgram(QELCTL_BINARY, portGiven ? c.args : withPort(c.args));
        EXPECT_EQ(run.exitCode, 2) << c.error;
        EXPECT_EQ(run.err, "qelctl: " + c.error +
                               "\nRun qelctl --help for the commands, their options and the keys "
                               "of set.\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(count(manager.log(), " connected\n"), 0u);
    EXPECT_EQ(status()["configuration"], before);
}

// The completion's replies for a command line, the cursor at its end;
// COMP_WORDS is split at "=" as bash splits it.
std::string complete(const Args& words) {
    std::string script = "source '" QELCTL_COMPLETION "'; COMP_WORDS=(";
    for (const std::string& word : words) {
        script += "'" + word + "' ";
    }
    script +=
        "); COMP_CWORD=" + std::to_string(words.size() - 1) + "; _qelctl; echo \"${COMPREPLY[*]}\"";
    return runProgram("/bin/bash", {"--norc", "-c", script}).out;
}

TEST_F(QelctlProcess, CompletesCommandsOptionsKeysAndTheOfferedValues) {
    const std::string port = std::to_string(manager.port());
    EXPECT_EQ(complete({QELCTL_BINARY, "s"}), "status set\n");
    EXPECT_EQ(complete({QELCTL_BINARY, "set", "--"}), "--port --help --version --dry-run --json\n");
    EXPECT_EQ(complete({QELCTL_BINARY, "set", "asio-"}),
              "asio-buffer= asio-encoding= asio-latency=\n");
    EXPECT_EQ(complete({QELCTL_BINARY, "--port", port, "set", "rate", "=", ""}),
              "44100 48000 88200 96000\n");
    EXPECT_EQ(complete({QELCTL_BINARY, "--port", "=", port, "set", "latency", "=", "1"}),
              "1ms 10ms\n");
    EXPECT_EQ(complete({QELCTL_BINARY, "set", "--port", port, "interface="}),
              "interface=eth0 interface=wlan0\n");
    EXPECT_EQ(complete({QELCTL_BINARY, "options", "--list", "a"}),
              "audio asio-buffer asio-encoding asio-latency\n");
}

} // namespace
} // namespace qeltest
