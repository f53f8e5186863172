// The main of the Windows test programs: GoogleTest's, with Winsock started
// for the whole run. The programs start it through the runtime environment;
// tests open sockets without one.
#include "test_platform.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qeltest::startSockets()) {
        std::fprintf(stderr, "test_main_win: Winsock did not start\n");
        return 1;
    }
    const int status = RUN_ALL_TESTS();
    qeltest::stopSockets();
    return status;
}
