#include "service/service.h"

#include "instance/instance.h"
#include "log/log.h"
#include "platform/os_console.h"
#include "platform/os_notify.h"
#include "platform/os_process.h"
#include "service/application.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

static int g_start_result = 0;
// Set by the application's thread once its VM exists.
static std::atomic<bool> g_vm_created{false};
static std::atomic<bool> g_notify_failed{false};

// A failure of the notification made before the instance's log is open,
// held by the main thread (the only one until then) for the log.
static char g_early_notify_failure[LONG_TEXT_CAPACITY];
static bool g_log_prepared = false;

// Tells a service manager that started the run (systemd, Type=notify) what
// the run is doing, waiting for room in its socket when wait says so; the
// first failure is logged, once the log is open when it came before.
static void notify(const char* state, bool wait = false)
{
    const char* why = "";
    int result = os_notify_service_manager(state, wait, &why);
    if (result >= 0 || g_notify_failed.exchange(true))
        return;
    char message[LONG_TEXT_CAPACITY];
    int length = 0;
    if (result == -2)
        length = snprintf(message, sizeof message, "Cannot notify the service manager: NOTIFY_SOCKET '%s' %s, refused",
                 getenv("NOTIFY_SOCKET"), why);
    else
        length = snprintf(message, sizeof message, "Cannot notify the service manager: %s() failed: %lu", why,
                          os_last_error());
    if (length >= static_cast<int>(sizeof message))
        message[0] = '\0'; // as the log does with a message too long for a line
    if (g_log_prepared)
        log_line(message);
    else
        bounded_copy(g_early_notify_failure, sizeof g_early_notify_failure, message);
}

static void notify_ready()
{
    notify("READY=1\nSTATUS=Running: start() invoked", true);
}

static void notify_stopping()
{
    notify("STOPPING=1\nSTATUS=Stopping: stop() invoked");
}

// The first request stops the application; a second one, while the first
// is under way or the clean-up runs, ends the process at once, as Ctrl+C
// pressed again does in any console program.
// Before the VM exists there is nothing to stop: the preparation or the VM's
// creation may wait on a file or the network, and the request ends the run.
static void stop_from_console()
{
    if (!g_vm_created.load()) {
        log_line("Stop requested before the JVM was created: the process ends");
        end_process_now(0);
    }
    if (request_stop(notify_stopping) != STOP_REQUEST_REPEATED)
        return;
    log_line("Stop requested again: the process ends without waiting for the application");
    end_process_now(APPLICATION_STOPPED_AGAIN);
}

// The application's own thread: it creates the VM, runs start() and, being
// the thread that created the VM, destroys it again.
static void run_application()
{
    notify("STATUS=Creating the Java VM");
    create_jvm_or_terminate();
    g_vm_created.store(true);
    // The VM may have put a console handler of its own before ours.
    os_put_stop_watch_first();
    g_start_result = run_start(notify_ready);
    notify("STOPPING=1\nSTATUS=Cleaning up: waiting for stop(), destroying the Java VM");
    release_application();
}

int run_console(const char* instance_name)
{
    if (check_instance_name(instance_name) != 0)
        return 1;
    // Before any other thread exists: on POSIX the stop signals are blocked
    // for every thread created from here on.
    if (os_watch_stop_requests(stop_from_console) != 0) {
        log_format("Cannot watch for Ctrl+C: %lu", os_last_error());
        terminate(-1);
    }
    log_echo_to_console(true);
    notify("STATUS=Preparing the instance");
    prepare_instance(instance_name);
    g_log_prepared = true;
    if (g_early_notify_failure[0] != '\0')
        log_line(g_early_notify_failure);
    std::thread application(run_application);
    wait_for_cleanup();
    application.join();
    return application_exit_code(g_start_result);
}
