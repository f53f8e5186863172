// The error reporter against a scripted manager: one box per new system
// error, then CLEAR SYSTEM ERROR, at once or after the pending request.
#include "box_support.h"

#include "QelConfig.h"
#include "QelErrors.h"
#include "QelState.h"

#include "qel_codec.h"
#include "tesk2_client.h"

#include <wx/event.h>

namespace qeltest {
namespace {

using Boxes = std::vector<Box>;
using Opcodes = std::vector<uint16_t>;

Box errorBox(const std::string& text) {
    return Box{wxOK | wxICON_ERROR, text, "QEL Error"};
}

class Errors : public InterfaceTest {
protected:
    void SetUp() override {
        InterfaceTest::SetUp();
        startUp();
        m_errors = std::make_unique<QelErrors>(m_client.get());
        m_recorder = std::make_unique<BoxRecorder>();
        // Whether the clear went out before the box was closed.
        m_recorder->onBox = [this](const Box&) { m_sentDuringBox.push_back(!m_manager.idle()); };
    }
    void TearDown() override {
        m_errors.reset();
        m_recorder.reset();
        InterfaceTest::TearDown();
    }

    // The manager answers the request it received last with `state`.
    void answer(const Datagram& request, const qel_state& state) {
        m_manager.reply(request, TESK2_STATUS_RESPONSE, stateBody(state));
        ASSERT_TRUE(waitReadable(managerClient()->socket));
        ASSERT_EQ(tesk2_client_process(managerClient()->protocol), KES_SUCCESS);
    }
    Datagram take(uint16_t opcode) {
        Datagram d;
        EXPECT_TRUE(m_manager.receive(d));
        EXPECT_EQ(d.opcode, opcode);
        return d;
    }

    const std::vector<Box>& boxes() const { return m_recorder->boxes(); }

