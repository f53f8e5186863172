// The single-instance lock on Windows: the mutex's name, the executable's
// path, and later starts that find the lock taken, in this process and in a
// second one (this program started again with --take-lock=<name>, which
// takes the lock and ends with the result as its exit code). The second
// process's tests make windows, so they need a display (Xvfb under wine).
#include "kes_instance.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// How long a started process may take to decide; it decides at once.
constexpr DWORD k_childBound = 30000;

std::string mutexName(const char* key, size_t size = KES_INSTANCE_MUTEX_NAME_SIZE) {
    std::vector<char> buffer(size + 1, '#');
    const kes_result result = kes_instance_mutex_name(key, buffer.data(), size);
    EXPECT_EQ(buffer[size], '#') << "written past the buffer";
    return result == KES_SUCCESS ? std::string(buffer.data()) : "<" + std::to_string(result) + ">";
}

TEST(KesInstanceMutexName, ReplacesEveryBackslashAndColonAndNothingElse) {
    struct Case {
        const char* key;
        const char* name;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Qelvane\\qel-panel.exe", "C__Program Files_Qelvane_qel-panel.exe"},
        {"Z:\\work\\build-win\\bin\\qel-panel.exe", "Z__work_build-win_bin_qel-panel.exe"},
        {"\\\\server\\share\\qel-panel.exe", "__server_share_qel-panel.exe"},
        {"C:\\QEL\\Qel-Panel.EXE", "C__QEL_Qel-Panel.EXE"},
        {"a:b::c\\\\d", "a_b__c__d"},
        {"panel", "panel"},
        {"C:/forward/slashes.exe", "C_/forward/slashes.exe"},
        {"C:\\M\xc3\xbcller\\\xe2\x82\xac.exe", "C__M\xc3\xbcller_\xe2\x82\xac.exe"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(mutexName(c.key), c.name);
    }
}

TEST(KesInstanceMutexName, ANameWindowsCannotTakeIsTruncated) {
    EXPECT_EQ(mutexName(std::string(MAX_PATH, 'x').c_str()), std::string(MAX_PATH, 'x'));
    EXPECT_EQ(mutexName(std::string(MAX_PATH + 1, 'x').c_str()),
              "<" + std::to_string(KES_TRUNCATED) + ">");
    // 260 characters of two bytes each fit; the limit counts characters.
    std::string wide;
    for (int i = 0; i < MAX_PATH; ++i) {
        wide += "\xc3\xa9";
    }
    EXPECT_EQ(mutexName(wide.c_str()), wide);
    EXPECT_EQ(mutexName((wide + "e").c_str()), "<" + std::to_string(KES_TRUNCATED) + ">");
}

TEST(KesInstanceMutexName, ABufferTooSmallIsTruncatedAndLeftEmpty) {
    char buffer[6] = "zzzzz";
    EXPECT_EQ(kes_instance_mutex_name("C:\\panel", buffer, sizeof buffer), KES_TRUNCATED);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(kes_instance_mutex_name("C:\\p", buffer, sizeof buffer), KES_SUCCESS);
    EXPECT_STREQ(buffer, "C__p");
    EXPECT_EQ(kes_instance_mutex_name("C:\\p", buffer, 0), KES_TRUNCATED);
}

TEST(KesInstanceMutexName, MissingArgumentsAndTextThatIsNoUtf8AreInvalid) {
    char buffer[16];
    EXPECT_EQ(kes_instance_mutex_name(nullptr, buffer, sizeof buffer), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_mutex_name("panel", nullptr, 16), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_mutex_name("bad \xff text", buffer, sizeof buffer),
              KES_INVALIDPARAMETER);
}

TEST(KesInstanceExecutablePath, IsTheFullPathOfThisProgram) {
    char path[QEL_INSTANCE_PATH_MAX];
    ASSERT_EQ(kes_instance_executable_path(path, sizeof path), KES_SUCCESS);
    const std::string text = path;
    const std::string tail = "\\test_kes_instance_win.exe";
    ASSERT_GT(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
    EXPECT_EQ(text.substr(1, 2), ":\\") << text;

    char small[8] = "zzzzzzz";
    EXPECT_EQ(kes_instance_executable_path(small, sizeof small), KES_TRUNCATED);
    EXPECT_EQ(kes_instance_executable_path(nullptr, 16), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_executable_path(path, 0), KES_INVALIDPARAMETER);
}

TEST(KesInstanceWhere, IsTheMutexNameOfThisProgram) {
    char path[QEL_INSTANCE_PATH_MAX];
    ASSERT_EQ(kes_instance_executable_path(path, sizeof path), KES_SUCCESS);
    char where[KES_INSTANCE_MUTEX_NAME_SIZE];
    ASSERT_EQ(kes_instance_where(where, sizeof where), KES_SUCCESS);
    EXPECT_EQ(std::string(where), mutexName(path));
    EXPECT_EQ(std::string(where).find_first_of("\\:"), std::string::npos);
    EXPECT_EQ(kes_instance_where(nullptr, 8), KES_INVALIDPARAMETER);
}

// A unique lock name per test, so that tests never share a mutex.
std::string lockName(const char* test) {
    return "qel-test-" + std::to_string(GetCurrentProcessId()) + "-" + test;
}

TEST(KesInstanceLock, TheFirstTakesItAndALaterOneInThisProcessFindsNoOtherProcess) {
    const std::string name = lockName("same-process");
    kes_instance* first = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &first), KES_SUCCESS);
    ASSERT_NE(first, nullptr);
    kes_instance* second = reinterpret_cast<kes_instance*>(1);
    EXPECT_EQ(kes_instance_lock(name.c_str(), &second), KES_NOTFOUND);
    EXPECT_EQ(second, nullptr);
    kes_instance_unlock(first);

    // Given up, it can be taken again.
    kes_instance* again = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &again), KES_SUCCESS);
    kes_instance_unlock(again);
}

