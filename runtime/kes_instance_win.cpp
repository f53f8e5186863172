// The instance lock on Windows: a named mutex, named after the executable's
// full path, decides who is the instance. A later start that finds it
// already there looks for the process running the same executable, brings
// that process's main window to the front itself and ends.
#include "kes_instance.h"

#include <windows.h>

#include <psapi.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// The longest object name Windows takes, in UTF-16 units.
constexpr size_t k_name_max = MAX_PATH;
// The extended style bit of a tool window, which is never the main window.
constexpr LONG_PTR k_tool_window = WS_EX_TOOLWINDOW;
static_assert(WS_EX_TOOLWINDOW == 0x80, "the tool-window bit");
// Room for a module path in UTF-16 units, terminator included.
constexpr DWORD k_path_units = 32768;

// A failure of this module as a code: the translated error, except that a
// failure never reads as one of the three results that let a start go on.
kes_result failure_from(DWORD error) {
    const kes_result result = kes_result_from_system(static_cast<uint32_t>(error));
    if (result == KES_SUCCESS || result == KES_ALREADY || result == KES_NOTFOUND) {
        return KES_SYSTEM;
    }
    return result;
}

// UTF-8 to UTF-16 (terminated); false for text that is not UTF-8.
bool to_wide(const char* text, std::wstring* out) {
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (units <= 0) {
        return false;
    }
    out->assign(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, &(*out)[0], units);
    out->resize(static_cast<size_t>(units) - 1);
    return true;
}

// The main module's path of this process (UTF-16).
kes_result own_path(std::wstring* path) {
    std::vector<wchar_t> buffer(k_path_units);
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), k_path_units);
    if (length == 0) {
        return failure_from(GetLastError());
    }
    if (length >= k_path_units || GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        return KES_TRUNCATED;
    }
    path->assign(buffer.data(), length);
    return KES_SUCCESS;
}

// The ids of all running processes, the buffer grown while it comes back
// full (a full buffer may have cut the list).
std::vector<DWORD> process_ids() {
    std::vector<DWORD> ids(1024);
    for (;;) {
        DWORD bytes = 0;
        const DWORD room = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!EnumProcesses(ids.data(), room, &bytes)) {
            return {};
        }
        if (bytes < room) {
            ids.resize(bytes / sizeof(DWORD));
            return ids;
        }
        ids.resize(ids.size() * 2);
    }
}

// True when process `id` runs the executable at `path` (compared unit for
// unit, letter case counting).
bool runs_executable(DWORD id, const std::wstring& path) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (process == nullptr) {
        return false; // another user's, or gone
    }
    std::vector<wchar_t> buffer(k_path_units);
    const DWORD length = GetModuleFileNameExW(process, nullptr, buffer.data(), k_path_units);
    CloseHandle(process);
    return length > 0 && length < k_path_units && std::wstring(buffer.data(), length) == path;
}

struct window_search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK take_main_window(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<window_search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process) {
        return TRUE;
    }
    // The toolkit's hidden helper windows have no extended style; a tool
    // window is never the main one.
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
    if (style == 0 || (style & k_tool_window) != 0) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

// Brings the main window of the other process running `path` to the front:
// KES_ALREADY when one was found, KES_NOTFOUND otherwise.
kes_result raise_other(const std::wstring& path) {
    const DWORD self = GetCurrentProcessId();
    for (DWORD id : process_ids()) {
        if (id == 0 || id == self || !runs_executable(id, path)) {
            continue;
        }
        window_search search{id, nullptr};
        EnumWindows(&take_main_window, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) {
            continue;
        }
        if (IsIconic(search.found)) {
            ShowWindowAsync(search.found, SW_RESTORE);
        }
        SetForegroundWindow(search.found);
        return KES_ALREADY;
    }
    return KES_NOTFOUND;
}

} // namespace

kes_result kes_instance_executable_path(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return KES_INVALIDPARAMETER;
    }
    buffer[0] = '\0';
    std::wstring path;
    const kes_result result = own_path(&path);
    if (result != KES_SUCCESS) {
        return result;
    }
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return failure_from(GetLastError());
    }
    if (static_cast<size_t>(bytes) > size) {
        return KES_TRUNCATED;
    }
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, buffer, bytes, nullptr, nullptr);
    return KES_SUCCESS;
}

