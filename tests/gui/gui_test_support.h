// Helpers of the window and picture tests: the directory the programs run
// from, a scoped change of the current directory, a capture of the toolkit's
// log, and the picture handlers.
#pragma once

#include <wx/image.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/string.h>

#include <functional>
#include <string>
#include <vector>

namespace qelguitest {

// The directory the programs run from; its res/ holds the copied pictures.
wxString binDir();

// Registers the toolkit's picture handlers once, as the application does.
void registerImageHandlers();

// Makes a directory the current one for the lifetime of the object.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const wxString& directory);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    wxString m_saved;
};

// Takes the place of the active log target for its lifetime and keeps every
// message logged on this thread.
class WxLogCapture : public wxLog {
public:
    WxLogCapture();
    ~WxLogCapture() override;
    WxLogCapture(const WxLogCapture&) = delete;
    WxLogCapture& operator=(const WxLogCapture&) = delete;

    const std::vector<wxString>& messages() const { return m_messages; }
    bool contains(const wxString& message) const;
    // Whether some message contains the given text.
    bool mentions(const wxString& text) const;
    // Every message, one a line, for failure reports.
    std::string all() const;

protected:
    void DoLogRecord(wxLogLevel level, const wxString& message,
                     const wxLogRecordInfo& info) override;

private:
    wxLog* m_previous;
    std::vector<wxString> m_messages;
};

// Answers every modal dialog with `onEnter` while it exists, before the test
// main's guard sees it: the id it returns ends ShowModal at once, with the
// dialog made and set up but never shown modally.
class DialogHook : public wxModalDialogHook {
public:
    explicit DialogHook(std::function<int(wxDialog*)> onEnter);
    ~DialogHook() override;
    DialogHook(const DialogHook&) = delete;
    DialogHook& operator=(const DialogHook&) = delete;
    int entered = 0;

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog*) override {}

private:
    std::function<int(wxDialog*)> m_onEnter;
};

// True when both pictures have the same size and every pixel that is fully
// opaque in `expected` has the same colour in `actual`.
bool sameOpaquePixels(const wxImage& expected, const wxImage& actual);

} // namespace qelguitest
