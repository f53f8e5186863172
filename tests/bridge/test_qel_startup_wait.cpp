// The one start-up wait that runs on the real clock: a manager that never
// answers holds the start-up for exactly the 5.5 s the wait allows.
#include "bridge_support.h"

#include <chrono>

namespace qeltest {
namespace {

class ClientStartUpRealTime : public BridgeTest {};

TEST_F(ClientStartUpRealTime, AManagerThatNeverAnswersTimesOutAfterFiveAndAHalfSeconds) {
    ASSERT_EQ(makeClient(), KES_SUCCESS);
    ASSERT_EQ(m_client->connect(), KES_SUCCESS);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_client->waitForConnection(), KES_TIMEDOUT);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(5500));
    EXPECT_LT(elapsed, std::chrono::milliseconds(6500));
    EXPECT_EQ(received(), (std::vector<uint16_t>{TESK2_OPCODE_CONNECT})) << "CONNECT only";
}

} // namespace
} // namespace qeltest
