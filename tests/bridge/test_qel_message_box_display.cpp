// The message boxes as real dialogs, caught by the toolkit's modal testing
// hooks before they show: a parentless wxMessageDialog with OK, the icon,
// the text and the caption. Needs a display.
#include "QelMessageBox.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <wx/msgdlg.h>
#include <wx/testing.h>

namespace {

struct Seen {
    long style = 0;
    wxString text;
    wxString caption;
    bool parentless = false;
};

// Takes a note of the dialog and closes it with `id`.
class NoteMessageBox : public wxExpectModal<wxMessageDialog> {
public:
    NoteMessageBox(Seen* seen, int id) : wxExpectModal<wxMessageDialog>(id), m_seen(seen) {}

protected:
    int OnInvoked(wxMessageDialog* dialog) const override {
        m_seen->style = dialog->GetMessageDialogStyle();
        m_seen->text = dialog->GetMessage();
        m_seen->caption = dialog->GetTitle();
        m_seen->parentless = dialog->GetParent() == nullptr;
        return wxExpectModal<wxMessageDialog>::OnInvoked(dialog);
    }

private:
    Seen* m_seen;
};

class DisplayMessageBox : public ::testing::Test {
protected:
    void SetUp() override { qelSetMessageBoxHook(nullptr); }
};

TEST_F(DisplayMessageBox, AWarningIsAParentlessDialogWithOkAndTheWarningIcon) {
    Seen seen;
    int rc = 0;
    wxTEST_DIALOG(rc = qelMessageBox(wxICON_WARNING, wxS("Mind the gap"), QEL_CAPTION_WARNING),
                  NoteMessageBox(&seen, wxID_OK));
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(seen.style, wxOK | wxICON_WARNING);
    EXPECT_EQ(seen.text, "Mind the gap");
    EXPECT_EQ(seen.caption, "Warning");
    EXPECT_TRUE(seen.parentless);
}

TEST_F(DisplayMessageBox, AnErrorBoxHasTheErrorIconAndTheCaptionError) {
    Seen seen;
    int rc = 0;
    wxTEST_DIALOG(rc = qelErrorBox(wxS("Failed to start QEL: no env")),
                  NoteMessageBox(&seen, wxID_OK));
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(seen.style, wxOK | wxICON_ERROR);
    EXPECT_EQ(seen.text, "Failed to start QEL: no env");
    EXPECT_EQ(seen.caption, "Error");
}

int s_unexpected = 0;

TEST_F(DisplayMessageBox, ABoxNobodyExpectedFailsTheTestAndIsCancelled) {
    EXPECT_NONFATAL_FAILURE(s_unexpected = qelErrorBox(wxS("Surprise")),
                            "unexpected modal dialog \"Error: Surprise\"");
    EXPECT_EQ(s_unexpected, wxID_CANCEL);
}

} // namespace
