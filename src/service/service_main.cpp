#include "service/service.h"

#include "log/log.h"
#include "platform/os_process.h"
#include "platform/os_scm.h"
#include "service/application.h"

#include <mutex>

// The status record is written by the service thread, by the control
// handler's stop request and by whichever thread ends the process early;
// every change and its report is one unit.
static std::mutex g_status_lock;
static os_service_status g_status = {};
static void* g_status_handle = nullptr;

// Reports the state, the controls accepted and, for STOPPED, the exit code
// (application.h): a failure of the application is a failure of the
// service, for the SCM's recovery actions to act on. Once the service has
// been reported stopped nothing is reported any more: the process may be
// ended at any moment after that report.
static void report(unsigned long state, unsigned long controls_accepted, int exit_code)
{
    std::lock_guard<std::mutex> hold(g_status_lock);
    if (g_status.state == OS_SERVICE_STOPPED)
        return;
    g_status.state = state;
    g_status.controls_accepted = controls_accepted;
    g_status.service_exit_code = static_cast<unsigned long>(exit_code);
    g_status.win32_exit_code = exit_code != 0 ? OS_ERROR_SERVICE_SPECIFIC : 0;
    os_service_report(g_status_handle, &g_status);
}

static void report_stop_pending()
{
    report(OS_SERVICE_STOP_PENDING, 0, 0);
}

static void report_stopped(int exit_code)
{
    report(OS_SERVICE_STOPPED, 0, exit_code);
}

void service_main(int argc, char** argv)
{
    const char* name = argc > 0 ? argv[0] : "";
    g_status_handle = os_service_register_handler(name, control_handler);
    if (g_status_handle == nullptr) {
        log_format("RegisterServiceCtrlHandler() failed: %lu", os_last_error());
        terminate(-1);
    }
    report(OS_SERVICE_RUNNING, 0, 0);

    on_application_end(report_stopped);
    create_jvm_or_terminate();
    report(OS_SERVICE_RUNNING, OS_ACCEPT_STOP | OS_ACCEPT_SHUTDOWN, 0);

    report_stopped(application_exit_code(run_start()));
    release_application();
}

// A late or repeated request changes nothing: the SCM keeps the status last
// reported.
void control_handler(unsigned long control)
{
    if (control == OS_CONTROL_STOP || control == OS_CONTROL_SHUTDOWN)
        request_stop(report_stop_pending);
}
