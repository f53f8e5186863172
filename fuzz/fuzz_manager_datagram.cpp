// The stand-in manager's protocol core driven by a script: datagrams from a
// few fake clients (raw, or shaped as requests), jumps of a private clock,
// ticks, and the settings the control commands change. Every datagram the
// core puts in its outbox is checked: a whole message (20 to 1472 bytes,
// length field equal to its size, protocol 0x1001), never a request, sent to
// one of the fake clients, an answer carrying its request's seqnum and
// opcode, and options and state bodies that decode. Any violation aborts.
//
// Input: steps (at most 128), each an operation byte, op % 8:
//   0  raw datagram: client byte, 2 bytes size (% 1601), then that many bytes
//   1  request: client byte, kind byte (% 8: keepalive, CONNECT version 3,
//      DISCONNECT, SET CONFIG of the default configuration with one field
//      changed by 2 more bytes, CLEAR SYSTEM ERROR, 2 bytes raw opcode,
//      CONNECT with a raw body, SET CONFIG with a raw body), 2 bytes seqnum;
//      a raw body is 2 bytes size (% 1453) and that many bytes
//   2  clock: 1 byte seconds (% 40), 2 bytes milliseconds (% 1000)
//   3  tick
//   4  setting: kind byte (% 8: system error (2 bytes), lock flags (2 bytes),
//      link (1 byte), silent, not connected, refuse (1 byte each: on when
//      odd), interfaces (1 byte mask of four), options (1 byte: % 3 chooses
//      the built-in set, one without 48000 Hz, one with 128 channels))
//   5  datagram from a sender without an IPv4 address (as op 0)
//   6  CONNECT from the client, then a tick
//   7  nothing
//   A client byte names one of 12 clients: port 40000 + byte % 4, client id
//   byte (byte / 4) % 3.
// Missing bytes read as zero.
#include "kes_log.h"
#include "kes_time.h"
#include "manager_core.h"
#include "options_file.h"
#include "qel_codec.h"
#include "tesk2_body.h"
#include "tesk2_message.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t k_max_steps = 128;
constexpr size_t k_max_datagram = 1600;
constexpr uint16_t k_first_port = 40000;

struct Script {
    const uint8_t* data;
    size_t size;
    size_t at;

    bool done() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint16_t word() {
        const uint16_t high = byte();
        return static_cast<uint16_t>((high << 8) | byte());
    }
    std::vector<uint8_t> bytes(size_t n) {
        std::vector<uint8_t> out;
        for (size_t i = 0; i < n && !done(); ++i) {
            out.push_back(byte());
        }
        return out;
    }
};

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The private clock.
kes_time g_now{1700000000, 0};
kes_result fuzzNow(void*, kes_time* t) {
    *t = g_now;
    return KES_SUCCESS;
}
const kes_clock g_clock{fuzzNow, nullptr, nullptr};

// Every log line goes through the formatter and must be one line.
void onLogLine(void*, const char* line, size_t length) {
    check(line != nullptr && length > 0 && line[length - 1] == '\n');
    check(std::memchr(line, '\n', length) == line + length - 1);
}

kes_log* sharedLog() {
    static kes_log* log = [] {
        kes_log* made = kes_log_new();
        check(made != nullptr);
        const kes_log_sink sink{onLogLine, nullptr};
        kes_log_set_sink(made, KES_LOG_STDERR, &sink);
        kes_log_set_threshold(made, KES_LOG_STDERR, KES_LOG_VERBOSE);
        return made;
    }();
    return log;
}

struct FakeClient {
    kes_address address;
    uint8_t id;
};

FakeClient client(uint8_t selector) {
    FakeClient c{};
    kes_address_set_ipv4(&c.address, KES_FAMILY_IPV4, "127.0.0.1",
                         static_cast<uint16_t>(k_first_port + selector % 4));
    c.id = static_cast<uint8_t>((selector / 4) % 3);
    return c;
}

std::vector<ManagerInterface> interfaces(uint8_t mask) {
    static const char16_t* names[] = {u"eth0", u"wlan0", u"enp3s0", u"\u00e9th1"};
    std::vector<ManagerInterface> out;
    for (uint8_t i = 0; i < 4; ++i) {
        if ((mask & (1u << i)) == 0) {
            continue;
        }
        ManagerInterface entry{};
        entry.name = names[i];
        const uint8_t mac[QEL_MAC_SIZE] = {0x02, 0, 0, 0, 0, static_cast<uint8_t>(i + 1)};
        std::memcpy(entry.mac, mac, QEL_MAC_SIZE);
        entry.linkUp = (mask & (0x10u << i)) == 0;
        entry.speedMbps = i % 2 == 0 ? 1000 : 100;
        entry.ipv4[0] = static_cast<uint8_t>(i == 2 ? 0 : 10);
        entry.ipv4[3] = static_cast<uint8_t>(i + 1);
        out.push_back(entry);
    }
    return out;
}

