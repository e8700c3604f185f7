#include "platform/os_scm.h"

#include <cerrno>

// There is no Service Control Manager here: every call fails with ENOSYS.

bool os_scm_available()
{
    return false;
}

// No handle, and the call that is not there.
static void* unavailable(const char* call, os_error* error)
{
    *error = os_error{call, ENOSYS};
    return nullptr;
}

void* os_scm_open(os_error* error)
{
    return unavailable("os_scm_open", error);
}

void* os_scm_create_service(void*, const char*, const char*, os_error* error)
{
    return unavailable("os_scm_create_service", error);
}

void* os_scm_open_service_for_delete(void*, const char*, os_error* error)
{
    return unavailable("os_scm_open_service_for_delete", error);
}

os_error os_scm_delete_service(void*)
{
    return os_error{"os_scm_delete_service", ENOSYS};
}

void os_scm_close(void*) {}

os_error os_service_dispatch(const char*, os_service_main_fn)
{
    return os_error{"os_service_dispatch", ENOSYS};
}

void* os_service_register_handler(const char*, os_control_handler_fn, os_error* error)
{
    return unavailable("os_service_register_handler", error);
}

os_error os_service_report(void*, const os_service_status*)
{
    return os_error{"os_service_report", ENOSYS};
}

os_error os_event_source_add(const char*, const char*)
{
    return os_error{"", ENOSYS};
}

os_source_removal os_event_source_remove(const char*, os_error* error)
{
    *error = os_error{"", ENOSYS};
    return OS_SOURCE_FAILED;
}

os_error os_event_log_error(const char*, const char*)
{
    return os_error{"os_event_log_error", ENOSYS};
}
