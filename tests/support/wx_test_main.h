// What the wx-aware test mains give the tests. Two mains exist:
// qel_wx_test_main runs the tests inside a GUI application (a display is
// needed: run under Xvfb, with the DISPLAY_LOCK), qel_wx_console_test_main
// inside a console application for tests that open no window. Both answer
// --gtest_list_tests without starting the toolkit, start the platform's
// sockets, turn the toolkit's asserts into test failures, log to standard
// error, and fail the running test for any modal dialog that nobody expected
// (it is cancelled, not shown) unless the test lets dialogs show.
#pragma once

#include <functional>

namespace qeltest {

// Handles every event waiting in the application's queues (events that other
// threads post are delivered only this way; no event loop runs).
void pumpEvents();

// Pumps until `done` holds or `timeoutMs` of real time have passed; returns
// whether `done` held.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// While one exists, modal dialogs nobody expected are shown as they are (for
// tests of the real dialogs, which answer them themselves).
class AllowDialogs {
public:
    AllowDialogs();
    ~AllowDialogs();
    AllowDialogs(const AllowDialogs&) = delete;
    AllowDialogs& operator=(const AllowDialogs&) = delete;
};

} // namespace qeltest
