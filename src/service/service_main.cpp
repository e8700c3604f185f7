#include "service/service.h"

#include "instance/instance.h"
#include "jvm/jvm_host.h"
#include "log/log.h"
#include "platform/os_process.h"
#include "platform/os_scm.h"
#include "service/application.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

// The status record is written by the service thread and by the control
// handler on the main thread; every change and its report is one unit.
static std::mutex g_status_lock;
static os_service_status g_status = {};
static void* g_status_handle = nullptr;

// Never destroyed: after a clean-up that did not finish in time the process
// exits while the service thread may still come to signal its end.
static std::mutex& g_cleanup_lock = *new std::mutex;
static std::condition_variable& g_cleanup_signal = *new std::condition_variable;
static bool g_cleanup_done = false;

static void report_status(unsigned long state, unsigned long controls_accepted)
{
    std::lock_guard<std::mutex> hold(g_status_lock);
    g_status.state = state;
    g_status.controls_accepted = controls_accepted;
    os_service_report(g_status_handle, &g_status);
}

static void report_stop_pending()
{
    report_status(OS_SERVICE_STOP_PENDING, 0);
}

static void report_current_status()
{
    std::lock_guard<std::mutex> hold(g_status_lock);
    os_service_report(g_status_handle, &g_status);
}

static void report_stopped(int start_result)
{
    std::lock_guard<std::mutex> hold(g_status_lock);
    g_status.state = OS_SERVICE_STOPPED;
    // A failure of the application is a failure of the service, for the
    // SCM's recovery actions to act on.
    g_status.service_exit_code = application_exit_code(start_result);
    g_status.win32_exit_code = g_status.service_exit_code != 0 ? OS_ERROR_SERVICE_SPECIFIC : 0;
    os_service_report(g_status_handle, &g_status);
}

static void signal_cleanup_done()
{
    std::lock_guard<std::mutex> hold(g_cleanup_lock);
    g_cleanup_done = true;
    g_cleanup_signal.notify_all();
}

void service_main(int argc, char** argv)
{
    const char* name = argc > 0 ? argv[0] : "";
    g_status_handle = os_service_register_handler(name, control_handler);
    if (g_status_handle == nullptr) {
        log_format("RegisterServiceCtrlHandler() failed: %d", static_cast<int>(os_last_error()));
        terminate(-1);
    }
    report_status(OS_SERVICE_RUNNING, 0);

    create_jvm_or_terminate();
    report_status(OS_SERVICE_RUNNING, OS_ACCEPT_STOP | OS_ACCEPT_SHUTDOWN);

    int start_result = run_start();
    // Before the stopped report, after which the SCM may start the next run.
    mark_instance_closing();
    report_stopped(start_result);
    release_all();
    signal_cleanup_done();
}

void control_handler(unsigned long control)
{
    if (control != OS_CONTROL_STOP && control != OS_CONTROL_SHUTDOWN)
        return;
    // A late or repeated request reports the status as it stands.
    if (request_stop(report_stop_pending) == 0)
        report_current_status();
}

int wait_for_service_cleanup()
{
    std::unique_lock<std::mutex> hold(g_cleanup_lock);
    if (g_cleanup_signal.wait_for(hold, std::chrono::seconds(30), [] { return g_cleanup_done; }))
        return 0;
    log_line("The service did not finish destroying the JVM and closing the log within 30 seconds");
    return -1;
}
