#include "service/service.h"

#include "instance/instance.h"
#include "log/log.h"
#include "platform/os_console.h"
#include "platform/os_errors.h"
#include "platform/os_scm.h"
#include "service/run.h"

#include <cstring>
#include <mutex>

// The service name is "ZR - " and the instance name; the first five
// characters are dropped whatever they are.
enum { SERVICE_NAME_PREFIX_LENGTH = 5 };

void end_service_with(const char* service_name, const run_failure& failure)
{
    log_fatal_to_event_log(service_name);
    end_run_with(failure);
}

void run_service(const char* service_name)
{
    log_keep_early_lines();
    log_fatal_to_event_log(service_name != nullptr ? service_name : "");
    // A user who logs off does not stop a service.
    if (os_ignore_logoff() != 0)
        log_format("SetConsoleCtrlHandler() failed: %lu", os_last_error());
    if (service_name == nullptr || strlen(service_name) < SERVICE_NAME_PREFIX_LENGTH + 1)
        end_run_with(fail("Invalid service name"));
    const char* instance_name = service_name + SERVICE_NAME_PREFIX_LENGTH;
    run_failure refused = check_instance_name(instance_name);
    if (refused.failed())
        end_run_with(refused);
    run& r = the_run();
    serve_run_events(r);
    run_failure failure = prepare_run(r, instance_name);
    // A service's standard streams lead nowhere: keep what the VM and the
    // application write there beside the log, and the lines said so far when
    // the log could not be opened, however the preparation ended.
    if (!failure.failed() || !r.plan.log_failure.empty())
        capture_std_streams(r.plan);
    log_drop_kept_lines();
    if (failure.failed())
        end_run_with(failure);

    // The instance is prepared first: a fatal condition found there ends the
    // run before the SCM sees it start, and -service run by hand from a
    // console says what is wrong with the instance before the dispatcher
    // refuses it.
    os_error error = os_service_dispatch(service_name, service_main);
    if (!error.ok())
        end_run_with(fail_format("StartServiceCtrlDispatcher() failed: %lu", error.code));
    // The dispatcher returns once the stopped report is out. When service_main
    // did not make it, the thread that did ends the process with its own exit
    // code: nothing here may end it first, with 0.
    std::unique_lock<std::mutex> hold(r.lock);
    r.changed.wait(hold, [&r] { return r.phase == run_phase::DONE; });
}
