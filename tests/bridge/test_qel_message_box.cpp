// The message boxes through the test hook: the whole dialog style, the text
// and the caption reach it, and its answer is the box's result.
#include "QelMessageBox.h"

#include <gtest/gtest.h>

#include <wx/defs.h>

namespace {

struct Seen {
    long style = 0;
    wxString text;
    wxString caption;
};

TEST(MessageBoxHook, ReceivesTheWholeBoxAndAnswersForTheDialog) {
    Seen seen;
    qelSetMessageBoxHook([&](long style, const wxString& text, const wxString& caption) {
        seen = Seen{style, text, caption};
        return static_cast<int>(wxID_CANCEL);
    });
    EXPECT_EQ(qelMessageBox(wxICON_WARNING, wxS("Mind the gap"), QEL_CAPTION_WARNING), wxID_CANCEL);
    EXPECT_EQ(seen.style, wxOK | wxICON_WARNING);
    EXPECT_EQ(seen.text, "Mind the gap");
    EXPECT_EQ(seen.caption, "Warning");

    EXPECT_EQ(qelErrorBox(wxS("No env")), wxID_CANCEL);
    EXPECT_EQ(seen.style, wxOK | wxICON_ERROR);
    EXPECT_EQ(seen.text, "No env");
    EXPECT_EQ(seen.caption, "Error");
    qelSetMessageBoxHook(nullptr);
}

TEST(MessageBoxHook, TheCaptionsExistBeforeAnyCode) {
    EXPECT_EQ(QEL_CAPTION_ERROR, "Error");
    EXPECT_EQ(QEL_CAPTION_WARNING, "Warning");
}

} // namespace
