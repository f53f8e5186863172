// The stand-in manager's protocol logic, without sockets: it takes one
// received datagram at a time with its sender's address and puts what it
// answers or announces into an outbox of (address, bytes) datagrams. The
// daemon's event loop, the tests, the fuzz target and the benchmark all drive
// it the same way. Time comes from kes_time_now, so a test clock can drive
// the rule that forgets silent clients.
//
// Behaviour towards clients:
//   - every datagram passes the header checks first (at least 20 bytes, at
//     most 1472, length field equal to the size, protocol 0x1001, status
//     Request); one that fails is logged with its sender and dropped;
//   - a client is known by its source address and port and its 8-byte
//     client id; at most MANAGER_MAX_CLIENTS are connected at once;
//   - CONNECT with API version 3 is answered Response with the info record,
//     followed at once by the options and state events; another version or
//     an unreadable body is answered "Invalid API"; a ninth client gets "Too
//     many clients";
//   - requests other than CONNECT from a client that is not connected
//     (keepalives included) are answered "Not connected"; DISCONNECT is never
//     answered;
//   - SET CONFIG is answered with the state: Response when applied, "Invalid
//     Data" when the body does not decode or the configuration is not valid
//     against the options, "Invalid State" while the configuration is
//     locked; CLEAR SYSTEM ERROR is answered Response with the state;
//   - a connected client that sends nothing valid for more than 31 s is
//     forgotten by tick();
//   - every answer carries the request's seqnum, opcode, client port and
//     client id; events carry a per-client 16-bit seqnum counter;
//   - when the options or the state change, every connected client gets the
//     new record as an event;
//   - a burst of state events, each with another address, can be sent on
//     demand (a load test of the clients).
#pragma once

#include "kes_log.h"
#include "kes_socket.h"
#include "kes_time.h"
#include "options_file.h"
#include "qel_records.h"
#include "tesk2_message.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr size_t MANAGER_MAX_CLIENTS = 8;
// A connected client silent for longer than this is forgotten.
constexpr int64_t MANAGER_CLIENT_TIMEOUT_SECONDS = 31;
// The name every log line of the manager starts with.
constexpr const char* MANAGER_LOG_NAME = "qel-manager";
// The suffix of the version in the info record (at most 7 characters).
constexpr const char* MANAGER_VERSION_SUFFIX = "-stand";
constexpr const char* MANAGER_DEVICE_NAME = "Qelvane";
constexpr const char16_t* MANAGER_PROCESS_NAME = u"qel-manager";

// One datagram to send.
struct ManagerDatagram {
    kes_address to;
    std::vector<uint8_t> bytes;
};
using Outbox = std::vector<ManagerDatagram>;

// A connected client.
struct ManagerSession {
    kes_address address; // where its datagrams come from
    tesk2_client_id id;  // client id and client port of its CONNECT
    uint16_t nextSeqnum; // the seqnum of the next event it gets
    kes_time lastHeard;  // its last valid message
    uint32_t eventsSent;
};

// Test and demonstration modes, switched by the control commands.
struct ManagerFaults {
    bool silent = false;       // drop every datagram unanswered, send no event
    bool notConnected = false; // answer every request "Not connected"
    bool refuse = false;       // answer every CONNECT "Too many clients"
};

class ManagerCore {
public:
    // `options` without interfaces (their list is filled from `interfaces`),
    // the host's or the fixed interfaces, and the configuration in force.
    // `log` may be missing (nothing is logged).
    ManagerCore(kes_log* log, const qel_options& options,
                const std::vector<ManagerInterface>& interfaces, const qel_config& config);

    // Handles one received datagram of `size` bytes from `from`.
    void handleDatagram(const uint8_t* data, size_t size, const kes_address& from, Outbox& out);

    // Forgets the clients that have been silent for more than 31 s.
    void tick();

    // New options (their interface list is ignored and filled from
    // `interfaces`). When the configuration in force is not valid against
    // them (the interface aside) `fallback` replaces it. Clients get the
    // records that changed. Options without interfaces always fit in one
    // datagram (their lists and names are bounded); interfaces are cut to fit.
    void setOptions(const qel_options& options, const std::vector<ManagerInterface>& interfaces,
                    const qel_config& fallback, Outbox& out);

    // A new interface list: the options offer their names and MACs (as many
    // as fit in one datagram, at most 16), and the state's link, speed,
    // address and the configuration's interface name follow the configured
    // interface, found by MAC. A configured interface that is gone stays
    // configured and is reported with link down.
    void setInterfaces(const std::vector<ManagerInterface>& interfaces, Outbox& out);

