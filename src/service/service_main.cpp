#include "service/service.h"

#include "log/log.h"
#include "platform/os_console.h"
#include "platform/os_errors.h"
#include "platform/os_scm.h"
#include "platform/os_thread.h"
#include "service/run.h"

#include <chrono>
#include <mutex>
#include <thread>

// What the service tells the SCM. The status record is written by the
// service thread, by the control handler's stop request, by the ticker and
// by whichever thread ends the process early; every change and its report is
// one unit under lock. Never destroyed: the ticker may still run while the
// process exits.
struct service_room {
    std::mutex lock;
    os_service_status status = {};
    void* status_handle = nullptr; // set by service_main before any report
    bool report_failed = false;
    // The event source of a fatal condition's entry; set by run_service
    // before any other thread exists.
    const char* service_name = "";
};
static service_room& g_service = *new service_room();

// A pending state is reported again this often with its checkpoint one
// further, well within the wait hint: the SCM sees the start or the stop
// progress however long the VM's creation, stop() or the VM's destruction
// take.
enum { TICK_MILLISECONDS = 500, WAIT_HINT_MILLISECONDS = 5000 };

// The controls accepted while the application starts or runs: a stop, and
// the system's shutdown (preshutdown, which leaves the service the
// preshutdown time, or else the shutdown itself) stop it.
static const unsigned long STOP_CONTROLS = OS_ACCEPT_STOP | OS_ACCEPT_SHUTDOWN | OS_ACCEPT_PRESHUTDOWN;

static bool is_pending(unsigned long state)
{
    return state == OS_SERVICE_START_PENDING || state == OS_SERVICE_STOP_PENDING;
}

// Sends the status record, its lock held by the caller. Without a registered handler there is
// no SCM to tell.
static void send_status()
{
    if (g_service.status_handle == nullptr)
        return;
    os_error error = os_service_report(g_service.status_handle, &g_service.status);
    if (error.ok() || g_service.report_failed)
        return;
    g_service.report_failed = true;
    log_format("SetServiceStatus() failed: %lu", error.code);
}

// Reports the state, the controls accepted and, for STOPPED, the exit code
// (run.h): a failure of the application is a failure of the
// service, for the SCM's recovery actions to act on. A pending state carries
// a wait hint and a checkpoint, which a repeated report of it moves on. Once
// the service has been reported stopped nothing is reported any more: the
// process may be ended at any moment after that report.
static void report(unsigned long state, unsigned long controls_accepted, int exit_code)
{
    std::lock_guard<std::mutex> hold(g_service.lock);
    os_service_status& status = g_service.status;
    if (status.state == OS_SERVICE_STOPPED)
        return;
    status.check_point = !is_pending(state) ? 0 : state == status.state ? status.check_point + 1 : 1;
    status.wait_hint = is_pending(state) ? WAIT_HINT_MILLISECONDS : 0;
    status.state = state;
    status.controls_accepted = controls_accepted;
    status.service_exit_code = static_cast<unsigned long>(exit_code);
    status.win32_exit_code = exit_code != 0 ? OS_ERROR_SERVICE_SPECIFIC : 0;
    send_status();
}

// The ticker: moves a pending state's checkpoint on until the service stops.
static void keep_pending_states_moving()
{
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(TICK_MILLISECONDS));
        std::lock_guard<std::mutex> hold(g_service.lock);
        if (g_service.status.state == OS_SERVICE_STOPPED)
            return;
        if (is_pending(g_service.status.state)) {
            ++g_service.status.check_point;
            send_status();
        }
    }
}

static void report_running()
{
    report(OS_SERVICE_RUNNING, STOP_CONTROLS, 0);
}

static void report_stop_pending()
{
    report(OS_SERVICE_STOP_PENDING, 0, 0);
}

static void report_stopped(int exit_code)
{
    report(OS_SERVICE_STOPPED, 0, exit_code);
}

// The text of a fatal condition as one error entry of the service's event
// source, for a service's log may not exist, and its standard output leads
// nowhere.
static void tell_event_log(const char* reason)
{
    os_error error = os_event_log_error(g_service.service_name, reason);
    if (!error.ok())
        log_format("%s() failed: %lu", error.call, error.code);
}

void log_fatal_to_event_log(const char* service_name)
{
    g_service.service_name = service_name;
    log_tell_fatal_reason(tell_event_log);
}

// START_PENDING while the VM is created, RUNNING once start() is invoked,
// STOP_PENDING from the stop request or start()'s end through stop(), the VM's
// destruction and the log's close, and STOPPED as the very last act.
void service_main(int argc, char** argv)
{
    const char* name = argc > 0 ? argv[0] : "";
    os_error error;
    g_service.status_handle = os_service_register_handler(name, control_handler, &error);
    if (g_service.status_handle == nullptr)
        end_run_with(fail_format("RegisterServiceCtrlHandlerEx() failed: %lu", error.code));
    report(OS_SERVICE_START_PENDING, STOP_CONTROLS, 0);
    std::thread(keep_pending_states_moving).detach();

    run& r = the_run();
    os_join_thread(start_application_thread(r, serve_run));
}

void serve_run(run& r)
{
    create_vm(r);
    // The VM has put a console handler of its own before ours.
    if (os_ignore_logoff() != 0)
        log_format("SetConsoleCtrlHandler() failed: %lu", os_last_error());
    int exit_code = application_exit_code(run_start(r));
    report_stop_pending();
    // Gives up on a clean-up that does not end, so that the service does not
    // stay STOP_PENDING for ever.
    std::thread(wait_for_cleanup, std::ref(r)).detach();
    if (release_application(r))
        report_stopped(exit_code);
}

void serve_run_events(run& r)
{
    r.vm = host_vm();
    r.events = run_events{report_running, report_stop_pending, report_stopped, end_process_now};
}

// A late or repeated request changes nothing: the SCM keeps the status last
// reported. Returns true for the controls that stop the service.
bool control_handler(unsigned long control)
{
    if (control != OS_CONTROL_STOP && control != OS_CONTROL_SHUTDOWN && control != OS_CONTROL_PRESHUTDOWN)
        return false;
    request_stop(the_run());
    return true;
}
