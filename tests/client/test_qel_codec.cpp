// Manager records in message bodies: the configuration's exact wire bytes,
// decoders against short, long and malformed bodies, encoder refusals, and
// encode/decode round trips over generated records.
#include "qel_codec.h"
#include "tesk2_body.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

tesk2_message new_message() {
    tesk2_message msg;
    std::memset(&msg, 0xA5, sizeof msg); // a reused buffer
    tesk2_message_init(&msg);
    tesk2_message_set_header(&msg, QEL_MANAGER_PROTOCOL, QEL_OPCODE_SET_CONFIG);
    return msg;
}

Bytes body_of(const tesk2_message& msg) {
    const uint8_t* p = tesk2_message_payload(&msg);
    return Bytes(p, p + tesk2_message_body_size(&msg));
}

template <typename Record> bool all_zero(const Record& r) {
    Record zero;
    std::memset(&zero, 0, sizeof zero);
    return std::memcmp(&r, &zero, sizeof r) == 0;
}

template <typename Record> bool same(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// 8-unit interface name, 6-character latency name.
qel_config sample_config() {
    qel_config c;
    std::memset(&c, 0, sizeof c);
    c.channels = 8;
    std::u16string(u"Ethernet").copy(c.interface.name, 8);
    const uint8_t mac[] = {0x00, 0x1D, 0xC1, 0x0A, 0x0B, 0x0C};
    std::memcpy(c.interface.mac, mac, sizeof mac);
    c.sample_rate_hz = 48000;
    c.sample_format = 24;
    std::memcpy(c.latency, "1.0 ms", 6);
    c.want_to_run = 1;
    c.audio_interface = QEL_AUDIO_INTERFACE_WDM;
    c.asio_buffer_size = 256;
    c.asio_encoding = 32;
    c.asio_latency_us = 5333;
    return c;
}

// Appends a structure of `count` slots whose slots are given in order; slots
// past `slots` hold 0xFFFF so that a decoder reading them would show it.
tesk2_struct put_struct(tesk2_message* msg, uint16_t count, std::vector<uint16_t> slots) {
    tesk2_struct s{};
    EXPECT_EQ(tesk2_message_put_struct(msg, count, &s), KES_SUCCESS);
    for (uint16_t i = 0; i < count; ++i) {
        tesk2_struct_set_slot(msg, &s, i, i < slots.size() ? slots[i] : 0xFFFF);
    }
    return s;
}

uint16_t put_u32(tesk2_message* msg, uint32_t value) {
    uint16_t at = 0;
    EXPECT_EQ(tesk2_message_put_u32(msg, value, &at), KES_SUCCESS);
    return at;
}

// A configuration body written item by item, with `extra` more slots than
// the minimum in every structure and an interface name of any length.
void put_config_by_hand(tesk2_message* msg, const std::u16string& name, uint16_t extra) {
    tesk2_struct root = put_struct(msg, 7 + extra, {8, 0, 0, 24, 0, 1, 0});
    tesk2_struct iface = put_struct(msg, 2 + extra, {0, 0});
    uint16_t at = 0;
    tesk2_message_put_wstring(msg, name.c_str(), &at);
    tesk2_struct_set_slot(msg, &iface, 0, at);
    const uint8_t mac[] = {0x00, 0x1D, 0xC1, 0x0A, 0x0B, 0x0C};
    tesk2_message_put_bytes(msg, 6, mac, &at);
    tesk2_struct_set_slot(msg, &iface, 1, at);
    tesk2_struct_set_slot(msg, &root, 1, iface.offset);
    tesk2_struct_set_slot(msg, &root, 2, put_u32(msg, 48000));
    tesk2_message_put_string(msg, "1.0 ms", &at);
    tesk2_struct_set_slot(msg, &root, 4, at);
    tesk2_struct asio = put_struct(msg, 4 + extra, {QEL_AUDIO_INTERFACE_WDM, 0, 32, 0});
    tesk2_struct_set_slot(msg, &asio, 1, put_u32(msg, 256));
    tesk2_struct_set_slot(msg, &asio, 3, put_u32(msg, 5333));
    tesk2_struct_set_slot(msg, &root, 6, asio.offset);
}

// A root of `slots` slots, one short of the minimum, must give KES_NODATA and
// a record zero-filled over whatever it held.
template <typename Record, typename Decode>
void expect_no_data_and_zero(uint16_t slots, Decode decode) {
    tesk2_message msg = new_message();
    put_struct(&msg, slots, {});
    Record record;
    std::memset(&record, 0xFF, sizeof record);
    EXPECT_EQ(decode(&msg, &record), KES_NODATA) << slots;
    EXPECT_TRUE(all_zero(record)) << slots;
}

} // namespace

