#include "service/service.h"

#include "instance/instance.h"
#include "log/log.h"
#include "platform/os_console.h"
#include "platform/os_errors.h"
#include "platform/os_notify.h"
#include "platform/os_thread.h"
#include "service/run.h"

#include <atomic>
#include <cstdlib>

static std::atomic<bool> g_notify_failed{false};

// Tells a service manager that started the run (systemd, Type=notify) what
// the run is doing, waiting for room in its socket when wait says so; the
// first failure is logged (one before the log is open is kept for it).
static void notify(const char* state, bool wait = false)
{
    os_error error;
    const char* refusal = "";
    os_notify_result result = os_notify_service_manager(state, wait, &error, &refusal);
    if (result == OS_NOTIFY_SENT || result == OS_NOTIFY_NO_MANAGER || g_notify_failed.exchange(true))
        return;
    if (result == OS_NOTIFY_REFUSED)
        log_format("Cannot notify the service manager: NOTIFY_SOCKET '%s' %s, refused", getenv("NOTIFY_SOCKET"),
                   refusal);
    else
        log_format("Cannot notify the service manager: %s() failed: %lu", error.call, error.code);
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
    run& r = the_run();
    if (current_phase(r) == run_phase::CREATING) {
        log_line("Stop requested before the JVM was created: the process ends");
        end_run_now(r, 0);
    }
    if (request_stop(r) != stop_request::REPEATED)
        return;
    log_line("Stop requested again: the process ends without waiting for the application");
    end_run_now(r, APPLICATION_STOPPED_AGAIN);
}

// The application's own thread: it creates the VM, runs start() and, being
// the thread that created the VM, destroys it again.
static void run_application(run& r)
{
    notify("STATUS=Creating the Java VM");
    create_vm(r);
    // The VM may have put a console handler of its own before ours.
    os_put_stop_watch_first();
    run_start(r);
    notify("STOPPING=1\nSTATUS=Cleaning up: waiting for stop(), destroying the Java VM");
    release_application(r);
}

int run_console(const char* instance_name)
{
    run_failure refused = check_instance_name(instance_name);
    if (refused.failed()) {
        say_on_console("%s", refused.reason.c_str());
        return 1;
    }
    log_keep_early_lines();
    run& r = the_run();
    r.vm = host_vm();
    r.events = run_events{notify_ready, notify_stopping, nullptr, end_process_now};
    // Before any other thread exists: on POSIX the stop signals are blocked
    // for every thread created from here on.
    if (os_watch_stop_requests(stop_from_console) != 0)
        end_run_with(fail_format("Cannot watch for Ctrl+C: %lu", os_last_error()));
    log_echo_to_console(true);
    notify("STATUS=Preparing the instance");
    run_failure failure = prepare_run(r, instance_name);
    log_drop_kept_lines();
    if (failure.failed())
        end_run_with(failure);
    void* application = start_application_thread(r, run_application);
    wait_for_cleanup(r);
    os_join_thread(application);
    std::lock_guard<std::mutex> hold(r.lock);
    return application_exit_code(r.start_result);
}
