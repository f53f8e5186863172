#include "QelAsioFactory.h"

#include "QelAsioClient.h"
#include "QelAsioConfig.h"
#include "QelAsioOptions.h"
#include "QelAsioPanel.h"

#include <new>

QelClient* QelAsioFactory::createClient() {
    return new (std::nothrow) QelAsioClient(this);
}

QelOptions* QelAsioFactory::createOptions() {
    return new (std::nothrow) QelAsioOptions();
}

QelConfig* QelAsioFactory::createConfig() {
    return new (std::nothrow) QelAsioConfig();
}

QelPanel* QelAsioFactory::createPanel(wxWindow* parent, QelImageManager* images) {
    return new (std::nothrow) QelAsioPanel(parent, this, images);
}
