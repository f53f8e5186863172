#include "QelGuiPanel.h"

#include "QelAccessible.h"
#include "QelAdvancedDialog.h"
#include "QelAsioConfig.h"
#include "QelClient.h"
#include "QelConfig.h"
#include "QelFactory.h"
#include "QelImageManager.h"
#include "QelInfo.h"
#include "QelMessageBox.h"
#include "QelModalRun.h"
#include "QelOptions.h"
#include "QelRecordText.h"
#include "QelState.h"

#include "qel_client.h"
#include "qel_records.h"

#include <wx/debug.h>
#include <wx/utils.h>

#include <cstdio>
#include <memory>

// The documentation server's host comes from the build (QEL_HELP_HOST).
#ifndef QEL_HELP_HOST
#error "QEL_HELP_HOST must name the host of the documentation web server"
#endif

namespace {

const wxChar* const k_powerImageNames[] = {
    wxT("dpi90-power-grey"),
    wxT("dpi90-power-grey-pressed"),
    wxT("dpi90-power-green"),
    wxT("dpi90-power-green-pressed"),
};

const wxChar* const k_networkImageNames[] = {
    wxT("dpi90-ethernet-nc"),           wxT("dpi90-ethernet-nc"),
    wxT("dpi90-ethernet-100m-badness"), wxT("dpi90-ethernet-1g-badness"),
    wxT("dpi90-ethernet-100m"),         wxT("dpi90-ethernet-1g"),
};

const wxChar k_logoImageName[] = wxT("dpi90-word-ostrane.png");
const wxChar k_helpImageName[] = wxT("help_circle_blue_v2.png");

const char* const k_interfaceWarning = wxTRANSLATE(
    "You have changed the audio interface of your Qelvane. A reboot is required for this "
    "changed to be applied. Please reboot your PC before continuing.");

const char* const k_latencyWarning = wxTRANSLATE(
    "You have changed the latency setting of your Qelvane. Any Lirva-enabled devices currently "
    "receiving audio from this Qelvane will require their subscriptions to be reset. Please use "
    "the Lirva Controller to unsubscribe / re-subscribe all relevant subscriptions, or if easier "
    "restart each receiving device.");

bool launchDefaultBrowser(const wxString& url, int flags) {
    return wxLaunchDefaultBrowser(url, flags);
}

QelBrowserLauncher g_browserLauncher = &launchDefaultBrowser;

bool sameItems(const wxChoice* choice, const wxArrayString& list) {
    if (choice->GetCount() != list.GetCount()) {
        return false;
    }
    for (unsigned int i = 0; i < choice->GetCount(); ++i) {
        if (choice->GetString(i) != list[i]) {
            return false;
        }
    }
    return true;
}

wxString speedText(uint32_t mbps) {
    if (mbps < 1000) {
        return wxString::Format(wxT("%u Mbit/s"), mbps);
    }
    if (mbps % 1000 == 0) {
        return wxString::Format(wxT("%u Gbit/s"), mbps / 1000);
    }
    return wxString::Format(wxT("%u.%u Gbit/s"), mbps / 1000, mbps % 1000 / 100);
}

bool isZeroAddress(const uint8_t* address) {
    for (size_t i = 0; i < QEL_IP_ADDRESS_SIZE; ++i) {
        if (address[i] != 0) {
            return false;
        }
    }
    return true;
}

// 0: no state or link down; 1: up without an address; 2: up with one.
int linkState(const qel_state* record) {
    if (record == nullptr || record->link_up == 0) {
        return 0;
    }
    return isZeroAddress(record->ip_address) ? 1 : 2;
}

// The network picture in words: "eth0: link up at 1 Gbit/s, no address",
// "eth0: link up at 100 Mbit/s, address 192.168.1.20", "eth0: not
// connected", or "not connected" when no interface is configured.
wxString networkText(const QelConfig* config, const qel_state* record) {
    const int link = linkState(record);
    wxString text;
    if (link == 0) {
        text = _("not connected");
    } else {
        const wxString up =
            record->link_speed != 0
                ? wxString::Format(_("link up at %s"), speedText(record->link_speed))
                : wxString(_("link up"));
        const uint8_t* ip = record->ip_address;
        const wxString address =
            link == 1
                ? wxString(_("no address"))
                : wxString::Format(_("address %s"), wxString::Format(wxT("%u.%u.%u.%u"), ip[0],
                                                                     ip[1], ip[2], ip[3]));
        // TRANSLATORS: the link, then the address: "link up at 1 Gbit/s, no address".
        text = wxString::Format(_("%s, %s"), up, address);
    }
    const wxString name = config != nullptr ? config->m_interfaceName : wxString();
    // TRANSLATORS: the network interface, then what its link is.
    return name.empty() ? text : wxString::Format(_("%s: %s"), name, text);
}

// The count a configuration is lowered to for a rate that allows at most
// `limit` channels: the largest offered count within it. A limit that is no
// offered count itself would give a configuration that is not valid, and
// the user's change would be dropped without a word; with no offered count
// within it, the limit.
unsigned int reducedChannels(const QelOptions& options, unsigned int limit) {
    unsigned int best = 0;
    for (const wxString& count : options.getChannelCounts()) {
        const unsigned int n = qelParseLeadingNumber(count).value_or(0);
        if (n <= limit && n > best) {
            best = n;
        }
    }
    return best > 0 ? best : limit;
}

// The audio interface ("ASIO", "WDM") of a configuration of the ASIO family;
// empty for any other configuration and without one.
wxString audioInterfaceOf(const QelConfig* config) {
    const QelAsioConfig* asio = dynamic_cast<const QelAsioConfig*>(config);
    return asio != nullptr ? asio->m_audioInterface : wxString();
}

// Shows a warning box; the user can only acknowledge it. `text` is the
// English message id, or a text made with qelFormat.
void warn(const QelText& text) {
    qelMessageBox(wxICON_WARNING, text, qelText(QEL_CAPTION_WARNING));
}
void warn(const char* text) {
    warn(qelText(wxString::FromUTF8(text)));
}

} // namespace

