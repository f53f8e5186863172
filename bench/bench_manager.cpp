// SET CONFIG round trips against the stand-in manager's protocol core: one
// panel-side manager client sends a configuration, waits for the answer with
// the new state and sends the next one. The core is served on a real UDP
// socket on 127.0.0.1 by a thread of this process, so every round trip is two
// loopback datagrams, the codec on both sides and the core's validation.
#include "kes_env.h"
#include "kes_socket.h"
#include "manager_core.h"
#include "options_file.h"
#include "qel_client.h"
#include "tesk2_client.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "bench_manager: %s\n", what);
    std::abort();
}

// The core on an ephemeral port, served until the server is destroyed.
class Server {
public:
    Server() {
        kes_address local{};
        if (kes_address_set_ipv4(&local, KES_FAMILY_IPV4, "127.0.0.1", 0) != KES_SUCCESS ||
            kes_socket_open_udp(&m_socket, KES_FAMILY_IPV4) != KES_SUCCESS ||
            kes_socket_bind(m_socket, &local) != KES_SUCCESS ||
            kes_socket_set_blocking(m_socket, 0) != KES_SUCCESS ||
            kes_socket_local_address(m_socket, &local) != KES_SUCCESS) {
            fail("cannot open the server socket");
        }
        m_port = kes_address_port(&local);

        ManagerOptions options = defaultManagerOptions();
        ManagerInterface eth0{std::u16string(u"eth0"), {}, true, 1000, {}};
        const uint8_t mac[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};
        std::memcpy(eth0.mac, mac, QEL_MAC_SIZE);
        m_core = std::make_unique<ManagerCore>(
            nullptr, options.options, std::vector<ManagerInterface>{eth0}, options.defaultConfig);
        m_thread = std::thread([this] { serve(); });
    }
    ~Server() {
        m_stop = true;
        m_thread.join();
        kes_socket_close(&m_socket);
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    uint16_t port() const { return m_port; }

private:
    void serve() {
        std::vector<uint8_t> buffer(65536);
        Outbox out;
        const kes_time wait{0, 50000};
        while (!m_stop) {
            if (kes_socket_wait_readable(m_socket, &wait) != KES_SUCCESS) {
                continue;
            }
            size_t size = buffer.size();
            kes_address from{};
            if (kes_socket_recv_from(m_socket, buffer.data(), &size, &from) != KES_SUCCESS) {
                continue;
            }
            m_core->handleDatagram(buffer.data(), size, from, out);
            for (const auto& datagram : out) {
                size_t length = datagram.bytes.size();
                kes_socket_send_to(m_socket, datagram.bytes.data(), &length, &datagram.to);
            }
            out.clear();
        }
    }

    kes_socket m_socket = KES_INVALID_SOCKET;
    uint16_t m_port = 0;
    std::unique_ptr<ManagerCore> m_core;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Drives the client until `done` holds; aborts after 5 s without it.
template <typename Done> void pump(qel_client* client, Done done) {
    for (int i = 0; i < 5000 && !done(); ++i) {
        const kes_time step{0, 1000};
        kes_socket_wait_readable(client->socket, &step);
        tesk2_client_process(client->protocol);
    }
    if (!done()) {
        fail("no answer from the manager core");
    }
}

void BM_SetConfigRoundTrip(benchmark::State& state) {
    Server server;
    kes_env* env = nullptr;
    qel_client* client = nullptr;
    if (kes_env_acquire(&env) != KES_SUCCESS ||
        qel_client_new_on_port(env, server.port(), &client) != KES_SUCCESS ||
        qel_client_connect(client) != KES_SUCCESS) {
        fail("cannot connect");
    }
    const uint32_t all = QEL_CLIENT_INFO_VALID | QEL_CLIENT_OPTIONS_VALID | QEL_CLIENT_STATE_VALID;
    pump(client, [&] { return client->status == TESK2_CONNECTED && (client->flags & all) == all; });

    // Two configurations in turn, so that every answer carries a new state.
    qel_config configs[2] = {client->state.config, client->state.config};
    configs[1].channels = 16;
    configs[1].want_to_run = 1;
    size_t turn = 0;
    for (auto _ : state) {
        if (qel_client_set_system_config(&configs[turn], client) != KES_SUCCESS) {
            fail("SET CONFIG refused by the client");
        }
        pump(client, [&] { return client->pending == nullptr; });
        turn ^= 1;
    }
    if (std::memcmp(&client->state.config, &configs[turn ^ 1], sizeof(qel_config)) != 0) {
        fail("the last answer does not carry the configuration sent");
    }
    state.SetItemsProcessed(state.iterations());
    qel_client_disconnect(client);
    qel_client_free(client);
    kes_env_release(env);
}
BENCHMARK(BM_SetConfigRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