TEST(QelCodecConfig, WritesEveryItemAtItsOffsetByteForByte) {
    tesk2_message msg = new_message();
    const qel_config config = sample_config();
    ASSERT_EQ(qel_config_encode(&config, &msg), KES_SUCCESS);

    const Bytes expected = {
        0x00, 0x07, 0x00, 0x08, 0x00, 0x10, 0x00, 0x44, // 0: configuration structure
        0x00, 0x18, 0x00, 0x48, 0x00, 0x01, 0x00, 0x50, //
        0x00, 0x02, 0x00, 0x18, 0x00, 0x3C,             // 16: interface structure
        0x00, 0x00,                                     // 22: pad
        0x00, 0x00, 0x00, 'E',  0x00, 0x00, 0x00, 't',  // 24: interface name
        0x00, 0x00, 0x00, 'h',  0x00, 0x00, 0x00, 'e',  //
        0x00, 0x00, 0x00, 'r',  0x00, 0x00, 0x00, 'n',  //
        0x00, 0x00, 0x00, 'e',  0x00, 0x00, 0x00, 't',  //
        0x00, 0x00, 0x00, 0x00,                         //
        0x00, 0x1D, 0xC1, 0x0A, 0x0B, 0x0C,             // 60: MAC
        0x00, 0x00,                                     // 66: pad
        0x00, 0x00, 0xBB, 0x80,                         // 68: sample rate
        '1',  '.',  '0',  ' ',  'm',  's',  0x00, 0x00, // 72: latency name and pad
        0x00, 0x04, 0x00, 0x01, 0x00, 0x5C, 0x00, 0x20, // 80: ASIO structure
        0x00, 0x60,                                     //
        0x00, 0x00,                                     // 90: pad
        0x00, 0x00, 0x01, 0x00,                         // 92: ASIO buffer size
        0x00, 0x00, 0x14, 0xD5,                         // 96: ASIO latency
    };
    EXPECT_EQ(body_of(msg), expected);
    EXPECT_EQ(tesk2_message_length(&msg), 120);
    EXPECT_EQ(tesk2_message_protocol(&msg), QEL_MANAGER_PROTOCOL);
    EXPECT_EQ(tesk2_message_opcode(&msg), QEL_OPCODE_SET_CONFIG);

    qel_config decoded;
    ASSERT_EQ(qel_config_decode(&msg, 0, &decoded), KES_SUCCESS);
    EXPECT_TRUE(same(decoded, config));
}

TEST(QelCodecConfig, ExtraSlotsAreIgnoredAndLongNamesAreCut) {
    tesk2_message msg = new_message();
    put_config_by_hand(&msg, u"Ethernet", 3);
    qel_config decoded;
    ASSERT_EQ(qel_config_decode(&msg, 0, &decoded), KES_SUCCESS);
    const qel_config expected = sample_config();
    EXPECT_TRUE(same(decoded, expected));

    std::u16string long_name;
    for (int i = 0; i < 70; ++i) {
        long_name += static_cast<char16_t>(0x0100 + i);
    }
    tesk2_message msg70 = new_message();
    put_config_by_hand(&msg70, long_name, 0);
    ASSERT_EQ(qel_config_decode(&msg70, 0, &decoded), KES_SUCCESS);
    EXPECT_EQ(std::u16string(decoded.interface.name), long_name.substr(0, 63));
}

