// Shared by the bridge tests: a client that talks to a scripted manager on
// any port, a listener that records what it hears, message boxes recorded
// instead of shown, and a fixture that brings a client up as start-up does.
#pragma once

#include "QelAsioFactory.h"
#include "QelClient.h"
#include "QelClientListener.h"

#include "record_builders.h"
#include "scripted_peer.h"

#include <gtest/gtest.h>

#include <wx/string.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace qeltest {

// A message box as it was asked for.
struct Box {
    long style;
    std::string text; // UTF-8
    std::string caption;
};
bool operator==(const Box& a, const Box& b);
std::ostream& operator<<(std::ostream& os, const Box& box);

// While it exists, every box is recorded and answered with `answer` instead
// of being shown; `onBox` runs while the box is "open". Outside a recorder
// every box fails the running test (the fixture installs that).
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    const std::vector<Box>& boxes() const { return m_boxes; }
    std::function<void(const Box&)> onBox;
    int answer = wxID_OK;

private:
    std::vector<Box> m_boxes;
};

// Every box fails the running test and is answered with wxID_CANCEL.
void failOnEveryBox();

// The client the application would make, with the manager on `port`.
class PortClient : public QelClient {
public:
    PortClient(QelFactory* factory, uint16_t port) : QelClient(factory), m_port(port) {}
    kes_result initManagerClient(kes_env* env, qel_client** client) override;

private:
    uint16_t m_port;
};

// Writes "<name>:<code>" into a shared log for every event.
class RecordingListener : public QelClientListener {
public:
    RecordingListener(std::vector<std::string>* log, std::string name)
        : m_log(log), m_name(std::move(name)) {}
    void onClientEvent(int code) override;

private:
    std::vector<std::string>* m_log;
    std::string m_name;
};

std::vector<uint8_t> infoBody();
std::vector<uint8_t> optionsBody(const qel_options& options);
std::vector<uint8_t> stateBody(const qel_state& state);
// sampleState() with the given system error and link speed.
qel_state stateWith(uint16_t systemError, uint32_t linkSpeed = 1000);

// A scripted manager on an ephemeral port and a client of the ASIO family for
// it. Every box fails the test unless a BoxRecorder takes it; the client
// thread's clock stamp starts at 0, as in a fresh process.
class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // initManagerClient and createModel.
    kes_result makeClient();
    // makeClient, connect, the manager's answer with info, options and
    // `state`, then the three waits, which must succeed.
    void startUp(const qel_state& state = sampleState());
    // Sends a state event and lets the client process it on this thread.
    void sendState(const qel_state& state);
    // The opcodes of what the manager received until it stays quiet for `waitMs`.
    std::vector<uint16_t> received(int waitMs = 100);

    qel_client* managerClient() { return m_client->getManagerClient(); }

    kes_env* m_env = nullptr;
    ScriptedPeer m_manager;
    QelAsioFactory m_factory;
    std::unique_ptr<PortClient> m_client;
    std::vector<std::string> m_log;
    uint16_t m_seqnum = 100;
};

} // namespace qeltest
