// All of a protocol client's memory is allocated when it is created: a burst
// of request/response round trips and keepalive checks must not touch the
// heap. The process's malloc family is counted while the client runs (not
// while the scripted peer does); sanitizer builds own malloc, and a Windows
// program's comes from the system's C library, which a program cannot
// replace, so they skip.
#include "kes_env.h"
#include "scripted_peer.h"
#include "tesk2_client.h"
#include "test_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(_WIN32)
#define QEL_COUNT_ALLOCATIONS 0
#else
#define QEL_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

[[maybe_unused]] void counted() {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
}
} // namespace

#if QEL_COUNT_ALLOCATIONS
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);

void* malloc(size_t size) {
    counted();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    counted();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    counted();
    return __libc_realloc(pointer, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    counted();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    counted();
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : 12;
}
void free(void* pointer) {
    __libc_free(pointer);
}
}
#endif

namespace {

using qeltest::Datagram;

int countNotes(tesk2_client* client, const tesk2_notification*) {
    ++*static_cast<long*>(tesk2_client_get_context(client));
    return 0;
}

struct Counting {
    Counting() { g_counting = true; }
    ~Counting() { g_counting = false; }
};

TEST(ClientAllocation, TenThousandRoundTripsAllocateNothing) {
    if (!QEL_COUNT_ALLOCATIONS) {
        GTEST_SKIP() << "malloc cannot be counted in this build";
    }
    qeltest::TestClock clock;
    qeltest::ScriptedPeer peer;
    kes_env* env = nullptr;
    ASSERT_EQ(kes_env_acquire(&env), KES_SUCCESS);
    kes_log_set_threshold(env->log, KES_LOG_STDERR, KES_LOG_WARNING);
    kes_socket sock = peer.openClientSocket();
    tesk2_client* client = tesk2_client_new(env);
    ASSERT_EQ(tesk2_client_initialise(client, nullptr, sock), KES_SUCCESS);
    kes_time interval{10, 0};
    kes_time timeout{31, 0};
    ASSERT_EQ(tesk2_client_enable_keepalive(client, 0x1001, &interval, &timeout), KES_SUCCESS);
    long notes = 0;
    tesk2_client_set_context(client, &notes);
    tesk2_client_set_callback(client, countNotes);

    auto roundTrip = [&](uint16_t opcode) {
        tesk2_request* request = nullptr;
        {
            Counting counting;
            ASSERT_EQ(tesk2_client_request_alloc(client, &request), KES_SUCCESS);
            tesk2_message* message = tesk2_request_message(request);
            tesk2_message_set_header(message, 0x1001, opcode);
            const uint8_t body[8] = {1, 2, 3, 4, 5, 6, 7, 8};
            ASSERT_EQ(tesk2_message_append(message, body, sizeof body), KES_SUCCESS);
            ASSERT_EQ(tesk2_client_send_request(request), KES_SUCCESS);
        }
        Datagram d;
        ASSERT_TRUE(peer.receive(d));
        peer.reply(d, TESK2_STATUS_RESPONSE, std::vector<uint8_t>(380, 0x42));
        peer.send(TESK2_STATUS_EVENT, 1, 0x0102, std::vector<uint8_t>(380, 0x24));
        ASSERT_TRUE(qeltest::waitReadable(sock));
        Counting counting;
        ASSERT_EQ(tesk2_client_process(client), KES_SUCCESS);
    };

    roundTrip(TESK2_OPCODE_CONNECT);
    ASSERT_EQ(tesk2_client_get_state(client), TESK2_CONNECTED);
    g_allocations = 0;
    for (int i = 0; i < 10000; ++i) {
        if (i % 1000 == 999) {
            clock.advance(10, 1); // let a keepalive go out now and then
        }
        roundTrip(0x0110);
        peer.drain();
    }
    EXPECT_EQ(g_allocations.load(), 0);
    EXPECT_EQ(tesk2_client_get_state(client), TESK2_CONNECTED);
    EXPECT_GE(notes, 20000);

    tesk2_client_free(client);
    kes_socket_close(&sock);
    kes_env_release(env);
}

TEST(ClientAllocation, TheCounterSeesAllocations) {
    if (!QEL_COUNT_ALLOCATIONS) {
        GTEST_SKIP() << "malloc cannot be counted in this build";
    }
    g_allocations = 0;
    {
        Counting counting;
        tesk2_client_free(tesk2_client_new(nullptr));
    }
    EXPECT_EQ(g_allocations.load(), 1);
}

} // namespace
