// The manager client driven by a script: after a real connect (the loopback
// "manager" answers CONNECT with an info record, then sends an options and a
// state event), datagrams from the manager, the panel's requests, jumps of a
// private clock and a disconnect come in any order. Every notification the
// client gets from its protocol client is replayed on a model of the record
// first, and what the client then raised and stored must be what the model
// says; after every step and in every owner notification the record is
// checked for shape. Any violation aborts.
//
// Input: steps (at most 64), each an operation byte, op % 8:
//   0  raw datagram: 2 bytes size (% 1601), then that many bytes; process
//   1  shaped datagram (below); process
//   2  shaped datagram, left waiting for the next process
//   3  qel_client_set_system_config with the sample configuration
//   4  the same with an edited configuration (below)
//   5  qel_client_clear_system_error
//   6  clock jump: mode byte, even: 1 byte seconds (% 41), odd: 2 bytes
//      milliseconds (% 40001); process
//   7  qel_client_disconnect
//   Shaped datagram: status byte (>= 0xf0: 2 more bytes raw status, else one
//   of the 13 known statuses, the manager's own included), seqnum byte (% 4:
//   0 and 1 the pending request's, or the slot's when none is pending, 2 the
//   last keepalive's, 3 two more bytes raw), opcode byte (% 6: 0x0100,
//   0x0102, 0x0110, 0x0111, 0x0001, 2 more bytes raw), body byte (% 8: 0
//   empty, 1 info, 2 and 6 options, 3, 4 and 7 state, 5 raw: 2 bytes size
//   (% 1453) and the bytes; byte / 8 picks a variant of the encoded record).
//   An encoded body is followed by a mutation byte: % 4 byte flips (each 2
//   bytes offset and 1 byte mask), and with bit 2 a cut to 2 bytes (% size
//   + 1) of length.
//   Edited configuration: 1 byte, % 4 edits; each edit a field byte and a
//   value byte (field % 11; below 0x80 a value offered by the stored options
//   where the field has one, else raw; field 10 xors a byte at a 2-byte
//   offset anywhere in the record).
// Missing bytes read as zero.
#include "kes_env.h"
#include "kes_log.h"
#include "kes_socket.h"
#include "kes_text.h"
#include "kes_time.h"
#include "qel_client.h"
#include "qel_codec.h"
#include "qel_records.h"
#include "tesk2_client.h"
#include "tesk2_message.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t k_max_steps = 64;
constexpr size_t k_max_datagram = 1600;
constexpr size_t k_max_waiting = 24; // datagrams sent since the last complete read
constexpr int64_t k_clock_start = 1700000000;
constexpr uint32_t k_all_valid =
    QEL_CLIENT_INFO_VALID | QEL_CLIENT_OPTIONS_VALID | QEL_CLIENT_STATE_VALID;

struct Script {
    const uint8_t* data;
    size_t size;
    size_t at;

    bool done() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint16_t word() {
        uint16_t high = byte();
        return static_cast<uint16_t>((high << 8) | byte());
    }
};

// A failed check names its line, so that distinct findings tell apart.
void check(bool condition, unsigned line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_qel_client: check failed at line %u\n", line);
        std::abort();
    }
}

// ---- Sample records ----

const uint8_t k_eth0_mac[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};
const uint8_t k_wlan0_mac[QEL_MAC_SIZE] = {0x02, 0x42, 0xac, 0x11, 0x00, 0x02};

void setName(char16_t* destination, const char16_t* name) {
    size_t i = 0;
    for (; name[i] != 0 && i + 1 < QEL_INTERFACE_NAME_SIZE; ++i) {
        destination[i] = name[i];
    }
    destination[i] = 0;
}

// A name of 63 units: the longest an interface can have.
void setLongName(char16_t* destination, char16_t fill) {
    for (size_t i = 0; i + 1 < QEL_INTERFACE_NAME_SIZE; ++i) {
        destination[i] = fill;
    }
    destination[QEL_INTERFACE_NAME_SIZE - 1] = 0;
}

