#include "QelAsioDialog.h"

#include "QelAccessible.h"

#include "QelAsioConfig.h"
#include "QelAsioOptions.h"
#include "QelClient.h"
#include "QelFactory.h"
#include "QelGuiPanel.h"
#include "QelState.h"

#include "qel_client.h"

#include <wx/debug.h>

#include <memory>

QelAsioDialog::QelAsioDialog(wxWindow* parent)
    : QelAsioDialogGen(parent, wxID_ANY, _("QEL: ASIO Options"), wxDefaultPosition,
                       wxSize(327, 197)),
      m_factory(nullptr), m_client(nullptr), m_subscription(this) {
    struct Labelled {
        wxWindow* control;
        wxWindow* label;
        const char* name;
    };
    const Labelled labelled[] = {
        {m_asioBufferSizeChoice, m_asioBufferSizeLabel, wxTRANSLATE("Buffer Size")},
        {m_asioEncodingChoice, m_asioEncodingLabel, wxTRANSLATE("Encoding")},
        {m_asioLatencyChoice, m_asioLatencyLabel, wxTRANSLATE("Asio Latency")},
    };
    for (const Labelled& l : labelled) {
        qelSetAccessibleLabel(l.control, l.label);
        qelSetAccessibleName(l.control, wxGetTranslation(l.name));
    }
    // Enter presses OK.
    m_okButton->SetDefault();
    qelCloseOnEscape(this);
}

void QelAsioDialog::setClient(QelClient* client) {
    if (!m_subscription.setClient(client)) {
        return;
    }
    m_client = client;
    onClientEvent(QEL_CLIENT_EVENT_OPTIONS);
    onClientEvent(QEL_CLIENT_EVENT_STATE);
}

void QelAsioDialog::onClientEvent(int code) {
    // A completed request changes nothing the dialog shows: the manager's
    // answer arrives as its next state.
    if (code != QEL_CLIENT_EVENT_OPTIONS && code != QEL_CLIENT_EVENT_STATE) {
        return;
    }
    const QelAsioOptions* options = nullptr;
    const QelConfig* config = nullptr;
    if (m_client != nullptr) {
        options = dynamic_cast<const QelAsioOptions*>(m_client->getOptions());
        const QelState* state = m_client->getState();
        config = state != nullptr ? state->getConfig() : nullptr;
    }
    update(options, config);
}

void QelAsioDialog::update(const QelAsioOptions* options, const QelConfig* config) {
    const QelAsioConfig* asio = dynamic_cast<const QelAsioConfig*>(config);
    struct Row {
        wxChoice* choice;
        const wxArrayString* list;
        const wxString* text;
    };
    const Row rows[] = {
        {m_asioBufferSizeChoice, options != nullptr ? &options->getAsioBufferSizes() : nullptr,
         asio != nullptr ? &asio->m_asioBufferSize : nullptr},
        {m_asioEncodingChoice, options != nullptr ? &options->getAsioEncodings() : nullptr,
         asio != nullptr ? &asio->m_asioEncoding : nullptr},
        {m_asioLatencyChoice, options != nullptr ? &options->getAsioLatencies() : nullptr,
         asio != nullptr ? &asio->m_asioLatency : nullptr},
    };
    for (const Row& row : rows) {
        fillChoice(row.choice, row.list);
        // A value in force that is no item shows as no selection, so that no
        // earlier value is shown, or sent with the next choice, in its place.
        if (config == nullptr || (row.text != nullptr && !selectExactly(row.choice, *row.text))) {
            row.choice->SetSelection(wxNOT_FOUND);
        }
    }
    Layout();
}

void QelAsioDialog::applyToConfig(QelConfig& config) {
    if (QelAsioConfig* asio = dynamic_cast<QelAsioConfig*>(&config)) {
        applySelected(m_asioBufferSizeChoice, asio->m_asioBufferSize);
        applySelected(m_asioEncodingChoice, asio->m_asioEncoding);
        applySelected(m_asioLatencyChoice, asio->m_asioLatency);
    }
}

void QelAsioDialog::apply() {
    wxCHECK_RET(m_factory != nullptr, wxT("src/QelAsioDialog: apply needs the factory"));
    wxCHECK_RET(m_client != nullptr, wxT("src/QelAsioDialog: apply needs the client"));

    const QelState* state = m_client->getState();
    // Without the manager's state there is no configuration in force to
    // change: sending one made of the dialog's values alone would reset every
    // other setting.
    if (state == nullptr) {
        return;
    }
    std::unique_ptr<QelConfig> config(m_factory->createConfig());
    if (!config) {
        return;
    }
    config->copyFrom(state->getConfig());
    applyToConfig(*config);
    // Whatever the manager makes of it comes back as its next state.
    if (config->isValid(m_client->getOptions())) {
        m_client->setConfig(*config);
    }
}

void QelAsioDialog::OnBufferSize(wxCommandEvent& event) {
    apply();
    event.Skip();
}

void QelAsioDialog::OnEncoding(wxCommandEvent& event) {
    apply();
    event.Skip();
}

void QelAsioDialog::OnLatency(wxCommandEvent& event) {
    apply();
    event.Skip();
}

void QelAsioDialog::OnOK(wxCommandEvent& event) {
    // The choices were sent as they were made.
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        Hide();
    }
    event.Skip();
}
