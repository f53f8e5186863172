#include "QelAsioPanel.h"

#include "QelAsioConfig.h"
#include "QelAsioDialog.h"
#include "QelModalRun.h"
#include "QelOptions.h"
#include "QelState.h"

#include "qel_records.h"

#include <cstdio>

namespace {

const wxChar* const k_asio = wxT("ASIO");
const wxChar* const k_rate96k = wxT("96000 Hz");

} // namespace

QelAsioPanel::QelAsioPanel(wxWindow* parent, QelFactory* factory, QelImageManager* images)
    : QelPanel(parent, factory, k_asio, images) {}

void QelAsioPanel::setOptionsState(QelOptions* options, const QelState* state) {
    const QelConfig* config = state != nullptr ? state->getConfig() : nullptr;
    const qel_state* record = state != nullptr ? state->getRecord() : nullptr;
    const bool enabled = record == nullptr || record->config_lock_flags == 0;
    const QelAsioConfig* asioConfig = dynamic_cast<const QelAsioConfig*>(config);
    const wxString audio = asioConfig != nullptr ? asioConfig->m_audioInterface : wxString();

    std::fprintf(stderr, "%s(%p,%p) AudioInterface=%ls\n", "QelAsioPanel::setOptionsState",
                 static_cast<const void*>(options), static_cast<const void*>(state),
                 audio.wc_str());

    const bool asioMode = config != nullptr && audio == k_asio;

    if (options != nullptr) {
        // The options object's own list is changed, not a copy: the dialogs
        // read the same list, and the manager's next options replace it. The
        // object is never made const, so writing through the accessor is
        // sound.
        wxArrayString& rates = const_cast<wxArrayString&>(options->getSampleRates());
        const int at = rates.Index(k_rate96k, true);
        if (asioMode && at == wxNOT_FOUND) {
            rates.Add(k_rate96k);
        } else if (!asioMode && at != wxNOT_FOUND) {
            rates.RemoveAt(static_cast<size_t>(at));
        }
    }

    m_layoutLater = true;
    QelPanel::setOptionsState(options, state);
    m_layoutLater = false;

    if (!asioMode) {
        m_platformButton->Disable();
        m_advancedButton->Disable();
    }

    if (config == nullptr) {
        m_interfaceChoice->SetSelection(wxNOT_FOUND);
    } else {
        // An audio interface that is no item leaves the selection as it is.
        const int at = m_interfaceChoice->FindString(audio, true);
        if (at != wxNOT_FOUND) {
            m_interfaceChoice->SetSelection(at);
        }
    }
    m_interfaceChoice->Enable(enabled);

    wxString status;
    if (asioMode) {
        const bool connected =
            record != nullptr && (record->config_lock_flags & QEL_CONFIG_LOCK_ASIO_CLIENT) != 0;
        status = connected ? _("ASIO Application: Connected") : _("ASIO Application: Disconnected");
    }
    showText(m_statusText, status);

    layoutIfNeeded();
}

void QelAsioPanel::applyToConfig(QelConfig& config) {
    QelPanel::applyToConfig(config);
    if (QelAsioConfig* asioConfig = dynamic_cast<QelAsioConfig*>(&config)) {
        applySelected(m_interfaceChoice, asioConfig->m_audioInterface);
    }
}

void QelAsioPanel::OnPlatformButton(wxCommandEvent& event) {
    QelAsioDialog* dialog = new QelAsioDialog(this);
    dialog->m_factory = m_factory;
    dialog->setClient(m_client);
    qelRunModal(dialog); // deleted afterwards: it leaves the client's listeners
    event.Skip();
}
