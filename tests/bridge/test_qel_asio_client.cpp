// The application's factory and client on the manager's own port.
#include "box_support.h"

#include "QelAsioClient.h"
#include "QelAsioConfig.h"
#include "QelAsioFactory.h"
#include "QelAsioOptions.h"
#include "QelMessageBox.h"
#include "QelOptions.h"
#include "QelState.h"

#include "qel_codec.h"

namespace qeltest {
namespace {

TEST(AsioFactory, MakesTheAsioClientAndModelThatTalkToPort8899) {
    failOnEveryBox();
    ScriptedPeer manager(QEL_MANAGER_PORT);
    kes_env* env = nullptr;
    ASSERT_EQ(kes_env_acquire(&env), KES_SUCCESS);
    QelAsioFactory factory;
    std::unique_ptr<QelClient> client(factory.createClient());
    ASSERT_NE(dynamic_cast<QelAsioClient*>(client.get()), nullptr);
    ASSERT_EQ(client->initManagerClient(env, client->getManagerClientAddress()), KES_SUCCESS);
    ASSERT_EQ(client->createModel(), KES_SUCCESS);
    ASSERT_EQ(client->connect(), KES_SUCCESS);

    Datagram d;
    ASSERT_TRUE(manager.receive(d));
    EXPECT_EQ(d.opcode, TESK2_OPCODE_CONNECT);
    manager.reply(d, TESK2_STATUS_RESPONSE, infoBody());
    manager.send(TESK2_STATUS_EVENT, 1, QEL_EVENT_OPTIONS, optionsBody(sampleOptions()));
    manager.send(TESK2_STATUS_EVENT, 2, QEL_EVENT_STATE, stateBody(sampleState()));
    EXPECT_EQ(client->waitForConnection(), KES_SUCCESS);
    EXPECT_EQ(client->waitForOptions(), KES_SUCCESS);
    EXPECT_EQ(client->waitForState(), KES_SUCCESS);
    auto* options = dynamic_cast<QelAsioOptions*>(client->getOptions());
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(options->getAsioBufferSizes().size(), 3u);
    auto* config = dynamic_cast<const QelAsioConfig*>(client->getState()->getConfig());
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->m_audioInterface, "WDM");

    client->stop();
    ASSERT_TRUE(manager.receive(d));
    EXPECT_EQ(d.opcode, TESK2_OPCODE_DISCONNECT);
    client.reset();
    kes_env_release(env);
    qelSetMessageBoxHook(nullptr);
}

} // namespace
} // namespace qeltest
