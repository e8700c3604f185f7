#include "platform/os_console.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

// The reading end of the capture's pipe, and a pipe whose only byte wakes
// the reader. Set by os_capture_std_streams, then used by the reading thread;
// the wake-up by any thread.
static int g_capture_read = -1;
static int g_wake_pipe[2] = {-1, -1};

os_error os_capture_std_streams(unsigned long buffer_bytes)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return os_failed("pipe2");
    if (pipe2(g_wake_pipe, O_CLOEXEC) != 0) {
        os_error error = os_failed("pipe2");
        close(ends[0]);
        close(ends[1]);
        return error;
    }
    // As large as the user may make it; the default is taken otherwise.
    fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(buffer_bytes));
    fflush(stdout);
    fflush(stderr);
    // Standard output as it was, put back when standard error cannot follow
    // it: never left in a pipe that no one reads.
    int saved_output = dup(1);
    os_error error;
    if (dup2(ends[1], 1) < 0 || dup2(ends[1], 2) < 0)
        error = os_failed("dup2");
    close(ends[1]);
    if (error.ok()) {
        g_capture_read = ends[0];
    } else {
        if (saved_output >= 0)
            dup2(saved_output, 1);
        close(ends[0]);
        close(g_wake_pipe[0]);
        close(g_wake_pipe[1]);
        g_wake_pipe[0] = g_wake_pipe[1] = -1;
    }
    if (saved_output >= 0)
        close(saved_output);
    return error;
}

long os_read_captured_output(char* buffer, unsigned long capacity)
{
    for (;;) {
        struct pollfd ready[2] = {{g_capture_read, POLLIN, 0}, {g_wake_pipe[0], POLLIN, 0}};
        if (poll(ready, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        // Woken: only what is there, without waiting.
        if (ready[1].revents != 0 && (ready[0].revents & POLLIN) == 0)
            return 0;
        ssize_t got = read(g_capture_read, buffer, capacity);
        if (got < 0 && errno == EINTR)
            continue;
        return static_cast<long>(got);
    }
}

void os_wake_output_reader()
{
    char wake = 1;
    while (write(g_wake_pipe[1], &wake, 1) < 0 && errno == EINTR) {
    }
}

// Set before any other thread exists, only read afterwards. The stop
// signals are those of SIGINT, SIGTERM and SIGHUP that the process did not
// inherit as ignored: one ignored at start (nohup) stays ignored, as under
// the java launcher, whose VM leaves such a signal alone.
static void (*g_on_stop)() = nullptr;
static sigset_t g_stop_signals;
static bool g_any_stop_signal = false;
// Read by the signal handler, on any thread: lock-free, so safe there.
static std::atomic<pthread_t> g_waiter;
static_assert(std::atomic<pthread_t>::is_always_lock_free, "a signal handler reads the waiting thread");

static const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

static void* wait_for_signals(void*)
{
    for (;;) {
        int signal_number = 0;
        if (sigwait(&g_stop_signals, &signal_number) == 0)
            g_on_stop();
    }
    return nullptr;
}

// Runs on a thread that does not block the stop signals and hands the signal
// to the waiting thread, which blocks them and takes it with sigwait.
static void forward_to_waiter(int signal_number)
{
    int saved = errno;
    pthread_kill(g_waiter.load(), signal_number);
    errno = saved;
}

// Once the VM exists: it has left the stop signals alone, as they were
// ignored when it was created. A child process inherits the signal mask of
// the thread that starts it, and an ignored disposition across exec, but not
// a handler: with a handler in place and the signals unblocked on this thread
// (the VM's main thread, whose mask the application's threads inherit), the
// application's children start with the default dispositions and mask, as
// under the java launcher. sigaction and pthread_sigmask cannot fail with
// these arguments.
void os_put_stop_watch_first()
{
    struct sigaction action = {};
    action.sa_handler = forward_to_waiter;
    action.sa_mask = g_stop_signals;
    action.sa_flags = SA_RESTART;
    for (int signal_number : STOP_SIGNALS)
        if (sigismember(&g_stop_signals, signal_number))
            sigaction(signal_number, &action, nullptr);
    os_begin_application_thread();
}

void os_begin_application_thread()
{
    pthread_sigmask(SIG_UNBLOCK, &g_stop_signals, nullptr);
}

int os_watch_stop_requests(void (*on_stop)())
{
    g_on_stop = on_stop;
    sigemptyset(&g_stop_signals);
    for (int signal_number : STOP_SIGNALS) {
        struct sigaction inherited = {};
        sigaction(signal_number, nullptr, &inherited);
        if (inherited.sa_handler != SIG_IGN) {
            sigaddset(&g_stop_signals, signal_number);
            g_any_stop_signal = true;
        }
    }
    if (!g_any_stop_signal)
        return 0;
    // Blocked here, the signals stay blocked in every thread created later,
    // and a stop request waits for sigwait while the VM is being created.
    // Ignored as well, so that the VM installs no handlers of its own for
    // them (they would end the process) and leaves them blocked in its
    // threads; a blocked signal that is ignored still waits for sigwait.
    int error = pthread_sigmask(SIG_BLOCK, &g_stop_signals, nullptr);
    if (error != 0) {
        errno = error;
        return -1;
    }
    for (int signal_number : STOP_SIGNALS)
        if (sigismember(&g_stop_signals, signal_number))
            signal(signal_number, SIG_IGN);
    pthread_t waiter;
    error = pthread_create(&waiter, nullptr, wait_for_signals, nullptr);
    if (error != 0) {
        errno = error;
        return -1;
    }
    g_waiter.store(waiter);
    pthread_detach(waiter);
    return 0;
}

int os_ignore_logoff()
{
    return 0;
}
