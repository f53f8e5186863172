// map_timer: how long a program takes from its start to its window on the
// screen. It listens for the X server's map events of top-level windows
// (SubstructureNotify on the root window) before it starts the program, so
// that no event is missed and nothing is polled, then forks and executes the
// program and waits for the map event of a top-level window whose title
// (_NET_WM_NAME, else WM_NAME) is the given one. A TITLE ending in "*" matches
// every title that starts with what comes before it ("*" alone: any window
// with a title), for programs whose title tells their state.
//
//   map_timer [--close | --kill] [--timeout SECONDS] TITLE PROGRAM [ARGUMENTS...]
//
// Prints "map_us=N pid=P": microseconds from just before the fork to the
// event's arrival, and the program's process id. With --close the program is
// then sent SIGTERM and waited for (SIGKILL after 10 s), and " exit=S"
// follows (its exit status, 128 + signal when killed). --kill is --close
// with SIGKILL at once, for programs that hold SIGTERM behind a box of
// their own. Without either the line
// is flushed at once and the timer stays until the program ends (whoever
// measures it ends it), so that the program keeps a parent that reaps it;
// the program's exit status is then the timer's.
// Exit status otherwise: 0 measured; 1 bad use or no display; 2 the program
// ended first; 3 no such window within the time (default 30 s; the program
// is killed).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int usage() {
    std::fputs("usage: map_timer [--close | --kill] [--timeout SECONDS] TITLE PROGRAM "
               "[ARGUMENTS...]\n",
               stderr);
    return 1;
}

// The window's title: _NET_WM_NAME (UTF-8) when it has one, else WM_NAME.
std::string titleOf(Display* display, Window window, Atom netWmName, Atom utf8) {
    std::string title;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data != nullptr) {
        if (type == utf8 && format == 8) {
            title.assign(reinterpret_cast<const char*>(data), count);
        }
        XFree(data);
        if (!title.empty()) {
            return title;
        }
    }
    XTextProperty text{};
    if (XGetWMName(display, window, &text) != 0 && text.value != nullptr) {
        if (text.format == 8) {
            title.assign(reinterpret_cast<const char*>(text.value), text.nitems);
        }
        XFree(text.value);
    }
    return title;
}

// Waits for `pid` at most `ms`; its exit status (128 + signal), or -1.
int reap(pid_t pid, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 || Clock::now() >= end) {
            return -1;
        }
        poll(nullptr, 0, 5);
    }
}

int ignoreErrors(Display*, XErrorEvent*) {
    return 0; // a window that went away before its title was read
}

} // namespace

int main(int argc, char** argv) {
    bool close = false;
    bool killAtOnce = false;
    long timeoutSeconds = 30;
    int at = 1;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at) {
        if (std::strcmp(argv[at], "--close") == 0) {
            close = true;
        } else if (std::strcmp(argv[at], "--kill") == 0) {
            close = true;
            killAtOnce = true;
        } else if (std::strcmp(argv[at], "--timeout") == 0 && at + 1 < argc) {
            char* end = nullptr;
            timeoutSeconds = std::strtol(argv[++at], &end, 10);
            if (*end != '\0' || timeoutSeconds <= 0 || timeoutSeconds > 3600) {
                return usage();
            }
        } else {
            return usage();
        }
    }
    if (argc - at < 2) {
        return usage();
    }
    const std::string wanted = argv[at];
    char** program = argv + at + 1;

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("map_timer: cannot open the display\n", stderr);
        return 1;
    }
    XSetErrorHandler(&ignoreErrors);
    const int fd = ConnectionNumber(display);
    fcntl(fd, F_SETFD, FD_CLOEXEC); // the program makes its own connection
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("map_timer: fork");
        return 1;
    }
    if (pid == 0) {
        execvp(program[0], program);
        std::perror("map_timer: exec");
        _exit(127);
    }

    const auto deadline = start + std::chrono::seconds(timeoutSeconds);
    long long mapUs = -1;
    while (mapUs < 0) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify) {
                continue;
            }
            const auto arrived = Clock::now();
            const std::string title = titleOf(display, event.xmap.window, netWmName, utf8);
            const bool prefix = !wanted.empty() && wanted.back() == '*';
            const bool matches =
                prefix ? !title.empty() &&
                             title.compare(0, wanted.size() - 1, wanted, 0, wanted.size() - 1) == 0
                       : title == wanted;
            if (matches) {
                mapUs =
                    std::chrono::duration_cast<std::chrono::microseconds>(arrived - start).count();
                break;
            }
        }
        if (mapUs >= 0) {
            break;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "map_timer: %s ended before its window was mapped\n", program[0]);
            return 2;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            std::fprintf(stderr, "map_timer: no window titled \"%s\" within %ld s\n",
                         wanted.c_str(), timeoutSeconds);
            kill(pid, SIGKILL);
            reap(pid, 5000);
            return 3;
        }
        // Wakes for the next event, and now and then to see whether the
        // program is still there.
        pollfd entry{fd, POLLIN, 0};
        poll(&entry, 1, 50);
    }

    std::printf("map_us=%lld pid=%d", mapUs, static_cast<int>(pid));
    if (close) {
        kill(pid, killAtOnce ? SIGKILL : SIGTERM);
        int status = reap(pid, 10000);
        if (status < 0) {
            kill(pid, SIGKILL);
            status = reap(pid, 5000);
        }
        std::printf(" exit=%d", status);
    }
    std::printf("\n");
    std::fflush(stdout);
    XCloseDisplay(display);
    if (close) {
        return 0;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