wxString selectedText(const wxChoice* choice) {
    const int selection = choice->GetSelection();
    return selection == wxNOT_FOUND ? wxString() : choice->GetString(selection);
}

void applySelected(const wxChoice* choice, wxString& value) {
    const wxString selected = selectedText(choice);
    if (!selected.empty()) {
        value = selected;
    }
}

bool selectExactly(wxChoice* choice, const wxString& text) {
    const unsigned int count = choice->GetCount();
    for (unsigned int i = 0; i < count; ++i) {
        if (choice->GetString(i) == text) {
            choice->SetSelection(static_cast<int>(i));
            return true;
        }
    }
    return false;
}

bool fillChoice(wxChoice* choice, const wxArrayString* list) {
    const wxString selected = selectedText(choice);
    bool changed = false;
    if (list == nullptr) {
        changed = choice->GetCount() != 0;
        choice->Clear();
    } else if (!sameItems(choice, *list)) {
        choice->Clear();
        choice->Append(*list);
        changed = true;
    }
    if (!selectExactly(choice, selected)) {
        choice->SetSelection(wxNOT_FOUND);
    }
    return changed;
}

wxString qelUserGuideUrl() {
    return wxString::FromUTF8("http://" QEL_HELP_HOST "/GA/qel/userguide/webhelp/");
}

QelBrowserLauncher qelSetBrowserLauncher(QelBrowserLauncher launcher) {
    QelBrowserLauncher previous = g_browserLauncher;
    g_browserLauncher = launcher != nullptr ? launcher : &launchDefaultBrowser;
    return previous;
}

