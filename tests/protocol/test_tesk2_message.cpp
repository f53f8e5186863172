// The control protocol message buffer: header layout on the wire, body growth
// up to the datagram limit, status names and the client identity's text.
#include "tesk2_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

// A message whose sizes and whole datagram area hold a recognisable pattern,
// so that any byte a function should not touch shows up when it changes.
tesk2_message patterned_message() {
    tesk2_message msg;
    std::memset(&msg, 0xA5, sizeof msg);
    tesk2_message_init(&msg);
    return msg;
}

std::vector<uint8_t> datagram_bytes(const tesk2_message& msg) {
    return std::vector<uint8_t>(msg.data, msg.data + TESK2_DATAGRAM_MAX);
}

std::vector<uint8_t> header_bytes(const tesk2_message& msg) {
    return std::vector<uint8_t>(msg.data, msg.data + TESK2_HEADER_SIZE);
}

tesk2_client_id make_id(std::initializer_list<uint8_t> bytes, uint16_t port) {
    tesk2_client_id id{};
    size_t i = 0;
    for (uint8_t b : bytes) {
        id.id[i++] = b;
    }
    id.port = port;
    return id;
}

} // namespace

TEST(Tesk2MessageLayout, SizesFollowTheDatagramLimit) {
    EXPECT_EQ(TESK2_DATAGRAM_MAX, 1472);
    EXPECT_EQ(TESK2_HEADER_SIZE, 20);
    EXPECT_EQ(TESK2_PAYLOAD_MAX, 1452);
    EXPECT_EQ(TESK2_CLIENT_ID_TEXT_SIZE, 23u);
}

TEST(Tesk2MessageLayout, InitSetsSizesAndLeavesTheDatagramAreaAlone) {
    tesk2_message msg;
    std::memset(&msg, 0xA5, sizeof msg);
    const std::vector<uint8_t> before = datagram_bytes(msg);

    tesk2_message_init(&msg);

    EXPECT_EQ(msg.header_size, 20);
    EXPECT_EQ(msg.payload_capacity, 1452);
    EXPECT_EQ(tesk2_message_header_size(&msg), 20);
    EXPECT_EQ(tesk2_message_payload_capacity(&msg), 1452);
    EXPECT_EQ(datagram_bytes(msg), before);
}

TEST(Tesk2MessageLayout, DataIsTheDatagramAreaAndPayloadFollowsTheHeader) {
    tesk2_message msg = patterned_message();
    const tesk2_message& cmsg = msg;

    EXPECT_EQ(tesk2_message_data(&msg), msg.data);
    EXPECT_EQ(tesk2_message_data(&cmsg), msg.data);
    EXPECT_EQ(tesk2_message_payload(&msg), msg.data + 20);
    EXPECT_EQ(tesk2_message_payload(&cmsg), msg.data + 20);
}

TEST(Tesk2MessageLayout, CopiedMessagePayloadPointsIntoTheCopy) {
    tesk2_message original = patterned_message();
    tesk2_message_set_header(&original, 0x1001, 0x0005);
    const uint8_t body[] = {1, 2, 3, 4};
    ASSERT_EQ(tesk2_message_append(&original, body, sizeof body), KES_SUCCESS);

    tesk2_message copy = original;
    // Spoil the original so that a payload still pointing there would show it.
    std::memset(original.data, 0, sizeof original.data);

    EXPECT_EQ(tesk2_message_payload(&copy), copy.data + 20);
    EXPECT_EQ(tesk2_message_data(&copy), copy.data);
    EXPECT_EQ(std::memcmp(tesk2_message_payload(&copy), body, sizeof body), 0);
    EXPECT_EQ(tesk2_message_length(&copy), 24);
    EXPECT_EQ(tesk2_message_body_size(&copy), 4);

    const uint8_t more[] = {5};
    ASSERT_EQ(tesk2_message_append(&copy, more, sizeof more), KES_SUCCESS);
    EXPECT_EQ(copy.data[24], 5);
    EXPECT_EQ(original.data[24], 0);
}

