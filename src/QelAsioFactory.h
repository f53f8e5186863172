// The application's factory: the ASIO family of client, options,
// configuration and panel.
#pragma once

#include "QelFactory.h"

class QelAsioFactory : public QelFactory {
public:
    QelClient* createClient() override;
    QelOptions* createOptions() override;
    QelConfig* createConfig() override;
    QelPanel* createPanel(wxWindow* parent, QelImageManager* images) override;
};