// Variant bits: 1 a latency's microseconds differ, 2 one channel count less,
// 4 a third interface with a long name, 8 sixteen ASIO buffer sizes, 16 every
// list full with long names (too big for one datagram).
qel_options sampleOptions(uint8_t variant) {
    qel_options o;
    std::memset(&o, 0, sizeof o);
    const uint16_t channels[] = {2, 4, 8, 16, 32, 64};
    o.channel_counts.count = (variant & 2) != 0 ? 5 : 6;
    std::memcpy(o.channel_counts.entries, channels, o.channel_counts.count * sizeof channels[0]);

    o.interfaces.count = 2;
    setName(o.interfaces.entries[0].name, u"eth0");
    std::memcpy(o.interfaces.entries[0].mac, k_eth0_mac, QEL_MAC_SIZE);
    setName(o.interfaces.entries[1].name, u"wlan0");
    std::memcpy(o.interfaces.entries[1].mac, k_wlan0_mac, QEL_MAC_SIZE);
    if ((variant & 4) != 0) {
        o.interfaces.count = 3;
        setLongName(o.interfaces.entries[2].name, u'x');
        const uint8_t mac[QEL_MAC_SIZE] = {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
        std::memcpy(o.interfaces.entries[2].mac, mac, QEL_MAC_SIZE);
    }

    o.sample_rates.count = 3;
    o.sample_rates.entries[0] = {44100, 64};
    o.sample_rates.entries[1] = {48000, 64};
    o.sample_rates.entries[2] = {96000, 32};

    o.sample_formats.count = 2;
    o.sample_formats.entries[0] = 16;
    o.sample_formats.entries[1] = 24;

    o.latencies.count = 3;
    const char* names[] = {"Low", "Medium", "High"};
    const uint32_t micros[] = {1000, (variant & 1) != 0 ? 2500u : 2000u, 5000};
    for (size_t i = 0; i < 3; ++i) {
        kes_strlcpy(o.latencies.entries[i].name, names[i], QEL_LATENCY_NAME_SIZE);
        o.latencies.entries[i].latency_us = micros[i];
    }

    o.asio_latencies.count = 2;
    o.asio_latencies.entries[0] = 1000;
    o.asio_latencies.entries[1] = 2000;
    o.asio_buffer_sizes.count = 3;
    o.asio_buffer_sizes.entries[0] = 64;
    o.asio_buffer_sizes.entries[1] = 128;
    o.asio_buffer_sizes.entries[2] = 256;
    if ((variant & 8) != 0) {
        o.asio_buffer_sizes.count = QEL_OPTIONS_LIST_MAX;
        for (size_t i = 0; i < QEL_OPTIONS_LIST_MAX; ++i) {
            o.asio_buffer_sizes.entries[i] = static_cast<uint32_t>(32 * (i + 1));
        }
    }
    o.asio_encodings.count = 2;
    o.asio_encodings.entries[0] = 16;
    o.asio_encodings.entries[1] = 24;

    if ((variant & 16) != 0) {
        o.interfaces.count = QEL_OPTIONS_LIST_MAX;
        o.latencies.count = QEL_OPTIONS_LIST_MAX;
        for (size_t i = 0; i < QEL_OPTIONS_LIST_MAX; ++i) {
            setLongName(o.interfaces.entries[i].name, static_cast<char16_t>(u'a' + i));
            o.interfaces.entries[i].mac[5] = static_cast<uint8_t>(i + 1);
            std::memset(o.latencies.entries[i].name, 'a' + static_cast<int>(i),
                        QEL_LATENCY_NAME_SIZE - 1);
            o.latencies.entries[i].name[QEL_LATENCY_NAME_SIZE - 1] = '\0';
            o.latencies.entries[i].latency_us = static_cast<uint32_t>(100 * (i + 1));
        }
    }
    return o;
}

qel_config sampleConfig() {
    qel_config c;
    std::memset(&c, 0, sizeof c);
    c.channels = 16;
    setName(c.interface.name, u"eth0");
    std::memcpy(c.interface.mac, k_eth0_mac, QEL_MAC_SIZE);
    c.sample_rate_hz = 48000;
    c.sample_format = 24;
    kes_strlcpy(c.latency, "Medium", sizeof c.latency);
    c.want_to_run = 1;
    c.audio_interface = QEL_AUDIO_INTERFACE_WDM;
    c.asio_latency_us = 2000;
    c.asio_buffer_size = 128;
    c.asio_encoding = 24;
    return c;
}

// Variant bits 0-2 pick the system error, 8 the link is down, 16 another
// configuration is in force.
qel_state sampleState(uint8_t variant) {
    static const uint16_t errors[] = {QEL_SYSTEM_ERROR_NONE,        QEL_SYSTEM_ERROR_MISSING,
                                      QEL_SYSTEM_ERROR_MANAGER,     QEL_SYSTEM_ERROR_INVALID_CONFIG,
                                      QEL_SYSTEM_ERROR_DRIVER,      QEL_SYSTEM_ERROR_DRIVER_MISSING,
                                      QEL_SYSTEM_ERROR_PTP_MISSING, QEL_SYSTEM_ERROR_TAVRO};
    qel_state s;
    std::memset(&s, 0, sizeof s);
    s.config = sampleConfig();
    if ((variant & 16) != 0) {
        s.config.channels = 8;
        s.config.sample_rate_hz = 96000;
        kes_strlcpy(s.config.latency, "Low", sizeof s.config.latency);
    }
    s.system_error = errors[variant & 7];
    s.link_up = (variant & 8) != 0 ? 0 : 1;
    s.link_speed = (variant & 8) != 0 ? 0 : 1000;
    const uint8_t ip[] = {192, 168, 1, 20};
    std::memcpy(s.ip_address, ip, sizeof ip);
    kes_strlcpy(s.device_name, "Qelvane", sizeof s.device_name);
    const char16_t process[] = u"qel-manager";
    std::memcpy(s.dll_process_name, process, sizeof process);
    return s;
}

// Variant bits 0-2 move the build, 8 and 16 pick the suffix.
qel_info sampleInfo(uint8_t variant) {
    static const char* const suffixes[] = {"", "-rc1", "1234567", "b"};
    qel_info info;
    std::memset(&info, 0, sizeof info);
    info.first_value = 1;
    info.major = 2;
    info.minor = 5;
    info.build = static_cast<uint16_t>(1234 + (variant & 7));
    kes_strlcpy(info.suffix, suffixes[(variant >> 3) & 3], sizeof info.suffix);
    return info;
}

// ---- Record shape ----

template <typename Unit> void checkText(const Unit* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n] != 0) {
        ++n;
    }
    check(n < capacity);
    for (size_t i = n; i < capacity; ++i) {
        check(text[i] == 0);
    }
}

template <typename List> void checkList(const List& list) {
    check(list.count <= QEL_OPTIONS_LIST_MAX);
    static const uint8_t zero[sizeof list.entries[0]] = {};
    for (size_t i = list.count; i < QEL_OPTIONS_LIST_MAX; ++i) {
        check(std::memcmp(&list.entries[i], zero, sizeof zero) == 0);
    }
}

void checkInfo(const qel_info& info) {
    checkText(info.suffix, QEL_INFO_SUFFIX_SIZE);
}