    void setSystemError(uint16_t code, Outbox& out);
    void setLock(uint16_t flags, Outbox& out);
    // Link down forces the state's link down whatever the interface reports;
    // link up lets the interface's own link show again.
    void setLink(bool up, Outbox& out);
    // Leaving silent or not-connected mode sends the records that changed
    // meanwhile.
    void setSilent(bool on, Outbox& out);
    void setNotConnected(bool on, Outbox& out);
    void setRefuse(bool on);

    // A burst of state events, for load tests of the clients: puts the
    // events numbered first .. first + count - 1 into the outbox, one for
    // every connected client each, so that the caller sends them as fast as
    // it can (a long burst comes in parts, each sent before the next is
    // made). Event i carries the state in force with the address 10.x.y.z,
    // x.y.z being i in three bytes (10.0.39.16 is number 10 000). The state
    // in force does not change: the clients keep the burst's last state
    // until it next changes or they connect again. Nothing while events are
    // suppressed. The number of datagrams put in the outbox.
    size_t burstState(uint32_t first, uint32_t count, Outbox& out);

    const qel_options& options() const { return m_options; }
    const qel_config& config() const { return m_config; }
    const qel_state& state() const { return m_state; }
    const std::vector<ManagerSession>& sessions() const { return m_sessions; }
    const std::vector<ManagerInterface>& interfaces() const { return m_interfaces; }
    const ManagerFaults& faults() const { return m_faults; }
    bool linkForcedDown() const { return m_linkForcedDown; }

    // Called with the new configuration whenever the configuration in force
    // changes (applied SET CONFIG, fallback after new options, the
    // interface's name following a rename).
    void setConfigChangedCallback(std::function<void(const qel_config&)> callback) {
        m_configChanged = std::move(callback);
    }

    // The info record every accepted CONNECT is answered with.
    static qel_info info();
    // True when the options record fits in one options event.
    static bool optionsFit(const qel_options& options);
    // True when the configuration is valid against the options once its
    // interface is left out of the check.
    static bool validApartFromInterface(const qel_options& options, const qel_config& config);

private:
    ManagerSession* findSession(const kes_address& from, const tesk2_message& request);
    void removeSession(const ManagerSession* session);

    void handleConnect(const tesk2_message& request, const kes_address& from,
                       ManagerSession* session, Outbox& out);
    void handleSetConfig(const tesk2_message& request, const kes_address& from,
                         ManagerSession& session, Outbox& out);
    void handleClearSystemError(const tesk2_message& request, const kes_address& from,
                                ManagerSession& session, Outbox& out);

    // An answer to `request` with `status`; `body` 'i' info, 's' state, 0 none.
    void answer(const tesk2_message& request, const kes_address& to, uint16_t status, char body,
                Outbox& out);
    void sendEvent(ManagerSession& session, uint16_t opcode, Outbox& out);
    // Puts `message` in the outbox for `to`; a length outside the datagram is
    // logged and nothing is queued.
    void queue(const kes_address& to, const tesk2_message& message, Outbox& out);
    bool eventsSuppressed() const { return m_faults.silent || m_faults.notConnected; }
    // Sends the options and the state to every session (but `except`) when
    // they differ from what was last sent.
    void publish(Outbox& out, const ManagerSession* except = nullptr);
    void broadcastState(Outbox& out, const ManagerSession* except);

    void offerInterfaces(const std::vector<ManagerInterface>& interfaces);
    // Recomputes the state from the configuration and the interfaces (the
    // configured interface's name follows the interface's own).
    void refreshState();
    // refreshState, then the callback when the configuration differs from
    // `before`.
    void update(qel_config before); // a copy: refreshState may change m_config

    kes_log* m_log;
    qel_options m_options;
    std::vector<ManagerInterface> m_interfaces; // those offered
    size_t m_interfacesGiven = 0;               // how many the last list had
    qel_config m_config;
    qel_state m_state;
    qel_options m_sentOptions; // what the connected clients last got
    qel_state m_sentState;
    uint16_t m_systemError = 0;
    uint16_t m_lockFlags = 0;
    bool m_linkForcedDown = false;
    ManagerFaults m_faults;
    std::vector<ManagerSession> m_sessions;
    std::function<void(const qel_config&)> m_configChanged;
};

// "a.b.c.d:port" of an IPv4 address ("?" for anything else).
std::string managerAddressText(const kes_address& address);