    std::unique_ptr<BoxRecorder> m_recorder;
    std::vector<bool> m_sentDuringBox;
    // Where processing events would be posted; they are handled by hand.
    wxEvtHandler m_handler;
    std::unique_ptr<QelErrors> m_errors;
};

TEST_F(Errors, ANewErrorIsShownOnceThenCleared) {
    sendState(stateWith(0x0201));
    EXPECT_EQ(boxes(), Boxes{errorBox("Can't find audio driver (513)")});
    EXPECT_EQ(m_sentDuringBox, std::vector<bool>{false}) << "cleared after the box is closed";
    take(QEL_OPCODE_CLEAR_SYSTEM_ERROR);

    sendState(stateWith(0x0201, 100));
    EXPECT_EQ(boxes().size(), 1u) << "the same error again";
    EXPECT_EQ(received(), Opcodes{});
}

TEST_F(Errors, AnotherErrorWithoutZeroBetweenIsShownToo) {
    sendState(stateWith(0x0201));
    Datagram clear = take(QEL_OPCODE_CLEAR_SYSTEM_ERROR);
    // The answer carries the next error: its box closes while the first
    // clear is still pending, so the second clear follows its completion.
    answer(clear, stateWith(0x0202));
    EXPECT_EQ(boxes(), (Boxes{errorBox("Can't find audio driver (513)"),
                              errorBox("Audio driver isn't active (514)")}));
    EXPECT_EQ(received(), Opcodes{QEL_OPCODE_CLEAR_SYSTEM_ERROR});
}

TEST_F(Errors, AnErrorOutsideTheCatalogueIsShownWithItsNumber) {
    sendState(stateWith(0x0204));
    EXPECT_EQ(boxes(), Boxes{errorBox("Unknown error code (516)")});
    EXPECT_EQ(received(), Opcodes{QEL_OPCODE_CLEAR_SYSTEM_ERROR});
}

TEST_F(Errors, TheClearWaitsForAPendingConfiguration) {
    std::unique_ptr<QelConfig> config(m_factory.createConfig());
    config->copyFrom(m_client->getState()->getConfig());
    ASSERT_EQ(m_client->setConfig(*config), KES_SUCCESS);
    Datagram setConfig = take(QEL_OPCODE_SET_CONFIG);

    sendState(stateWith(0x0201));
    EXPECT_EQ(boxes().size(), 1u);
    EXPECT_EQ(received(), Opcodes{}) << "SET CONFIG is still pending";
    answer(setConfig, stateWith(0x0201));
    EXPECT_EQ(received(), Opcodes{QEL_OPCODE_CLEAR_SYSTEM_ERROR});
    EXPECT_EQ(boxes().size(), 1u);
}

TEST_F(Errors, AnErrorThatComesBackAfterZeroIsShownAgain) {
    sendState(stateWith(0x0201));
    answer(take(QEL_OPCODE_CLEAR_SYSTEM_ERROR), stateWith(0));
    EXPECT_EQ(boxes().size(), 1u) << "an error that has gone is not announced";
    sendState(stateWith(0x0201));
    EXPECT_EQ(boxes(), (Boxes{errorBox("Can't find audio driver (513)"),
                              errorBox("Can't find audio driver (513)")}));
    EXPECT_EQ(received(), Opcodes{QEL_OPCODE_CLEAR_SYSTEM_ERROR});
}

class ErrorsAtStartUp : public InterfaceTest {};

TEST_F(ErrorsAtStartUp, AnErrorAlreadyReportedIsShownWhenAskedAndNotAfterTheReporterWent) {
    startUp(stateWith(0x0300));
    BoxRecorder boxes;
    auto errors = std::make_unique<QelErrors>(m_client.get());
    EXPECT_TRUE(boxes.boxes().empty());
    errors->onClientEvent(QEL_CLIENT_EVENT_STATE);
    EXPECT_EQ(boxes.boxes(), Boxes{errorBox("PTP failed (768)")});
    EXPECT_EQ(received(), Opcodes{QEL_OPCODE_CLEAR_SYSTEM_ERROR});

    errors.reset();
    sendState(stateWith(0x0301));
    EXPECT_EQ(boxes.boxes().size(), 1u) << "unregistered";
}

// The reporter is the one the client tells of lost contact, for as long as
// it exists, and each reason has its own warning.
TEST_F(ErrorsAtStartUp, TellsEachLostContactInItsOwnWarningWhileItExists) {
    ASSERT_EQ(makeClient(), KES_SUCCESS);
    BoxRecorder boxes;
    {
        QelErrors errors(m_client.get());
        EXPECT_EQ(m_client->getWarnings(), &errors);
        m_client->getWarnings()->onLostContact(QEL_LOST_CONTACT_DISCONNECTED);
        m_client->getWarnings()->onLostContact(QEL_LOST_CONTACT_SLEEP);
    }
    EXPECT_EQ(boxes.boxes(), (Boxes{{wxOK | wxICON_WARNING, k_restartWarning, "Warning"},
                                    {wxOK | wxICON_WARNING, k_sleepWarning, "Warning"}}));
    EXPECT_EQ(m_client->getWarnings(), nullptr);
    EXPECT_TRUE(m_client->getListeners().empty());
}

// What the user meets when a system error is reported during a long read:
// the box is shown during a delivery of the client's, without its lock; the
// manager's next states wait until it is answered, and the clear follows.
TEST_F(Errors, ANewErrorWhoseBoxIsOpenLetsTheClientProcessAndSendsTheClearAfterwards) {
    std::vector<std::string> seen;
    m_recorder->onBox = [&](const Box&) {
        // While the box is open the manager changes the link twice and the
        // client processes both, as its thread's events would make it do.
        for (uint32_t speed : {100u, 10u}) {
            m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE,
                           stateBody(stateWith(0x0201, speed)));
            ASSERT_TRUE(waitReadable(managerClient()->socket));
            m_client->requestProcessing(&m_handler);
            m_client->onThreadEvent();
        }
        EXPECT_TRUE(m_manager.idle()) << "nothing is sent while the box is open";
        seen.push_back("box closes");
    };
    RecordingListener after(&seen, "after");
    m_client->addListener(&after);
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE, stateBody(stateWith(0x0201)));
    ASSERT_TRUE(waitReadable(managerClient()->socket));
    m_client->requestProcessing(&m_handler);
    m_client->onThreadEvent();

    EXPECT_EQ(boxes(), Boxes{errorBox("Can't find audio driver (513)")});
    // The listener after the reporter hears the first state once the box is
    // closed, and the two that arrived meanwhile as one.
    EXPECT_EQ(seen, (std::vector<std::string>{"box closes", "after:4", "after:4"}));
    EXPECT_EQ(m_client->getState()->getRecord()->link_speed, 10u);
    EXPECT_EQ(received(), Opcodes{QEL_OPCODE_CLEAR_SYSTEM_ERROR});
    m_client->removeListener(&after);
}

} // namespace
} // namespace qeltest