QelPanel::QelPanel(wxWindow* parent, QelFactory* factory, const wxString& platformName,
                   QelImageManager* images)
    : QelPanelGen(parent, wxID_ANY, wxDefaultPosition, wxSize(595, -1), wxTAB_TRAVERSAL),
      m_factory(factory), m_client(nullptr), m_powerOn(false), m_subscription(this) {
    if (images != nullptr) {
        // A picture that cannot be loaded stays empty.
        for (int i = 0; i < POWER_IMAGES; ++i) {
            m_powerImages[i] =
                images->loadBundle(wxString(k_powerImageNames[i]) + wxT(".png"), wxBITMAP_TYPE_PNG);
        }
        for (int i = 0; i < NETWORK_IMAGES; ++i) {
            m_networkImages[i] = images->loadBundle(wxString(k_networkImageNames[i]) + wxT(".png"),
                                                    wxBITMAP_TYPE_PNG);
        }
        // The logo and the help picture come from the same search; where it
        // finds none, the layout's own stays.
        const wxBitmapBundle logo = images->loadBundle(k_logoImageName, wxBITMAP_TYPE_PNG);
        if (logo.IsOk()) {
            m_logoBitmap->SetBitmap(logo);
            m_aboutLogoBitmap->SetBitmap(logo);
        }
        const wxBitmapBundle help = images->loadBundle(k_helpImageName, wxBITMAP_TYPE_PNG);
        if (help.IsOk()) {
            m_helpButton->SetBitmapLabel(help);
        }
    }
    m_powerButton->SetBitmapLabel(m_powerImages[POWER_OFF]);
    m_powerButton->SetBitmapPressed(m_powerImages[POWER_OFF_PRESSED]);
    m_networkBitmap->SetBitmap(m_networkImages[0]);

    if (platformName.empty()) {
        m_platformButton->Hide();
    } else {
        m_platformButton->SetLabel(platformName);
    }

    // The two picture buttons have no text: their names and tips say what
    // they do, for the screen reader as for the mouse.
    m_powerButton->SetName(wxT("Power"));
    m_powerButton->SetToolTip(_("Start or stop the Qelvane"));
    m_helpButton->SetName(wxT("Help"));
    m_helpButton->SetToolTip(_("Open the online user guide in your web browser"));
    describeControls();
    // The empty square beside the content only keeps the layout in shape;
    // the tab key should not stop on it. An empty panel takes the focus
    // itself, and only a disabled one never does; it shows nothing either way.
    m_spacerPanel->Disable();

    m_notebook->SetSelection(0);
    m_notebook->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [this](wxBookCtrlEvent& event) {
        if (wxWindow* page = m_notebook->GetPage(static_cast<size_t>(event.GetSelection()))) {
            layoutPage(page);
        }
        event.Skip();
    });
    m_settingsPage->Layout(); // the platform button's new label or its absence
}

// What a screen reader reads for each control: the picture buttons by what
// they do, every choice by its visible label (the two format choices by
// what each holds, under the one "Audio Format" label), the values by their
// labels. The state-dependent names follow in describeState.
void QelPanel::describeControls() {
    qelSetAccessibleName(m_helpButton, _("Help"));
    qelSetAccessibleDescription(m_helpButton, m_helpButton->GetToolTipText());
    qelSetAccessibleDescription(m_powerButton, m_powerButton->GetToolTipText());
    struct Labelled {
        wxWindow* control;
        wxWindow* label;
        const char* name;
    };
    const Labelled labelled[] = {
        {m_interfaceChoice, m_interfaceLabel, wxTRANSLATE("Audio Interface")},
        {m_sampleRateChoice, m_formatLabel, wxTRANSLATE("Sample rate")},
        {m_encodingChoice, m_formatLabel, wxTRANSLATE("Bits per sample")},
        {m_latencyChoice, m_latencyLabel, wxTRANSLATE("Lirva Latency")},
        // Values keep their own text as their name.
        {m_ipText, m_ipLabel, nullptr},
        {m_macText, m_macLabel, nullptr},
        {m_versionText, m_versionLabel, nullptr},
    };
    for (const Labelled& l : labelled) {
        qelSetAccessibleLabel(l.control, l.label);
        if (l.name != nullptr) {
            qelSetAccessibleName(l.control, wxGetTranslation(l.name));
        }
    }
    qelSetAccessibleName(m_networkChoice, _("Network interface"));
    describeState(nullptr, nullptr);
}

