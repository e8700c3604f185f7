#include "service/service.h"

#include "instance/instance.h"
#include "log/instance_log.h"
#include "log/log.h"
#include "platform/os_console.h"
#include "platform/os_process.h"
#include "platform/os_scm.h"
#include "service/application.h"

#include <chrono>
#include <cstring>
#include <thread>

// The service name is "ZR - " and the instance name; the first five
// characters are dropped whatever they are.
enum { SERVICE_NAME_PREFIX_LENGTH = 5 };

void run_service(const char* service_name)
{
    log_fatal_to_event_log(service_name != nullptr ? service_name : "");
    // A user who logs off does not stop a service.
    if (os_ignore_logoff() != 0)
        log_format("SetConsoleCtrlHandler() failed: %lu", os_last_error());
    if (service_name == nullptr || strlen(service_name) < SERVICE_NAME_PREFIX_LENGTH + 1) {
        log_line("Invalid service name");
        terminate(-1);
    }
    const char* instance_name = service_name + SERVICE_NAME_PREFIX_LENGTH;
    if (check_instance_name(instance_name) != 0)
        terminate(-1);
    prepare_instance(instance_name);
    // A service's standard streams lead nowhere: keep what the VM and the
    // application write there beside the log.
    capture_std_streams();

    // The instance is prepared first: a fatal condition found there ends the
    // run before the SCM sees it start, and -service run by hand from a
    // console says what is wrong with the instance before the dispatcher
    // refuses it.
    if (os_service_dispatch(service_name, service_main) != 0) {
        log_format("StartServiceCtrlDispatcher() failed: %lu", os_last_error());
        terminate(-1);
    }
    // The dispatcher returns once the stopped report is out. When service_main
    // did not make it, the thread that did ends the process with its own exit
    // code: nothing here may end it first, with 0.
    while (!service_main_ended_the_service())
        std::this_thread::sleep_for(std::chrono::hours(1));
}
