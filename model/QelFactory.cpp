#include "QelFactory.h"

#include "QelConfig.h"
#include "QelInfo.h"
#include "QelOptions.h"
#include "QelState.h"

#include <new>

QelFactory::~QelFactory() = default;

QelInfo* QelFactory::createInfo() {
    return new (std::nothrow) QelInfo();
}

QelOptions* QelFactory::createOptions() {
    return new (std::nothrow) QelOptions();
}

QelConfig* QelFactory::createConfig() {
    return new (std::nothrow) QelConfig();
}

QelState* QelFactory::createState() {
    QelConfig* config = createConfig();
    if (config == nullptr) {
        return nullptr;
    }
    QelState* state = new (std::nothrow) QelState(config);
    if (state == nullptr) {
        delete config;
    }
    return state;
}
