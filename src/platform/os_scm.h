// The Service Control Manager: registering services and running as one.
// Declared once here; the POSIX side has no SCM, and every call there fails.
#pragma once
#include "platform/os_errors.h"

// True where an SCM exists.
bool os_scm_available();

// Registration. Handles are opaque; null means failure, and *error names
// the call that failed and its code.
void* os_scm_open(os_error* error);
void* os_scm_create_service(void* scm, const char* name, const char* command_line, os_error* error);
void* os_scm_open_service_for_delete(void* scm, const char* name, os_error* error);
// Returns no error, or the call that failed and its code.
os_error os_scm_delete_service(void* service);
void os_scm_close(void* handle);

// Running as a service.
typedef void (*os_service_main_fn)(int argc, char** argv);
// Returns true when the service handles the control.
typedef bool (*os_control_handler_fn)(unsigned long control);

enum {
    OS_SERVICE_STOPPED = 1,
    OS_SERVICE_START_PENDING = 2,
    OS_SERVICE_STOP_PENDING = 3,
    OS_SERVICE_RUNNING = 4,
    OS_ACCEPT_STOP = 1,
    OS_ACCEPT_SHUTDOWN = 4,
    OS_ACCEPT_PRESHUTDOWN = 0x100,
    OS_CONTROL_STOP = 1,
    OS_CONTROL_SHUTDOWN = 5,
    OS_CONTROL_PRESHUTDOWN = 0xF,
    OS_ERROR_SERVICE_SPECIFIC = 1066,
};

struct os_service_status {
    unsigned long state;
    unsigned long controls_accepted;
    unsigned long win32_exit_code;
    unsigned long service_exit_code;
    unsigned long check_point;
    unsigned long wait_hint; // milliseconds
};

// Hands the calling thread to the SCM dispatcher for the one service of the
// process; returns once the service has stopped. Returns no error, or the
// call that failed and its code.
os_error os_service_dispatch(const char* name, os_service_main_fn service_main);

// Registers the control handler of the running service, which is given
// every control the service accepts, the preshutdown control included, and
// every other the SCM delivers (a user-defined one); the SCM is told of a
// control it does not handle, and never of the interrogation, which asks for
// the status the SCM already holds.
// Null on failure, with *error naming the call that failed and its code.
void* os_service_register_handler(const char* name, os_control_handler_fn handler, os_error* error);

// Reports the service's status (own-process type). Returns no error, or the
// call that failed and its code.
os_error os_service_report(void* status_handle, const os_service_status* status);

// The service's entry in the Application event log: an event source named
// as the service, whose message file is the executable at exe_path (it holds
// one message, "%1", so that an entry shows its text alone). Returns no
// error, or the call that failed and its code.
os_error os_event_source_add(const char* name, const char* exe_path);

// What os_event_source_remove did.
enum os_source_removal {
    OS_SOURCE_REMOVED,
    OS_SOURCE_NONE,   // there was none
    OS_SOURCE_FAILED, // the os_error tells why
};

// Removes the event source. Returns one of the OS_SOURCE_ values; with
// OS_SOURCE_FAILED, *error names the call that failed and its code.
os_source_removal os_event_source_remove(const char* name, os_error* error);

// Writes text as one error entry of the event source name. Returns no error,
// or the call that failed and its code.
os_error os_event_log_error(const char* name, const char* text);
