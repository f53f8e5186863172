#include "QelState.h"

#include "QelConfig.h"
#include "QelRecordText.h"

QelState::QelState(QelConfig* config) : m_record(nullptr), m_config(config) {}

QelState::~QelState() {
    delete m_config;
}

void QelState::update(const qel_options* options, const qel_state* state) {
    m_record = state;
    if (state == nullptr) {
        if (m_config != nullptr) {
            m_config->update(nullptr, nullptr);
        }
        m_deviceName.clear();
        return;
    }
    if (m_config != nullptr) {
        m_config->update(options, &state->config);
    }
    m_deviceName = qelTextFromLatin1(state->device_name, QEL_DEVICE_NAME_SIZE);
}
