// The generated frame base: how it is built, where its two events go, that
// its default handlers let them pass on, and that it removes its routes.
#include "QelFrameGen.h"
#include "gui_test_support.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/display.h>
#include <wx/sizer.h>

#include <string>
#include <vector>

namespace {

// Handler calls seen by any recording frame; kept outside the frames so that
// a call arriving while a frame is being destroyed is still counted.
std::vector<std::string> g_calls;

class RecordingFrame : public QelFrameGen {
public:
    RecordingFrame()
        : QelFrameGen(nullptr, wxID_ANY, wxT("Qelvane"), wxDefaultPosition, wxSize(595, 400),
                      wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL) {}

    bool passOn = true; // let the events pass on as the defaults do

protected:
    void OnClose(wxCloseEvent& event) override {
        g_calls.push_back("OnClose");
        if (passOn) {
            QelFrameGen::OnClose(event);
        } else {
            event.Veto();
        }
    }
    void OnIconize(wxIconizeEvent& event) override {
        g_calls.push_back("OnIconize");
        if (passOn) {
            QelFrameGen::OnIconize(event);
        }
    }
};

// Gives the tests the default handlers themselves.
class PlainFrame : public QelFrameGen {
public:
    PlainFrame() : QelFrameGen(nullptr) {}
    using QelFrameGen::OnClose;
    using QelFrameGen::OnIconize;
};

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override { g_calls.clear(); }

    // Deletes what Destroy() scheduled.
    static void collectGarbage() { wxTheApp->ProcessIdle(); }
};

TEST_F(FrameTest, IsBuiltAsTheMainWindow) {
    RecordingFrame* frame = new RecordingFrame;
    EXPECT_EQ(wxT("frame"), frame->GetName());
    EXPECT_EQ(wxT("Qelvane"), frame->GetTitle());
    EXPECT_EQ(nullptr, frame->GetParent());
    EXPECT_EQ(wxSize(595, 400), frame->GetSize());
    EXPECT_EQ(wxSize(595, 400), frame->GetMinSize());
    EXPECT_EQ(wxDefaultSize, frame->GetMaxSize());
    EXPECT_EQ(wxColour(224, 224, 224), frame->GetBackgroundColour());
    const long style = frame->GetWindowStyleFlag();
    EXPECT_EQ(long(wxDEFAULT_FRAME_STYLE), style & wxDEFAULT_FRAME_STYLE);
    EXPECT_TRUE(style & wxTAB_TRAVERSAL);
    EXPECT_TRUE(frame->GetChildren().empty());
    delete frame;
}

TEST_F(FrameTest, HasAnEmptyVerticalSizer) {
    RecordingFrame* frame = new RecordingFrame;
    wxBoxSizer* sizer = dynamic_cast<wxBoxSizer*>(frame->GetSizer());
    ASSERT_NE(nullptr, sizer);
    EXPECT_EQ(wxVERTICAL, sizer->GetOrientation());
    EXPECT_EQ(0u, sizer->GetItemCount());
    delete frame;
}

TEST_F(FrameTest, DefaultArgumentsAreThoseOfTheMainWindow) {
    PlainFrame* frame = new PlainFrame;
    EXPECT_EQ(wxT("Qelvane"), frame->GetTitle());
    EXPECT_EQ(wxSize(595, 400), frame->GetSize());
    EXPECT_TRUE(frame->GetWindowStyleFlag() & wxTAB_TRAVERSAL);
    delete frame;
}

TEST_F(FrameTest, IsCentredOnTheScreen) {
    RecordingFrame* frame = new RecordingFrame;
    const wxRect area = wxDisplay(frame).GetClientArea();
    const wxRect rect = frame->GetRect();
    const wxPoint centre(rect.x + rect.width / 2, rect.y + rect.height / 2);
    const wxPoint areaCentre(area.x + area.width / 2, area.y + area.height / 2);
    EXPECT_NEAR(areaCentre.x, centre.x, 2);
    EXPECT_NEAR(areaCentre.y, centre.y, 2);
    delete frame;
}

TEST_F(FrameTest, TheCloseEventReachesOnClose) {
    RecordingFrame* frame = new RecordingFrame;
    frame->passOn = false;
    EXPECT_FALSE(frame->Close());
    EXPECT_EQ(std::vector<std::string>{"OnClose"}, g_calls);
    EXPECT_FALSE(wxTheApp->IsScheduledForDestruction(frame)) << "a vetoed close keeps the frame";
    delete frame;
}

TEST_F(FrameTest, TheIconizeEventReachesOnIconize) {
    RecordingFrame* frame = new RecordingFrame;
    frame->passOn = false;
    wxIconizeEvent event(frame->GetId(), true);
    event.SetEventObject(frame);
    EXPECT_TRUE(frame->ProcessWindowEvent(event));
    EXPECT_EQ(std::vector<std::string>{"OnIconize"}, g_calls);
    delete frame;
}

TEST_F(FrameTest, ByDefaultClosingDestroysTheFrame) {
    RecordingFrame* frame = new RecordingFrame;
    EXPECT_TRUE(frame->Close());
    EXPECT_EQ(std::vector<std::string>{"OnClose"}, g_calls);
    EXPECT_TRUE(wxTheApp->IsScheduledForDestruction(frame));
    collectGarbage();
    EXPECT_EQ(nullptr, wxWindow::FindWindowByName(wxT("frame")));
}

TEST_F(FrameTest, ByDefaultTheIconizeEventPassesOn) {
    RecordingFrame* frame = new RecordingFrame;
    wxIconizeEvent event(frame->GetId(), true);
    event.SetEventObject(frame);
    EXPECT_FALSE(frame->ProcessWindowEvent(event));
    EXPECT_EQ(std::vector<std::string>{"OnIconize"}, g_calls);
    delete frame;
}

TEST_F(FrameTest, TheDefaultHandlersSkip) {
    PlainFrame* frame = new PlainFrame;
    wxCloseEvent close(wxEVT_CLOSE_WINDOW, frame->GetId());
    frame->OnClose(close);
    EXPECT_TRUE(close.GetSkipped());
    wxIconizeEvent iconize(frame->GetId(), true);
    frame->OnIconize(iconize);
    EXPECT_TRUE(iconize.GetSkipped());
    delete frame;
}

// A child of the frame that, while it is destroyed with the frame, sends the
// frame a minimise event: by then the frame base has removed its routes.
class LateSender : public wxWindow {
public:
    LateSender(wxWindow* parent, bool* sent) : wxWindow(parent, wxID_ANY), m_sent(sent) {}
    ~LateSender() override {
        wxWindow* frame = GetParent();
        wxIconizeEvent event(frame->GetId(), true);
        event.SetEventObject(frame);
        frame->ProcessWindowEvent(event);
        *m_sent = true;
    }

private:
    bool* m_sent;
};

TEST_F(FrameTest, TheDestructorRemovesTheRoutes) {
    bool sent = false;
    RecordingFrame* frame = new RecordingFrame;
    new LateSender(frame, &sent);
    delete frame;
    EXPECT_TRUE(sent);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(FrameTest, WhileAliveTheLateSenderWouldBeHeard) {
    bool sent = false;
    RecordingFrame* frame = new RecordingFrame;
    LateSender* sender = new LateSender(frame, &sent);
    delete sender;
    EXPECT_TRUE(sent);
    EXPECT_EQ(std::vector<std::string>{"OnIconize"}, g_calls);
    delete frame;
}

} // namespace