TEST(QelCodecDecode, NonZeroFlagsDecodeAsOne) {
    tesk2_message msg = new_message();
    const qel_config config = sample_config();
    ASSERT_EQ(qel_config_encode(&config, &msg), KES_SUCCESS);
    tesk2_struct root{};
    ASSERT_EQ(tesk2_message_get_struct(&msg, 0, &root), KES_SUCCESS);
    ASSERT_EQ(tesk2_struct_set_slot(&msg, &root, 5, 0x8000), KES_SUCCESS);
    qel_config decoded;
    ASSERT_EQ(qel_config_decode(&msg, 0, &decoded), KES_SUCCESS);
    EXPECT_EQ(decoded.want_to_run, 1u);

    qel_state state;
    std::memset(&state, 0, sizeof state);
    state.link_up = 1;
    tesk2_message_set_header(&msg, QEL_MANAGER_PROTOCOL, QEL_EVENT_STATE);
    ASSERT_EQ(qel_state_encode(&state, &msg), KES_SUCCESS);
    ASSERT_EQ(tesk2_struct_set_slot(&msg, &root, 2, 0x0100), KES_SUCCESS);
    ASSERT_EQ(qel_state_decode(&msg, &state), KES_SUCCESS);
    EXPECT_EQ(state.link_up, 1u);
}

TEST(QelCodecDecode, EmptyBodyFailsEveryDecoder) {
    tesk2_message msg = new_message();
    qel_info info;
    qel_options options;
    qel_config config;
    qel_state state;
    EXPECT_EQ(qel_info_decode(&msg, &info), KES_INVALIDPARAMETER);
    EXPECT_EQ(qel_options_decode(&msg, &options), KES_INVALIDPARAMETER);
    EXPECT_EQ(qel_config_decode(&msg, 0, &config), KES_INVALIDPARAMETER);
    EXPECT_EQ(qel_state_decode(&msg, &state), KES_INVALIDPARAMETER);
    EXPECT_EQ(qel_state_decode(nullptr, &state), KES_INVALIDPARAMETER);
    EXPECT_EQ(qel_state_decode(&msg, nullptr), KES_INVALIDPARAMETER);
}

TEST(QelCodecDecode, ShortRootsAreNoDataAndLeaveTheRecordZero) {
    expect_no_data_and_zero<qel_state>(7, qel_state_decode);
    expect_no_data_and_zero<qel_info>(5, qel_info_decode);
    expect_no_data_and_zero<qel_options>(5, qel_options_decode);
    expect_no_data_and_zero<qel_config>(
        6, [](const tesk2_message* m, qel_config* c) { return qel_config_decode(m, 0, c); });
}

TEST(QelCodecDecode, InfoKeepsLowVersionBitsAndStopsAtTheFirstBadItem) {
    tesk2_message msg = new_message();
    tesk2_struct root = put_struct(&msg, 8, {0x0001, 0x0102, 0x0A0B, 4711, 0});
    uint16_t at = 0;
    tesk2_message_put_string(&msg, "-beta.12", &at);
    tesk2_struct_set_slot(&msg, &root, 4, at);
    qel_info info;
    ASSERT_EQ(qel_info_decode(&msg, &info), KES_SUCCESS);
    EXPECT_EQ(info.first_value, 1);
    EXPECT_EQ(info.major, 0x02);
    EXPECT_EQ(info.minor, 0x0B);
    EXPECT_EQ(info.build, 4711);
    EXPECT_STREQ(info.suffix, "-beta.1");

    tesk2_struct_set_slot(&msg, &root, 4, static_cast<uint16_t>(at + 1));
    EXPECT_EQ(qel_info_decode(&msg, &info), KES_INVALIDPARAMETER);
    EXPECT_EQ(info.build, 4711);
    EXPECT_STREQ(info.suffix, "");
}

