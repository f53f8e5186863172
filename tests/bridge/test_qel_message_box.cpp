// The message boxes through the test hook: the whole dialog style, the text
// and the caption reach it, and its answer is the box's result.
#include "QelMessageBox.h"

#include "kes_env.h"
#include "log_capture.h"

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

TEST(MessageBoxHook, EveryBoxIsLoggedWithItsCaption) {
    kes_env* env = nullptr;
    ASSERT_EQ(kes_env_acquire(&env), KES_SUCCESS);
    kes_log_set_threshold(env->log, KES_LOG_STDERR, KES_LOG_INFO);
    kes_log_set_timestamp(env->log, KES_LOG_STDERR, false);
    {
        qeltest::LogCapture log(env->log);
        qelSetMessageBoxHook([](long, const wxString&, const wxString&) { return 0; });
        qelMessageBox(wxICON_WARNING, wxS("Two\nlines \u00e9"), QEL_CAPTION_WARNING);
        qelErrorBox(wxS("%s 100%"));
        qelSetMessageBoxHook(nullptr);
        EXPECT_EQ("Info Message box \"Warning\": Two\nlines \u00e9\n"
                  "Info Message box \"Error\": %s 100%\n",
                  log.text());
    }
    kes_env_release(env);
}

TEST(MessageBoxHook, TheCaptionsExistBeforeAnyCode) {
    EXPECT_EQ(QEL_CAPTION_ERROR, "Error");
    EXPECT_EQ(QEL_CAPTION_WARNING, "Warning");
}

} // namespace
