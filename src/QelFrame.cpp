#include "QelFrame.h"

#include "QelClient.h"
#include "QelClientThread.h"
#include "QelFactory.h"
#include "QelGuiPanel.h"
#include "QelModalRun.h"

#include <wx/sizer.h>
#include <wx/weakref.h>

#include <algorithm>

namespace {

// The default frame style without the resize border and the maximise box:
// the window has a fixed size and can only be minimised or closed. The frame
// is created with it, because the toolkit tells the window manager only the
// style a window is created with (a later change would leave the window
// resizable and maximisable on the desktop).
constexpr long k_frameStyle =
    (wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX)) | wxTAB_TRAVERSAL;

} // namespace

QelFrame::QelFrame(QelFactory* factory, QelImageManager* images)
    : QelFrameGen(nullptr, wxID_ANY, wxT("Qelvane"), wxDefaultPosition, wxSize(595, 400),
                  k_frameStyle),
      m_panel(nullptr), m_factory(factory), m_client(nullptr) {
    m_panel = m_factory != nullptr ? m_factory->createPanel(this, images) : nullptr;

    // The panel keeps the tab-traversal style it was made with, so that Tab
    // and Shift+Tab walk through the power button, the choices and the
    // buttons.
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    if (m_panel != nullptr) {
        sizer->Add(m_panel, 1, wxEXPAND, 0);
    }
    SetSizer(sizer); // deletes the base's empty sizer
    Layout();

    // The frame stays 595 pixels wide; it grows in height when the panel
    // needs more than the initial 400 pixels.
    const wxSize minimum = sizer->CalcMin();
    int width = 0;
    int height = 0;
    GetClientSize(&width, &height);
    SetClientSize(width, std::max(height, minimum.GetHeight()));

    // The size it has now is the only one: the toolkit and the window
    // manager are held to it.
    const wxSize size = GetSize();
    SetSizeHints(size, size);
}

void QelFrame::setClient(QelClient* client) {
    m_client = client;
    if (m_panel != nullptr) {
        m_panel->setClient(client);
    }
}

void QelFrame::OnClose(wxCloseEvent& event) {
    // Not while a dialog or message box runs modally (see QelModalRun.h):
    // the client stops at once, so that the DISCONNECT leaves now and
    // nothing is sent on behalf of a box the close answers; the runs are
    // ended and the frame closes again once every one has returned.
    if (qelModalRunning()) {
        if (m_client != nullptr) {
            m_client->stop();
        }
        qelEndModalRuns();
        const bool force = !event.CanVeto();
        wxWeakRef<QelFrame> self(this);
        qelAfterModalRuns([self, force] {
            if (self) {
                self->Close(force);
            }
        });
        if (event.CanVeto()) {
            event.Veto();
        }
        return;
    }
    if (m_client != nullptr) {
        m_client->stop();
    }
    event.Skip();
}

void QelFrame::OnClientThread(wxThreadEvent& event) {
    if (m_client != nullptr) {
        m_client->onThreadEvent();
    }
    event.Skip();
}

// The client thread's events come through the static event table.
wxBEGIN_EVENT_TABLE(QelFrame, QelFrameGen)
    wx__DECLARE_EVT1(QEL_EVT_CLIENT, wxID_ANY, wxThreadEventHandler(QelFrame::OnClientThread))
        wxEND_EVENT_TABLE()
