// What a screen reader is told about a control: its name, its description
// and which label names it. The toolkit's own accessibility layer is not
// built here, so the native one is reached through each control's handle;
// on a toolkit without one these do nothing.
#pragma once

#include <wx/string.h>

class wxDialog;
class wxWindow;

// Names `control` for assistive technologies (the power button "Sound card:
// running", say). An empty name leaves the toolkit's own.
void qelSetAccessibleName(wxWindow* control, const wxString& name);

// Describes `control` beyond its name (what it does, what stands).
void qelSetAccessibleDescription(wxWindow* control, const wxString& description);

// Says that `label` names `control` (and that it labels it): a screen
// reader reads the label with the control.
void qelSetAccessibleLabel(wxWindow* control, wxWindow* label);

// Escape, and the window system's close, end `dialog` with wxID_CANCEL and
// nothing else: with only an OK button the toolkit would take them for OK,
// and a dialog whose OK sends a change would send it.
void qelCloseOnEscape(wxDialog* dialog);

// The name a screen reader reads for `control`, as set above or the
// toolkit's own; empty where there is no accessibility layer. For tests.
wxString qelAccessibleName(wxWindow* control);
wxString qelAccessibleDescription(wxWindow* control);
// Whether `label` is recorded as labelling `control`, both ways.
bool qelAccessibleLabelled(wxWindow* control, wxWindow* label);
