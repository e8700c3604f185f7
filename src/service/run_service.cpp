#include "service/service.h"

#include "instance/instance.h"
#include "log/log.h"
#include "platform/os_process.h"
#include "platform/os_scm.h"
#include "service/application.h"

#include <cstring>

// The service name is "ZR - " and the instance name; the first five
// characters are dropped whatever they are.
enum { SERVICE_NAME_PREFIX_LENGTH = 5 };

void run_service(const char* service_name)
{
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

    if (os_service_dispatch(service_name, service_main) != 0) {
        log_format("StartServiceCtrlDispatcher() failed: %lu", os_last_error());
        terminate(-1);
    }
    // The dispatcher returns once the stopped report is out, while the
    // service thread may still be destroying the VM and closing the log.
    wait_for_cleanup();
}
