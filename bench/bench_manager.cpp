// SET CONFIG round trips from a panel-side manager client to the stand-in
// manager, each beside a raw UDP ping-pong of the same datagram sizes between
// the same kinds of sockets, so that the ratio shows what the protocol, the
// codec and the manager's handling add to what the kernel costs:
//
//   RawPingPong_Thread    raw datagrams; the peer is a thread of this process
//   SetConfig_Thread      the manager's protocol core served by such a thread
//   RawPingPong_Process   raw datagrams; the peer is a child process
//   SetConfig_QelManager  the qel-manager program itself, which also saves
//                         every new configuration to its state file
//
// Both sides are arranged alike in each pair: the client has a connected,
// non-blocking socket and waits in poll() in steps of 1 ms; the peer has a
// bound socket, waits in poll() in steps of 50 ms, receives with the sender's
// address and answers to it. Each round trip sends a configuration that
// differs from the one in force, so every answer carries a new state.
#include "kes_env.h"
#include "kes_socket.h"
#include "manager_core.h"
#include "manager_process.h"
#include "options_file.h"
#include "qel_client.h"
#include "qel_codec.h"
#include "tesk2_client.h"

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "bench_manager: %s\n", what);
    std::abort();
}

// What a peer does with one received datagram: appends its answers.
using Answerer =
    std::function<void(const uint8_t* data, size_t size, const kes_address& from, Outbox& out)>;

// A bound, non-blocking UDP socket on an ephemeral port of 127.0.0.1.
kes_socket openPeerSocket(uint16_t* port) {
    kes_socket sock = KES_INVALID_SOCKET;
    kes_address local{};
    if (kes_address_set_ipv4(&local, KES_FAMILY_IPV4, "127.0.0.1", 0) != KES_SUCCESS ||
        kes_socket_open_udp(&sock, KES_FAMILY_IPV4) != KES_SUCCESS ||
        kes_socket_bind(sock, &local) != KES_SUCCESS ||
        kes_socket_set_blocking(sock, 0) != KES_SUCCESS ||
        kes_socket_local_address(sock, &local) != KES_SUCCESS) {
        fail("cannot open the peer socket");
    }
    *port = kes_address_port(&local);
    return sock;
}

// The peer's loop: wait, receive, answer, until `stop` holds.
void serve(kes_socket sock, const Answerer& answer, const std::function<bool()>& stop) {
    std::vector<uint8_t> buffer(65536);
    Outbox out;
    const kes_time wait{0, 50000};
    while (!stop()) {
        if (kes_socket_wait_readable(sock, &wait) != KES_SUCCESS) {
            continue;
        }
        size_t size = buffer.size();
        kes_address from{};
        if (kes_socket_recv_from(sock, buffer.data(), &size, &from) != KES_SUCCESS) {
            continue;
        }
        answer(buffer.data(), size, from, out);
        for (const auto& datagram : out) {
            size_t length = datagram.bytes.size();
            kes_socket_send_to(sock, datagram.bytes.data(), &length, &datagram.to);
        }
        out.clear();
    }
}

// A peer served by a thread of this process until it is destroyed.
class ThreadPeer {
public:
    explicit ThreadPeer(Answerer answer) : m_answer(std::move(answer)) {
        m_socket = openPeerSocket(&m_port);
        m_thread =
            std::thread([this] { serve(m_socket, m_answer, [this] { return m_stop.load(); }); });
    }
    ~ThreadPeer() {
        m_stop = true;
        m_thread.join();
        kes_socket_close(&m_socket);
    }
    ThreadPeer(const ThreadPeer&) = delete;
    ThreadPeer& operator=(const ThreadPeer&) = delete;

    uint16_t port() const { return m_port; }

private:
    Answerer m_answer;
    kes_socket m_socket = KES_INVALID_SOCKET;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A peer served by a child process until it is destroyed (the child also
// ends when this process does).
class ProcessPeer {
public:
    explicit ProcessPeer(const Answerer& answer) {
        m_socket = openPeerSocket(&m_port);
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid < 0) {
            fail("cannot fork the peer");
        }
        if (m_pid == 0) {
            serve(m_socket, answer, [parent] { return getppid() != parent; });
            _exit(0);
        }
        kes_socket_close(&m_socket);
    }
    ~ProcessPeer() {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    ProcessPeer(const ProcessPeer&) = delete;
    ProcessPeer& operator=(const ProcessPeer&) = delete;

    uint16_t port() const { return m_port; }

private:
    kes_socket m_socket = KES_INVALID_SOCKET;
    uint16_t m_port = 0;
    pid_t m_pid = -1;
};

// The manager's protocol core with the built-in options and one interface.
std::unique_ptr<ManagerCore> makeCore() {
    ManagerOptions options = defaultManagerOptions();
    ManagerInterface eth0{std::u16string(u"eth0"), {}, true, 1000, {}};
    const uint8_t mac[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};
    std::memcpy(eth0.mac, mac, QEL_MAC_SIZE);
    return std::make_unique<ManagerCore>(
        nullptr, options.options, std::vector<ManagerInterface>{eth0}, options.defaultConfig);
}

// Waits on the client's socket in steps of 1 ms until `done` holds; aborts
// after 5 s without it.
template <typename Done> void waitFor(kes_socket sock, Done done) {
    for (int i = 0; i < 5000; ++i) {
        const kes_time step{0, 1000};
        kes_socket_wait_readable(sock, &step);
        if (done()) {
            return;
        }
    }
    fail("no answer from the peer");
}

// The sizes of a SET CONFIG request and of its answer with a state, as the
// client and the manager build them.
struct DatagramSizes {
    size_t request;
    size_t answer;
};

DatagramSizes setConfigSizes() {
    const std::unique_ptr<ManagerCore> core = makeCore();
    tesk2_message message;
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, QEL_OPCODE_SET_CONFIG);
    if (qel_config_encode(&core->config(), &message) != KES_SUCCESS) {
        fail("the configuration does not encode");
    }
    DatagramSizes sizes{tesk2_message_length(&message), 0};
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, QEL_OPCODE_SET_CONFIG);
    if (qel_state_encode(&core->state(), &message) != KES_SUCCESS) {
        fail("the state does not encode");
    }
    sizes.answer = tesk2_message_length(&message);
    return sizes;
}

