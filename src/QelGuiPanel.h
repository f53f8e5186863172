// The main panel's behaviour: it shows what the manager offers and reports
// (audio formats, latencies, network interfaces, link, addresses, running or
// stopped, the manager's version), follows every change the client announces
// and turns each user action at once into a whole new configuration that it
// sends through the client. The ASIO family's panel (QelAsioPanel) extends it.
#pragma once

#include "QelClientListener.h"
#include "QelClientSubscription.h"
#include "QelPanelGen.h"

#include <wx/arrstr.h>
#include <wx/bmpbndl.h>
#include <wx/string.h>

class QelClient;
class QelConfig;
class QelFactory;
class QelImageManager;
class QelInfo;
class QelOptions;
class QelState;
struct qel_state;

// The selected item's text, or the empty text when nothing is selected.
wxString selectedText(const wxChoice* choice);

// Writes the selected item's text into `value`; with nothing selected the
// value stays as it is.
void applySelected(const wxChoice* choice, wxString& value);

// Selects the first item whose text equals `text` exactly (the toolkit's own
// lookup ignores case); false, with the selection untouched, when none does.
bool selectExactly(wxChoice* choice, const wxString& text);

// Gives `choice` the items of `list` only when they differ from the items it
// holds (count or any text, compared case-sensitively), so that an open
// choice keeps its items while nothing changed. Without a list every item is
// removed. Afterwards the item with the previously selected text is selected
// again, or nothing when no item has that text. True when the items changed.
bool fillChoice(wxChoice* choice, const wxArrayString* list);

// The address of the online user guide on the maker's documentation server.
wxString qelUserGuideUrl();

// Opens a web address in the user's default browser; the help button goes
// through it. `flags` are those of wxLaunchDefaultBrowser.
using QelBrowserLauncher = bool (*)(const wxString& url, int flags);

// Replaces the launcher and returns the one in use before; null restores the
// toolkit's default-browser launcher. For the tests, which must not start a
// browser.
QelBrowserLauncher qelSetBrowserLauncher(QelBrowserLauncher launcher);

class QelPanel : public QelPanelGen, public QelClientListener {
public:
    // A panel for `parent` that makes its configurations with `factory` and
    // loads its status pictures, its logo and its help picture through
    // `images` (may be null: no status pictures, the layout's logo and help
    // picture).
    // A non-empty platform name labels the platform button; with an empty
    // one the button is hidden.
    QelPanel(wxWindow* parent, QelFactory* factory, const wxString& platformName,
             QelImageManager* images);

    // Listens to `client` (null: to none) and shows what it holds. Giving the
    // client the panel already has does nothing.
    virtual void setClient(QelClient* client);
    // Shows the manager's version, or "?" without info.
    virtual void setInfo(const QelInfo* info);
    // Shows the offered choices and the state; either may be null.
    virtual void setOptionsState(QelOptions* options, const QelState* state);
    // Writes the controls' values into `config`; a choice with nothing
    // selected leaves its value as it is.
    virtual void applyToConfig(QelConfig& config);

    // Sends the configuration in force with the controls' values, when it is
    // valid against the options; lowers the channel count first when the
    // sample rate allows fewer channels, and says so once it is sent. True
    // when the client took the configuration (sent, or to be sent once the
    // outstanding answer arrives). Needs the factory and the client.
    bool apply();

    void onClientEvent(int code) override;

protected:
    void OnPowerButton(wxCommandEvent& event) override;
    void OnInterfaceChoice(wxCommandEvent& event) override;
    void OnEncodingChoice(wxCommandEvent& event) override;
    void OnLatencyChoice(wxCommandEvent& event) override;
    void OnNetworkChoice(wxCommandEvent& event) override;
    void OnAdvancedButton(wxCommandEvent& event) override;
    void OnHelpButton(wxCommandEvent& event) override;

    // Pictures of the power button, in this order.
    enum PowerImage { POWER_OFF, POWER_OFF_PRESSED, POWER_ON, POWER_ON_PRESSED, POWER_IMAGES };
    // Pictures of the network status: 2 x link state + gigabit, where the
    // link state is 0 (none or down), 1 (up without an address) or 2 (up with
    // an address) and gigabit is 1 from 1000 Mbit/s on.
    static constexpr int NETWORK_IMAGES = 6;

    // Tells a screen reader what each control is, and what the state shown
    // says (the power button's state, the network picture in words).
    void describeControls();
    void layoutPage(wxWindow* page);
    void describeState(const QelConfig* config, const qel_state* record);

    QelFactory* m_factory; // not owned
    QelClient* m_client;   // not owned; null until setClient
    bool m_powerOn;        // want-to-run of the last state shown
    // Each picture with its double-size one for screens with a scale of 2.
    wxBitmapBundle m_powerImages[POWER_IMAGES];
    wxBitmapBundle m_networkImages[NETWORK_IMAGES];

    // A refresh changes only what the new state changes, and lays the page
    // out only when something took another size: a click that only turns
    // the power button costs no layout. `text` goes into `label` unless it
    // shows it already; true when it changed, and the page then needs laying
    // out.
    bool showText(wxStaticText* label, const wxString& text);
    // Lays the settings page out when the refresh made that necessary,
    // unless m_layoutLater says a subclass refresh does it after the base's.
    void layoutIfNeeded();
    bool m_layoutNeeded = false;
    bool m_layoutLater = false;

private:
    // Shows power picture `power` (POWER_OFF or POWER_ON, with its pressed
    // one) and network picture `network` when they are not shown already.
    void showPictures(int power, int network);

    // The panel's registration with m_client; it ends with the panel.
    QelClientSubscription m_subscription;
    int m_shownPower = POWER_OFF;
    int m_shownNetwork = 0;
};
