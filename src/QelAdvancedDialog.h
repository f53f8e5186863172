// The advanced options dialog: the user picks the sound card's channel count
// with a slider that offers only the counts the sample rate in force allows.
// OK sends the configuration in force with the chosen count and closes. While
// it is open it follows the manager's options (not its state).
#pragma once

#include "QelAdvancedDialogGen.h"
#include "QelClientListener.h"
#include "QelClientSubscription.h"

class QelClient;
class QelConfig;
class QelFactory;
class QelOptions;
class QelState;

class QelAdvancedDialog : public QelAdvancedDialogGen, public QelClientListener {
public:
    explicit QelAdvancedDialog(wxWindow* parent);

    // Listens to `client` (null: to none) and shows what it holds. Giving the
    // client the dialog already has does nothing.
    void setClient(QelClient* client);

    // Shows the channel counts `options` allow at the sample rate of the
    // configuration `state` holds; without either (or with a rate that is not
    // offered) the slider offers position 0 only and the text says "?".
    virtual void update(const QelOptions* options, const QelState* state);
    // Writes the chosen channel count into `config`; leaves it untouched when
    // no offered count is chosen.
    virtual void applyToConfig(QelConfig& config);

    // Sends the configuration in force with the chosen channel count, when a
    // count is chosen and the configuration is valid against the options.
    void apply();

    void onClientEvent(int code) override;

    // Makes the configurations the dialog sends; not owned, set by the
    // opener.
    QelFactory* m_factory;

protected:
    void OnScroll(wxScrollEvent& event) override;
    void OnOK(wxCommandEvent& event) override;

    QelClient* m_client; // not owned; null until setClient

private:
    // The index of the chosen count in the options' channel counts: the
    // configured count's, or the slider's once the user moves it; -1 while
    // no offered count is chosen.
    int m_choice;
    // The largest slider position that names a usable count; -1 when none.
    int m_maximum;
    // The dialog's registration with m_client; it ends with the dialog.
    QelClientSubscription m_subscription;
};