TEST(Tesk2MessageHeader, SetHeaderWritesTheExactBytes) {
    tesk2_message msg = patterned_message();

    tesk2_message_set_header(&msg, 0x1001, 0xBEEF);

    const std::vector<uint8_t> expected = {
        0x10, 0x01,                                     // protocol
        0x00, 0x14,                                     // length 20
        0x00, 0x00,                                     // seqnum
        0xBE, 0xEF,                                     // opcode
        0x00, 0x00,                                     // status Request
        0xA5, 0xA5,                                     // client_port untouched
        0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, // client_id untouched
    };
    EXPECT_EQ(header_bytes(msg), expected);
    // The body is not touched either.
    EXPECT_EQ(msg.data[20], 0xA5);
    EXPECT_EQ(msg.data[TESK2_DATAGRAM_MAX - 1], 0xA5);

    EXPECT_EQ(tesk2_message_protocol(&msg), 0x1001);
    EXPECT_EQ(tesk2_message_length(&msg), 20);
    EXPECT_EQ(tesk2_message_seqnum(&msg), 0);
    EXPECT_EQ(tesk2_message_opcode(&msg), 0xBEEF);
    EXPECT_EQ(tesk2_message_status(&msg), TESK2_STATUS_REQUEST);
    EXPECT_EQ(tesk2_message_body_size(&msg), 0);
}

TEST(Tesk2MessageHeader, SetHeaderStartsAFreshRequestAfterAnEarlierOne) {
    tesk2_message msg = patterned_message();
    tesk2_message_set_header(&msg, 0x1001, 0x0007);
    const uint8_t body[] = {9, 9, 9};
    ASSERT_EQ(tesk2_message_append(&msg, body, sizeof body), KES_SUCCESS);
    tesk2_message_set_seqnum(&msg, 0x4242);
    tesk2_message_set_status(&msg, TESK2_STATUS_RESPONSE);

    tesk2_message_set_header(&msg, 0x2002, TESK2_OPCODE_KEEPALIVE);

    EXPECT_EQ(tesk2_message_protocol(&msg), 0x2002);
    EXPECT_EQ(tesk2_message_length(&msg), 20);
    EXPECT_EQ(tesk2_message_seqnum(&msg), 0);
    EXPECT_EQ(tesk2_message_opcode(&msg), TESK2_OPCODE_KEEPALIVE);
    EXPECT_EQ(tesk2_message_status(&msg), TESK2_STATUS_REQUEST);
    EXPECT_EQ(tesk2_message_body_size(&msg), 0);
}

