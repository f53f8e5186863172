// The ASIO options dialog: the ASIO buffer size, encoding and latency. Each
// choice the user makes is sent at once as the configuration in force with
// that value; OK only closes. While open it follows the manager's options and
// state.
#pragma once

#include "QelAsioDialogGen.h"
#include "QelClientListener.h"
#include "QelClientSubscription.h"

class QelAsioOptions;
class QelClient;
class QelConfig;
class QelFactory;

class QelAsioDialog : public QelAsioDialogGen, public QelClientListener {
public:
    explicit QelAsioDialog(wxWindow* parent);

    // Listens to `client` (null: to none) and shows what it holds. Giving the
    // client the dialog already has does nothing.
    void setClient(QelClient* client);

    // Offers the ASIO lists of `options` (none without options) and selects
    // the configuration's values; without a configuration, or for a value
    // that is no item, nothing is selected.
    virtual void update(const QelAsioOptions* options, const QelConfig* config);
    // Writes the three selected texts into `config`; a choice with nothing
    // selected leaves its value as it is.
    virtual void applyToConfig(QelConfig& config);

    // Sends the configuration in force with the three selected values, when
    // the manager's state is known and the result is valid against its
    // options.
    void apply();

    void onClientEvent(int code) override;

    // Makes the configurations the dialog sends; not owned, set by the
    // opener.
    QelFactory* m_factory;

protected:
    void OnBufferSize(wxCommandEvent& event) override;
    void OnEncoding(wxCommandEvent& event) override;
    void OnLatency(wxCommandEvent& event) override;
    void OnOK(wxCommandEvent& event) override;

    QelClient* m_client; // not owned; null until setClient

private:
    // The dialog's registration with m_client; it ends with the dialog.
    QelClientSubscription m_subscription;
};
