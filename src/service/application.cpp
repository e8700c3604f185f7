#include "service/application.h"

#include "instance/instance.h"
#include "instance/jvm_options.h"
#include "jvm/jvm_host.h"
#include "log/log.h"
#include "platform/os_process.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
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

// Seconds from a stop request to the end of the process when start() has
// not returned by then; 0 waits as long as start() takes.
static std::atomic<int> g_stop_timeout{0};

// How the mode tells the outside that the application has ended, when the
// process ends without the normal road; null when nothing is to be told.
static std::atomic<void (*)(int)> g_report_end{nullptr};

enum { CLEANUP_SECONDS = 30, MOST_STOP_TIMEOUT = 86400, STOP_RETURN_GRACE_SECONDS = 3 };

void on_application_end(void (*report)(int exit_code))
{
    g_report_end.store(report);
}

// Reports the end and ends the process at once, with exit_code.
[[noreturn]] static void end_application(int exit_code)
{
    void (*report)(int) = g_report_end.load();
    if (report != nullptr)
        report(exit_code);
    end_process_now(exit_code);
}

// The stopping thread: calls stop(), detached from the VM when it returns.
static void call_stop()
{
    invoke_stop();
    std::lock_guard<std::mutex> hold(g_life_lock);
    g_stopping = false;
    g_life_changed.notify_all();
}

// Ends the process when start() has not returned within the stop timeout.
static void watch_stop_timeout()
{
    int seconds = g_stop_timeout.load();
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
    if (g_stop_timeout.load() > 0)
        std::thread(watch_stop_timeout).detach();
    return STOP_REQUEST_TAKEN;
}

// Returns true when start() may run, false when a stop request came first.
static bool begin_start()
{
    std::lock_guard<std::mutex> hold(g_life_lock);
    g_start_running = g_stop_requests == 0;
    return g_start_running;
}

// From here on stop requests are late; a stop() under way goes on.
static void end_start()
{
    std::lock_guard<std::mutex> hold(g_life_lock);
    g_start_returned = true;
    g_life_changed.notify_all();
}

int run_start()
{
    int result = START_RETURNED;
    if (begin_start()) {
        log_line("Invoking main");
        result = invoke_start();
    } else {
        log_line("Stop requested before the application started: start() is not called");
    }
    end_start();
    // From here on the run only cleans up: a run of the same instance that
    // starts now (once the service is reported stopped) waits for it.
    mark_instance_closing();
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

void release_application()
{
    wait_for_stop_to_return();
    release_all();
    std::lock_guard<std::mutex> hold(g_life_lock);
    g_cleanup_done = true;
    g_life_changed.notify_all();
}

void wait_for_cleanup()
{
    std::unique_lock<std::mutex> hold(g_life_lock);
    g_life_changed.wait(hold, [] { return g_start_returned; });
    if (g_life_changed.wait_for(hold, std::chrono::seconds(CLEANUP_SECONDS), [] { return g_cleanup_done; }))
        return;
    hold.unlock();
    log_line("The JVM was not destroyed within 30 seconds after the application ended: the process ends "
             "without waiting for it");
    end_process_now(APPLICATION_CLEANUP_TIMEOUT);
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
    default:
        return 0;
    }
}

// Sets the variable named before the first '=' of assignment to the rest,
// replacing its whole value.
static void apply_assignment(const char* assignment)
{
    const char* equals = strchr(assignment, '=');
    if (equals == nullptr)
        return;
    char name[PATH_CAPACITY];
    size_t length = static_cast<size_t>(equals - assignment);
    if (length >= sizeof name)
        return;
    memcpy(name, assignment, length);
    name[length] = '\0';
    os_setenv(name, equals + 1);
}

// The seconds of a stop timeout text: a whole number from 1 to 86400, only
// digits. Returns -1 for any other text.
static int parse_stop_timeout(const char* text)
{
    int seconds = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9')
            return -1;
        seconds = seconds * 10 + (*at - '0');
        if (seconds > MOST_STOP_TIMEOUT)
            return -1;
    }
    return seconds >= 1 ? seconds : -1;
}

// Takes the stop timeout from ZR_STOP_TIMEOUT, when set; a value that is not
// a whole number of seconds from 1 to 86400 ends the process.
static void read_stop_timeout()
{
    const char* value = os_getenv("ZR_STOP_TIMEOUT");
    if (value == nullptr)
        return;
    int seconds = parse_stop_timeout(value);
    if (seconds < 0) {
        log_format("Invalid ZR_STOP_TIMEOUT '%s': a whole number of seconds from 1 to 86400 is expected", value);
        terminate(-1);
    }
    g_stop_timeout.store(seconds);
}

void prepare_instance(const char* instance_name)
{
    int result = build_paths(instance_name);
    if (result != 0) {
        log_format("build_paths() failed: %d", result);
        terminate(-1);
    }
    read_stop_timeout();
    for (const char* assignment : g_search_assignments) {
        if (assignment[0] == '\0')
            continue;
        log_format("JVM '%s'", assignment);
        apply_assignment(assignment);
    }
    log_format("JVM '%s'", g_class_path_option);
    for (int i = 1; i < g_jvm_option_count; ++i)
        log_format("JVM '%s'", g_jvm_options[i]);
}

// The VM ends the process: during its creation that is a failed creation,
// afterwards the application's end.
static void vm_ends_process(int code, bool created)
{
    if (!created) {
        log_line("Create JVM failed!");
        terminate(-1);
    }
    log_format("The application ended the process with exit code %d", code);
    end_application(code == 0 ? 0 : APPLICATION_EXITED);
}

void create_jvm_or_terminate()
{
    on_vm_exit(vm_ends_process);
    log_line("Starting JVM");
    if (!create_jvm(g_java_home, g_jvm_options, g_jvm_option_count)) {
        log_line("Create JVM failed!");
        terminate(-1);
    }
}