// The power button names the sound card's state and any system error that
// stands; the network picture says in words what it shows.
void QelPanel::describeState(const QelConfig* config, const qel_state* record) {
    qelSetAccessibleName(m_powerButton, config == nullptr ? wxString(_("Sound card: unknown"))
                                        : m_powerOn       ? wxString(_("Sound card: running"))
                                                          : wxString(_("Sound card: stopped")));
    wxString description = m_powerButton->GetToolTipText();
    if (record != nullptr && record->system_error != 0) {
        const char* text = qel_system_error_text(record->system_error);
        description += wxString::Format(_(". System error: %s (%d)"),
                                        text != nullptr ? wxGetTranslation(wxString::FromUTF8(text))
                                                        : wxString(_("Unknown error code")),
                                        int{record->system_error});
    }
    qelSetAccessibleDescription(m_powerButton, description);
    const wxString network = networkText(config, record);
    qelSetAccessibleName(m_networkBitmap, network);
    qelSetAccessibleDescription(m_networkBitmap, network);
}

void QelPanel::setClient(QelClient* client) {
    if (!m_subscription.setClient(client)) {
        return;
    }
    m_client = client;
    if (client == nullptr) {
        setInfo(nullptr);
        setOptionsState(nullptr, nullptr);
        return;
    }
    setInfo(client->getInfo());
    setOptionsState(client->getOptions(), client->getState());
}

void QelPanel::setInfo(const QelInfo* info) {
    m_versionText->SetLabelText(info != nullptr ? info->getVersion() : wxString(wxT("?")));
    layoutPage(m_aboutPage);
}

// A page that has never been shown measured its texts before the toolkit
// applied their fonts (the bold title came out clipped, "Qelv"): each time a
// page is shown, and whenever its texts change, it is measured and laid out
// afresh.
void QelPanel::layoutPage(wxWindow* page) {
    for (wxWindow* child : page->GetChildren()) {
        child->InvalidateBestSize();
    }
    page->Layout();
}

void QelPanel::setOptionsState(QelOptions* options, const QelState* state) {
    const QelConfig* config = state != nullptr ? state->getConfig() : nullptr;
    const qel_state* record = state != nullptr ? state->getRecord() : nullptr;
    const bool enabled = record == nullptr || record->config_lock_flags == 0;

    std::fprintf(stderr, "%s(%p,%p)\n", "QelPanel::setOptionsState",
                 static_cast<const void*>(options), static_cast<const void*>(state));

    struct ChoiceSource {
        wxChoice* choice;
        const wxArrayString* list;
        const wxString* text;
    };
    const ChoiceSource choices[] = {
        {m_networkChoice, options != nullptr ? &options->getInterfaces() : nullptr,
         config != nullptr ? &config->m_interfaceName : nullptr},
        {m_sampleRateChoice, options != nullptr ? &options->getSampleRates() : nullptr,
         config != nullptr ? &config->m_sampleRate : nullptr},
        {m_encodingChoice, options != nullptr ? &options->getSampleFormats() : nullptr,
         config != nullptr ? &config->m_sampleFormat : nullptr},
        {m_latencyChoice, options != nullptr ? &options->getLatencies() : nullptr,
         config != nullptr ? &config->m_latency : nullptr},
    };
    for (const ChoiceSource& source : choices) {
        m_layoutNeeded |= fillChoice(source.choice, source.list);
        // A value in force that is no item (no longer offered) shows as no
        // selection: an earlier value left selected would be shown, and sent
        // with the next change, as if it were in force.
        if (source.text == nullptr || !selectExactly(source.choice, *source.text)) {
            source.choice->SetSelection(wxNOT_FOUND);
        }
    }

    if (config != nullptr) {
        const uint8_t* mac = config->m_interfaceMac;
        showText(m_macText, wxString::Format(wxT("%02x:%02x:%02x:%02x:%02x:%02x"), mac[0], mac[1],
                                             mac[2], mac[3], mac[4], mac[5]));
    } else {
        showText(m_macText, wxT("00:00:00:00:00:00"));
    }

    m_powerOn = config != nullptr && config->m_wantToRun;
    const int gigabit = record != nullptr && record->link_speed >= 1000 ? 1 : 0;
    showPictures(m_powerOn ? POWER_ON : POWER_OFF, 2 * linkState(record) + gigabit);

    m_powerButton->Enable(record == nullptr ||
                          record->system_error != QEL_SYSTEM_ERROR_INVALID_CONFIG);

    m_platformButton->Enable(enabled);
    m_advancedButton->Enable(enabled);
    m_sampleRateChoice->Enable(enabled);
    m_latencyChoice->Enable(enabled);
    m_networkChoice->Enable(enabled);
    // A single sample format leaves nothing to choose.
    m_encodingChoice->Enable(enabled && m_encodingChoice->GetCount() >= 2);

    if (record == nullptr || isZeroAddress(record->ip_address)) {
        showText(m_ipText, _("No Address"));
    } else {
        const uint8_t* ip = record->ip_address;
        showText(m_ipText, wxString::Format(wxT("%u.%u.%u.%u"), ip[0], ip[1], ip[2], ip[3]));
    }
    describeState(config, record);

    layoutIfNeeded();
}

