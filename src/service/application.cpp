#include "service/application.h"

#include "instance/class_archive.h"
#include "instance/instance.h"
#include "jvm/jvm_host.h"
#include "log/log.h"
#include "platform/os_console.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// The application's life, guarded by g_life_lock; every change is announced
// through g_life_changed. Never destroyed: a process that ends without
// waiting (a timeout, the application's own exit) may leave threads that
// still use them.
static std::mutex& g_life_lock = *new std::mutex;
static std::condition_variable& g_life_changed = *new std::condition_variable;
static bool g_start_running = false;
static bool g_start_returned = false;
static int g_stop_requests = 0;
static bool g_stopping = false; // a thread is calling the application's stop()
static bool g_cleanup_done = false;
static bool g_cleanup_abandoned = false; // the clean-up limit ran out
static int g_start_result = START_RETURNED;

// How the mode tells the outside that the application has ended, when the
// process ends without the normal road; null when nothing is to be told.
static std::atomic<void (*)(int)> g_report_end{nullptr};

enum { CLEANUP_SECONDS = 30, STOP_RETURN_GRACE_SECONDS = 3 };

void on_application_end(void (*report)(int exit_code))
{
    g_report_end.store(report);
}

void end_application(int exit_code)
{
    // The report is the last thing the process does: a service may be ended
    // at any moment after it.
    close_log();
    void (*report)(int) = g_report_end.load();
    if (report != nullptr)
        report(exit_code);
    end_process_now(exit_code);
}

// Ends the process when start() has not returned within seconds.
static void watch_stop_timeout(int seconds)
{
    {
        std::unique_lock<std::mutex> hold(g_life_lock);
        if (g_life_changed.wait_for(hold, std::chrono::seconds(seconds), [] { return g_start_returned; }))
            return;
    }
    log_format("The application did not stop within %d seconds of the stop request: the process ends without "
               "waiting for it",
               seconds);
    end_application(APPLICATION_STOP_TIMEOUT);
}

// The stopping thread: calls stop(), detached from the VM when it returns.
// When stop() cannot be called or ends with an exception while start() still
// runs, start() is waited for as after a stop timeout: ZR_STOP_TIMEOUT when
// set (its watch runs already), else the clean-up limit.
static void call_stop()
{
    // Created by a thread that blocks the stop signals (the console's watch).
    os_begin_application_thread();
    bool called = invoke_stop();
    std::lock_guard<std::mutex> hold(g_life_lock);
    g_stopping = false;
    g_life_changed.notify_all();
    if (!called && !g_start_returned && g_launch.stop_timeout == 0)
        std::thread(watch_stop_timeout, static_cast<int>(CLEANUP_SECONDS)).detach();
}

int request_stop(void (*announce)())
{
    std::lock_guard<std::mutex> hold(g_life_lock);
    if (++g_stop_requests > 1)
        return STOP_REQUEST_REPEATED;
    if (g_start_returned)
        return STOP_REQUEST_LATE;
    if (announce != nullptr)
        announce();
    // stop() runs on a thread of its own, so that the caller (the SCM's
    // control handler, the console's watch) is free for the next request.
    if (g_start_running) {
        g_stopping = true;
        std::thread(call_stop).detach();
    }
    if (g_launch.stop_timeout > 0)
        std::thread(watch_stop_timeout, g_launch.stop_timeout).detach();
    return STOP_REQUEST_TAKEN;
}

// Returns true when start() may run, after announcing it; false when a stop
// request came first.
static bool begin_start(void (*announce)())
{
    std::lock_guard<std::mutex> hold(g_life_lock);
    g_start_running = g_stop_requests == 0;
    if (g_start_running && announce != nullptr)
        announce();
    return g_start_running;
}

// From here on stop requests are late; a stop() under way goes on.
static void end_start(int result)
{
    std::lock_guard<std::mutex> hold(g_life_lock);
    g_start_result = result;
    g_start_returned = true;
    g_life_changed.notify_all();
}

int run_start(void (*announce)())
{
    int result = START_RETURNED;
    if (begin_start(announce)) {
        log_line("Invoking main");
        result = invoke_start();
    } else {
        log_line("Stop requested before the application started: start() is not called");
    }
    end_start(result);
    return result;
}

// Waits until no thread is calling stop(): the VM must not be destroyed
// under it. Says so when that takes more than a few seconds.
static void wait_for_stop_to_return()
{
    std::unique_lock<std::mutex> hold(g_life_lock);
    if (g_life_changed.wait_for(hold, std::chrono::seconds(STOP_RETURN_GRACE_SECONDS), [] { return !g_stopping; }))
        return;
    hold.unlock();
    log_line("Waiting for stop() to return before destroying the JVM");
    hold.lock();
    g_life_changed.wait(hold, [] { return !g_stopping; });
}

bool application_started()
{
    std::lock_guard<std::mutex> hold(g_life_lock);
    return g_start_running;
}

// Whether start() was invoked and returned normally: the application ran,
// and ended as it ends by itself or on a stop request.
static bool application_ran()
{
    std::lock_guard<std::mutex> hold(g_life_lock);
    return g_start_running && g_start_result == START_RETURNED;
}

bool release_application()
{
    wait_for_stop_to_return();
    bool destroyed = destroy_jvm();
    finish_class_archive(destroyed, application_ran());
    close_log();
    std::lock_guard<std::mutex> hold(g_life_lock);
    g_cleanup_done = true;
    g_life_changed.notify_all();
    return !g_cleanup_abandoned;
}

void end_after_failed_destruction()
{
    // Without an archive to write, the VM's giving up is a failure of its
    // own, which it ends its own way (with a core dump where configured).
    if (!class_archive_dumping())
        return;
    log_line("The Java VM gave up while it was destroyed, after the application had ended");
    fail_class_archive("the VM gave up while writing it, for the reason it gives above");
    int result;
    {
        std::lock_guard<std::mutex> hold(g_life_lock);
        result = g_start_result;
    }
    end_application(application_exit_code(result));
}

void wait_for_cleanup()
{
    std::unique_lock<std::mutex> hold(g_life_lock);
    g_life_changed.wait(hold, [] { return g_start_returned; });
    if (g_life_changed.wait_for(hold, std::chrono::seconds(CLEANUP_SECONDS), [] { return g_cleanup_done; }))
        return;
    g_cleanup_abandoned = true;
    hold.unlock();
    log_line("The JVM was not destroyed within 30 seconds after the application ended: the process ends "
             "without waiting for it");
    end_application(APPLICATION_CLEANUP_TIMEOUT);
}

int application_exit_code(int start_result)
{
    switch (start_result) {
    case START_NO_CLASS:
        return APPLICATION_NO_CLASS;
    case START_NO_METHOD:
        return APPLICATION_NO_START;
    case START_THREW:
        return APPLICATION_START_THREW;
    case START_RETURNED:
        return 0;
    default:
        return -1;
    }
}
