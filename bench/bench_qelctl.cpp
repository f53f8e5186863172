// qelctl status from exec to exit against the qel-manager program (on a free
// port, its state file in the scratch directory), beside the machine's floor
// for starting any process (/bin/true), qelctl's own start without the
// manager (qelctl --version: loading, linking, parsing) and the same
// protocol exchange in this process (CONNECT, info, options, state,
// DISCONNECT), the runs of the four interleaved. Prints one line per measure:
//   <name> runs=N median_us=.. p99_us=.. min_us=.. max_us=..
//   bench_qelctl [--runs N]
#include "manager_process.h"
#include "qelctl_session.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef QELCTL_BINARY
#error "QELCTL_BINARY must name the qelctl program"
#endif

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration span) {
    return std::chrono::duration<double, std::micro>(span).count();
}

// Forks and executes the program with its output going to /dev/null, and
// waits for it; the time from before the spawn to after the wait, or a
// negative time when it did not end with status 0.
double timedRun(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    int status = -1;
    if (spawned == 0) {
        waitpid(pid, &status, 0);
    }
    const Clock::time_point end = Clock::now();
    posix_spawn_file_actions_destroy(&actions);
    const bool ok = spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return ok ? microseconds(end - start) : -1.0;
}

double inProcess(kes_env* env, uint16_t port) {
    const Clock::time_point start = Clock::now();
    bool ok = false;
    {
        qelctl::Session session(env, port, nullptr);
        ok = session.open().ok();
        session.close();
    }
    const Clock::time_point end = Clock::now();
    return ok ? microseconds(end - start) : -1.0;
}

void summarise(const char* name, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) {
        std::printf("%s runs=0\n", name);
        return;
    }
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    // The nearest-rank 99th percentile.
    const size_t rank = (99 * n + 99) / 100;
    std::printf("%s runs=%zu median_us=%.0f p99_us=%.0f min_us=%.0f max_us=%.0f\n", name, n, median,
                values[(rank > 0 ? rank : 1) - 1], values.front(), values.back());
}

} // namespace

int main(int argc, char** argv) {
    int runs = 200;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::atoi(argv[i + 1]);
        }
    }
    if (runs < 1) {
        std::fprintf(stderr, "bench_qelctl: --runs needs a number above 0\n");
        return 2;
    }
    qeltest::ScratchDir dir;
    qeltest::ManagerProcess manager(dir);
    if (!manager.waitReady()) {
        std::fprintf(stderr, "bench_qelctl: qel-manager did not start\n%s", manager.log().c_str());
        return 1;
    }
    kes_env* env = nullptr;
    if (kes_env_acquire(&env) != KES_SUCCESS) {
        return 1;
    }
    const std::string port = std::to_string(manager.port());
    const std::vector<std::string> status{QELCTL_BINARY, "--port", port, "status"};
    const std::vector<std::string> floor{"/bin/true"};
    const std::vector<std::string> version{QELCTL_BINARY, "--version"};
    std::vector<double> qelctl;
    std::vector<double> truth;
    std::vector<double> start;
    std::vector<double> exchange;
    int failures = 0;
    // One unmeasured round of each first: the page cache and the manager warm.
    timedRun(status);
    timedRun(floor);
    timedRun(version);
    inProcess(env, manager.port());
    for (int i = 0; i < runs; ++i) {
        const double a = timedRun(status);
        const double b = timedRun(floor);
        const double c = inProcess(env, manager.port());
        const double d = timedRun(version);
        failures += (a < 0) + (b < 0) + (c < 0) + (d < 0);
        if (a >= 0) {
            qelctl.push_back(a);
        }
        if (b >= 0) {
            truth.push_back(b);
        }
        if (c >= 0) {
            exchange.push_back(c);
        }
        if (d >= 0) {
            start.push_back(d);
        }
    }
    kes_env_release(env);
    summarise("qelctl_status", qelctl);
    summarise("bin_true", truth);
    summarise("qelctl_version", start);
    summarise("exchange_in_process", exchange);
    std::printf("failures=%d clients_left=%zu\n", failures, manager.clients());
    return failures == 0 ? 0 : 1;
}