bool QelPanel::showText(wxStaticText* label, const wxString& text) {
    if (label->GetLabelText() == text) {
        return false;
    }
    label->SetLabelText(text);
    m_layoutNeeded = true;
    return true;
}

void QelPanel::layoutIfNeeded() {
    if (m_layoutNeeded && !m_layoutLater) {
        m_settingsPage->Layout();
        m_layoutNeeded = false;
    }
}

void QelPanel::showPictures(int power, int network) {
    if (power != m_shownPower) {
        const wxSize before = m_powerImages[m_shownPower].GetDefaultSize();
        m_powerButton->SetBitmapLabel(m_powerImages[power]);
        m_powerButton->SetBitmapPressed(m_powerImages[power + 1]);
        m_layoutNeeded |= m_powerImages[power].GetDefaultSize() != before;
        m_shownPower = power;
    }
    if (network != m_shownNetwork) {
        const wxSize before = m_networkImages[m_shownNetwork].GetDefaultSize();
        m_networkBitmap->SetBitmap(m_networkImages[network]);
        m_layoutNeeded |= m_networkImages[network].GetDefaultSize() != before;
        m_shownNetwork = network;
    }
}

// A choice with nothing selected (its value is not offered, or no longer)
// leaves the configuration's value as it is: the user did not touch it.
void QelPanel::applyToConfig(QelConfig& config) {
    const QelOptions* options = m_client != nullptr ? m_client->getOptions() : nullptr;
    const wxString interfaceName = selectedText(m_networkChoice);
    if (options != nullptr && !interfaceName.empty()) {
        config.m_interfaceName = interfaceName;
        const qel_interface* entry = nullptr;
        char16_t name[QEL_INTERFACE_NAME_SIZE];
        // A name too long for the record names no offered interface.
        if (qelTextToUtf16(config.m_interfaceName, name, QEL_INTERFACE_NAME_SIZE)) {
            entry = qel_options_find_interface_by_name(options->getRecord(), name);
        }
        for (size_t i = 0; i < QEL_MAC_SIZE; ++i) {
            config.m_interfaceMac[i] = entry != nullptr ? entry->mac[i] : 0;
        }
    }
    applySelected(m_sampleRateChoice, config.m_sampleRate);
    applySelected(m_encodingChoice, config.m_sampleFormat);
    applySelected(m_latencyChoice, config.m_latency);
    config.m_wantToRun = m_powerOn;
}

