#include "service/service.h"

#include "instance/instance.h"
#include "log/log.h"
#include "platform/os_process.h"
#include "platform/os_scm.h"

#include <cstring>

// The service name is "ZR - " and the instance name; the first five
// characters are dropped whatever they are.
enum { SERVICE_NAME_PREFIX_LENGTH = 5 };

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

void run_service(const char* service_name)
{
    if (service_name == nullptr || strlen(service_name) < SERVICE_NAME_PREFIX_LENGTH + 1) {
        log_line("Invalid service name");
        terminate(-1);
    }
    int result = build_paths(service_name + SERVICE_NAME_PREFIX_LENGTH);
    if (result != 0) {
        log_format("build_paths() failed: %d", result);
        terminate(-1);
    }
    log_format("JVM '%s'", g_path_assignment);
    log_format("JVM '%s'", g_class_path_option);
    apply_assignment(g_path_assignment);

    if (os_service_dispatch(service_name, service_main) != 0) {
        log_format("StartServiceCtrlDispatcher() failed: %d", static_cast<int>(os_last_error()));
        terminate(-1);
    }
    // The dispatcher returns once the stopped report is out, while the
    // service thread may still be destroying the VM and closing the log.
    wait_for_service_cleanup();
}