void checkOptions(const qel_options& o) {
    checkList(o.channel_counts);
    checkList(o.interfaces);
    checkList(o.sample_rates);
    checkList(o.sample_formats);
    checkList(o.latencies);
    checkList(o.asio_latencies);
    checkList(o.asio_buffer_sizes);
    checkList(o.asio_encodings);
    for (size_t i = 0; i < o.interfaces.count; ++i) {
        checkText(o.interfaces.entries[i].name, QEL_INTERFACE_NAME_SIZE);
    }
    for (size_t i = 0; i < o.latencies.count; ++i) {
        checkText(o.latencies.entries[i].name, QEL_LATENCY_NAME_SIZE);
    }
}

void checkState(const qel_state& s) {
    checkText(s.config.interface.name, QEL_INTERFACE_NAME_SIZE);
    checkText(s.config.latency, QEL_LATENCY_NAME_SIZE);
    check(s.config.want_to_run <= 1);
    check(s.config.audio_interface <= 0xFFFF);
    check(s.link_up <= 1);
    checkText(s.device_name, QEL_DEVICE_NAME_SIZE);
    checkText(s.dll_process_name, QEL_DLL_PROCESS_NAME_SIZE);
}

template <typename Record> bool isZero(const Record& record) {
    static const uint8_t zero[sizeof record] = {};
    return std::memcmp(&record, zero, sizeof record) == 0;
}

