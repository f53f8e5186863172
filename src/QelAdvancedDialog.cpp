#include "QelAdvancedDialog.h"

#include "QelAccessible.h"

#include "QelClient.h"
#include "QelConfig.h"
#include "QelFactory.h"
#include "QelOptions.h"
#include "QelState.h"

#include "qel_client.h"

#include <wx/debug.h>

#include <memory>

namespace {

// "16 x 16": as many channels in as out.
wxString channelsLabel(const wxString& count) {
    return count + wxT(" x ") + count;
}

} // namespace

QelAdvancedDialog::QelAdvancedDialog(wxWindow* parent)
    : QelAdvancedDialogGen(parent, wxID_ANY, _("QEL: Advanced Options"), wxDefaultPosition,
                           wxSize(300, 140)),
      m_factory(nullptr), m_client(nullptr), m_choice(-1), m_maximum(-1), m_subscription(this) {
    qelSetAccessibleLabel(m_channelsSlider, m_channelsLabel);
    qelSetAccessibleName(m_channelsSlider, _("Channels"));
    qelSetAccessibleLabel(m_channelsText, m_channelsLabel);
    // Enter presses OK.
    m_okButton->SetDefault();
    qelCloseOnEscape(this);
}

void QelAdvancedDialog::setClient(QelClient* client) {
    if (!m_subscription.setClient(client)) {
        return;
    }
    m_client = client;
    onClientEvent(QEL_CLIENT_EVENT_OPTIONS);
    onClientEvent(QEL_CLIENT_EVENT_STATE);
}

void QelAdvancedDialog::onClientEvent(int code) {
    // The channel counts depend on the options and the sample rate; a new
    // state leaves the user's choice alone while the dialog is open.
    if (code != QEL_CLIENT_EVENT_OPTIONS) {
        return;
    }
    if (m_client == nullptr) {
        update(nullptr, nullptr);
    } else {
        update(m_client->getOptions(), m_client->getState());
    }
}

void QelAdvancedDialog::update(const QelOptions* options, const QelState* state) {
    wxString label = wxT("?");
    int position = 0;
    int maximum = 0;
    m_choice = -1;
    m_maximum = -1;

    const QelConfig* config = state != nullptr ? state->getConfig() : nullptr;
    if (options != nullptr && config != nullptr) {
        const int usable = static_cast<int>(options->getChannelCountLimit(config->m_sampleRate));
        if (usable > 0) {
            position = options->getChannelCounts().Index(config->m_channels, true);
            label = channelsLabel(config->m_channels);
            maximum = usable - 1;
            m_maximum = maximum;
            // A configured count that the slider cannot show (not offered, or
            // beyond what the rate allows) is no choice: the slider would
            // stand on some other count.
            m_choice = position <= maximum ? position : -1;
        }
    }

    m_channelsSlider->SetRange(0, maximum);
    m_channelsSlider->SetValue(position);
    m_channelsText->SetLabelText(label);
}

void QelAdvancedDialog::OnScroll(wxScrollEvent& event) {
    const QelOptions* options = m_client != nullptr ? m_client->getOptions() : nullptr;
    const bool present = options != nullptr && m_client->getState() != nullptr;
    int value = m_channelsSlider->GetValue();
    if (present && m_maximum >= 0) {
        // The toolkit cannot show an empty range and widens 0 ... 0 to
        // 0 ... 1; a position beyond the usable counts goes back.
        if (value > m_maximum) {
            value = m_maximum;
            m_channelsSlider->SetValue(value);
        }
        const wxArrayString& counts = options->getChannelCounts();
        wxCHECK_RET(value >= 0 && value < static_cast<int>(counts.GetCount()),
                    wxT("src/QelAdvancedDialog: slider position outside the channel counts"));
        m_choice = value;
        m_channelsText->SetLabelText(channelsLabel(counts[static_cast<size_t>(value)]));
    } else {
        m_choice = -1;
        m_channelsText->SetLabelText(wxT("?"));
    }
    event.Skip();
}

void QelAdvancedDialog::applyToConfig(QelConfig& config) {
    const QelOptions* options = m_client != nullptr ? m_client->getOptions() : nullptr;
    if (options == nullptr || m_choice < 0 ||
        m_choice >= static_cast<int>(options->getChannelCounts().GetCount())) {
        return;
    }
    config.m_channels = options->getChannelCounts()[static_cast<size_t>(m_choice)];
}

void QelAdvancedDialog::apply() {
    wxCHECK_RET(m_factory != nullptr, wxT("src/QelAdvancedDialog: apply needs the factory"));
    wxCHECK_RET(m_client != nullptr, wxT("src/QelAdvancedDialog: apply needs the client"));

    const QelOptions* options = m_client->getOptions();
    const QelState* state = m_client->getState();
    // Without the manager's options and state there is nothing to change,
    // and without a chosen count nothing the user chose.
    if (options == nullptr || state == nullptr || m_choice < 0) {
        return;
    }
    std::unique_ptr<QelConfig> config(m_factory->createConfig());
    if (!config) {
        return;
    }
    config->copyFrom(state->getConfig());
    applyToConfig(*config);
    // Whatever the manager makes of it comes back as its next state.
    if (config->isValid(options)) {
        m_client->setConfig(*config);
    }
}

void QelAdvancedDialog::OnOK(wxCommandEvent& event) {
    apply();
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        Hide();
    }
    event.Skip();
}