TEST(QelCodecDecode, OptionsListsKeepSixteenEntries) {
    tesk2_message msg = new_message();
    tesk2_struct root = put_struct(&msg, 6, {});
    std::vector<uint16_t> counts;
    for (uint16_t i = 1; i <= 20; ++i) {
        counts.push_back(i);
    }
    uint16_t at = 0;
    tesk2_message_put_u16_array(&msg, 20, counts.data(), &at);
    tesk2_struct_set_slot(&msg, &root, 0, at);
    tesk2_struct_set_slot(&msg, &root, 1, put_struct(&msg, 0, {}).offset);
    // 18 latency entries, all pointing at one entry structure.
    tesk2_struct entry = put_struct(&msg, 2, {});
    tesk2_message_put_string(&msg, "2 ms", &at);
    tesk2_struct_set_slot(&msg, &entry, 0, at);
    tesk2_struct_set_slot(&msg, &entry, 1, put_u32(&msg, 2000));
    tesk2_struct_set_slot(&msg, &root, 4,
                          put_struct(&msg, 18, std::vector<uint16_t>(18, entry.offset)).offset);
    tesk2_struct_set_slot(&msg, &root, 2, put_struct(&msg, 0, {}).offset);
    tesk2_message_put_u16_array(&msg, 0, nullptr, &at);
    tesk2_struct_set_slot(&msg, &root, 3, at);
    tesk2_struct asio = put_struct(&msg, 4, {0});
    for (uint16_t slot : {1, 3}) {
        tesk2_message_put_u32_array(&msg, 0, nullptr, &at);
        tesk2_struct_set_slot(&msg, &asio, slot, at);
    }
    tesk2_message_put_u16_array(&msg, 0, nullptr, &at);
    tesk2_struct_set_slot(&msg, &asio, 2, at);
    tesk2_struct_set_slot(&msg, &root, 5, asio.offset);

    qel_options options;
    ASSERT_EQ(qel_options_decode(&msg, &options), KES_SUCCESS);
    EXPECT_EQ(options.channel_counts.count, 16);
    EXPECT_EQ(options.channel_counts.entries[15], 16);
    EXPECT_EQ(options.latencies.count, 16);
    EXPECT_STREQ(options.latencies.entries[15].name, "2 ms");
    EXPECT_EQ(options.latencies.entries[15].latency_us, 2000u);
    EXPECT_EQ(options.interfaces.count, 0);
}

TEST(QelCodecEncode, MalformedRecordsAndBusyBodiesAreRefusedUntouched) {
    qel_config config = sample_config();
    tesk2_message msg = new_message();
    EXPECT_EQ(qel_config_encode(nullptr, &msg), KES_INVALIDPARAMETER);
    EXPECT_EQ(qel_config_encode(&config, nullptr), KES_INVALIDPARAMETER);
    std::memset(config.latency, 'x', sizeof config.latency);
    EXPECT_EQ(qel_config_encode(&config, &msg), KES_INVALIDPARAMETER);

    qel_options options;
    std::memset(&options, 0, sizeof options);
    options.sample_rates.count = 17;
    EXPECT_EQ(qel_options_encode(&options, &msg), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_message_length(&msg), 20);

    const uint8_t stray[] = {0, 0};
    ASSERT_EQ(tesk2_message_append(&msg, stray, 2), KES_SUCCESS);
    config = sample_config();
    EXPECT_EQ(qel_config_encode(&config, &msg), KES_INVALIDSTATE);
    EXPECT_EQ(tesk2_message_length(&msg), 22);
}

TEST(QelCodecEncode, OptionsThatDoNotFitAreMsgSize) {
    qel_options options;
    std::memset(&options, 0, sizeof options);
    options.interfaces.count = 16;
    for (qel_interface& entry : options.interfaces.entries) {
        std::fill(entry.name, entry.name + 63, u'n');
    }
    tesk2_message msg = new_message();
    EXPECT_EQ(qel_options_encode(&options, &msg), KES_MSGSIZE);
}

