#include "gui_test_support.h"

#include <wx/filefn.h>

namespace qelguitest {

wxString binDir() {
    return wxString::FromUTF8(QEL_TEST_BIN_DIR);
}

void registerImageHandlers() {
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) {
        wxInitAllImageHandlers();
    }
}

CurrentDirectory::CurrentDirectory(const wxString& directory) : m_saved(wxGetCwd()) {
    wxSetWorkingDirectory(directory);
}

CurrentDirectory::~CurrentDirectory() {
    wxSetWorkingDirectory(m_saved);
}

WxLogCapture::WxLogCapture() : m_previous(wxLog::SetActiveTarget(this)) {}

WxLogCapture::~WxLogCapture() {
    wxLog::SetActiveTarget(m_previous);
}

bool WxLogCapture::contains(const wxString& message) const {
    for (const wxString& logged : m_messages) {
        if (logged == message) {
            return true;
        }
    }
    return false;
}

bool WxLogCapture::mentions(const wxString& text) const {
    for (const wxString& logged : m_messages) {
        if (logged.Contains(text)) {
            return true;
        }
    }
    return false;
}

std::string WxLogCapture::all() const {
    std::string text;
    for (const wxString& logged : m_messages) {
        text += logged.utf8_string();
        text += '\n';
    }
    return text;
}

void WxLogCapture::DoLogRecord(wxLogLevel, const wxString& message, const wxLogRecordInfo&) {
    m_messages.push_back(message);
}

bool sameOpaquePixels(const wxImage& expected, const wxImage& actual) {
    if (!expected.IsOk() || !actual.IsOk() || expected.GetSize() != actual.GetSize()) {
        return false;
    }
    for (int y = 0; y < expected.GetHeight(); ++y) {
        for (int x = 0; x < expected.GetWidth(); ++x) {
            if (expected.HasAlpha() && expected.GetAlpha(x, y) != 255) {
                continue;
            }
            if (expected.GetRed(x, y) != actual.GetRed(x, y) ||
                expected.GetGreen(x, y) != actual.GetGreen(x, y) ||
                expected.GetBlue(x, y) != actual.GetBlue(x, y)) {
                return false;
            }
        }
    }
    return true;
}

DialogHook::DialogHook(std::function<int(wxDialog*)> onEnter) : m_onEnter(std::move(onEnter)) {
    Register();
}

DialogHook::~DialogHook() {
    Unregister();
}

int DialogHook::Enter(wxDialog* dialog) {
    ++entered;
    return m_onEnter(dialog);
}

} // namespace qelguitest
