// The floor of the start-up, idle and memory figures: the least a wx program
// does to show a window like the control panel's. A fixed 595 x 400 frame
// titled "Floor" with a notebook of two pages: four choices, the power and
// help picture buttons (the panel's own pictures), two buttons and some
// texts. No manager, no thread of its own, no image handler but PNG's.
// SIGTERM and SIGINT close the window, as they close the panel's.
#include <wx/app.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <csignal>
#include <cstdlib>

#ifndef QEL_BENCH_RES_DIR
#error "QEL_BENCH_RES_DIR must name the directory of the panel's pictures"
#endif

namespace {

wxBitmap picture(const char* name) {
    return wxBitmap(wxString::FromUTF8(QEL_BENCH_RES_DIR "/") + wxString::FromUTF8(name),
                    wxBITMAP_TYPE_PNG);
}

wxChoice* choice(wxWindow* parent, std::initializer_list<const wxChar*> items) {
    wxArrayString list;
    for (const wxChar* item : items) {
        list.Add(item);
    }
    wxChoice* control = new wxChoice(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, list);
    control->SetSelection(0);
    return control;
}

class FloorFrame : public wxFrame {
public:
    FloorFrame()
        : wxFrame(nullptr, wxID_ANY, wxT("Floor"), wxDefaultPosition, wxSize(595, 400),
                  (wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX)) | wxTAB_TRAVERSAL) {
        wxNotebook* notebook = new wxNotebook(this, wxID_ANY);

        wxPanel* settings = new wxPanel(notebook);
        wxBoxSizer* column = new wxBoxSizer(wxVERTICAL);
        wxStaticText* title = new wxStaticText(settings, wxID_ANY, wxT("Floor"));
        title->SetFont(wxFont(18, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD));
        column->Add(title, 0, wxALIGN_CENTER | wxALL, 10);

        wxBoxSizer* audio = new wxBoxSizer(wxHORIZONTAL);
        audio->Add(new wxBitmapButton(settings, wxID_ANY, picture("dpi90-power-grey.png")), 0,
                   wxALL, 5);
        wxFlexGridSizer* grid = new wxFlexGridSizer(3, 3, 5, 5);
        grid->Add(new wxStaticText(settings, wxID_ANY, wxT("Audio Interface")), 0,
                  wxALIGN_CENTER_VERTICAL);
        grid->Add(choice(settings, {wxT("WDM"), wxT("ASIO")}));
        grid->AddSpacer(0);
        grid->Add(new wxStaticText(settings, wxID_ANY, wxT("Audio Format")), 0,
                  wxALIGN_CENTER_VERTICAL);
        grid->Add(choice(settings, {wxT("44100 Hz"), wxT("48000 Hz"), wxT("88200 Hz")}));
        grid->Add(choice(settings, {wxT("16 bit"), wxT("24 bit"), wxT("32 bit")}));
        grid->Add(new wxStaticText(settings, wxID_ANY, wxT("Latency")), 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(choice(settings, {wxT("Low"), wxT("Medium"), wxT("High"), wxT("Extra High")}));
        audio->Add(grid, 1, wxALIGN_CENTER_VERTICAL);
        column->Add(audio, 1, wxALIGN_CENTER);

        wxFlexGridSizer* address = new wxFlexGridSizer(2, 2, 2, 5);
        address->Add(new wxStaticText(settings, wxID_ANY, wxT("IP:")));
        address->Add(new wxStaticText(settings, wxID_ANY, wxT("192.168.1.20")));
        address->Add(new wxStaticText(settings, wxID_ANY, wxT("MAC:")));
        address->Add(new wxStaticText(settings, wxID_ANY, wxT("00:1b:21:3c:4d:5e")));
        column->Add(address, 0, wxALIGN_CENTER | wxALL, 5);

        wxBoxSizer* buttons = new wxBoxSizer(wxHORIZONTAL);
        buttons->Add(new wxStaticText(settings, wxID_ANY, wxT("Status")), 1,
                     wxALIGN_CENTER_VERTICAL | wxALL, 5);
        buttons->Add(new wxButton(settings, wxID_ANY, wxT("Platform")), 0, wxALL, 5);
        buttons->Add(new wxButton(settings, wxID_ANY, wxT("Advanced")), 0, wxALL, 5);
        buttons->Add(new wxBitmapButton(settings, wxID_ANY, picture("help_circle_blue_v2.png")), 0,
                     wxALL, 5);
        column->Add(buttons, 0, wxEXPAND | wxALL, 5);
        settings->SetSizer(column);
        notebook->AddPage(settings, wxT("Settings"), true);

        wxPanel* about = new wxPanel(notebook);
        wxBoxSizer* aboutColumn = new wxBoxSizer(wxVERTICAL);
        aboutColumn->Add(new wxStaticText(about, wxID_ANY, wxT("Version")), 0, wxALL, 5);
        aboutColumn->Add(new wxStaticText(about, wxID_ANY, wxT("0.1.0")), 0, wxALL, 5);
        about->SetSizer(aboutColumn);
        notebook->AddPage(about, wxT("About"));

        wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(notebook, 1, wxEXPAND);
        SetSizer(sizer);
        Layout();
        const wxSize size = GetSize();
        SetSizeHints(size, size);
    }
};

class FloorApp : public wxApp {
public:
    bool OnInit() override {
        wxImage::AddHandler(new wxPNGHandler);
        FloorFrame* frame = new FloorFrame();
        frame->Show(true);
        SetTopWindow(frame);
        SetSignalHandler(SIGTERM, &FloorApp::onSignal);
        SetSignalHandler(SIGINT, &FloorApp::onSignal);
        return true;
    }

private:
    static void onSignal(int) {
        if (wxWindow* frame = wxTheApp->GetTopWindow()) {
            frame->Close(true);
        } else {
            wxTheApp->ExitMainLoop();
        }
        wxWakeUpIdle();
    }
};

} // namespace

wxIMPLEMENT_APP_NO_MAIN(FloorApp);

int main(int argc, char** argv) {
    // As the panel does: the window draws nothing with OpenGL.
    setenv("GDK_GL", "disable", 0);
    return wxEntry(argc, argv);
}