TEST(QelCodecStatus, ManagerNamesFirstThenTheProtocolNames) {
    EXPECT_STREQ(qel_status_name(0x0100), "Invalid API");
    EXPECT_STREQ(qel_status_name(0x0101), "Invalid Data");
    EXPECT_STREQ(qel_status_name(0x0102), "Invalid State");
    EXPECT_STREQ(qel_status_name(0x0103), "System error");
    EXPECT_STREQ(qel_status_name(0x0081), "Not connected");
    EXPECT_STREQ(qel_status_name(0x0007), "?");
}

namespace {

// Deterministic record generator. Records are zero-filled first, as every
// producer of records does, so that whole-record comparison is meaningful.
struct Generator {
    std::mt19937 random{20240611};

    uint32_t any(uint32_t below) { return static_cast<uint32_t>(random() % below); }

    void narrow(char* text, size_t most) {
        size_t n = any(static_cast<uint32_t>(most + 1));
        for (size_t i = 0; i < n; ++i) {
            text[i] = static_cast<char>(' ' + any(95));
        }
    }
    // Units from 1 to 0xFFFF, so names well above 127 appear.
    void wide(char16_t* text, size_t most) {
        size_t n = any(static_cast<uint32_t>(most + 1));
        for (size_t i = 0; i < n; ++i) {
            text[i] = static_cast<char16_t>(any(2) ? 1 + any(127) : 128 + any(0xFF7F));
        }
    }
    void bytes(uint8_t* out, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            out[i] = static_cast<uint8_t>(any(256));
        }
    }

    qel_config config() {
        qel_config c;
        std::memset(&c, 0, sizeof c);
        c.channels = static_cast<uint16_t>(any(0x10000));
        wide(c.interface.name, QEL_INTERFACE_NAME_SIZE - 1);
        bytes(c.interface.mac, QEL_MAC_SIZE);
        c.sample_rate_hz = static_cast<uint32_t>(random());
        c.sample_format = static_cast<uint16_t>(any(0x10000));
        narrow(c.latency, QEL_LATENCY_NAME_SIZE - 1);
        c.want_to_run = any(2);
        c.audio_interface = any(0x10000);
        c.asio_latency_us = static_cast<uint32_t>(random());
        c.asio_buffer_size = static_cast<uint32_t>(random());
        c.asio_encoding = static_cast<uint16_t>(any(0x10000));
        return c;
    }

    qel_state state() {
        qel_state s;
        std::memset(&s, 0, sizeof s);
        s.config = config();
        s.config_lock_flags = static_cast<uint16_t>(any(0x10000));
        s.system_error = static_cast<uint16_t>(any(0x10000));
        s.link_up = any(2);
        s.link_speed = static_cast<uint32_t>(random());
        bytes(s.ip_address, QEL_IP_ADDRESS_SIZE);
        narrow(s.device_name, QEL_DEVICE_NAME_SIZE - 1);
        wide(s.dll_process_name, QEL_DLL_PROCESS_NAME_SIZE - 1);
        return s;
    }

    qel_info info() {
        qel_info i;
        std::memset(&i, 0, sizeof i);
        i.first_value = static_cast<uint16_t>(any(0x10000));
        i.major = static_cast<uint8_t>(any(256));
        i.minor = static_cast<uint8_t>(any(256));
        i.build = static_cast<uint16_t>(any(0x10000));
        narrow(i.suffix, QEL_INFO_SUFFIX_SIZE - 1);
        return i;
    }

    template <typename List> void u16s(List* list, uint16_t n) {
        list->count = n;
        for (uint16_t i = 0; i < n; ++i) {
            list->entries[i] = static_cast<uint16_t>(any(0x10000));
        }
    }
    template <typename List> void u32s(List* list, uint16_t n) {
        list->count = n;
        for (uint16_t i = 0; i < n; ++i) {
            list->entries[i] = static_cast<uint32_t>(random());
        }
    }

