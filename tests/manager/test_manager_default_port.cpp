// qel-manager started without --port serves the manager's own port, where
// the panel's manager client finds it with no port given.
#include "manager_process.h"

#include "qel_client.h"

#include <gtest/gtest.h>

#include <signal.h>

namespace qeltest {
namespace {

TEST(ManagerDefaultPort, ServesPort8899WhereThePanelLooks) {
    ScratchDir dir;
    ManagerProcess manager(dir, {}, -1);
    ASSERT_TRUE(manager.waitReady()) << manager.log();
    EXPECT_EQ(manager.port(), QEL_MANAGER_PORT);

    kes_env* env = nullptr;
    ASSERT_EQ(kes_env_acquire(&env), KES_SUCCESS);
    qel_client* client = nullptr;
    ASSERT_EQ(qel_client_new(env, &client), KES_SUCCESS);
    ASSERT_EQ(qel_client_connect(client), KES_SUCCESS);
    bool connected = false;
    for (int i = 0; i < 150 && !connected; ++i) {
        const kes_time step{0, 20000};
        kes_socket_wait_readable(client->socket, &step);
        tesk2_client_process(client->protocol);
        connected = client->status == TESK2_CONNECTED && (client->flags & QEL_CLIENT_STATE_VALID);
    }
    EXPECT_TRUE(connected);
    qel_client_free(client);
    kes_env_release(env);
    EXPECT_EQ(manager.stop(SIGTERM), 0);
}

} // namespace
} // namespace qeltest