// Answers every datagram with `size` bytes.
Answerer rawAnswerer(size_t size) {
    auto reply = std::make_shared<std::vector<uint8_t>>(size, 0x5a);
    return [reply](const uint8_t*, size_t, const kes_address& from, Outbox& out) {
        out.push_back(ManagerDatagram{from, *reply});
    };
}

void rawPingPong(benchmark::State& state, uint16_t port, const DatagramSizes& sizes) {
    kes_socket sock = KES_INVALID_SOCKET;
    kes_address peer{};
    if (kes_address_set_ipv4(&peer, KES_FAMILY_IPV4, "127.0.0.1", port) != KES_SUCCESS ||
        kes_socket_open_connected(&sock, &peer) != KES_SUCCESS ||
        kes_socket_set_blocking(sock, 0) != KES_SUCCESS) {
        fail("cannot open the client socket");
    }
    std::vector<uint8_t> request(sizes.request, 0xa5);
    std::vector<uint8_t> buffer(65536);
    for (auto _ : state) {
        size_t size = request.size();
        if (kes_socket_send(sock, request.data(), &size) != KES_SUCCESS) {
            fail("send failed");
        }
        waitFor(sock, [&] {
            size = buffer.size();
            return kes_socket_recv(sock, buffer.data(), &size) == KES_SUCCESS;
        });
        if (size != sizes.answer) {
            fail("the answer has the wrong size");
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["request_bytes"] = static_cast<double>(sizes.request);
    state.counters["answer_bytes"] = static_cast<double>(sizes.answer);
    kes_socket_close(&sock);
}

void setConfigRoundTrips(benchmark::State& state, uint16_t port) {
    kes_env* env = nullptr;
    qel_client* client = nullptr;
    if (kes_env_acquire(&env) != KES_SUCCESS ||
        qel_client_new_on_port(env, port, &client) != KES_SUCCESS ||
        qel_client_connect(client) != KES_SUCCESS) {
        fail("cannot connect");
    }
    auto pump = [client](auto done) {
        waitFor(client->socket, [&] {
            tesk2_client_process(client->protocol);
            return done();
        });
    };
    const uint32_t all = QEL_CLIENT_INFO_VALID | QEL_CLIENT_OPTIONS_VALID | QEL_CLIENT_STATE_VALID;
    pump([&] { return client->status == TESK2_CONNECTED && (client->flags & all) == all; });

    // Two configurations in turn, so that every answer carries a new state.
    qel_config configs[2] = {client->state.config, client->state.config};
    configs[1].channels = configs[0].channels == 16 ? 8 : 16;
    configs[1].want_to_run = configs[0].want_to_run == 0 ? 1 : 0;
    size_t turn = 1;
    for (auto _ : state) {
        if (qel_client_set_system_config(&configs[turn], client) != KES_SUCCESS) {
            fail("SET CONFIG refused by the client");
        }
        pump([&] { return client->pending == nullptr; });
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

void BM_RawPingPong_Thread(benchmark::State& state) {
    const DatagramSizes sizes = setConfigSizes();
    ThreadPeer peer(rawAnswerer(sizes.answer));
    rawPingPong(state, peer.port(), sizes);
}

void BM_SetConfig_Thread(benchmark::State& state) {
    std::shared_ptr<ManagerCore> core = makeCore();
    ThreadPeer peer([core](const uint8_t* data, size_t size, const kes_address& from, Outbox& out) {
        core->handleDatagram(data, size, from, out);
    });
    setConfigRoundTrips(state, peer.port());
}

void BM_RawPingPong_Process(benchmark::State& state) {
    const DatagramSizes sizes = setConfigSizes();
    ProcessPeer peer(rawAnswerer(sizes.answer));
    rawPingPong(state, peer.port(), sizes);
}

// The program on a free port with a fixed interface list and its own control
// socket in a scratch directory. It saves every new configuration to its
// state file (written, flushed to disk, renamed, directory flushed) before it
// answers: the state file lies in the scratch directory on disk, or on a
// memory file system where flushing costs nothing.
void BM_SetConfig_QelManager(benchmark::State& state, bool stateInMemory) {
    qeltest::ScratchDir dir;
    std::vector<std::string> extra;
    std::string memoryState;
    if (stateInMemory) {
        memoryState = "/dev/shm/qel-bench-state-" + std::to_string(getpid()) + ".json";
        extra = {"--state", memoryState};
    }
    qeltest::ManagerProcess manager(dir, extra);
    if (!manager.waitReady()) {
        fail("qel-manager did not start");
    }
    setConfigRoundTrips(state, manager.port());
    if (manager.stop(SIGTERM) != 0) {
        fail("qel-manager did not stop cleanly");
    }
    if (!memoryState.empty()) {
        unlink(memoryState.c_str());
    }
}

BENCHMARK(BM_RawPingPong_Thread)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SetConfig_Thread)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RawPingPong_Process)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_SetConfig_QelManager, state_on_disk, false)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_SetConfig_QelManager, state_in_memory, true)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

} // namespace
