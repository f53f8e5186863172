#include "QelErrors.h"

#include "QelClient.h"
#include "QelMessageBox.h"

#include "QelState.h"

#include "qel_client.h"
#include "qel_records.h"

#include <wx/defs.h>

namespace {

// The texts are message ids: translated when a box shows them.
const char* const k_caption = wxTRANSLATE("QEL Error");
const char* const k_unknownError = wxTRANSLATE("Unknown error code");

const char* const k_sleepWarning =
    wxTRANSLATE("The QEL Control panel has lost contact with QEL.\n"
                "This may be due to the computer entering a low power state\n"
                "such as sleep or hibernation\n"
                "Restart the QEL control panel to re-establish a connection.");

const char* const k_restartWarning =
    wxTRANSLATE("The QEL Control panel has lost contact with QEL.\n"
                "Try restarting the QEL control panel to re-establish a connection.");

} // namespace

QelErrors::QelErrors(QelClient* client)
    : m_client(client), m_lastSystemError(0), m_subscription(this) {
    m_subscription.setClient(m_client);
    m_client->setWarnings(this);
}

QelErrors::~QelErrors() {
    if (m_client->getWarnings() == this) {
        m_client->setWarnings(nullptr);
    }
}

void QelErrors::onClientEvent(int code) {
    if (code == QEL_CLIENT_EVENT_STATE) {
        checkSystemError();
    }
}

void QelErrors::checkSystemError() {
    const QelState* state = m_client->getState();
    const uint16_t code = state != nullptr && state->getRecord() != nullptr
                              ? state->getRecord()->system_error
                              : uint16_t{0};
    if (code == m_lastSystemError) {
        return;
    }
    m_lastSystemError = code;
    if (code == 0) {
        return;
    }
    const char* text = qel_system_error_text(code);
    const QelText name = qelText(wxString::FromUTF8(text != nullptr ? text : k_unknownError));
    qelMessageBox(wxICON_ERROR, qelFormat(wxS("%s (%d)"), name, int{code}),
                  qelText(wxString::FromUTF8(k_caption)));

    // Only one request may be outstanding: the client sends the clear once
    // the answer to any outstanding one has arrived, in its turn.
    m_client->clearSystemError();
}

void QelErrors::onLostContact(QelLostContact reason) {
    qelMessageBox(
        wxICON_WARNING,
        wxString::FromUTF8(reason == QEL_LOST_CONTACT_SLEEP ? k_sleepWarning : k_restartWarning),
        QEL_CAPTION_WARNING);
}