TEST(Tesk2MessageHeader, SetClientIdWritesPortInNetworkOrderAndTheEightBytes) {
    tesk2_message msg = patterned_message();
    const tesk2_client_id id = make_id({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, 0xCCCF);

    tesk2_message_set_client_id(&msg, &id);

    const std::vector<uint8_t> expected = {
        0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, // fields before: untouched
        0xCC, 0xCF,                                                 // client_port 52431
        0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,             // client_id
    };
    EXPECT_EQ(header_bytes(msg), expected);
    EXPECT_EQ(msg.data[20], 0xA5);
}

TEST(Tesk2MessageHeader, ClientIdSurvivesSetHeaderAndReadsBack) {
    tesk2_message msg = patterned_message();
    const tesk2_client_id id = make_id({0xFF, 0, 0x10, 0, 0, 0x7F, 0x80, 0x01}, 8899);
    tesk2_message_set_client_id(&msg, &id);

    tesk2_message_set_header(&msg, 0x1001, TESK2_OPCODE_CONNECT);

    tesk2_client_id read{};
    tesk2_message_client_id(&msg, &read);
    EXPECT_EQ(read.port, 8899);
    EXPECT_EQ(std::memcmp(read.id, id.id, TESK2_CLIENT_ID_SIZE), 0);
}

TEST(Tesk2MessageHeader, SettersAndGettersRoundTripInBigEndian) {
    struct Case {
        uint16_t value;
        uint8_t high;
        uint8_t low;
    };
    const Case cases[] = {{0x0000, 0x00, 0x00},
                          {0x0001, 0x00, 0x01},
                          {0x1234, 0x12, 0x34},
                          {0x8000, 0x80, 0x00},
                          {0xFFFF, 0xFF, 0xFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        tesk2_message msg = patterned_message();
        tesk2_message_set_seqnum(&msg, c.value);
        tesk2_message_set_opcode(&msg, static_cast<uint16_t>(c.value ^ 0x0F0F));
        tesk2_message_set_status(&msg, static_cast<uint16_t>(c.value ^ 0xF0F0));

        EXPECT_EQ(msg.data[4], c.high);
        EXPECT_EQ(msg.data[5], c.low);
        EXPECT_EQ(tesk2_message_seqnum(&msg), c.value);
        EXPECT_EQ(tesk2_message_opcode(&msg), static_cast<uint16_t>(c.value ^ 0x0F0F));
        EXPECT_EQ(tesk2_message_status(&msg), static_cast<uint16_t>(c.value ^ 0xF0F0));
        // Neighbouring fields stay as they were.
        EXPECT_EQ(msg.data[2], 0xA5);
        EXPECT_EQ(msg.data[3], 0xA5);
        EXPECT_EQ(msg.data[10], 0xA5);
    }
}

TEST(Tesk2MessageHeader, GettersReadFieldsWrittenOnTheWire) {
    tesk2_message msg = patterned_message();
    const uint8_t wire[20] = {0x10, 0x01, 0x00, 0x1C, 0xAB, 0xCD, 0x00, 0x02, 0x00, 0x81,
                              0x12, 0x34, 1,    2,    3,    4,    5,    6,    7,    8};
    std::memcpy(msg.data, wire, sizeof wire);

    EXPECT_EQ(tesk2_message_protocol(&msg), 0x1001);
    EXPECT_EQ(tesk2_message_length(&msg), 28);
    EXPECT_EQ(tesk2_message_seqnum(&msg), 0xABCD);
    EXPECT_EQ(tesk2_message_opcode(&msg), TESK2_OPCODE_DISCONNECT);
    EXPECT_EQ(tesk2_message_status(&msg), TESK2_STATUS_NOT_CONNECTED);
    EXPECT_EQ(tesk2_message_body_size(&msg), 8);

    tesk2_client_id id{};
    tesk2_message_client_id(&msg, &id);
    EXPECT_EQ(id.port, 0x1234);
    const uint8_t expected_id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(std::memcmp(id.id, expected_id, 8), 0);
}

TEST(Tesk2MessageHeader, AddLengthUsesSixteenBitArithmetic) {
    tesk2_message msg = patterned_message();
    tesk2_message_set_header(&msg, 0x1001, 0x0003);

    tesk2_message_add_length(&msg, 4);
    EXPECT_EQ(tesk2_message_length(&msg), 24);
    EXPECT_EQ(msg.data[2], 0x00);
    EXPECT_EQ(msg.data[3], 0x18);

    tesk2_message_add_length(&msg, 0x0100);
    EXPECT_EQ(tesk2_message_length(&msg), 0x0118);
    EXPECT_EQ(msg.data[2], 0x01);
    EXPECT_EQ(msg.data[3], 0x18);

    // 0xFFF0 + 0x0020 wraps to 0x0010.
    msg.data[2] = 0xFF;
    msg.data[3] = 0xF0;
    tesk2_message_add_length(&msg, 0x0020);
    EXPECT_EQ(tesk2_message_length(&msg), 0x0010);
    EXPECT_EQ(msg.data[2], 0x00);
    EXPECT_EQ(msg.data[3], 0x10);
}

TEST(Tesk2MessageBody, BodySizeIsLengthLessHeaderWithinCapacity) {
    struct Case {
        uint16_t length;
        uint16_t body;
    };
    const Case cases[] = {{0, 0},       {19, 0},      {20, 0},      {21, 1},
                          {1471, 1451}, {1472, 1452}, {1473, 1452}, {0xFFFF, 1452}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        tesk2_message msg = patterned_message();
        msg.data[2] = static_cast<uint8_t>(c.length >> 8);
        msg.data[3] = static_cast<uint8_t>(c.length & 0xFF);
        EXPECT_EQ(tesk2_message_body_size(&msg), c.body);
    }
}

TEST(Tesk2MessageBody, AppendWritesAtTheUsedBodyEndAndGrowsTheLength) {
    tesk2_message msg = patterned_message();
    tesk2_message_set_header(&msg, 0x1001, 0x0010);

    const uint8_t first[] = {0x11, 0x22, 0x33};
    const uint8_t second[] = {0x44, 0x55};
    ASSERT_EQ(tesk2_message_append(&msg, first, sizeof first), KES_SUCCESS);
    ASSERT_EQ(tesk2_message_append(&msg, second, sizeof second), KES_SUCCESS);

    EXPECT_EQ(tesk2_message_length(&msg), 25);
    EXPECT_EQ(msg.data[2], 0x00);
    EXPECT_EQ(msg.data[3], 0x19);
    EXPECT_EQ(tesk2_message_body_size(&msg), 5);
    const std::vector<uint8_t> body(msg.data + 20, msg.data + 26);
    EXPECT_EQ(body, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0xA5}));
}

