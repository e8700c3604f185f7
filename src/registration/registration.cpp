#include "registration/registration.h"

#include "instance/instance.h"
#include "platform/os_errors.h"
#include "platform/os_paths.h"
#include "platform/os_process.h"
#include "platform/os_scm.h"
#include "text/bounded_text.h"

#include <cstdio>
#include <cstring>

// The SCM service name and display name: "ZR - " and the instance name.
static const char SERVICE_NAME_PREFIX[] = "ZR - ";
enum { INSTANCE_NAME_MOST = SERVICE_NAME_CAPACITY - 1 - (sizeof SERVICE_NAME_PREFIX - 1) };

// Quote, executable path, " -service ", service name, quote, terminator.
enum { COMMAND_LINE_CAPACITY = 1 + (PATH_CAPACITY - 2) + 12 + (SERVICE_NAME_CAPACITY - 1) + 1 + 1 };

// Returns 0, or -1 after saying that the name is longer than a service name
// may be: it names the service's registry key and its event source's, and
// the registry takes key names of at most 255 characters (the SCM alone
// would take 256).
static int compose_service_name(char* name, const char* instance_name)
{
    name[0] = '\0';
    if (append_pieces(name, SERVICE_NAME_CAPACITY, {SERVICE_NAME_PREFIX, instance_name}) == 0)
        return 0;
    printf("Invalid instance name '%s': longer than %d characters (a service name, '%s' and the instance name, "
           "names registry keys, of at most %d characters)\n",
           instance_name, static_cast<int>(INSTANCE_NAME_MOST), SERVICE_NAME_PREFIX, SERVICE_NAME_CAPACITY - 1);
    return -1;
}

// The SCM expands the registered command line like an environment string:
// "%OS%" would become "Windows_NT" and the service would run another
// instance, or another executable.
static const char EXPANDED[] = "which the Service Control Manager expands in the service's command line";

// Returns 0, or -1 after saying why the executable's path cannot be
// registered: unreadable, too long, not held by the code page, without a
// base folder above its own, or holding '%'.
static int compose_command_line(char* command_line, const char* service_name)
{
    command_line[0] = '"';
    char* path = command_line + 1;
    int length = os_module_path(path, PATH_CAPACITY - 1);
    if (length == OS_MODULE_PATH_TOO_LONG) {
        printf("Cannot install service: the executable's path is longer than %d characters\n", PATH_CAPACITY - 2);
        return -1;
    }
    if (length == OS_MODULE_PATH_INEXACT) {
        printf("Cannot install service: the executable's path '%s' holds characters that the ANSI code page %u "
               "cannot hold\n", path, os_text_code_page());
        return -1;
    }
    if (length == OS_MODULE_PATH_FAILED) {
        printf("Cannot install service (%lu)\n", os_last_error());
        return -1;
    }
    if (!has_base_folder(path)) {
        printf("Cannot install service: the executable '%s' %s\n", path, NO_BASE_FOLDER);
        return -1;
    }
    char base[PATH_CAPACITY];
    bounded_copy(base, sizeof base, path);
    cut_to_base_folder(base);
    run_failure split = refuse_separator_in("the base folder", base);
    if (split.failed()) {
        printf("Cannot install service: %s\n", split.reason.c_str());
        return -1;
    }
    if (strchr(path, '%') != nullptr) {
        printf("Cannot install service: the executable's path '%s' holds '%%', %s\n", path, EXPANDED);
        return -1;
    }
    strcat(command_line, "\" -service \"");
    strcat(command_line, service_name);
    strcat(command_line, "\"");
    return 0;
}

// The service's fatal conditions go to the Application event log under its
// own name, with this executable as the message file. A failure is said, and
// the service stays installed: it runs without the entries.
// Returns 0, or 1 after saying why the source could not be registered.
static int add_event_source(const char* service_name)
{
    char exe_path[PATH_CAPACITY];
    os_error error = os_module_path(exe_path, sizeof exe_path) > 0 ? os_event_source_add(service_name, exe_path)
                                                                    : os_failed("GetModuleFileNameW");
    if (error.ok())
        return 0;
    printf("Cannot register the event source: %s failed (%lu)\n", error.call, error.code);
    return 1;
}

int install_service(const char* instance_name)
{
    // Also keeps the name from breaking the quoting of the command line.
    run_failure refused = check_instance_name(instance_name);
    if (refused.failed()) {
        printf("%s\n", refused.reason.c_str());
        return 1;
    }
    if (strchr(instance_name, '%') != nullptr) {
        printf("Invalid instance name '%s': it holds '%%', %s\n", instance_name, EXPANDED);
        return 1;
    }
    char service_name[SERVICE_NAME_CAPACITY];
    if (compose_service_name(service_name, instance_name) != 0)
        return 1;
    printf("Installing service '%s' ...\n", service_name);

    char command_line[COMMAND_LINE_CAPACITY];
    if (compose_command_line(command_line, service_name) != 0)
        return 1;
    os_error error;
    void* scm = os_scm_open(&error);
    if (scm == nullptr) {
        printf("OpenSCManager failed (%lu)\n", error.code);
        return 1;
    }
    void* service = os_scm_create_service(scm, service_name, command_line, &error);
    int status = 0;
    if (service != nullptr) {
        printf("Service installed successfully.\n");
        os_scm_close(service);
        status = add_event_source(service_name);
    } else {
        printf("CreateService failed (%lu)\n", error.code);
        status = 1;
    }
    os_scm_close(scm);
    return status;
}

int uninstall_service(const char* instance_name)
{
    char service_name[SERVICE_NAME_CAPACITY];
    if (compose_service_name(service_name, instance_name) != 0)
        return 1;
    printf("Uninstalling service '%s' ...\n", service_name);

    os_error error;
    void* scm = os_scm_open(&error);
    if (scm == nullptr) {
        printf("OpenSCManager failed (%lu)\n", error.code);
        return 1;
    }
    void* service = os_scm_open_service_for_delete(scm, service_name, &error);
    if (service == nullptr) {
        printf("OpenService failed (%lu)\n", error.code);
        os_scm_close(scm);
        return 1;
    }
    int status = 0;
    error = os_scm_delete_service(service);
    if (error.ok()) {
        printf("Service uninstalled successfully.\n");
        if (os_event_source_remove(service_name, &error) == OS_SOURCE_FAILED) {
            printf("Cannot remove the event source: %s failed (%lu)\n", error.call, error.code);
            status = 1;
        }
    } else {
        printf("DeleteService failed (%lu)\n", error.code);
        status = 1;
    }
    os_scm_close(service);
    os_scm_close(scm);
    return status;
}
