// Shared by the bridge tests: a client that talks to a scripted manager on
// any port, a factory of the model objects the application uses, listeners
// and warnings that record what they hear, and a fixture that brings a
// client up as start-up does. Nothing here shows a window: the engine's
// tests link no window library.
#pragma once

#include "QelAsioConfig.h"
#include "QelAsioOptions.h"
#include "QelClient.h"
#include "QelClientListener.h"
#include "QelClientWarnings.h"
#include "QelFactory.h"

#include "record_builders.h"
#include "scripted_peer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qeltest {

// The model objects of the ASIO family, as the application's factory makes
// them; no client and no panel (those are made above the engine).
class ModelFactory : public QelFactory {
public:
    QelClient* createClient() override { return nullptr; }
    QelOptions* createOptions() override { return new QelAsioOptions(); }
    QelConfig* createConfig() override { return new QelAsioConfig(); }
    QelPanel* createPanel(wxWindow*, QelImageManager*) override { return nullptr; }
};

// The client the application would make, with the manager on `port`.
class PortClient : public QelClient {
public:
    PortClient(QelFactory* factory, uint16_t port) : QelClient(factory), m_port(port) {}
    kes_result initManagerClient(kes_env* env, qel_client** client) override;

private:
    uint16_t m_port;
};

// Writes "<name>:<code>" into a shared log for every event, then runs
// `onEvent` (when set) with the code.
class RecordingListener : public QelClientListener {
public:
    RecordingListener(std::vector<std::string>* log, std::string name)
        : m_log(log), m_name(std::move(name)) {}
    void onClientEvent(int code) override;

    std::function<void(int code)> onEvent;

private:
    std::vector<std::string>* m_log;
    std::string m_name;
};

// Writes "restart" or "sleep" into a shared log for every lost contact, then
// runs `onWarning` (when set).
class RecordingWarnings : public QelClientWarnings {
public:
    explicit RecordingWarnings(std::vector<std::string>* log) : m_log(log) {}
    void onLostContact(QelLostContact reason) override;

    std::function<void(QelLostContact reason)> onWarning;

private:
    std::vector<std::string>* m_log;
};

std::vector<uint8_t> infoBody();
std::vector<uint8_t> optionsBody(const qel_options& options);
std::vector<uint8_t> stateBody(const qel_state& state);
// sampleState() with the given system error and link speed.
qel_state stateWith(uint16_t systemError, uint32_t linkSpeed = 1000);

// A scripted manager on an ephemeral port and a client of the ASIO family for
// it; the client thread's clock stamp starts at 0, as in a fresh process.
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
    ModelFactory m_factory;
    std::unique_ptr<PortClient> m_client;
    std::vector<std::string> m_log;
    uint16_t m_seqnum = 100;
};

} // namespace qeltest
