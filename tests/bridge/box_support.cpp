#include "box_support.h"

#include "QelMessageBox.h"

namespace qeltest {

namespace {

std::string utf8(const wxString& text) {
    return std::string(text.utf8_str().data());
}

} // namespace

const std::string k_sleepWarning = "The QEL Control panel has lost contact with QEL.\n"
                                   "This may be due to the computer entering a low power state\n"
                                   "such as sleep or hibernation\n"
                                   "Restart the QEL control panel to re-establish a connection.";
const std::string k_restartWarning =
    "The QEL Control panel has lost contact with QEL.\n"
    "Try restarting the QEL control panel to re-establish a connection.";

bool operator==(const Box& a, const Box& b) {
    return a.style == b.style && a.text == b.text && a.caption == b.caption;
}

std::ostream& operator<<(std::ostream& os, const Box& box) {
    return os << "{style 0x" << std::hex << box.style << std::dec << ", \"" << box.text << "\", \""
              << box.caption << "\"}";
}

BoxRecorder::BoxRecorder() {
    qelSetMessageBoxHook([this](long style, const wxString& text, const wxString& caption) {
        m_boxes.push_back(Box{style, utf8(text), utf8(caption)});
        if (onBox) {
            onBox(m_boxes.back());
        }
        return answer;
    });
}

BoxRecorder::~BoxRecorder() {
    failOnEveryBox();
}

void failOnEveryBox() {
    qelSetMessageBoxHook([](long style, const wxString& text, const wxString& caption) {
        ADD_FAILURE() << "unexpected message box " << Box{style, utf8(text), utf8(caption)};
        return static_cast<int>(wxID_CANCEL);
    });
}

void InterfaceTest::SetUp() {
    BridgeTest::SetUp();
    failOnEveryBox();
}

void InterfaceTest::TearDown() {
    BridgeTest::TearDown();
    qelSetMessageBoxHook(nullptr);
}

} // namespace qeltest