TEST(Tesk2MessageBody, OnlyALengthWithinTheDatagramIsASendSize) {
    struct Case {
        uint16_t length;
        kes_result result;
        size_t size;
    };
    const Case cases[] = {{0, KES_MSGSIZE, 0},    {19, KES_MSGSIZE, 0},
                          {20, KES_SUCCESS, 20},  {1472, KES_SUCCESS, 1472},
                          {1473, KES_MSGSIZE, 0}, {65535, KES_MSGSIZE, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        tesk2_message message;
        tesk2_message_init(&message);
        tesk2_message_set_header(&message, 0x1001, 1);
        tesk2_message_add_length(&message, static_cast<uint16_t>(c.length - 20));
        size_t size = 99;
        EXPECT_EQ(tesk2_message_send_size(&message, &size), c.result);
        EXPECT_EQ(size, c.size);
    }
    size_t size = 0;
    EXPECT_EQ(tesk2_message_send_size(nullptr, &size), KES_INVALIDPARAMETER);
    tesk2_message message;
    tesk2_message_init(&message);
    EXPECT_EQ(tesk2_message_send_size(&message, nullptr), KES_INVALIDPARAMETER);
}

TEST(Tesk2MessageBody, AppendOfNothingSucceedsWithoutChange) {
    tesk2_message msg = patterned_message();
    tesk2_message_set_header(&msg, 0x1001, 0x0010);
    const std::vector<uint8_t> before = datagram_bytes(msg);
    const uint8_t byte = 0x42;

    EXPECT_EQ(tesk2_message_append(&msg, &byte, 0), KES_SUCCESS);
    EXPECT_EQ(tesk2_message_append(&msg, nullptr, 0), KES_SUCCESS);
    EXPECT_EQ(datagram_bytes(msg), before);
}

TEST(Tesk2MessageBody, BodyFillsExactlyToTheDatagramLimit) {
    tesk2_message msg = patterned_message();
    tesk2_message_set_header(&msg, 0x1001, 0x0010);

    std::vector<uint8_t> head(1000);
    for (size_t i = 0; i < head.size(); ++i) {
        head[i] = static_cast<uint8_t>(i);
    }
    std::vector<uint8_t> tail(452, 0x5A);
    ASSERT_EQ(tesk2_message_append(&msg, head.data(), head.size()), KES_SUCCESS);
    // This item ends exactly at body byte 1452.
    ASSERT_EQ(tesk2_message_append(&msg, tail.data(), tail.size()), KES_SUCCESS);

    EXPECT_EQ(tesk2_message_length(&msg), 1472);
    EXPECT_EQ(msg.data[2], 0x05);
    EXPECT_EQ(msg.data[3], 0xC0);
    EXPECT_EQ(tesk2_message_body_size(&msg), 1452);
    EXPECT_EQ(std::memcmp(msg.data + 20, head.data(), head.size()), 0);
    EXPECT_EQ(std::memcmp(msg.data + 1020, tail.data(), tail.size()), 0);

    // A full body refuses even one more byte and keeps every byte as it was.
    const std::vector<uint8_t> before = datagram_bytes(msg);
    const uint8_t one = 0xEE;
    EXPECT_EQ(tesk2_message_append(&msg, &one, 1), KES_MSGSIZE);
    EXPECT_EQ(datagram_bytes(msg), before);
    EXPECT_EQ(tesk2_message_append(&msg, nullptr, 0), KES_SUCCESS);
    EXPECT_EQ(datagram_bytes(msg), before);
}

TEST(Tesk2MessageBody, ItemPassingTheLimitFailsAndLeavesTheMessageUnchanged) {
    struct Case {
        size_t used;
        size_t item;
    };
    // Each item would end at body byte 1453 or beyond.
    const Case cases[] = {{0, 1453}, {1000, 453}, {1451, 2}, {0, 100000}, {10, SIZE_MAX}};
    const std::vector<uint8_t> source(1453, 0xEE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.used);
        SCOPED_TRACE(c.item);
        tesk2_message msg = patterned_message();
        tesk2_message_set_header(&msg, 0x1001, 0x0010);
        const std::vector<uint8_t> filler(c.used, 0x3C);
        ASSERT_EQ(tesk2_message_append(&msg, filler.data(), filler.size()), KES_SUCCESS);
        const std::vector<uint8_t> before = datagram_bytes(msg);
        const uint16_t sizes_before[2] = {msg.header_size, msg.payload_capacity};

        // Only the size is checked before copying, so a short source is safe here.
        EXPECT_EQ(tesk2_message_append(&msg, source.data(), c.item), KES_MSGSIZE);

        EXPECT_EQ(datagram_bytes(msg), before);
        EXPECT_EQ(tesk2_message_length(&msg), 20 + c.used);
        EXPECT_EQ(msg.header_size, sizes_before[0]);
        EXPECT_EQ(msg.payload_capacity, sizes_before[1]);
    }
}

