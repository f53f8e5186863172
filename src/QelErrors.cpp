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

} // namespace

QelErrors::QelErrors(QelClient* client)
    : m_client(client), m_lastSystemError(0), m_clearPending(false) {
    m_client->addListener(this);
}

QelErrors::~QelErrors() {
    m_client->removeListener(this);
}

void QelErrors::onClientEvent(int code) {
    if (code == QEL_CLIENT_EVENT_STATE) {
        checkSystemError();
    } else if (code == QEL_CLIENT_EVENT_REQUEST_DONE && m_clearPending) {
        m_clearPending = false;
        qel_client_clear_system_error(m_client->getManagerClient());
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

    // Only one request may be outstanding: the clear waits for it.
    qel_client* client = m_client->getManagerClient();
    if (client != nullptr && client->pending != nullptr) {
        m_clearPending = true;
    } else {
        qel_client_clear_system_error(client);
    }
}