template <typename Record> bool same(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// What the owner can see of the record.
struct View {
    uint32_t status;
    uint32_t flags;
    tesk2_request* pending;
    qel_info info;
    qel_options options;
    qel_state state;
};

void capture(const qel_client* client, View* view) {
    std::memset(view, 0, sizeof *view);
    view->status = client->status;
    view->flags = client->flags;
    view->pending = client->pending;
    std::memcpy(&view->info, &client->info, sizeof view->info);
    std::memcpy(&view->options, &client->options, sizeof view->options);
    std::memcpy(&view->state, &client->state, sizeof view->state);
}

bool sameView(const View& a, const View& b) {
    return a.status == b.status && a.flags == b.flags && a.pending == b.pending &&
           same(a.info, b.info) && same(a.options, b.options) && same(a.state, b.state);
}

// ---- The loopback manager and the run ----

struct Server {
    kes_socket socket = KES_INVALID_SOCKET;
    kes_address address{};
    kes_env* env = nullptr;
};

// Everything one input works on; both callbacks reach it through the
// client's owner context.
struct Run {
    qel_client* client = nullptr;
    kes_address address{};
    uint16_t port = 0;
    uint16_t nextSeqnum = 0;            // of the client's next datagram seen by the manager
    size_t waiting = 0;                 // datagrams sent to the client since its last full read
    View seen{};                        // the record as the owner was last told
    bool inProtocol = false;            // inside the protocol client's notification
    std::vector<QelClientEvent> events; // raised during the current notification
    qel_config lastConfig{};            // the configuration last offered to the client
    bool disconnected = false;          // a disconnect went out (the slot stays in pending)
};

kes_time g_now{k_clock_start, 0};

kes_result fuzzNow(void*, kes_time* t) {
    *t = g_now;
    return KES_SUCCESS;
}

const kes_clock g_clock{fuzzNow, nullptr, nullptr};

// Every line the client logs ends in a line feed. With QEL_FUZZ_LOG set in the
// environment the lines also go to standard error, to follow what an input
// does.
void logSink(void* echo, const char* line, size_t length) {
    check(line != nullptr && length > 0 && line[length - 1] == '\n');
    if (echo != nullptr) {
        std::fwrite(line, 1, length, stderr);
    }
}

Server* server() {
    static Server* instance = [] {
        auto* s = new Server;
        check(kes_env_acquire(&s->env) == KES_SUCCESS);
        kes_log_sink quiet{logSink, nullptr};
        kes_log_sink sink{logSink, std::getenv("QEL_FUZZ_LOG") != nullptr ? s : nullptr};
        kes_log_set_sink(s->env->log, KES_LOG_STDOUT, &quiet);
        kes_log_set_sink(s->env->log, KES_LOG_STDERR, &sink);
        kes_log_set_timestamp(s->env->log, KES_LOG_STDERR, false);
        kes_log_set_threshold(s->env->log, KES_LOG_STDERR, KES_LOG_VERBOSE);
        kes_address bindTo{};
        check(kes_address_set_ipv4(&bindTo, KES_FAMILY_IPV4, "127.0.0.1", 0) == KES_SUCCESS);
        check(kes_socket_open_udp(&s->socket, KES_FAMILY_IPV4) == KES_SUCCESS);
        check(kes_socket_bind(s->socket, &bindTo) == KES_SUCCESS);
        check(kes_socket_set_blocking(s->socket, 0) == KES_SUCCESS);
        check(kes_socket_local_address(s->socket, &s->address) == KES_SUCCESS);
        return s;
    }();
    return instance;
}

uint16_t field(const uint8_t* data, size_t offset) {
    return static_cast<uint16_t>((data[offset] << 8) | data[offset + 1]);
}

void putField(uint8_t* data, size_t offset, uint16_t value) {
    data[offset] = static_cast<uint8_t>(value >> 8);
    data[offset + 1] = static_cast<uint8_t>(value);
}

tesk2_request* slot(const Run& run) {
    return &run.client->protocol->requests[0];
}

// The shape every record must have at any moment the owner can look.
void checkShape(const Run& run) {
    const qel_client* client = run.client;
    check((client->flags & ~k_all_valid) == 0);
    check(client->status <= TESK2_CONNECTED);
    check(client->pending == nullptr || client->pending == slot(run));
    if (client->status == TESK2_DISCONNECTED) {
        check(client->flags == 0);
    }
    if ((client->flags & QEL_CLIENT_INFO_VALID) != 0) {
        checkInfo(client->info);
    } else {
        check(isZero(client->info));
    }
    if ((client->flags & QEL_CLIENT_OPTIONS_VALID) != 0) {
        checkOptions(client->options);
    } else {
        check(isZero(client->options));
    }
    if ((client->flags & QEL_CLIENT_STATE_VALID) != 0) {
        checkState(client->state);
    } else {
        check(isZero(client->state));
    }
    // Whatever is stored, a configuration can be checked against it.
    const qel_config sample = sampleConfig();
    (void)qel_config_is_valid(&client->options, &sample);
    (void)qel_config_is_valid(&client->options, &run.lastConfig);
}

// Between steps: the status follows the protocol client, the slot is in use
// only for the pending request, and nothing changed since the owner was last
// told.
void checkSettled(Run& run) {
    checkShape(run);
    const qel_client* client = run.client;
    check(client->status == tesk2_client_get_state(client->protocol));
    if (slot(run)->in_use) {
        check(client->pending == slot(run));
    } else if (client->pending != nullptr) {
        check(run.disconnected);
    }
    View now;
    capture(client, &now);
    check(sameView(now, run.seen));
}

// ---- The model of one notification ----

struct Model {
    View view;
    std::vector<QelClientEvent> events;
};

void modelInfo(Model* m, const qel_info& info) {
    if ((m->view.flags & QEL_CLIENT_INFO_VALID) != 0 && same(m->view.info, info)) {
        return;
    }
    m->view.flags |= QEL_CLIENT_INFO_VALID;
    m->view.info = info;
    m->events.push_back(QEL_CLIENT_EVENT_INFO);
}

void modelOptions(Model* m, const qel_options& options) {
    if ((m->view.flags & QEL_CLIENT_OPTIONS_VALID) != 0 &&
        qel_options_equal(&m->view.options, &options)) {
        return;
    }
    m->view.flags |= QEL_CLIENT_OPTIONS_VALID;
    std::memcpy(&m->view.options, &options, sizeof options);
    m->events.push_back(QEL_CLIENT_EVENT_OPTIONS);
}

void modelState(Model* m, const qel_state& state) {
    if ((m->view.flags & QEL_CLIENT_STATE_VALID) != 0 && same(m->view.state, state)) {
        return;
    }
    m->view.flags |= QEL_CLIENT_STATE_VALID;
    std::memcpy(&m->view.state, &state, sizeof state);
    m->events.push_back(QEL_CLIENT_EVENT_STATE);
}

template <typename Record>
void modelClear(Model* m, uint32_t bit, Record* record, QelClientEvent event) {
    if ((m->view.flags & bit) == 0) {
        return;
    }
    m->view.flags &= ~bit;
    std::memset(record, 0, sizeof *record);
    m->events.push_back(event);
}

// What the client should do with the notification, from `before`. An answer
// that does not decode may either leave its record alone or be taken as far
// as it was read; `takeFailed` picks the second reading.
void model(const View& before, const tesk2_client* protocol, const tesk2_notification* n,
           bool takeFailed, Model* m) {
    m->view = before;
    m->events.clear();
    if ((n->flags & TESK2_NOTIFY_CONNECTION) != 0) {
        uint32_t state = tesk2_client_get_state(protocol);
        if (state == TESK2_DISCONNECTED) {
            modelClear(m, QEL_CLIENT_INFO_VALID, &m->view.info, QEL_CLIENT_EVENT_INFO);
            modelClear(m, QEL_CLIENT_OPTIONS_VALID, &m->view.options, QEL_CLIENT_EVENT_OPTIONS);
            modelClear(m, QEL_CLIENT_STATE_VALID, &m->view.state, QEL_CLIENT_EVENT_STATE);
        }
        if (m->view.status != state) {
            m->view.status = state;
            m->events.push_back(QEL_CLIENT_EVENT_CONNECTION);
        }
    }
    if ((n->flags & TESK2_NOTIFY_RESPONSE) != 0) {
        const tesk2_message* request = tesk2_request_message(n->request);
        // Records describe a live connection: an answer that arrives while
        // disconnected (a refused connect, a stray answer after the loss)
        // leaves them alone.
        if (request != nullptr && n->message != nullptr && m->view.status == TESK2_CONNECTED) {
            switch (tesk2_message_opcode(request)) {
            case TESK2_OPCODE_CONNECT: {
                qel_info info;
                if (qel_info_decode(n->message, &info) == KES_SUCCESS || takeFailed) {
                    modelInfo(m, info);
                }
                break;
            }
            case QEL_OPCODE_SET_CONFIG:
            case QEL_OPCODE_CLEAR_SYSTEM_ERROR: {
                qel_state state;
                if (qel_state_decode(n->message, &state) == KES_SUCCESS || takeFailed) {
                    modelState(m, state);
                }
                break;
            }
            default:
                break;
            }
        }
        if (n->request != nullptr && n->request == m->view.pending) {
            m->view.pending = nullptr;
            m->events.push_back(QEL_CLIENT_EVENT_REQUEST_DONE);
        }
    }
    if ((n->flags & TESK2_NOTIFY_EVENT) != 0 && n->message != nullptr) {
        switch (tesk2_message_opcode(n->message)) {
        case QEL_EVENT_OPTIONS: {
            qel_options options;
            if (qel_options_decode(n->message, &options) == KES_SUCCESS) {
                modelOptions(m, options);
            }
            break;
        }
        case QEL_EVENT_STATE: {
            qel_state state;
            if (qel_state_decode(n->message, &state) == KES_SUCCESS) {
                modelState(m, state);
            }
            break;
        }
        default:
            break;
        }
    }
}

bool matches(const Model& m, const View& now, const std::vector<QelClientEvent>& events) {
    return sameView(m.view, now) && m.events == events;
}

// The protocol client's callback: the model first, then the client's own
// handler, then the comparison.
int onProtocol(tesk2_client* protocol, const tesk2_notification* n) {
    Run& run = *static_cast<Run*>(
        static_cast<qel_client*>(tesk2_client_get_context(protocol))->owner_context);
    check(protocol == run.client->protocol && n != nullptr && !run.inProtocol);
    View before;
    capture(run.client, &before);
    check(sameView(before, run.seen));

    Model strict;
    Model taking;
    model(before, protocol, n, false, &strict);
    model(before, protocol, n, true, &taking);

    run.inProtocol = true;
    run.events.clear();
    qel_client_on_event(protocol, n);
    run.inProtocol = false;

    View after;
    capture(run.client, &after);
    check(matches(strict, after, run.events) || matches(taking, after, run.events));
    check(sameView(after, run.seen));
    return 0;
}

// The owner's callback: each event is checked against what the owner was
// told before it, then becomes what the owner knows.
void onClientEvent(qel_client* client, QelClientEvent event) {
    Run& run = *static_cast<Run*>(client->owner_context);
    check(client == run.client && run.inProtocol);
    check(static_cast<uint32_t>(event) <= QEL_CLIENT_EVENT_STATE);
    checkShape(run);
    View now;
    capture(client, &now);
    View& seen = run.seen;
    // Only the part the event is about may have changed.
    check(now.pending == seen.pending || event == QEL_CLIENT_EVENT_REQUEST_DONE);
    check(now.status == seen.status || event == QEL_CLIENT_EVENT_CONNECTION);
    uint32_t changed = now.flags ^ seen.flags;
    bool infoSame = same(now.info, seen.info);
    bool optionsSame = same(now.options, seen.options);
    bool stateSame = same(now.state, seen.state);
    uint32_t mine = 0;
    switch (event) {
    case QEL_CLIENT_EVENT_REQUEST_DONE:
        check(seen.pending != nullptr && now.pending == nullptr);
        break;
    case QEL_CLIENT_EVENT_CONNECTION:
        check(now.status != seen.status);
        check(now.status == tesk2_client_get_state(client->protocol));
        break;
    case QEL_CLIENT_EVENT_INFO:
        mine = QEL_CLIENT_INFO_VALID;
        if ((now.flags & mine) != 0) {
            check((seen.flags & mine) == 0 || !infoSame);
        }
        infoSame = true;
        break;
    case QEL_CLIENT_EVENT_OPTIONS:
        mine = QEL_CLIENT_OPTIONS_VALID;
        if ((now.flags & mine) != 0) {
            check((seen.flags & mine) == 0 || !qel_options_equal(&seen.options, &now.options));
        }
        optionsSame = true;
        break;
    case QEL_CLIENT_EVENT_STATE:
        mine = QEL_CLIENT_STATE_VALID;
        if ((now.flags & mine) != 0) {
            check((seen.flags & mine) == 0 || !stateSame);
        }
        stateSame = true;
        break;
    }
    check((changed & ~mine) == 0 && infoSame && optionsSame && stateSame);
    if (mine != 0 && (now.flags & mine) == 0) {
        // A clear: only on the way to disconnected, in the order info,
        // options, state, before the status changes.
        check((seen.flags & mine) != 0);
        check(tesk2_client_get_state(client->protocol) == TESK2_DISCONNECTED);
        check(now.status != TESK2_DISCONNECTED);
        check((now.flags & (mine - 1)) == 0);
    }
    seen = now;
    run.events.push_back(event);
}

// ---- Traffic ----

// What the manager read from the client during one step.
struct Sent {
    size_t keepalives = 0;
    std::vector<uint16_t> requests; // opcodes other than keepalives
};

// Checks a SET CONFIG body against the configuration offered.
void checkConfigBody(const Run& run, const uint8_t* datagram, size_t size) {
    tesk2_message message;
    std::memset(&message, 0, sizeof message);
    tesk2_message_init(&message);
    std::memcpy(message.data, datagram, size);
    qel_config sent;
    check(qel_config_decode(&message, 0, &sent) == KES_SUCCESS);
    const qel_config& c = run.lastConfig;
    check(sent.channels == c.channels);
    for (size_t i = 0; i < QEL_INTERFACE_NAME_SIZE; ++i) {
        check(sent.interface.name[i] == c.interface.name[i]);
        if (c.interface.name[i] == 0) {
            break;
        }
    }
    check(std::memcmp(sent.interface.mac, c.interface.mac, QEL_MAC_SIZE) == 0);
    check(sent.sample_rate_hz == c.sample_rate_hz);
    check(sent.sample_format == c.sample_format);
    check(std::strncmp(sent.latency, c.latency, QEL_LATENCY_NAME_SIZE) == 0);
    check(sent.want_to_run == ((c.want_to_run & 0xFFFF) != 0 ? 1u : 0u));
    check(sent.audio_interface == (c.audio_interface & 0xFFFF));
    check(sent.asio_latency_us == c.asio_latency_us);
    check(sent.asio_buffer_size == c.asio_buffer_size);
    check(sent.asio_encoding == c.asio_encoding);
}

// Reads all the client has sent: whole requests with its identity, seqnums
// in counter order, each body as its opcode wants.
Sent drainServer(Run& run) {
    Sent sent;
    Server* s = server();
    for (;;) {
        uint8_t buffer[2048];
        size_t size = sizeof buffer;
        kes_address from{};
        kes_result result = kes_socket_recv_from(s->socket, buffer, &size, &from);
        if (result != KES_SUCCESS) {
            check(result == KES_TIMEDOUT);
            return sent;
        }
        if (run.client == nullptr || kes_address_port(&from) != run.port) {
            continue; // a client of an earlier input
        }
        check(size >= TESK2_HEADER_SIZE && size <= TESK2_DATAGRAM_MAX);
        check(field(buffer, TESK2_OFFSET_LENGTH) == size);
        check(field(buffer, TESK2_OFFSET_PROTOCOL) == QEL_MANAGER_PROTOCOL);
        check(field(buffer, TESK2_OFFSET_STATUS) == TESK2_STATUS_REQUEST);
        check(field(buffer, TESK2_OFFSET_CLIENT_PORT) == run.port);
        for (size_t i = 0; i < TESK2_CLIENT_ID_SIZE; ++i) {
            check(buffer[TESK2_OFFSET_CLIENT_ID + i] == 0);
        }
        check(field(buffer, TESK2_OFFSET_SEQNUM) == run.nextSeqnum);
        ++run.nextSeqnum;
        size_t body = size - TESK2_HEADER_SIZE;
        uint16_t opcode = field(buffer, TESK2_OFFSET_OPCODE);
        switch (opcode) {
        case TESK2_OPCODE_KEEPALIVE:
            check(body == 0);
            ++sent.keepalives;
            continue;
        case TESK2_OPCODE_CONNECT: {
            const uint8_t version[] = {0x00, 0x01, 0x00, QEL_CLIENT_API_VERSION};
            check(body == sizeof version &&
                  std::memcmp(buffer + TESK2_HEADER_SIZE, version, sizeof version) == 0);
            break;
        }
        case TESK2_OPCODE_DISCONNECT:
        case QEL_OPCODE_CLEAR_SYSTEM_ERROR:
            check(body == 0);
            break;
        case QEL_OPCODE_SET_CONFIG:
            checkConfigBody(run, buffer, size);
            break;
        default:
            check(false);
        }
        sent.requests.push_back(opcode);
    }
}

// Sends from the manager, unless too many datagrams already wait.
void sendToClient(Run& run, const std::vector<uint8_t>& datagram) {
    if (run.waiting >= k_max_waiting) {
        return;
    }
    size_t size = datagram.size();
    if (kes_socket_send_to(server()->socket, datagram.data(), &size, &run.address) == KES_SUCCESS) {
        ++run.waiting;
    }
}

std::vector<uint8_t> datagramOf(const Run& run, uint16_t status, uint16_t seqnum, uint16_t opcode,
                                const std::vector<uint8_t>& body) {
    std::vector<uint8_t> datagram(TESK2_HEADER_SIZE + body.size());
    putField(datagram.data(), TESK2_OFFSET_PROTOCOL, QEL_MANAGER_PROTOCOL);
    putField(datagram.data(), TESK2_OFFSET_LENGTH, static_cast<uint16_t>(datagram.size()));
    putField(datagram.data(), TESK2_OFFSET_SEQNUM, seqnum);
    putField(datagram.data(), TESK2_OFFSET_OPCODE, opcode);
    putField(datagram.data(), TESK2_OFFSET_STATUS, status);
    putField(datagram.data(), TESK2_OFFSET_CLIENT_PORT, run.port);
    if (!body.empty()) {
        std::memcpy(datagram.data() + TESK2_HEADER_SIZE, body.data(), body.size());
    }
    return datagram;
}

enum BodyKind { BODY_INFO, BODY_OPTIONS, BODY_STATE };

// The encoder's output for a sample record. A record too big for one message
// gives the items that fitted, as a careless manager would send them.
std::vector<uint8_t> encodedBody(BodyKind kind, uint8_t variant) {
    tesk2_message message;
    std::memset(&message, 0, sizeof message);
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, 0);
    kes_result result = KES_SUCCESS;
    switch (kind) {
    case BODY_INFO: {
        qel_info info = sampleInfo(variant);
        result = qel_info_encode(&info, &message);
        break;
    }
    case BODY_OPTIONS: {
        qel_options options = sampleOptions(variant);
        result = qel_options_encode(&options, &message);
        check(result == KES_SUCCESS || (result == KES_MSGSIZE && (variant & 16) != 0));
        break;
    }
    case BODY_STATE: {
        qel_state state = sampleState(variant);
        result = qel_state_encode(&state, &message);
        break;
    }
    }
    check(result == KES_SUCCESS || result == KES_MSGSIZE);
    const uint8_t* payload = tesk2_message_payload(&message);
    return std::vector<uint8_t>(payload, payload + tesk2_message_body_size(&message));
}