TEST(Tesk2MessageBody, AppendOnAnOverlongLengthFieldFails) {
    tesk2_message msg = patterned_message();
    tesk2_message_set_header(&msg, 0x1001, 0x0010);
    msg.data[2] = 0x06; // length 1600: more than the datagram area holds
    msg.data[3] = 0x40;
    const std::vector<uint8_t> before = datagram_bytes(msg);
    const uint8_t one = 0x01;

    EXPECT_EQ(tesk2_message_append(&msg, &one, 1), KES_MSGSIZE);
    EXPECT_EQ(datagram_bytes(msg), before);
}

TEST(Tesk2MessageBody, AppendWithMissingDataIsAnInvalidParameter) {
    tesk2_message msg = patterned_message();
    tesk2_message_set_header(&msg, 0x1001, 0x0010);
    const std::vector<uint8_t> before = datagram_bytes(msg);

    EXPECT_EQ(tesk2_message_append(&msg, nullptr, 1), KES_INVALIDPARAMETER);
    EXPECT_EQ(datagram_bytes(msg), before);
}

TEST(Tesk2MessageMissing, EveryOperationToleratesAMissingMessage) {
    tesk2_message* none = nullptr;
    const tesk2_message* cnone = nullptr;
    const uint8_t byte = 1;

    tesk2_message_init(none);
    tesk2_message_set_header(none, 0x1001, 1);
    tesk2_message_set_seqnum(none, 1);
    tesk2_message_set_opcode(none, 1);
    tesk2_message_set_status(none, 1);
    tesk2_message_add_length(none, 1);
    const tesk2_client_id id = make_id({1, 2, 3, 4, 5, 6, 7, 8}, 9);
    tesk2_message_set_client_id(none, &id);

    EXPECT_EQ(tesk2_message_protocol(none), 0);
    EXPECT_EQ(tesk2_message_length(none), 0);
    EXPECT_EQ(tesk2_message_seqnum(none), 0);
    EXPECT_EQ(tesk2_message_opcode(none), 0);
    EXPECT_EQ(tesk2_message_status(none), 0);
    EXPECT_EQ(tesk2_message_body_size(none), 0);
    EXPECT_EQ(tesk2_message_header_size(none), 0);
    EXPECT_EQ(tesk2_message_payload_capacity(none), 0);
    EXPECT_EQ(tesk2_message_append(none, &byte, 1), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_message_append(none, nullptr, 0), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_message_data(none), nullptr);
    EXPECT_EQ(tesk2_message_data(cnone), nullptr);
    EXPECT_EQ(tesk2_message_payload(none), nullptr);
    EXPECT_EQ(tesk2_message_payload(cnone), nullptr);

    tesk2_client_id read = make_id({9, 9, 9, 9, 9, 9, 9, 9}, 99);
    tesk2_message_client_id(none, &read);
    EXPECT_EQ(read.port, 0);
    const uint8_t zeros[8] = {};
    EXPECT_EQ(std::memcmp(read.id, zeros, 8), 0);
}

TEST(Tesk2MessageMissing, MissingIdentityLeavesTheMessageAlone) {
    tesk2_message msg = patterned_message();
    const std::vector<uint8_t> before = datagram_bytes(msg);

    tesk2_message_set_client_id(&msg, nullptr);
    tesk2_message_client_id(&msg, nullptr);

    EXPECT_EQ(datagram_bytes(msg), before);
}

