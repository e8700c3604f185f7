#include "log/captured_output.h"

#include "log/log.h"
#include "platform/os_console.h"
#include "platform/os_errors.h"
#include "platform/os_files.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

// The pipe's buffer: the writers wait only when the drain is this far
// behind. The drain reads into a buffer as large, which also holds the
// unfinished line until its end comes.
enum { PIPE_BUFFER_BYTES = 1 << 20, DRAIN_BUFFER_BYTES = 1 << 20, DRAIN_END_SECONDS = 10 };

// The capture's state, guarded by lock, with drained_changed announcing the
// drain's end. The rolling file belongs to the draining thread until it has
// drained, then to whoever closes it. Never destroyed: the process may end
// while the thread still runs.
struct capture_room {
    std::mutex lock;
    std::condition_variable drained_changed;
    bool capturing = false;
    bool drained = false;
    rolling_file output;
    char drain[DRAIN_BUFFER_BYTES];
};
static capture_room& g_capture = *new capture_room();
static thread_local bool g_on_drain_thread = false;

// Logs what the file could not do, once.
static void say_output_news()
{
    if (g_capture.output.news[0] == '\0')
        return;
    log_line(g_capture.output.news);
    g_capture.output.news[0] = '\0';
}

// Writes drained bytes; what the file could not do is logged.
static void write_output(const char* data, size_t length)
{
    rolling_write(&g_capture.output, data, length);
    say_output_news();
}

// The index just behind the last line end of data, 0 when there is none.
static size_t end_of_whole_lines(const char* data, size_t length)
{
    for (size_t at = length; at > 0; --at)
        if (data[at - 1] == '\n')
            return at;
    return 0;
}

// Drains the pipe into the file, whole lines as they come; an unfinished
// line waits for its end in the buffer (and is written as it is when it
// fills the buffer), until the capture ends.
static void drain()
{
    g_on_drain_thread = true;
    size_t pending = 0;
    for (;;) {
        long got = os_read_captured_output(g_capture.drain + pending, sizeof g_capture.drain - pending);
        if (got < 0)
            log_format("Cannot read the captured standard output and error: %lu", os_last_error());
        if (got <= 0)
            break;
        size_t filled = pending + static_cast<size_t>(got);
        size_t whole = end_of_whole_lines(g_capture.drain, filled);
        if (whole == 0 && filled == sizeof g_capture.drain)
            whole = filled;
        write_output(g_capture.drain, whole);
        pending = filled - whole;
        memmove(g_capture.drain, g_capture.drain + whole, pending);
    }
    write_output(g_capture.drain, pending);
    std::lock_guard<std::mutex> hold(g_capture.lock);
    g_capture.drained = true;
    g_capture.drained_changed.notify_all();
}

int begin_output_capture(const char* stem, rolling_limits limits)
{
    int opened = rolling_open(&g_capture.output, stem, "output", limits);
    if (opened == ROLLING_NOT_OPENED) {
        log_format("Cannot open the captured output '%s.txt': %lu", stem, os_last_error());
        return -1;
    }
    say_output_news();
    os_error error = os_capture_std_streams(PIPE_BUFFER_BYTES);
    if (!error.ok()) {
        log_format("Cannot capture standard output and error: %s() failed: %lu", error.call, error.code);
        rolling_close(&g_capture.output);
        return -1;
    }
    if (opened == ROLLING_APPENDED) {
        std::string line = std::string(SEPARATOR_LINE) + OS_LINE_END;
        write_output(line.data(), line.size());
    }
    std::lock_guard<std::mutex> hold(g_capture.lock);
    g_capture.capturing = true;
    std::thread(drain).detach();
    return 0;
}

void end_output_capture()
{
    std::unique_lock<std::mutex> hold(g_capture.lock);
    if (!g_capture.capturing)
        return;
    fflush(stdout);
    fflush(stderr);
    os_wake_output_reader();
    if (!g_capture.drained_changed.wait_for(hold, std::chrono::seconds(DRAIN_END_SECONDS), [] { return g_capture.drained; })) {
        hold.unlock();
        log_format("The captured output was not written within %d seconds: what is left of it is lost",
                   static_cast<int>(DRAIN_END_SECONDS));
        return;
    }
    rolling_close(&g_capture.output);
}

bool on_output_capture_thread()
{
    return g_on_drain_thread;
}