void mutate(Script& script, std::vector<uint8_t>* body) {
    uint8_t mode = script.byte();
    for (uint8_t i = 0; i < mode % 4; ++i) {
        uint16_t offset = script.word();
        uint8_t mask = script.byte();
        if (!body->empty()) {
            (*body)[offset % body->size()] ^= mask;
        }
    }
    if ((mode & 4) != 0) {
        body->resize(script.word() % (body->size() + 1));
    }
}

void shapedDatagram(Run& run, Script& script) {
    static const uint16_t statuses[] = {TESK2_STATUS_RESPONSE,
                                        TESK2_STATUS_EVENT,
                                        TESK2_STATUS_REQUEST,
                                        TESK2_STATUS_OPCODE_ERROR,
                                        TESK2_STATUS_UNRECOGNISED_OPCODE,
                                        TESK2_STATUS_UNSUPPORTED_OPCODE,
                                        TESK2_STATUS_SERVER_ERROR,
                                        TESK2_STATUS_NOT_CONNECTED,
                                        TESK2_STATUS_TOO_MANY_CLIENTS,
                                        QEL_STATUS_INVALID_API,
                                        QEL_STATUS_INVALID_DATA,
                                        QEL_STATUS_INVALID_STATE,
                                        QEL_STATUS_SYSTEM_ERROR};
    constexpr uint8_t status_count = sizeof statuses / sizeof statuses[0];
    const qel_client* client = run.client;
    uint8_t statusByte = script.byte();
    uint16_t status = statusByte >= 0xf0 ? script.word() : statuses[statusByte % status_count];

    uint16_t seqnum = 0;
    switch (script.byte() % 4) {
    case 0:
    case 1: {
        const tesk2_request* request = client->pending != nullptr ? client->pending : slot(run);
        seqnum = tesk2_message_seqnum(&request->message);
        break;
    }
    case 2:
        seqnum = tesk2_message_seqnum(&client->protocol->keepalive);
        break;
    default:
        seqnum = script.word();
        break;
    }

    static const uint16_t opcodes[] = {QEL_EVENT_OPTIONS, QEL_EVENT_STATE, QEL_OPCODE_SET_CONFIG,
                                       QEL_OPCODE_CLEAR_SYSTEM_ERROR, TESK2_OPCODE_CONNECT};
    uint8_t opcodeByte = script.byte() % 6;
    uint16_t opcode = opcodeByte < 5 ? opcodes[opcodeByte] : script.word();

    uint8_t bodyByte = script.byte();
    uint8_t variant = static_cast<uint8_t>(bodyByte >> 3);
    std::vector<uint8_t> body;
    switch (bodyByte % 8) {
    case 0:
        break;
    case 1:
        body = encodedBody(BODY_INFO, variant);
        mutate(script, &body);
        break;
    case 2:
    case 6:
        body = encodedBody(BODY_OPTIONS, variant);
        mutate(script, &body);
        break;
    case 5: {
        body.resize(script.word() % (TESK2_PAYLOAD_MAX + 1));
        for (uint8_t& b : body) {
            b = script.byte();
        }
        break;
    }
    default:
        body = encodedBody(BODY_STATE, variant);
        mutate(script, &body);
        break;
    }
    sendToClient(run, datagramOf(run, status, seqnum, opcode, body));
}

