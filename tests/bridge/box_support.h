// Shared by the tests of what sits above the engine and shows boxes: message
// boxes recorded instead of shown, and a fixture in which every box nobody
// expected fails the test.
#pragma once

#include "bridge_support.h"

#include <wx/defs.h>
#include <wx/string.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace qeltest {

// A message box as it was asked for.
struct Box {
    long style;
    std::string text; // UTF-8
    std::string caption;
};
bool operator==(const Box& a, const Box& b);
std::ostream& operator<<(std::ostream& os, const Box& box);

// While it exists, every box is recorded and answered with `answer` instead
// of being shown; `onBox` runs while the box is "open". Outside a recorder
// every box fails the running test (the fixture installs that).
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    const std::vector<Box>& boxes() const { return m_boxes; }
    std::function<void(const Box&)> onBox;
    int answer = wxID_OK;

private:
    std::vector<Box> m_boxes;
};

// Every box fails the running test and is answered with wxID_CANCEL.
void failOnEveryBox();

// The texts of the two lost-contact warnings.
extern const std::string k_sleepWarning;
extern const std::string k_restartWarning;

// BridgeTest in which every box fails the test unless a BoxRecorder takes it.
class InterfaceTest : public BridgeTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace qeltest