TEST(KesInstanceLock, TheExecutablesOwnLockIsTakenWithoutAName) {
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(nullptr, &instance), KES_SUCCESS);
    kes_instance* later = nullptr;
    EXPECT_EQ(kes_instance_lock_wait(nullptr, nullptr, &later), KES_NOTFOUND);
    kes_instance_unlock(instance);
    EXPECT_EQ(kes_instance_lock(nullptr, nullptr), KES_INVALIDPARAMETER);
    kes_instance_unlock(nullptr);
}

TEST(KesInstanceServe, WaitsUntilInterruptedOrTheTimeIsUp) {
    const std::string name = lockName("serve");
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    const kes_time none{0, 0};
    EXPECT_EQ(kes_instance_serve(instance, &none, nullptr, nullptr), KES_TIMEDOUT);
    ASSERT_EQ(kes_instance_interrupt(instance), KES_SUCCESS);
    EXPECT_EQ(kes_instance_serve(instance, nullptr, nullptr, nullptr), KES_INTERRUPTED);
    EXPECT_EQ(kes_instance_serve(instance, &none, nullptr, nullptr), KES_INTERRUPTED);
    kes_instance_unlock(instance);
    EXPECT_EQ(kes_instance_serve(nullptr, &none, nullptr, nullptr), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_instance_interrupt(nullptr), KES_INVALIDPARAMETER);
}

// ---- a second process --------------------------------------------------

// A top-level window of this process with the given styles, destroyed with
// the object. (A window with a caption always gets an extended style of
// its own: the toolkit's hidden helpers are pop-ups.)
class Window {
public:
    Window(DWORD extendedStyle, DWORD style) {
        m_window = CreateWindowExW(extendedStyle, L"STATIC", L"Qelvane test", style, 0, 0, 200, 100,
                                   nullptr, nullptr, nullptr, nullptr);
    }
    ~Window() {
        if (m_window != nullptr) {
            DestroyWindow(m_window);
        }
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    HWND handle() const { return m_window; }

private:
    HWND m_window;
};

// Handles this thread's window messages until no more are waiting.
void handleMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Runs this program again to take the lock `name`, handling this thread's
// window messages while it runs (it restores a window of ours); its exit
// code, the lock's result.
DWORD takeLockInAnotherProcess(const std::string& name) {
    wchar_t program[MAX_PATH];
    EXPECT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    std::wstring command = L"\"" + std::wstring(program) + L"\" --take-lock=";
    command.append(name.begin(), name.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "the second process did not start: " << GetLastError();
        return 0xFFFFFFFFu;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD waited =
            MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, k_childBound, QS_ALLINPUT);
        handleMessages();
        if (waited != WAIT_OBJECT_0 + 1 || GetTickCount() - start > k_childBound) {
            break;
        }
    }
    DWORD code = 0xFFFFFFFFu;
    if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the second process did not end";
        TerminateProcess(process.hProcess, 1);
    } else {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // What it did to our windows arrives as messages.
    handleMessages();
    return code;
}

TEST(KesInstanceSecondProcess, RestoresTheFirstsMinimisedWindowAndEndsWithAlready) {
    const std::string name = lockName("raise");
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    // A helper window of the toolkit's kind (no extended style) and a tool
    // window, made later, come first and are passed over.
    Window main(WS_EX_APPWINDOW, WS_OVERLAPPEDWINDOW);
    Window helper(0, WS_POPUP);
    Window tool(WS_EX_TOOLWINDOW, WS_OVERLAPPEDWINDOW);
    ASSERT_NE(main.handle(), nullptr) << "no window (no display?)";
    ASSERT_EQ(GetWindowLongPtrW(helper.handle(), GWL_EXSTYLE), 0);
    ShowWindow(main.handle(), SW_SHOWMINIMIZED);
    handleMessages();
    ASSERT_TRUE(IsIconic(main.handle()));

    EXPECT_EQ(takeLockInAnotherProcess(name), static_cast<DWORD>(KES_ALREADY));
    EXPECT_FALSE(IsIconic(main.handle())) << "the window was not restored";
    kes_instance_unlock(instance);
}

TEST(KesInstanceSecondProcess, FindsNoWindowWhenTheFirstHasOnlyHelpersAndToolWindows) {
    const std::string name = lockName("no-window");
    kes_instance* instance = nullptr;
    ASSERT_EQ(kes_instance_lock(name.c_str(), &instance), KES_SUCCESS);
    Window helper(0, WS_POPUP);
    Window tool(WS_EX_TOOLWINDOW | WS_EX_APPWINDOW, WS_OVERLAPPEDWINDOW);
    ASSERT_NE(helper.handle(), nullptr) << "no window (no display?)";
    EXPECT_EQ(takeLockInAnotherProcess(name), static_cast<DWORD>(KES_NOTFOUND));
    kes_instance_unlock(instance);
}

TEST(KesInstanceSecondProcess, TakesALockNobodyHolds) {
    EXPECT_EQ(takeLockInAnotherProcess(lockName("free")), static_cast<DWORD>(KES_SUCCESS));
}

} // namespace

// The tests, or the second process's part: take the lock, end with the result.
int main(int argc, char** argv) {
    const char* const option = "--take-lock=";
    if (argc == 2 && std::strncmp(argv[1], option, std::strlen(option)) == 0) {
        kes_instance* instance = nullptr;
        const kes_result result = kes_instance_lock(argv[1] + std::strlen(option), &instance);
        kes_instance_unlock(instance);
        return static_cast<int>(result);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