TEST(Tesk2StatusName, NamesEveryStatusOfTheTable) {
    struct Case {
        uint32_t status;
        const char* name;
    };
    const Case cases[] = {
        {TESK2_STATUS_REQUEST, "Request"},
        {TESK2_STATUS_RESPONSE, "Response"},
        {TESK2_STATUS_EVENT, "Event"},
        {TESK2_STATUS_OPCODE_ERROR, "Opcode error"},
        {TESK2_STATUS_UNRECOGNISED_OPCODE, "Unrecognised opcode"},
        {TESK2_STATUS_UNSUPPORTED_OPCODE, "Unsupported opcode"},
        {TESK2_STATUS_SERVER_ERROR, "Server error"},
        {TESK2_STATUS_NOT_CONNECTED, "Not connected"},
        {TESK2_STATUS_TOO_MANY_CLIENTS, "Too many clients"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_STREQ(tesk2_status_name(c.status), c.name);
    }
}

TEST(Tesk2StatusName, ValuesArePinned) {
    EXPECT_EQ(TESK2_STATUS_REQUEST, 0x00);
    EXPECT_EQ(TESK2_STATUS_RESPONSE, 0x01);
    EXPECT_EQ(TESK2_STATUS_EVENT, 0x02);
    EXPECT_EQ(TESK2_STATUS_OPCODE_ERROR, 0x30);
    EXPECT_EQ(TESK2_STATUS_UNRECOGNISED_OPCODE, 0x31);
    EXPECT_EQ(TESK2_STATUS_UNSUPPORTED_OPCODE, 0x32);
    EXPECT_EQ(TESK2_STATUS_SERVER_ERROR, 0x80);
    EXPECT_EQ(TESK2_STATUS_NOT_CONNECTED, 0x81);
    EXPECT_EQ(TESK2_STATUS_TOO_MANY_CLIENTS, 0x82);
    EXPECT_EQ(TESK2_OPCODE_KEEPALIVE, 0x0000);
    EXPECT_EQ(TESK2_OPCODE_CONNECT, 0x0001);
    EXPECT_EQ(TESK2_OPCODE_DISCONNECT, 0x0002);
}

TEST(Tesk2StatusName, OtherValuesAreAQuestionMark) {
    const uint32_t others[] = {0x03, 0x2F, 0x33, 0x7F, 0x83, 0xFF, 0x0100, 0x8081, 0xFFFF};
    for (uint32_t status : others) {
        SCOPED_TRACE(status);
        EXPECT_STREQ(tesk2_status_name(status), "?");
    }
}

TEST(Tesk2StatusName, OnlyTheLowSixteenBitsCount) {
    EXPECT_STREQ(tesk2_status_name(0x10081), "Not connected");
    EXPECT_STREQ(tesk2_status_name(0xFFFF0000u), "Request");
    EXPECT_STREQ(tesk2_status_name(0x80000002u), "Event");
    EXPECT_STREQ(tesk2_status_name(0x12340003u), "?");
}

TEST(Tesk2ClientIdText, FormatsHexBytesColonAndDecimalPort) {
    struct Case {
        tesk2_client_id id;
        const char* text;
    };
    const Case cases[] = {
        {make_id({0, 0, 0, 0, 0, 0, 0, 0}, 52431), "0000000000000000:52431"},
        {make_id({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, 8899), "0123456789abcdef:8899"},
        {make_id({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 65535),
         "ffffffffffffffff:65535"},
        {make_id({0x0A, 0, 0, 0, 0, 0, 0, 0xB0}, 0), "0a000000000000b0:0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[TESK2_CLIENT_ID_TEXT_SIZE];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(tesk2_client_id_to_text(&c.id, buffer), buffer);
        EXPECT_STREQ(buffer, c.text);
    }
}

TEST(Tesk2ClientIdText, LongestTextFitsAndNothingPastTheBufferIsWritten) {
    // 23 bytes of buffer followed by guard bytes.
    char area[TESK2_CLIENT_ID_TEXT_SIZE + 9];
    std::memset(area, '#', sizeof area);
    const tesk2_client_id id = make_id({0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}, 65535);

    tesk2_client_id_to_text(&id, area);

    EXPECT_EQ(std::string(area), "fedcba9876543210:65535");
    EXPECT_EQ(std::strlen(area), TESK2_CLIENT_ID_TEXT_SIZE - 1);
    for (size_t i = TESK2_CLIENT_ID_TEXT_SIZE; i < sizeof area; ++i) {
        EXPECT_EQ(area[i], '#') << "guard byte " << i;
    }
}

TEST(Tesk2ClientIdText, MissingArgumentsDoNotCrash) {
    const tesk2_client_id id = make_id({1, 2, 3, 4, 5, 6, 7, 8}, 1);
    EXPECT_EQ(tesk2_client_id_to_text(&id, nullptr), nullptr);
    EXPECT_EQ(tesk2_client_id_to_text(nullptr, nullptr), nullptr);

    char buffer[TESK2_CLIENT_ID_TEXT_SIZE];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(tesk2_client_id_to_text(nullptr, buffer), buffer);
    EXPECT_STREQ(buffer, "");
}