bool QelPanel::apply() {
    wxCHECK_MSG(m_factory != nullptr, false, wxT("src/QelGuiPanel: apply needs the factory"));
    wxCHECK_MSG(m_client != nullptr, false, wxT("src/QelGuiPanel: apply needs the client"));

    QelOptions* options = m_client->getOptions();
    if (options == nullptr) {
        return false;
    }
    std::unique_ptr<QelConfig> config(m_factory->createConfig());
    if (!config) {
        return false;
    }
    const QelState* state = m_client->getState();
    if (state != nullptr) {
        config->copyFrom(state->getConfig());
    }
    applyToConfig(*config);

    // A rate the options do not offer has no limit to reduce to: such a
    // configuration is not valid and is not sent.
    const unsigned int limit = options->getMaxChannels(config->m_sampleRate);
    const unsigned int channels = qelParseLeadingNumber(config->m_channels).value_or(0);
    const bool reduce = limit > 0 && channels > limit;
    if (reduce) {
        config->m_channels = wxString::Format(wxT("%u"), reducedChannels(*options, limit));
    }
    // Whatever the manager makes of it comes back as its next state.
    if (!config->isValid(options) || m_client->setConfig(*config) != KES_SUCCESS) {
        return false;
    }
    if (reduce) {
        warn(qelFormat(wxTRANSLATE("Channel count reduced to %s due to sample rate %s"),
                       config->m_channels, config->m_sampleRate));
    }
    return true;
}

void QelPanel::onClientEvent(int code) {
    if (m_client == nullptr) {
        return;
    }
    switch (code) {
    case QEL_CLIENT_EVENT_REQUEST_DONE:
    case QEL_CLIENT_EVENT_OPTIONS:
    case QEL_CLIENT_EVENT_STATE:
        setOptionsState(m_client->getOptions(), m_client->getState());
        break;
    case QEL_CLIENT_EVENT_INFO:
        setInfo(m_client->getInfo());
        break;
    default:
        break;
    }
}

void QelPanel::OnPowerButton(wxCommandEvent& event) {
    // The picture follows when the manager reports the new state.
    m_powerOn = !m_powerOn;
    apply();
    event.Skip();
}

void QelPanel::OnInterfaceChoice(wxCommandEvent& event) {
    // Compared with the configuration in force before this change is sent.
    const wxString selected = selectedText(m_interfaceChoice);
    const QelState* state = m_client != nullptr ? m_client->getState() : nullptr;
    const wxString current = state != nullptr ? audioInterfaceOf(state->getConfig()) : wxString();
    if (apply() && !current.empty() && current != selected) {
        warn(k_interfaceWarning);
    }
    event.Skip();
}

void QelPanel::OnEncodingChoice(wxCommandEvent& event) {
    apply();
    event.Skip();
}

void QelPanel::OnLatencyChoice(wxCommandEvent& event) {
    const wxString selected = selectedText(m_latencyChoice);
    const QelState* state = m_client != nullptr ? m_client->getState() : nullptr;
    const wxString current = state != nullptr ? state->getConfig()->m_latency : wxString();
    if (apply() && !current.empty() && current != selected) {
        warn(k_latencyWarning);
    }
    event.Skip();
}

void QelPanel::OnNetworkChoice(wxCommandEvent& event) {
    apply();
    event.Skip();
}

void QelPanel::OnAdvancedButton(wxCommandEvent& event) {
    QelAdvancedDialog* dialog = new QelAdvancedDialog(this);
    dialog->m_factory = m_factory;
    dialog->setClient(m_client);
    qelRunModal(dialog); // deleted afterwards: it leaves the client's listeners
    event.Skip();
}

void QelPanel::OnHelpButton(wxCommandEvent& event) {
    // The toolkit reports a browser that cannot be started; nothing to add.
    g_browserLauncher(qelUserGuideUrl(), 0);
    event.Skip();
}
