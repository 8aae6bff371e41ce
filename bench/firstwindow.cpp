// Times programs from their start to their first shown window: it watches
// the X display's root window for the first top-level window that is mapped,
// then ends the program. Several programs are started in turns, so that a
// change of the machine's load affects them all alike.
//
//   firstwindow RUNS PROGRAM [ARGS...] [-- PROGRAM [ARGS...]]...
//
// One unmeasured round first warms the caches. Prints for each program
//   median_ms=M min_ms=A max_ms=B runs=N
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
const auto kTimeout = std::chrono::seconds(30);

struct Display {
    xcb_connection_t *connection = nullptr;

    bool open()
    {
        connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection))
            return false;
        // Map notifications of the root's children are the top-level windows shown.
        xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);
        return true;
    }
    ~Display() { xcb_disconnect(connection); }

    // True when a pending event is the map of an ordinary top-level window.
    bool takeTopLevelMap()
    {
        bool mapped = false;
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                mapped |= !reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect;
            std::free(event);
        }
        return mapped;
    }

    void waitForEvents(int timeoutMs)
    {
        pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
        poll(&fd, 1, timeoutMs);
    }
};

pid_t spawnQuietly(char **argv)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool exited(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

// Milliseconds from the spawn to the first mapped top-level window; none
// when the program fails to start, exits or shows nothing in time.
std::optional<double> timeOneStart(Display &display, char **argv)
{
    display.takeTopLevelMap(); // forget the previous run's events
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawnQuietly(argv);
    if (pid < 0)
        return std::nullopt;
    std::optional<double> elapsed;
    while (Clock::now() - start < kTimeout && !exited(pid)) {
        display.waitForEvents(100);
        if (display.takeTopLevelMap()) {
            elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            break;
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return elapsed;
}

// Splits "PROGRAM ARGS -- PROGRAM ARGS" into null-terminated argument vectors.
std::vector<std::vector<char *>> commands(int argc, char *argv[])
{
    std::vector<std::vector<char *>> result(1);
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            result.back().push_back(nullptr);
            result.emplace_back();
        } else {
            result.back().push_back(argv[i]);
        }
    }
    result.back().push_back(nullptr);
    return result;
}

void printFigures(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("median_ms=%.1f min_ms=%.1f max_ms=%.1f runs=%zu\n", times[times.size() / 2],
                times.front(), times.back(), times.size());
}

} // namespace

int main(int argc, char *argv[])
{
    const int runs = argc > 2 ? std::atoi(argv[1]) : 0;
    std::vector<std::vector<char *>> programs = commands(argc - 2, argv + 2);
    const bool wellFormed = std::all_of(programs.begin(), programs.end(),
                                        [](const auto &command) { return command.size() > 1; });
    if (runs < 1 || !wellFormed) {
        std::fprintf(stderr, "usage: firstwindow RUNS PROGRAM [ARGS...] [-- PROGRAM [ARGS...]]...\n");
        return 2;
    }
    Display display;
    if (!display.open()) {
        std::fprintf(stderr, "firstwindow: cannot open the X display\n");
        return 1;
    }
    std::vector<std::vector<double>> times(programs.size());
    for (int round = 0; round <= runs; ++round) {
        for (std::size_t p = 0; p < programs.size(); ++p) {
            const std::optional<double> elapsed = timeOneStart(display, programs[p].data());
            if (!elapsed) {
                std::fprintf(stderr, "firstwindow: %s showed no window\n", programs[p][0]);
                return 1;
            }
            if (round > 0)
                times[p].push_back(*elapsed);
        }
    }
    for (const std::vector<double> &programTimes : times)
        printFigures(programTimes);
    return 0;
}