    // List lengths come from `lengths`; names share a budget that keeps the
    // largest body (every list full) inside one datagram: 64 interface name
    // units and 96 latency name characters in all.
    qel_options options(const uint16_t lengths[8]) {
        qel_options o;
        std::memset(&o, 0, sizeof o);
        u16s(&o.channel_counts, lengths[0]);
        o.interfaces.count = lengths[1];
        for (uint16_t i = 0; i < lengths[1]; ++i) {
            wide(o.interfaces.entries[i].name, std::min<size_t>(63, 64 / lengths[1]));
            bytes(o.interfaces.entries[i].mac, QEL_MAC_SIZE);
        }
        o.sample_rates.count = lengths[2];
        for (uint16_t i = 0; i < lengths[2]; ++i) {
            o.sample_rates.entries[i].rate_hz = static_cast<uint32_t>(random());
            o.sample_rates.entries[i].max_channels = static_cast<uint16_t>(any(0x10000));
        }
        u16s(&o.sample_formats, lengths[3]);
        o.latencies.count = lengths[4];
        for (uint16_t i = 0; i < lengths[4]; ++i) {
            narrow(o.latencies.entries[i].name, std::min<size_t>(31, 96 / lengths[4]));
            o.latencies.entries[i].latency_us = static_cast<uint32_t>(random());
        }
        u32s(&o.asio_latencies, lengths[5]);
        u32s(&o.asio_buffer_sizes, lengths[6]);
        u16s(&o.asio_encodings, lengths[7]);
        return o;
    }
};

} // namespace

TEST(QelCodecRoundTrip, EveryRecordSurvivesEncodeAndDecode) {
    Generator gen;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        tesk2_message msg = new_message();
        const qel_config config = gen.config();
        qel_config config_back;
        ASSERT_EQ(qel_config_encode(&config, &msg), KES_SUCCESS);
        ASSERT_EQ(qel_config_decode(&msg, 0, &config_back), KES_SUCCESS);
        EXPECT_TRUE(same(config_back, config));

        tesk2_message_set_header(&msg, QEL_MANAGER_PROTOCOL, QEL_EVENT_STATE);
        const qel_state state = gen.state();
        qel_state state_back;
        ASSERT_EQ(qel_state_encode(&state, &msg), KES_SUCCESS);
        ASSERT_EQ(qel_state_decode(&msg, &state_back), KES_SUCCESS);
        EXPECT_TRUE(same(state_back, state));

        tesk2_message_set_header(&msg, QEL_MANAGER_PROTOCOL, TESK2_OPCODE_CONNECT);
        const qel_info info = gen.info();
        qel_info info_back;
        ASSERT_EQ(qel_info_encode(&info, &msg), KES_SUCCESS);
        ASSERT_EQ(qel_info_decode(&msg, &info_back), KES_SUCCESS);
        EXPECT_TRUE(same(info_back, info));
    }
}

// Each list walks through every length 0..16, the lists out of step with one
// another; then every list full; then random lengths.
TEST(QelCodecRoundTrip, OptionsWithEveryListLength) {
    Generator gen;
    for (int round = 0; round < 17 * 8; ++round) {
        SCOPED_TRACE(round);
        uint16_t lengths[8];
        for (int list = 0; list < 8; ++list) {
            lengths[list] = static_cast<uint16_t>(round < 17    ? (round + 5 * list) % 17
                                                  : round == 17 ? 16
                                                                : gen.any(17));
        }
        const qel_options options = gen.options(lengths);
        tesk2_message msg = new_message();
        tesk2_message_set_header(&msg, QEL_MANAGER_PROTOCOL, QEL_EVENT_OPTIONS);
        qel_options back;
        ASSERT_EQ(qel_options_encode(&options, &msg), KES_SUCCESS);
        ASSERT_EQ(qel_options_decode(&msg, &back), KES_SUCCESS);
        EXPECT_TRUE(same(back, options));
    }
}
