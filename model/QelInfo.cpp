#include "QelInfo.h"

#include "QelRecordText.h"

QelInfo::QelInfo() : m_record(nullptr) {}

QelInfo::~QelInfo() = default;

void QelInfo::update(const qel_info* info) {
    m_record = info;
    if (info == nullptr) {
        m_version = wxT("0.0.0");
        return;
    }
    m_version = wxString::Format(wxT("%u.%u.%u"), static_cast<unsigned int>(info->major),
                                 static_cast<unsigned int>(info->minor),
                                 static_cast<unsigned int>(info->build));
    m_version += qelTextFromLatin1(info->suffix, QEL_INFO_SUFFIX_SIZE);
}