ManagerOptions optionSet(uint8_t which) {
    ManagerOptions options = defaultManagerOptions();
    if (which % 3 == 1) {
        qel_sample_rate_list& rates = options.options.sample_rates;
        rates.entries[1] = rates.entries[rates.count - 1];
        rates.entries[--rates.count] = qel_sample_rate{};
        options.defaultConfig.sample_rate_hz = rates.entries[0].rate_hz;
    } else if (which % 3 == 2) {
        qel_u16_list& counts = options.options.channel_counts;
        counts.entries[counts.count++] = 128;
        options.options.sample_rates.entries[0].max_channels = 128;
    }
    return options;
}

struct Request {
    bool valid = false;
    kes_address from{};
    uint16_t seqnum = 0;
    uint16_t opcode = 0;
};

uint16_t field(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

bool sameAddress(const kes_address& a, const kes_address& b) {
    return a.address.port == b.address.port && a.address.ipv4 == b.address.ipv4;
}

// Checks everything in the outbox and empties it.
void checkOutbox(Outbox& out, const Request& request) {
    for (const auto& datagram : out) {
        const auto& bytes = datagram.bytes;
        check(bytes.size() >= TESK2_HEADER_SIZE && bytes.size() <= TESK2_DATAGRAM_MAX);
        check(field(bytes, TESK2_OFFSET_LENGTH) == bytes.size());
        check(field(bytes, TESK2_OFFSET_PROTOCOL) == QEL_MANAGER_PROTOCOL);
        const uint16_t status = field(bytes, TESK2_OFFSET_STATUS);
        const uint16_t opcode = field(bytes, TESK2_OFFSET_OPCODE);
        check(status != TESK2_STATUS_REQUEST);
        check(datagram.to.length == sizeof(kes_sockaddr));
        const uint16_t port = kes_address_port(&datagram.to);
        check(port >= k_first_port && port < k_first_port + 4);

        tesk2_message message;
        tesk2_message_init(&message);
        std::memcpy(tesk2_message_data(&message), bytes.data(), bytes.size());
        if (status == TESK2_STATUS_EVENT) {
            check(opcode == QEL_EVENT_OPTIONS || opcode == QEL_EVENT_STATE);
            if (opcode == QEL_EVENT_OPTIONS) {
                qel_options options;
                check(qel_options_decode(&message, &options) == KES_SUCCESS);
            } else {
                qel_state state;
                check(qel_state_decode(&message, &state) == KES_SUCCESS);
            }
            continue;
        }
        // An answer: only to a request, to its sender, with its seqnum and opcode.
        check(request.valid);
        check(sameAddress(datagram.to, request.from));
        check(field(bytes, TESK2_OFFSET_SEQNUM) == request.seqnum);
        check(opcode == request.opcode);
        if (status == TESK2_STATUS_RESPONSE && opcode == TESK2_OPCODE_CONNECT) {
            qel_info info;
            check(qel_info_decode(&message, &info) == KES_SUCCESS);
        }
        if (opcode == QEL_OPCODE_SET_CONFIG || opcode == QEL_OPCODE_CLEAR_SYSTEM_ERROR) {
            if (status != TESK2_STATUS_NOT_CONNECTED &&
                status != TESK2_STATUS_UNRECOGNISED_OPCODE) {
                qel_state state;
                check(qel_state_decode(&message, &state) == KES_SUCCESS);
            }
        }
    }
    out.clear();
}

void deliver(ManagerCore& core, const std::vector<uint8_t>& bytes, const kes_address& from,
             Outbox& out) {
    Request request;
    if (bytes.size() >= TESK2_HEADER_SIZE) {
        request.valid = true;
        request.from = from;
        request.seqnum = field(bytes, TESK2_OFFSET_SEQNUM);
        request.opcode = field(bytes, TESK2_OFFSET_OPCODE);
    }
    core.handleDatagram(bytes.data(), bytes.size(), from, out);
    checkOutbox(out, request);
}

std::vector<uint8_t> shapedRequest(Script& s, const FakeClient& c, const qel_config& base) {
    const uint8_t kind = s.byte() % 8;
    const uint16_t seqnum = s.word();
    tesk2_message message;
    tesk2_message_init(&message);
    uint16_t opcode = TESK2_OPCODE_KEEPALIVE;
    switch (kind) {
    case 1:
    case 6:
        opcode = TESK2_OPCODE_CONNECT;
        break;
    case 2:
        opcode = TESK2_OPCODE_DISCONNECT;
        break;
    case 3:
    case 7:
        opcode = QEL_OPCODE_SET_CONFIG;
        break;
    case 4:
        opcode = QEL_OPCODE_CLEAR_SYSTEM_ERROR;
        break;
    case 5:
        opcode = s.word();
        break;
    default:
        break;
    }
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, opcode);
    tesk2_client_id id{};
    id.id[7] = c.id;
    id.port = kes_address_port(&c.address);
    tesk2_message_set_client_id(&message, &id);
    tesk2_message_set_seqnum(&message, seqnum);
    if (kind == 1) {
        const uint16_t version = QEL_CLIENT_API_VERSION;
        tesk2_message_put_u16_array(&message, 1, &version, nullptr);
    } else if (kind == 3) {
        qel_config config = base;
        const uint8_t which = s.byte();
        const uint8_t value = s.byte();
        switch (which % 6) {
        case 0:
            config.channels = value;
            break;
        case 1:
            config.sample_rate_hz = value % 2 == 0 ? 44100u : 96000u;
            break;
        case 2:
            config.interface.mac[5] = static_cast<uint8_t>(value % 6);
            config.interface.mac[0] = value % 6 == 0 ? 0 : 0x02;
            break;
        case 3:
            config.want_to_run = value;
            break;
        case 4:
            config.audio_interface = value % 3;
            break;
        default:
            config.latency[0] = static_cast<char>(value);
            break;
        }
        qel_config_encode(&config, &message);
    } else if (kind == 6 || kind == 7) {
        const std::vector<uint8_t> body = s.bytes(s.word() % (TESK2_PAYLOAD_MAX + 1));
        if (!body.empty()) {
            tesk2_message_append(&message, body.data(), body.size());
        }
    }
    const uint8_t* data = tesk2_message_data(&message);
    return std::vector<uint8_t>(data, data + tesk2_message_length(&message));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kes_clock_install(&g_clock);
    g_now = kes_time{1700000000, 0};

    ManagerOptions options = defaultManagerOptions();
    std::vector<ManagerInterface> offered = interfaces(0x03);
    qel_config config = options.defaultConfig;
    std::memcpy(config.interface.mac, offered[0].mac, QEL_MAC_SIZE);
    ManagerCore core(sharedLog(), options.options, offered, config);
    unsigned saves = 0;
    core.setConfigChangedCallback([&saves](const qel_config& changed) {
        ++saves;
        check(changed.want_to_run <= 1 && changed.audio_interface <= 1);
    });

    Script s{data, size, 0};
    Outbox out;
    for (size_t step = 0; step < k_max_steps && !s.done(); ++step) {
        const uint8_t op = s.byte() % 8;
        switch (op) {
        case 0:
        case 5: {
            const FakeClient c = client(s.byte());
            const std::vector<uint8_t> bytes = s.bytes(s.word() % (k_max_datagram + 1));
            if (op == 0) {
                deliver(core, bytes, c.address, out);
            } else {
                core.handleDatagram(bytes.data(), bytes.size(), kes_address{}, out);
                check(out.empty());
            }
            break;
        }
        case 1: {
            const FakeClient c = client(s.byte());
            deliver(core, shapedRequest(s, c, config), c.address, out);
            break;
        }
        case 2: {
            const kes_time step_by{s.byte() % 40, static_cast<int32_t>((s.word() % 1000) * 1000)};
            kes_time_add(&g_now, &step_by);
            break;
        }
        case 3:
            core.tick();
            break;
        case 4: {
            const uint8_t kind = s.byte() % 8;
            switch (kind) {
            case 0:
                core.setSystemError(s.word(), out);
                break;
            case 1:
                core.setLock(s.word(), out);
                break;
            case 2:
                core.setLink(s.byte() % 2 == 1, out);
                break;
            case 3:
                core.setSilent(s.byte() % 2 == 1, out);
                break;
            case 4:
                core.setNotConnected(s.byte() % 2 == 1, out);
                break;
            case 5:
                core.setRefuse(s.byte() % 2 == 1);
                break;
            case 6:
                core.setInterfaces(interfaces(s.byte()), out);
                break;
            default: {
                const ManagerOptions next = optionSet(s.byte());
                core.setOptions(next.options, interfaces(0x0f), next.defaultConfig, out);
                break;
            }
            }
            checkOutbox(out, Request{});
            break;
        }
        case 6: {
            const FakeClient c = client(s.byte());
            tesk2_message message;
            tesk2_message_init(&message);
            tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, TESK2_OPCODE_CONNECT);
            const uint16_t version = QEL_CLIENT_API_VERSION;
            tesk2_message_put_u16_array(&message, 1, &version, nullptr);
            tesk2_client_id id{};
            id.id[7] = c.id;
            tesk2_message_set_client_id(&message, &id);
            const uint8_t* bytes = tesk2_message_data(&message);
            deliver(core, std::vector<uint8_t>(bytes, bytes + tesk2_message_length(&message)),
                    c.address, out);
            core.tick();
            break;
        }
        default:
            break;
        }
        // Invariants after every step.
        check(core.sessions().size() <= MANAGER_MAX_CLIENTS);
        check(core.options().interfaces.count == core.interfaces().size());
        check(qel_config_is_valid(&core.options(), &core.config()) ||
              ManagerCore::validApartFromInterface(core.options(), core.config()));
        check(std::memcmp(&core.state().config, &core.config(), sizeof(qel_config)) == 0);
        check(core.state().link_up <= 1);
    }
    kes_clock_install(nullptr);
    return 0;
}
