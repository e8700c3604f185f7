#include "service/service.h"

#include "instance/instance.h"
#include "jvm/jvm_host.h"
#include "log/log.h"
#include "platform/os_process.h"
#include "platform/os_scm.h"
#include "service/application.h"

#include <mutex>

// The status record is written by the service thread, by the control
// handler on the main thread and by whichever thread ends the process early;
// every change and its report is one unit. Once the service has been
// reported stopped nothing is reported any more.
static std::mutex g_status_lock;
static os_service_status g_status = {};
static void* g_status_handle = nullptr;

static void report_status(unsigned long state, unsigned long controls_accepted)
{
    std::lock_guard<std::mutex> hold(g_status_lock);
    if (g_status.state == OS_SERVICE_STOPPED)
        return;
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
    if (g_status.state != OS_SERVICE_STOPPED)
        os_service_report(g_status_handle, &g_status);
}

// Reports the service stopped, accepting no control, with the application's
// exit code (application.h): a failure of the application is a failure of
// the service, for the SCM's recovery actions to act on.
static void report_stopped(int exit_code)
{
    std::lock_guard<std::mutex> hold(g_status_lock);
    if (g_status.state == OS_SERVICE_STOPPED)
        return;
    g_status.state = OS_SERVICE_STOPPED;
    g_status.controls_accepted = 0;
    g_status.service_exit_code = static_cast<unsigned long>(exit_code);
    g_status.win32_exit_code = exit_code != 0 ? OS_ERROR_SERVICE_SPECIFIC : 0;
    os_service_report(g_status_handle, &g_status);
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

    on_application_end(report_stopped);
    create_jvm_or_terminate();
    report_status(OS_SERVICE_RUNNING, OS_ACCEPT_STOP | OS_ACCEPT_SHUTDOWN);

    report_stopped(application_exit_code(run_start()));
    release_application();
}

void control_handler(unsigned long control)
{
    if (control != OS_CONTROL_STOP && control != OS_CONTROL_SHUTDOWN)
        return;
    // A late or repeated request reports the status as it stands, unless
    // the service has been reported stopped.
    if (request_stop(report_stop_pending) != STOP_REQUEST_TAKEN)
        report_current_status();
}
