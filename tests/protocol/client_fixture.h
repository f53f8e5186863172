// A protocol client connected to a scripted peer, with a test clock, a log
// capture at Verbose and a record of every notification.
#pragma once

#include "kes_env.h"
#include "log_capture.h"
#include "scripted_peer.h"
#include "tesk2_client.h"
#include "test_clock.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace qeltest {

struct Note {
    uint32_t flags;
    tesk2_request* request;
    bool requestInUse;
    bool hasMessage;
    uint16_t seqnum;
    uint16_t opcode;
    uint16_t status;
    kes_result result;
    uint32_t stateDuring;
};

class ClientTest : public ::testing::Test {
protected:
    static constexpr uint16_t k_protocol = 0x1001;
    static constexpr uint16_t k_set_config = 0x0110;
    static constexpr kes_time k_start{1700000000, 0};

    void SetUp() override {
        ASSERT_EQ(kes_env_acquire(&m_env), KES_SUCCESS);
        kes_log_set_threshold(m_env->log, KES_LOG_STDERR, KES_LOG_VERBOSE);
        kes_log_set_timestamp(m_env->log, KES_LOG_STDERR, false);
        m_log = std::make_unique<LogCapture>(m_env->log);
        m_socket = m_peer.openClientSocket();
        m_client = tesk2_client_new(m_env);
        ASSERT_NE(m_client, nullptr);
        ASSERT_EQ(tesk2_client_initialise(m_client, nullptr, m_socket), KES_SUCCESS);
        tesk2_client_set_context(m_client, this);
        tesk2_client_set_callback(m_client, &ClientTest::onNotify);
        m_log->clear();
    }

    void TearDown() override {
        tesk2_client_free(m_client);
        kes_socket_close(&m_socket);
        m_log.reset();
        kes_env_release(m_env);
    }

    void enableKeepalive() {
        kes_time interval{10, 0};
        kes_time timeout{31, 0};
        ASSERT_EQ(tesk2_client_enable_keepalive(m_client, k_protocol, &interval, &timeout),
                  KES_SUCCESS);
    }

    // Builds and sends a request with `opcode` and `body`; returns the send's code.
    kes_result sendRequest(uint16_t opcode, const std::vector<uint8_t>& body = {}) {
        tesk2_request* request = nullptr;
        kes_result result = tesk2_client_request_alloc(m_client, &request);
        if (result != KES_SUCCESS) {
            return result;
        }
        m_request = request;
        tesk2_message* message = tesk2_request_message(request);
        tesk2_message_set_header(message, k_protocol, opcode);
        if (!body.empty()) {
            tesk2_message_append(message, body.data(), body.size());
        }
        return tesk2_client_send_request(request);
    }

    // Sends CONNECT and takes it at the peer.
    Datagram sendConnect() {
        EXPECT_EQ(sendRequest(TESK2_OPCODE_CONNECT, {0, 1, 0, 3}), KES_SUCCESS);
        Datagram d;
        EXPECT_TRUE(m_peer.receive(d));
        return d;
    }

    // Connects: CONNECT, a Response from the peer, processed.
    void connect() {
        Datagram d = sendConnect();
        m_peer.reply(d, TESK2_STATUS_RESPONSE);
        EXPECT_EQ(process(), KES_SUCCESS);
        ASSERT_EQ(tesk2_client_get_state(m_client), TESK2_CONNECTED);
        m_notes.clear();
        m_log->clear();
    }

    // Waits for the socket to become readable, then processes.
    kes_result process() {
        waitReadable(m_socket, 2000);
        return tesk2_client_process(m_client);
    }

    static int onNotify(tesk2_client* client, const tesk2_notification* n) {
        auto* self = static_cast<ClientTest*>(tesk2_client_get_context(client));
        Note note{n->flags,
                  n->request,
                  n->request != nullptr && n->request->in_use,
                  n->message != nullptr,
                  n->message ? tesk2_message_seqnum(n->message) : uint16_t{0},
                  n->message ? tesk2_message_opcode(n->message) : uint16_t{0},
                  n->message ? tesk2_message_status(n->message) : uint16_t{0},
                  n->result,
                  tesk2_client_get_state(client)};
        self->m_notes.push_back(note);
        return 0;
    }

    std::vector<std::string> lines() const { return m_log->lines(); }

    TestClock m_clock{k_start};
    ScriptedPeer m_peer;
    kes_env* m_env = nullptr;
    std::unique_ptr<LogCapture> m_log;
    kes_socket m_socket = KES_INVALID_SOCKET;
    tesk2_client* m_client = nullptr;
    tesk2_request* m_request = nullptr;
    std::vector<Note> m_notes;
};

} // namespace qeltest