kes_result kes_instance_mutex_name(const char* key, char* buffer, size_t size) {
    if (key == nullptr || buffer == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (size == 0) {
        return KES_TRUNCATED;
    }
    buffer[0] = '\0';
    std::wstring wide;
    if (!to_wide(key, &wide)) {
        return KES_INVALIDPARAMETER;
    }
    const size_t length = std::strlen(key);
    if (wide.size() > k_name_max || length >= size) {
        return KES_TRUNCATED;
    }
    for (size_t i = 0; i < length; ++i) {
        buffer[i] = key[i] == '\\' || key[i] == ':' ? '_' : key[i];
    }
    buffer[length] = '\0';
    return KES_SUCCESS;
}

kes_result kes_instance_where(char* buffer, size_t size) {
    if (buffer == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    char path[QEL_INSTANCE_PATH_MAX];
    const kes_result result = kes_instance_executable_path(path, sizeof path);
    if (result != KES_SUCCESS) {
        if (size > 0) {
            buffer[0] = '\0';
        }
        return result;
    }
    return kes_instance_mutex_name(path, buffer, size);
}

kes_result kes_instance_lock(const char* name, kes_instance** instance) {
    return kes_instance_lock_wait(name, nullptr, instance);
}

kes_result kes_instance_lock_wait(const char* name, const kes_time* answer_wait,
                                  kes_instance** instance) {
    (void)answer_wait; // nobody answers: this start raises the window itself
    if (instance == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    *instance = nullptr;
    std::wstring executable;
    kes_result result = own_path(&executable);
    if (result != KES_SUCCESS) {
        return result;
    }
    char key[QEL_INSTANCE_PATH_MAX];
    if (name == nullptr) {
        result = kes_instance_executable_path(key, sizeof key);
        if (result != KES_SUCCESS) {
            return result == KES_ALREADY || result == KES_NOTFOUND ? KES_SYSTEM : result;
        }
        name = key;
    }
    char mutex_name[KES_INSTANCE_MUTEX_NAME_SIZE];
    result = kes_instance_mutex_name(name, mutex_name, sizeof mutex_name);
    std::wstring wide_name;
    if (result == KES_SUCCESS && !to_wide(mutex_name, &wide_name)) {
        result = KES_INVALIDPARAMETER;
    }
    if (result != KES_SUCCESS) {
        return result;
    }

    HANDLE mutex = CreateMutexW(nullptr, FALSE, wide_name.c_str());
    if (mutex == nullptr) {
        return failure_from(GetLastError());
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return raise_other(executable);
    }
    HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (wake == nullptr) {
        result = failure_from(GetLastError());
        CloseHandle(mutex);
        return result;
    }
    kes_instance* made = new (std::nothrow) kes_instance{mutex, wake};
    if (made == nullptr) {
        CloseHandle(wake);
        CloseHandle(mutex);
        return KES_NOMEMORY;
    }
    *instance = made;
    return KES_SUCCESS;
}

kes_result kes_instance_serve(kes_instance* instance, const kes_time* wait,
                              kes_instance_raise raise, void* context) {
    (void)raise;
    (void)context;
    if (instance == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    DWORD ms = INFINITE;
    if (wait != nullptr) {
        const int64_t limit = INT64_C(0x7FFFFFFE);
        const int64_t span = wait->seconds < 0 || wait->microseconds < 0
                                 ? 0
                                 : (wait->seconds > limit / 1000
                                        ? limit
                                        : wait->seconds * 1000 + (wait->microseconds + 999) / 1000);
        ms = static_cast<DWORD>(span < limit ? span : limit);
    }
    const DWORD waited = WaitForSingleObject(static_cast<HANDLE>(instance->wake), ms);
    if (waited == WAIT_OBJECT_0) {
        return KES_INTERRUPTED;
    }
    if (waited == WAIT_TIMEOUT) {
        return KES_TIMEDOUT;
    }
    return failure_from(GetLastError());
}

kes_result kes_instance_interrupt(kes_instance* instance) {
    if (instance == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (!SetEvent(static_cast<HANDLE>(instance->wake))) {
        return failure_from(GetLastError());
    }
    return KES_SUCCESS;
}

void kes_instance_unlock(kes_instance* instance) {
    if (instance == nullptr) {
        return;
    }
    CloseHandle(static_cast<HANDLE>(instance->wake));
    CloseHandle(static_cast<HANDLE>(instance->mutex));
    delete instance;
}