void rawDatagram(Run& run, Script& script) {
    std::vector<uint8_t> datagram(script.word() % (k_max_datagram + 1));
    for (uint8_t& b : datagram) {
        b = script.byte();
    }
    sendToClient(run, datagram);
}

// ---- Steps ----

void process(Run& run) {
    kes_result result = tesk2_client_process(run.client->protocol);
    check(result == KES_SUCCESS || result == KES_MSGSIZE);
    if (result == KES_SUCCESS) {
        run.waiting = 0;
    }
    checkSettled(run);
    Sent sent = drainServer(run);
    check(sent.requests.empty());
    // A keepalive goes out only after the liveness check passed.
    check(sent.keepalives == 0 || run.client->status == TESK2_CONNECTED);
}

// Runs one request operation and checks its result, the slot, what went out
// and that it raised nothing but what its send notified.
void requested(Run& run, uint16_t opcode, kes_result result, kes_result expected) {
    check(result == expected);
    const qel_client* client = run.client;
    Sent sent = drainServer(run);
    check(sent.keepalives == 0);
    if (result == KES_SUCCESS) {
        check(sent.requests.size() == 1 && sent.requests[0] == opcode);
        check(client->pending == slot(run));
        check(slot(run)->in_use == (opcode != TESK2_OPCODE_DISCONNECT));
        check(tesk2_message_opcode(&slot(run)->message) == opcode);
    } else {
        check(sent.requests.empty());
        check(client->pending == run.seen.pending);
    }
    run.seen.pending = client->pending;
    checkSettled(run);
}

