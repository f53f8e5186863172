#include "QelErrors.h"

#include "QelClient.h"
#include "QelMessageBox.h"

#include "QelState.h"

#include "qel_client.h"
#include "qel_records.h"

#include <wx/defs.h>

namespace {

const wxString k_caption(wxS("QEL Error"));
const wxString k_unknownError(wxS("Unknown error code"));

const wxString k_sleepWarning(wxS("The QEL Control panel has lost contact with QEL.\n"
                                  "This may be due to the computer entering a low power state\n"
                                  "such as sleep or hibernation\n"
                                  "Restart the QEL control panel to re-establish a connection."));

const wxString
    k_restartWarning(wxS("The QEL Control panel has lost contact with QEL.\n"
                         "Try restarting the QEL control panel to re-establish a connection."));

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
    const wxString message = wxString::Format(
        wxS("%s (%d)"), text != nullptr ? wxString::FromUTF8(text) : k_unknownError, int{code});
    qelMessageBox(wxICON_ERROR, message, k_caption);

    // Only one request may be outstanding: the client sends the clear once
    // the answer to any outstanding one has arrived, in its turn.
    m_client->clearSystemError();
}

void QelErrors::onLostContact(QelLostContact reason) {
    qelMessageBox(wxICON_WARNING,
                  reason == QEL_LOST_CONTACT_SLEEP ? k_sleepWarning : k_restartWarning,
                  QEL_CAPTION_WARNING);
}
