#include "platform/os_console.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

int os_redirect_std_streams(const char* path, bool append)
{
    int fd = open(path, O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
    if (fd < 0)
        return errno;
    fflush(stdout);
    fflush(stderr);
    int error = (dup2(fd, 1) >= 0 && dup2(fd, 2) >= 0) ? 0 : errno;
    close(fd);
    return error;
}

int os_replace_file(const char* from, const char* to)
{
    if (rename(from, to) == 0)
        return 0;
    return errno == ENOENT ? 1 : -1;
}

static void (*g_on_stop)() = nullptr;
static sigset_t g_stop_signals;

static void* wait_for_signals(void*)
{
    for (;;) {
        int signal_number = 0;
        if (sigwait(&g_stop_signals, &signal_number) == 0)
            g_on_stop();
    }
    return nullptr;
}

// The VM leaves alone the signals that are ignored when it starts.
void os_put_stop_watch_first() {}

int os_watch_stop_requests(void (*on_stop)())
{
    g_on_stop = on_stop;
    sigemptyset(&g_stop_signals);
    sigaddset(&g_stop_signals, SIGINT);
    sigaddset(&g_stop_signals, SIGTERM);
    sigaddset(&g_stop_signals, SIGHUP);
    // Blocked here, the signals stay blocked in every thread created later,
    // the VM's included, and reach only the waiting thread. Ignored as well,
    // so that the VM installs no handlers of its own for them; a blocked
    // signal that is ignored still waits for sigwait.
    int error = pthread_sigmask(SIG_BLOCK, &g_stop_signals, nullptr);
    if (error != 0) {
        errno = error;
        return -1;
    }
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    pthread_t waiter;
    error = pthread_create(&waiter, nullptr, wait_for_signals, nullptr);
    if (error != 0) {
        errno = error;
        return -1;
    }
    pthread_detach(waiter);
    return 0;
}