void setConfig(Run& run, const qel_config& config) {
    run.lastConfig = config;
    const qel_client* client = run.client;
    kes_result expected = KES_SUCCESS;
    if (client->pending != nullptr) {
        expected = KES_INVALIDSTATE;
    } else if ((client->flags & QEL_CLIENT_OPTIONS_VALID) == 0) {
        expected = KES_INVALIDSTATE;
    } else if (!qel_config_is_valid(&client->options, &config)) {
        expected = KES_INVALIDDATA;
    } else {
        // Only a connected client knows options; an unprintable name is
        // refused by the encoder after the checks passed.
        check(client->status == TESK2_CONNECTED);
        tesk2_message probe;
        std::memset(&probe, 0, sizeof probe);
        tesk2_message_init(&probe);
        tesk2_message_set_header(&probe, QEL_MANAGER_PROTOCOL, QEL_OPCODE_SET_CONFIG);
        expected = qel_config_encode(&config, &probe);
    }
    requested(run, QEL_OPCODE_SET_CONFIG, qel_client_set_system_config(&config, run.client),
              expected);
}

// Edits the sample configuration, mostly towards values the stored options
// offer.
qel_config editedConfig(Run& run, Script& script) {
    const qel_options& o = run.client->options;
    qel_config c = sampleConfig();
    uint8_t edits = script.byte() % 4;
    for (uint8_t i = 0; i < edits; ++i) {
        uint8_t which = script.byte();
        uint8_t value = script.byte();
        bool raw = (which & 0x80) != 0;
        switch (which % 11) {
        case 0:
            c.channels = !raw && o.channel_counts.count > 0
                             ? o.channel_counts.entries[value % o.channel_counts.count]
                             : value;
            break;
        case 1:
            if (!raw && o.interfaces.count > 0) {
                c.interface = o.interfaces.entries[value % o.interfaces.count];
            } else {
                std::memset(c.interface.mac, 0, QEL_MAC_SIZE);
                c.interface.mac[value % QEL_MAC_SIZE] = value;
            }
            break;
        case 2:
            c.sample_rate_hz = !raw && o.sample_rates.count > 0
                                   ? o.sample_rates.entries[value % o.sample_rates.count].rate_hz
                                   : 1000u * value;
            break;
        case 3:
            c.sample_format = !raw && o.sample_formats.count > 0
                                  ? o.sample_formats.entries[value % o.sample_formats.count]
                                  : value;
            break;
        case 4:
            if (!raw && o.latencies.count > 0) {
                std::memcpy(c.latency, o.latencies.entries[value % o.latencies.count].name,
                            QEL_LATENCY_NAME_SIZE);
            } else {
                std::memset(c.latency, 0, sizeof c.latency);
                std::memset(c.latency, 'a' + value % 26, value % (QEL_LATENCY_NAME_SIZE + 1));
            }
            break;
        case 5:
            c.want_to_run = raw ? 0x10000u * value : value;
            break;
        case 6:
            c.audio_interface = raw ? 0x10000u + value : value % 3u;
            break;
        case 7:
            c.asio_latency_us = !raw && o.asio_latencies.count > 0
                                    ? o.asio_latencies.entries[value % o.asio_latencies.count]
                                    : 100u * value;
            break;
        case 8:
            c.asio_buffer_size =
                !raw && o.asio_buffer_sizes.count > 0
                    ? o.asio_buffer_sizes.entries[value % o.asio_buffer_sizes.count]
                    : value;
            break;
        case 9:
            c.asio_encoding = !raw && o.asio_encodings.count > 0
                                  ? o.asio_encodings.entries[value % o.asio_encodings.count]
                                  : value;
            break;
        default: {
            uint16_t offset = script.word();
            reinterpret_cast<uint8_t*>(&c)[offset % sizeof c] ^= value;
            break;
        }
        }
    }
    return c;
}

