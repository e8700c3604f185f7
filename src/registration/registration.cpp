#include "registration/registration.h"

#include "instance/instance.h"
#include "platform/os_process.h"
#include "platform/os_scm.h"
#include "text/bounded_text.h"

#include <cstdio>
#include <cstring>

// The SCM service name and display name: "ZR - " and the instance name.
static const char SERVICE_NAME_PREFIX[] = "ZR - ";

// Quote, executable path, " -service ", service name, quote, terminator.
enum { COMMAND_LINE_CAPACITY = 1 + (PATH_CAPACITY - 2) + 12 + (SERVICE_NAME_CAPACITY - 1) + 1 + 1 };

// A name that does not fit leaves the buffer empty; the SCM then refuses the
// empty name and that refusal is what the user sees.
static void compose_service_name(char* name, const char* instance_name)
{
    name[0] = '\0';
    bounded_append(name, SERVICE_NAME_CAPACITY, SERVICE_NAME_PREFIX);
    bounded_append(name, SERVICE_NAME_CAPACITY, instance_name);
}

// Returns 0, -1 when the executable's path cannot be read (os_last_error), or
// -2 when it does not fit.
static int compose_command_line(char* command_line, const char* service_name)
{
    command_line[0] = '"';
    int length = os_module_path(command_line + 1, PATH_CAPACITY - 1);
    if (length < 0)
        return -2;
    if (length == 0)
        return -1;
    strcat(command_line, "\" -service \"");
    strcat(command_line, service_name);
    strcat(command_line, "\"");
    return 0;
}

// The service's fatal conditions go to the Application event log under its
// own name, with this executable as the message file. A failure is said, and
// the service stays installed: it runs without the entries.
static void add_event_source(const char* service_name)
{
    char exe_path[PATH_CAPACITY];
    const char* failed_call = "GetModuleFileNameA";
    if (os_module_path(exe_path, sizeof exe_path) <= 0 || os_event_source_add(service_name, exe_path, &failed_call) != 0)
        printf("Cannot register the event source: %s failed (%lu)\n", failed_call, os_last_error());
}

int install_service(const char* instance_name)
{
    // Also keeps the name from breaking the quoting of the command line.
    if (check_instance_name(instance_name) != 0)
        return 1;
    char service_name[SERVICE_NAME_CAPACITY];
    compose_service_name(service_name, instance_name);
    printf("Installing service '%s' ...\n", service_name);

    char command_line[COMMAND_LINE_CAPACITY];
    int composed = compose_command_line(command_line, service_name);
    if (composed == -2) {
        printf("Cannot install service: the executable's path is longer than %d characters\n", PATH_CAPACITY - 2);
        return 0;
    }
    if (composed != 0) {
        printf("Cannot install service (%lu)\n", os_last_error());
        return 0;
    }
    void* scm = os_scm_open();
    if (scm == nullptr) {
        printf("OpenSCManager failed (%lu)\n", os_last_error());
        return 0;
    }
    void* service = os_scm_create_service(scm, service_name, command_line);
    if (service != nullptr) {
        printf("Service installed successfully.\n");
        os_scm_close(service);
        add_event_source(service_name);
    } else {
        printf("CreateService failed (%lu)\n", os_last_error());
    }
    os_scm_close(scm);
    return 0;
}

void uninstall_service(const char* instance_name)
{
    char service_name[SERVICE_NAME_CAPACITY];
    compose_service_name(service_name, instance_name);
    printf("Uninstalling service '%s' ...\n", service_name);

    void* scm = os_scm_open();
    if (scm == nullptr) {
        printf("OpenSCManager failed (%lu)\n", os_last_error());
        return;
    }
    void* service = os_scm_open_service_for_delete(scm, service_name);
    if (service == nullptr) {
        printf("OpenService failed (%lu)\n", os_last_error());
        os_scm_close(scm);
        return;
    }
    if (os_scm_delete_service(service) == 0) {
        printf("Service uninstalled successfully.\n");
        const char* failed_call = "";
        if (os_event_source_remove(service_name, &failed_call) < 0)
            printf("Cannot remove the event source: %s failed (%lu)\n", failed_call, os_last_error());
    } else {
        printf("DeleteService failed (%lu)\n", os_last_error());
    }
    os_scm_close(service);
    os_scm_close(scm);
}