void clearSystemError(Run& run) {
    const qel_client* client = run.client;
    kes_result expected = KES_SUCCESS;
    if (client->pending != nullptr || client->status != TESK2_CONNECTED) {
        expected = KES_INVALIDSTATE;
    }
    requested(run, QEL_OPCODE_CLEAR_SYSTEM_ERROR, qel_client_clear_system_error(run.client),
              expected);
}

void disconnect(Run& run) {
    const qel_client* client = run.client;
    kes_result expected = KES_SUCCESS;
    if (client->pending != nullptr || client->status == TESK2_DISCONNECTED) {
        expected = KES_INVALIDSTATE;
    }
    kes_result result = qel_client_disconnect(run.client);
    if (result == KES_SUCCESS) {
        run.disconnected = true;
        check(client->status == TESK2_DISCONNECTED && client->flags == 0);
    }
    requested(run, TESK2_OPCODE_DISCONNECT, result, expected);
}

void advanceClock(Run& run, Script& script) {
    uint8_t mode = script.byte();
    kes_time span{0, 0};
    if ((mode & 1) == 0) {
        span.seconds = script.byte() % 41;
    } else {
        uint16_t ms = script.word() % 40001;
        span.seconds = ms / 1000;
        span.microseconds = static_cast<int32_t>(ms % 1000) * 1000;
    }
    kes_time_add(&g_now, &span);
    kes_time_normalise(&g_now);
    process(run);
}

void step(Run& run, Script& script) {
    uint8_t op = script.byte();
    switch (op % 8) {
    case 0:
        rawDatagram(run, script);
        process(run);
        break;
    case 1:
        shapedDatagram(run, script);
        process(run);
        break;
    case 2:
        shapedDatagram(run, script);
        break;
    case 3:
        setConfig(run, sampleConfig());
        break;
    case 4:
        setConfig(run, editedConfig(run, script));
        break;
    case 5:
        clearSystemError(run);
        break;
    case 6:
        advanceClock(run, script);
        break;
    default:
        disconnect(run);
        break;
    }
    checkSettled(run);
}

// A real connect: CONNECT answered with the info, then the options and the
// state as events, until all three are valid.
void start(Run& run) {
    qel_client* client = run.client;
    requested(run, TESK2_OPCODE_CONNECT, qel_client_connect(client), KES_SUCCESS);
    check(client->status == TESK2_CONNECTING);
    uint16_t seqnum = tesk2_message_seqnum(&client->pending->message);
    sendToClient(run, datagramOf(run, TESK2_STATUS_RESPONSE, seqnum, TESK2_OPCODE_CONNECT,
                                 encodedBody(BODY_INFO, 0)));
    process(run);
    check(client->status == TESK2_CONNECTED && client->pending == nullptr);
    check(client->flags == QEL_CLIENT_INFO_VALID);
    sendToClient(run, datagramOf(run, TESK2_STATUS_EVENT, 0, QEL_EVENT_OPTIONS,
                                 encodedBody(BODY_OPTIONS, 0)));
    sendToClient(
        run, datagramOf(run, TESK2_STATUS_EVENT, 0, QEL_EVENT_STATE, encodedBody(BODY_STATE, 0)));
    process(run);
    check(client->flags == k_all_valid);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Server* s = server();
    Script script{data, size, 0};
    g_now = kes_time{k_clock_start, 0};
    kes_clock_install(&g_clock);

    Run run;
    run.lastConfig = sampleConfig();
    check(qel_client_new_on_port(s->env, kes_address_port(&s->address), &run.client) ==
          KES_SUCCESS);
    run.client->owner_context = &run;
    run.client->callback = onClientEvent;
    tesk2_client_set_callback(run.client->protocol, onProtocol);
    check(kes_socket_local_address(run.client->socket, &run.address) == KES_SUCCESS);
    run.port = kes_address_port(&run.address);
    capture(run.client, &run.seen);
    checkSettled(run);

    start(run);
    for (size_t i = 0; i < k_max_steps && !script.done(); ++i) {
        step(run, script);
    }

    // Whatever the client still sends is read now, so that no datagram of
    // this input is left for a later client on the same port.
    drainServer(run);
    qel_client_free(run.client);
    run.client = nullptr;
    kes_clock_install(nullptr);
    return 0;
}
